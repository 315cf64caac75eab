#include "colour/SignalCount.h"

#include <algorithm>
#include <cmath>

#include "kernels/simd.h"

namespace vistrel::colour {

Matrix3 Multiply(const Matrix3& a, const Matrix3& b) {
    Matrix3 m{};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j)
            for (std::size_t k = 0; k < 3; ++k) m[i][j] += a[i][k] * b[k][j];
    return m;
}

Matrix3 Inverse(const Matrix3& m) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    Matrix3 inv{};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j) {
            const std::size_t r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
            inv[i][j] = (m[r0][c0] * m[r1][c1] - m[r0][c1] * m[r1][c0]) / det;
        }
    return inv;
}

Matrix3 RgbToXyz(const Chromaticities& p) {
    // Each primary's XYZ at Y = 1, scaled so that the three add up to the white.
    const auto column = [](double x, double y) { return std::array<double, 3>{x / y, 1.0, (1 - x - y) / y}; };
    const std::array<double, 3> r = column(p.rx, p.ry), g = column(p.gx, p.gy), b = column(p.bx, p.by);
    const std::array<double, 3> w = column(p.wx, p.wy);
    const Matrix3 primaries{{{r[0], g[0], b[0]}, {r[1], g[1], b[1]}, {r[2], g[2], b[2]}}};
    const Matrix3 inv = Inverse(primaries);
    std::array<double, 3> s{};
    for (std::size_t i = 0; i < 3; ++i) s[i] = inv[i][0] * w[0] + inv[i][1] * w[1] + inv[i][2] * w[2];
    Matrix3 m{};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j) m[i][j] = primaries[i][j] * s[j];
    return m;
}

