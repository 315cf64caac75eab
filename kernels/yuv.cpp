// Luma and colour differences of every pixel, exact to the last bit.
//
// Rec. 601, with S = 299 R + 587 G + 114 B (that is 1000 Y', Y' the unrounded luma):
//   Y = nearest(S / 1000)
//   U = nearest(0.492 (B - Y')) = nearest(492 (1000 B - S) / 10^6)
//   V = nearest(0.877 (R - Y')) = nearest(877 (1000 R - S) / 10^6)
// Rec. 709, with S = 2126 R + 7152 G + 722 B (10^4 Y'):
//   Y = nearest(S / 10^4)
//   U = nearest(4698 (10^4 B - S) / 10^8) = nearest(2349 d / 25 000 000), d = 4639 B - 1063 R - 3576 G
//   V = nearest(7808 (10^4 R - S) / 10^8) = nearest(61 e / 390 625),      e = 3937 R - 3576 G - 361 B
// halves to even. No 8-bit colour puts U or V exactly halfway under either standard (the
// tests go through the whole cube), so those two round halves up and skip the tie step;
// luma does fall on halves. The loop bodies have no branches so that the compiler can
// vectorise them.

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>

#include "kernels/korvex.h"
#include "kernels/parallel.h"
#include "kernels/simd.h"
#include "kernels/yuv_cells.h"

