#pragma once
// PNG decoding into the 32-bit top-down surface or a band sink, band by band: libdeflate
// and our own unfiltering for the common kinds, libspng's rows for the rest.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "decoding/Readers.h"

namespace vistrel {

// Decodes a whole PNG stream into opaque 32-bit pixels, transparent parts composited over
// the background exactly as the program's Qt path composites them. The receiver, when
// given, hears of the buffer and of each band of rows as it lands; with a sink, the bands
// go there instead from a band buffer of their own, and the result holds a null surface.
// Non-interlaced pictures of 8 and 16 bits are inflated whole by libdeflate, then
// unfiltered and converted band by band; the others go through libspng's rows (interlaced
// ones decoded whole first, then handed over band by band). A picture whose eXIf chunk
// records an orientation other than 1 is decoded whole, turned upright and handed to the
// receiver at once (never to the sink), as a turned JPEG is. Nothing (std::nullopt) when
// the stream fails before its first row (a chunk libspng refuses): Qt's reader then
// decides, as it always did.
ReadResult DecodePng(const ReaderInput& input);

namespace png_detail {

// One row of RGBA, 8 bits a channel, as opaque RGB32 over the background.
void Rgba8ToRgb32(const std::uint8_t* rgba, Pixel* out, std::size_t width, Pixel background);
// One row of RGBA, 16 bits a channel (native byte order), as opaque RGB32 over the
// background: each channel first rounded to 8 bits as Qt rounds them (x / 257, nearest).
void Rgba16ToRgb32(const std::uint16_t* rgba, Pixel* out, std::size_t width, Pixel background);

// How a non-interlaced picture of 8 or 16 bits keeps its samples, once unfiltered.
struct RawLayout {
    int colorType = 0;              // PNG's: 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGBA
    bool sixteen = false;           // 16 bits a sample, big-endian
    bool transparentColor = false;  // a tRNS colour: key holds it (grey in key[0])
    std::uint16_t key[3] = {0, 0, 0};
    std::array<Pixel, 256> palette{};  // straight ARGB; past the file's entries, its first
    Pixel background = 0;
};
// One unfiltered row of those samples as opaque RGB32 over the background.
void RawToRgb32(const RawLayout& layout, const std::uint8_t* samples, Pixel* out, std::size_t width);

}  // namespace png_detail

}  // namespace vistrel
