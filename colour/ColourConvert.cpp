#include "colour/ColourConvert.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include <lcms2.h>

#include "colour/LcmsHandles.h"

#include "colour/SrgbCurve.h"
#include "kernels/matrix_curves.h"

namespace vistrel::colour {
namespace {


// Parametric curves of ICC type 4: Y = (aX + b)^g above d, cX below.
Curve SrgbCurve() {
    const cmsFloat64Number p[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return Curve(cmsBuildParametricToneCurve(nullptr, 4, p));
}
// Rec. 709 and Rec. 2020's camera curve, inverted.
Curve Rec709Curve() {
    const cmsFloat64Number p[5] = {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081};
    return Curve(cmsBuildParametricToneCurve(nullptr, 4, p));
}
Curve GammaCurve(double gamma) { return Curve(cmsBuildGamma(nullptr, gamma)); }

// HDR signals are shown as SDR: light relative to the reference white of BT.2408 (203
// cd/m²), passed on unchanged up to the knee and rolled off above it by Reinhard's
// operator with its white at the signal's peak, so that highlights approach white
// instead of clipping (the reference white becomes 90 % of sRGB's white).
constexpr double kReferenceWhiteNits = 203;
constexpr double kKnee = 0.8;
double RollOff(double x, double peak) {
    if (x <= kKnee) return x;
    const double t = (x - kKnee) / (1 - kKnee), top = (peak - kKnee) / (1 - kKnee);
    return kKnee + (1 - kKnee) * std::min(1.0, t * (1 + t / (top * top)) / (1 + t));
}
// Entries of the tabulated HDR curves: enough that neighbouring 10-bit codes stay apart.
constexpr int kHdrCurveEntries = 4096;

template <typename Eotf>
Curve TabulatedCurve(Eotf toNits) {
    const double peak = toNits(1.0) / kReferenceWhiteNits;
    std::vector<float> values(kHdrCurveEntries);
    for (int i = 0; i < kHdrCurveEntries; ++i)
        values[std::size_t(i)] = float(RollOff(toNits(double(i) / (kHdrCurveEntries - 1)) / kReferenceWhiteNits, peak));
    return Curve(cmsBuildTabulatedToneCurveFloat(nullptr, kHdrCurveEntries, values.data()));
}

// SMPTE ST 2084's EOTF, to cd/m².
Curve PqCurve() {
    return TabulatedCurve([](double e) {
        constexpr double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128, c1 = 3424.0 / 4096, c2 = 2413.0 / 4096 * 32,
                         c3 = 2392.0 / 4096 * 32;
        const double p = std::pow(e, 1 / m2);
        return 10000 * std::pow(std::max(p - c1, 0.0) / (c2 - c3 * p), 1 / m1);
    });
}

// ARIB STD-B67's inverse OETF and the OOTF of a 1000 cd/m² display (system gamma 1.2),
// per channel.
Curve HlgCurve() {
    return TabulatedCurve([](double e) {
        constexpr double a = 0.17883277, b = 0.28466892, c = 0.55991073, kPeakNits = 1000, kSystemGamma = 1.2;
        const double scene = e <= 0.5 ? e * e / 3 : (std::exp((e - c) / a) + b) / 12;
        return kPeakNits * std::pow(scene, kSystemGamma);
    });
}

struct Primaries {
    double rx, ry, gx, gy, bx, by, wx, wy;
};
constexpr Primaries kRec709{0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290};
constexpr Primaries kAdobe{0.64, 0.33, 0.21, 0.71, 0.15, 0.06, 0.3127, 0.3290};
constexpr Primaries kP3{0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.3127, 0.3290};
constexpr Primaries kRec2020{0.708, 0.292, 0.170, 0.797, 0.131, 0.046, 0.3127, 0.3290};
constexpr Primaries kProPhoto{0.7347, 0.2653, 0.1596, 0.8404, 0.0366, 0.0001, 0.3457, 0.3585};
// Adobe RGB (1998)'s exponent, 2 + 51/256, as its own definition writes it.
constexpr double kAdobeGamma = 563.0 / 256.0;
constexpr double kProPhotoGamma = 1.8;

// A matrix-and-curves RGB profile as ICC bytes; empty when the primaries make none.
std::vector<unsigned char> RgbProfile(const Primaries& p, const Curve& curve, const std::string& name) {
    std::vector<unsigned char> bytes;
    if (!curve) return bytes;
    const cmsCIExyY white{p.wx, p.wy, 1.0};
    const cmsCIExyYTRIPLE primaries{{p.rx, p.ry, 1.0}, {p.gx, p.gy, 1.0}, {p.bx, p.by, 1.0}};
    cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
    const Profile profile(cmsCreateRGBProfile(&white, &primaries, curves));
    if (!profile) return bytes;
    cmsMLU* description = cmsMLUalloc(nullptr, 1);
    const bool named = description != nullptr && cmsMLUsetASCII(description, "en", "US", name.c_str()) &&
                       cmsWriteTag(profile.get(), cmsSigProfileDescriptionTag, description);
    if (description != nullptr) cmsMLUfree(description);
    cmsUInt32Number size = 0;
    if (!named || !cmsSaveProfileToMem(profile.get(), nullptr, &size) || size == 0) return bytes;
    bytes.resize(size);
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size)) bytes.clear();
    return bytes;
}

// The longest name kept of a profile's description, in bytes.
constexpr std::size_t kMaxNameBytes = 64;

std::string DescriptionOf(const std::vector<unsigned char>& bytes) {
    const Profile profile(cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
    if (!profile) return {};
    char text[256] = {};
    cmsGetProfileInfoASCII(profile.get(), cmsInfoDescription, "en", "US", text, sizeof text);
    std::string name;
    for (const char* c = text; *c != '\0' && name.size() < kMaxNameBytes; ++c)
        if (*c >= 0x20 && *c < 0x7F) name.push_back(*c);  // printable ASCII only: it may be shown
    while (!name.empty() && name.back() == ' ') name.pop_back();
    while (!name.empty() && name.front() == ' ') name.erase(name.begin());
    return name.empty() ? std::string("ICC profile") : name;
}

// H.273's code points for the primaries and transfers taken here.
SourceColour FromCicp(const colourtags::Cicp& cicp) {
    // Only RGB (matrix 0) at full range is stored without a matrix of its own.
    if (cicp.matrix != 0 || cicp.fullRange != 1) return {};
    const Primaries* primaries = nullptr;
    std::string name;
    switch (cicp.primaries) {
        case 1: primaries = &kRec709, name = "Rec. 709"; break;
        case 9: primaries = &kRec2020, name = "Rec. 2020"; break;
        case 12: primaries = &kP3, name = "Display P3"; break;
        default: return {};
    }
    Curve curve;
    switch (cicp.transfer) {
        case 13:
            if (cicp.primaries == 1) return {};  // sRGB itself
            curve = SrgbCurve();
            if (cicp.primaries == 9) name += ", sRGB curve";
            break;
        case 1: case 6: case 14: case 15:
            curve = Rec709Curve();
            if (cicp.primaries == 12) name += ", Rec. 709 curve";
            break;
        case 8: curve = GammaCurve(1.0), name += ", linear"; break;
        case 4: curve = GammaCurve(2.2), name += ", gamma 2.2"; break;
        case 5: curve = GammaCurve(2.8), name += ", gamma 2.8"; break;
        case 16: curve = PqCurve(), name += " PQ"; break;
        case 18: curve = HlgCurve(), name += " HLG"; break;
        default: return {};
    }
    SourceColour source{RgbProfile(*primaries, curve, name), name, cicp.transfer == 16 || cicp.transfer == 18, true, {}, {}};
    source.transfer = cicp.transfer == 16 ? SignalTransfer::Pq : cicp.transfer == 18 ? SignalTransfer::Hlg : SignalTransfer::Sdr;
    source.primaries = {primaries->rx, primaries->ry, primaries->gx, primaries->gy, primaries->bx, primaries->by, primaries->wx, primaries->wy};
    if (source.profile.empty()) source.name.clear();
    return source;
}

// gAMA's exponent of sRGB-like files (1/2.2), and how far from it and from sRGB's
// chromaticities (in cHRM's units of 1 / 100000) a file still counts as sRGB: the
// values files write for sRGB, rounded as their writers round.
constexpr std::uint32_t kSrgbLikeGamma = 45455;
constexpr std::uint32_t kGammaSlack = 250;
constexpr std::uint32_t kChromaticitySlack = 100;

bool Near(std::uint32_t v, double target, std::uint32_t slack) { return std::abs(static_cast<double>(v) - target * 100000) <= slack; }

bool SamePrimaries(const colourtags::Chromaticities& c, const Primaries& p) {
    return Near(c.whiteX, p.wx, kChromaticitySlack) && Near(c.whiteY, p.wy, kChromaticitySlack) &&
           Near(c.redX, p.rx, kChromaticitySlack) && Near(c.redY, p.ry, kChromaticitySlack) &&
           Near(c.greenX, p.gx, kChromaticitySlack) && Near(c.greenY, p.gy, kChromaticitySlack) &&
           Near(c.blueX, p.bx, kChromaticitySlack) && Near(c.blueY, p.by, kChromaticitySlack);
}

// A bare gamma (PNG's gAMA, JPEG XL's), with the primaries of cHRM or JPEG XL's when
// they are not sRGB's: see SourceColour for why about 1/2.2 with sRGB's is sRGB.
SourceColour FromGamma(std::uint32_t gamma, const std::optional<colourtags::Chromaticities>& c) {
    if (gamma == 0) return {};
    const bool srgbPrimaries = !c || SamePrimaries(*c, kRec709);
    if (srgbPrimaries && Near(gamma, kSrgbLikeGamma / 100000.0, kGammaSlack)) return {};
    const Primaries primaries =
        srgbPrimaries ? kRec709
                      : Primaries{c->redX / 1e5, c->redY / 1e5, c->greenX / 1e5, c->greenY / 1e5,
                                  c->blueX / 1e5, c->blueY / 1e5, c->whiteX / 1e5, c->whiteY / 1e5};
    if (primaries.ry <= 0 || primaries.gy <= 0 || primaries.by <= 0 || primaries.wy <= 0) return {};
    std::string space = srgbPrimaries ? "" : "own primaries, ";
    if (!srgbPrimaries)
        for (const auto& [known, name] : {std::pair{&kAdobe, "Adobe RGB primaries, "}, std::pair{&kP3, "Display P3, "},
                                          std::pair{&kRec2020, "Rec. 2020, "}, std::pair{&kProPhoto, "ProPhoto RGB primaries, "}})
            if (SamePrimaries(*c, *known)) space = name;
    const double exponent = 100000.0 / gamma;
    char name[96];
    std::snprintf(name, sizeof name, "%sgamma %.2f", space.c_str(), exponent);
    SourceColour source{RgbProfile(primaries, GammaCurve(exponent), name), name, false, true, {}, {}};
    source.primaries = {primaries.rx, primaries.ry, primaries.gx, primaries.gy, primaries.bx, primaries.by, primaries.wx, primaries.wy};
    if (source.profile.empty()) source.name.clear();
    return source;
}

// --- conversions --------------------------------------------------------------

// The fast path works in fixed point: light with 14 fractional bits. Sixteen
// thousand steps of light are a fifth of a level apart where sRGB's curve is steepest
// (near black).
constexpr int kFractionBits = 14;
constexpr std::int32_t kOne = 1 << kFractionBits;
// A matrix whose rows' magnitudes add up to more than this would overflow the fast
// path's fields; it goes to lcms2's general transform instead.
constexpr double kLargestRowSum = 7.5;

using Matrix = std::array<std::array<double, 3>, 3>;

Matrix Multiply(const Matrix& a, const Matrix& b) {
    Matrix m{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) m[i][j] += a[i][k] * b[k][j];
    return m;
}

std::optional<Matrix> Inverse(const Matrix& m) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (std::abs(det) < 1e-9) return std::nullopt;
    Matrix inv{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
            inv[i][j] = (m[r0][c0] * m[r1][c1] - m[r0][c1] * m[r1][c0]) / det;
        }
    return inv;
}

// The colorants of a matrix-and-curves profile as a matrix from RGB to XYZ (D50).
std::optional<Matrix> Colorants(cmsHPROFILE profile) {
    const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    Matrix m{};
    for (int c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tags[c]));
        if (xyz == nullptr) return std::nullopt;
        m[0][c] = xyz->X;
        m[1][c] = xyz->Y;
        m[2][c] = xyz->Z;
    }
    return m;
}

