// A TIFF's embedded profile (tag 34675 of its first page) and its kind of samples.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "colour/ColourTags.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace tags = vistrel::colourtags;
    if (tags::TiffIccProfile(tags::Bytes(data, size)).size() > size) std::abort();
    (void)tags::TiffSamples(tags::Bytes(data, size));
    return 0;
}
