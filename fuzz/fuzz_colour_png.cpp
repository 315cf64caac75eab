// A PNG's colour chunks walked: iCCP (inflated), sRGB, gAMA, cHRM and cICP.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "colour/ColourTags.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace tags = vistrel::colourtags;
    const tags::FileColour colour = tags::PngColour(tags::Bytes(data, size));
    if (colour.profile.size() > tags::kMaxProfileBytes) std::abort();
    return 0;
}