// A pixel counts as clipped when a channel's light leaves 0 .. 1 by more than one 8-bit
// step of full scale: 8-bit source values land that far out of sRGB by their rounding
// alone (a level of Adobe RGB's cyan is half a percent of light), and are no colours
// outside it.
constexpr double kClipSlack = 1.0 / 255;
constexpr double kClipBelow = -kClipSlack;
constexpr double kClipAbove = 1 + kClipSlack;

// Sixty-four pixels' answers (0 or 1, a byte each, the first lowest in memory) as the
// bits of one word, the first pixel's lowest; those past `n` are 0.
std::uint64_t Packed(std::array<std::uint8_t, 64>& answers, std::size_t n) {
    std::fill(answers.begin() + static_cast<std::ptrdiff_t>(n), answers.end(), std::uint8_t{0});
    std::uint64_t word = 0;
    for (std::size_t j = 0; j < 8; ++j) {
        std::uint64_t eight = 0;
        std::memcpy(&eight, answers.data() + 8 * j, sizeof eight);
        // Each byte's low bit to its place in the top byte: no two of the products land
        // on one bit, so nothing carries.
        word |= ((eight * 0x0102040810204080u) >> 56) << (8 * j);
    }
    return word;
}

// Runs pixel(i), which converts pixel i and answers 1 when it was clipped (else 0), over
// `count` pixels, 64 at a time; returns how many were clipped and, with kMark, writes
// their marks (Converter::Convert's): each answer stored as a byte and the 64 packed
// into their word at once, where gathering them bit by bit would cost a pixel several
// instructions.
template <bool kMark, class Pixel>
std::uint64_t MarkedLoop(std::size_t count, std::uint64_t* marks, Pixel&& pixel) {
    std::uint64_t clipped = 0;
    for (std::size_t at = 0; at < count; at += 64) {
        const std::size_t n = std::min<std::size_t>(64, count - at);
        [[maybe_unused]] std::array<std::uint8_t, 64> answers;
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint32_t outside = pixel(at + k);
            clipped += outside;
            if constexpr (kMark) answers[k] = static_cast<std::uint8_t>(outside);
        }
        if constexpr (kMark) marks[at / 64] = Packed(answers, n);
    }
    return clipped;
}
// The same, marking when there are marks to write.
template <class Pixel>
std::uint64_t MarkedLoop(std::size_t count, std::uint64_t* marks, Pixel&& pixel) {
    return marks != nullptr ? MarkedLoop<true>(count, marks, pixel) : MarkedLoop<false>(count, marks, pixel);
}

