// The metafile header checks and record walk over any bytes.
#include <cstddef>
#include <cstdint>

#include "formats/FileHeaders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace headers = vistrel::headers;
    const headers::Bytes file(data, size);
    if (!headers::LooksLikeMetafile(file)) return 0;
    // The walk starts where the renderer starts it, or anywhere at all.
    (void)headers::FirstWindowOrigin(file, headers::kPlaceableHeaderBytes + 18);
    (void)headers::FirstWindowOrigin(file, size > 0 ? data[0] * std::size_t{7} : 0);
    (void)headers::MetafileRecordsPlayable(file, 32768);
    return 0;
}
