// The readers of what a header claims: sizes, bitmap rows, icon directories.
#include <cstddef>
#include <cstdint>

#include "formats/FileHeaders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace headers = vistrel::headers;
    const headers::Bytes file(data, size);
    const headers::ClaimedSize claimed = headers::ReadClaimedSize(file);
    if (claimed.known() && claimed.height < 0) __builtin_trap();
    const headers::ClaimedSize largest = headers::LargestClaimedSize(file);
    if (largest.known() && (largest.height < 0 || largest.width > 0xFFFFFFFF)) __builtin_trap();
    (void)headers::BmpHoldsItsRows(file);
    int previous = -1;
    for (const int entry : headers::IconEntriesHeld(file)) {
        // In file order, each within the directory the file holds.
        if (entry <= previous || 6 + 16 * static_cast<std::size_t>(entry) + 16 > size) __builtin_trap();
        previous = entry;
    }
    return 0;
}