class FastConverter final : public Converter {
public:
    // Nothing when the profile means sRGB (`srgb` then set) or cannot take this path.
    static std::unique_ptr<FastConverter> Build(cmsHPROFILE source, cmsHPROFILE srgbProfile, bool& srgb) {
        srgb = false;
        const std::optional<Matrix> from = Colorants(source), to = Colorants(srgbProfile);
        if (!from || !to) return nullptr;
        const std::optional<Matrix> toInverse = Inverse(*to);
        if (!toInverse) return nullptr;
        const Matrix m = Multiply(*toInverse, *from);
        auto fast = std::make_unique<FastConverter>();
        const cmsTagSignature trcTags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
        // A colour whose matrix is this close to the identity's and whose curves reach
        // sRGB's levels within a quarter of one is sRGB.
        constexpr double kSameMatrix = 1e-3;
        constexpr double kSameLevel = 0.25;
        bool same = true;
        std::array<std::array<std::int32_t, 256>, 3> light{};
        korvex::MatrixCurves::Light exactLight{};
        for (int i = 0; i < 3; ++i) {
            double rowSum = 0;
            for (int j = 0; j < 3; ++j) {
                same = same && std::abs(m[i][j] - (i == j ? 1.0 : 0.0)) <= kSameMatrix;
                rowSum += std::abs(m[i][j]);
            }
            if (rowSum > kLargestRowSum) return nullptr;
            // Every output within the encoding table's reach, whatever the input.
            double lowest = 0, highest = 0;
            for (int j = 0; j < 3; ++j) (m[i][j] < 0 ? lowest : highest) += m[i][j];
            if (lowest <= -FastConverter::kReach + 0.01 || highest >= FastConverter::kReach - 0.01) return nullptr;
        }
        for (int c = 0; c < 3; ++c) {
            const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(source, trcTags[c]));
            if (curve == nullptr) return nullptr;
            fast->curves_[std::size_t(c)] = Curve(cmsDupToneCurve(curve));
            if (!fast->curves_[std::size_t(c)]) return nullptr;
            for (int v = 0; v < 256; ++v) {
                const double linear = std::clamp<double>(cmsEvalToneCurveFloat(curve, static_cast<cmsFloat32Number>(v / 255.0)), 0, 1);
                same = same && std::abs(SrgbEncode(linear) * 255 - v) <= kSameLevel;
                light[std::size_t(c)][std::size_t(v)] = static_cast<std::int32_t>(std::nearbyint(linear * kOne));
                exactLight[std::size_t(c)][std::size_t(v)] = linear;
            }
        }
        if (same) {
            srgb = true;
            return nullptr;
        }
        fast->matrix_ = m;
        if (korvex::MatrixCurves::Available()) fast->vector_.emplace(exactLight, m, kClipBelow, kClipAbove);
        for (int c = 0; c < 3; ++c)
            for (int v = 0; v < 256; ++v)
                fast->packed_[std::size_t(c)][std::size_t(v)] = Packed(m, c, light[std::size_t(c)][std::size_t(v)]);
        // Light at or below 0 is level 0; from there each level runs up to the light
        // halfway to the next, and from 1 on all is 255: 255 powers, where one per entry
        // (98304) cost every worker that converts a few milliseconds before its first row.
        const std::size_t zero = std::size_t{kReach} * kOne;
        std::size_t at = 0;
        for (std::size_t level = 0; level < 255; ++level) {
            const double halfway = SrgbDecode((double(level) + 0.5) / 255);
            const std::size_t end = zero + static_cast<std::size_t>(std::ceil(halfway * kOne));
            for (; at < end; ++at) fast->encode_[at] = static_cast<std::uint8_t>(level);
        }
        for (; at < fast->encode_.size(); ++at) fast->encode_[at] = 255;
        fast->clipBelow_ = static_cast<std::uint32_t>(kBias + static_cast<std::int32_t>(std::floor(kClipBelow * kOne)));
        fast->clipAbove_ = static_cast<std::uint32_t>(kBias + static_cast<std::int32_t>(std::ceil(kClipAbove * kOne)));
        return fast;
    }

    std::uint64_t Convert(const std::uint32_t* in, std::uint32_t* out, std::size_t count,
                          std::uint64_t* marks) const override {
        if (vector_ && korvex::MatrixCurves::Available()) return vector_->Convert(in, out, count, marks);
        return marks != nullptr ? Scalar<true>(in, out, count, marks) : Scalar<false>(in, out, count, nullptr);
    }
    std::uint64_t Convert16(const std::uint16_t* rgb, std::uint32_t* out, std::size_t count,
                            std::uint64_t* marks) const override {
        // The tables for every 16-bit level are built on the first wide picture only:
        // most pictures never need them.
        std::call_once(wideBuilt_, [this] {
            wide_.resize(3 * kWideLevels);
            for (std::size_t c = 0; c < 3; ++c)
                for (std::size_t v = 0; v < kWideLevels; ++v) {
                    const double linear = std::clamp<double>(
                        cmsEvalToneCurveFloat(curves_[c].get(), static_cast<cmsFloat32Number>(double(v) / 65535.0)), 0, 1);
                    wide_[c * kWideLevels + v] =
                        Packed(matrix_, int(c), static_cast<std::int32_t>(std::nearbyint(linear * kOne)));
                }
        });
        return marks != nullptr ? Scalar16<true>(rgb, out, count, marks) : Scalar16<false>(rgb, out, count, nullptr);
    }
    colourtags::SampleKind input() const override { return colourtags::SampleKind::Rgb; }
    bool fast() const override { return true; }

