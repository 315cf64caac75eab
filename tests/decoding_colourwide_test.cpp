#include <gtest/gtest.h>

#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <lcms2.h>

#include "colour/ColourConvert.h"
#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "decoding/worker/WorkerClient.h"
#include "heif_pictures.h"

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

// 16-bit pixels with alpha are laid over the background in the file's space, the
// background's levels widened by 257, and then converted: a transparent pixel comes out
// as the background converted (white exactly white), the others within a level of
// lcms2's conversion of the mix. PNG (converted band by band) and JPEG XL (row by row).
TEST(DecodeWideColour, SixteenBitAlphaIsLaidOverTheBackgroundBeforeConverting) {
    constexpr int kBlock = 100;
    constexpr std::uint16_t kAlphas[4] = {0, 1, 32768, 65535};
    constexpr std::uint16_t kColour[3] = {40000, 20000, 9000};
    const std::vector<unsigned char> profile = StandardProfile(StandardSpace::ProPhoto);
    QImage image(4 * kBlock, kBlock, QImage::Format_RGBA64);
    for (int y = 0; y < kBlock; ++y)
        for (int x = 0; x < image.width(); ++x)
            for (int k = 0; k < 4; ++k)
                reinterpret_cast<std::uint16_t*>(image.scanLine(y))[4 * x + k] = k == 3 ? kAlphas[x / kBlock] : kColour[k];
    image.setColorSpace(QColorSpace::fromIccProfile(QByteArray(reinterpret_cast<const char*>(profile.data()), qsizetype(profile.size()))));
    QTemporaryDir dir;
    const QString png = dir.filePath("alpha.png");
    ASSERT_TRUE(image.save(png));
    heif_pictures::Options options;
    options.bits = 16;
    options.alpha = true;
    options.profile = profile;
    QFile jxl(dir.filePath("alpha.jxl"));
    ASSERT_TRUE(jxl.open(QIODevice::WriteOnly));
    jxl.write(heif_pictures::EncodeJxl(image, options));
    jxl.close();
    for (const std::uint32_t background : {0xFFFFFFu, 0x336699u}) {
        std::vector<std::uint16_t> mixed;
        for (const std::uint16_t a : kAlphas)
            for (int k = 0; k < 3; ++k) {
                const double under = ((OpaquePixel(background) >> (16 - 8 * k)) & 0xFF) * 257.0;  // red lowest in a colour value
                mixed.push_back(std::uint16_t(std::nearbyint((kColour[k] * double(a) + under * (65535 - a)) / 65535)));
            }
        const std::vector<double> exact = Lcms(profile, StandardProfile(StandardSpace::Srgb), mixed);
        for (const QString& path : {png, jxl.fileName()}) {
            SCOPED_TRACE(path.toStdString() + " over " + std::to_string(background));
            const DecodeResult result = DecodePicture(path, background);
            ASSERT_TRUE(result && result.colourConverted);
            for (int block = 0; block < 4; ++block) {
                std::uint32_t theirs = 0;
                for (std::size_t k = 0; k < 3; ++k)
                    theirs |= std::uint32_t(std::nearbyint(std::clamp(exact[3 * std::size_t(block) + k], 0.0, 1.0) * 255)) << (16 - 8 * k);
                const QRgb got = result.surface->image().pixel(block * kBlock + kBlock / 2, kBlock / 2);
                EXPECT_LE(Furthest(got, theirs), 1) << block;
                if (block == 0 && background == 0xFFFFFFu) {
                    EXPECT_EQ(got & 0xFFFFFFu, 0xFFFFFFu);
                }
            }
        }
    }
}
