#pragma once
// The one walker of a JPEG's marker segments, safe on any bytes.

#include <cstddef>
#include <cstring>
#include <span>

#include "formats/ByteOrder.h"

namespace vistrel::headers {

// How far a walk goes: to the first scan (the segments that describe the picture), or
// over every scan's entropy-coded data to the end-of-image marker.
enum class JpegScope { BeforeFirstScan, ToTheEnd };

// Tells visit(marker, payload) of each segment that has a length, from the start-of-image
// marker on; visit returns false to stop there. True when the walk reached the
// end-of-image marker.
template <typename Visit>
bool WalkJpegSegments(std::span<const unsigned char> file, JpegScope scope, Visit visit) {
    const unsigned char* data = file.data();
    const std::size_t size = file.size();
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    std::size_t pos = 2;
    while (pos < size) {
        if (data[pos] != 0xFF) return false;
        while (pos < size && data[pos] == 0xFF) ++pos;  // fill bytes
        if (pos >= size) return false;
        const unsigned char marker = data[pos++];
        if (marker == 0xD9) return true;
        if (marker == 0xDA && scope == JpegScope::BeforeFirstScan) return false;
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;  // no length follows
        if (size - pos < 2) return false;
        const std::size_t length = bytes::Big16(data + pos);
        if (length < 2 || length > size - pos) return false;
        if (!visit(marker, file.subspan(pos + 2, length - 2))) return false;
        pos += length;
        if (marker != 0xDA) continue;
        // Entropy-coded data: runs to the next marker that is neither a stuffed zero nor a
        // restart marker.
        for (;;) {
            const void* found = std::memchr(data + pos, 0xFF, size - pos);
            if (!found) return false;
            pos = static_cast<std::size_t>(static_cast<const unsigned char*>(found) - data);
            if (pos + 1 >= size) return false;
            const unsigned char next = data[pos + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7) || next == 0xFF) {
                pos += next == 0xFF ? 1 : 2;
                continue;
            }
            break;
        }
    }
    return false;
}

// Start of frame: every SOFn but DHT (C4), JPG (C8) and DAC (CC), which share the range.
constexpr bool IsJpegFrameHeader(unsigned char marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

}  // namespace vistrel::headers
