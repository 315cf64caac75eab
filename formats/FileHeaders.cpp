#include "formats/FileHeaders.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <functional>
#include <optional>
#include <queue>

#include "formats/ByteOrder.h"
#include "formats/IsoBoxes.h"
#include "formats/JpegSegments.h"
#include "formats/TiffDirectory.h"

namespace vistrel::headers {
namespace {

using bytes::Big16;
using bytes::Big32;
using bytes::Little16;
using bytes::Little24;
using bytes::Little32;

// A TIFF's first page: its image width and length tags (short or long), in the file's
// byte order. Unknown for anything else (BigTIFF, a directory outside the file).
ClaimedSize TiffFirstPageSize(Bytes file) {
    constexpr std::uint32_t kImageWidth = 256, kImageLength = 257;
    const TiffDirectory tiff(file);
    if (!tiff.ok()) return {};
    const std::size_t directory = tiff.FirstDirectory();
    const std::optional<std::uint32_t> width = tiff.Single(directory, kImageWidth);
    const std::optional<std::uint32_t> height = tiff.Single(directory, kImageLength);
    if (!width || !height) return {};
    return {*width, *height};
}

// A portable bitmap, grey map or pixmap: its magic, then width and height as decimal
// numbers between white space and comments (a '#' to the end of its line).
ClaimedSize PortableAnymapSize(Bytes file) {
    std::size_t pos = 2;
    const auto number = [&]() -> std::int64_t {
        for (;;) {
            while (pos < file.size() && std::isspace(file[pos])) ++pos;
            if (pos >= file.size() || file[pos] != '#') break;
            while (pos < file.size() && file[pos] != '\n' && file[pos] != '\r') ++pos;
        }
        if (pos >= file.size() || !std::isdigit(file[pos])) return -1;
        std::int64_t value = 0;
        for (; pos < file.size() && std::isdigit(file[pos]); ++pos) {
            value = value * 10 + (file[pos] - '0');
            if (value > std::int64_t{1} << 32) return -1;  // no side is that long
        }
        return value;
    };
    if (!std::isspace(file[2]) && file[2] != '#') return {};
    const std::int64_t width = number();
    const std::int64_t height = width < 0 ? -1 : number();
    if (height < 0) return {};
    return {width, height};
}

constexpr std::size_t kBmpFileHeaderBytes = 14;
constexpr std::uint32_t kBmpCoreHeaderBytes = 12;  // the oldest info header: 16-bit sides, no compression field

// A size the header declares, which is also the largest picture it may hold.
Claims Claimed(ClaimedSize size) { return {size, size}; }

// A claim's area. Sides read from 32 bits overflow a signed 64-bit product.
std::uint64_t Area(const ClaimedSize& s) { return std::uint64_t(s.width) * std::uint64_t(s.height); }

// The largest of a HEIF file's image sizes (ispe properties): a grid picture's own size
// is larger than any of its tiles.
ClaimedSize HeifLargestSize(Bytes file) {
    ClaimedSize largest;
    constexpr std::size_t kFullBoxHeader = 4;  // version and flags
    ForEachBox(file, 0, file.size(), [&](const Box& meta) {
        if (!meta.is("meta") || meta.end - meta.payload < kFullBoxHeader) return;
        ForEachBox(file, meta.payload + kFullBoxHeader, meta.end, [&](const Box& iprp) {
            if (!iprp.is("iprp")) return;
            ForEachBox(file, iprp.payload, iprp.end, [&](const Box& ipco) {
                if (!ipco.is("ipco")) return;
                ForEachBox(file, ipco.payload, ipco.end, [&](const Box& ispe) {
                    constexpr std::size_t kIspeBytes = kFullBoxHeader + 8;
                    if (!ispe.is("ispe") || ispe.end - ispe.payload < kIspeBytes) return;
                    const unsigned char* p = file.data() + ispe.payload + kFullBoxHeader;
                    const ClaimedSize size{Big32(p), Big32(p + 4)};
                    if (!largest.known() || Area(size) > Area(largest)) largest = size;
                });
            });
        });
    });
    return largest;
}

// JPEG XL's size header, read bit by bit from the lowest bit of each byte.
class LowFirstBits {
public:
    explicit LowFirstBits(Bytes bytes) : bytes_(bytes) {}
    std::uint64_t Read(int count) {
        std::uint64_t value = 0;
        for (int i = 0; i < count; ++i, ++at_) {
            if (at_ / 8 >= bytes_.size()) {
                ok_ = false;
                return 0;
            }
            value |= std::uint64_t{(bytes_[at_ / 8] >> (at_ % 8)) & 1u} << i;
        }
        return value;
    }
    bool ok() const { return ok_; }

private:
    Bytes bytes_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

ClaimedSize JxlCodestreamSize(Bytes stream) {
    if (stream.size() < 2 || stream[0] != 0xFF || stream[1] != 0x0A) return {};
    LowFirstBits bits(stream.subspan(2));
    // A side of one of four widths, chosen by two bits.
    const auto side = [&bits] {
        constexpr int kWidths[] = {9, 13, 18, 30};
        return 1 + bits.Read(kWidths[bits.Read(2)]);
    };
    constexpr std::uint64_t kSmallStep = 8;  // small sides count in eights
    const bool small = bits.Read(1) != 0;
    const std::uint64_t height = small ? (bits.Read(5) + 1) * kSmallStep : side();
    const std::uint64_t ratio = bits.Read(3);
    // Widths the header gives as a ratio to the height.
    constexpr std::uint64_t kRatios[8][2] = {{0, 1}, {1, 1}, {12, 10}, {4, 3}, {3, 2}, {16, 9}, {5, 4}, {2, 1}};
    const std::uint64_t width =
        ratio != 0 ? height * kRatios[ratio][0] / kRatios[ratio][1] : small ? (bits.Read(5) + 1) * kSmallStep : side();
    if (!bits.ok()) return {};
    return {static_cast<std::int64_t>(width), static_cast<std::int64_t>(height)};
}

ClaimedSize JxlSize(Bytes file) {
    static constexpr unsigned char kContainer[12] = {0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    if (file.size() < sizeof kContainer || std::memcmp(file.data(), kContainer, sizeof kContainer) != 0)
        return JxlCodestreamSize(file);
    // The container: the codestream whole, or its first part after the part's index.
    ClaimedSize size;
    bool found = false;
    ForEachBox(file, 0, file.size(), [&](const Box& box) {
        if (found || !(box.is("jxlc") || box.is("jxlp"))) return;
        found = true;
        const std::size_t skip = box.is("jxlp") ? 4 : 0;
        if (box.end - box.payload >= skip) size = JxlCodestreamSize(file.subspan(box.payload + skip, box.end - box.payload - skip));
    });
    return size;
}

}  // namespace

// Qt's reader fills the missing rows of a cut-off file with grey and reports
// success, so a stream that ends before its end-of-image marker is taken as
// truncated by the caller.
JpegScan ScanJpeg(Bytes file, JpegWalk walk) {
    JpegScan scan;
    scan.complete = WalkJpegSegments(file, JpegScope::ToTheEnd, [&](unsigned char marker, Bytes payload) {
        // The precision, then the height and the width.
        if (!IsJpegFrameHeader(marker) || payload.size() < 5 || scan.width >= 0) return true;
        scan.height = Big16(payload.data() + 1);
        scan.width = Big16(payload.data() + 3);
        return walk == JpegWalk::ToTheEnd;
    });
    return scan;
}

Claims PngClaims(Bytes file) {
    const unsigned char* p = file.data();
    if (file.size() < 24 || std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) != 0 || std::memcmp(p + 12, "IHDR", 4) != 0) return {};
    return Claimed({Big32(p + 16), Big32(p + 20)});
}

Claims BmpClaims(Bytes file) {
    const unsigned char* p = file.data();
    if (file.size() < 26 || p[0] != 'B' || p[1] != 'M') return {};
    const std::uint32_t infoSize = Little32(p + 14);
    if (infoSize == kBmpCoreHeaderBytes) return Claimed({Little16(p + 18), Little16(p + 20)});
    const auto width = static_cast<std::int32_t>(Little32(p + 18));
    const auto height = static_cast<std::int32_t>(Little32(p + 22));
    // A negative height means rows stored top-down.
    return Claimed({width, height < 0 ? -std::int64_t{height} : std::int64_t{height}});
}

Claims TiffClaims(Bytes file) {
    if (file.size() < 8 || !(std::memcmp(file.data(), "II*\0", 4) == 0 || std::memcmp(file.data(), "MM\0*", 4) == 0))
        return {};
    return Claimed(TiffFirstPageSize(file));
}

Claims WebpClaims(Bytes file) {
    const unsigned char* p = file.data();
    if (file.size() < 30 || std::memcmp(p, "RIFF", 4) != 0 || std::memcmp(p + 8, "WEBP", 4) != 0) return {};
    const unsigned char* payload = p + 20;
    if (std::memcmp(p + 12, "VP8 ", 4) == 0 && std::memcmp(payload + 3, "\x9d\x01\x2a", 3) == 0)
        return Claimed({Little16(payload + 6) & 0x3FFF, Little16(payload + 8) & 0x3FFF});
    if (std::memcmp(p + 12, "VP8L", 4) == 0 && payload[0] == 0x2F) {
        const std::uint32_t bits = Little32(payload + 1);
        return Claimed({(bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1});
    }
    // An extended file's canvas, which an animation's frames are drawn on.
    if (std::memcmp(p + 12, "VP8X", 4) == 0)
        return Claimed({std::int64_t{Little24(payload + 4)} + 1, std::int64_t{Little24(payload + 7)} + 1});
    return {};
}

Claims GifClaims(Bytes file) {
    const unsigned char* p = file.data();
    if (file.size() < 10 || !(std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0)) return {};
    // Frames are placed on the logical screen; a zero screen is left to the reader,
    // which then sizes the picture from its first frame.
    const std::int64_t width = Little16(p + 6), height = Little16(p + 8);
    if (width == 0 || height == 0) return {};
    return Claimed({width, height});
}

Claims JxlClaims(Bytes file) { return Claimed(JxlSize(file)); }

Claims JpegClaims(Bytes file) {
    const JpegScan jpeg = ScanJpeg(file, JpegWalk::ToFrameHeader);
    if (jpeg.width < 0) return {};
    return Claimed({jpeg.width, jpeg.height});
}

Claims HeifClaims(Bytes file) {
    if (!StartsWithBrandBox(file)) return {};
    return {{}, HeifLargestSize(file)};
}

Claims OtherClaims(Bytes file) {
    const unsigned char* p = file.data();
    if (file.size() >= 3 && p[0] == 'P' && p[1] >= '1' && p[1] <= '6') return Claimed(PortableAnymapSize(file));
    // An icon's largest entry: the directory's sides (0 meaning 256), or those of the
    // PNG an entry holds.
    ClaimedSize largest;
    for (const int i : IconEntriesHeld(file)) {
        const unsigned char* entry = file.data() + 6 + 16 * static_cast<std::size_t>(i);
        ClaimedSize size{entry[0] == 0 ? 256 : entry[0], entry[1] == 0 ? 256 : entry[1]};
        const std::size_t at = Little32(entry + 12);
        if (const ClaimedSize png = PngClaims(file.subspan(at)).size; png.known()) size = png;
        if (!largest.known() || Area(size) > Area(largest)) largest = size;
    }
    return {{}, largest};
}

bool StartsWithBrandBox(Bytes file) { return file.size() >= 12 && std::memcmp(file.data() + 4, "ftyp", 4) == 0; }

bool LooksLikeJxl(Bytes file) {
    static constexpr unsigned char kCodestream[] = {0xFF, 0x0A};
    static constexpr unsigned char kContainer[] = {0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    const auto startsWith = [file](std::span<const unsigned char> signature) {
        return file.size() >= signature.size() && std::memcmp(file.data(), signature.data(), signature.size()) == 0;
    };
    return startsWith(kCodestream) || startsWith(kContainer);
}

bool BoxesRunToTheEnd(Bytes file) {
    std::size_t end = 0;
    ForEachBox(file, 0, file.size(), [&end](const Box& box) { end = box.end; });
    return end == file.size();
}

namespace {

// The LZW codes of a GIF image decoded as the reader decodes them (Qt's), counting the
// pixels they give instead of keeping them: a code's string is known by its length
// alone, which is remembered for each table entry once it has been followed. The reader
// stops at an end code and at a code it cannot follow (one past the table, or a chain
// of entries that never reaches a single index), and so does the count. Each code costs
// a few steps: a whole file's entries are known as they are made.
class LzwPixelCount {
public:
    static constexpr unsigned kLargestCodeSize = 12;  // the reader refuses a larger starting size
    explicit LzwPixelCount(unsigned codeSize) : rootSize_(codeSize) { Restart(); }
    // Takes the next bytes of the image's data; false once the codes have ended.
    bool Take(const unsigned char* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            accumulated_ |= std::uint32_t{bytes[i]} << bits_;
            bits_ += 8;
            while (bits_ >= codeBits_) {
                const unsigned code = accumulated_ & ((1u << codeBits_) - 1);
                accumulated_ >>= codeBits_;
                bits_ -= codeBits_;
                if (!Decode(code)) return false;
            }
        }
        return true;
    }
    std::uint64_t pixels() const { return pixels_; }

private:
    static constexpr unsigned kTableSize = 1u << kLargestCodeSize;
    void Restart() {
        // Every remembered length belongs to the table before.
        if (nextCode_ > clear() + 2) std::fill(length_.begin() + clear() + 2, length_.begin() + nextCode_, 0);
        codeBits_ = rootSize_ + 1;
        nextCode_ = clear() + 2;
        growAt_ = 2 * clear();
    }
    unsigned clear() const { return 1u << rootSize_; }

    bool Decode(unsigned code) {
        if (code == clear()) {
            if (!needFirst_) Restart();
            needFirst_ = true;
            return true;
        }
        if (code == clear() + 1) return false;  // the end code
        if (needFirst_) {
            previous_ = code;
            needFirst_ = false;
            ++pixels_;
            return true;
        }
        const unsigned taken = code;
        std::uint64_t given = 0;
        if (code >= nextCode_) {  // the string of the code before, and its first index once more
            given = 1;
            code = previous_;
        }
        const unsigned length = Length(code);
        if (length == 0) return false;
        pixels_ += given + length;
        if (nextCode_ < kTableSize) {
            // The code before's string and one index more: its length is known at once
            // whenever the code before was one the reader could follow, as in any whole file.
            parent_[nextCode_] = static_cast<std::uint16_t>(previous_);
            const unsigned before = previous_ < clear() + 2 ? 1 : previous_ < nextCode_ ? length_[previous_] : 0;
            if (before != 0) Remember(nextCode_, before + 1);
            ++nextCode_;
            if (nextCode_ >= growAt_ && growAt_ < kTableSize) {
                growAt_ *= 2;
                ++codeBits_;
            }
        }
        previous_ = taken;
        return true;
    }

    void Remember(unsigned entry, unsigned length) { length_[entry] = static_cast<std::uint16_t>(length); }

    // The indices the code's string gives, or 0 when the reader cannot follow it.
    unsigned Length(unsigned code) {
        const unsigned firstEntry = clear() + 2;
        unsigned steps = 0;
        for (; code >= firstEntry; code = parent_[code]) {
            // Past the table, or round a loop longer than the table can hold without one.
            if (code >= nextCode_ || steps == kTableSize) return 0;
            if (length_[code] != 0) break;
            path_[steps++] = static_cast<std::uint16_t>(code);
        }
        unsigned length = code >= firstEntry ? length_[code] : 1;
        while (steps > 0) Remember(path_[--steps], ++length);
        return length;
    }

    unsigned rootSize_;
    unsigned codeBits_ = 0, nextCode_ = 0, growAt_ = 0;
    unsigned previous_ = 0;
    bool needFirst_ = true;
    std::uint32_t accumulated_ = 0;
    unsigned bits_ = 0;
    std::uint64_t pixels_ = 0;
    std::array<std::uint16_t, kTableSize> parent_{};
    std::array<std::uint16_t, kTableSize> length_{};  // 0 while not known
    std::array<std::uint16_t, kTableSize> path_{};
};

// How many of a frame's pixels its data must give for every pixel it puts on the canvas
// to be set: up to the last one there, in the order the data holds them (an interlaced
// frame's rows in their four passes). A canvas side of 0 is the frame's own, as the
// reader takes it.
std::uint64_t PixelsReachingTheCanvas(std::uint64_t left, std::uint64_t top, std::uint64_t width, std::uint64_t height,
                                      std::uint64_t canvasWidth, std::uint64_t canvasHeight, bool interlaced) {
    if (canvasWidth == 0) canvasWidth = left + width;
    if (canvasHeight == 0) canvasHeight = top + height;
    const std::uint64_t columns = left < canvasWidth ? std::min(width, canvasWidth - left) : 0;
    const std::uint64_t rows = top < canvasHeight ? std::min(height, canvasHeight - top) : 0;
    if (columns == 0 || rows == 0) return 0;
    std::uint64_t lastRow = rows - 1;  // the last row on the canvas, counted in the data's order
    if (interlaced) {
        constexpr std::uint64_t kPasses[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};  // first row, step
        std::uint64_t before = 0;
        lastRow = 0;
        for (const auto& [first, step] : kPasses) {
            if (first < rows) lastRow = std::max(lastRow, before + (rows - 1 - first) / step);
            if (first < height) before += (height - 1 - first) / step + 1;
        }
    }
    return lastRow * width + columns;
}

}  // namespace

// Qt's reader takes a file cut off inside the first frame, or whose codes end before its
// pixels do, and returns what it got.
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
            constexpr unsigned char kInterlaced = 0x40;
            const std::uint64_t needed = PixelsReachingTheCanvas(
                Little16(data + pos), Little16(data + pos + 2), Little16(data + pos + 4),
                Little16(data + pos + 6), Little16(data + 6), Little16(data + 8), (packed & kInterlaced) != 0);
            pos += 9;
            skipTable(packed);
            if (pos >= size || data[pos] > LzwPixelCount::kLargestCodeSize) return false;
            LzwPixelCount codes(data[pos++]);
            bool going = true;
            while (pos < size) {
                const std::size_t length = data[pos++];
                if (length == 0) return codes.pixels() >= needed;
                if (length > size - pos) return false;
                if (going && codes.pixels() < needed) going = codes.Take(data + pos, length);
                pos += length;
            }
            return false;
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
    if (n < kBmpFileHeaderBytes + 4 || p[0] != 'B' || p[1] != 'M') return true;
    const std::uint32_t infoSize = Little32(p + 14);
    std::int64_t width = 0, height = 0, bitCount = 0;
    if (infoSize == kBmpCoreHeaderBytes) {
        if (n < kBmpFileHeaderBytes + kBmpCoreHeaderBytes) return false;
        width = Little16(p + 18);
        height = Little16(p + 20);
        bitCount = Little16(p + 24);
    } else {
        // Sides, planes and depth take 16 bytes; the compression field follows.
        const bool compressionField = infoSize >= 20;
        if (infoSize < 16 || n < kBmpFileHeaderBytes + (compressionField ? 20 : 16)) return true;  // the reader judges
        width = static_cast<std::int32_t>(Little32(p + 18));
        height = static_cast<std::int32_t>(Little32(p + 22));
        bitCount = Little16(p + 28);
        const std::uint32_t compression = compressionField ? Little32(p + 30) : 0;
        constexpr std::uint32_t kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;  // rows stored as they are
        if (compression != kRgb && compression != kBitFields && compression != kAlphaBitFields) return true;
    }
    if (width <= 0 || bitCount == 0) return true;
    if (height < 0) height = -height;
    // Rows start at the stated offset, and never before the end of the info header.
    const std::int64_t rowsStart = std::max<std::int64_t>(Little32(p + 10), kBmpFileHeaderBytes + std::int64_t{infoSize});
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
    if (n < kDirectoryHeaderBytes || Little16(p) != 0) return held;
    const std::size_t declared = Little16(p + 4);
    const std::size_t fit = (n - kDirectoryHeaderBytes) / kEntryBytes;
    const std::size_t count = std::min(declared, fit);
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* entry = p + kDirectoryHeaderBytes + i * kEntryBytes;
        if (Little32(entry + kImageOffsetAt) < n) held.push_back(static_cast<int>(i));
    }
    return held;
}

}  // namespace vistrel::headers

