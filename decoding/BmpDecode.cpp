#include "decoding/BmpDecode.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <new>
#include <vector>

namespace vistrel {
namespace {

// Rows converted between two reports: at least this many pixels, so that a report
// costs next to nothing against the band's conversion.
constexpr std::size_t kBandPixels = std::size_t{256} * 1024;
constexpr std::size_t kFileHeaderBytes = 14;
// The info headers taken: OS/2 1.x core, Windows 3 info, and the V4 and V5 headers.
constexpr std::uint32_t kCoreHeader = 12, kInfoHeader = 40, kV4Header = 108, kV5Header = 124;
// Qt's reader refuses more pixels than this; such files stay with it.
constexpr std::uint64_t kQtLargestPixels = std::uint64_t{16384} * 16384;
// Qt's colour for an index past the file's palette (an opaque black).
constexpr Pixel kPastThePalette = 0xFF000000u;

std::uint32_t Le16(const unsigned char* p) { return p[0] | (std::uint32_t{p[1]} << 8); }
std::uint32_t Le32(const unsigned char* p) { return Le16(p) | (Le16(p + 2) << 16); }

enum class Layout { Bgr24, Bgrx32, Index8, Index4, Index1 };

struct Header {
    Layout layout = Layout::Bgr24;
    int width = 0;
    int height = 0;
    bool topDown = false;
    std::size_t rowBytes = 0;     // in the file, padded to four bytes
    std::size_t firstRow = 0;     // where the rows start in the file
    std::array<Pixel, 256> palette{};
};

// The header of a kind this reader takes, or nothing.
std::optional<Header> ReadHeader(const unsigned char* data, std::size_t size) {
    if (size < kFileHeaderBytes + kCoreHeader || data[0] != 'B' || data[1] != 'M') return std::nullopt;
    const std::uint32_t offBits = Le32(data + 10);
    const std::uint32_t headerBytes = Le32(data + kFileHeaderBytes);
    const unsigned char* info = data + kFileHeaderBytes;
    std::int64_t width = 0, height = 0;
    std::uint32_t planes = 0, bits = 0, compression = 0, colorsUsed = 0;
    if (headerBytes == kCoreHeader) {
        width = static_cast<std::int16_t>(Le16(info + 4));
        height = static_cast<std::int16_t>(Le16(info + 6));
        planes = Le16(info + 8);
        bits = Le16(info + 10);
    } else if (headerBytes == kInfoHeader || headerBytes == kV4Header || headerBytes == kV5Header) {
        if (size < kFileHeaderBytes + headerBytes) return std::nullopt;
        width = static_cast<std::int32_t>(Le32(info + 4));
        height = static_cast<std::int32_t>(Le32(info + 8));
        planes = Le16(info + 12);
        bits = Le16(info + 14);
        compression = Le32(info + 16);
        colorsUsed = Le32(info + 32);
    } else {
        return std::nullopt;
    }
    constexpr std::uint32_t kUncompressed = 0;
    if (planes != 1 || compression != kUncompressed) return std::nullopt;
    // Qt reads a fourth byte's alpha when a V4 or V5 header names an alpha mask.
    if (bits == 32 && headerBytes != kInfoHeader) return std::nullopt;
    Header h;
    switch (bits) {
        case 24: h.layout = Layout::Bgr24; break;
        case 32: h.layout = Layout::Bgrx32; break;
        case 8: h.layout = Layout::Index8; break;
        case 4: h.layout = Layout::Index4; break;
        case 1: h.layout = Layout::Index1; break;
        default: return std::nullopt;
    }
    const std::int64_t rows = height < 0 ? -height : height;
    if (width < 1 || width > kMaxPictureSide || rows < 1 || rows > kMaxPictureSide ||
        std::uint64_t(width) * std::uint64_t(rows) > kQtLargestPixels)
        return std::nullopt;
    h.width = static_cast<int>(width);
    h.height = static_cast<int>(rows);
    h.topDown = height < 0;
    h.rowBytes = (std::size_t(width) * bits + 31) / 32 * 4;

    std::size_t end = kFileHeaderBytes + headerBytes;
    if (bits <= 8) {
        const std::uint32_t colors = colorsUsed != 0 ? colorsUsed : (1u << bits);
        if (colors > 256) return std::nullopt;
        // Qt's one-bit pictures hold exactly two colours: other counts are left to its reader.
        if (bits == 1 && colors != 2) return std::nullopt;
        const std::size_t entryBytes = headerBytes == kCoreHeader ? 3 : 4;
        if (size - end < colors * entryBytes) return std::nullopt;
        h.palette.fill(kPastThePalette);
        for (std::uint32_t i = 0; i < colors; ++i, end += entryBytes)
            h.palette[i] = 0xFF000000u | (Pixel{data[end + 2]} << 16) | (Pixel{data[end + 1]} << 8) | data[end];
    }
    // The rows start where the file header says, but never inside the palette.
    h.firstRow = std::max<std::size_t>(end, offBits);
    return h;
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
    }
}

}  // namespace