namespace korvex {

namespace {

static_assert(std::endian::native == std::endian::little, "UvPair is written as one little-endian word");

// nearest(x / D) for x >= 0, halves up: for the quotients that never land on a half.
template <std::uint32_t D>
KORVEX_ALWAYS_INLINE std::uint32_t DivideHalfUp(std::uint32_t x) {
    return (x + D / 2) / D;
}

// nearest(s / D), halves to even, for 0 <= s <= 255 D and D <= 10^4, in single precision:
// cheaper in vector lanes than an integer division. p is within 4.6e-5 of s / D + 1/2 +
// 1/(2D) (24-bit products below 256), and the fraction of that sum is 1/(2D) for a half
// and at least 3/(2D) otherwise, never above 1 - 1/(2D): the whole part is right, and
// only a half leaves a fraction below 1/D.
template <std::uint32_t D>
KORVEX_ALWAYS_INLINE std::uint32_t LumaOf(std::int32_t s) {
    constexpr float kScale = 1.0f / static_cast<float>(D);
    constexpr float kHalfAndMore = 0.5f + 0.5f / static_cast<float>(D);
    const float p = static_cast<float>(s) * kScale + kHalfAndMore;
    const std::int32_t q = static_cast<std::int32_t>(p);
    const std::uint32_t tie = p - static_cast<float>(q) < kScale ? 1u : 0u;
    return static_cast<std::uint32_t>(q) - (tie & static_cast<std::uint32_t>(q));
}

// Offset added to the colour-difference numerators so that they are never negative; a
// multiple of 10^6, so it moves the quotient by a whole number.
// 492 (1000 B - S) >= -125.5e6 and 877 (1000 R - S) >= -223.7e6; plus the offset both
// stay below 4.2e8, well inside 32 bits.
constexpr std::int32_t kDifferenceOffsetUnits = 256;
constexpr std::int32_t kDifferenceOffset = kDifferenceOffsetUnits * 1'000'000;

KORVEX_ALWAYS_INLINE void Store(Pixel* pixels, UvPair* chroma, std::size_t k, Pixel p, std::uint32_t y,
                                std::uint32_t u, std::uint32_t v) {
    pixels[k] = (p & 0x00FFFFFFu) | (y << 24);
    // U in the low half, V in the high half, as UvPair lays them out.
    const std::uint32_t packed = (u & 0xFFFFu) | (v << 16);
    std::memcpy(&chroma[k], &packed, sizeof packed);
}

// The pair as its cell in UvHistogram's table, formed in the vector loop so that the
// loop that counts does nothing but count. (u and v are the signed values, modulo 2^32.)
KORVEX_ALWAYS_INLINE void Store(Pixel* pixels, std::uint32_t* cells, std::size_t k, Pixel p, std::uint32_t y,
                                std::uint32_t u, std::uint32_t v) {
    pixels[k] = (p & 0x00FFFFFFu) | (y << 24);
    cells[k] = (v - static_cast<std::uint32_t>(UvHistogram::kMinV)) * static_cast<std::uint32_t>(UvHistogram::kColumns) +
               (u - static_cast<std::uint32_t>(UvHistogram::kMinU));
}

// A cell alone, for pixels that already carry their luma and are only read: the pixel is
// not written, and the luma it would have had is not formed.
struct ReadOnlyCell {
    std::uint32_t cell;
};
KORVEX_ALWAYS_INLINE void Store(Pixel*, ReadOnlyCell* cells, std::size_t k, Pixel, std::uint32_t, std::uint32_t u,
                                std::uint32_t v) {
    cells[k].cell = (v - static_cast<std::uint32_t>(UvHistogram::kMinV)) * static_cast<std::uint32_t>(UvHistogram::kColumns) +
                    (u - static_cast<std::uint32_t>(UvHistogram::kMinU));
}
static_assert(sizeof(ReadOnlyCell) == sizeof(std::uint32_t));

template <class Chroma>
KORVEX_ALWAYS_INLINE void Convert601Body(Pixel* pixels, Chroma* chroma, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        const Pixel p = pixels[k];
        const std::int32_t b = static_cast<std::int32_t>(p & 0xFFu);
        const std::int32_t g = static_cast<std::int32_t>((p >> 8) & 0xFFu);
        const std::int32_t r = static_cast<std::int32_t>((p >> 16) & 0xFFu);
        const std::int32_t s = 299 * r + 587 * g + 114 * b;
        const std::uint32_t y = LumaOf<1000>(s);
        const std::uint32_t u =
            DivideHalfUp<1'000'000>(static_cast<std::uint32_t>(492 * (1000 * b - s) + kDifferenceOffset)) -
            kDifferenceOffsetUnits;
        const std::uint32_t v =
            DivideHalfUp<1'000'000>(static_cast<std::uint32_t>(877 * (1000 * r - s) + kDifferenceOffset)) -
            kDifferenceOffsetUnits;
        Store(pixels, chroma, k, p, y, u, v);
    }
}

// Rec. 709's V: |61 e| <= 6.13e7; the offset, a multiple of the divisor, keeps the
// numerator positive.
constexpr std::uint32_t kV709Divisor = 390'625;
constexpr std::int32_t kV709OffsetUnits = 160;
constexpr std::int32_t kV709Offset = kV709OffsetUnits * static_cast<std::int32_t>(kV709Divisor);

// Rec. 709's U: 2349 d reaches 2.78e9 either side of 0, too wide for 32 bits, so it is
// formed as 64 hi + lo (|hi| <= 4.35e7, lo in 0..63) and divided by 64 x 390 625 in two
// steps: hi by 390 625, then the remainder 64 r + lo compared with half the divisor.
constexpr std::uint32_t kU709Factor = 2349;
constexpr std::uint32_t kU709Half = 12'500'000;
constexpr std::int32_t kU709OffsetUnits = 112;
constexpr std::int32_t kU709Offset = kU709OffsetUnits * static_cast<std::int32_t>(kV709Divisor);

template <class Chroma>
KORVEX_ALWAYS_INLINE void Convert709Body(Pixel* pixels, Chroma* chroma, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        const Pixel p = pixels[k];
        const std::int32_t b = static_cast<std::int32_t>(p & 0xFFu);
        const std::int32_t g = static_cast<std::int32_t>((p >> 8) & 0xFFu);
        const std::int32_t r = static_cast<std::int32_t>((p >> 16) & 0xFFu);
        const std::int32_t s = 2126 * r + 7152 * g + 722 * b;
        const std::uint32_t y = LumaOf<10'000>(s);

        const std::int32_t e = 3937 * r - 3576 * g - 361 * b;
        const std::uint32_t v =
            DivideHalfUp<kV709Divisor>(static_cast<std::uint32_t>(61 * e + kV709Offset)) - kV709OffsetUnits;

        const std::int32_t d = 4639 * b - 1063 * r - 3576 * g;
        const std::uint32_t low6 = static_cast<std::uint32_t>(d) & 63u;          // d mod 64
        const std::int32_t high = d >> 6;                                         // floor(d / 64)
        const std::uint32_t lowProduct = kU709Factor * low6;                      // below 2^18
        const std::uint32_t hi = static_cast<std::uint32_t>(static_cast<std::int32_t>(kU709Factor) * high +
                                                            static_cast<std::int32_t>(lowProduct >> 6) + kU709Offset);
        const std::uint32_t lo = lowProduct & 63u;
        const std::uint32_t q = hi / kV709Divisor;
        const std::uint32_t rest = (hi - q * kV709Divisor) * 64u + lo;            // 0 .. 24 999 999
        const std::uint32_t up = rest >= kU709Half ? 1u : 0u;
        const std::uint32_t u = q + up - kU709OffsetUnits;
        Store(pixels, chroma, k, p, y, u, v);
    }
}

