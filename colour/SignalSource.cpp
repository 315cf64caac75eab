#include "colour/SignalSource.h"

#include "kernels/parallel.h"

#include <algorithm>
#include <array>
#include <cmath>

#include <lcms2.h>

#include "colour/LcmsHandles.h"

#include "colour/SrgbCurve.h"
#include "kernels/matrix_curves.h"

namespace vistrel::colour {
namespace {

constexpr std::size_t kLevels8 = 256, kLevels16 = 65536;

class TabulatedSource final : public SignalSource {
public:
    TabulatedSource(const SignalSpace& space, std::function<double(int, double)> linear)
        : SignalSource(space), linear_(std::move(linear)), planes8_(Levels8(linear_)) {
        if (space.transfer == SignalTransfer::Pq)
            for (std::size_t v = 0; v < kLevels8; ++v) SetLight(light8_[v], double(v) / 255);
    }

    void Count(const std::uint32_t* pixels, std::size_t n, SignalTally& tally) const override {
        std::array<float, kChunk> r, g, b;
        const bool pq = space().transfer == SignalTransfer::Pq;
        for (std::size_t at = 0; at < n; at += kChunk) {
            const std::size_t m = std::min(kChunk, n - at);
            const std::uint32_t* const p = pixels + at;
            planes8_.LookUp(p, m, r.data(), g.data(), b.data());
            if (pq)
                for (std::size_t i = 0; i < m; ++i) {
                    const Light& light = light8_[std::max({(p[i] >> 16) & 0xFF, (p[i] >> 8) & 0xFF, p[i] & 0xFF})];
                    tally.AddLight(light.nits, light.bin, light.fixed);
                }
            Finish(r.data(), g.data(), b.data(), m, tally);
        }
    }

    void Count16(const std::uint16_t* samples, std::size_t n, SignalTally& tally) const override {
        std::call_once(wideBuilt_, [this] {
            levels16_.resize(3 * kLevels16);
            for (std::size_t c = 0; c < 3; ++c)
                for (std::size_t v = 0; v < kLevels16; ++v)
                    levels16_[c * kLevels16 + v] = static_cast<float>(linear_(int(c), double(v) / 65535));
            if (space().transfer == SignalTransfer::Pq) {
                // Apart, the parts each pixel needs stay in cache.
                nits16_.resize(kLevels16), bins16_.resize(kLevels16), fixed16_.resize(kLevels16);
                for (std::size_t v = 0; v < kLevels16; ++v) {
                    Light light;
                    SetLight(light, double(v) / 65535);
                    nits16_[v] = light.nits;
                    bins16_[v] = static_cast<std::uint16_t>(light.bin);
                    fixed16_[v] = light.fixed;
                }
            }
        });
        const float* const red = levels16_.data();
        const float* const green = red + kLevels16;
        const float* const blue = green + kLevels16;
        const bool pq = space().transfer == SignalTransfer::Pq;
        std::array<float, kChunk> r, g, b;
        for (std::size_t at = 0; at < n; at += kChunk) {
            const std::size_t m = std::min(kChunk, n - at);
            const std::uint16_t* const s = samples + 3 * at;
            for (std::size_t i = 0; i < m; ++i) {
                r[i] = red[s[3 * i]];
                g[i] = green[s[3 * i + 1]];
                b[i] = blue[s[3 * i + 2]];
            }
            if (pq) {
                std::uint16_t most = 0;
                for (std::size_t i = 0; i < m; ++i) {
                    const std::uint16_t code = std::max({s[3 * i], s[3 * i + 1], s[3 * i + 2]});
                    tally.AddLightOnly(bins16_[code], fixed16_[code]);
                    most = std::max(most, code);
                }
                if (m > 0) tally.NoteLight(nits16_[most]);
            }
            Finish(r.data(), g.data(), b.data(), m, tally);
        }
    }

private:
    struct Light {
        double nits = 0;
        int bin = 0;
        std::uint64_t fixed = 0;
    };
    static void SetLight(Light& light, double signal) {
        light.nits = hdr::PqNits(signal);
        light.bin = SignalLight::Bin(light.nits);
        light.fixed = SignalTally::FixedNits(light.nits);
    }
    // PQ's light came with the tables; HLG's needs the pixel's luminance, counted here.
    void Finish(const float* r, const float* g, const float* b, std::size_t n, SignalTally& tally) const {
        if (space().transfer == SignalTransfer::Hlg)
            for (std::size_t i = 0; i < n; ++i) {
                const float rgb[3] = {r[i], g[i], b[i]};
                const double nits = NitsOf(space(), rgb);
                tally.AddLight(nits, SignalLight::Bin(nits));
            }
        tally.AddPlanes(r, g, b, n);
    }

