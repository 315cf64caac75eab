// The readers of what a header claims: sizes, bitmap rows, icon directories, camera raw
// files' directories.
#include <cstddef>
#include <cstdint>

#include "formats/FileHeaders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace headers = vistrel::headers;
    const headers::Bytes file(data, size);
    // Every format's walker, whatever the bytes are: each must stay inside them.
    for (const auto walk : {headers::PngClaims, headers::BmpClaims, headers::TiffClaims, headers::WebpClaims,
                            headers::GifClaims, headers::JpegClaims, headers::OtherClaims, headers::RawClaims}) {
        const headers::Claims claims = walk(file);
        if (claims.size.known() && claims.size.height < 0) __builtin_trap();
        const headers::ClaimedSize largest = claims.largest;
        if (largest.known() && (largest.height < 0 || largest.width > 0xFFFFFFFF)) __builtin_trap();
    }
    (void)headers::BmpHoldsItsRows(file);
    // Whatever a raw file's directories claim, the walk ends, and only files taken as raw
    // have a size from it.
    const bool raw = headers::LooksLikeCameraRaw(file);
    const headers::RawWalk walk = headers::WalkRaw(file);
    if (!raw && walk.largest.known()) __builtin_trap();
    int previous = -1;
    for (const int entry : headers::IconEntriesHeld(file)) {
        // In file order, each within the directory the file holds.
        if (entry <= previous || 6 + 16 * static_cast<std::size_t>(entry) + 16 > size) __builtin_trap();
        previous = entry;
    }
    return 0;
}