template <class Chroma>
using ConvertRange = void (*)(Pixel*, Chroma*, std::size_t);

template <class Chroma>
void Convert601Plain(Pixel* pixels, Chroma* chroma, std::size_t count) {
    Convert601Body(pixels, chroma, count);
}
template <class Chroma>
void Convert709Plain(Pixel* pixels, Chroma* chroma, std::size_t count) {
    Convert709Body(pixels, chroma, count);
}

template <class Chroma>
KORVEX_TARGET_WIDE void Convert601Wide(Pixel* pixels, Chroma* chroma, std::size_t count) {
    Convert601Body(pixels, chroma, count);
}

template <class Chroma>
KORVEX_TARGET_WIDE void Convert709Wide(Pixel* pixels, Chroma* chroma, std::size_t count) {
    Convert709Body(pixels, chroma, count);
}

template <class Chroma>
KORVEX_TARGET_WIDEST void Convert601Widest(Pixel* pixels, Chroma* chroma, std::size_t count) {
    Convert601Body(pixels, chroma, count);
}

template <class Chroma>
KORVEX_TARGET_WIDEST void Convert709Widest(Pixel* pixels, Chroma* chroma, std::size_t count) {
    Convert709Body(pixels, chroma, count);
}

// The widest build the processor has: twice the lanes halve the conversion's time, which
// is a good part of a load's analysis.
template <class Chroma>
ConvertRange<Chroma> ChooseConversion(LumaStandard standard) {
    const bool widest = detail::UseWidestVectors();
    const bool wide = detail::UseWideVectors();
    switch (standard) {
        case LumaStandard::Rec601:
            return widest ? &Convert601Widest<Chroma> : wide ? &Convert601Wide<Chroma> : &Convert601Plain<Chroma>;
        case LumaStandard::Rec709:
            return widest ? &Convert709Widest<Chroma> : wide ? &Convert709Wide<Chroma> : &Convert709Plain<Chroma>;
    }
    assert(!"unknown luma standard");
    return &Convert601Plain<Chroma>;
}

}  // namespace

void ConvertToYuv(std::span<Pixel> pixels, std::span<UvPair> chroma, LumaStandard standard) {
    assert(pixels.size() == chroma.size());
    const std::size_t count = std::min(pixels.size(), chroma.size());
    Pixel* const p = pixels.data();
    UvPair* const c = chroma.data();
    const ConvertRange<UvPair> convert = ChooseConversion<UvPair>(standard);
    detail::ParallelFor(count, [p, c, convert](std::size_t begin, std::size_t end) {
        convert(p + begin, c + begin, end - begin);
    });
}

void detail::ConvertToCells(Pixel* pixels, std::uint32_t* cells, std::size_t count, LumaStandard standard) {
    ChooseConversion<std::uint32_t>(standard)(pixels, cells, count);
}

void detail::CellsOf(const Pixel* pixels, std::uint32_t* cells, std::size_t count, LumaStandard standard) {
    // The conversion takes a writable pointer; with ReadOnlyCell it only reads through it.
    ChooseConversion<ReadOnlyCell>(standard)(const_cast<Pixel*>(pixels), reinterpret_cast<ReadOnlyCell*>(cells), count);
}

ChromaGrid ConvertToYuv(PixelGrid& pixels, LumaStandard standard) {
    ChromaGrid chroma(pixels.width(), pixels.height());
    ConvertToYuv(pixels.span(), chroma.span(), standard);
    return chroma;
}

}  // namespace korvex