    std::function<double(int, double)> linear_;
    // Each channel's linear light for every 8-bit level.
    static korvex::LevelPlanes::Floats Levels8(const std::function<double(int, double)>& linear) {
        korvex::LevelPlanes::Floats levels{};
        for (std::size_t c = 0; c < 3; ++c)
            for (std::size_t v = 0; v < kLevels8; ++v) levels[c][v] = static_cast<float>(linear(int(c), double(v) / 255));
        return levels;
    }
    korvex::LevelPlanes planes8_;
    std::array<Light, kLevels8> light8_{};
    mutable std::once_flag wideBuilt_;
    mutable std::vector<float> levels16_;
    mutable std::vector<double> nits16_;
    mutable std::vector<std::uint16_t> bins16_;
    mutable std::vector<std::uint64_t> fixed16_;
};


// Any other profile: lcms2 takes the samples to XYZ (D50), which is counted as the
// space's "RGB".
class TransformedSource final : public SignalSource {
public:
    TransformedSource(Transform eight, Transform sixteen, bool inks)
        : SignalSource(SignalSpace::FromXyzMatrix(D50ToD65(), SignalTransfer::Sdr)), eight_(std::move(eight)),
          sixteen_(std::move(sixteen)), inks_(inks) {}

    bool inks() const override { return inks_; }
    void Count(const std::uint32_t* pixels, std::size_t n, SignalTally& tally) const override {
        Through(eight_.get(), reinterpret_cast<const unsigned char*>(pixels), sizeof *pixels, n, tally);
    }
    void Count16(const std::uint16_t* samples, std::size_t n, SignalTally& tally) const override {
        Through(sixteen_.get(), reinterpret_cast<const unsigned char*>(samples), 3 * sizeof *samples, n, tally);
    }
    void CountInks16(const std::uint16_t* cmyk, std::size_t n, SignalTally& tally) const override {
        Through(sixteen_.get(), reinterpret_cast<const unsigned char*>(cmyk), 4 * sizeof *cmyk, n, tally);
    }

private:
    static void Through(void* transform, const unsigned char* in, std::size_t pixelBytes, std::size_t n,
                        SignalTally& tally) {
        std::array<float, 3 * kChunk> xyz;
        for (std::size_t at = 0; at < n; at += kChunk) {
            const std::size_t m = std::min(kChunk, n - at);
            if (transform == nullptr) std::fill(xyz.begin(), xyz.end(), 0.f);
            else cmsDoTransform(transform, in + at * pixelBytes, xyz.data(), static_cast<cmsUInt32Number>(m));
            tally.AddColour(xyz.data(), m);
        }
    }
    Transform eight_, sixteen_;
    bool inks_;
};

std::optional<Matrix3> Colorants(cmsHPROFILE profile) {
    const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    Matrix3 m{};
    for (std::size_t c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tags[c]));
        if (xyz == nullptr) return std::nullopt;
        m[0][c] = xyz->X;
        m[1][c] = xyz->Y;
        m[2][c] = xyz->Z;
    }
    return m;
}

bool HasTables(cmsHPROFILE profile) {
    for (const cmsTagSignature tag : {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag, cmsSigDToB0Tag, cmsSigDToB1Tag})
        if (cmsIsTag(profile, tag)) return true;
    return false;
}

// Light normalised to its transfer's peak, as SignalTally takes PQ and HLG.
double PqLinear(int, double v) { return hdr::PqNits(v) / hdr::kPqPeakNits; }
double HlgLinear(int, double v) { return hdr::HlgScene(v); }

// D65's chromaticity, as the tags write it, within their rounding.
bool IsD65(double x, double y) { return std::abs(x - 0.3127) < 1e-4 && std::abs(y - 0.3290) < 1e-4; }

std::shared_ptr<const SignalSource> MatrixSource(cmsHPROFILE profile, const SourceColour& source) {
    const std::optional<Matrix3> colorants = Colorants(profile);
    if (!colorants) return nullptr;
    const SignalTransfer transfer = source.transfer;
    // A space built from tags whose white is D65 is counted from its primaries themselves,
    // not from the profile's colorants (adapted to D50 and rounded to 16 fractional bits).
    const std::optional<std::array<double, 8>>& p = source.primaries;
    const SignalSpace space =
        p && IsD65((*p)[6], (*p)[7])
            ? SignalSpace::Of({(*p)[0], (*p)[1], (*p)[2], (*p)[3], (*p)[4], (*p)[5], (*p)[6], (*p)[7]}, transfer)
            : SignalSpace::FromXyzMatrix(Multiply(D50ToD65(), *colorants), transfer);
    switch (transfer) {
        case SignalTransfer::Pq: return TabulatedSignalSource(space, PqLinear);
        case SignalTransfer::Hlg: return TabulatedSignalSource(space, HlgLinear);
        case SignalTransfer::Sdr: break;
    }
    const cmsTagSignature trcTags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    std::array<std::shared_ptr<cmsToneCurve>, 3> curves;
    for (std::size_t c = 0; c < 3; ++c) {
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, trcTags[c]));
        if (curve == nullptr) return nullptr;
        curves[c] = std::shared_ptr<cmsToneCurve>(cmsDupToneCurve(curve), CurveFree{});
        if (!curves[c]) return nullptr;
    }
    return TabulatedSignalSource(space, [curves](int c, double v) {
        return std::clamp<double>(cmsEvalToneCurveFloat(curves[std::size_t(c)].get(), static_cast<cmsFloat32Number>(v)), 0, 1);
    });
}

