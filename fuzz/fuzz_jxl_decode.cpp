// The JPEG XL reader (libjxl) over any bytes, its rows going to a band sink as in the
// worker, through the colour conversion its tags ask for.
#include <cstddef>
#include <cstdint>

#include "decoding/readers/JxlDecode.h"
#include "fuzz/band_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::BandCheck sink;
    const std::optional<vistrel::DecodeResult> result =
        vistrel::DecodeJxl({{data, size}, 0x336699, vistrel::ColourHandling::ConvertToSrgb, nullptr, &sink});
    sink.Verify(result);
    return 0;
}