private:
    template <bool kMark>
    std::uint64_t Scalar(const std::uint32_t* in, std::uint32_t* out, std::size_t count, std::uint64_t* words) const {
        // Everything the loop reads, held where stores to `out` cannot make the compiler
        // read it again.
        const std::uint64_t* const fromR = packed_[0].data();
        const std::uint64_t* const fromG = packed_[1].data();
        const std::uint64_t* const fromB = packed_[2].data();
        const std::uint8_t* const encode = encode_.data();
        const std::uint32_t below = clipBelow_, span = clipAbove_ - clipBelow_;
        return MarkedLoop<kMark>(count, words, [&](std::size_t i) {
            const std::uint32_t p = in[i];
            // The three outputs' sums at once, each in a biased field of its own.
            const std::uint64_t sums = fromR[(p >> 16) & 0xFF] + fromG[(p >> 8) & 0xFF] + fromB[p & 0xFF];
            const auto sr = static_cast<std::uint32_t>(sums >> (2 * kFieldBits)) & kFieldMask;
            const auto sg = static_cast<std::uint32_t>(sums >> kFieldBits) & kFieldMask;
            const auto sb = static_cast<std::uint32_t>(sums) & kFieldMask;
            out[i] = (p & 0xFF000000u) | (std::uint32_t{encode[Index(sr)]} << 16) | (std::uint32_t{encode[Index(sg)]} << 8) |
                     encode[Index(sb)];
            // Outside below .. above, as one unsigned comparison each.
            return static_cast<std::uint32_t>((sr - below > span) | (sg - below > span) | (sb - below > span));
        });
    }
    template <bool kMark>
    std::uint64_t Scalar16(const std::uint16_t* rgb, std::uint32_t* out, std::size_t count, std::uint64_t* words) const {
        const std::uint64_t* const fromR = wide_.data();
        const std::uint64_t* const fromG = fromR + kWideLevels;
        const std::uint64_t* const fromB = fromG + kWideLevels;
        return MarkedLoop<kMark>(count, words, [&](std::size_t i) {
            const std::uint16_t* const p = rgb + 3 * i;
            std::uint32_t outside = 0;
            out[i] = 0xFF000000u | Encoded(fromR[p[0]] + fromG[p[1]] + fromB[p[2]], outside);
            return outside;
        });
    }
    // The table entry of a channel's level: its light times the matrix's column c.
    static std::uint64_t Packed(const Matrix& m, int c, std::int32_t light) {
        std::uint64_t packed = 0;
        for (int k = 0; k < 3; ++k) {
            const double product = m[std::size_t(k)][std::size_t(c)] * light;  // light, kFractionBits fractional bits
            const auto field = static_cast<std::int64_t>(std::nearbyint(product)) + kEntryBias;
            packed |= (static_cast<std::uint64_t>(field) & kFieldMask) << (kFieldBits * (2 - k));
        }
        return packed;
    }
    // Three packed sums as an sRGB pixel (no top byte); `outside` 1 when any channel left
    // the gamut, else 0.
    std::uint32_t Encoded(std::uint64_t sums, std::uint32_t& outside) const {
        const std::uint32_t below = clipBelow_, span = clipAbove_ - clipBelow_;
        const auto sr = static_cast<std::uint32_t>(sums >> (2 * kFieldBits)) & kFieldMask;
        const auto sg = static_cast<std::uint32_t>(sums >> kFieldBits) & kFieldMask;
        const auto sb = static_cast<std::uint32_t>(sums) & kFieldMask;
        outside = (sr - below > span) | (sg - below > span) | (sb - below > span);
        return (std::uint32_t{encode_[Index(sr)]} << 16) | (std::uint32_t{encode_[Index(sg)]} << 8) | encode_[Index(sb)];
    }
    static constexpr std::size_t kWideLevels = 65536;
    Matrix matrix_{};
    // The same conversion in floating point, with byte permutes for the tables, where
    // the processor has them: twice as fast over a picture (27 against 56 ms for 24 MP).
    std::optional<korvex::MatrixCurves> vector_;
    std::array<Curve, 3> curves_;
    mutable std::once_flag wideBuilt_;
    mutable std::vector<std::uint64_t> wide_;  // packed_ for every 16-bit level, red's, green's, blue's
    // What each input channel's level adds to the three outputs (its light times the
    // matrix's column, with kFractionBits fractional bits), packed as three fields of
    // kFieldBits, red's highest. Each entry's fields carry a bias that keeps them
    // positive (a coefficient is at most kLargestRowSum, so a product stays within
    // 2^17), and three biased sums stay below 2^21: the three entries add as one word,
    // no field borrowing from or carrying into another.
    static constexpr int kFieldBits = 21;
    static constexpr std::uint32_t kFieldMask = (1u << kFieldBits) - 1;
    static constexpr std::int32_t kEntryBias = 1 << 18;
    static constexpr std::int32_t kBias = 3 * kEntryBias;
    // A biased sum's place in the encoding table.
    static std::size_t Index(std::uint32_t biased) { return biased - static_cast<std::uint32_t>(kBias - kReach * kOne); }
    std::array<std::array<std::uint64_t, 256>, 3> packed_{};
    // sRGB's levels for light from -kReach to kReach (exclusive), kFractionBits bits:
    // clipped at 0 and 255 in the table itself, so the loop needs no clamping (which
    // costs more than the table's size: a table of 0 .. 1 and clamps took 40 % longer).
    static constexpr std::int32_t kReach = 3;  // ProPhoto's red reaches 2.03
    std::array<std::uint8_t, std::size_t{2 * kReach} * kOne> encode_{};
    std::uint32_t clipBelow_ = 0, clipAbove_ = 0;  // biased
};

