#include "kernels/clipping.h"

#include "kernels/covers.h"
#include "kernels/parallel.h"

namespace korvex {

namespace {

// The three colour bytes of a pixel; the fourth (luma) is not a channel of the picture.
constexpr Pixel kColourBytes = 0x00FFFFFFu;
constexpr Pixel kLowBits = 0x01010101u;
constexpr Pixel kHighBits = 0x80808080u;

// True when a byte of v is zero (exact: the borrow can only run past a zero byte).
constexpr bool HasZeroByte(Pixel v) { return ((v - kLowBits) & ~v & kHighBits) != 0; }

// The pixel's mark: the fourth byte is forced to a value that is neither 0 nor 255.
constexpr std::uint8_t MarkOf(Pixel p) {
    const Pixel colours = (p & kColourBytes) | 0x01000000u;
    const Pixel inverted = (~p & kColourBytes) | 0x01000000u;
    return static_cast<std::uint8_t>((HasZeroByte(inverted) ? kClipHighlight : 0) |
                                     (HasZeroByte(colours) ? kClipShadow : 0));
}

}  // namespace

std::vector<std::uint8_t> ClipMarks(const Pixel* source, std::size_t sourceWidth, std::size_t sourceHeight,
                                    std::size_t stride, std::size_t viewWidth, std::size_t viewHeight) {
    if (source == nullptr || sourceWidth == 0 || sourceHeight == 0 || viewWidth == 0 || viewHeight == 0) return {};
    std::vector<std::uint8_t> marks(viewWidth * viewHeight, kClipNone);
    const std::vector<detail::Cover> columns = detail::Covers(sourceWidth, viewWidth);
    const std::vector<detail::Cover> rows = detail::Covers(sourceHeight, viewHeight);

    // View rows are split over the threads by the work under them; each thread reads its own
    // source rows (a source row on the border of two view rows is read by both) and writes
    // only its own marks.
    const std::size_t chunks = detail::ChunkCount(sourceWidth * sourceHeight);
    detail::ForEachChunk(viewHeight, chunks, [&](std::size_t, std::size_t rowBegin, std::size_t rowEnd) {
        for (std::size_t Y = rowBegin; Y < rowEnd; ++Y) {
            std::uint8_t* out = marks.data() + Y * viewWidth;
            for (std::size_t y = rows[Y].first; y <= rows[Y].last; ++y) {
                const Pixel* row = source + y * stride;
                for (std::size_t X = 0; X < viewWidth; ++X) {
                    std::uint8_t m = out[X];
                    for (std::size_t x = columns[X].first; x <= columns[X].last; ++x) m |= MarkOf(row[x]);
                    out[X] = m;
                }
            }
        }
    });
    return marks;
}

void ApplyClipMarks(const Pixel* view, const std::uint8_t* marks, Pixel* out, std::size_t n, Pixel highlight,
                    Pixel shadow) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t m = marks[i];
        out[i] = m == kClipNone ? view[i] : (m & kClipHighlight) ? highlight : shadow;
    }
}

}  // namespace korvex
