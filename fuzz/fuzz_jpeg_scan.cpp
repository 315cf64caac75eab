// The JPEG segment walk over any bytes.
#include <cstddef>
#include <cstdint>

#include "formats/FileHeaders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const vistrel::headers::JpegScan scan = vistrel::headers::ScanJpeg({data, size});
    // The sides come from two bytes each, or are unknown.
    if (scan.width < -1 || scan.width > 0xFFFF || scan.height < -1 || scan.height > 0xFFFF) __builtin_trap();
    // Walking only to the frame header tells the same size.
    const vistrel::headers::JpegScan head =
        vistrel::headers::ScanJpeg({data, size}, vistrel::headers::JpegWalk::ToFrameHeader);
    if (head.width != scan.width || head.height != scan.height) __builtin_trap();
    return 0;
}
