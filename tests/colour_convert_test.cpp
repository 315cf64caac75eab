#include <gtest/gtest.h>

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "colour/ColourConvert.h"
#include "colour_profiles.h"
#include "kernels/simd.h"

using namespace vistrel;
using namespace colour_profiles;

namespace {

// The share of pixels one level away from lcms2's double-precision answer a conversion
// may have: the fast path's fixed point and lcms2's single precision put a few values
// on the other side of halfway (cutting instead of rounding puts half of them there).
constexpr double kMostDiffering = 0.1;

// Every converted pixel lands within one level of lcms2's own (unoptimised, double
// precision) transform, and the pixels counted as clipped are those that transform
// puts outside sRGB by more than 1/255 of full-scale light.
void ExpectConversionMatchesLcms(const Profile& profile, bool fast) {
    const std::shared_ptr<const colour::Converter> converter = colour::Converter::For(profile);
    ASSERT_NE(converter, nullptr);
    EXPECT_EQ(converter->fast(), fast);
    const std::vector<std::uint32_t> cube = CubeSample();
    std::vector<std::uint32_t> ours(cube.size());
    const std::uint64_t clipped = converter->Convert(cube.data(), ours.data(), cube.size());

    const Profile srgb = colour::StandardProfile(StandardSpace::Srgb);
    cmsHPROFILE a = Open(profile), b = Open(srgb);
    cmsHTRANSFORM exact = cmsCreateTransform(a, TYPE_RGB_DBL, b, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    std::vector<double> exactIn, exactOut(cube.size() * 3);
    for (const std::uint32_t p : cube)
        for (const int shift : {16, 8, 0}) exactIn.push_back(((p >> shift) & 0xFF) / 255.0);
    cmsDoTransform(exact, exactIn.data(), exactOut.data(), cmsUInt32Number(cube.size()));
    cmsDeleteTransform(exact);
    cmsCloseProfile(a);
    cmsCloseProfile(b);
    std::uint64_t outside = 0;
    int worst = 0;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < cube.size(); ++i) {
        bool away = false;
        std::uint32_t theirs = 0xFF000000u;
        for (std::size_t k = 0; k < 3; ++k) {
            // Light, from sRGB's curve (straight below its knee, negatives included).
            const double v = exactOut[3 * i + k];
            const double light = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            away = away || light < -1.0 / 255 || light > 1 + 1.0 / 255;
            theirs |= std::uint32_t(std::nearbyint(std::clamp(v, 0.0, 1.0) * 255)) << (16 - 8 * k);
        }
        outside += away;
        worst = std::max(worst, LargestDifference(ours[i], theirs));
        differing += ours[i] != theirs;
        ASSERT_EQ(ours[i] >> 24, 0xFFu);
    }
    EXPECT_LE(worst, 1);
    // Rounded, not cut: a level off only where the two land within a rounding of halfway.
    EXPECT_LE(double(differing), kMostDiffering * double(cube.size()));
    // Pixels within a rounding of the gamut's edge may fall either way.
    EXPECT_NEAR(double(clipped), double(outside), 0.005 * double(cube.size()));
    EXPECT_GT(outside, 0u);
}

// Both builds of the fast path: the vector one where the processor has it, the plain one.
TEST(ColourConversion, MatrixProfilesMatchLcmsOverTheCube) {
    for (const bool wide : {true, false}) {
        korvex::detail::AllowWideVectors(wide);
        for (const Space& s : kWideSpaces) {
            SCOPED_TRACE(s.name + std::string(wide ? ", vector build" : ", plain build"));
            ExpectConversionMatchesLcms(colour::StandardProfile(s.space), true);
        }
    }
    korvex::detail::AllowWideVectors(true);
}

TEST(ColourConversion, TableProfileGoesThroughLcmsGeneralTransform) {
    ExpectConversionMatchesLcms(TableProfile(), false);
}

TEST(ColourConversion, SrgbIsKnownByItsColorantsAndCurvesNotItsName) {
    EXPECT_EQ(colour::Converter::For(colour::StandardProfile(StandardSpace::Srgb)), nullptr);
    EXPECT_NE(colour::Converter::For(SrgbLookalike(false)), nullptr);  // sRGB's primaries, gamma 2.2
    EXPECT_NE(colour::Converter::For(SrgbLookalike(true)), nullptr);   // sRGB's curve, Adobe's primaries
}

// Each standard space's curves are its published ones, to 1/100000 of full scale (lcms2
// evaluates them in single precision): Adobe RGB's exponent is 563/256 (2.1992), which
// 2.2 misses by more than 1/10000.
TEST(ColourConversion, StandardSpacesFollowTheirPublishedCurves) {
    const auto srgb = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    const auto rec709 = [](double v) { return v < 0.081 ? v / 4.5 : std::pow((v + 0.099) / 1.099, 1 / 0.45); };
    const auto power = [](double exponent) { return [exponent](double v) { return std::pow(v, exponent); }; };
    const std::function<double(double)> curves[] = {srgb, power(563.0 / 256), srgb, power(1.8), rec709};
    const StandardSpace spaces[] = {StandardSpace::Srgb, StandardSpace::AdobeRgb, StandardSpace::DisplayP3,
                                    StandardSpace::ProPhoto, StandardSpace::Rec2020};
    for (std::size_t i = 0; i < std::size(spaces); ++i) {
        cmsHPROFILE profile = Open(colour::StandardProfile(spaces[i]));
        double worst = 0;
        for (const cmsTagSignature tag : {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag}) {
            const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, tag));
            ASSERT_NE(curve, nullptr);
            for (int step = 0; step <= 1024; ++step)
                worst = std::max(worst, std::abs(cmsEvalToneCurveFloat(curve, cmsFloat32Number(step / 1024.0)) - curves[i](step / 1024.0)));
        }
        EXPECT_LE(worst, 1e-5) << i;
        cmsCloseProfile(profile);
    }
}

