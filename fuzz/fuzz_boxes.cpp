// Our walkers of ISO base media boxes (HEIF's image sizes, whether the boxes run to the
// file's end) and of JPEG XL's size header.
#include <cstddef>
#include <cstdint>

#include "formats/FileHeaders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace headers = vistrel::headers;
    const headers::Bytes file(data, size);
    // The walk itself must stay inside the bytes, whatever their sizes claim.
    (void)headers::BoxesRunToTheEnd(file);
    const headers::ClaimedSize claimed = headers::ReadClaimedSize(file);
    if (claimed.known() && (claimed.width < 1 || claimed.height < 1)) {
        // Only the walkers of other formats may read a zero side.
        if (size >= 2 && data[0] == 0xFF && data[1] == 0x0A) __builtin_trap();
    }
    const headers::ClaimedSize largest = headers::LargestClaimedSize(file);
    if (largest.known() && (largest.width < 0 || largest.height < 0 || largest.width > 0xFFFFFFFFll)) __builtin_trap();
    return 0;
}
