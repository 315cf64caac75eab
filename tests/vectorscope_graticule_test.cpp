// The vectorscope graticule and the probe marker, pixel by pixel.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <set>
#include <vector>

#include "support.h"
#include "vectorscope/Graticule.h"

namespace {

using korvex::Pixel;
using korvex::UvPair;
using vistrel::Dc;
using vistrel::Surface;

constexpr vistrel::ColorValue kLamp128 = 128 * 256 + 128;  // red 128, green 128, blue 0
constexpr Pixel kLamp128Pixel = 0x808000;

Surface Graticule(vistrel::ColorValue scaleColor, const vistrel::GraticuleOptions& options = {}) {
    Surface surface(256, 256, 0);
    Dc dc(surface);
    vistrel::DrawGraticuleOn(dc, vistrel::GetStockObject(vistrel::StockObject::DcPen),
                             vistrel::GetStockObject(vistrel::StockObject::NullBrush), scaleColor, options);
    return surface;
}

std::vector<std::pair<int, int>> LitIn(const Surface& surface, int x0, int y0, int x1, int y1) {
    std::vector<std::pair<int, int>> lit;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (surface.pixel(x, y) != 0) lit.emplace_back(x, y);
    return lit;
}

TEST(VectorscopeGraticule, CircleTouchesAllFourEdges) {
    const Surface s = Graticule(kLamp128);
    for (int edge : {0, 255}) {
        const auto row = LitIn(s, 0, edge, 255, edge);
        const auto column = LitIn(s, edge, 0, edge, 255);
        ASSERT_FALSE(row.empty()) << "row " << edge;
        ASSERT_FALSE(column.empty()) << "column " << edge;
        // Centred on 127.5: the touching run is symmetric about it.
        EXPECT_EQ(row.front().first + row.back().first, 255) << "row " << edge;
        EXPECT_EQ(column.front().second + column.back().second, 255) << "column " << edge;
        EXPECT_LE(row.front().first, 127);
        EXPECT_GE(row.back().first, 128);
    }
    for (auto [x, y] : {std::pair{0, 0}, {255, 0}, {0, 255}, {255, 255}}) EXPECT_EQ(s.pixel(x, y), 0u);
}

TEST(VectorscopeGraticule, CentreCrossIncludesBothEnds) {
    const Surface s = Graticule(kLamp128);
    std::vector<std::pair<int, int>> cross;
    for (int k = 124; k <= 132; ++k) {
        cross.emplace_back(128, k);
        if (k != 128) cross.emplace_back(k, 128);
    }
    std::sort(cross.begin(), cross.end(), [](auto a, auto b) { return std::pair(a.second, a.first) < std::pair(b.second, b.first); });
    EXPECT_EQ(LitIn(s, 110, 110, 145, 145), cross);
    for (auto [x, y] : cross) EXPECT_EQ(s.pixel(x, y), kLamp128Pixel);
}

TEST(VectorscopeGraticule, SixTargetOutlinesExcludeRightAndBottom) {
    const Surface s = Graticule(kLamp128);
    // The circle passes close to two of the boxes; its pixels are left out of the count.
    Surface circle(256, 256, 0);
    Dc circleDc(circle);
    circleDc.SetDCPenColor(0xFFFFFF);
    circleDc.Ellipse(0, 0, 256, 256);
    for (const vistrel::TargetBox& box : vistrel::kTargetBoxes) {
        // The 12 x 12 neighbourhood holds exactly the 36 outline pixels besides the circle.
        std::size_t outline = 0;
        for (auto [x, y] : LitIn(s, box.left - 1, box.top - 1, box.right, box.bottom))
            outline += circle.pixel(x, y) == 0;
        EXPECT_EQ(outline, 36u) << box.left << "," << box.top;
        for (int x = box.left; x < box.right; ++x) {
            EXPECT_EQ(s.pixel(x, box.top), kLamp128Pixel);
            EXPECT_EQ(s.pixel(x, box.bottom - 1), kLamp128Pixel);
        }
        for (int y = box.top; y < box.bottom; ++y) {
            EXPECT_EQ(s.pixel(box.left, y), kLamp128Pixel);
            EXPECT_EQ(s.pixel(box.right - 1, y), kLamp128Pixel);
        }
    }
}

TEST(VectorscopeGraticule, LampLevels) {
    EXPECT_TRUE(LitIn(Graticule(0), 0, 0, 255, 255).empty());
    const Surface dim = Graticule(1 * 256 + 1);
    const auto lit = LitIn(dim, 0, 0, 255, 255);
    ASSERT_FALSE(lit.empty());
    for (auto [x, y] : lit) ASSERT_EQ(dim.pixel(x, y), 0x010100u) << x << "," << y;
    EXPECT_FALSE(vistrel::GraticuleLit(0));
    EXPECT_TRUE(vistrel::GraticuleLit(257));
}

TEST(VectorscopeProbeEnd, RoundsHalvesToEvenAndClamps) {
    const float zoom125 = 320.0f / 256.0f;
    EXPECT_EQ(vistrel::ProbeEnd({2, 6}, zoom125).x, 130);   // 2.5 -> 2
    EXPECT_EQ(vistrel::ProbeEnd({-6, 2}, zoom125).x, 120);  // -7.5 -> -8
    EXPECT_EQ(vistrel::ProbeEnd({2, 6}, zoom125).y, 119);   // 7.5 -> 8
    EXPECT_EQ(vistrel::ProbeEnd({2, -2}, zoom125).y, 129);  // -2.5 -> -2
    const korvex::Point grey = vistrel::ProbeEnd({0, 0}, 1.0f);
    EXPECT_EQ(grey.x, 128);
    EXPECT_EQ(grey.y, 127);
    // At zoom 4 pairs beyond +-32 reach the edges and stop there.
    for (std::int16_t u : {std::int16_t{-32768}, std::int16_t{-33}, std::int16_t{-32}, std::int16_t{31},
                           std::int16_t{32}, std::int16_t{33}, std::int16_t{32767}})
        for (std::int16_t v : {std::int16_t{-32768}, std::int16_t{-32}, std::int16_t{32}, std::int16_t{32767}}) {
            const korvex::Point end = vistrel::ProbeEnd({u, v}, 4.0f);
            EXPECT_GE(end.x, 0);
            EXPECT_LE(end.x, 255);
            EXPECT_GE(end.y, 0);
            EXPECT_LE(end.y, 255);
        }
    EXPECT_EQ(vistrel::ProbeEnd({-32, 32}, 4.0f).x, 0);
    EXPECT_EQ(vistrel::ProbeEnd({-32, 32}, 4.0f).y, 0);
    EXPECT_EQ(vistrel::ProbeEnd({32, -32}, 4.0f).x, 255);
    EXPECT_EQ(vistrel::ProbeEnd({32, -32}, 4.0f).y, 255);
}

TEST(VectorscopeMarker, SaturatedRedEndsOnTheTopEdge) {
    auto picture = testing_support::MakeGrid(1, 1, [](std::size_t, std::size_t) { return testing_support::Bgra(0, 0, 255); });
    const korvex::ChromaGrid chroma = korvex::ConvertToYuv(picture);
    const UvPair red = chroma.at(0, 0);
    EXPECT_EQ(red.u, -38);
    EXPECT_EQ(red.v, 157);
    Surface s(256, 256, 0);
    Dc dc(s);
    const vistrel::ColorValue color = korvex::PixelToColor(picture.at(0, 0));
    vistrel::MarkProbeOn(dc, red, color, 1.0f);
    EXPECT_EQ(s.pixel(90, 0), 0xFF0000u);
    EXPECT_EQ(s.pixel(127, 127), 0xFF0000u);
    // Three pixels wide along the whole line, nothing beyond its ends.
    for (auto [x, y] : LitIn(s, 0, 0, 255, 0)) {
        EXPECT_GE(x, 89);
        EXPECT_LE(x, 92);
    }
    EXPECT_TRUE(LitIn(s, 0, 129, 255, 255).empty());
    EXPECT_EQ(dc.penWidth(), 1);
}

TEST(VectorscopeMarker, GreyIsAStubAndMarkersAccumulate) {
    Surface s(256, 256, 0);
    Dc dc(s);
    vistrel::MarkProbeOn(dc, {0, 0}, 0x0000FF, 1.0f);  // red pen
    // From (127, 127) to (128, 127), three pixels thick.
    const auto lit = LitIn(s, 0, 0, 255, 255);
    ASSERT_EQ(lit.size(), 12u);
    EXPECT_EQ(lit.front(), std::pair(126, 126));
    EXPECT_EQ(lit.back(), std::pair(129, 128));
    // A second marker adds to the first, in its own colour.
    vistrel::MarkProbeOn(dc, {0, 50}, 0xFF0000, 1.0f);  // blue pen, up to (128, 77)
    EXPECT_EQ(s.pixel(128, 77), 0x0000FFu);
    EXPECT_EQ(s.pixel(129, 127), 0xFF0000u);
    EXPECT_EQ(s.pixel(129, 128), 0xFF0000u);
}

// Pixels lit in one surface and not in the other.
std::vector<std::pair<int, int>> Added(const Surface& with, const Surface& without) {
    std::vector<std::pair<int, int>> added;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            if (with.pixel(x, y) != without.pixel(x, y)) added.emplace_back(x, y);
    return added;
}

TEST(VectorscopeGraticule, Rec709TargetsSitOnTheBarsAndNothingElseMoves) {
    using korvex::LumaStandard;
    // The bars, converted here on their own: red, cyan, green, magenta, blue, yellow at 191.
    const std::vector<std::array<unsigned, 3>> bars{{191, 0, 0}, {0, 191, 191}, {0, 191, 0},
                                                    {191, 0, 191}, {0, 0, 191}, {191, 191, 0}};
    const Surface rec601 = Graticule(kLamp128);
    const Surface rec709 = Graticule(kLamp128, {LumaStandard::Rec709, false});
    // Circle and centre cross as always; the boxes added below from the bars.
    Surface expected(256, 256, 0);
    Dc dc(expected);
    dc.SetDCPenColor(kLamp128);
    dc.SelectObject(vistrel::GetStockObject(vistrel::StockObject::NullBrush));
    dc.Ellipse(0, 0, 256, 256);
    dc.MoveToEx(128, 124);
    dc.LineTo(128, 133);
    dc.MoveToEx(124, 128);
    dc.LineTo(133, 128);
    const auto boxes = vistrel::TargetBoxesFor(LumaStandard::Rec709);
    for (std::size_t k = 0; k < bars.size(); ++k) {
        std::vector<Pixel> pixel{testing_support::Bgra(bars[k][2], bars[k][1], bars[k][0])};
        std::vector<UvPair> pair(1);
        korvex::ConvertToYuv(pixel, pair, LumaStandard::Rec709);
        const int c = 128 + pair[0].u, r = 127 - pair[0].v;
        SCOPED_TRACE(testing::Message() << "bar " << k << " at " << c << "," << r);
        EXPECT_EQ(boxes[k].left, c - 5);
        EXPECT_EQ(boxes[k].top, r - 5);
        EXPECT_EQ(boxes[k].right, c + 5);
        EXPECT_EQ(boxes[k].bottom, r + 5);
        dc.Rectangle(c - 5, r - 5, c + 5, r + 5);
    }
    // The whole pixel map: the same circle and cross, the boxes at the bars.
    EXPECT_EQ(Added(rec709, expected), (std::vector<std::pair<int, int>>{}));
    // The HD targets really differ from the designed ones, and those stay as they were.
    EXPECT_FALSE(Added(rec709, rec601).empty());
    const auto designed = vistrel::TargetBoxesFor(LumaStandard::Rec601);
    for (std::size_t k = 0; k < designed.size(); ++k) {
        EXPECT_EQ(designed[k].left, vistrel::kTargetBoxes[k].left);
        EXPECT_EQ(designed[k].top, vistrel::kTargetBoxes[k].top);
    }
}

TEST(VectorscopeGraticule, SkinToneLineRunsFromTheCentreToTheCircleAt123Degrees) {
    const Surface plain = Graticule(kLamp128);
    const Surface skin = Graticule(kLamp128, {korvex::LumaStandard::Rec601, true});
    const auto added = Added(skin, plain);
    ASSERT_GT(added.size(), 100u);
    const double angle = 123.0 * std::numbers::pi / 180.0;
    const double du = std::cos(angle), dv = std::sin(angle);
    Surface circle(256, 256, 0);
    Dc circleDc(circle);
    circleDc.SetDCPenColor(0xFFFFFF);
    circleDc.Ellipse(0, 0, 256, 256);
    std::set<std::pair<int, int>> line(added.begin(), added.end());
    for (auto [x, y] : added) {
        SCOPED_TRACE(testing::Message() << x << "," << y);
        EXPECT_EQ(skin.pixel(x, y), kLamp128Pixel);
        // Steep (|V| grows faster than |U|), so one pixel a row, and that pixel within a
        // pixel of the ray through the pairs (U, V) = t (cos, sin), t >= 0: half a pixel of
        // drawing plus at most half a pixel that the whole-pixel end point turns the line by.
        const double v = 127.0 - y;
        EXPECT_LT(std::abs((x - 128.0) - v * du / dv), 1.0);
        EXPECT_GE(v, 0.0);
        EXPECT_EQ(std::count_if(added.begin(), added.end(), [y](auto p) { return p.second == y; }), 1);
        EXPECT_EQ(circle.pixel(x, y), 0u) << "the line stops where the circle is";
    }
    // One unbroken 8-connected path: walked from the centre, it visits every added pixel
    // and ends next to a pixel of the circle.
    std::pair<int, int> at{128, 127};
    std::size_t walked = 0;
    for (;;) {
        std::pair<int, int> next{-1, -1};
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (line.count({at.first + dx, at.second + dy}) != 0) next = {at.first + dx, at.second + dy};
        if (next.first < 0) break;
        line.erase(next);
        at = next;
        ++walked;
    }
    EXPECT_EQ(walked, added.size());
    bool touches = false;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) touches |= circle.pixel(at.first + dx, at.second + dy) != 0;
    EXPECT_TRUE(touches) << "last pixel " << at.first << "," << at.second;
    // The same line under Rec. 709, and none with the lamp off.
    const Surface skin709 = Graticule(kLamp128, {korvex::LumaStandard::Rec709, true});
    const Surface plain709 = Graticule(kLamp128, {korvex::LumaStandard::Rec709, false});
    EXPECT_EQ(Added(skin709, plain709), added);
    EXPECT_TRUE(LitIn(Graticule(0, {korvex::LumaStandard::Rec601, true}), 0, 0, 255, 255).empty());
    // The first few pixels from the centre, drawn by hand: a slope of -tan 123 = 1.54.
    for (auto [x, y] : {std::pair{127, 126}, {126, 124}, {125, 123}, {124, 121}}) EXPECT_EQ(skin.pixel(x, y), kLamp128Pixel) << x << "," << y;
}

}  // namespace
