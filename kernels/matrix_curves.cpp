#include "kernels/matrix_curves.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "kernels/simd.h"

#if KORVEX_HAVE_WIDE_VECTORS
// GCC 12's AVX-512 headers start some results from an undefined register, which it
// then reports as maybe uninitialised in every caller.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#endif

namespace korvex {
namespace {

// Light of 1 in the 16-bit tables.
constexpr double kLightOne = 65535;
// sRGB's curve is straight below this light, 12.92 levels of 255 per unit.
constexpr float kKnee = 0.0031308f;
constexpr double kSlope = 12.92 * 255;
// The lowest octave with pieces of its own: 2^-8, just above the knee. Below it the
// first piece's quadratic stretches down to the knee.
constexpr float kLowestPiece = 0.00390625f;
// The largest light below 1, where the pieces end: 1 itself would fall on the first.
constexpr float kBelowOne = 0.99999994f;

double SrgbLevel(double light) { return 255 * (1.055 * std::pow(light, 1 / 2.4) - 0.055); }

// The piece of a light at or above kLowestPiece: its exponent and two top mantissa bits,
// taken modulo 32 (which the permutes do by themselves).
std::size_t PieceOf(float x) { return (std::bit_cast<std::uint32_t>(std::max(x, kLowestPiece)) >> 21) & 31; }

}  // namespace

MatrixCurves::MatrixCurves(const Light& light, const Matrix& matrix, double clipBelow, double clipAbove)
    : clipBelow_(static_cast<float>(clipBelow)), clipAbove_(static_cast<float>(clipAbove)) {
    for (std::size_t c = 0; c < 3; ++c)
        for (std::size_t v = 0; v < 256; ++v) {
            const auto fixed = static_cast<std::uint32_t>(std::nearbyint(std::clamp(light[c][v], 0.0, 1.0) * kLightOne));
            lightLow_[c][v] = static_cast<std::uint8_t>(fixed & 0xFF);
            lightHigh_[c][v] = static_cast<std::uint8_t>(fixed >> 8);
        }
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j) matrix_[i][j] = static_cast<float>(matrix[i][j] / kLightOne);
    // Each piece's quadratic through three Chebyshev nodes of its span: within a
    // hundredth of a level of the curve everywhere.
    for (int octave = -8; octave < 0; ++octave)
        for (int quarter = 0; quarter < 4; ++quarter) {
            const double base = std::ldexp(1.0, octave);
            const double low = octave == -8 && quarter == 0 ? double(kKnee) : base * (1 + quarter / 4.0);
            const double high = base * (1 + (quarter + 1) / 4.0);
            double x[3], y[3];
            for (int k = 0; k < 3; ++k) {
                x[k] = (low + high) / 2 + (high - low) / 2 * std::cos((2 * k + 1) * M_PI / 6);
                y[k] = SrgbLevel(x[k]);
            }
            const double b = (y[1] - y[0]) / (x[1] - x[0]);
            const double c = ((y[2] - y[1]) / (x[2] - x[1]) - b) / (x[2] - x[0]);
            const std::size_t piece = PieceOf(static_cast<float>(base * (1 + quarter / 4.0)));
            encode_[0][piece] = static_cast<float>(y[0] - b * x[0] + c * x[0] * x[1]);
            encode_[1][piece] = static_cast<float>(b - c * (x[0] + x[1]));
            encode_[2][piece] = static_cast<float>(c);
        }
}

float MatrixCurves::EncodeForTest(float x) const {
    x = std::min(std::max(x, 0.0f), kBelowOne);
    if (x < kKnee) return x * static_cast<float>(kSlope);
    const std::size_t piece = PieceOf(x);
    return std::fma(std::fma(encode_[2][piece], x, encode_[1][piece]), x, encode_[0][piece]);
}

#if KORVEX_HAVE_WIDE_VECTORS

namespace {

bool ProcessorHasBytePermutes() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
}

#define KORVEX_TARGET_BYTE_PERMUTES __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512dq")))

// A byte vector from a function of its position.
template <class F>
KORVEX_TARGET_BYTE_PERMUTES __m512i Bytes(F f) {
    alignas(64) std::uint8_t b[64];
    for (int i = 0; i < 64; ++i) b[i] = static_cast<std::uint8_t>(f(i));
    return _mm512_load_si512(b);
}

// A 256-entry byte table, four registers, looked up for 64 indices at once.
struct ByteTable {
    __m512i part[4];
};
KORVEX_TARGET_BYTE_PERMUTES KORVEX_ALWAYS_INLINE __m512i LookUp(const ByteTable& t, __m512i index, __mmask64 high) {
    return _mm512_mask_blend_epi8(high, _mm512_permutex2var_epi8(t.part[0], index, t.part[1]),
                                  _mm512_permutex2var_epi8(t.part[2], index, t.part[3]));
}

