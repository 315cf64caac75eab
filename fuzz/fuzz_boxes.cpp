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
    // A JPEG XL size header never reads a zero side.
    const headers::ClaimedSize claimed = headers::JxlClaims(file).size;
    if (claimed.known() && (claimed.width < 1 || claimed.height < 1)) __builtin_trap();
    const headers::ClaimedSize largest = headers::HeifClaims(file).largest;
    if (largest.known() && (largest.width < 0 || largest.height < 0 || largest.width > 0xFFFFFFFFll)) __builtin_trap();
    return 0;
}
