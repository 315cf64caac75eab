// A JPEG's embedded profile, put together from its APP2 parts, EXIF's Adobe RGB marker and
// the frame's kind of samples.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>

#include "colour/ColourTags.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace tags = vistrel::colourtags;
    const tags::Bytes file(data, size);
    // Each part holds less than a segment's 64 KiB and there are at most 255 of them.
    if (tags::JpegIccProfile(file).size() > std::min<std::size_t>(size, 255 * 65535)) std::abort();
    (void)tags::JpegExifAdobeRgb(file);
    (void)tags::JpegSamples(file);
    return 0;
}