// lcms2's general transform, in floating point so that what leaves sRGB shows.
class GeneralConverter final : public Converter {
public:
    explicit GeneralConverter(Transform transform) : transform_(std::move(transform)) {}

    std::uint64_t Convert(const std::uint32_t* in, std::uint32_t* out, std::size_t count,
                          std::uint64_t* marks) const override {
        return InChunks(count, out, in, marks, [in](std::size_t at, std::size_t n, float* source) {
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint32_t p = in[at + i];
                source[3 * i] = float((p >> 16) & 0xFF) / 255.f;
                source[3 * i + 1] = float((p >> 8) & 0xFF) / 255.f;
                source[3 * i + 2] = float(p & 0xFF) / 255.f;
            }
        });
    }
    std::uint64_t Convert16(const std::uint16_t* rgb, std::uint32_t* out, std::size_t count,
                            std::uint64_t* marks) const override {
        return InChunks(count, out, nullptr, marks, [rgb](std::size_t at, std::size_t n, float* source) {
            for (std::size_t i = 0; i < 3 * n; ++i) source[i] = float(rgb[3 * at + i]) / 65535.f;
        });
    }
    colourtags::SampleKind input() const override { return colourtags::SampleKind::Rgb; }
    bool fast() const override { return false; }

private:
    static constexpr std::size_t kChunk = 1024;  // a whole number of mark words

    // count pixels, kChunk at a time: fill(at, n, source) writes pixels at .. at + n - 1
    // as 0 .. 1 floats, which Finish converts. Returns how many were clipped.
    template <class Fill>
    std::uint64_t InChunks(std::size_t count, std::uint32_t* out, const std::uint32_t* in, std::uint64_t* marks,
                           Fill fill) const {
        std::array<float, 3 * kChunk> source;
        std::uint64_t clipped = 0;
        for (std::size_t at = 0; at < count; at += kChunk) {
            const std::size_t n = std::min(kChunk, count - at);
            fill(at, n, source.data());
            clipped += Finish(source.data(), n, out + at, in != nullptr ? in + at : nullptr,
                              marks != nullptr ? marks + at / 64 : nullptr);
        }
        return clipped;
    }

    // n pixels of `source` (0 .. 1 floats) transformed and rounded into `out`, the top
    // bytes those of `in` (0xFF without it); returns how many were clipped, and marks them.
    std::uint64_t Finish(const float* source, std::size_t n, std::uint32_t* out, const std::uint32_t* in,
                         std::uint64_t* words) const {
        std::array<float, 3 * kChunk> converted;
        cmsDoTransform(transform_.get(), source, converted.data(), static_cast<cmsUInt32Number>(n));
        return MarkedLoop(n, words, [&](std::size_t i) {
            bool outside = false;
            std::uint32_t levels[3];
            for (int k = 0; k < 3; ++k) {
                const double v = converted[3 * i + std::size_t(k)];
                const double light = SrgbDecode(v);
                outside = outside || !(light >= kClipBelow && light <= kClipAbove);
                levels[k] = static_cast<std::uint32_t>(std::nearbyint(std::clamp(v * 255.0, 0.0, 255.0)));
            }
            const std::uint32_t top = in != nullptr ? in[i] & 0xFF000000u : 0xFF000000u;
            out[i] = top | (levels[0] << 16) | (levels[1] << 8) | levels[2];
            return outside ? 1u : 0u;
        });
    }
    Transform transform_;
};

