#include "decoding/readers/BmpDecode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <new>
#include <vector>

#include "decoding/readers/RowOutput.h"
#include "formats/ByteOrder.h"

namespace vistrel {
namespace {

constexpr std::size_t kFileHeaderBytes = 14;
// The info headers taken: OS/2 1.x core, Windows 3 info, the two that add colour masks
// and an alpha mask to it, and the V4 and V5 headers.
constexpr std::uint32_t kCoreHeader = 12, kInfoHeader = 40, kRgbMasksHeader = 52, kRgbaMasksHeader = 56,
                        kV4Header = 108, kV5Header = 124;
// Where the masks lie in the headers that hold them (after the Windows 3 info).
constexpr std::size_t kMasksAt = 40;
// How the rows are stored.
constexpr std::uint32_t kUncompressed = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6;
// Qt's reader refuses more pixels than this; such files stay with it.
constexpr std::uint64_t kQtLargestPixels = std::uint64_t{16384} * 16384;
// The colour of an index past the file's palette (an opaque black), as Qt's reader and
// the browsers give it.
constexpr Pixel kPastThePalette = 0xFF000000u;
// Where a row's run-length codes start when no code reaches the row.
constexpr std::size_t kNotReached = ~std::size_t{0};


enum class Layout { Bgr24, Bgrx32, Index8, Index4, Index1, Fields16, Fields32, Rle8, Rle4 };

// A field of `bits` bits widened to an 8-bit level. Up to 8 bits, the field's bits are
// repeated below themselves, as the common decoders widen them (31 of 5 bits is 255, 16
// is 132); a wider field is scaled to the nearest level (v x 255 / max; max is odd, so no
// value falls halfway between two levels).
std::uint32_t Widen(std::uint32_t value, unsigned bits) {
    if (bits > 8) {
        const std::uint64_t max = (std::uint64_t{1} << bits) - 1;
        return static_cast<std::uint32_t>((value * std::uint64_t{510} + max) / (2 * max));
    }
    std::uint32_t repeated = 0;
    unsigned filled = 0;
    for (; filled < 8; filled += bits) repeated = (repeated << bits) | value;
    return repeated >> (filled - 8);
}

// One colour's bits in a 16- or 32-bit pixel.
struct Field {
    std::uint32_t mask = 0;
    unsigned shift = 0;  // of its lowest bit
    unsigned bits = 0;   // none: the colour is 0 (alpha: opaque)
    std::array<std::uint8_t, 256> levels{};  // fields of up to 8 bits: each value widened

