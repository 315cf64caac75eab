#pragma once
// What a picture file's own samples hold, counted by the decoder at their full precision
// (before any rounding to 8 bits, gamut clipping or tone mapping): the light of an HDR
// signal in nits, where its colours fall on the CIE 1931 xy diagram, and how many of them
// lie outside the common gamuts. The program only reads these counts.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vistrel {

// The transfer function a file names for its samples, as far as light in nits needs it.
enum class SignalTransfer {
    Sdr,  // sRGB, gamma or an ICC curve: relative light, no nits
    Pq,   // SMPTE ST 2084
    Hlg,  // ITU-R BT.2100 HLG, shown on a 1000-nit display (system gamma 1.2)
};

// An HDR picture's light: each pixel's max(R, G, B) in cd/m².
struct SignalLight {
    // A log axis from kMinNits to kMaxNits in kBins equal steps; a pixel at or below
    // kMinNits counts in bin 0, one at or above kMaxNits in the last.
    static constexpr int kBins = 1024;
    static constexpr double kMinNits = 0.01;   // below anything a display shows
    static constexpr double kMaxNits = 10000;  // PQ's peak
    static int Bin(double nits) {
        if (!(nits > kMinNits)) return 0;
        const double at = std::log10(nits / kMinNits) / std::log10(kMaxNits / kMinNits) * kBins;
        return at >= kBins - 1 ? kBins - 1 : static_cast<int>(at);
    }
    // The lower edge of a bin, in nits.
    static double BinNits(int bin) {
        return kMinNits * std::pow(kMaxNits / kMinNits, static_cast<double>(bin) / kBins);
    }
    std::array<std::uint64_t, kBins> histogram{};
    double maxCll = 0;   // the largest max(R, G, B), in nits
    double sumNits = 0;  // the sum of every pixel's max(R, G, B): MaxFALL is sumNits / pixels
    bool operator==(const SignalLight&) const = default;
};

// The light at or below which `percent` of an HDR picture's pixels lie (at least
// ceil(percent / 100 * pixels) of them), as far as the bins tell it: the upper edge of
// the bin that reaches that count, but never above MaxCLL; 0 for no pixels.
inline double LightPercentile(const SignalLight& light, std::uint64_t pixels, int percent) {
    if (pixels == 0) return 0;
    const std::uint64_t wanted = (pixels * std::uint64_t(percent) + 99) / 100;
    std::uint64_t below = 0;
    for (int bin = 0; bin < SignalLight::kBins; ++bin) {
        below += light.histogram[std::size_t(bin)];
        if (below >= wanted) return std::min(SignalLight::BinNits(bin + 1), light.maxCll);
    }
    return light.maxCll;
}

struct SignalStats {
    // The xy diagram is counted over x and y from 0 to kChromaSpan, kChromaCells cells a
    // side; cell (cx, cy) at chromaticity[cy * kChromaCells + cx], cy = 0 at y = 0.
    static constexpr int kChromaCells = 512;
    static constexpr double kChromaSpan = 0.9;  // the spectral locus lies within x < 0.74, y < 0.84
    static int ChromaCell(double v) {
        const double at = v / kChromaSpan * kChromaCells;
        return at <= 0 ? 0 : at >= kChromaCells - 1 ? kChromaCells - 1 : static_cast<int>(at);
    }
    enum Gamut : int { Srgb = 0, DisplayP3 = 1, Rec2020 = 2 };

    SignalTransfer transfer = SignalTransfer::Sdr;
    std::uint64_t pixels = 0;
    std::optional<SignalLight> light;  // for Pq and Hlg only
    // Each pixel with any light (X + Y + Z > 0) counted once in its xy cell; black has no
    // chromaticity and is not counted.
    std::vector<std::uint32_t> chromaticity;
    // Pixels with any linear component in that gamut's primaries below -1/4096 or above
    // 1 + 1/4096.
    std::array<std::uint64_t, 3> outside{};
    bool operator==(const SignalStats&) const = default;
};

}  // namespace vistrel
