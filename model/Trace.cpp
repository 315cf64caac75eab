#include "model/Trace.h"

#include <cmath>

namespace vistrel {

namespace {

// The brightness whose gain is 1: the middle of the range, halfway in doublings.
constexpr int kUnityTrace = 4;

}  // namespace

QString ReferenceLegend(const QString& referenceName) { return QStringLiteral("ref: ") + referenceName; }

QString CurrentLegend(const QString& pictureName) { return QStringLiteral("now: ") + pictureName; }

double TraceGain(int trace) { return std::ldexp(1.0, trace - kUnityTrace); }

double TraceIntensity(std::uint64_t count, double mean, double gain) {
    if (count == 0 || mean <= 0) return 0;
    return 1.0 - std::exp(-gain * static_cast<double>(count) / mean);
}

std::uint32_t DimColour(std::uint32_t colour, double intensity) {
    std::uint32_t dimmed = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const double byte = static_cast<double>((colour >> shift) & 0xFFu) * intensity;
        dimmed |= static_cast<std::uint32_t>(std::nearbyint(byte)) << shift;
    }
    return dimmed;
}

}  // namespace vistrel
