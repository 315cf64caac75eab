#pragma once
// A conversion of 8-bit RGB pixels into sRGB through per-channel tone curves and a 3 x 3
// matrix of linear light, the whole of a matrix-and-curves ICC profile's transform.
// Pixels are 32-bit words, blue in the lowest byte; the top byte passes through.

#include <array>
#include <cstddef>
#include <cstdint>

namespace korvex {

class MatrixCurves {
public:
    using Light = std::array<std::array<double, 256>, 3>;  // each channel's levels as light, 0 .. 1
    using Matrix = std::array<std::array<double, 3>, 3>;   // rows: sRGB's red, green, blue light

    // A pixel counts as clipped when any of its channels' light falls below `clipBelow`
    // or above `clipAbove`.
    MatrixCurves(const Light& light, const Matrix& matrix, double clipBelow, double clipAbove);

    // True where the processor has the byte permutes (AVX-512 VBMI) that Convert needs
    // and vector builds have not been switched off.
    static bool Available();

    // count pixels from `in` to `out` (which may be the same); returns how many were
    // clipped, and with `marks` says which: bit i of marks[i / 64] for pixel i, each of
    // the ceil(count / 64) words written whole. Only where Available().
    std::uint64_t Convert(const std::uint32_t* in, std::uint32_t* out, std::size_t count,
                          std::uint64_t* marks = nullptr) const;

    // sRGB's level of linear light x (0 .. 1) as Convert computes it, before rounding:
    // for tests against the curve itself.
    float EncodeForTest(float x) const;

    // The encoding's pieces: quadratics over quarters of the octaves 2^-8 .. 1.
    static constexpr std::size_t kPieces = 32;

private:
    // Each channel's light in 16-bit fixed point (65535 is 1), as low and high bytes.
    alignas(64) std::array<std::array<std::uint8_t, 256>, 3> lightLow_{};
    alignas(64) std::array<std::array<std::uint8_t, 256>, 3> lightHigh_{};
    std::array<std::array<float, 3>, 3> matrix_{};  // scaled for 16-bit light
    // sRGB's curve in levels: c0 + x (c1 + x c2) on each piece.
    alignas(64) std::array<std::array<float, kPieces>, 3> encode_{};
    float clipBelow_ = 0, clipAbove_ = 0;
};

// Three tables of a float for each 8-bit level, one for each channel, looked up for
// every pixel's red, green and blue levels (0x..RRGGBB) into three planes of floats.
class LevelPlanes {
public:
    using Floats = std::array<std::array<float, 256>, 3>;
    explicit LevelPlanes(const Floats& tables);

    // r[i], g[i] and b[i] are the tables' entries for pixel i's levels, exactly. With byte
    // permutes (MatrixCurves::Available()) 64 pixels at a time.
    void LookUp(const std::uint32_t* pixels, std::size_t n, float* r, float* g, float* b) const;

private:
    Floats tables_;
    // bytes_[c][k][v]: byte k of tables_[c][v], as the byte permutes look them up.
    alignas(64) std::array<std::array<std::array<std::uint8_t, 256>, 4>, 3> bytes_{};
};

}  // namespace korvex