std::optional<DecodeResult> DecodeBmp(const unsigned char* data, std::size_t size, RowReceiver* receiver,
                                      BandSink* sink) {
    const std::optional<Header> header = ReadHeader(data, size);
    if (!header) return std::nullopt;
    const Header& h = *header;
    const auto width = static_cast<std::size_t>(h.width);
    const auto height = static_cast<std::size_t>(h.height);
    // A file cut short in its rows fails before any row is shown.
    if (h.firstRow > size || (size - h.firstRow) / h.rowBytes < height) return DecodeResult::Failed(DecodeError::Unreadable);

    const std::size_t bandRows = std::max<std::size_t>(1, kBandPixels / width);
    Surface picture;
    std::vector<Pixel> band;
    try {
        if (sink != nullptr) band.resize(std::min(bandRows, height) * width);
    } catch (const std::bad_alloc&) {
        return DecodeResult::Failed(DecodeError::OutOfMemory);
    }
    if (sink != nullptr) {
        if (!sink->Start(h.width, h.height)) return DecodeResult::Failed(DecodeError::OutOfMemory);
    } else {
        picture.image() = QImage(h.width, h.height, QImage::Format_RGB32);
        if (picture.image().isNull()) return DecodeResult::Failed(DecodeError::OutOfMemory);
        if (receiver != nullptr && !receiver->PictureStarted(picture)) {
            receiver->PictureDropped();
            return DecodeResult::Failed(DecodeError::Cancelled);
        }
    }

    for (std::size_t first = 0; first < height; first += bandRows) {
        const std::size_t last = std::min(height, first + bandRows);
        // The sink's own place for the band when it has one (nothing is copied), or the band buffer.
        Pixel* const destination =
            sink == nullptr ? nullptr
                            : reinterpret_cast<Pixel*>(sink->Destination(static_cast<int>(first), static_cast<int>(last - first)));
        Pixel* const target = destination != nullptr ? destination : band.data();
        for (std::size_t y = first; y < last; ++y) {
            const std::size_t stored = h.topDown ? y : height - 1 - y;
            Pixel* out = sink != nullptr ? target + (y - first) * width : picture.row(static_cast<int>(y));
            ConvertRow(h, data + h.firstRow + stored * h.rowBytes, out);
        }
        const bool wanted =
            sink != nullptr ? sink->Put(static_cast<int>(first), static_cast<int>(last - first),
                                        reinterpret_cast<const uchar*>(target))
            : receiver != nullptr ? receiver->RowsReady(static_cast<int>(last))
                                  : true;
        if (!wanted) {
            if (sink == nullptr) receiver->PictureDropped();
            return DecodeResult::Failed(DecodeError::Cancelled);
        }
    }
    DecodeResult result;
    result.surface.emplace(std::move(picture));
    return result;
}

}  // namespace vistrel
