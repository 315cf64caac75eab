// The streaming WebP reader over any bytes, its rows going to a band sink as in the worker.
#include <cstddef>
#include <cstdint>

#include "fuzz/band_check.h"
#include "decoding/readers/WebpDecode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::BandCheck sink;
    const std::optional<vistrel::DecodeResult> result = vistrel::DecodeWebp({{data, size}, 0x336699, vistrel::ColourHandling::ConvertToSrgb, nullptr, &sink});
    sink.Verify(result);
    return 0;
}
