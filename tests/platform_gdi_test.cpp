#include <gtest/gtest.h>

#include <QFont>

#include <cmath>
#include <set>

#include "platform/Gdi.h"
#include "support.h"

using namespace vistrel;
using testing_support::SurfaceMap;

namespace {

constexpr ColorValue kWhite = 0xFFFFFF;

// '#' for every white pixel, '.' for black.
std::vector<std::string> Map(const Surface& s) {
    return SurfaceMap(s, [](korvex::Pixel p) { return p == 0xFFFFFF ? '#' : (p == 0 ? '.' : '?'); });
}

struct Canvas {
    Canvas(int w, int h) : surface(w, h, 0), dc(surface) { dc.SetDCPenColor(kWhite); }
    Surface surface;
    Dc dc;
};

std::set<std::pair<int, int>> Lit(const Surface& s) {
    std::set<std::pair<int, int>> lit;
    for (int y = 0; y < s.height(); ++y)
        for (int x = 0; x < s.width(); ++x)
            if (s.pixel(x, y) != 0) lit.insert({x, y});
    return lit;
}

}  // namespace

// One line each, against its hand-drawn map: the end point is left out (drawn backwards,
// the start's the one kept), a shallow line follows the nearest row (slope 1/3: column x
// on row round(x / 3), no ties), and what falls outside the surface is clipped.
TEST(GdiLines, LineToStopsShortOfItsEndPointFollowsTheNearestRowAndIsClipped) {
    struct Case {
        int width, height, fromX, fromY, toX, toY;
        std::vector<std::string> map;
    };
    const Case cases[] = {
        {7, 3, 1, 1, 5, 1, {".......", ".####..", "......."}},
        {4, 4, 0, 0, 3, 3, {"#...", ".#..", "..#.", "...."}},
        {4, 1, 3, 0, 0, 0, {".###"}},
        {7, 3, 0, 0, 6, 2, {"##.....", "..###..", ".....#."}},
        {3, 3, -5, 1, 10, 1, {"...", "###", "..."}},
    };
    for (const Case& k : cases) {
        Canvas c(k.width, k.height);
        c.dc.MoveToEx(k.fromX, k.fromY);
        c.dc.LineTo(k.toX, k.toY);
        EXPECT_EQ(Map(c.surface), k.map) << k.fromX << "," << k.fromY << " to " << k.toX << "," << k.toY;
    }
}

TEST(GdiLines, LineToMovesTheCurrentPositionAndJoinsWithoutGaps) {
    Canvas c(4, 4);
    c.dc.MoveToEx(0, 0);
    c.dc.LineTo(3, 0);
    c.dc.LineTo(3, 3);
    EXPECT_EQ(Map(c.surface), (std::vector<std::string>{"####", "...#", "...#", "...."}));
}

TEST(GdiLines, PolylineDrawsEverySegmentButTheVeryLastPoint) {
    Canvas c(4, 4);
    const korvex::Point points[] = {{0, 0}, {3, 0}, {3, 3}};
    c.dc.Polyline(points);
    EXPECT_EQ(Map(c.surface), (std::vector<std::string>{"####", "...#", "...#", "...."}));

    Canvas single(2, 2);
    const korvex::Point one[] = {{1, 1}};
    single.dc.Polyline(one);
    EXPECT_EQ(Map(single.surface), (std::vector<std::string>{"..", ".."}));
}

TEST(GdiLines, PenColourIsAColourValueWithRedInTheLowByte) {
    Surface s(2, 1, 0);
    Dc dc(s);
    dc.SetDCPenColor(0x0000FF);  // red
    dc.MoveToEx(0, 0);
    dc.LineTo(2, 0);
    EXPECT_EQ(s.pixel(0, 0), 0xFF0000u);
    dc.SetDCPenColor(0x102030);  // red 0x30, green 0x20, blue 0x10
    dc.MoveToEx(0, 0);
    dc.LineTo(1, 0);
    EXPECT_EQ(s.pixel(0, 0), 0x302010u);
}

TEST(GdiLines, WideLineStampsASquarePenIncludingBothEnds) {
    Canvas c(9, 5);
    c.dc.SetPenWidth(3);
    c.dc.Line(2, 2, 6, 2);
    EXPECT_EQ(Map(c.surface), (std::vector<std::string>{".........", ".#######.", ".#######.", ".#######.", "........."}));

    Canvas thin(5, 1);
    thin.dc.Line(1, 0, 3, 0);
    EXPECT_EQ(Map(thin.surface), (std::vector<std::string>{".###."}));
}

TEST(GdiShapes, RectangleExcludesRightAndBottomEdges) {
    Canvas c(110, 20);
    c.dc.Rectangle(95, 5, 105, 15);
    const auto lit = Lit(c.surface);
    EXPECT_EQ(lit.size(), 36u);  // a 10 x 10 outline
    for (auto [x, y] : lit) {
        EXPECT_TRUE(x >= 95 && x <= 104 && y >= 5 && y <= 14) << x << "," << y;
        EXPECT_TRUE(x == 95 || x == 104 || y == 5 || y == 14) << x << "," << y;
    }
    EXPECT_TRUE(lit.count({95, 5}) && lit.count({104, 14}) && lit.count({104, 5}) && lit.count({95, 14}));
}