// Sixty-four pixels' red, green and blue bytes, a register each (byte i for pixel i): red
// (then green) from two registers of 32 pixels, and blue.
struct ChannelSplit {
    KORVEX_TARGET_BYTE_PERMUTES ChannelSplit()
        : pickRedGreen(Bytes([](int i) { return i < 32 ? 4 * i + 2 : 4 * (i - 32) + 1; })),
          pickBlue(Bytes([](int i) { return i < 32 ? 4 * i : 4 * (i - 32) + 3; })) {}
    KORVEX_TARGET_BYTE_PERMUTES KORVEX_ALWAYS_INLINE void operator()(const __m512i (&v)[4], __m512i (&channel)[3]) const {
        const __m512i redGreen01 = _mm512_permutex2var_epi8(v[0], pickRedGreen, v[1]);
        const __m512i redGreen23 = _mm512_permutex2var_epi8(v[2], pickRedGreen, v[3]);
        const __m512i blue01 = _mm512_permutex2var_epi8(v[0], pickBlue, v[1]);
        const __m512i blue23 = _mm512_permutex2var_epi8(v[2], pickBlue, v[3]);
        // Lanes 0 and 1 of both (0x44), or 2 and 3 of both (0xEE).
        channel[0] = _mm512_shuffle_i64x2(redGreen01, redGreen23, 0x44);
        channel[1] = _mm512_shuffle_i64x2(redGreen01, redGreen23, 0xEE);
        channel[2] = _mm512_shuffle_i64x2(blue01, blue23, 0x44);
    }
    __m512i pickRedGreen, pickBlue;
};

// The permute that puts two byte registers' entries for pixels 16g .. 16g + 15 into bytes
// `first` and first + 1 of 32-bit words, one a pixel (the word's other bytes are masked off).
KORVEX_TARGET_BYTE_PERMUTES __m512i WordBytes(int g, int first) {
    return Bytes([g, first](int i) { return (i & 3) == first ? 16 * g + i / 4 : 64 + 16 * g + i / 4; });
}

// sRGB's levels of 16 lights at once, as MatrixCurves::EncodeForTest computes them.
struct Encoder {
    KORVEX_TARGET_BYTE_PERMUTES explicit Encoder(const std::array<std::array<float, MatrixCurves::kPieces>, 3>& encode) {
        for (std::size_t k = 0; k < 3; ++k)
            for (std::size_t h = 0; h < 2; ++h) pieces[k][h] = _mm512_loadu_ps(encode[k].data() + 16 * h);
        zero = _mm512_setzero_ps();
        belowOne = _mm512_set1_ps(kBelowOne);
        knee = _mm512_set1_ps(kKnee);
        slope = _mm512_set1_ps(static_cast<float>(kSlope));
        lowestPiece = _mm512_set1_epi32(std::bit_cast<std::int32_t>(kLowestPiece));
        largestLevel = _mm512_set1_epi32(255);
    }
    KORVEX_TARGET_BYTE_PERMUTES KORVEX_ALWAYS_INLINE __m512i Level(__m512 x) const {
        x = _mm512_min_ps(_mm512_max_ps(x, zero), belowOne);
        const __m512i piece = _mm512_srli_epi32(_mm512_max_epi32(_mm512_castps_si512(x), lowestPiece), 21);
        const __m512 c2 = _mm512_permutex2var_ps(pieces[2][0], piece, pieces[2][1]);
        const __m512 c1 = _mm512_permutex2var_ps(pieces[1][0], piece, pieces[1][1]);
        const __m512 c0 = _mm512_permutex2var_ps(pieces[0][0], piece, pieces[0][1]);
        __m512 y = _mm512_fmadd_ps(_mm512_fmadd_ps(c2, x, c1), x, c0);
        y = _mm512_mask_mul_ps(y, _mm512_cmp_ps_mask(x, knee, _CMP_LT_OQ), x, slope);
        // The pieces stay below 255.5; the bound keeps a level to its own byte regardless.
        return _mm512_min_epi32(_mm512_cvtps_epi32(y), largestLevel);
    }
    __m512 pieces[3][2];
    __m512 zero, belowOne, knee, slope;
    __m512i lowestPiece, largestLevel;
};