// A grey profile's samples through its grey curve, each channel alike (a grey picture's
// pixels are RGB with equal channels, or laid over a coloured background), on sRGB's
// primaries: a grey pixel lies at D65 with the curve's light, and black is where the curve
// gives none. A grey whose light stays within 0 .. 1 lies inside every gamut; a curve
// that makes light above 1 (a parametric one may) leaves them all where it does, and only
// then are the gamuts tested. Nothing for a grey profile without a curve (one of tables).
std::shared_ptr<const SignalSource> GreySource(cmsHPROFILE profile) {
    const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, cmsSigGrayTRCTag));
    if (curve == nullptr) return nullptr;
    const std::shared_ptr<cmsToneCurve> grey(cmsDupToneCurve(curve), CurveFree{});
    if (!grey) return nullptr;
    const auto light = [grey](double v) {
        return std::max(0.0, static_cast<double>(cmsEvalToneCurveFloat(grey.get(), static_cast<cmsFloat32Number>(v))));
    };
    SignalSpace space = SignalSpace::Of(kSrgbPrimaries, SignalTransfer::Sdr);
    // Curves rise: their largest light is at full scale (a few samples besides, for one
    // that does not).
    constexpr int kSamples = 256;
    double most = 0;
    for (int v = 0; v <= kSamples; ++v) most = std::max(most, light(double(v) / kSamples));
    if (most > 1 + kGamutSlack) space.canLeave = {true, true, true};
    return TabulatedSignalSource(space, [light](int, double v) { return light(v); });
}

}  // namespace

void SignalSource::CountInks16(const std::uint16_t*, std::size_t, SignalTally&) const {}

std::shared_ptr<const SignalSource> TabulatedSignalSource(const SignalSpace& space, std::function<double(int, double)> linear) {
    return std::make_shared<TabulatedSource>(space, std::move(linear));
}

std::shared_ptr<const SignalSource> SignalSource::Srgb() {
    static const std::shared_ptr<const SignalSource> srgb = TabulatedSignalSource(
        SignalSpace::Of(kSrgbPrimaries, SignalTransfer::Sdr), [](int, double v) { return SrgbDecode(v); });
    return srgb;
}

std::shared_ptr<const SignalSource> SignalSource::For(const SourceColour& source, colourtags::SampleKind samples) {
    if (source.profile.empty()) return Srgb();
    const Profile profile(cmsOpenProfileFromMem(source.profile.data(), static_cast<cmsUInt32Number>(source.profile.size())));
    if (!profile) return nullptr;
    const cmsColorSpaceSignature space = cmsGetColorSpace(profile.get());
    if (space == cmsSigGrayData) {
        std::shared_ptr<const SignalSource> grey = GreySource(profile.get());
        return grey ? grey : Srgb();
    }
    if (space == cmsSigRgbData && samples != colourtags::SampleKind::Cmyk && cmsIsMatrixShaper(profile.get()) &&
        !HasTables(profile.get()))
        if (std::shared_ptr<const SignalSource> matrix = MatrixSource(profile.get(), source)) return matrix;
    const bool inks = space == cmsSigCmykData;
    if (!inks && space != cmsSigRgbData) return nullptr;
    const Profile xyz(cmsCreateXYZProfile());
    if (!xyz) return nullptr;
    Transform eight(cmsCreateTransform(profile.get(), inks ? TYPE_CMYK_8 : TYPE_BGRA_8, xyz.get(), TYPE_XYZ_FLT,
                                       INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
    Transform sixteen(cmsCreateTransform(profile.get(), inks ? TYPE_CMYK_16 : TYPE_RGB_16, xyz.get(), TYPE_XYZ_FLT,
                                         INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
    if (!eight) return nullptr;
    return std::make_shared<TransformedSource>(std::move(eight), std::move(sixteen), inks);
}

SignalStats CountSrgbPixels(const std::uint32_t* pixels, std::size_t n) {
    const std::shared_ptr<const SignalSource> srgb = SignalSource::Srgb();
    SignalCount count(srgb->space());
    korvex::detail::ParallelFor(n, [&](std::size_t begin, std::size_t end) {
        const SignalCount::Lease tally(count);
        srgb->Count(pixels + begin, end - begin, *tally);
    });
    return count.Stats();
}

}  // namespace vistrel::colour