// Light that leaves sRGB by more than a rounding (kClipBelow .. kClipAbove), for a
// channel of a floating-point transform's output.
bool OutsideSrgb(double encoded) {
    const double light = SrgbDecode(encoded);
    return !(light >= kClipBelow && light <= kClipAbove);
}

// A grey profile's conversion: sRGB's level for every grey level, from lcms2's floating
// point transform, 256 entries (and 65536 for 16-bit samples, built on the first).
// Grey stays grey, so each channel is looked up on its own: a grey pixel comes out as
// lcms2 has it, and a pixel laid over a coloured background keeps its colour.
class GreyConverter final : public Converter {
public:
    // Nothing when the profile's curve is sRGB's or lcms2 refuses it.
    static std::unique_ptr<GreyConverter> Build(cmsHPROFILE grey, cmsHPROFILE srgbProfile) {
        Transform transform(cmsCreateTransform(grey, TYPE_GRAY_FLT, srgbProfile, TYPE_RGB_FLT, INTENT_RELATIVE_COLORIMETRIC,
                                               cmsFLAGS_NOCACHE));
        if (!transform) return nullptr;
        auto converter = std::make_unique<GreyConverter>(std::move(transform));
        // The same test as for RGB: every level within a quarter of one of where it was.
        constexpr double kSameLevel = 0.25;
        const std::vector<float> rgb = converter->Levels(kLevels);
        bool same = true;
        for (std::size_t v = 0; v < kLevels; ++v) {
            for (std::size_t k = 0; k < 3; ++k) same = same && std::abs(rgb[3 * v + k] * 255 - double(v)) <= kSameLevel;
            converter->table_[v] = Entry(rgb, v);
        }
        if (same) return nullptr;
        return converter;
    }
    explicit GreyConverter(Transform transform) : transform_(std::move(transform)) {}

