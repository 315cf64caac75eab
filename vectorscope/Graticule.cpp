#include "vectorscope/Graticule.h"

#include <cmath>
#include <numbers>

#include "platform/Numbers.h"

namespace vistrel {

namespace {

// The plot's last pixel column and row.
constexpr std::int32_t kPlotLast = 255;
// Where a colourless pair lands: column 128, row 127.
constexpr std::int32_t kCentreColumn = 128;
constexpr std::int32_t kCentreRow = 127;

// The centre cross: strokes through (128, 128) reaching 4 pixels each way.
constexpr int kCrossCentre = 128;
constexpr int kCrossReach = 4;

// A target box reaches this far from its centre cell (right and bottom excluded).
constexpr int kBoxReach = 5;

// The skin-tone line reaches the pair of this radius, where the circle is drawn.
constexpr double kCircleRadius = 128.0;

std::array<TargetBox, 6> BoxesAroundBars(korvex::LumaStandard standard) {
    const auto bar = [](bool red, bool green, bool blue) {
        return korvex::Pixel{(red ? kBarLevel << 16 : 0u) | (green ? kBarLevel << 8 : 0u) | (blue ? kBarLevel : 0u)};
    };
    // Red, cyan, green, magenta, blue, yellow: the order the designed boxes are drawn in.
    std::array<korvex::Pixel, 6> bars{bar(true, false, false), bar(false, true, true), bar(false, true, false),
                                      bar(true, false, true),  bar(false, false, true), bar(true, true, false)};
    std::array<korvex::UvPair, 6> pairs{};
    korvex::ConvertToYuv(bars, pairs, standard);
    std::array<TargetBox, 6> boxes{};
    for (std::size_t k = 0; k < boxes.size(); ++k) {
        const int c = kCentreColumn + pairs[k].u;
        const int r = kCentreRow - pairs[k].v;
        boxes[k] = {c - kBoxReach, r - kBoxReach, c + kBoxReach, r + kBoxReach};
    }
    return boxes;
}

}  // namespace

std::array<TargetBox, 6> TargetBoxesFor(korvex::LumaStandard standard) {
    switch (standard) {
        case korvex::LumaStandard::Rec601: return kTargetBoxes;
        case korvex::LumaStandard::Rec709: {
            static const std::array<TargetBox, 6> boxes = BoxesAroundBars(korvex::LumaStandard::Rec709);
            return boxes;
        }
    }
    return kTargetBoxes;
}

korvex::Point SkinToneLineEnd() {
    const double radians = kSkinToneDegrees * std::numbers::pi / 180.0;
    return {kCentreColumn + nearestInt(kCircleRadius * std::cos(radians)),
            kCentreRow - nearestInt(kCircleRadius * std::sin(radians))};
}

void DrawGraticuleOn(Dc& dc, GdiObject pen, GdiObject hollowBrush, ColorValue scaleColor,
                     const GraticuleOptions& options) {
    if (!GraticuleLit(scaleColor)) return;
    dc.SelectObject(pen);
    dc.SetDCPenColor(scaleColor);
    dc.SelectObject(hollowBrush);
    dc.Ellipse(0, 0, kPlotLast + 1, kPlotLast + 1);
    dc.MoveToEx(kCrossCentre, kCrossCentre - kCrossReach);
    dc.LineTo(kCrossCentre, kCrossCentre + kCrossReach + 1);
    dc.MoveToEx(kCrossCentre - kCrossReach, kCrossCentre);
    dc.LineTo(kCrossCentre + kCrossReach + 1, kCrossCentre);
    for (const TargetBox& box : TargetBoxesFor(options.luma)) dc.Rectangle(box.left, box.top, box.right, box.bottom);
    if (options.skinToneLine) {
        // From where a colourless pair lands up to the circle, whose own pixel ends it.
        const korvex::Point end = SkinToneLineEnd();
        dc.MoveToEx(kCentreColumn, kCentreRow);
        dc.LineTo(end.x, end.y);
    }
}

korvex::Point ProbeEnd(korvex::UvPair pair, float zoom) {
    const double z = zoom;
    const std::int32_t x = korvex::ClampValue(0, nearestInt(pair.u * z) + kCentreColumn, kPlotLast);
    const std::int32_t y = korvex::ClampValue(0, kCentreRow - nearestInt(pair.v * z), kPlotLast);
    return {x, y};
}

void MarkProbeOn(Dc& dc, korvex::UvPair pair, ColorValue color, float zoom) {
    const korvex::Point end = ProbeEnd(pair, zoom);
    const int width = dc.penWidth();
    const ColorValue penColor = dc.penColor();
    dc.SetPenWidth(kMarkerWidth);
    dc.SetDCPenColor(color);
    dc.Line(kMarkerOrigin.x, kMarkerOrigin.y, end.x, end.y);
    dc.SetDCPenColor(penColor);
    dc.SetPenWidth(width);
}

}  // namespace vistrel
