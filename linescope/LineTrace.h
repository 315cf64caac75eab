#pragma once
// The single-line trace: the levels along the picture row (horizontal) or
// column (vertical) through the probe, as Polyline point arrays. Pure:
// picture, probe and settings in, points out.

#include <vector>

#include "kernels/korvex.h"
#include "linescope/ScopeSettings.h"
#include "linescope/Waveform.h"

namespace vistrel::linescope {

// A trace's pen colour, as the drawing layer takes it (0x00BBGGRR, red in the low byte).
constexpr ColorValue TraceColor(Channel channel) {
    const std::uint32_t rgb = ColoursOf(channel).trace;
    return (rgb >> 16 & 0xFFu) | (rgb & 0xFF00u) | (rgb & 0xFFu) << 16;
}
inline constexpr ColorValue kTraceRed = TraceColor(Channel::Red);
inline constexpr ColorValue kTraceGreen = TraceColor(Channel::Green);
inline constexpr ColorValue kTraceBlue = TraceColor(Channel::Blue);
inline constexpr ColorValue kTraceLuma = TraceColor(Channel::Luma);
static_assert(kTraceRed == 0x002020A0 && kTraceBlue == 0x00F04040);

struct TraceSettings {
    Channel channel = Channel::Parade;
    Orientation orientation = Orientation::Horizontal;
    int columns = 0;  // trace width C: points 0 .. C - 1
};

// One array per box used (one, or red, green, blue and luma in the parade),
// each of C points: x = k, y = 255 - level of the sample k. The probe's column
// and row are clamped into the picture. An empty picture or C < 1 gives no arrays.
std::vector<std::vector<korvex::Point>> TracePoints(PictureView picture, int column, int row,
                                                    const TraceSettings& settings);
inline std::vector<std::vector<korvex::Point>> TracePoints(const korvex::PixelGrid& picture, int column, int row,
                                                           const TraceSettings& settings) {
    return TracePoints(ViewOf(picture), column, row, settings);
}

// The picture positions the trace samples along the probed line: nearest(k x step)
// clamped into 0 .. extent - 1, k = 0 .. columns - 1, step = extent / columns as a 32-bit float.
std::vector<std::size_t> TracePositions(std::size_t extent, int columns);

// The nine graticule rows of the trace, bottom to top (230 ... 26).
std::vector<int> TraceGraticuleRows();

}  // namespace vistrel::linescope
