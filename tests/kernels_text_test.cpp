#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "kernels/korvex.h"

namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(KernelsScalar, ClampValueLimitsToTheRange) {
    EXPECT_EQ(korvex::ClampValue(1, 0, 10), 1);
    EXPECT_EQ(korvex::ClampValue(1, 1, 10), 1);
    EXPECT_EQ(korvex::ClampValue(1, 7, 10), 7);
    EXPECT_EQ(korvex::ClampValue(1, 10, 10), 10);
    EXPECT_EQ(korvex::ClampValue(1, 11, 10), 10);
    EXPECT_EQ(korvex::ClampValue(0, -5, 255), 0);
    EXPECT_EQ(korvex::ClampValue(0, kMax, 255), 255);
    EXPECT_EQ(korvex::ClampValue(0, kMin, 255), 0);
    EXPECT_EQ(korvex::ClampValue(kMin, kMin, kMax), kMin);
    // A reversed range: the low test comes first.
    EXPECT_EQ(korvex::ClampValue(10, 5, 1), 10);
    EXPECT_EQ(korvex::ClampValue(10, 50, 1), 1);
}

TEST(KernelsScalar, CombineValuesGivesTheSmaller) {
    EXPECT_EQ(korvex::CombineValues(20, 10), 10);
    EXPECT_EQ(korvex::CombineValues(3, 10), 3);
    EXPECT_EQ(korvex::CombineValues(0, 10), 0);
    EXPECT_EQ(korvex::CombineValues(-4, -9), -9);
    EXPECT_EQ(korvex::CombineValues(kMin, kMax), kMin);
    // As the crosshair step uses it: picture height / 100, at most 10, at least 1.
    EXPECT_EQ(korvex::ClampValue(1, korvex::CombineValues(2000 / 100, 10), 10), 10);
    EXPECT_EQ(korvex::ClampValue(1, korvex::CombineValues(80 / 100, 10), 10), 1);
    EXPECT_EQ(korvex::ClampValue(1, korvex::CombineValues(480 / 100, 10), 10), 4);
}

TEST(KernelsText, StripNullsRemovesEveryNul) {
    std::string buffer(300, '\0');
    buffer.replace(0, 14, "/tmp/a b/c.jpg");
    EXPECT_EQ(korvex::StripNulls(buffer), "/tmp/a b/c.jpg");
    EXPECT_EQ(korvex::StripNulls(std::string("a\0b\0\0c", 6)), "abc");
    EXPECT_EQ(korvex::StripNulls(std::string(5, '\0')), "");
    EXPECT_EQ(korvex::StripNulls(""), "");
}

TEST(KernelsText, TrimSpacesTrimsSpacesOnly) {
    EXPECT_EQ(korvex::TrimSpaces("  /tmp/x y.jpg   "), "/tmp/x y.jpg");
    EXPECT_EQ(korvex::TrimSpaces("plain"), "plain");
    EXPECT_EQ(korvex::TrimSpaces("     "), "");
    EXPECT_EQ(korvex::TrimSpaces(""), "");
    EXPECT_EQ(korvex::TrimSpaces(" a "), "a");
    EXPECT_EQ(korvex::TrimSpaces("\tname\t"), "\tname\t");
    // The open dialog's buffer: the path, then NULs.
    std::string buffer(300, '\0');
    buffer.replace(0, 9, " x/30.jpg");
    EXPECT_EQ(korvex::TrimSpaces(korvex::StripNulls(buffer)), "x/30.jpg");
}

TEST(KernelsText, EnsureBackslashEndsInExactlyOneSlash) {
    EXPECT_EQ(korvex::EnsureBackslash("/opt/vistrel"), "/opt/vistrel/");
    EXPECT_EQ(korvex::EnsureBackslash("/opt/vistrel/"), "/opt/vistrel/");
    EXPECT_EQ(korvex::EnsureBackslash("/opt/vistrel///"), "/opt/vistrel/");
    EXPECT_EQ(korvex::EnsureBackslash("/"), "/");
    EXPECT_EQ(korvex::EnsureBackslash("///"), "/");
    EXPECT_EQ(korvex::EnsureBackslash("relative"), "relative/");
    EXPECT_EQ(korvex::EnsureBackslash(""), "");
    // A backslash is part of the name on Linux, not a separator.
    EXPECT_EQ(korvex::EnsureBackslash("/opt/odd\\"), "/opt/odd\\/");
    EXPECT_EQ(korvex::EnsureBackslash("/opt/vistrel") + "30861.jpg", "/opt/vistrel/30861.jpg");
}

TEST(KernelsScalar, ColourOrdersSwapRedAndBlueAndClearTheTopByte) {
    EXPECT_EQ(korvex::PixelToColor(0x00112233u), 0x00332211u);
    EXPECT_EQ(korvex::PixelToColor(0xFF112233u), 0x00332211u);
    EXPECT_EQ(korvex::PixelToColor(0x00FF0000u), 0x000000FFu);  // pure red: red in the low byte
    EXPECT_EQ(korvex::ColorToPixel(0x000000FFu), 0x00FF0000u);
    EXPECT_EQ(korvex::ColorToPixel(0x00003F3Fu), 0x003F3F00u);  // the lamp yellow, level 63
    EXPECT_EQ(korvex::ColorToPixel(0xAB010203u), 0x00030201u);
    for (const std::uint32_t v : {0u, 0x123456u, 0xFFFFFFu, 0x80FF00u})
        EXPECT_EQ(korvex::ColorToPixel(korvex::PixelToColor(v)), v);
}

TEST(KernelsScalar, FillSeriesNumbersXAndLeavesY) {
    korvex::SeriesParams params{};
    params[15] = 1, params[16] = 1, params[17] = 4;
    std::vector<korvex::Point> points(300, korvex::Point{-7, 0});
    for (std::size_t k = 0; k < points.size(); ++k) points[k].y = static_cast<std::int32_t>(1000 + k);
    korvex::FillSeries(points, params);
    for (std::size_t k = 0; k < points.size(); ++k) {
        EXPECT_EQ(points[k].x, static_cast<std::int32_t>(k));
        EXPECT_EQ(points[k].y, static_cast<std::int32_t>(1000 + k));
    }
    korvex::FillSeries({}, params);
}

}  // namespace