// kWhole: count is a multiple of 64, and the pixels are loaded and stored plainly.
// Masked loads and stores of lines not in cache cost some three times as much on some
// processors (AMD's Zen 4), so only the last, partial block uses them.
template <bool kWhole>
KORVEX_TARGET_BYTE_PERMUTES std::uint64_t ConvertBytePermutes(
    const std::array<std::array<std::uint8_t, 256>, 3>& low, const std::array<std::array<std::uint8_t, 256>, 3>& high,
    const std::array<std::array<float, 3>, 3>& m, const std::array<std::array<float, MatrixCurves::kPieces>, 3>& encode,
    float clipBelow, float clipAbove, const std::uint32_t* in, std::uint32_t* out, std::size_t count,
    std::uint64_t* marks) {
    ByteTable lowTables[3], highTables[3];
    for (std::size_t c = 0; c < 3; ++c)
        for (std::size_t p = 0; p < 4; ++p) {
            lowTables[c].part[p] = _mm512_loadu_si512(low[c].data() + 64 * p);
            highTables[c].part[p] = _mm512_loadu_si512(high[c].data() + 64 * p);
        }
    __m512 matrix[3][3];
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j) matrix[i][j] = _mm512_set1_ps(m[i][j]);

    const ChannelSplit split;
    // Pixels 16g .. 16g + 15's light, low byte and high byte, as 32-bit words.
    __m512i widen[4];
    for (int g = 0; g < 4; ++g) widen[g] = WordBytes(g, 0);
    constexpr __mmask64 kWordBytes = 0x3333333333333333ull;

    const Encoder encoder(encode);
    const __m512 below = _mm512_set1_ps(clipBelow), above = _mm512_set1_ps(clipAbove);
    const __m512i top = _mm512_set1_epi32(static_cast<std::int32_t>(0xFF000000u));

    std::uint64_t clipped = 0;
    for (std::size_t at = 0; at < count; at += 64) {
        const std::size_t n = std::min<std::size_t>(64, count - at);
        __mmask16 lanes[4];
        __m512i v[4];
        for (std::size_t g = 0; g < 4; ++g) {
            const std::size_t here = n > 16 * g ? std::min<std::size_t>(16, n - 16 * g) : 0;
            lanes[g] = static_cast<__mmask16>((1u << here) - 1);
            v[g] = kWhole ? _mm512_loadu_si512(in + at + 16 * g) : _mm512_maskz_loadu_epi32(lanes[g], in + at + 16 * g);
        }
        __m512i channel[3];
        split(v, channel);
        __m512i lightLow[3], lightHigh[3];
        for (std::size_t c = 0; c < 3; ++c) {
            const __mmask64 upper = _mm512_movepi8_mask(channel[c]);
            lightLow[c] = LookUp(lowTables[c], channel[c], upper);
            lightHigh[c] = LookUp(highTables[c], channel[c], upper);
        }
        std::uint64_t marked = 0;  // the 64 pixels' clipped ones
        for (std::size_t g = 0; g < 4; ++g) {
            __m512 light[3];
            for (std::size_t c = 0; c < 3; ++c)
                light[c] = _mm512_cvtepi32_ps(_mm512_maskz_permutex2var_epi8(kWordBytes, lightLow[c], widen[g], lightHigh[c]));
            __m512 srgb[3];
            for (std::size_t i = 0; i < 3; ++i)
                srgb[i] = _mm512_fmadd_ps(matrix[i][2], light[2],
                                          _mm512_fmadd_ps(matrix[i][1], light[1], _mm512_mul_ps(matrix[i][0], light[0])));
            const __m512 least = _mm512_min_ps(_mm512_min_ps(srgb[0], srgb[1]), srgb[2]);
            const __m512 most = _mm512_max_ps(_mm512_max_ps(srgb[0], srgb[1]), srgb[2]);
            const __mmask16 outside = _mm512_mask_cmp_ps_mask(lanes[g], least, below, _CMP_LT_OQ) |
                                      _mm512_mask_cmp_ps_mask(lanes[g], most, above, _CMP_GT_OQ);
            clipped += static_cast<std::uint64_t>(std::popcount(static_cast<unsigned>(outside)));
            marked |= std::uint64_t{outside} << (16 * g);
            // Ternary logic 0xFE is a | b | c; 0xEA is (a & b) | c.
            const __m512i rgb = _mm512_ternarylogic_epi32(_mm512_slli_epi32(encoder.Level(srgb[0]), 16),
                                                          _mm512_slli_epi32(encoder.Level(srgb[1]), 8), encoder.Level(srgb[2]), 0xFE);
            const __m512i pixels = _mm512_ternarylogic_epi32(v[g], top, rgb, 0xEA);
            if constexpr (kWhole)
                _mm512_storeu_si512(out + at + 16 * g, pixels);
            else
                _mm512_mask_storeu_epi32(out + at + 16 * g, lanes[g], pixels);
        }
        if (marks != nullptr) marks[at / 64] = marked;
    }
    return clipped;
}

