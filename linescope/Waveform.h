#pragma once
// The whole-picture waveform: a sampled plot of one channel's levels (or all
// four in the parade) against horizontal or vertical position, built as
// 32-bit rasters in memory. Pure: picture and settings in, rasters out.

#include <array>
#include <cstddef>
#include <vector>

#include "kernels/korvex.h"
#include "linescope/ScopeSettings.h"
#include "model/Reference.h"
#include "platform/Dib.h"

namespace vistrel::linescope {

using korvex::ColorValue;
using korvex::Pixel;

// Raster colours (0x00RRGGBB) of the channels, in channel order.
inline constexpr Pixel kRasterRed = ColoursOf(Channel::Red).waveform;
inline constexpr Pixel kRasterGreen = ColoursOf(Channel::Green).waveform;
inline constexpr Pixel kRasterBlue = ColoursOf(Channel::Blue).waveform;
inline constexpr Pixel kRasterLuma = ColoursOf(Channel::Luma).waveform;
constexpr Pixel RasterColor(Channel channel) { return ColoursOf(channel).waveform; }

// A read-only view of a picture: row after row, top row first, each row `stride` pixels
// after the one above (0: rows follow without padding). A rectangle of a larger picture
// is a view of its pixels, not a copy.
struct PictureView {
    const Pixel* pixels = nullptr;
    std::size_t width = 0;
    std::size_t height = 0;
    std::size_t stride = 0;
    std::size_t pitch() const { return stride != 0 ? stride : width; }
};
inline PictureView ViewOf(const korvex::PixelGrid& grid) { return {grid.data(), grid.width(), grid.height()}; }
// The rectangle `left` columns in and `top` rows down of a picture, width x height
// pixels, which must lie inside it.
inline PictureView CropOf(PictureView picture, std::size_t left, std::size_t top, std::size_t width,
                          std::size_t height) {
    return {picture.pixels + top * picture.pitch() + left, width, height, picture.pitch()};
}

struct WaveformSettings {
    Channel channel = Channel::Parade;
    Orientation orientation = Orientation::Horizontal;
    ScalePlacement scale = ScalePlacement::Behind;
    ColorValue scaleColor = 0;  // the lamp colour, red in the low byte
    int columns = 0;            // raster width C
    int trace = kTraceFlat;     // the traces' brightness: every hit at full colour, or a density display
    std::vector<int> lines;     // reference lines at these levels, dotted in the lamp colour
    // The graticule's rows in place of the tenths' when not empty (an HDR picture's nits scale).
    std::vector<int> graticuleRows{};
};

// The legend line a held reference adds to the waveform, at the top of the boxes, in
// raster pixels: in the single box both names; in the parade the reference's in the
// first box and the picture's in the second. Its text covers what the traces show there.
inline constexpr int kLegendLeft = 2;
inline constexpr int kLegendTop = 1;
inline constexpr int kLegendHeight = 13;

// One raster per box used (one, or four in the parade), each kScopeRows rows of
// `columns` pixels, top row first, 0x00RRGGBB.
struct WaveformRasters {
    int columns = 0;
    std::vector<std::vector<Pixel>> rasters;
};

// Builds the rasters. The work is bounded by the raster, (kScopeRows - 1) x
// (columns - 1) samples, whatever the picture's size; an empty picture gives
// rasters with the graticule only.
//
// A reference's samples, taken for the same orientation and width, are drawn under the
// picture's in kReferenceTrace: a pixel the picture lights shows the picture's colour,
// one only the reference lights shows the reference's. At kTraceFlat each hit is its
// colour whole; at a brightness it is dimmed by its count (model/Trace.h), the picture
// and the reference each against its own mean. A reference line is a dotted row
// (columns 0, 2, 4 ... of 0 .. C - 2) in the lamp colour at row 255 - level, behind the
// traces or in front of them as the graticule is; a graticule row stays solid.
WaveformRasters BuildWaveform(PictureView picture, const WaveformSettings& settings,
                              const WaveformSamples* reference = nullptr);
// The same into rasters kept from an earlier call, reusing their memory.
void BuildWaveform(PictureView picture, const WaveformSettings& settings, WaveformRasters& out,
                   const WaveformSamples* reference = nullptr);
inline WaveformRasters BuildWaveform(const korvex::PixelGrid& picture, const WaveformSettings& settings) {
    return BuildWaveform(ViewOf(picture), settings);
}

// The picture column (horizontal) or row (vertical) whose samples raster column `column`
// shows: floor((column + 1) x step), step = extent / columns as a 32-bit float, clamped
// into 0 .. extent - 1. The last raster column is given none and reads as the last.
std::size_t WaveformPosition(std::size_t extent, int columns, int column);

// The nine graticule rows of the raster, bottom to top (230 ... 26).
std::vector<int> WaveformGraticuleRows();

// The raster row of a level (255 at the top); a level outside 0 .. 255 is held to it.
int LevelRow(int level);

// The pixels the waveform of this orientation and width reads from a picture: per raster
// column, its kScopeRows - 1 samples in the order the plot reads them. Drawn as a
// reference they light exactly what the picture's own waveform lights.
WaveformSamples SampleWaveform(PictureView picture, Orientation orientation, int columns);
// A picture's samples for every orientation and for both display widths of the window,
// taken into the reference under the picture's standard, and with their luma bytes
// formed again under the other standard.
void TakeWaveformSamples(const korvex::PixelGrid& picture, korvex::LumaStandard standard, Reference& reference);

// The header that transfers a raster `width` pixels wide and kScopeRows high, top row first.
BitmapInfoHeader ScopeRasterHeader(int width);

}  // namespace vistrel::linescope
