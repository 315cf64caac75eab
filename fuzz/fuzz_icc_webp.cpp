// A WebP's embedded profile (its ICCP chunk).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "colour/ColourTags.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace tags = vistrel::colourtags;
    if (tags::WebpIccProfile(tags::Bytes(data, size)).size() > size) std::abort();
    return 0;
}
