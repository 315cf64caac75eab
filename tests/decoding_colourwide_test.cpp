#include <gtest/gtest.h>

#include <QColorSpace>
#include <QImage>
#include <QTemporaryDir>

#include <lcms2.h>

#include "decoding/ColourConvert.h"
#include "decoding/Decode.h"
#include "decoding/WorkerClient.h"

using namespace vistrel;
using colour::StandardProfile;
using colour::StandardSpace;

namespace {

int Furthest(std::uint32_t a, std::uint32_t b) {
    int most = 0;
    for (int shift : {0, 8, 16}) most = std::max(most, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
    return most;
}

// 16-bit RGB samples through lcms2 from one profile to another, at double precision.
std::vector<double> Lcms(const std::vector<unsigned char>& from, const std::vector<unsigned char>& to,
                         const std::vector<std::uint16_t>& rgb) {
    cmsHPROFILE a = cmsOpenProfileFromMem(from.data(), cmsUInt32Number(from.size()));
    cmsHPROFILE b = cmsOpenProfileFromMem(to.data(), cmsUInt32Number(to.size()));
    cmsHTRANSFORM t = cmsCreateTransform(a, TYPE_RGB_DBL, b, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    std::vector<double> in(rgb.begin(), rgb.end()), out(rgb.size());
    for (double& v : in) v /= 65535;
    cmsDoTransform(t, in.data(), out.data(), cmsUInt32Number(rgb.size() / 3));
    cmsDeleteTransform(t), cmsCloseProfile(a), cmsCloseProfile(b);
    return out;
}

}  // namespace

TEST(DecodeWideColour, SixteenBitSamplesMatchLcmsWithinOneLevelOverTheCube) {
    std::vector<std::uint16_t> levels{1, 65535}, cube;  // between the 8-bit levels too
    for (std::uint32_t v = 0; v < 65535; v += 2113) levels.push_back(std::uint16_t(v));
    for (const std::uint16_t r : levels)
        for (const std::uint16_t g : levels)
            for (const std::uint16_t b : levels) cube.insert(cube.end(), {r, g, b});
    for (const StandardSpace space : {StandardSpace::AdobeRgb, StandardSpace::DisplayP3, StandardSpace::ProPhoto, StandardSpace::Rec2020}) {
        const auto converter = colour::Converter::For(StandardProfile(space));
        ASSERT_NE(converter, nullptr);
        std::vector<std::uint32_t> ours(cube.size() / 3);
        converter->Convert16(cube.data(), ours.data(), ours.size());
        const std::vector<double> exact = Lcms(StandardProfile(space), StandardProfile(StandardSpace::Srgb), cube);
        int worst = 0;
        for (std::size_t i = 0; i < ours.size(); ++i) {
            std::uint32_t theirs = 0;
            for (std::size_t k = 0; k < 3; ++k)
                theirs |= std::uint32_t(std::nearbyint(std::clamp(exact[3 * i + k], 0.0, 1.0) * 255)) << (16 - 8 * k);
            worst = std::max(worst, Furthest(ours[i], theirs) + (ours[i] >> 24 == 0xFF ? 0 : 256));
        }
        EXPECT_LE(worst, 1) << int(space);
    }
}

TEST(DecodeWideColour, SixteenBitTaggedBarsLandWithinTwoLevelsInProcessAndInTheWorker) {
    constexpr std::uint32_t kBars[7] = {0xBFBFBF, 0xBFBF00, 0x00BFBF, 0x00BF00, 0xBF00BF, 0xBF0000, 0x0000BF};
    std::vector<std::uint16_t> bars;
    for (const std::uint32_t bar : kBars)
        for (int shift : {16, 8, 0}) bars.push_back(std::uint16_t((bar >> shift & 0xFF) * 257));
    QTemporaryDir dir;
    for (const auto& [space, name, file] : {std::tuple{StandardSpace::ProPhoto, "ProPhoto RGB", "bars.tif"},
                                            std::tuple{StandardSpace::DisplayP3, "Display P3", "bars.png"}}) {
        // The bars as the space stores them at 16 bits, 160 x 300 pixels each (enough to split).
        const std::vector<unsigned char> profile = StandardProfile(space);
        const std::vector<double> stored = Lcms(StandardProfile(StandardSpace::Srgb), profile, bars);
        QImage image(7 * 160, 300, QImage::Format_RGBX64);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                for (std::size_t k = 0; k < 4; ++k)
                    reinterpret_cast<std::uint16_t*>(image.scanLine(y))[4 * x + int(k)] =
                        k == 3 ? 0xFFFF : std::uint16_t(std::nearbyint(std::clamp(stored[3 * std::size_t(x / 160) + k], 0.0, 1.0) * 65535));
        image.setColorSpace(QColorSpace::fromIccProfile(QByteArray(reinterpret_cast<const char*>(profile.data()), qsizetype(profile.size()))));
        const QString path = dir.filePath(file);
        ASSERT_TRUE(image.save(path));
        ASSERT_EQ(QImage(path).depth(), 64) << file;  // 16 bits a sample in the file
        for (const DecodeResult& result : {DecodePicture(path, 0), DecodeInWorker(path, 0)}) {
            ASSERT_TRUE(result) << file;
            EXPECT_TRUE(result.colourConverted && result.colourSpace == name && result.outOfGamut == 0) << file;
            for (int bar = 0; bar < 7; ++bar)
                for (const int y : {0, 299})
                    EXPECT_LE(Furthest(result.surface->image().pixel(bar * 160 + 80, y), kBars[bar]), 2) << file << bar;
        }
    }
}
