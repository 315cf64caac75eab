#include "kernels/falsecolour.h"

#include <algorithm>
#include <bit>
#include <numeric>

#include "kernels/covers.h"
#include "kernels/parallel.h"

namespace korvex {

namespace {

constexpr int kTopLevel = 255;
constexpr Pixel kColourBytes = 0x00FFFFFFu;
// A grey's three equal bytes from one level.
constexpr Pixel kGreyBytes = 0x00010101u;
// Rec. 601's weights in thousandths, and the luma (in the same units) from which a pixel
// counts as light for the stripes over it.
constexpr std::uint32_t kRedWeight = 299, kGreenWeight = 587, kBlueWeight = 114;
constexpr std::uint32_t kLightFrom = 128 * 1000;

struct Levels {
    int low, high;
};

Levels Clamped(const LumaBand& band) {
    return {std::clamp(band.low, 0, kTopLevel), std::clamp(band.high, 0, kTopLevel)};
}

// Twice the distance from the middle of the scale (127.5) to the band's farthest level.
int Reach(const LumaBand& band) {
    const Levels l = Clamped(band);
    return std::max(2 * l.high - kTopLevel, kTopLevel - 2 * l.low);
}

bool Light(Pixel p) {
    const std::uint32_t b = p & 0xFFu, g = (p >> 8) & 0xFFu, r = (p >> 16) & 0xFFu;
    return kRedWeight * r + kGreenWeight * g + kBlueWeight * b >= kLightFrom;
}

}  // namespace

LumaMarking MarkingOf(std::span<const LumaBand> bands, int zebraLevel) {
    const std::size_t count = std::min(bands.size(), kMaxLumaBands);
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const int ra = Reach(bands[a]), rb = Reach(bands[b]);
        if (ra != rb) return ra > rb;
        const Levels la = Clamped(bands[a]), lb = Clamped(bands[b]);
        if (la.high != lb.high) return la.high > lb.high;
        return la.low > lb.low;
    });
    LumaMarking marking;
    for (std::size_t rank = 0; rank < count; ++rank) {
        const LumaBand& band = bands[order[rank]];
        marking.colours[rank] = band.colour & kColourBytes;
        if (band.low > band.high) continue;
        const Levels l = Clamped(band);
        for (int level = l.low; level <= l.high; ++level)
            marking.levels[static_cast<std::size_t>(level)] |= std::uint32_t{1} << rank;
    }
    for (int level = std::max(zebraLevel, 0); level <= kTopLevel; ++level)
        marking.levels[static_cast<std::size_t>(level)] |= kZebraMark;
    return marking;
}

std::vector<std::uint32_t> LumaMarks(const Pixel* source, std::size_t sourceWidth, std::size_t sourceHeight,
                                     std::size_t stride, std::size_t viewWidth, std::size_t viewHeight,
                                     const LumaMarking& marking) {
    if (source == nullptr || sourceWidth == 0 || sourceHeight == 0 || viewWidth == 0 || viewHeight == 0) return {};
    std::vector<std::uint32_t> marks(viewWidth * viewHeight, 0u);
    const std::vector<detail::Cover> columns = detail::Covers(sourceWidth, viewWidth);
    const std::vector<detail::Cover> rows = detail::Covers(sourceHeight, viewHeight);
    const std::uint32_t* const levels = marking.levels.data();

    // Split as ClipMarks splits: each thread reads its own view rows' source rows and
    // writes only its own marks.
    const std::size_t chunks = detail::ChunkCount(sourceWidth * sourceHeight);
    detail::ForEachChunk(viewHeight, chunks, [&](std::size_t, std::size_t rowBegin, std::size_t rowEnd) {
        for (std::size_t Y = rowBegin; Y < rowEnd; ++Y) {
            std::uint32_t* out = marks.data() + Y * viewWidth;
            for (std::size_t y = rows[Y].first; y <= rows[Y].last; ++y) {
                const Pixel* row = source + y * stride;
                for (std::size_t X = 0; X < viewWidth; ++X) {
                    std::uint32_t m = out[X];
                    for (std::size_t x = columns[X].first; x <= columns[X].last; ++x) m |= levels[row[x] >> 24];
                    out[X] = m;
                }
            }
        }
    });
    return marks;
}

void ApplyFalseColour(const Pixel* view, const std::uint32_t* marks, Pixel* out, std::size_t n,
                      const LumaMarking& marking) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t bands = marks[i] & ~kZebraMark;
        out[i] = bands != 0 ? marking.colours[static_cast<std::size_t>(std::countr_zero(bands))]
                            : (view[i] >> 24) * kGreyBytes;
    }
}

void ApplyZebra(Pixel* view, const std::uint32_t* marks, std::size_t width, std::size_t height) {
    for (std::size_t y = 0; y < height; ++y) {
        Pixel* row = view + y * width;
        const std::uint32_t* mark = marks + y * width;
        for (std::size_t x = 0; x < width; ++x)
            if ((mark[x] & kZebraMark) != 0 && (x + y) % kZebraPeriod < kZebraWidth)
                row[x] = Light(row[x]) ? kZebraDark : kZebraLight;
    }
}

}  // namespace korvex
