#pragma once
// The settings value: every choice a user makes that changes what the view or the
// instruments show. Plain data, compared and copied whole: a reload keeps it, and
// --render builds one from its options.

#include <array>
#include <cstdint>
#include <vector>

#include "colour/ColourHandling.h"
#include "kernels/korvex.h"
#include "model/FalseColour.h"

namespace vistrel {

// The line scope's channel; Parade shows all four side by side.
enum class ScopeChannel : int { Red = 0, Green = 1, Blue = 2, Luma = 3, Parade = 4 };

// Vertical: the scope's columns follow picture rows (top of the picture at the left).
// Horizontal: they follow picture columns.
enum class ScopeOrientation { Vertical, Horizontal };

// Where the line scope's graticule lines go relative to the signal.
enum class ScalePlacement { Behind, InFront };

// How the histogram's bars follow the counts: linear to the tallest, or logarithmic.
enum class HistogramScale { Linear, Log };

// The raw histogram's axis: raw values from 0 to the sensor's top, or stops below the
// white level (0 at white, down to kRawEvSpan stops below it).
enum class RawHistogramAxis { Linear, Ev };
inline constexpr int kRawEvSpan = 12;

// The histogram's own channel, chosen apart from the line scope's: one channel, the
// parade's four stacked, or red, green and blue overlaid in one band (Rgb), their
// colours added where their bars overlap, as photo editors show it.
enum class HistogramChannel : int { Red = 0, Green = 1, Blue = 2, Luma = 3, Parade = 4, Rgb = 5 };

// The lamp runs over the 8-bit levels; it starts at half brightness, the graticules
// visible but not glaring.
inline constexpr int kLampMax = 255;
inline constexpr int kDefaultLamp = 128;
// The vectorscope zoom bar's range, in 256ths of the plot's natural scale (0.25 to 4),
// and its value for a factor of 1, where it starts.
inline constexpr int kZoomMin = 64;
inline constexpr int kZoomMax = 1024;
inline constexpr int kZoomUnity = 256;
inline constexpr int kDefaultZoom = kZoomUnity;
// The traces' brightness (the waveform's and the vectorscope's): kTraceFlat draws every
// hit at its full colour, as the instruments always have; 1 to kTraceMax draw a density
// display whose gain doubles at each step (TraceGain).
inline constexpr int kTraceFlat = 0;
inline constexpr int kTraceMax = 8;

struct Settings {
    std::array<bool, 3> channels{true, true, true};  // red, green, blue shown in the view
    bool mono = false;      // a single channel shown as greys (B/W Sep)
    bool negative = false;  // the view shown inverted
    int lamp = kDefaultLamp;  // graticule brightness, 0..255
    int zoom = kDefaultZoom;  // the vectorscope's zoom bar
    ScopeChannel scopeChannel = ScopeChannel::Parade;
    ScopeOrientation orientation = ScopeOrientation::Horizontal;
    ScalePlacement scale = ScalePlacement::Behind;
    korvex::LumaStandard luma = korvex::LumaStandard::Rec601;
    bool skinLine = false;  // the vectorscope's graticule shows the skin-tone line
    // Which instruments are on: their windows, or their panels in the one window.
    bool lineScopeShown = true;    // the Line box, Tools > Line Scope
    bool vectorscopeShown = true;  // the Vector box, Tools > Vector
    bool histogramShown = false;   // Tools > Histogram
    HistogramScale histogramScale = HistogramScale::Linear;
    HistogramChannel histogramChannel = HistogramChannel::Rgb;
    bool showClipping = false;  // the view marks clipped highlights and shadows
    ColourHandling colour = ColourHandling::ConvertToSrgb;  // Tools > Colour: what the decoder is asked for
    int trace = kTraceFlat;        // the traces' brightness, kTraceFlat .. kTraceMax
    std::vector<int> scopeLines;   // the line scope's reference lines, as 8-bit levels, ascending
    // The view recoloured by luma (Tools > False Colour) with these bands, and striped where
    // the picture reaches the zebra level (Tools > Zebra). The instruments are untouched.
    bool falseColour = false;
    std::vector<FalseColourBand> falseColourBands = DefaultFalseColourBands();
    bool zebra = false;
    int zebraLevel = kDefaultZebraLevel;  // Y, 0..255
    bool chromaticityShown = false;  // Tools > Chromaticity
    // A PQ or HLG picture shown as its stored values has the line scope's graticule and the
    // histogram's scale marked in nits, and their readings give nits (Tools > Colour > Nits Scale).
    bool nitsScale = false;
    // The raw histogram of a camera raw's photosites (Tools > Raw Histogram), its axis and
    // its count scale; and the view marked where photosites reach the white level (Tools >
    // Raw Clipping).
    bool rawHistogramShown = false;
    RawHistogramAxis rawHistogramAxis = RawHistogramAxis::Linear;
    HistogramScale rawHistogramScale = HistogramScale::Linear;
    bool rawClipping = false;

    bool operator==(const Settings&) const = default;
};

// The graticule colour of both instruments for a lamp value v: v * 256 + v (red and green).
constexpr std::uint32_t ScaleColorOf(int lamp) { return static_cast<std::uint32_t>(lamp * 256 + lamp); }

// The view's clipping markers (0x00RRGGBB): pure colours that no picture detail is
// mistaken for, the usual pair of photo editors: red where a channel is at 255, blue
// where a channel is at 0.
inline constexpr std::uint32_t kClipHighlightColour = 0x00FF0000;
inline constexpr std::uint32_t kClipShadowColour = 0x000000FF;

// How many of the view's channels are on, as the display modes tell them apart.
enum class ChannelMix { None, Single, Two, All };
ChannelMix MixOf(const std::array<bool, 3>& channels);
// The bits of a 0x00RRGGBB pixel the channels keep.
std::uint32_t ChannelMask(const std::array<bool, 3>& channels);

}  // namespace vistrel
