// What the vectorscope reads under the pointer: the pair a plot pixel stands for at any
// zoom, the hue at the axes and across the wrap at 0 degrees, and the saturation against
// the 75 % bars held against an independent answer, each colour's spread of levels.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "vectorscope/Graticule.h"
#include "vectorscope/Reading.h"

namespace {

using korvex::LumaStandard;
using vistrel::TargetShare;
using vistrel::VectorReadingAt;

// A colour's pair lands on the outline through the bars scaled by its spread: the pair of
// (r, g, b) is that of (r - min, g - min, b - min), and all of them with a spread of 191
// lie on the straight edges between the 75 % bars. So the share of an unrounded pair is
// exactly spread / 191, and of the rounded pair the pointer finds within half a level's
// rounding of each coordinate.
TEST(VectorscopeReading, SaturationIsTheColoursSpreadOverTheBarsUnderEitherStandard) {
    constexpr double kLevelsOfRounding = 2.5;
    for (const LumaStandard standard : {LumaStandard::Rec601, LumaStandard::Rec709}) {
        for (unsigned r = 0; r < 256; r += 15)
            for (unsigned g = 0; g < 256; g += 15)
                for (unsigned b = 0; b < 256; b += 5) {
                    const korvex::Pixel colour = (r << 16) | (g << 8) | b;
                    const double spread = std::max({r, g, b}) - std::min({r, g, b});
                    const korvex::ExactPair exact = korvex::UnroundedPairOf(colour, standard);
                    ASSERT_NEAR(TargetShare(exact.u, exact.v, standard) * 191.0, spread, 1e-9)
                        << r << "," << g << "," << b << (standard == LumaStandard::Rec709 ? " 709" : " 601");
                    const korvex::UvPair pair = korvex::PairOf(colour, standard);
                    ASSERT_NEAR(TargetShare(pair.u, pair.v, standard) * 191.0, spread, kLevelsOfRounding)
                        << r << "," << g << "," << b << (standard == LumaStandard::Rec709 ? " 709" : " 601");
                }
        // Pointed at the centre of each target, drawn where its bar's rounded pair lands (the
        // Rec. 601 boxes as designed, up to a pixel from it), the reading is the bar's.
        for (const vistrel::TargetBox& box : vistrel::TargetBoxesFor(standard)) {
            const auto reading = VectorReadingAt(box.left + 5, box.top + 5, 1.0f, standard);
            ASSERT_TRUE(reading.has_value());
            EXPECT_NEAR(reading->saturation, 1.0, 0.02) << box.left << "," << box.top;
        }
    }
}

TEST(VectorscopeReading, PairAndHueFromThePlotPositionAtTheCentreAxesEdgesAndAnyZoom) {
    const auto at = [](int x, int y, float zoom = 1.0f) { return VectorReadingAt(x, y, zoom, LumaStandard::Rec601); };
    // The centre: the pair a colourless pixel lands on, no hue, no saturation.
    ASSERT_TRUE(at(128, 127).has_value());
    EXPECT_EQ(at(128, 127)->u, 0);
    EXPECT_EQ(at(128, 127)->v, 0);
    EXPECT_FALSE(at(128, 127)->hueDegrees.has_value());
    EXPECT_EQ(vistrel::VectorReadingText(*at(128, 127)), "U 0, V 0, no hue");
    // The axes, counter-clockwise from +U, and the corners of the plot.
    struct Row {
        int x, y;
        float zoom;
        double u, v, hue;
    };
    const Row rows[] = {
        {255, 127, 1.0f, 127, 0, 0},     {128, 0, 1.0f, 0, 127, 90},       {0, 127, 1.0f, -128, 0, 180},
        {128, 255, 1.0f, 0, -128, 270},  {0, 0, 1.0f, -128, 127, 135.22}, {255, 255, 1.0f, 127, -128, 314.78},
        {192, 63, 2.0f, 32, 32, 45},     {130, 129, 0.25f, 8, -8, 315},
    };
    for (const Row& row : rows) {
        const auto reading = at(row.x, row.y, row.zoom);
        ASSERT_TRUE(reading.has_value()) << row.x << "," << row.y;
        EXPECT_DOUBLE_EQ(reading->u, row.u) << row.x << "," << row.y;
        EXPECT_DOUBLE_EQ(reading->v, row.v) << row.x << "," << row.y;
        EXPECT_NEAR(*reading->hueDegrees, row.hue, 0.01) << row.x << "," << row.y;
    }
    for (const auto& [x, y] : {std::pair{-1, 0}, {256, 0}, {0, -1}, {0, 256}})
        EXPECT_FALSE(at(x, y).has_value()) << x << "," << y;
    // Just under the +U axis the hue is 359.x; it never prints as 360.
    EXPECT_NEAR(*at(200, 128)->hueDegrees, 359.2, 0.01);
    // The red bar's target, where a 75 % red lands.
    EXPECT_EQ(vistrel::VectorReadingText(*at(100, 10)), "U -28, V 117, hue 103\u00B0, sat 100 %");
    // Beyond blue's target along +U, 127 against the edge from blue to magenta 78.7 out there;
    // 359.5 degrees prints as 0, never as 360.
    EXPECT_EQ(vistrel::VectorReadingText(*at(255, 128)), "U 127, V -1, hue 0\u00B0, sat 161 %");
}

}  // namespace
