#include "platform/FileHeaders.h"

#include <algorithm>
#include <cstring>

namespace vistrel::headers {
namespace {

std::uint32_t BigEndian16(const unsigned char* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }
std::uint32_t BigEndian32(const unsigned char* p) { return (BigEndian16(p) << 16) | BigEndian16(p + 2); }
std::uint32_t LittleEndian16(const unsigned char* p) { return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8); }
std::uint32_t LittleEndian32(const unsigned char* p) { return LittleEndian16(p) | (LittleEndian16(p + 2) << 16); }

bool IsFrameHeader(unsigned char marker) {
    // SOF0..SOF15 less DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

constexpr std::size_t kBmpFileHeaderBytes = 14;
constexpr std::uint32_t kBmpCoreHeaderBytes = 12;  // the oldest info header: 16-bit sides, no compression field

}  // namespace

// Qt's reader fills the missing rows of a cut-off file with grey and reports
// success, so a stream that ends before its end-of-image marker is taken as
// truncated by the caller.
JpegScan ScanJpeg(Bytes file) {
    const unsigned char* data = file.data();
    const std::size_t size = file.size();
    JpegScan scan;
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return scan;
    std::size_t pos = 2;
    while (pos < size) {
        if (data[pos] != 0xFF) return scan;
        while (pos < size && data[pos] == 0xFF) ++pos;  // fill bytes
        if (pos >= size) return scan;
        const unsigned char marker = data[pos++];
        if (marker == 0xD9) {
            scan.complete = true;
            return scan;
        }
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;  // no length follows
        if (pos + 2 > size) return scan;
        const std::size_t length = BigEndian16(data + pos);
        if (length < 2 || pos + length > size) return scan;
        if (IsFrameHeader(marker) && length >= 7 && scan.width < 0) {
            scan.height = BigEndian16(data + pos + 3);
            scan.width = BigEndian16(data + pos + 5);
        }
        pos += length;
        if (marker != 0xDA) continue;
        // Entropy-coded data: runs to the next marker that is neither a
        // stuffed zero nor a restart marker.
        for (;;) {
            const void* found = std::memchr(data + pos, 0xFF, size - pos);
            if (!found) return scan;
            pos = static_cast<std::size_t>(static_cast<const unsigned char*>(found) - data);
            if (pos + 1 >= size) return scan;
            const unsigned char next = data[pos + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7) || next == 0xFF) {
                pos += next == 0xFF ? 1 : 2;
                continue;
            }
            break;
        }
    }
    return scan;
}

ClaimedSize ReadClaimedSize(Bytes file) {
    const unsigned char* p = file.data();
    const std::size_t n = file.size();
    if (n >= 24 && std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0 && std::memcmp(p + 12, "IHDR", 4) == 0)
        return {BigEndian32(p + 16), BigEndian32(p + 20)};
    if (n >= 26 && p[0] == 'B' && p[1] == 'M') {
        const std::uint32_t infoSize = LittleEndian32(p + 14);
        if (infoSize == kBmpCoreHeaderBytes) return {LittleEndian16(p + 18), LittleEndian16(p + 20)};
        const auto width = static_cast<std::int32_t>(LittleEndian32(p + 18));
        const auto height = static_cast<std::int32_t>(LittleEndian32(p + 22));
        // A negative height means rows stored top-down.
        return {width, height < 0 ? -std::int64_t{height} : std::int64_t{height}};
    }
    if (n >= 10 && (std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0)) {
        // Frames are placed on the logical screen; a zero screen is left to
        // the reader, which then sizes the picture from its first frame.
        const std::int64_t width = LittleEndian16(p + 6), height = LittleEndian16(p + 8);
        if (width == 0 || height == 0) return {};
        return {width, height};
    }
    return {};
}