// LevelPlanes::LookUp for whole blocks of 64 pixels (count a multiple of 64): each table
// as four byte tables, one for each byte of its floats, looked up for 64 levels at once
// and put back together four bytes to a float.
KORVEX_TARGET_BYTE_PERMUTES void LevelsToPlanesBytePermutes(
    const std::array<std::array<std::array<std::uint8_t, 256>, 4>, 3>& bytes, const std::uint32_t* in,
    std::size_t count, float* const planes[3]) {
    ByteTable tableBytes[3][4];
    for (std::size_t c = 0; c < 3; ++c)
        for (std::size_t k = 0; k < 4; ++k)
            for (std::size_t p = 0; p < 4; ++p) tableBytes[c][k].part[p] = _mm512_load_si512(bytes[c][k].data() + 64 * p);
    const ChannelSplit split;
    // Pixels 16g .. 16g + 15's floats: bytes 0 and 1 from the first two byte planes, 2 and
    // 3 from the last two.
    __m512i low[4], high[4];
    for (int g = 0; g < 4; ++g) low[g] = WordBytes(g, 0), high[g] = WordBytes(g, 2);
    constexpr __mmask64 kLowBytes = 0x3333333333333333ull, kHighBytes = 0xCCCCCCCCCCCCCCCCull;
    for (std::size_t at = 0; at < count; at += 64) {
        __m512i v[4];
        for (std::size_t g = 0; g < 4; ++g) v[g] = _mm512_loadu_si512(in + at + 16 * g);
        __m512i channel[3];
        split(v, channel);
        for (std::size_t c = 0; c < 3; ++c) {
            const __mmask64 upper = _mm512_movepi8_mask(channel[c]);
            __m512i plane[4];
            for (std::size_t k = 0; k < 4; ++k) plane[k] = LookUp(tableBytes[c][k], channel[c], upper);
            for (std::size_t g = 0; g < 4; ++g) {
                const __m512i word = _mm512_or_si512(_mm512_maskz_permutex2var_epi8(kLowBytes, plane[0], low[g], plane[1]),
                                                     _mm512_maskz_permutex2var_epi8(kHighBytes, plane[2], high[g], plane[3]));
                _mm512_storeu_si512(planes[c] + at + 16 * g, word);
            }
        }
    }
}

}  // namespace

bool MatrixCurves::Available() {
    static const bool available = ProcessorHasBytePermutes();
    return available && detail::UseWideVectors();
}

std::uint64_t MatrixCurves::Convert(const std::uint32_t* in, std::uint32_t* out, std::size_t count,
                                    std::uint64_t* marks) const {
    const std::size_t whole = count / 64 * 64;
    std::uint64_t clipped = 0;
    if (whole != 0)
        clipped += ConvertBytePermutes<true>(lightLow_, lightHigh_, matrix_, encode_, clipBelow_, clipAbove_, in, out,
                                             whole, marks);
    if (whole != count)
        clipped += ConvertBytePermutes<false>(lightLow_, lightHigh_, matrix_, encode_, clipBelow_, clipAbove_,
                                              in + whole, out + whole, count - whole,
                                              marks != nullptr ? marks + whole / 64 : nullptr);
    return clipped;
}

#endif

LevelPlanes::LevelPlanes(const Floats& tables) : tables_(tables) {
    for (std::size_t c = 0; c < 3; ++c)
        for (std::size_t v = 0; v < 256; ++v) {
            const auto word = std::bit_cast<std::uint32_t>(tables_[c][v]);
            for (std::size_t k = 0; k < 4; ++k) bytes_[c][k][v] = static_cast<std::uint8_t>(word >> (8 * k));
        }
}

void LevelPlanes::LookUp(const std::uint32_t* pixels, std::size_t n, float* r, float* g, float* b) const {
    std::size_t whole = 0;
#if KORVEX_HAVE_WIDE_VECTORS
    if (MatrixCurves::Available()) {
        whole = n / 64 * 64;
        float* const planes[3] = {r, g, b};
        if (whole != 0) LevelsToPlanesBytePermutes(bytes_, pixels, whole, planes);
    }
#endif
    for (std::size_t i = whole; i < n; ++i) {
        r[i] = tables_[0][(pixels[i] >> 16) & 0xFF];
        g[i] = tables_[1][(pixels[i] >> 8) & 0xFF];
        b[i] = tables_[2][pixels[i] & 0xFF];
    }
}

#if !KORVEX_HAVE_WIDE_VECTORS

bool MatrixCurves::Available() { return false; }

std::uint64_t MatrixCurves::Convert(const std::uint32_t*, std::uint32_t*, std::size_t, std::uint64_t*) const { return 0; }

#endif

}  // namespace korvex