    colourtags::SampleKind input() const override { return colourtags::SampleKind::Grey; }
    std::uint64_t Convert(const std::uint32_t* in, std::uint32_t* out, std::size_t count,
                          std::uint64_t* words) const override {
        return MarkedLoop(count, words, [&](std::size_t i) {
            const std::uint32_t p = in[i];
            std::uint32_t outside = 0;
            out[i] = (p & 0xFF000000u) | Looked(table_.data(), (p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF, outside);
            return outside;
        });
    }
    std::uint64_t Convert16(const std::uint16_t* rgb, std::uint32_t* out, std::size_t count,
                            std::uint64_t* words) const override {
        std::call_once(wideBuilt_, [this] {
            const std::vector<float> levels = Levels(kWideLevels);
            wide_.resize(kWideLevels);
            for (std::size_t v = 0; v < kWideLevels; ++v) wide_[v] = Entry(levels, v);
        });
        return MarkedLoop(count, words, [&](std::size_t i) {
            const std::uint16_t* const p = rgb + 3 * i;
            std::uint32_t outside = 0;
            out[i] = 0xFF000000u | Looked(wide_.data(), p[0], p[1], p[2], outside);
            return outside;
        });
    }
    bool fast() const override { return false; }

private:
    static constexpr std::size_t kLevels = 256, kWideLevels = 65536;
    // A level (low byte) and whether it was clipped (the next bit).
    using Level = std::uint16_t;
    static constexpr Level kClipped = 0x100;

    // sRGB's three channels, as lcms2 gives them, for `n` grey levels evenly from 0 to 1.
    std::vector<float> Levels(std::size_t n) const {
        std::vector<float> grey(n), rgb(3 * n);
        for (std::size_t v = 0; v < n; ++v) grey[v] = static_cast<float>(double(v) / double(n - 1));
        cmsDoTransform(transform_.get(), grey.data(), rgb.data(), static_cast<cmsUInt32Number>(n));
        return rgb;
    }
    static Level Entry(const std::vector<float>& rgb, std::size_t v) {
        const double g = rgb[3 * v + 1];
        const bool outside = OutsideSrgb(rgb[3 * v]) || OutsideSrgb(g) || OutsideSrgb(rgb[3 * v + 2]);
        return static_cast<Level>(static_cast<Level>(std::nearbyint(std::clamp(g * 255, 0.0, 255.0))) | (outside ? kClipped : 0));
    }
    // Three samples through the table, as a pixel without its top byte; `outside` 1 when
    // any was clipped.
    static std::uint32_t Looked(const Level* table, std::size_t r, std::size_t g, std::size_t b, std::uint32_t& outside) {
        const Level lr = table[r], lg = table[g], lb = table[b];
        outside = ((lr | lg | lb) & kClipped) != 0;
        return (std::uint32_t(lr & 0xFF) << 16) | (std::uint32_t(lg & 0xFF) << 8) | (lb & 0xFF);
    }

    Transform transform_;
    std::array<Level, kLevels> table_{};
    mutable std::once_flag wideBuilt_;
    mutable std::vector<Level> wide_;
};

// A CMYK profile's conversion. lcms2 takes the inks to 16-bit ProPhoto RGB (a matrix
// space wider than any print's colours, so nothing is clipped on the way), and that
// space's fast path takes them to sRGB, counting what leaves it and rounding once.
// lcms2 resamples the profile's tables into a grid of its own either way; its own
// 8-bit output lands up to 19 levels off its exact answer with Ghostscript's default
// CMYK profile (28 with the tests' own), this within 1 (2). A floating-point transform
// would be exact but evaluates the tables for every pixel, several times slower.
//
// Relative colorimetric, the program's working intent, as for every other profile: the
// numbers then measure the print's colours against its paper's white, and colours
// beyond sRGB are clipped and counted, not moved by the profile maker's perceptual
// rendering, which differs from maker to maker.
class InkConverter final : public Converter {
public:
    static std::unique_ptr<InkConverter> Build(Profile source) {
        static const std::vector<unsigned char> middleBytes = StandardProfile(StandardSpace::ProPhoto);
        static const std::shared_ptr<const Converter> middle = Converter::For(middleBytes);
        if (!middle) return nullptr;
        Profile to(cmsOpenProfileFromMem(middleBytes.data(), static_cast<cmsUInt32Number>(middleBytes.size())));
        if (!to) return nullptr;
        Transform eight(cmsCreateTransform(source.get(), TYPE_CMYK_8, to.get(), TYPE_RGB_16, kIntent, 0));
        if (!eight) return nullptr;
        return std::make_unique<InkConverter>(std::move(source), std::move(to), std::move(eight), middle);
    }
    InkConverter(Profile source, Profile middleProfile, Transform eight, std::shared_ptr<const Converter> middle)
        : source_(std::move(source)), middleProfile_(std::move(middleProfile)), eight_(std::move(eight)), middle_(std::move(middle)) {}

    colourtags::SampleKind input() const override { return colourtags::SampleKind::Cmyk; }
    std::uint64_t Convert(const std::uint32_t* in, std::uint32_t* out, std::size_t count,
                          std::uint64_t* marks) const override {
        return Through(eight_.get(), reinterpret_cast<const unsigned char*>(in), sizeof *in, out, count, marks);
    }
    std::uint64_t Convert16(const std::uint16_t*, std::uint32_t*, std::size_t, std::uint64_t*) const override {
        assert(!"CMYK takes inks");
        return 0;
    }
    std::uint64_t ConvertInks16(const std::uint16_t* cmyk, std::uint32_t* out, std::size_t count,
                                std::uint64_t* marks) const override {
        // Built on the first 16-bit picture: most never need it.
        std::call_once(sixteenBuilt_, [this] {
            sixteen_.reset(cmsCreateTransform(source_.get(), TYPE_CMYK_16, middleProfile_.get(), TYPE_RGB_16, kIntent, 0));
        });
        if (!sixteen_) {
            std::fill(out, out + count, 0xFF000000u);
            if (marks != nullptr) std::fill(marks, marks + (count + 63) / 64, 0);
            return 0;
        }
        return Through(sixteen_.get(), reinterpret_cast<const unsigned char*>(cmyk), 4 * sizeof *cmyk, out, count, marks);
    }
    bool fast() const override { return false; }

private:
    static constexpr int kIntent = INTENT_RELATIVE_COLORIMETRIC;
    static constexpr std::size_t kChunk = 1024;  // a whole number of mark words

    // `count` pixels of `pixelBytes` each, a chunk at a time through ProPhoto RGB.
    std::uint64_t Through(void* transform, const unsigned char* in, std::size_t pixelBytes, std::uint32_t* out,
                          std::size_t count, std::uint64_t* marks) const {
        std::array<std::uint16_t, 3 * kChunk> rgb;
        std::uint64_t clipped = 0;
        for (std::size_t at = 0; at < count; at += kChunk) {
            const std::size_t n = std::min(kChunk, count - at);
            cmsDoTransform(transform, in + at * pixelBytes, rgb.data(), static_cast<cmsUInt32Number>(n));
            clipped += middle_->Convert16(rgb.data(), out + at, n, marks != nullptr ? marks + at / 64 : nullptr);
        }
        return clipped;
    }

