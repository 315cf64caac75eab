#include <gtest/gtest.h>

#include <QColorSpace>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

#include <lcms2.h>

#include "decoding/ColourConvert.h"
#include "decoding/Decode.h"
#include "decoding/WorkerClient.h"

using namespace vistrel;
using colour::StandardSpace;

namespace {

using Profile = std::vector<unsigned char>;

cmsHPROFILE Open(const Profile& p) { return cmsOpenProfileFromMem(p.data(), cmsUInt32Number(p.size())); }

int Furthest(std::uint32_t a, std::uint32_t b) {
    int most = 0;
    for (int shift : {0, 8, 16}) most = std::max(most, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
    return most;
}

// 16-bit samples through lcms2's own double-precision transform, rounded to 8 bits.
std::vector<std::uint32_t> LcmsToSrgb(const Profile& profile, const std::vector<std::uint16_t>& rgb) {
    const Profile srgb = colour::StandardProfile(StandardSpace::Srgb);
    cmsHPROFILE a = Open(profile), b = Open(srgb);
    cmsHTRANSFORM exact = cmsCreateTransform(a, TYPE_RGB_DBL, b, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    std::vector<double> in(rgb.size()), out(rgb.size());
    std::transform(rgb.begin(), rgb.end(), in.begin(), [](std::uint16_t v) { return v / 65535.0; });
    cmsDoTransform(exact, in.data(), out.data(), cmsUInt32Number(rgb.size() / 3));
    cmsDeleteTransform(exact);
    cmsCloseProfile(a);
    cmsCloseProfile(b);
    std::vector<std::uint32_t> pixels(rgb.size() / 3, 0xFF000000u);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        for (std::size_t k = 0; k < 3; ++k)
            pixels[i] |= std::uint32_t(std::nearbyint(std::clamp(out[3 * i + k], 0.0, 1.0) * 255)) << (16 - 8 * k);
    return pixels;
}

constexpr std::array<std::uint32_t, 7> kBars = {0xBFBFBF, 0xBFBF00, 0x00BFBF, 0x00BF00, 0xBF00BF, 0xBF0000, 0x0000BF};
constexpr int kBarWidth = 160, kBarsHeight = 300;  // large enough for the conversion to split

// The bars as a space stores them at 16 bits (lcms2's conversion from sRGB), tagged
// with its profile: a picture of 64 bits a pixel.
QImage WideBars(const Profile& profile) {
    std::vector<std::uint16_t> srgb16;
    for (const std::uint32_t bar : kBars)
        for (int shift : {16, 8, 0}) srgb16.push_back(std::uint16_t(((bar >> shift) & 0xFF) * 257));
    std::vector<std::uint16_t> stored(srgb16.size());
    const Profile srgb = colour::StandardProfile(StandardSpace::Srgb);
    cmsHPROFILE a = Open(srgb), b = Open(profile);
    cmsHTRANSFORM t = cmsCreateTransform(a, TYPE_RGB_16, b, TYPE_RGB_16, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
    cmsDoTransform(t, srgb16.data(), stored.data(), cmsUInt32Number(kBars.size()));
    cmsDeleteTransform(t);
    cmsCloseProfile(a);
    cmsCloseProfile(b);
    QImage image(kBarWidth * int(kBars.size()), kBarsHeight, QImage::Format_RGBX64);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<std::uint16_t*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const std::size_t bar = std::size_t(x / kBarWidth);
            std::copy_n(stored.data() + 3 * bar, 3, row + 4 * x);
            row[4 * x + 3] = 0xFFFF;
        }
    }
    image.setColorSpace(QColorSpace::fromIccProfile(QByteArray(reinterpret_cast<const char*>(profile.data()), qsizetype(profile.size()))));
    return image;
}

void ExpectBarsWithinTwoLevels(const DecodeResult& result, const char* name) {
    ASSERT_TRUE(result) << int(result.error);
    EXPECT_EQ(result.colourSpace, QString::fromLatin1(name));
    EXPECT_TRUE(result.colourConverted);
    EXPECT_EQ(result.outOfGamut, 0u);
    for (std::size_t i = 0; i < kBars.size(); ++i)
        for (const int y : {0, kBarsHeight / 2, kBarsHeight - 1}) {
            const QRgb got = result.surface->image().pixel(int(i) * kBarWidth + kBarWidth / 2, y);
            EXPECT_LE(Furthest(got, kBars[i]), 2) << "bar " << i << " row " << y << ": " << std::hex << got;
        }
}

}  // namespace

TEST(DecodeWideColour, SixteenBitSamplesMatchLcmsWithinOneLevelOverTheCube) {
    // Levels between the 8-bit ones too, and both ends.
    std::vector<std::uint16_t> levels;
    for (std::uint32_t v = 0; v < 65535; v += 2113) levels.push_back(std::uint16_t(v));
    levels.push_back(1);
    levels.push_back(65535);
    std::vector<std::uint16_t> cube;
    for (const std::uint16_t r : levels)
        for (const std::uint16_t g : levels)
            for (const std::uint16_t b : levels) cube.insert(cube.end(), {r, g, b});
    for (const StandardSpace space : {StandardSpace::AdobeRgb, StandardSpace::DisplayP3, StandardSpace::ProPhoto,
                                      StandardSpace::Rec2020}) {
        SCOPED_TRACE(int(space));
        const Profile profile = colour::StandardProfile(space);
        const std::shared_ptr<const colour::Converter> converter = colour::Converter::For(profile);
        ASSERT_NE(converter, nullptr);
        std::vector<std::uint32_t> ours(cube.size() / 3);
        converter->Convert16(cube.data(), ours.data(), ours.size());
        const std::vector<std::uint32_t> theirs = LcmsToSrgb(profile, cube);
        int worst = 0;
        for (std::size_t i = 0; i < ours.size(); ++i) {
            worst = std::max(worst, Furthest(ours[i], theirs[i]));
            ASSERT_EQ(ours[i] >> 24, 0xFFu);
        }
        EXPECT_LE(worst, 1);
    }
}

TEST(DecodeWideColour, SixteenBitTaggedBarsLandWithinTwoLevelsInProcessAndInTheWorker) {
    QTemporaryDir dir;
    struct Case {
        StandardSpace space;
        const char* name;
        const char* file;
    };
    for (const Case& c : {Case{StandardSpace::ProPhoto, "ProPhoto RGB", "bars.tif"},
                          Case{StandardSpace::DisplayP3, "Display P3", "bars.png"}}) {
        SCOPED_TRACE(c.file);
        const QString path = dir.filePath(c.file);
        ASSERT_TRUE(WideBars(colour::StandardProfile(c.space)).save(path));
        ASSERT_EQ(QImage(path).depth(), 64);  // the file holds 16 bits a sample
        ExpectBarsWithinTwoLevels(DecodePicture(path, 0), c.name);
        ExpectBarsWithinTwoLevels(DecodeInWorker(path, 0), c.name);
    }
}