TEST(GdiShapes, SmallEllipsesMatchHandDrawnMaps) {
    Canvas five(5, 5);
    five.dc.Ellipse(0, 0, 5, 5);
    EXPECT_EQ(Map(five.surface), (std::vector<std::string>{".###.", "#...#", "#...#", "#...#", ".###."}));

    Canvas four(6, 6);
    four.dc.Ellipse(1, 1, 5, 5);
    EXPECT_EQ(Map(four.surface), (std::vector<std::string>{"......", "..##..", ".#..#.", ".#..#.", "..##..", "......"}));
}

TEST(GdiShapes, PlotCircleTouchesItsBoxAndNothingOutside) {
    // The vectorscope's circle, shifted by 2 to see any pixel that spills out.
    Canvas c(260, 260);
    c.dc.Ellipse(2, 2, 258, 258);
    const auto lit = Lit(c.surface);
    int minX = 999, maxX = -1, minY = 999, maxY = -1;
    for (auto [x, y] : lit) {
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
        // Every outline pixel lies within a pixel of the ideal circle of radius 127.5.
        const double r = std::hypot(x - 129.5, y - 129.5);
        EXPECT_NEAR(r, 127.5, 1.0) << x << "," << y;
        // Mirror images are drawn too.
        EXPECT_TRUE(lit.count({259 - x, y}) && lit.count({x, 259 - y})) << x << "," << y;
        // The outline is closed: every pixel has at least two lit neighbours.
        int neighbours = 0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if ((dx || dy) && lit.count({x + dx, y + dy})) ++neighbours;
        EXPECT_GE(neighbours, 2) << x << "," << y;
    }
    EXPECT_EQ(minX, 2);
    EXPECT_EQ(maxX, 257);
    EXPECT_EQ(minY, 2);
    EXPECT_EQ(maxY, 257);
}

TEST(GdiRasterOps, NotXorPenInvertsUnderABlackPenAndRestoresWhenRepeated) {
    Surface s(8, 8, 0);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) s.row(y)[x] = 0xFF000000u | (x * 31u << 16) | (y * 29u << 8) | 0x5Au;
    const QImage before = s.image().copy();
    Dc dc(s);
    dc.SetROP2(DrawMode::NotXorPen);
    dc.SetDCPenColor(0);
    dc.Line(3, 0, 3, 7);
    EXPECT_EQ(s.pixel(3, 4), (~before.pixel(3, 4)) & 0xFFFFFFu);
    EXPECT_EQ(s.pixel(2, 4), before.pixel(2, 4) & 0xFFFFFFu);
    dc.Line(3, 0, 3, 7);
    EXPECT_EQ(s.image(), before);

    // A coloured pen: NOT (pen XOR pixel), twice gives the pixel back.
    dc.SetDCPenColor(0x00A01F);
    dc.Rectangle(1, 1, 7, 7);
    dc.Ellipse(0, 0, 8, 8);
    dc.SetPenWidth(3);
    dc.Line(0, 0, 7, 5);
    EXPECT_NE(s.image(), before);
    dc.Line(0, 0, 7, 5);
    dc.SetPenWidth(1);
    dc.Ellipse(0, 0, 8, 8);
    dc.Rectangle(1, 1, 7, 7);
    EXPECT_EQ(s.image(), before);
}

TEST(GdiRasterOps, NotXorPenWithAWhitePenLeavesPixelsAlone) {
    Surface s(3, 1, 0x123456);
    const QImage before = s.image().copy();
    Dc dc(s);
    dc.SetROP2(DrawMode::NotXorPen);
    dc.SetDCPenColor(0xFFFFFF);
    dc.Line(0, 0, 2, 0);
    EXPECT_EQ(s.image(), before);
}

TEST(GdiText, TextIsDrawnInItsColourWithoutABackgroundBox) {
    Surface s(80, 30, 0);
    QFont font("DejaVu Sans");
    font.setPixelSize(12);
    DrawTextAt(s, 2, 10, "4.00", 0xFFFFFF, font);
    int lit = 0, foreign = 0;
    for (int y = 0; y < s.height(); ++y)
        for (int x = 0; x < s.width(); ++x) {
            const auto p = s.pixel(x, y);
            if (p == 0) continue;
            ++lit;
            if (x < 2 || y < 10) ++foreign;
            // Grey levels of anti-aliased white text only: never a coloured box.
            EXPECT_TRUE(((p >> 16) & 0xFF) == (p & 0xFF) && ((p >> 8) & 0xFF) == (p & 0xFF));
        }
    EXPECT_GT(lit, 10);
    EXPECT_EQ(foreign, 0);
    EXPECT_EQ(s.pixel(70, 2), 0u);  // background untouched away from the glyphs
}