// Grey and CMYK profiles against lcms2's own double-precision transform. Grey: every
// level at 8 and (every 97th) at 16 bits, and pixels whose channels differ (grey laid
// over a coloured background), each channel converted as a grey; a grey of sRGB's curve
// is left alone. CMYK: every 15th level of each ink, 8 and 16 bits, within 3 levels
// (lcms2's tables are resampled into a grid of its own), clipped counts alike.
TEST(ColourConversion, GreyAndCmykProfilesMatchLcms) {
    const cmsFloat64Number srgbCurve[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    EXPECT_EQ(colour::Converter::For(GreyProfile(cmsBuildParametricToneCurve(nullptr, 4, srgbCurve), "sGrey")), nullptr);

    const Profile grey = GreyGamma18();
    const auto greys = colour::Converter::For(grey);
    ASSERT_NE(greys, nullptr);
    EXPECT_EQ(greys->input(), colourtags::SampleKind::Grey);
    for (const bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "16 bits" : "8 bits");
        const std::uint32_t top = wide ? 65535 : 255, step = wide ? 97 : 1;
        std::vector<double> levels;
        for (std::uint32_t v = 0; v <= top; v += step) levels.push_back(double(v) / top);
        levels.push_back(1.0);
        const std::vector<double> exact = ThroughLcms(grey, levels);
        // Each level as a grey pixel, then mixed with two others in one pixel.
        std::vector<std::array<std::size_t, 3>> picks;
        for (std::size_t i = 0; i < levels.size(); ++i) picks.push_back({i, i, i});
        for (std::size_t i = 0; i < levels.size(); ++i) picks.push_back({i, levels.size() - 1 - i, i * 7 % levels.size()});
        std::vector<std::uint32_t> ours(picks.size());
        std::vector<std::uint32_t> in8;
        std::vector<std::uint16_t> in16;
        for (const auto& pick : picks) {
            const auto sample = [&](std::size_t k) { return std::uint32_t(std::nearbyint(levels[pick[k]] * top)); };
            if (wide) in16.insert(in16.end(), {std::uint16_t(sample(0)), std::uint16_t(sample(1)), std::uint16_t(sample(2))});
            else in8.push_back(0x5A000000u | sample(0) << 16 | sample(1) << 8 | sample(2));
        }
        const std::uint64_t clipped = wide ? greys->Convert16(in16.data(), ours.data(), ours.size())
                                           : greys->Convert(in8.data(), ours.data(), ours.size());
        EXPECT_EQ(clipped, 0u);
        int worst = 0;
        std::size_t differing = 0;
        for (std::size_t i = 0; i < picks.size(); ++i) {
            EXPECT_EQ(ours[i] >> 24, wide ? 0xFFu : 0x5Au);
            for (std::size_t k = 0; k < 3; ++k) {
                const int d = std::abs(int(ours[i] >> (16 - 8 * k) & 0xFF) - int(Level(exact[3 * picks[i][k] + k])));
                worst = std::max(worst, d);
                differing += d != 0;
            }
        }
        EXPECT_LE(worst, 1);
        EXPECT_LE(double(differing), kMostDiffering * 3 * double(picks.size()));
    }

    const Profile cmyk = CmykProfile();
    const auto inks = colour::Converter::For(cmyk);
    ASSERT_NE(inks, nullptr);
    EXPECT_EQ(inks->input(), colourtags::SampleKind::Cmyk);
    std::vector<std::uint32_t> pixels;
    std::vector<std::uint16_t> wideInks;
    std::vector<double> amounts;
    for (std::uint32_t c = 0; c < 256; c += 15)
        for (std::uint32_t m = 0; m < 256; m += 15)
            for (std::uint32_t y = 0; y < 256; y += 15)
                for (std::uint32_t k = 0; k < 256; k += 15) {
                    pixels.push_back(InkPixel({std::uint8_t(c), std::uint8_t(m), std::uint8_t(y), std::uint8_t(k)}));
                    for (const std::uint32_t ink : {c, m, y, k}) {
                        wideInks.push_back(std::uint16_t(ink * 257));
                        amounts.push_back(ink / 255.0);
                    }
                }
    const std::vector<double> exact = ThroughLcms(cmyk, amounts);
    std::uint64_t outside = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) outside += Outside(exact[3 * i]) || Outside(exact[3 * i + 1]) || Outside(exact[3 * i + 2]);
    EXPECT_GT(outside, 0u);
    for (const bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "16 bits" : "8 bits");
        std::vector<std::uint32_t> ours(pixels.size());
        const std::uint64_t clipped = wide ? inks->ConvertInks16(wideInks.data(), ours.data(), ours.size())
                                           : inks->Convert(pixels.data(), ours.data(), ours.size());
        int worst = 0;
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            ASSERT_EQ(ours[i] >> 24, 0xFFu);
            worst = std::max(worst, LargestDifference(ours[i], Level(exact[3 * i]) << 16 | Level(exact[3 * i + 1]) << 8 | Level(exact[3 * i + 2])));
        }
        EXPECT_LE(worst, 3);
        EXPECT_NEAR(double(clipped), double(outside), 0.005 * double(pixels.size()));
    }
}

}  // namespace