    std::uint32_t Level(std::uint32_t pixel) const {
        const std::uint32_t value = (pixel & mask) >> shift;
        return bits <= 8 ? levels[value] : Widen(value, bits);
    }
};

// The field a mask picks, or nothing when its bits are not side by side (which the
// browsers refuse as well).
std::optional<Field> FieldOf(std::uint32_t mask) {
    Field field;
    if (mask == 0) return field;
    field.mask = mask;
    field.shift = static_cast<unsigned>(std::countr_zero(mask));
    const std::uint32_t value = mask >> field.shift;
    if ((value & (value + 1)) != 0) return std::nullopt;
    field.bits = static_cast<unsigned>(std::popcount(value));
    if (field.bits <= 8)
        for (std::uint32_t v = 0; v < (1u << field.bits); ++v) field.levels[v] = static_cast<std::uint8_t>(Widen(v, field.bits));
    return field;
}

struct Header {
    Layout layout = Layout::Bgr24;
    int width = 0;
    int height = 0;
    bool topDown = false;
    std::size_t rowBytes = 0;     // in the file, padded to four bytes (uncompressed layouts)
    std::size_t firstRow = 0;     // where the rows, or the run-length codes, start in the file
    std::array<Pixel, 256> palette{};
    std::array<Field, 4> fields;  // red, green, blue, alpha
    Pixel background = 0;         // what transparent pixels show (an alpha field, pixels no code sets)
};

// What the header says of the file.
enum class Verdict { Taken, LeftToQt, Damaged };

// The header of a kind this reader takes into `h`.
Verdict ReadHeader(const unsigned char* data, std::size_t size, Header& h) {
    if (size < kFileHeaderBytes + kCoreHeader || data[0] != 'B' || data[1] != 'M') return Verdict::LeftToQt;
    const std::uint32_t offBits = bytes::Little32(data + 10);
    const std::uint32_t headerBytes = bytes::Little32(data + kFileHeaderBytes);
    const unsigned char* info = data + kFileHeaderBytes;
    std::int64_t width = 0, height = 0;
    std::uint32_t planes = 0, bits = 0, compression = 0, colorsUsed = 0;
    if (headerBytes == kCoreHeader) {
        width = static_cast<std::int16_t>(bytes::Little16(info + 4));
        height = static_cast<std::int16_t>(bytes::Little16(info + 6));
        planes = bytes::Little16(info + 8);
        bits = bytes::Little16(info + 10);
    } else if (headerBytes == kInfoHeader || headerBytes == kRgbMasksHeader || headerBytes == kRgbaMasksHeader ||
               headerBytes == kV4Header || headerBytes == kV5Header) {
        if (size < kFileHeaderBytes + headerBytes) return Verdict::LeftToQt;
        width = static_cast<std::int32_t>(bytes::Little32(info + 4));
        height = static_cast<std::int32_t>(bytes::Little32(info + 8));
        planes = bytes::Little16(info + 12);
        bits = bytes::Little16(info + 14);
        compression = bytes::Little32(info + 16);
        colorsUsed = bytes::Little32(info + 32);
    } else {
        return Verdict::LeftToQt;
    }
    if (planes != 1) return Verdict::LeftToQt;
    std::size_t end = kFileHeaderBytes + headerBytes;
    // The masks of a bit-field layout: in the header, or (a Windows 3 header) right after it.
    std::array<std::uint32_t, 4> masks{};
    bool fields = false;
    switch (compression) {
        case kUncompressed:
            // Qt reads a fourth byte's alpha when a header past Windows 3's names an alpha mask.
            if (bits == 32 && headerBytes != kInfoHeader) return Verdict::LeftToQt;
            if (bits == 16) {
                masks = {0x7C00, 0x03E0, 0x001F, 0};  // five bits a colour, the top bit unused
                fields = true;
            }
            break;
        case kBitFields:
        case kAlphaBitFields: {
            if (bits != 16 && bits != 32) return Verdict::LeftToQt;
            fields = true;
            const std::size_t count = compression == kAlphaBitFields ? 4 : 3;
            if (headerBytes == kInfoHeader) {
                if (size - end < count * 4) return Verdict::Damaged;
                for (std::size_t i = 0; i < count; ++i, end += 4) masks[i] = bytes::Little32(data + end);
            } else {
                const std::size_t held = headerBytes >= kRgbaMasksHeader ? 4 : 3;
                for (std::size_t i = 0; i < held; ++i) masks[i] = bytes::Little32(info + kMasksAt + 4 * i);
            }
            break;
        }
        case kRle8:
        case kRle4:
            // The common decoders refuse codes of another depth, and coded rows stored top-down.
            if (bits != (compression == kRle8 ? 8u : 4u) || height < 0) return Verdict::Damaged;
            break;
        default:
            return Verdict::LeftToQt;
    }
    if (fields) {
        h.layout = bits == 16 ? Layout::Fields16 : Layout::Fields32;
        for (std::size_t i = 0; i < 4; ++i) {
            const std::optional<Field> field = FieldOf(masks[i]);
            if (!field) return Verdict::Damaged;
            h.fields[i] = *field;
        }
        if (bits == 32 && masks == std::array<std::uint32_t, 4>{0xFF0000, 0xFF00, 0xFF, 0}) h.layout = Layout::Bgrx32;
    } else if (compression == kRle8 || compression == kRle4) {
        h.layout = compression == kRle8 ? Layout::Rle8 : Layout::Rle4;
    } else {
        switch (bits) {
            case 24: h.layout = Layout::Bgr24; break;
            case 32: h.layout = Layout::Bgrx32; break;
            case 8: h.layout = Layout::Index8; break;
            case 4: h.layout = Layout::Index4; break;
            case 1: h.layout = Layout::Index1; break;
            default: return Verdict::LeftToQt;
        }
    }
    const std::int64_t rows = height < 0 ? -height : height;
    if (width < 1 || width > kMaxPictureSide || rows < 1 || rows > kMaxPictureSide ||
        std::uint64_t(width) * std::uint64_t(rows) > kQtLargestPixels)
        return Verdict::LeftToQt;
    h.width = static_cast<int>(width);
    h.height = static_cast<int>(rows);
    h.topDown = height < 0;
    h.rowBytes = (std::size_t(width) * bits + 31) / 32 * 4;

    if (bits <= 8) {
        const std::uint32_t colors = colorsUsed != 0 ? colorsUsed : (1u << bits);
        if (colors > 256) return Verdict::LeftToQt;
        // Qt's one-bit pictures hold exactly two colours: other counts are left to its reader.
        if (bits == 1 && colors != 2) return Verdict::LeftToQt;
        const std::size_t entryBytes = headerBytes == kCoreHeader ? 3 : 4;
        if (size - end < colors * entryBytes) return Verdict::Damaged;
        h.palette.fill(kPastThePalette);
        for (std::uint32_t i = 0; i < colors; ++i, end += entryBytes)
            h.palette[i] = 0xFF000000u | (Pixel{data[end + 2]} << 16) | (Pixel{data[end + 1]} << 8) | data[end];
    }
    // The rows start where the file header says, but never inside the palette or the masks.
    h.firstRow = std::max<std::size_t>(end, offBits);
    return Verdict::Taken;
}

Pixel FieldsPixel(const Header& h, std::uint32_t word) {
    const std::uint32_t r = h.fields[0].Level(word), g = h.fields[1].Level(word), b = h.fields[2].Level(word);
    const std::uint32_t a = h.fields[3].bits == 0 ? 0xFF : h.fields[3].Level(word);
    return OverBackground(r, g, b, a, h.background);
}

void ConvertRow(const Header& h, const unsigned char* in, Pixel* out) {
    const auto width = static_cast<std::size_t>(h.width);
    switch (h.layout) {
        case Layout::Bgr24:
            for (std::size_t x = 0; x < width; ++x, in += 3)
                out[x] = 0xFF000000u | (Pixel{in[2]} << 16) | (Pixel{in[1]} << 8) | in[0];
            return;
        case Layout::Bgrx32:
            for (std::size_t x = 0; x < width; ++x, in += 4)
                out[x] = 0xFF000000u | (Pixel{in[2]} << 16) | (Pixel{in[1]} << 8) | in[0];
            return;
        case Layout::Index8:
            for (std::size_t x = 0; x < width; ++x) out[x] = h.palette[in[x]];
            return;
        case Layout::Index4:
            for (std::size_t x = 0; x < width; ++x) out[x] = h.palette[(in[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F];
            return;
        case Layout::Index1:
            for (std::size_t x = 0; x < width; ++x) out[x] = h.palette[(in[x / 8] >> (7 - x % 8)) & 1];
            return;
        case Layout::Fields16:
            for (std::size_t x = 0; x < width; ++x, in += 2) out[x] = FieldsPixel(h, bytes::Little16(in));
            return;
        case Layout::Fields32:
            for (std::size_t x = 0; x < width; ++x, in += 4) out[x] = FieldsPixel(h, bytes::Little32(in));
            return;
        case Layout::Rle8:
        case Layout::Rle4:
            break;  // read by FollowRow
    }
}

// Run-length coded rows --------------------------------------------------------------
//
// The codes come in pairs: a count and an index (a run of that many pixels of one index,
// or for 4 bits two alternating), or a zero and an escape: 0 the end of a row, 1 the end
// of the picture, 2 a jump right and up by the next two bytes, 3 and more that many
// indices given one by one (padded to an even byte). A pixel no code sets is transparent,
// and shows the background transparent pixels are composited over (as in a PNG): GDI
// leaves such pixels as whatever was drawn beneath them, and browsers draw them
// transparent. A run past the row's end is cut there; it does not go on to the next row.

// Where the codes for one row end, and where the next row's start.
enum class RowEnd { NextRow, Jump, PictureEnd, RanOut };
struct RowEnding {
    RowEnd end = RowEnd::RanOut;
    std::size_t at = 0;    // the next code
    std::size_t x = 0;     // the column it starts at
    std::size_t rows = 0;  // the rows up to it
};

// Follows the codes from `at`, the cursor at column x, as long as they stay on one row;
// the pixels they set go into `row` when given. The cursor never passes the row's end,
// where every pixel is cut.
RowEnding FollowRow(const Header& h, const unsigned char* data, std::size_t size, std::size_t at, std::size_t x,
                    Pixel* row) {
    const bool four = h.layout == Layout::Rle4;
    const auto width = static_cast<std::size_t>(h.width);
    for (;;) {
        if (at > size || size - at < 2) return {};
        const std::size_t count = data[at], code = data[at + 1];
        at += 2;
        if (count > 0) {
            const std::size_t end = std::min(width, x + count);
            if (row != nullptr) {
                const Pixel even = h.palette[four ? code >> 4 : code], odd = h.palette[four ? code & 0x0F : code];
                for (std::size_t i = 0; x + i < end; ++i) row[x + i] = i % 2 == 0 ? even : odd;
            }
            x = end;
            continue;
        }
        switch (code) {
            case 0: return {RowEnd::NextRow, at, 0, 1};
            case 1: return {RowEnd::PictureEnd, at, x, 0};
            case 2: {
                if (size - at < 2) return {};
                const std::size_t right = data[at], up = data[at + 1];
                at += 2;
                x = std::min(width, x + right);
                if (up > 0) return {RowEnd::Jump, at, x, up};
                continue;
            }
            default: {
                const std::size_t bytes = four ? (code + 1) / 2 : code;
                if (size - at < bytes) return {};
                const std::size_t end = std::min(width, x + code);
                if (row != nullptr)
                    for (std::size_t i = 0; x + i < end; ++i)
                        row[x + i] = h.palette[four ? (data[at + i / 2] >> (i % 2 == 0 ? 4 : 0)) & 0x0F : data[at + i]];
                x = end;
                at += bytes + bytes % 2;
            }
        }
    }
}

// Where each stored row's codes start (kNotReached for a row no code reaches), walked
// before any row is shown: false when the codes run past the file's end before the
// picture's. ImageMagick and the browsers' decoders refuse such a file too, and a
// picture cut short fails here as it does in every other format.
bool FindRowStarts(const Header& h, const unsigned char* data, std::size_t size,
                   std::vector<std::pair<std::size_t, std::size_t>>& starts) {
    starts.assign(static_cast<std::size_t>(h.height), {kNotReached, 0});
    std::size_t at = h.firstRow, x = 0;
    for (std::size_t y = 0; y < starts.size();) {
        starts[y] = {at, x};
        const RowEnding ending = FollowRow(h, data, size, at, x, nullptr);
        switch (ending.end) {
            case RowEnd::RanOut: return false;
            case RowEnd::PictureEnd: return true;
            case RowEnd::NextRow:
            case RowEnd::Jump: break;
        }
        y += ending.rows;
        at = ending.at;
        x = ending.x;
    }
    return true;
}

}  // namespace

ReadResult DecodeBmp(const ReaderInput& input) {
    const auto& [bytes, background, colour, receiver, sink, photosites] = input;
    const unsigned char* const data = bytes.data();
    const std::size_t size = bytes.size();

    Header h;
    h.background = OpaquePixel(background);
    switch (ReadHeader(data, size, h)) {
        case Verdict::Taken: break;
        case Verdict::LeftToQt: return std::nullopt;
        case Verdict::Damaged: return DecodeResult::Failed(DecodeError::Unreadable);
    }
    const auto width = static_cast<std::size_t>(h.width);
    const auto height = static_cast<std::size_t>(h.height);
    const bool coded = h.layout == Layout::Rle8 || h.layout == Layout::Rle4;
    std::vector<std::pair<std::size_t, std::size_t>> rowStarts;  // coded rows: where each starts, and its column
    // A file cut short in its rows fails before any row is shown.
    try {
        if (coded ? !FindRowStarts(h, data, size, rowStarts)
                  : h.firstRow > size || (size - h.firstRow) / h.rowBytes < height)
            return DecodeResult::Failed(DecodeError::Unreadable);
    } catch (const std::bad_alloc&) {
        return DecodeResult::Failed(DecodeError::OutOfMemory);
    }

    RowOutput out(receiver, sink);
    const int bandRows = BandRowsFor(h.width, h.height);
    if (!out.Start(h.width, h.height, bandRows)) return DecodeResult::Failed(out.failure());
    for (int first = 0; first < h.height; first += bandRows) {
        const int last = std::min(h.height, first + bandRows);
        out.OpenBand(first, last - first);
        for (int y = first; y < last; ++y) {
            const std::size_t stored = h.topDown ? std::size_t(y) : height - 1 - std::size_t(y);
            Pixel* const row = out.Row(y);
            if (!coded) {
                ConvertRow(h, data + h.firstRow + stored * h.rowBytes, row);
                continue;
            }
            std::fill(row, row + width, h.background);
            if (const auto [at, x] = rowStarts[stored]; at != kNotReached) FollowRow(h, data, size, at, x, row);
        }
        if (!out.Finish(last)) return DecodeResult::Failed(out.failure());
    }
    return out.Taken();
}

}  // namespace vistrel
