// The readers of what a header claims: sizes, bitmap rows, icon directories.
#include <cstddef>
#include <cstdint>

#include "formats/FileHeaders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace headers = vistrel::headers;
    const headers::Bytes file(data, size);
    // Every format's walker, whatever the bytes are: each must stay inside them.
    for (const auto walk : {headers::PngClaims, headers::BmpClaims, headers::TiffClaims, headers::WebpClaims,
                            headers::GifClaims, headers::JpegClaims, headers::OtherClaims}) {
        const headers::Claims claims = walk(file);
        if (claims.size.known() && claims.size.height < 0) __builtin_trap();
        const headers::ClaimedSize largest = claims.largest;
        if (largest.known() && (largest.height < 0 || largest.width > 0xFFFFFFFF)) __builtin_trap();
    }
    (void)headers::BmpHoldsItsRows(file);
    int previous = -1;
    for (const int entry : headers::IconEntriesHeld(file)) {
        // In file order, each within the directory the file holds.
        if (entry <= previous || 6 + 16 * static_cast<std::size_t>(entry) + 16 > size) __builtin_trap();
        previous = entry;
    }
    return 0;
}
