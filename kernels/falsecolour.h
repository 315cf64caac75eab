#pragma once
// False colour and zebras, as the view shows them. Like the clipping marks, each view
// pixel is marked with what the full-size pixels it covers reach: every luma band one of
// them falls in, and whether one of them is at or above the zebra level. A band a single
// full-size pixel falls in is never averaged away, and the view's own average never makes
// a band that no full-size pixel is in.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "kernels/korvex.h"

namespace korvex {

// A band of luma levels, low to high, both inclusive, and the colour (0x00RRGGBB) that
// false colour shows it in. A band with low > high covers no level.
struct LumaBand {
    int low = 0;
    int high = 0;
    Pixel colour = 0;

    bool operator==(const LumaBand&) const = default;
};

// Bands past this many are ignored: each takes one bit of a view pixel's mark.
inline constexpr std::size_t kMaxLumaBands = 16;
// The mark bit of a full-size pixel at or above the zebra level.
inline constexpr std::uint32_t kZebraMark = 1u << 31;

// What each luma level marks, and the colour of each band bit. Bit k of a level's mark is
// the band ranked k-th: where the pixels under one view pixel fall in several bands, the
// lowest bit set wins. The ranking: the band whose farthest level lies farthest from the
// middle of the scale (127.5) first, as the ends of the scale (crushed and blown) matter
// most; at the same distance the brighter band (a view pixel both blown and crushed shows
// as blown, as the clipping marks do); then the band given first.
struct LumaMarking {
    std::array<std::uint32_t, 256> levels{};
    std::array<Pixel, kMaxLumaBands> colours{};

    bool operator==(const LumaMarking&) const = default;
};
// Levels outside 0..255 in a band are clamped; a zebra level above 255 marks no level.
LumaMarking MarkingOf(std::span<const LumaBand> bands, int zebraLevel);

// The marks of a viewWidth x viewHeight view of a sourceWidth x sourceHeight picture
// (rows `stride` pixels apart, each pixel's luma in its fourth byte): the OR of the
// marking's marks of every full-size pixel the view pixel covers, by the same interval
// rule as ClipMarks (view column X covers source columns [X * sw / vw, (X + 1) * sw / vw),
// every column that interval touches counting; the same down). Empty for an empty side.
std::vector<std::uint32_t> LumaMarks(const Pixel* source, std::size_t sourceWidth, std::size_t sourceHeight,
                                     std::size_t stride, std::size_t viewWidth, std::size_t viewHeight,
                                     const LumaMarking& marking);

// The false-colour view: out[i] is the colour of the winning band of marks[i], or, where
// no band is marked, the grey of view[i]'s luma (its fourth byte: the view pixel's own
// luma under the standard the picture is analysed with). Out pixels have fourth byte 0.
void ApplyFalseColour(const Pixel* view, const std::uint32_t* marks, Pixel* out, std::size_t n,
                      const LumaMarking& marking);

// Zebra stripes run diagonally (up to the right), kZebraPeriod view pixels from one
// stripe's start to the next, each kZebraWidth pixels wide: view pixel (x, y) is on a
// stripe when (x + y) mod kZebraPeriod < kZebraWidth. Half the pixels stay as they are, so
// the picture (or its false colour) still shows between the stripes.
inline constexpr std::size_t kZebraPeriod = 4;
inline constexpr std::size_t kZebraWidth = 2;
// A stripe pixel over a light pixel (Rec. 601 luma 128 or more) is black, over a dark
// one white, so that the stripes show over any colour the view has.
inline constexpr Pixel kZebraDark = 0x000000;
inline constexpr Pixel kZebraLight = 0xFFFFFF;

// Stripes over the width x height view, in place, on every pixel whose mark has
// kZebraMark and that lies on a stripe.
void ApplyZebra(Pixel* view, const std::uint32_t* marks, std::size_t width, std::size_t height);

}  // namespace korvex