// Qt's reader takes a file cut off inside the first frame and returns what it got.
bool GifFirstFrameComplete(Bytes file) {
    const unsigned char* data = file.data();
    const std::size_t size = file.size();
    constexpr std::size_t kHeaderBytes = 13;  // signature, version, logical screen
    if (size < kHeaderBytes) return false;
    std::size_t pos = kHeaderBytes;
    auto skipTable = [&](unsigned char packed) {
        if (packed & 0x80) pos += 3 * (std::size_t{2} << (packed & 0x07));
    };
    auto skipSubBlocks = [&]() {
        while (pos < size) {
            const std::size_t length = data[pos++];
            if (length == 0) return true;
            pos += length;
        }
        return false;
    };
    skipTable(data[10]);
    while (pos < size) {
        const unsigned char introducer = data[pos++];
        if (introducer == 0x21) {  // extension: label, then sub-blocks
            if (++pos > size || !skipSubBlocks()) return false;
        } else if (introducer == 0x2C) {  // image: descriptor, local table, code size, data
            if (pos + 9 > size) return false;
            const unsigned char packed = data[pos + 8];
            pos += 9;
            skipTable(packed);
            if (++pos > size) return false;
            return skipSubBlocks();
        } else {
            return false;  // the trailer or anything else before any image
        }
    }
    return false;
}

// Qt's reader stops at the first short row and reports success, leaving the
// rows it never read as the heap held them; a file too short for its rows is
// refused here before the reader allocates them.
bool BmpHoldsItsRows(Bytes file) {
    const unsigned char* p = file.data();
    const std::size_t n = file.size();
    constexpr std::size_t kInfoFields = kBmpFileHeaderBytes + 16;  // through the compression field
    if (n < kBmpFileHeaderBytes + 4 || p[0] != 'B' || p[1] != 'M') return true;
    const std::uint32_t infoSize = LittleEndian32(p + 14);
    std::int64_t width = 0, height = 0, bitCount = 0;
    if (infoSize == kBmpCoreHeaderBytes) {
        if (n < kBmpFileHeaderBytes + kBmpCoreHeaderBytes) return false;
        width = LittleEndian16(p + 18);
        height = LittleEndian16(p + 20);
        bitCount = LittleEndian16(p + 24);
    } else {
        if (infoSize < 16 || n < kInfoFields) return true;  // a header the reader judges
        width = static_cast<std::int32_t>(LittleEndian32(p + 18));
        height = static_cast<std::int32_t>(LittleEndian32(p + 22));
        bitCount = LittleEndian16(p + 28);
        const std::uint32_t compression = infoSize >= 20 ? LittleEndian32(p + 30) : 0;
        constexpr std::uint32_t kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;  // rows stored as they are
        if (compression != kRgb && compression != kBitFields && compression != kAlphaBitFields) return true;
    }
    if (width <= 0 || bitCount == 0) return true;
    if (height < 0) height = -height;
    // Rows start at the stated offset, and never before the end of the info header.
    const std::int64_t rowsStart = std::max<std::int64_t>(LittleEndian32(p + 10), kBmpFileHeaderBytes + std::int64_t{infoSize});
    const std::int64_t stride = (width * bitCount + 31) / 32 * 4;
    const auto size = static_cast<std::int64_t>(n);
    return rowsStart <= size && height <= (size - rowsStart) / stride;
}

std::vector<int> IconEntriesHeld(Bytes file) {
    constexpr std::size_t kDirectoryHeaderBytes = 6;  // reserved, type, count
    constexpr std::size_t kEntryBytes = 16;
    constexpr std::size_t kImageOffsetAt = 12;  // within an entry
    std::vector<int> held;
    const unsigned char* p = file.data();
    const std::size_t n = file.size();
    if (n < kDirectoryHeaderBytes || LittleEndian16(p) != 0) return held;
    const std::size_t declared = LittleEndian16(p + 4);
    const std::size_t fit = (n - kDirectoryHeaderBytes) / kEntryBytes;
    const std::size_t count = std::min(declared, fit);
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* entry = p + kDirectoryHeaderBytes + i * kEntryBytes;
        if (LittleEndian32(entry + kImageOffsetAt) < n) held.push_back(static_cast<int>(i));
    }
    return held;
}

}  // namespace vistrel::headers
