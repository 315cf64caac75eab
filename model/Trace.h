#pragma once
// How the instruments draw their traces beyond the one colour per hit they always had:
// the density display of the traces' brightness, and the colour a held reference's
// traces take under the current picture's.
//
// The density display maps a position's count (samples on a waveform pixel, pixels in a
// vectorscope cell) to an intensity as a phosphor's glow follows the beam's dwell:
//     intensity = 1 - exp(-gain x count / mean),
// where mean is the average count of the positions the plot lights at all, so that the
// same setting suits a small picture and a large one, and gain = 2^(trace - 4): 1/8 at
// brightness 1, 1 at 4 (a position hit as often as the average glows at 63 %), 16 at 8.
// The colour is the trace's own with each byte scaled by the intensity (nearest).

#include <QString>

#include <cstdint>

#include "model/Settings.h"

namespace vistrel {

// A dim cyan: no channel, graticule or plot grey is drawn in it, and under the current
// picture's traces it reads as the other picture's without outshining them.
inline constexpr std::uint32_t kReferenceTrace = 0x00307888;
// The legends' texts: the reference's name in a lighter tint of its colour (thin strokes
// on black want more contrast than a trace does), the picture's in the luma grey.
inline constexpr std::uint32_t kReferenceText = 0x0060C0D0;
inline constexpr std::uint32_t kCurrentText = 0x00D0D0D0;

// The legend line's two parts: what the reference's traces are ("ref: NAME"), and what
// the picture's are ("now: NAME").
QString ReferenceLegend(const QString& referenceName);
QString CurrentLegend(const QString& pictureName);

// The density display's gain at a brightness 1 .. kTraceMax (kTraceFlat has none).
double TraceGain(int trace);
// The intensity, 0 to 1, of a count whose plot lights positions `mean` times on average.
double TraceIntensity(std::uint64_t count, double mean, double gain);
// A 0x00RRGGBB colour with each byte scaled by an intensity 0 to 1, nearest.
std::uint32_t DimColour(std::uint32_t colour, double intensity);

}  // namespace vistrel