// Every kind of conversion, at 8 and 16 bits and on both builds of the fast path, marks
// exactly the pixels it clips: those that, converted one at a time, count as clipped;
// its marks fill whole words, the last one's bits past the pixels 0, and no word more.
TEST(ColourConversion, MarksNameThePixelsThatClipOneByOne) {
    std::mt19937 random(17);
    constexpr std::size_t kPixels = 64 * 40 + 37;  // a last word not full
    // Runs of a saturated colour (green, or cyan ink), and random colours between them;
    // the inks with little black.
    std::vector<std::uint32_t> pixels(kPixels), inkPixels(kPixels);
    std::vector<std::uint16_t> samples(4 * kPixels), inkSamples(4 * kPixels);
    for (std::size_t i = 0; i < kPixels; ++i) {
        const bool run = i % 500 < 120;
        for (std::size_t k = 0; k < 4; ++k) {
            samples[4 * i + k] = run ? (k == 1 ? 65535 : 0) : std::uint16_t(random());
            inkSamples[4 * i + k] = run ? (k == 0 ? 65535 : 0) : std::uint16_t(k == 3 ? random() % 8000 : random());
        }
        pixels[i] = 0xFF000000u | std::uint32_t(samples[4 * i] >> 8) << 16 | std::uint32_t(samples[4 * i + 1] >> 8) << 8 |
                    std::uint32_t(samples[4 * i + 2] >> 8);
        inkPixels[i] = InkPixel({std::uint8_t(inkSamples[4 * i] >> 8), std::uint8_t(inkSamples[4 * i + 1] >> 8),
                                 std::uint8_t(inkSamples[4 * i + 2] >> 8), std::uint8_t(inkSamples[4 * i + 3] >> 8)});
    }
    struct Case {
        const char* name;
        Profile profile;
        bool vectors = true;
    };
    const Case cases[] = {{"Adobe RGB, vector build", colour::StandardProfile(StandardSpace::AdobeRgb)},
                          {"Adobe RGB, plain build", colour::StandardProfile(StandardSpace::AdobeRgb), false},
                          {"ProPhoto", colour::StandardProfile(StandardSpace::ProPhoto)},
                          {"tables", TableProfile()},
                          {"CMYK", CmykProfile()}};
    for (const Case& c : cases) {
        korvex::detail::AllowWideVectors(c.vectors);
        const auto converter = colour::Converter::For(c.profile);
        ASSERT_NE(converter, nullptr);
        const bool inks = converter->input() == colourtags::SampleKind::Cmyk;
        for (const bool wide : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (wide ? ", 16 bits" : ", 8 bits"));
            std::vector<std::uint16_t> rgb;
            for (std::size_t i = 0; i < kPixels; ++i) rgb.insert(rgb.end(), {samples[4 * i], samples[4 * i + 1], samples[4 * i + 2]});
            const auto convert = [&](std::size_t at, std::size_t n, std::uint32_t* out, std::uint64_t* marks) {
                if (!wide) return converter->Convert((inks ? inkPixels : pixels).data() + at, out, n, marks);
                return inks ? converter->ConvertInks16(inkSamples.data() + 4 * at, out, n, marks)
                            : converter->Convert16(rgb.data() + 3 * at, out, n, marks);
            };
            std::vector<std::uint32_t> out(kPixels), alone(1);
            std::vector<std::uint64_t> marks((kPixels + 63) / 64 + 1, 0x5555555555555555u);
            const std::uint64_t clipped = convert(0, kPixels, out.data(), marks.data());
            EXPECT_GT(clipped, 0u);
            EXPECT_EQ(marks.back(), 0x5555555555555555u) << "a word past the pixels' written";
            std::uint64_t marked = 0;
            for (std::size_t i = 0; i < kPixels; ++i) {
                const bool bit = ((marks[i / 64] >> (i % 64)) & 1) != 0;
                ASSERT_EQ(bit, convert(i, 1, alone.data(), nullptr) == 1) << i;
                ASSERT_EQ(alone[0], out[i]) << i;
                marked += bit;
            }
            EXPECT_EQ(marks[kPixels / 64] >> (kPixels % 64), 0u);
            EXPECT_EQ(marked, clipped);
            // Counting alone clips the same pixels.
            EXPECT_EQ(convert(0, kPixels, out.data(), nullptr), clipped);
        }
    }
    korvex::detail::AllowWideVectors(true);
}
