// Luma and colour differences of every pixel, exact to the last bit.
//
// With S = 299 R + 587 G + 114 B (that is 1000 Y', Y' the unrounded luma):
//   Y = nearest(S / 1000)
//   U = nearest(0.492 (B - Y')) = nearest(492 (1000 B - S) / 10^6)
//   V = nearest(0.877 (R - Y')) = nearest(877 (1000 R - S) / 10^6)
// all in 32-bit integers, halves to even. The loop body has no branches so that the
// compiler can vectorise it.

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>

#include "kernels/korvex.h"
#include "kernels/parallel.h"
#include "kernels/simd.h"

namespace korvex {

namespace {

static_assert(std::endian::native == std::endian::little, "UvPair is written as one little-endian word");

// nearest(x / D) for x >= 0, halves to even: round half up, then step an odd
// quotient back down when x lay exactly halfway.
template <std::uint32_t D>
KORVEX_ALWAYS_INLINE std::uint32_t DivideHalfEven(std::uint32_t x) {
    static_assert(D % 2 == 0, "a tie needs an even divisor");
    const std::uint32_t t = x + D / 2;
    const std::uint32_t q = t / D;
    const std::uint32_t tie = (t - q * D) == 0 ? 1u : 0u;
    return q - (tie & q);
}

// Offset added to the colour-difference numerators so that they are never negative;
// a multiple of 2 * 10^6, so it moves the quotient by an even amount and keeps ties even.
// 492 (1000 B - S) >= -125.5e6 and 877 (1000 R - S) >= -223.7e6; plus the offset both
// stay below 4.2e8, well inside 32 bits.
constexpr std::int32_t kDifferenceOffsetUnits = 256;
constexpr std::int32_t kDifferenceOffset = kDifferenceOffsetUnits * 1'000'000;

KORVEX_ALWAYS_INLINE void ConvertRangeBody(Pixel* pixels, UvPair* chroma, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        const Pixel p = pixels[k];
        const std::int32_t b = static_cast<std::int32_t>(p & 0xFFu);
        const std::int32_t g = static_cast<std::int32_t>((p >> 8) & 0xFFu);
        const std::int32_t r = static_cast<std::int32_t>((p >> 16) & 0xFFu);
        const std::int32_t s = 299 * r + 587 * g + 114 * b;
        const std::uint32_t y = DivideHalfEven<1000>(static_cast<std::uint32_t>(s));
        const std::uint32_t u =
            DivideHalfEven<1'000'000>(static_cast<std::uint32_t>(492 * (1000 * b - s) + kDifferenceOffset)) -
            kDifferenceOffsetUnits;
        const std::uint32_t v =
            DivideHalfEven<1'000'000>(static_cast<std::uint32_t>(877 * (1000 * r - s) + kDifferenceOffset)) -
            kDifferenceOffsetUnits;
        pixels[k] = (p & 0x00FFFFFFu) | (y << 24);
        // U in the low half, V in the high half, as UvPair lays them out.
        const std::uint32_t packed = (u & 0xFFFFu) | (v << 16);
        std::memcpy(&chroma[k], &packed, sizeof packed);
    }
}

void ConvertRangePlain(Pixel* pixels, UvPair* chroma, std::size_t count) {
    ConvertRangeBody(pixels, chroma, count);
}

KORVEX_TARGET_WIDE void ConvertRangeWide(Pixel* pixels, UvPair* chroma, std::size_t count) {
    ConvertRangeBody(pixels, chroma, count);
}

}  // namespace

void ConvertToYuv(std::span<Pixel> pixels, std::span<UvPair> chroma) {
    assert(pixels.size() == chroma.size());
    const std::size_t count = std::min(pixels.size(), chroma.size());
    Pixel* const p = pixels.data();
    UvPair* const c = chroma.data();
    const auto convert = detail::UseWideVectors() ? &ConvertRangeWide : &ConvertRangePlain;
    detail::ParallelFor(count, [p, c, convert](std::size_t begin, std::size_t end) {
        convert(p + begin, c + begin, end - begin);
    });
}

ChromaGrid ConvertToYuv(PixelGrid& pixels) {
    ChromaGrid chroma(pixels.width(), pixels.height());
    ConvertToYuv(pixels.span(), chroma.span());
    return chroma;
}

}  // namespace korvex
