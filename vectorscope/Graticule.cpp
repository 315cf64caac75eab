#include "vectorscope/Graticule.h"

#include "platform/Numbers.h"

namespace vistrel {

namespace {

// Green byte of the scale colour at or below which the lamp counts as off;
// the scale colour is L + 256 L, so this means lamp level 0.
constexpr ColorValue kLampOffGreen = 26;

// The plot's last pixel column and row.
constexpr std::int32_t kPlotLast = 255;
// Where a colourless pair lands: column 128, row 127.
constexpr std::int32_t kCentreColumn = 128;
constexpr std::int32_t kCentreRow = 127;

// The centre cross: strokes through (128, 128) reaching 4 pixels each way.
constexpr int kCrossCentre = 128;
constexpr int kCrossReach = 4;

}  // namespace

bool GraticuleLit(ColorValue scaleColor) { return (scaleColor & 0xFF00u) > kLampOffGreen; }

void DrawGraticuleOn(Dc& dc, GdiObject pen, GdiObject hollowBrush, ColorValue scaleColor) {
    if (!GraticuleLit(scaleColor)) return;
    dc.SelectObject(pen);
    dc.SetDCPenColor(scaleColor);
    dc.SelectObject(hollowBrush);
    dc.Ellipse(0, 0, kPlotLast + 1, kPlotLast + 1);
    dc.MoveToEx(kCrossCentre, kCrossCentre - kCrossReach);
    dc.LineTo(kCrossCentre, kCrossCentre + kCrossReach + 1);
    dc.MoveToEx(kCrossCentre - kCrossReach, kCrossCentre);
    dc.LineTo(kCrossCentre + kCrossReach + 1, kCrossCentre);
    for (const TargetBox& box : kTargetBoxes) dc.Rectangle(box.left, box.top, box.right, box.bottom);
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