    Profile source_, middleProfile_;  // for the 16-bit transform
    Transform eight_;
    mutable std::once_flag sixteenBuilt_;
    mutable Transform sixteen_;
    std::shared_ptr<const Converter> middle_;
};

// Tags that make lcms2 take a profile's tables rather than its matrix.
bool HasTables(cmsHPROFILE profile) {
    for (const cmsTagSignature tag : {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag, cmsSigDToB0Tag, cmsSigDToB1Tag})
        if (cmsIsTag(profile, tag)) return true;
    return false;
}

}  // namespace

std::vector<unsigned char> StandardProfile(StandardSpace space) {
    switch (space) {
        case StandardSpace::Srgb: return RgbProfile(kRec709, SrgbCurve(), "sRGB");
        case StandardSpace::AdobeRgb: return RgbProfile(kAdobe, GammaCurve(kAdobeGamma), "Adobe RGB (1998)");
        case StandardSpace::DisplayP3: return RgbProfile(kP3, SrgbCurve(), "Display P3");
        case StandardSpace::ProPhoto: return RgbProfile(kProPhoto, GammaCurve(kProPhotoGamma), "ProPhoto RGB");
        case StandardSpace::Rec2020: return RgbProfile(kRec2020, Rec709Curve(), "Rec. 2020");
    }
    return {};
}

SourceColour SourceColourOf(const colourtags::FileColour& file) {
    // PNG's order of precedence: cICP, then iCCP, then sRGB, then gAMA and cHRM.
    if (file.cicp) return FromCicp(*file.cicp);
    if (!file.profile.empty()) return {file.profile, DescriptionOf(file.profile), false, false, {}, {}};
    if (file.srgb) return {};
    if (file.gamma) return FromGamma(*file.gamma, file.chromaticities);
    if (file.exifAdobeRgb) return {StandardProfile(StandardSpace::AdobeRgb), "Adobe RGB (1998)", false, true, {}, {}};
    return {};
}

std::uint64_t Converter::ConvertInks16(const std::uint16_t*, std::uint32_t*, std::size_t, std::uint64_t*) const {
    assert(!"only CMYK takes inks");
    return 0;
}

std::shared_ptr<const Converter> Converter::For(const std::vector<unsigned char>& bytes) {
    if (bytes.empty()) return nullptr;
    Profile source(cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
    if (!source) return nullptr;
    const cmsProfileClassSignature kind = cmsGetDeviceClass(source.get());
    if (kind != cmsSigInputClass && kind != cmsSigDisplayClass && kind != cmsSigColorSpaceClass &&
        kind != cmsSigOutputClass)
        return nullptr;
    const cmsColorSpaceSignature space = cmsGetColorSpace(source.get());
    if (space == cmsSigCmykData) return InkConverter::Build(std::move(source));
    const Profile srgb(cmsCreate_sRGBProfile());
    if (!srgb) return nullptr;
    if (space == cmsSigGrayData) return GreyConverter::Build(source.get(), srgb.get());
    if (space != cmsSigRgbData) return nullptr;
    if (cmsIsMatrixShaper(source.get()) && !HasTables(source.get())) {
        bool isSrgb = false;
        if (std::unique_ptr<FastConverter> fast = FastConverter::Build(source.get(), srgb.get(), isSrgb)) return fast;
        if (isSrgb) return nullptr;
    }
    Transform transform(cmsCreateTransform(source.get(), TYPE_RGB_FLT, srgb.get(), TYPE_RGB_FLT,
                                           INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
    if (!transform) return nullptr;
    return std::make_shared<GeneralConverter>(std::move(transform));
}

std::shared_ptr<const Converter> ConverterFor(const SourceColour& source, colourtags::SampleKind samples) {
    using colourtags::SampleKind;
    if (source.profile.empty()) return nullptr;
    std::shared_ptr<const Converter> converter = Converter::Cached(source.profile);
    if (!converter) return nullptr;
    const SampleKind described = converter->input();
    bool fits = false;
    switch (samples) {
        case SampleKind::Unknown:
        case SampleKind::Rgb: fits = described == SampleKind::Rgb; break;
        case SampleKind::Grey: fits = described == SampleKind::Grey || (described == SampleKind::Rgb && source.fromTags); break;
        case SampleKind::Cmyk: fits = described == SampleKind::Cmyk; break;
    }
    return fits ? converter : nullptr;
}

std::shared_ptr<const Converter> Converter::Cached(const std::vector<unsigned char>& profile) {
    // A few profiles are kept: a folder of one camera's pictures shares one.
    constexpr std::size_t kKept = 4;
    struct Entry {
        std::vector<unsigned char> profile;
        std::shared_ptr<const Converter> converter;
    };
    static std::mutex mutex;
    static std::vector<Entry> kept;
    {
        const std::lock_guard lock(mutex);
        for (std::size_t i = 0; i < kept.size(); ++i)
            if (kept[i].profile == profile) {
                std::rotate(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(i), kept.begin() + static_cast<std::ptrdiff_t>(i) + 1);
                return kept.front().converter;
            }
    }
    std::shared_ptr<const Converter> converter = For(profile);
    const std::lock_guard lock(mutex);
    kept.insert(kept.begin(), Entry{profile, converter});
    if (kept.size() > kKept) kept.pop_back();
    return converter;
}

}  // namespace vistrel::colour
