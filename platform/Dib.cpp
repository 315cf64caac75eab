#include "platform/Dib.h"

#include <algorithm>
#include <cstring>

namespace vistrel {

BitmapInfoHeader TopDownHeader(std::int32_t width, std::int32_t height) {
    BitmapInfoHeader header;
    header.biSize = sizeof(BitmapInfoHeader);
    header.biWidth = width;
    header.biHeight = -height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = kBiRgb;
    header.biSizeImage = static_cast<std::uint32_t>(DibStride(32, width) * static_cast<std::uint64_t>(height));
    return header;
}

namespace {

// The rows [first, first + count) that lie inside both the buffer and the surface,
// and the columns to copy; false when the transfer cannot be made.
struct Span {
    int first = 0;
    int count = 0;
    int columns = 0;
};

bool Clip(const Surface& surface, int startScan, int scanLines, const BitmapInfoHeader& header, Span& span) {
    if (surface.isNull() || header.biBitCount != 32 || header.biWidth <= 0 || startScan < 0 || scanLines <= 0)
        return false;
    const int bufferRows = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    span.first = startScan;
    span.count = std::min({scanLines, bufferRows - startScan, surface.height() - startScan});
    span.columns = std::min(header.biWidth, surface.width());
    return span.count > 0 && span.columns > 0;
}

}  // namespace

int GetDIBits(const Surface& surface, int startScan, int scanLines, Pixel* bits, const BitmapInfoHeader& header) {
    Span span;
    if (bits == nullptr || !Clip(surface, startScan, scanLines, header, span)) return 0;
    const std::size_t stride = static_cast<std::size_t>(header.biWidth);
    for (int y = 0; y < span.count; ++y) {
        const Pixel* from = surface.row(span.first + y);
        Pixel* to = bits + static_cast<std::size_t>(y) * stride;
        for (int x = 0; x < span.columns; ++x) to[x] = from[x] & 0x00FFFFFFu;
    }
    return span.count;
}

int SetDIBits(Surface& surface, int startScan, int scanLines, const Pixel* bits, const BitmapInfoHeader& header) {
    Span span;
    if (bits == nullptr || !Clip(surface, startScan, scanLines, header, span)) return 0;
    const std::size_t stride = static_cast<std::size_t>(header.biWidth);
    for (int y = 0; y < span.count; ++y) {
        const Pixel* from = bits + static_cast<std::size_t>(y) * stride;
        Pixel* to = surface.row(span.first + y);
        for (int x = 0; x < span.columns; ++x) to[x] = from[x] | 0xFF000000u;
    }
    return span.count;
}

}  // namespace vistrel
