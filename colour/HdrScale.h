#pragma once
// Where lights in nits fall in an HDR signal shown as its stored 8-bit code values: the
// PQ (SMPTE ST 2084) and HLG (ITU-R BT.2100, a 1000-nit display, system gamma 1.2)
// curves both ways, for the instruments' nits scale and their readings. Pure.

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <vector>

#include "colour/Signal.h"

namespace vistrel::hdr {

// The lights the nits scale marks: the dimmest shadow detail up to PQ's peak, with 203,
// the HDR reference white (BT.2408).
inline constexpr std::array<double, 8> kScaleNits{0.1, 1, 10, 100, 203, 1000, 4000, 10000};

// The top 8-bit code level: a signal of 1.0.
inline constexpr int kTopLevel = 255;

// ST 2084's constants.
inline constexpr double kPqM1 = 2610.0 / 16384.0;
inline constexpr double kPqM2 = 2523.0 / 4096.0 * 128.0;
inline constexpr double kPqC1 = 3424.0 / 4096.0;
inline constexpr double kPqC2 = 2413.0 / 4096.0 * 32.0;
inline constexpr double kPqC3 = 2392.0 / 4096.0 * 32.0;
inline constexpr double kPqPeakNits = 10000;

// BT.2100 HLG's constants, and the display its light is shown on.
inline constexpr double kHlgA = 0.17883277;
inline constexpr double kHlgB = 1 - 4 * kHlgA;
inline constexpr double kHlgC = 0.55991073;  // 0.5 - a ln(4a)
inline constexpr double kHlgPeakNits = 1000;
inline constexpr double kHlgGamma = 1.2;  // the system gamma of a 1000-nit display

// PQ: a signal in 0..1 to its light in nits, and back.
inline double PqNits(double signal) {
    const double p = std::pow(std::clamp(signal, 0.0, 1.0), 1 / kPqM2);
    return kPqPeakNits * std::pow(std::max(p - kPqC1, 0.0) / (kPqC2 - kPqC3 * p), 1 / kPqM1);
}
inline double PqSignal(double nits) {
    const double y = std::pow(std::clamp(nits / kPqPeakNits, 0.0, 1.0), kPqM1);
    return std::pow((kPqC1 + kPqC2 * y) / (1 + kPqC3 * y), kPqM2);
}

// HLG's inverse OETF: a signal in 0..1 to its scene light in 0..1.
inline double HlgScene(double signal) {
    const double e = std::clamp(signal, 0.0, 1.0);
    return e <= 0.5 ? e * e / 3 : (std::exp((e - kHlgC) / kHlgA) + kHlgB) / 12;
}
// HLG, for a grey (R = G = B, so the light is the display's luminance): a signal in 0..1
// through the inverse OETF to scene light and the OOTF (peak x light ^ gamma) to nits; and
// back, for lights up to the display's peak.
inline double HlgNits(double signal) { return kHlgPeakNits * std::pow(HlgScene(signal), kHlgGamma); }
inline double HlgSignal(double nits) {
    const double scene = std::pow(std::clamp(nits / kHlgPeakNits, 0.0, 1.0), 1 / kHlgGamma);
    return scene <= 1.0 / 12 ? std::sqrt(3 * scene) : kHlgA * std::log(12 * scene - kHlgB) + kHlgC;
}

// Whether a transfer has lights in nits.
constexpr bool HasNits(SignalTransfer transfer) { return transfer != SignalTransfer::Sdr; }

// The 8-bit code level that carries a light: nearest(signal x 255). None for an SDR
// transfer, or for a light above what the transfer reaches (HLG's 1000-nit peak).
inline std::optional<int> NitsLevel(SignalTransfer transfer, double nits) {
    // A light this far over the peak is not the peak itself, however it rounds.
    constexpr double kOverPeak = 1e-9;
    switch (transfer) {
        case SignalTransfer::Sdr: return std::nullopt;
        case SignalTransfer::Pq:
            if (nits > kPqPeakNits * (1 + kOverPeak)) return std::nullopt;
            return static_cast<int>(std::nearbyint(PqSignal(nits) * kTopLevel));
        case SignalTransfer::Hlg:
            if (nits > kHlgPeakNits * (1 + kOverPeak)) return std::nullopt;
            return static_cast<int>(std::nearbyint(HlgSignal(nits) * kTopLevel));
    }
    return std::nullopt;
}

// The light an 8-bit code level carries; 0 for an SDR transfer.
inline double LevelNits(SignalTransfer transfer, int level) {
    const double signal = static_cast<double>(level) / kTopLevel;
    switch (transfer) {
        case SignalTransfer::Sdr: return 0;
        case SignalTransfer::Pq: return PqNits(signal);
        case SignalTransfer::Hlg: return HlgNits(signal);
    }
    return 0;
}

// A scale line: the light it marks and the code level it sits at.
struct ScaleLine {
    double nits = 0;
    int level = 0;
    bool operator==(const ScaleLine&) const = default;
};
// The nits scale's lines a transfer reaches, dimmest first; none for SDR.
inline std::vector<ScaleLine> ScaleLines(SignalTransfer transfer) {
    std::vector<ScaleLine> lines;
    for (const double nits : kScaleNits)
        if (const auto level = NitsLevel(transfer, nits)) lines.push_back({nits, *level});
    return lines;
}

}  // namespace vistrel::hdr