// ---------------------------------------------------------------------------
// Metafiles

namespace vistrel::headers {
namespace {

constexpr std::size_t kMetaHeaderBytes = 18;
constexpr std::size_t kRecordHeaderBytes = 6;  // size in words, function
// The player ends on an end-of-file record of exactly this size; one of any other size
// it skips like any record it does not know, and goes on to those after it.
constexpr std::uint64_t kEndOfFileWords = 3;

bool IsMetaHeader(const unsigned char* p, std::size_t size) {
    if (size < kMetaHeaderBytes) return false;
    const std::uint32_t type = Little16(p);
    const std::uint32_t headerWords = Little16(p + 2);
    const std::uint32_t version = Little16(p + 4);
    return (type == 1 || type == 2) && headerWords == 9 && (version == 0x0100 || version == 0x0300);
}

// Record functions, by their numbers on disk.
enum Function : std::uint16_t {
    kEndOfFile = 0x0000,
    kSaveDc = 0x001E,
    kRestoreDc = 0x0127,
    kSelectObject = 0x012D,
    kDeleteObject = 0x01F0,
    kSetWindowOrg = 0x020B,
    kCreatePalette = 0x00F7,
    kCreatePatternBrush = 0x01F9,
    kCreatePenIndirect = 0x02FA,
    kCreateFontIndirect = 0x02FB,
    kCreateBrushIndirect = 0x02FC,
    kCreateRegion = 0x06FF,
    kDibCreatePatternBrush = 0x0142,
    kDibBitBlt = 0x0940,
    kDibStretchBlt = 0x0B41,
    kStretchDib = 0x0F43,
    kSetDibToDev = 0x0D33,
    kTextOut = 0x0521,
    kExtTextOut = 0x0A32,
};

bool FillsWithTheBrush(std::uint16_t function) {
    switch (function) {
        case 0x041B:  // Rectangle
        case 0x061C:  // RoundRect
        case 0x0418:  // Ellipse
        case 0x0324:  // Polygon
        case 0x0538:  // PolyPolygon
        case 0x081A:  // Pie
        case 0x0830:  // Chord
        case 0x061D:  // PatBlt
        case 0x0419:  // FloodFill
        case 0x0548:  // ExtFloodFill
        case 0x0228:  // FillRegion
        case 0x012B:  // PaintRegion
        case 0x0429:  // FrameRegion
        case 0x0922:  // BitBlt
        case 0x0B23:  // StretchBlt
        case kDibBitBlt:
        case kDibStretchBlt:
        case kStretchDib:
            return true;
        default:
            return false;
    }
}

// Where a record's packed bitmap starts, in words after the record header;
// 0 for records that carry none.
std::size_t BitmapAtWord(std::uint16_t function) {
    switch (function) {
        case kDibCreatePatternBrush: return 2;
        case kDibBitBlt: return 8;
        case kSetDibToDev: return 9;
        case kDibStretchBlt: return 10;
        case kStretchDib: return 11;
        default: return 0;
    }
}

constexpr std::uint32_t kCoreBitmapHeaderBytes = 12;
constexpr std::uint32_t kInfoBitmapHeaderBytes = 40;
constexpr std::int64_t kDeepestBitmap = 32;  // bits a pixel

bool BitmapPlayable(const unsigned char* dib, std::size_t size, std::int64_t maxSide) {
    if (size < 4) return false;
    const std::uint32_t headerBytes = Little32(dib);
    if (headerBytes != kCoreBitmapHeaderBytes && headerBytes < kInfoBitmapHeaderBytes) return false;
    if (headerBytes > size) return false;
    std::int64_t width = 0, height = 0, bits = 0;
    if (headerBytes == kCoreBitmapHeaderBytes) {
        width = Little16(dib + 4);
        height = Little16(dib + 6);
        bits = Little16(dib + 10);
    } else {
        width = static_cast<std::int32_t>(Little32(dib + 4));
        height = static_cast<std::int32_t>(Little32(dib + 8));
        bits = Little16(dib + 14);
    }
    const auto outside = [maxSide](std::int64_t side) { return side < -maxSide || side > maxSide; };
    return !outside(width) && !outside(height) && bits <= kDeepestBitmap;
}

}  // namespace

bool LooksLikeMetafile(Bytes file) {
    if (file.size() >= kPlaceableHeaderBytes + kMetaHeaderBytes && Little32(file.data()) == kPlaceableKey)
        return true;
    return IsMetaHeader(file.data(), file.size());
}

Origin FirstWindowOrigin(Bytes file, std::size_t pos) {
    const unsigned char* data = file.data();
    const std::size_t size = file.size();
    while (pos <= size && size - pos >= kRecordHeaderBytes) {
        const std::uint64_t words = Little32(data + pos);
        const std::uint32_t function = Little16(data + pos + 4);
        if (words < 3 || (function == kEndOfFile && words == kEndOfFileWords)) break;
        if (function == kSetWindowOrg && words >= 5 && size - pos >= 10) {
            const auto y = static_cast<std::int16_t>(Little16(data + pos + 6));
            const auto x = static_cast<std::int16_t>(Little16(data + pos + 8));
            return {x, y};
        }
        if (words * 2 > size - pos) break;
        pos += static_cast<std::size_t>(words * 2);
    }
    return {};
}

bool MetafileRecordsPlayable(Bytes file, std::int64_t maxSide) {
    if (!LooksLikeMetafile(file)) return true;
    const unsigned char* data = file.data();
    const std::size_t size = file.size();
    const std::size_t headerAt = Little32(data) == kPlaceableKey ? kPlaceableHeaderBytes : 0;
    if (size - headerAt < kMetaHeaderBytes) return true;

    // The player's object table: every object created takes its lowest free
    // slot and becomes the one in use of its kind. A deletion frees the slot
    // whether or not the object is in use; what still refers to it is stale.
    // A stale solid brush still reads as it was until its slot is taken again;
    // a stale pattern brush has lost its bitmap and a stale font its name.
    enum class Kind : std::uint8_t { Free, Brush, PatternBrush, Font, Other };
    struct Slot {
        Kind kind = Kind::Free;
        std::uint32_t generation = 0;
    };
    struct InUse {
        std::size_t slot = SIZE_MAX;
        std::uint32_t generation = 0;
        Kind kind = Kind::Free;
    };
    struct Selection {
        InUse brush, font;
    };
    // Slots are recorded up to the highest one ever taken; those above are free.
    const std::size_t tableSize = Little16(data + headerAt + 10);
    std::vector<Slot> slots;
    Selection current;
    std::vector<Selection> saved;
    const auto unsafe = [&](const InUse& object) {
        if (object.slot == SIZE_MAX || slots[object.slot].generation == object.generation) return false;
        return object.kind != Kind::Brush || slots[object.slot].kind != Kind::Free;
    };
    // Slots freed below the highest taken, lowest first.
    std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> freed;
    const auto create = [&](Kind kind) {
        std::size_t slot = slots.size();
        if (!freed.empty()) {
            slot = freed.top();
            freed.pop();
        } else if (slot < tableSize) {
            slots.emplace_back();
        } else {
            return false;
        }
        slots[slot].kind = kind;
        const InUse object{slot, slots[slot].generation, kind};
        if (kind == Kind::Brush || kind == Kind::PatternBrush) current.brush = object;
        if (kind == Kind::Font) current.font = object;
        return true;
    };

    std::size_t pos = headerAt + 2 * std::size_t{Little16(data + headerAt + 2)};
    while (pos <= size && size - pos >= kRecordHeaderBytes) {
        const std::uint64_t words = Little32(data + pos);
        const std::uint16_t function = static_cast<std::uint16_t>(Little16(data + pos + 4));
        if ((function == kEndOfFile && words == kEndOfFileWords) || words < 3 || words * 2 > size - pos) break;
        const unsigned char* params = data + pos + kRecordHeaderBytes;
        const std::size_t paramBytes = static_cast<std::size_t>(words * 2) - kRecordHeaderBytes;
        pos += static_cast<std::size_t>(words * 2);

        if (const std::size_t at = BitmapAtWord(function); at != 0 && paramBytes > 2 * at) {
            if (!BitmapPlayable(params + 2 * at, paramBytes - 2 * at, maxSide)) return false;
            constexpr std::size_t kDeviceSidesAt = 2;  // the bitmap's width and height as the record sets them
            if (function == kSetDibToDev && paramBytes >= 2 * kDeviceSidesAt + 4 &&
                (Little16(params + 2) > maxSide || Little16(params + 4) > maxSide))
                return false;
        }
        if (FillsWithTheBrush(function) && unsafe(current.brush)) return false;
        if ((function == kTextOut || function == kExtTextOut) && unsafe(current.font)) return false;

        switch (function) {
            case kCreateBrushIndirect:
                if (!create(Kind::Brush)) return true;
                break;
            case kCreatePatternBrush:
            case kDibCreatePatternBrush:
                if (!create(Kind::PatternBrush)) return true;
                break;
            case kCreateFontIndirect:
                if (!create(Kind::Font)) return true;
                break;
            case kCreatePenIndirect:
            case kCreatePalette:
            case kCreateRegion:
                if (!create(Kind::Other)) return true;
                break;
            case kSelectObject:
            case kDeleteObject: {
                if (paramBytes < 2) return true;
                const std::size_t slot = Little16(params);
                if (slot >= tableSize) return true;  // the player stops there
                if (slot >= slots.size()) break;     // a slot never taken: nothing to select or free
                Slot& object = slots[slot];
                if (function == kDeleteObject) {
                    if (object.kind != Kind::Free) freed.push(slot);
                    object = {Kind::Free, object.generation + 1};
                } else if (object.kind == Kind::Brush || object.kind == Kind::PatternBrush) {
                    current.brush = {slot, object.generation, object.kind};
                } else if (object.kind == Kind::Font) {
                    current.font = {slot, object.generation, object.kind};
                }
                break;
            }
            case kSaveDc:
                saved.push_back(current);
                break;
            case kRestoreDc:
                if (saved.empty()) return true;
                current = saved.back();
                saved.pop_back();
                break;
            default:
                break;
        }
    }
    return true;
}

}  // namespace vistrel::headers
