#include "vectorscope/Reading.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "platform/Numbers.h"
#include "vectorscope/Graticule.h"
#include "vectorscope/Plot.h"

namespace vistrel {

namespace {

// Where a colourless pair lands, as the plot counts it.
constexpr int kCentreColumn = 128;
constexpr int kCentreRow = 127;

struct Corner {
    double u;
    double v;
    double angle;  // radians, 0 up to 2 pi
};

double AngleOf(double u, double v) {
    const double angle = std::atan2(v, u);
    return angle < 0 ? angle + 2 * std::numbers::pi : angle;
}

// The six 75 % bars' pairs, unrounded, in order of their angle.
std::array<Corner, 6> BarCorners(korvex::LumaStandard standard) {
    constexpr korvex::Pixel kBars[6] = {kBarLevel << 16, kBarLevel << 8, kBarLevel,
                                        kBarLevel << 16 | kBarLevel << 8, kBarLevel << 8 | kBarLevel,
                                        kBarLevel << 16 | kBarLevel};
    std::array<Corner, 6> corners{};
    for (std::size_t k = 0; k < corners.size(); ++k) {
        const korvex::ExactPair pair = korvex::UnroundedPairOf(kBars[k], standard);
        corners[k] = {pair.u, pair.v, AngleOf(pair.u, pair.v)};
    }
    std::sort(corners.begin(), corners.end(), [](const Corner& a, const Corner& b) { return a.angle < b.angle; });
    return corners;
}

}  // namespace

double TargetShare(double u, double v, korvex::LumaStandard standard) {
    const double radius = std::hypot(u, v);
    if (radius == 0) return 0;
    const std::array<Corner, 6> corners = BarCorners(standard);
    const double angle = AngleOf(u, v);
    // The edge from the last corner at or before the angle to the next, round the circle.
    std::size_t k = corners.size() - 1;
    for (std::size_t i = 0; i < corners.size(); ++i)
        if (corners[i].angle <= angle) k = i;
    const Corner& a = corners[k];
    const Corner& b = corners[(k + 1) % corners.size()];
    // The ray t (u, v) / radius meets a + s (b - a) where t = (a x e) / (d x e), e = b - a.
    const double eu = b.u - a.u;
    const double ev = b.v - a.v;
    const double du = u / radius;
    const double dv = v / radius;
    const double reach = (a.u * ev - a.v * eu) / (du * ev - dv * eu);
    return radius / reach;
}

std::optional<VectorReading> VectorReadingAt(int x, int y, float zoom, korvex::LumaStandard standard) {
    if (x < 0 || y < 0 || x >= kPlotSide || y >= kPlotSide || !(zoom > 0)) return std::nullopt;
    VectorReading reading;
    reading.u = (x - kCentreColumn) / static_cast<double>(zoom);
    reading.v = (kCentreRow - y) / static_cast<double>(zoom);
    if (reading.u != 0 || reading.v != 0) reading.hueDegrees = AngleOf(reading.u, reading.v) * 180.0 / std::numbers::pi;
    reading.saturation = TargetShare(reading.u, reading.v, standard);
    return reading;
}

QString VectorReadingText(const VectorReading& reading) {
    QString text = QStringLiteral("U %1, V %2").arg(nearestInt(reading.u)).arg(nearestInt(reading.v));
    if (!reading.hueDegrees) return text + QStringLiteral(", no hue");
    // 359.6 degrees reads 0, not 360.
    const int degrees = nearestInt(*reading.hueDegrees) % 360;
    return text + QStringLiteral(", hue %1\u00B0, sat %2 %").arg(degrees).arg(nearestInt(reading.saturation * 100.0));
}

}  // namespace vistrel
