// What the line scope reads under the pointer, held against what it draws: for every
// column of every box, the lit row of a picture whose levels are their own positions reads
// back that level and that position; and nothing in the margins and the gaps between boxes.

#include <gtest/gtest.h>

#include "linescope/LineTrace.h"
#include "linescope/Reading.h"
#include "linescope/Waveform.h"
#include "support.h"

namespace {

using korvex::PixelGrid;
using testing_support::Bgra;
using testing_support::MakeGrid;
using namespace vistrel::linescope;

constexpr int kClientWidth = 420;

// Red and luma are the column, green the row, blue the sum: every channel's level says
// where it was read (the picture is at most 256 wide and high).
PixelGrid Positions(std::size_t w, std::size_t h) {
    return MakeGrid(w, h, [](std::size_t x, std::size_t y) {
        return Bgra(static_cast<unsigned>((x + y) & 0xFF), static_cast<unsigned>(y), static_cast<unsigned>(x),
                    static_cast<unsigned>(x));
    });
}

// The picture's level at a position along the axis the raster follows, in a channel
// that does not change across the other axis there.
int LevelAt(Channel channel, std::size_t position) {
    switch (channel) {
        case Channel::Red:
        case Channel::Green:
        case Channel::Luma: return static_cast<int>(position);
        case Channel::Blue:
        case Channel::Parade: break;
    }
    return -1;
}

TEST(LinescopeReading, EveryColumnsLitRowReadsTheLevelAndPositionItShows) {
    const PixelGrid picture = Positions(250, 180);
    struct Case {
        Channel channel;
        Orientation orientation;
        bool trace;
    };
    // Red and luma vary across the picture, green down it: each is read along its own axis.
    const Case cases[] = {
        {Channel::Red, Orientation::Horizontal, false},   {Channel::Green, Orientation::Vertical, false},
        {Channel::Luma, Orientation::Horizontal, false},  {Channel::Parade, Orientation::Horizontal, false},
        {Channel::Parade, Orientation::Vertical, false},  {Channel::Red, Orientation::Horizontal, true},
        {Channel::Green, Orientation::Vertical, true},    {Channel::Parade, Orientation::Horizontal, true},
        {Channel::Parade, Orientation::Vertical, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "channel " << static_cast<int>(c.channel) << (c.trace ? " trace" : " waveform")
                                        << (c.orientation == Orientation::Vertical ? " vertical" : " horizontal"));
        const int columns = DisplayColumns(c.channel, kClientWidth);
        // The lit row of each box's column k: from the raster's hits, or the trace's points.
        std::vector<std::vector<int>> litRows;
        if (c.trace) {
            TraceSettings settings{c.channel, c.orientation, columns};
            for (const auto& points : TracePoints(picture, 100, 60, settings)) {
                litRows.emplace_back();
                for (const korvex::Point& p : points) litRows.back().push_back(p.y);
            }
        } else {
            WaveformSettings settings;
            settings.channel = c.channel;
            settings.orientation = c.orientation;
            settings.columns = columns;
            for (const auto& raster : BuildWaveform(picture, settings).rasters) {
                litRows.emplace_back(static_cast<std::size_t>(columns), -1);
                for (int row = 0; row < kScopeRows; ++row)
                    for (int k = 0; k < columns; ++k)
                        if (raster[static_cast<std::size_t>(row * columns + k)] != 0) litRows.back()[k] = row;
            }
        }
        const ScopeLayout layout{c.channel, c.orientation, c.trace, kClientWidth, picture.width(), picture.height()};
        for (std::size_t box = 0; box < litRows.size(); ++box) {
            const Channel shown = IsParade(c.channel) ? kParadeOrder[box] : c.channel;
            const bool alongItsAxis = (shown == Channel::Green) == (c.orientation == Orientation::Vertical);
            for (int k = 0; k < columns; ++k) {
                const int row = litRows[box][static_cast<std::size_t>(k)];
                if (row < 0) continue;  // the waveform's last column holds no sample
                const int x = kBoxLeft + static_cast<int>(box) * kBoxPitch + k;
                const auto reading = ReadingAt(layout, x, kBoxTop + row);
                ASSERT_TRUE(reading.has_value()) << "column " << k;
                EXPECT_EQ(reading->channel, shown);
                EXPECT_EQ(reading->level, 255 - row);
                ASSERT_TRUE(reading->position.has_value());
                EXPECT_EQ(reading->orientation, c.orientation);
                if (alongItsAxis && shown != Channel::Blue) {
                    ASSERT_EQ(LevelAt(shown, *reading->position), reading->level) << "column " << k;
                }
            }
        }
    }
}

TEST(LinescopeReading, NothingOutsideTheBoxesAndTheEdgesReadTheirEnds) {
    const ScopeLayout parade{Channel::Parade, Orientation::Horizontal, false, kClientWidth, 1000, 500};
    struct Row {
        int x, y;
        std::optional<Channel> channel;
        int level = 0;
    };
    const Row rows[] = {
        {3, 100, std::nullopt},          {4, 3, std::nullopt},     {4, 260, std::nullopt},
        {4, 4, Channel::Red, 255},       {103, 259, Channel::Red, 0},
        {104, 100, std::nullopt},        {107, 100, std::nullopt}, {108, 100, Channel::Green, 159},
        {315, 100, std::nullopt},        {316, 100, Channel::Luma, 159},
        {415, 100, Channel::Luma, 159},  {416, 100, std::nullopt}, {-1, 100, std::nullopt},
    };
    for (const Row& row : rows) {
        const auto reading = ReadingAt(parade, row.x, row.y);
        ASSERT_EQ(reading.has_value(), row.channel.has_value()) << row.x << "," << row.y;
        if (!reading) continue;
        EXPECT_EQ(reading->channel, *row.channel) << row.x << "," << row.y;
        EXPECT_EQ(reading->level, row.level) << row.x << "," << row.y;
    }
    // The first column shows the tenth picture column, the last none and reads the last.
    EXPECT_EQ(ReadingAt(parade, 4, 100)->position, 10u);
    EXPECT_EQ(ReadingAt(parade, 103, 100)->position, 999u);
    // One channel: a single box across, its columns 4 to 415.
    ScopeLayout single = parade;
    single.channel = Channel::Blue;
    EXPECT_EQ(ReadingAt(single, 415, 4)->channel, Channel::Blue);
    EXPECT_EQ(ReadingAt(single, 210, 4)->channel, Channel::Blue) << "where the parade has a gap";
    EXPECT_FALSE(ReadingAt(single, 416, 4).has_value());
    // Without a picture: the level, and no position.
    single.pictureWidth = single.pictureHeight = 0;
    EXPECT_EQ(ReadingAt(single, 10, 4)->position, std::nullopt);

    EXPECT_EQ(ReadingText({Channel::Red, 200, Orientation::Horizontal, 1234}), "R level 200 / 78 %, x 1234");
    EXPECT_EQ(ReadingText({Channel::Luma, 255, Orientation::Vertical, 0}), "Y level 255 / 100 %, y 0");
    EXPECT_EQ(ReadingText({Channel::Green, 0, Orientation::Vertical, std::nullopt}), "G level 0 / 0 %");
    for (const auto& [level, percent] : {std::pair{1, 0}, {2, 1}, {127, 50}, {128, 50}, {253, 99}, {254, 100}})
        EXPECT_EQ(LevelPercent(level), percent) << level;
}

}  // namespace
