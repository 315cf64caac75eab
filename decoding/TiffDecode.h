#pragma once
// TIFF decoding with libtiff, strip by strip or tile row by tile row, into the 32-bit
// top-down surface.

#include <cstddef>
#include <optional>

#include "decoding/Decode.h"
#include "decoding/RowReceiver.h"

namespace vistrel {

// Decodes the first page of a TIFF file band by band, to the same pixels Qt's reader and
// the shared conversion give: 8-bit RGB with or without alpha, 16-bit RGB with or without
// alpha, 8- and 16-bit greyscale, 8-bit palette; any compression libtiff reads but JPEG.
// The receiver, when given, hears of the buffer and of each band of rows as it lands;
// with a sink, the bands go there from a band buffer of their own and the result holds
// a null surface. Nothing (std::nullopt) for every other kind (CMYK, YCbCr, separate
// planes, fewer than 8 bits, floating point, a turned picture): Qt's reader takes those.
std::optional<DecodeResult> DecodeTiff(const unsigned char* data, std::size_t size, ColorValue background,
                                       RowReceiver* receiver, BandSink* sink = nullptr);

}  // namespace vistrel