Matrix3 D50ToD65() {
    // Bradford's cone response, and ICC's D50 and D65's XYZ.
    const Matrix3 bradford{{{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};
    const std::array<double, 3> d50{0.9642, 1.0, 0.8249}, d65{0.95047, 1.0, 1.08883};
    Matrix3 scale{};
    for (std::size_t i = 0; i < 3; ++i) {
        double from = 0, to = 0;
        for (std::size_t k = 0; k < 3; ++k) from += bradford[i][k] * d50[k], to += bradford[i][k] * d65[k];
        scale[i][i] = to / from;
    }
    return Multiply(Inverse(bradford), Multiply(scale, bradford));
}

double HlgNits(double scene, double sceneLuminance) {
    if (!(sceneLuminance > 0)) return 0;
    return hdr::kHlgPeakNits * std::pow(sceneLuminance, hdr::kHlgGamma - 1) * scene;
}

SignalSpace SignalSpace::FromXyzMatrix(const Matrix3& toXyzD65, SignalTransfer transfer) {
    SignalSpace space;
    space.transfer = transfer;
    space.toXyz = toXyzD65;
    const Chromaticities* gamuts[3] = {&kSrgbPrimaries, &kP3Primaries, &kRec2020Primaries};
    for (std::size_t g = 0; g < 3; ++g) {
        space.toGamut[g] = Multiply(Inverse(RgbToXyz(*gamuts[g])), toXyzD65);
        // The unit cube's image is the convex hull of its corners' images: the corners
        // alone tell whether any colour of the space leaves the gamut.
        bool leaves = false;
        for (int corner = 0; corner < 8; ++corner)
            for (std::size_t i = 0; i < 3; ++i) {
                double v = 0;
                for (std::size_t j = 0; j < 3; ++j) v += space.toGamut[g][i][j] * ((corner >> j) & 1);
                leaves = leaves || v < -kGamutSlack || v > 1 + kGamutSlack;
            }
        space.canLeave[g] = leaves;
    }
    return space;
}

double NitsOf(const SignalSpace& space, const float* rgb) {
    const double top = std::max({double(rgb[0]), double(rgb[1]), double(rgb[2])});
    switch (space.transfer) {
        case SignalTransfer::Sdr: return 0;
        case SignalTransfer::Pq: return top * 10000;
        case SignalTransfer::Hlg: {
            const double ys = kRec2100Luminance[0] * rgb[0] + kRec2100Luminance[1] * rgb[1] + kRec2100Luminance[2] * rgb[2];
            return HlgNits(top, ys);
        }
    }
    return 0;
}

SignalTally::SignalTally(const SignalSpace* space)
    : space_(space), cells_(std::size_t{SignalStats::kChromaCells} * SignalStats::kChromaCells + 1) {}

void SignalTally::AddColour(const float* rgb, std::size_t n) {
    std::array<float, kPlanePixels> r, g, b;
    for (std::size_t at = 0; at < n; at += kPlanePixels) {
        const std::size_t count = std::min(kPlanePixels, n - at);
        for (std::size_t i = 0; i < count; ++i) {
            r[i] = rgb[3 * (at + i)];
            g[i] = rgb[3 * (at + i) + 1];
            b[i] = rgb[3 * (at + i) + 2];
        }
        AddPlanes(r.data(), g.data(), b.data(), count);
    }
}

void SignalTally::AddPlanes(const float* r, const float* g, const float* b, std::size_t n) {
#if KORVEX_HAVE_WIDE_VECTORS
    if (korvex::detail::UseWidestVectors()) return AddPlanesWidest(r, g, b, n);
    if (korvex::detail::UseWideVectors()) return AddPlanesWide(r, g, b, n);
#endif
    AddPlanesBody(r, g, b, n);
}

KORVEX_ALWAYS_INLINE void SignalTally::AddPlanesBody(const float* r, const float* g, const float* b, std::size_t n) {
    // In float, with no branches: loops the compiler runs on vectors. A float's rounding
    // moves a pixel to a neighbouring cell only within a ten-millionth of its edge, and
    // across a gamut's edge only within far less than its slack.
    std::array<std::array<float, 3>, 3> m{};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j) m[i][j] = static_cast<float>(space_->toXyz[i][j]);
    const std::int32_t side = SignalStats::kChromaCells;
    const float scale = static_cast<float>(SignalStats::kChromaCells / SignalStats::kChromaSpan);
    const float top = static_cast<float>(SignalStats::kChromaCells - 1);
    std::array<std::int32_t, kPlanePixels> cell;
    for (std::size_t at = 0; at < n; at += kPlanePixels) {
        const std::size_t count = std::min(kPlanePixels, n - at);
        for (std::size_t i = 0; i < count; ++i) {
            const float rr = r[at + i], gg = g[at + i], bb = b[at + i];
            const float x = m[0][0] * rr + m[0][1] * gg + m[0][2] * bb;
            const float y = m[1][0] * rr + m[1][1] * gg + m[1][2] * bb;
            const float z = m[2][0] * rr + m[2][1] * gg + m[2][2] * bb;
            const float sum = x + y + z;
            const float over = scale / (sum > 0 ? sum : 1.0f);  // black's place is not used
            // SignalStats::ChromaCell: the place truncated, clamped to the diagram.
            const float cx = std::min(std::max(x * over, 0.0f), top);
            const float cy = std::min(std::max(y * over, 0.0f), top);
            // Signed conversions, which vectors have: the places lie within 0 .. 511.
            const std::int32_t index = static_cast<std::int32_t>(cy) * side + static_cast<std::int32_t>(cx);
            cell[i] = sum > 0 ? index : side * side;  // black to the spare cell
        }
        for (std::size_t i = 0; i < count; ++i) ++cells_[static_cast<std::size_t>(cell[i])];
    }
    for (std::size_t gamut = 0; gamut < 3; ++gamut) {
        if (!space_->canLeave[gamut]) continue;
        std::array<std::array<float, 3>, 3> t{};
        for (std::size_t i = 0; i < 3; ++i)
            for (std::size_t j = 0; j < 3; ++j) t[i][j] = static_cast<float>(space_->toGamut[gamut][i][j]);
        const float below = static_cast<float>(-kGamutSlack), above = static_cast<float>(1 + kGamutSlack);
        std::uint64_t outside = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const float rr = r[i], gg = g[i], bb = b[i];
            const float v0 = t[0][0] * rr + t[0][1] * gg + t[0][2] * bb;
            const float v1 = t[1][0] * rr + t[1][1] * gg + t[1][2] * bb;
            const float v2 = t[2][0] * rr + t[2][1] * gg + t[2][2] * bb;
            const float low = std::min(std::min(v0, v1), v2), high = std::max(std::max(v0, v1), v2);
            outside += static_cast<std::uint64_t>((low < below) | (high > above));
        }
        outside_[gamut] += outside;
    }
    pixels_ += n;
}

