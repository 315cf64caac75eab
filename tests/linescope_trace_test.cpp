// The single-line trace points: sample positions with halves to even,
// clamping of the probe, orientation and the parade's four arrays.

#include <gtest/gtest.h>

#include <vector>

#include "linescope/LineTrace.h"
#include "support.h"

namespace {

using korvex::Pixel;
using korvex::PixelGrid;
using testing_support::Bgra;
using testing_support::MakeGrid;
using namespace vistrel::linescope;

TraceSettings Trace(Channel channel, Orientation orientation) {
    TraceSettings s;
    s.channel = channel;
    s.orientation = orientation;
    s.columns = DisplayColumns(channel, 420);
    return s;
}

// A picture whose red byte is its column and green byte its row (both mod 256).
PixelGrid Coordinates(std::size_t w, std::size_t h) {
    return MakeGrid(w, h, [](std::size_t x, std::size_t y) {
        return Bgra(0, static_cast<unsigned>(y & 0xFF), static_cast<unsigned>(x & 0xFF));
    });
}

std::vector<int> Levels(const std::vector<korvex::Point>& points) {
    std::vector<int> levels;
    for (const auto& p : points) levels.push_back(255 - p.y);
    return levels;
}

TEST(LinescopeTracePositions, HalfStepRoundsHalvesToEven) {
    const auto positions = TracePositions(206, 412);
    ASSERT_EQ(positions.size(), 412u);
    const std::vector<std::size_t> first(positions.begin(), positions.begin() + 9);
    EXPECT_EQ(first, (std::vector<std::size_t>{0, 0, 1, 2, 2, 2, 3, 4, 4}));
    EXPECT_EQ(positions.back(), 206u - 1) << "411 x 0.5 = 205.5 rounds to 206 and is clamped";
}

TEST(LinescopeTracePositions, DoubleStepReadsEverySecondPixel) {
    const auto positions = TracePositions(824, 412);
    for (std::size_t k = 0; k < positions.size(); ++k) ASSERT_EQ(positions[k], 2 * k);
}

TEST(LinescopeTracePositions, DegenerateExtentsGiveNothing) {
    EXPECT_TRUE(TracePositions(0, 412).empty());
    EXPECT_TRUE(TracePositions(10, 0).empty());
    EXPECT_EQ(TracePositions(1, 4), (std::vector<std::size_t>{0, 0, 0, 0}));
}

TEST(LinescopeTracePoints, HorizontalTraceFollowsTheProbedRow) {
    const auto pic = Coordinates(206, 50);
    const auto arrays = TracePoints(pic, 3, 17, Trace(Channel::Red, Orientation::Horizontal));
    ASSERT_EQ(arrays.size(), 1u);
    ASSERT_EQ(arrays[0].size(), 412u);
    for (std::size_t k = 0; k < 412; ++k) ASSERT_EQ(arrays[0][k].x, static_cast<int>(k));
    const auto levels = Levels(arrays[0]);
    EXPECT_EQ(std::vector<int>(levels.begin(), levels.begin() + 9), (std::vector<int>{0, 0, 1, 2, 2, 2, 3, 4, 4}));
    const auto rows = Levels(TracePoints(pic, 3, 17, Trace(Channel::Green, Orientation::Horizontal))[0]);
    for (int level : rows) ASSERT_EQ(level, 17);
}

TEST(LinescopeTracePoints, VerticalTraceCoversEveryRowWhateverTheWidth) {
    const auto pic = Coordinates(3000, 824);
    const auto arrays = TracePoints(pic, 1234, 0, Trace(Channel::Red, Orientation::Vertical));
    ASSERT_EQ(arrays.size(), 1u);
    for (int level : Levels(arrays[0])) ASSERT_EQ(level, 1234 & 0xFF) << "the probed column";
    const auto rows = Levels(TracePoints(pic, 1234, 0, Trace(Channel::Green, Orientation::Vertical))[0]);
    for (std::size_t k = 0; k < rows.size(); ++k) ASSERT_EQ(rows[k], static_cast<int>((2 * k) & 0xFF)) << k;
}

TEST(LinescopeTracePoints, ProbeOutsideThePictureTracesTheNearestEdge) {
    const auto pic = Coordinates(40, 30);
    const auto green = Trace(Channel::Green, Orientation::Horizontal);
    EXPECT_EQ(Levels(TracePoints(pic, 0, -5, green)[0])[0], 0);
    EXPECT_EQ(Levels(TracePoints(pic, 0, 1000, green)[0])[0], 29);
    const auto red = Trace(Channel::Red, Orientation::Vertical);
    EXPECT_EQ(Levels(TracePoints(pic, -1, 0, red)[0])[5], 0);
    EXPECT_EQ(Levels(TracePoints(pic, 40, 0, red)[0])[5], 39);
}

TEST(LinescopeTracePoints, ParadeGivesFourArraysOfTheSameLine) {
    const auto pic = MakeGrid(100, 10, [](std::size_t x, std::size_t y) {
        return Bgra(static_cast<unsigned>(x + 100), static_cast<unsigned>(x + 50), static_cast<unsigned>(x),
                    static_cast<unsigned>(y * 20));
    });
    const auto arrays = TracePoints(pic, 0, 4, Trace(Channel::Parade, Orientation::Horizontal));
    ASSERT_EQ(arrays.size(), 4u);
    for (std::size_t k = 0; k < 100; ++k) {
        ASSERT_EQ(arrays[0][k].y, 255 - static_cast<int>(k));
        ASSERT_EQ(arrays[1][k].y, 255 - static_cast<int>(k + 50));
        ASSERT_EQ(arrays[2][k].y, 255 - static_cast<int>(k + 100));
        ASSERT_EQ(arrays[3][k].y, 255 - 80);
        for (const auto& a : arrays) ASSERT_EQ(a[k].x, static_cast<int>(k));
    }
}

TEST(LinescopeTracePoints, EmptyPictureGivesNoTrace) {
    EXPECT_TRUE(TracePoints(PixelGrid{}, 0, 0, Trace(Channel::Red, Orientation::Horizontal)).empty());
}

}  // namespace
