#pragma once
// Pictures a library decodes whole (HEIC, AVIF, JPEG XL): its interleaved samples handed
// on band by band as the other readers' opaque pixels, in the colours its tags mean.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "colour/ColourTags.h"
#include "decoding/Decode.h"
#include "decoding/RowReceiver.h"

namespace vistrel {

// Samples as a library leaves them: R, G, B (and A) interleaved, 8 bits each or 16 bits
// in the machine's order, of which the lowest `bits` are used (10 and 12 bits are kept
// as they are, not widened).
struct DecodedPlane {
    const unsigned char* data = nullptr;
    std::size_t stride = 0;  // bytes from one row to the next
    int width = 0, height = 0;
    int channels = 3;  // 3, or 4 with straight alpha last
    bool sixteen = false;
    int bits = 8;
};

// What colours the library says the samples mean: an ICC profile, H.273's code points
// for primaries and transfer (the matrix is the library's business, the samples are RGB),
// or a bare gamma with the primaries when they are not sRGB's; and whether the picture
// is grey (handed over as RGB), whose profile must then be grey.
struct LibraryColour {
    std::vector<unsigned char> profile;
    std::optional<colourtags::Cicp> cicp;
    std::optional<std::uint32_t> gamma;  // in units of 1 / 100000, as PNG's gAMA
    std::optional<colourtags::Chromaticities> chromaticities;
    colourtags::SampleKind samples = colourtags::SampleKind::Unknown;
};

namespace decoded_rows {
// One row of samples as opaque pixels: each sample to the nearest of 256 levels, alpha
// over the background as the other readers composite it.
void ToPixels(const DecodedPlane& plane, int y, Pixel* out, ColorValue background);
}  // namespace decoded_rows

// The plane's rows to the receiver or the sink (into the sink's own place when it offers
// one), converted to sRGB band by band unless the colours mean sRGB or stored values are
// asked for. The result names the source space, and says when an HDR signal was rendered
// as SDR.
DecodeResult DeliverDecodedRows(const DecodedPlane& plane, ColorValue background, const LibraryColour& colour,
                                ColourHandling handling, RowReceiver* receiver, BandSink* sink);

}  // namespace vistrel
