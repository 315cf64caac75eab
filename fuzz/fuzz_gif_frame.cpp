// The GIF first-frame check over any bytes.
#include <cstddef>
#include <cstdint>

#include "formats/FileHeaders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool complete = vistrel::headers::GifFirstFrameComplete({data, size});
    // A frame needs the header, the screen, a descriptor and a terminator at least.
    if (complete && size < 13 + 10 + 2) __builtin_trap();
    return 0;
}
