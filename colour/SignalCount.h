#pragma once
// Counting a picture's own samples into SignalStats as they are converted: pure
// functions and small objects over float and integer pixels, no Qt, no lcms2 (the
// pieces built from a profile live in SignalSource.h).
//
// Every count is an integer and MaxFALL's sum is kept in fixed point, so that counts
// made over any split of the picture (bands, threads) and merged in any order give the
// same numbers to the last bit.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "colour/HdrScale.h"
#include "colour/Signal.h"

namespace vistrel::colour {

using Matrix3 = std::array<std::array<double, 3>, 3>;

// A set of primaries and its white, as CIE xy.
struct Chromaticities {
    double rx, ry, gx, gy, bx, by, wx, wy;
};
inline constexpr Chromaticities kSrgbPrimaries{0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290};
inline constexpr Chromaticities kP3Primaries{0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.3127, 0.3290};
inline constexpr Chromaticities kRec2020Primaries{0.708, 0.292, 0.170, 0.797, 0.131, 0.046, 0.3127, 0.3290};

// Linear RGB to CIE XYZ for these primaries (white at Y = 1), in their own white.
Matrix3 RgbToXyz(const Chromaticities& p);
Matrix3 Multiply(const Matrix3& a, const Matrix3& b);
Matrix3 Inverse(const Matrix3& m);  // of a matrix with an inverse
// Bradford's adaptation of XYZ from ICC's D50 to D65.
Matrix3 D50ToD65();

// The transfer curves themselves (PQ's EOTF, HLG's inverse OETF) are hdr::PqNits and
// hdr::HlgScene. BT.2100 HLG's OOTF of a hdr::kHlgPeakNits display with system gamma
// hdr::kHlgGamma: a pixel's display light in cd/m² from its scene light and the scene
// luminance Ys (BT.2100's weights).
double HlgNits(double scene, double sceneLuminance);
inline constexpr std::array<double, 3> kRec2100Luminance{0.2627, 0.6780, 0.0593};

// A gamut's edge, as the counts take it: a component below -kGamutSlack or above
// 1 + kGamutSlack lies outside (a quarter of a 10-bit step: rounding in the file's own
// samples never reaches it).
inline constexpr double kGamutSlack = 1.0 / 4096;

// How a picture's linear light is read: its primaries to XYZ (D65) and to each gamut
// counted (sRGB, Display P3, Rec. 2020, the order of SignalStats::Gamut).
struct SignalSpace {
    SignalTransfer transfer = SignalTransfer::Sdr;
    Matrix3 toXyz{};
    std::array<Matrix3, 3> toGamut{};
    // False where no colour of the space's unit cube can leave that gamut: nothing to test.
    std::array<bool, 3> canLeave{};
    // From linear RGB in primaries whose XYZ (D65) the matrix gives.
    static SignalSpace FromXyzMatrix(const Matrix3& toXyzD65, SignalTransfer transfer);
    static SignalSpace Of(const Chromaticities& p, SignalTransfer transfer) {
        return FromXyzMatrix(RgbToXyz(p), transfer);
    }
};

// One thread's counts. Light, where there is any, comes with each pixel's nits (the
// caller knows how its samples make them); colour comes as linear RGB floats.
class SignalTally {
public:
    explicit SignalTally(const SignalSpace* space);

    // n pixels' colour, three floats each (linear, 1 the space's white; PQ and HLG
    // normalised to their peak), counted into the chromaticity and gamut counts, and into
    // the pixel count.
    void AddColour(const float* rgb, std::size_t n);
    // The same from three planes of n floats, red's, green's and blue's.
    void AddPlanes(const float* r, const float* g, const float* b, std::size_t n);
    // Pixels whose planes are made together, to stay in the first level of cache.
    static constexpr std::size_t kPlanePixels = 256;
    // One pixel's light: max(R, G, B) in nits and its bin (SignalLight::Bin).
    void AddLight(double nits, int bin) { AddLight(nits, bin, FixedNits(nits)); }
    // The same with the light in MaxFALL's fixed point (FixedNits), as a table holds it.
    void AddLight(double nits, int bin, std::uint64_t fixed) {
        ++light_[static_cast<std::size_t>(bin)];
        sumFixed_ += fixed;
        if (nits > maxNits_) maxNits_ = nits;
    }
    static std::uint64_t FixedNits(double nits) { return static_cast<std::uint64_t>(nits * kSumScale + 0.5); }
    // The same in two steps, for a table's lookups: each pixel's bin and fixed point, and
    // once for many of them the largest light among them.
    void AddLightOnly(int bin, std::uint64_t fixed) {
        ++light_[static_cast<std::size_t>(bin)];
        sumFixed_ += fixed;
    }
    void NoteLight(double nits) {
        if (nits > maxNits_) maxNits_ = nits;
    }
    // n pixels of linear light as AddColour takes them, with their light computed here
    // from them by the space's transfer (the slow, plain way: for pictures that come
    // through lcms2, and for tests).
    void Add(const float* rgb, std::size_t n);

    void Merge(const SignalTally& other);
    // Into stats: pixels, chromaticity, outside, and the light for PQ and HLG.
    void AddTo(SignalStats& stats) const;

private:
    // AddPlanes' loops, built plainly and (where the processor has them) 256 and 512 bits wide: the
    // same operations in the same order, so the same counts to the last bit.
    void AddPlanesBody(const float* r, const float* g, const float* b, std::size_t n);
    void AddPlanesWide(const float* r, const float* g, const float* b, std::size_t n);
    void AddPlanesWidest(const float* r, const float* g, const float* b, std::size_t n);
    // MaxFALL's sum in units of 1/kSumScale nit: 10,000 nits times 2^30 pixels stays
    // below 2^64 at this scale.
    static constexpr double kSumScale = 1024;
    const SignalSpace* space_;
    std::uint64_t pixels_ = 0;
    std::vector<std::uint32_t> cells_;  // and a spare past the last, for black
    std::array<std::uint64_t, 3> outside_{};
    std::array<std::uint64_t, SignalLight::kBins> light_{};
    std::uint64_t sumFixed_ = 0;
    double maxNits_ = 0;
    friend class SignalCount;
};

// The light of a PQ or HLG pixel, from its linear light normalised to the transfer's
// peak (as SignalTally takes it).
double NitsOf(const SignalSpace& space, const float* rgb);

// The counts of one picture, made by any number of threads at once: each takes a tally
// of its own for as long as it counts (Lease), and the tallies are merged at the end.
class SignalCount {
public:
    explicit SignalCount(SignalSpace space) : space_(space) {}

    class Lease {
    public:
        explicit Lease(SignalCount& count);
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        SignalTally& operator*() const { return *tally_; }
        SignalTally* operator->() const { return tally_; }

    private:
        SignalCount& count_;
        SignalTally* tally_;
    };

    const SignalSpace& space() const { return space_; }
    // Every tally merged, once no thread counts any more.
    SignalStats Stats() const;

private:
    SignalSpace space_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<SignalTally>> all_;
    std::vector<SignalTally*> free_;
};

}  // namespace vistrel::colour