// Without fused multiply-adds, which would round the products differently: AVX2 alone
// has none, and this file is built without contracting the AVX-512 build's into them.
KORVEX_TARGET_WIDE void SignalTally::AddPlanesWide(const float* r, const float* g, const float* b, std::size_t n) {
    AddPlanesBody(r, g, b, n);
}

KORVEX_TARGET_WIDEST void SignalTally::AddPlanesWidest(const float* r, const float* g, const float* b, std::size_t n) {
    AddPlanesBody(r, g, b, n);
}

void SignalTally::Add(const float* rgb, std::size_t n) {
    if (space_->transfer != SignalTransfer::Sdr)
        for (std::size_t i = 0; i < n; ++i) {
            const double nits = NitsOf(*space_, rgb + 3 * i);
            AddLight(nits, SignalLight::Bin(nits));
        }
    AddColour(rgb, n);
}

void SignalTally::Merge(const SignalTally& other) {
    pixels_ += other.pixels_;
    for (std::size_t i = 0; i < cells_.size(); ++i) cells_[i] += other.cells_[i];
    for (std::size_t g = 0; g < 3; ++g) outside_[g] += other.outside_[g];
    for (std::size_t b = 0; b < light_.size(); ++b) light_[b] += other.light_[b];
    sumFixed_ += other.sumFixed_;
    maxNits_ = std::max(maxNits_, other.maxNits_);
}

void SignalTally::AddTo(SignalStats& stats) const {
    stats.transfer = space_->transfer;
    stats.pixels += pixels_;
    // The spare cell past the last holds black, which has no chromaticity.
    const std::size_t cells = cells_.size() - 1;
    if (stats.chromaticity.size() != cells) stats.chromaticity.assign(cells, 0);
    for (std::size_t i = 0; i < cells; ++i) stats.chromaticity[i] += cells_[i];
    for (std::size_t g = 0; g < 3; ++g) stats.outside[g] += outside_[g];
    if (space_->transfer == SignalTransfer::Sdr) return;
    if (!stats.light) stats.light.emplace();
    SignalLight& light = *stats.light;
    for (std::size_t b = 0; b < light_.size(); ++b) light.histogram[b] += light_[b];
    light.maxCll = std::max(light.maxCll, maxNits_);
    light.sumNits += static_cast<double>(sumFixed_) / kSumScale;
}

SignalCount::Lease::Lease(SignalCount& count) : count_(count) {
    const std::lock_guard lock(count.mutex_);
    if (count.free_.empty()) {
        count.all_.push_back(std::make_unique<SignalTally>(&count.space_));
        tally_ = count.all_.back().get();
    } else {
        tally_ = count.free_.back();
        count.free_.pop_back();
    }
}

SignalCount::Lease::~Lease() {
    const std::lock_guard lock(count_.mutex_);
    count_.free_.push_back(tally_);
}

SignalStats SignalCount::Stats() const {
    SignalStats stats;
    stats.transfer = space_.transfer;
    if (space_.transfer != SignalTransfer::Sdr) stats.light.emplace();
    stats.chromaticity.assign(std::size_t{SignalStats::kChromaCells} * SignalStats::kChromaCells, 0);
    if (all_.empty()) return stats;
    // One tally's sum, whichever pixels it took: integers throughout.
    SignalTally merged(&space_);
    for (const auto& tally : all_) merged.Merge(*tally);
    merged.AddTo(stats);
    return stats;
}

}  // namespace vistrel::colour
