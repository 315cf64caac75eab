#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTransform>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <lcms2.h>
#include <tiffio.h>
#include <zlib.h>

#include "colour/ColourConvert.h"
#include "colour/ColourTags.h"
#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "decoding/worker/WorkerClient.h"
#include "decoding/worker/WorkerMessages.h"
#include "colour_profiles.h"
#include "heif_pictures.h"
#include "kernels/simd.h"

using namespace vistrel;
using colour::StandardSpace;
using namespace colour_profiles;

namespace {

// ---- files that carry their colours -------------------------------------------

// 75 % colour bars: white, yellow, cyan, green, magenta, red, blue, black.
constexpr std::array<std::uint32_t, 8> kBars = {0xBFBFBF, 0xBFBF00, 0x00BFBF, 0x00BF00,
                                                0xBF00BF, 0xBF0000, 0x0000BF, 0x000000};
constexpr int kBarWidth = 200, kBarsHeight = 400;  // large enough to be split over threads

QImage Bars(const std::vector<std::uint32_t>& colours) {
    QImage image(kBarWidth * int(colours.size()), kBarsHeight, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            reinterpret_cast<QRgb*>(image.scanLine(y))[x] = 0xFF000000u | colours[std::size_t(x / kBarWidth)];
    return image;
}

QByteArray Encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(100);
    EXPECT_TRUE(writer.write(image));
    return bytes;
}

QByteArray BigEndian(std::uint32_t v, int bytes) {
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i) out.append(char((v >> (8 * i)) & 0xFF));
    return out;
}

// A JPEG stored as RGB (no YCbCr, whose rounding near black in a wide space would be
// several levels of sRGB) at quality 100: flat 8 x 8 blocks come back exact.
QByteArray RgbJpeg(const QImage& image) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = JDIMENSION(image.width());
    info.image_height = JDIMENSION(image.height());
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, JCS_RGB);
    jpeg_set_quality(&info, 100, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uchar*>(image.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    std::free(out);
    return bytes;
}

// A JPEG of interleaved samples, grey or CMYK as stored, at quality 100; libjpeg marks a
// CMYK file with Adobe's marker unless told not to.
QByteArray SamplesJpeg(const std::vector<std::uint8_t>& samples, int width, int height, bool cmyk, bool adobeMarker = true) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = cmyk ? 4 : 1;
    info.in_color_space = cmyk ? JCS_CMYK : JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    info.write_Adobe_marker = cmyk && adobeMarker;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<std::uint8_t*>(samples.data()) + std::size_t(info.next_scanline) * std::size_t(width) * (cmyk ? 4 : 1);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    std::free(out);
    return bytes;
}

// A JPEG's samples as libjpeg decodes them: grey, or CMYK as stored.
std::vector<std::uint8_t> JpegSamples(const QByteArray& jpeg) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.constData()), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    const std::size_t rowBytes = std::size_t(info.output_width) * std::size_t(info.output_components);
    std::vector<std::uint8_t> samples(rowBytes * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = samples.data() + rowBytes * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return samples;
}

// A TIFF of interleaved samples (1 grey, 3 RGB, 4 CMYK) of 8 or 16 bits, LZW strips of 16 rows,
// with the profile embedded.
QByteArray ProfiledTiff(const QString& path, const std::vector<std::uint16_t>& samples, int width, int height, int channels,
                        int bits, const Profile& profile) {
    TIFF* tiff = TIFFOpen(path.toLocal8Bit().constData(), "w");
    EXPECT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, std::uint32_t(width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, std::uint32_t(height));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, std::uint16_t(bits));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(channels));
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
                 channels == 4 ? PHOTOMETRIC_SEPARATED : channels == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16u);
    if (!profile.empty()) TIFFSetField(tiff, TIFFTAG_ICCPROFILE, std::uint32_t(profile.size()), profile.data());
    const std::size_t perRow = std::size_t(width) * std::size_t(channels);
    std::vector<std::uint8_t> row(perRow * std::size_t(bits / 8));
    for (int y = 0; y < height; ++y) {
        for (std::size_t i = 0; i < perRow; ++i) {
            const std::uint16_t v = samples[std::size_t(y) * perRow + i];
            if (bits == 8) row[i] = std::uint8_t(v);
            else std::memcpy(row.data() + 2 * i, &v, 2);
        }
        EXPECT_GE(TIFFWriteScanline(tiff, row.data(), std::uint32_t(y), 0), 0);
    }
    TIFFClose(tiff);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

// A JPEG with its profile in APP2 parts of at most `part` bytes, after its SOI.
QByteArray JpegWithProfile(QByteArray jpeg, const Profile& profile, std::size_t part) {
    QByteArray segments;
    const std::size_t count = (profile.size() + part - 1) / part;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t n = std::min(part, profile.size() - i * part);
        segments += QByteArray("\xFF\xE2", 2) + BigEndian(std::uint32_t(2 + 14 + n), 2) + QByteArray("ICC_PROFILE", 12) +
                    char(i + 1) + char(count) + QByteArray(reinterpret_cast<const char*>(profile.data() + i * part), qsizetype(n));
    }
    return jpeg.insert(2, segments);
}

QByteArray PngChunk(const char* type, const QByteArray& data) {
    const QByteArray typed = QByteArray(type, 4) + data;
    return BigEndian(std::uint32_t(data.size()), 4) + typed +
           BigEndian(std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), uInt(typed.size()))), 4);
}

// A PNG with an iCCP chunk after its IHDR (8 bytes of signature, 25 of IHDR).
QByteArray PngWithProfile(QByteArray png, const Profile& profile) {
    uLongf size = compressBound(uLong(profile.size()));
    QByteArray deflated(qsizetype(size), '\0');
    compress(reinterpret_cast<Bytef*>(deflated.data()), &size, profile.data(), uLong(profile.size()));
    deflated.truncate(qsizetype(size));
    return png.insert(33, PngChunk("iCCP", QByteArray("test\0\0", 6) + deflated));
}

// Pixels through lcms2 at double precision, each channel rounded once.
std::vector<std::uint32_t> ExactlyConverted(const Profile& from, const Profile& to, const std::vector<std::uint32_t>& pixels) {
    cmsHPROFILE a = Open(from), b = Open(to);
    cmsHTRANSFORM t = cmsCreateTransform(a, TYPE_RGB_DBL, b, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    std::vector<std::uint32_t> converted;
    for (const std::uint32_t p : pixels) {
        const double in[3] = {((p >> 16) & 0xFF) / 255.0, ((p >> 8) & 0xFF) / 255.0, (p & 0xFF) / 255.0};
        double out[3];
        cmsDoTransform(t, in, out, 1);
        std::uint32_t rounded = 0xFF000000u;
        for (int k = 0; k < 3; ++k) rounded |= std::uint32_t(std::nearbyint(std::clamp(out[k], 0.0, 1.0) * 255)) << (16 - 8 * k);
        converted.push_back(rounded);
    }
    cmsDeleteTransform(t);
    cmsCloseProfile(a);
    cmsCloseProfile(b);
    return converted;
}

std::vector<std::uint32_t> BarsIn(const Profile& profile) {
    return ExactlyConverted(colour::StandardProfile(StandardSpace::Srgb), profile, {kBars.begin(), kBars.end()});
}

// Each bar within one level of lcms2's exact conversion of what the file stores, and,
// for Adobe RGB, within two levels of its sRGB target. (Eight bits of a wider space
// hold too little near black for the others: a level of Rec. 2020's red there is
// several of sRGB's.)
void ExpectBarsOnTarget(const DecodeResult& result, const char* name, const Profile& profile) {
    ASSERT_TRUE(result) << int(result.error);
    EXPECT_EQ(result.colourSpace, QString::fromLatin1(name));
    EXPECT_TRUE(result.colourConverted);
    EXPECT_EQ(result.outOfGamut, 0u);
    const std::vector<std::uint32_t> expected =
        ExactlyConverted(profile, colour::StandardProfile(StandardSpace::Srgb), BarsIn(profile));
    const bool adobe = std::string_view(name) == "Adobe RGB (1998)";
    const QImage& image = result.surface->image();
    for (std::size_t i = 0; i < kBars.size(); ++i) {
        const QRgb got = image.pixel(int(i) * kBarWidth + kBarWidth / 2, kBarsHeight / 2);
        EXPECT_LE(LargestDifference(got, expected[i]), 1) << "bar " << i << ": " << std::hex << got;
        if (adobe) {
            EXPECT_LE(LargestDifference(got, kBars[i]), 2) << "bar " << i << ": " << std::hex << got;
        }
    }
}

// Pixel for pixel (Qt's own comparison also compares the colour spaces its readers note).
bool SamePixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return false;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), std::size_t(a.width()) * 4) != 0) return false;
    return true;
}

QString Write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return file.fileName();
}

TEST(DecodeColour, TaggedBarsLandOnTheirTargetsAndStoredValuesStayAsStored) {
    QTemporaryDir dir;
    for (const Space& s : kWideSpaces) {
        SCOPED_TRACE(s.name);
        const Profile profile = colour::StandardProfile(s.space);
        const std::vector<std::uint32_t> stored = BarsIn(profile);
        const QImage bars = Bars(stored);
        // A profile split over parts of 200 bytes, which must be put back in order.
        SCOPED_TRACE("JPEG, then PNG");
        ExpectBarsOnTarget(DecodePicture(Write(dir, "bars.jpg", JpegWithProfile(RgbJpeg(bars), profile, 200)), 0),
                           s.name, profile);
        const QString png = Write(dir, "bars.png", PngWithProfile(Encoded(bars, "png"), profile));
        ExpectBarsOnTarget(DecodePicture(png, 0), s.name, profile);
        const DecodeResult asStored = DecodePicture(png, 0, nullptr, ColourHandling::StoredValues);
        ASSERT_TRUE(asStored);
        EXPECT_EQ(asStored.colourSpace, QString::fromLatin1(s.name));
        EXPECT_FALSE(asStored.colourConverted);
        EXPECT_TRUE(SamePixels(asStored.surface->image(), bars));
    }
}

TEST(DecodeColour, SrgbAndUntaggedPicturesKeepEveryBit) {
    QTemporaryDir dir;
    QImage noise(300, 200, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x) noise.setPixel(x, y, 0xFF000000u | std::uint32_t(x * 7919 + y * 104729) * 2654435761u >> 8);
    const QByteArray png = Encoded(noise, "png");
    const Profile srgb = colour::StandardProfile(StandardSpace::Srgb);
    for (const QByteArray& file : {png, PngWithProfile(png, srgb), QByteArray(png).insert(33, PngChunk("sRGB", QByteArray(1, '\0')))}) {
        const DecodeResult result = DecodePicture(Write(dir, "p.png", file), 0);
        ASSERT_TRUE(result);
        EXPECT_TRUE(result.colourSpace.isEmpty());
        EXPECT_TRUE(SamePixels(result.surface->image(), noise));
    }
}

// Grey and CMYK pictures with their own profiles, converted through them: JPEG (CMYK
// with Adobe's marker and without, inverted as Adobe's programs store inks), PNG and
// TIFF, 8 and 16 bits, in process and in the worker, each pixel against lcms2's
// double-precision transform of what the file stores (within a level for grey, three
// for CMYK), and named by the profile. A profile of another kind of samples than the
// picture's is ignored: the picture reads as if it had none.
TEST(DecodeColour, GreyAndCmykPicturesConvertThroughTheirOwnProfiles) {
    constexpr int kWidth = 480, kHeight = 320;  // large enough to be split over threads
    constexpr std::size_t kPixels = std::size_t(kWidth) * kHeight;
    constexpr ColorValue kBackground = 0x00336699;
    QTemporaryDir dir;
    const Profile grey = GreyGamma18(), cmyk = CmykProfile(), adobe = colour::StandardProfile(StandardSpace::AdobeRgb);
    std::vector<std::uint8_t> grey8(kPixels), inks8(4 * kPixels);
    std::vector<std::uint16_t> grey16(kPixels), inks16(4 * kPixels), wideGrey8(kPixels), wideInks8(4 * kPixels);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const std::size_t i = std::size_t(y) * kWidth + std::size_t(x);
            grey8[i] = std::uint8_t((x * 255 / (kWidth - 1) * 3 + y * 255 / (kHeight - 1)) / 4);
            grey16[i] = std::uint16_t((x * 65535 / (kWidth - 1) * 3 + y * 65535 / (kHeight - 1)) / 4 ^ (x * y & 63));
            const std::uint32_t ink[4] = {std::uint32_t(x * 255 / (kWidth - 1)), std::uint32_t(y * 255 / (kHeight - 1)),
                                          std::uint32_t((x + y) * 255 / (kWidth + kHeight - 2)), std::uint32_t((x / 40 + y / 40) * 37 % 256)};
            for (std::size_t k = 0; k < 4; ++k) {
                inks8[4 * i + k] = std::uint8_t(ink[k]);
                inks16[4 * i + k] = std::uint16_t(ink[k] * 257 ^ std::uint32_t(x & 63));
            }
        }
    std::copy(grey8.begin(), grey8.end(), wideGrey8.begin());
    std::copy(inks8.begin(), inks8.end(), wideInks8.begin());
    // The pixels lcms2 makes of samples at `top` (grey, or inks four to a pixel).
    const auto expected = [&](const Profile& profile, const std::vector<std::uint16_t>& samples, double top) {
        std::vector<double> scaled(samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i) scaled[i] = samples[i] / top;
        const std::vector<double> srgb = ThroughLcms(profile, scaled);
        QImage image(kWidth, kHeight, QImage::Format_RGB32);
        for (std::size_t i = 0; i < kPixels; ++i)
            reinterpret_cast<QRgb*>(image.bits())[i] = 0xFF000000u | Level(srgb[3 * i]) << 16 | Level(srgb[3 * i + 1]) << 8 | Level(srgb[3 * i + 2]);
        return image;
    };
    // What libjpeg decodes of a JPEG, as samples (CMYK turned back into inks).
    const auto decodedSamples = [](const QByteArray& jpeg, bool inverted) {
        const std::vector<std::uint8_t> samples = JpegSamples(jpeg);
        std::vector<std::uint16_t> wide(samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i) wide[i] = std::uint16_t(inverted ? 255 - samples[i] : samples[i]);
        return wide;
    };
    const auto inverted = [](std::vector<std::uint8_t> inks) {
        for (std::uint8_t& v : inks) v = std::uint8_t(255 - v);
        return inks;
    };
    const QByteArray cmykJpeg = SamplesJpeg(inverted(inks8), kWidth, kHeight, true);
    const QByteArray cmykJpegWithoutMarker = SamplesJpeg(inverted(inks8), kWidth, kHeight, true, false);
    const QByteArray greyJpeg = SamplesJpeg(grey8, kWidth, kHeight, false);
    QImage greyImage(kWidth, kHeight, QImage::Format_Grayscale8), greyImage16(kWidth, kHeight, QImage::Format_Grayscale16);
    for (int y = 0; y < kHeight; ++y) {
        std::memcpy(greyImage.scanLine(y), grey8.data() + std::size_t(y) * kWidth, kWidth);
        std::memcpy(greyImage16.scanLine(y), grey16.data() + std::size_t(y) * kWidth, 2 * kWidth);
    }
    const QByteArray greyPng = Encoded(greyImage, "png"), barsPng = Encoded(Bars({kBars.begin(), kBars.end()}), "png");
    const QByteArray barsJpeg = RgbJpeg(Bars({kBars.begin(), kBars.end()}));
    const auto untagged = [&](const QByteArray& bytes) { return DecodePicture(Write(dir, "untagged", bytes), kBackground).surface->image(); };

    const struct Row {
        const char* name;
        QByteArray file;
        const char* space;  // empty: not converted
        QImage pixels;
        int tolerance;
    } rows[] = {
        {"grey JPEG", JpegWithProfile(greyJpeg, grey, 60000), "Grey, gamma 1.8", expected(grey, decodedSamples(greyJpeg, false), 255), 1},
        {"grey PNG", PngWithProfile(greyPng, grey), "Grey, gamma 1.8", expected(grey, wideGrey8, 255), 1},
        {"16-bit grey PNG", PngWithProfile(Encoded(greyImage16, "png"), grey), "Grey, gamma 1.8", expected(grey, grey16, 65535), 1},
        {"grey TIFF", ProfiledTiff(dir.filePath("g.tif"), wideGrey8, kWidth, kHeight, 1, 8, grey), "Grey, gamma 1.8",
         expected(grey, wideGrey8, 255), 1},
        {"16-bit grey TIFF", ProfiledTiff(dir.filePath("g16.tif"), grey16, kWidth, kHeight, 1, 16, grey), "Grey, gamma 1.8",
         expected(grey, grey16, 65535), 1},
        {"CMYK JPEG", JpegWithProfile(cmykJpeg, cmyk, 30000), "Test press, coated", expected(cmyk, decodedSamples(cmykJpeg, true), 255), 3},
        {"CMYK JPEG without Adobe's marker", JpegWithProfile(cmykJpegWithoutMarker, cmyk, 60000), "Test press, coated",
         expected(cmyk, decodedSamples(cmykJpegWithoutMarker, true), 255), 3},
        {"CMYK TIFF", ProfiledTiff(dir.filePath("c.tif"), wideInks8, kWidth, kHeight, 4, 8, cmyk), "Test press, coated",
         expected(cmyk, wideInks8, 255), 3},
        {"16-bit CMYK TIFF", ProfiledTiff(dir.filePath("c16.tif"), inks16, kWidth, kHeight, 4, 16, cmyk), "Test press, coated",
         expected(cmyk, inks16, 65535), 3},
        {"grey profile on an RGB JPEG", JpegWithProfile(barsJpeg, grey, 60000), "", untagged(barsJpeg), 0},
        {"CMYK profile on an RGB PNG", PngWithProfile(barsPng, cmyk), "", untagged(barsPng), 0},
        {"RGB profile on a grey PNG", PngWithProfile(greyPng, adobe), "", untagged(greyPng), 0},
        {"grey profile on a CMYK JPEG", JpegWithProfile(cmykJpeg, grey, 60000), "", untagged(cmykJpeg), 0},
        {"RGB profile on a CMYK TIFF", ProfiledTiff(dir.filePath("a.tif"), wideInks8, kWidth, kHeight, 4, 8, adobe), "",
         untagged(ProfiledTiff(dir.filePath("u.tif"), wideInks8, kWidth, kHeight, 4, 8, {})), 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = Write(dir, "picture", row.file);
        for (const DecodeResult& result : {DecodePicture(path, kBackground), DecodeInWorker(path, kBackground)}) {
            ASSERT_TRUE(result) << int(result.error);
            EXPECT_EQ(result.colourSpace, QString::fromLatin1(row.space));
            EXPECT_EQ(result.colourConverted, *row.space != '\0');
            const QImage& got = result.surface->image();
            ASSERT_EQ(got.size(), row.pixels.size());
            int worst = 0;
            double sum[2] = {0, 0};  // the green channel's, ours and lcms2's
            for (int y = 0; y < got.height(); ++y)
                for (int x = 0; x < got.width(); ++x) {
                    worst = std::max(worst, LargestDifference(got.pixel(x, y), row.pixels.pixel(x, y)));
                    sum[0] += qGreen(got.pixel(x, y));
                    sum[1] += qGreen(row.pixels.pixel(x, y));
                }
            EXPECT_LE(worst, row.tolerance);
            const double pixels = double(got.width()) * got.height();
            EXPECT_NEAR(sum[0] / pixels, sum[1] / pixels, 0.5);
        }
    }
}

// What PNG's colour chunks and JPEG XL's colour encoding mean, one rule for both: a bare
// gamma of about 1/2.2 with sRGB's primaries (or none) is sRGB and left as stored; another
// gamma, or other primaries, is converted; cICP's code points are taken as they say
// (transfer 4 is gamma 2.2 itself), narrow-range ones not at all; a profile built from
// tags serves a grey picture too. Each converted picture within a level of lcms2's
// conversion from a profile the test builds from the tags' meaning, and the JPEG XL
// pixel for pixel the PNG.
TEST(DecodeColour, ColourChunksAndJpegXlGammaMeanWhatTheySay) {
    QImage picture(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) picture.setPixel(x, y, 0xFF000000u | std::uint32_t(x * 7919 + y * 104729) * 2654435761u >> 8);
    QImage greyPicture = picture.convertToFormat(QImage::Format_Grayscale8);
    const auto be32 = [](std::uint32_t v) { return BigEndian(v, 4); };
    const auto gama = [&](std::uint32_t gamma) { return PngChunk("gAMA", be32(gamma)); };
    const auto chrm = [&](const Primaries& p) {
        QByteArray data;
        for (const double v : {p.wx, p.wy, p.rx, p.ry, p.gx, p.gy, p.bx, p.by}) data += be32(std::uint32_t(std::lround(v * 100000)));
        return PngChunk("cHRM", data);
    };
    const auto cicp = [](int primaries, int transfer, int fullRange) {
        const char data[4] = {char(primaries), char(transfer), 0, char(fullRange)};
        return PngChunk("cICP", QByteArray(data, 4));
    };
    const auto power = [](double exponent) { return cmsBuildGamma(nullptr, exponent); };
    const cmsFloat64Number srgbCurve[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    constexpr int kSrgbPrimaries = 1, kP3 = 12, kGammaTransfer = 65535;
    struct Row {
        const char* name;
        QByteArray chunks;
        const char* space;                 // empty: left as stored
        Primaries primaries;               // what it means, when converted
        cmsToneCurve* curve;
        std::optional<std::pair<int, double>> jxl;  // the same as JPEG XL's primaries and gamma
        bool grey = false;
    };
    const Row rows[] = {
        {"gAMA 45455", gama(45455), "", kSrgb, nullptr, std::pair{kSrgbPrimaries, 0.45455}},
        {"gAMA 45455 and sRGB's cHRM", gama(45455) + chrm(kSrgb), "", kSrgb, nullptr, {}},
        {"gAMA 45000", gama(45000), "gamma 2.22", kSrgb, power(100000.0 / 45000), std::pair{kSrgbPrimaries, 0.45}},
        {"gAMA 45455 and Display P3's cHRM", gama(45455) + chrm(kDisplayP3), "Display P3, gamma 2.20", kDisplayP3,
         power(100000.0 / 45455), std::pair{kP3, 0.45455}},
        {"gAMA 100000 on grey", gama(100000), "gamma 1.00", kSrgb, power(1), {}, true},
        {"sRGB before gAMA 100000", PngChunk("sRGB", QByteArray(1, '\0')) + gama(100000), "", kSrgb, nullptr, {}},
        {"cICP 1/4, gamma 2.2", cicp(1, 4, 1), "Rec. 709, gamma 2.2", kSrgb, power(2.2), {}},
        {"cICP 9/13", cicp(9, 13, 1), "Rec. 2020, sRGB curve", kRec2020, cmsBuildParametricToneCurve(nullptr, 4, srgbCurve), {}},
        {"cICP 9/13 narrow range", cicp(9, 13, 0), "", kSrgb, nullptr, {}},
        {"cICP 1/13, sRGB", cicp(1, 13, 1), "", kSrgb, nullptr, {}},
        {"cICP 12/13 before Adobe RGB's iCCP", cicp(12, 13, 1), "Display P3", kDisplayP3,
         cmsBuildParametricToneCurve(nullptr, 4, srgbCurve), {}},
    };
    QTemporaryDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QImage& source = row.grey ? greyPicture : picture;
        QByteArray png = Encoded(source, "png");
        if (std::string_view(row.name).find("iCCP") != std::string_view::npos)
            png = PngWithProfile(png, colour::StandardProfile(StandardSpace::AdobeRgb));
        png.insert(33, row.chunks);
        const DecodeResult result = DecodePicture(Write(dir, "tagged.png", png), 0);
        ASSERT_TRUE(result);
        EXPECT_EQ(result.colourSpace, QString::fromLatin1(row.space));
        const QImage stored = source.convertToFormat(QImage::Format_RGB32);
        if (row.curve == nullptr) {
            EXPECT_FALSE(result.colourConverted);
            EXPECT_TRUE(SamePixels(result.surface->image(), stored));
        } else {
            cmsToneCurve* curves[3] = {row.curve, row.curve, row.curve};
            const cmsCIExyY white{row.primaries.wx, row.primaries.wy, 1};
            const cmsCIExyYTRIPLE xy{{row.primaries.rx, row.primaries.ry, 1}, {row.primaries.gx, row.primaries.gy, 1},
                                     {row.primaries.bx, row.primaries.by, 1}};
            cmsHPROFILE meant = cmsCreateRGBProfile(&white, &xy, curves);
            cmsFreeToneCurve(row.curve);
            const Profile meaning = Save(meant);
            std::vector<std::uint32_t> pixels;
            for (int y = 0; y < stored.height(); ++y)
                for (int x = 0; x < stored.width(); ++x) pixels.push_back(stored.pixel(x, y));
            const std::vector<std::uint32_t> expected = ExactlyConverted(meaning, colour::StandardProfile(StandardSpace::Srgb), pixels);
            int worst = 0;
            for (std::size_t i = 0; i < pixels.size(); ++i)
                worst = std::max(worst, LargestDifference(result.surface->image().pixel(int(i) % stored.width(), int(i) / stored.width()), expected[i]));
            EXPECT_LE(worst, 1);
        }
        if (row.jxl) {
            heif_pictures::Options options;
            options.cicp = {row.jxl->first, kGammaTransfer};
            options.gamma = row.jxl->second;
            const DecodeResult jxl = DecodePicture(Write(dir, "tagged.jxl", heif_pictures::EncodeJxl(source, options)), 0);
            ASSERT_TRUE(jxl);
            EXPECT_EQ(jxl.colourSpace, result.colourSpace);
            EXPECT_TRUE(SamePixels(jxl.surface->image(), result.surface->image()));
        }
    }
}

// An APP1 EXIF segment with ColorSpace (none when 0) and an interoperability index (none
// when empty); by default the DCF's marker for Adobe RGB: uncalibrated and "R03".
QByteArray ExifAdobeRgb(std::uint32_t colourSpace = 0xFFFF, const char* interop = "R03") {
    const auto le16 = [](std::uint32_t v) {
        const char bytes[2] = {char(v & 0xFF), char(v >> 8)};
        return QByteArray(bytes, 2);
    };
    const auto le32 = [&](std::uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); };
    const auto entry = [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count, const QByteArray& value) {
        return le16(tag) + le16(type) + le32(count) + value;
    };
    QByteArray tiff = QByteArray("II*\0", 4) + le32(8);
    tiff += le16(1) + entry(0x8769, 4, 1, le32(26)) + le32(0);  // IFD0 at 8
    // EXIF at 26: ColorSpace, then the interoperability directory at 56.
    const QByteArray space = colourSpace != 0 ? entry(0xA001, 3, 1, le32(colourSpace)) : entry(0x9000, 7, 4, "0231");
    tiff += le16(2) + space + entry(0xA005, 4, 1, le32(56)) + le32(0);
    const QByteArray index = *interop != '\0' ? entry(0x0001, 2, 4, QByteArray(interop, 4)) : entry(0x0002, 7, 4, "0100");
    tiff += le16(1) + index + le32(0);  // interop at 56
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    return QByteArray("\xFF\xE1", 2) + BigEndian(std::uint32_t(payload.size() + 2), 2) + payload;
}

TEST(DecodeColour, ExifAdobeRgbMarkerConvertsAJpegWithoutProfile) {
    QTemporaryDir dir;
    const QByteArray jpeg = RgbJpeg(Bars(BarsIn(colour::StandardProfile(StandardSpace::AdobeRgb))));
    const QString file = Write(dir, "exif.jpg", QByteArray(jpeg).insert(2, ExifAdobeRgb()));
    ExpectBarsOnTarget(DecodePicture(file, 0), "Adobe RGB (1998)", colour::StandardProfile(StandardSpace::AdobeRgb));
}

// A classic little-endian TIFF of one directory holding only an ICC profile entry that
// claims `count` bytes at `offset`, and the profile's bytes after it.
QByteArray TiffClaimingProfile(const Profile& profile, std::uint32_t offset, std::uint32_t count) {
    const auto le = [](std::uint32_t v, int bytes) {
        QByteArray out;
        for (int i = 0; i < bytes; ++i) out.append(char((v >> (8 * i)) & 0xFF));
        return out;
    };
    QByteArray tiff = QByteArray("II*\0", 4) + le(8, 4) + le(1, 2) + le(34675, 2) + le(7, 2) + le(count, 4) + le(offset, 4) + le(0, 4);
    return tiff + QByteArray(reinterpret_cast<const char*>(profile.data()), qsizetype(profile.size()));
}

QByteArray RiffChunk(const char* type, const QByteArray& data) {
    QByteArray chunk = QByteArray(type, 4);
    for (int i = 0; i < 4; ++i) chunk.append(char((std::uint32_t(data.size()) >> (8 * i)) & 0xFF));
    return chunk + data + (data.size() % 2 != 0 ? QByteArray(1, '\0') : QByteArray());  // padded to an even length
}
QByteArray Webp(const QByteArray& chunks) {
    const QByteArray body = "WEBP" + chunks;
    QByteArray size;
    for (int i = 0; i < 4; ++i) size.append(char((std::uint32_t(body.size()) >> (8 * i)) & 0xFF));
    return "RIFF" + size + body;
}

// Each format's walker finds a whole profile, and takes none that is cut, out of order
// or claims bytes the file does not hold.
TEST(DecodeColourTags, EachFormatsProfileIsFoundWholeAndDamagedOnesAreNot) {
    Profile profile(1000);
    for (std::size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<unsigned char>(i * 7);
    const auto bytes = [](const QByteArray& b) { return colourtags::Bytes(reinterpret_cast<const unsigned char*>(b.constData()), std::size_t(b.size())); };

    const QByteArray base("\xFF\xD8\xFF\xD9", 4);
    const QByteArray inOrder = JpegWithProfile(base, profile, 300);  // four parts
    // Parts 3 and 4 first: each segment is 2 + 2 + 14 + 300 bytes, the last 2 + 2 + 14 + 100.
    const qsizetype whole = 318, last = 118;
    QByteArray shuffled = base;
    shuffled.insert(2, inOrder.mid(2, 2 * whole));
    shuffled.insert(2, inOrder.mid(2 + 2 * whole, whole + last));
    QByteArray missing = inOrder;
    missing.remove(2 + whole, whole);

    constexpr std::uint32_t kAfterDirectory = 8 + 2 + 12 + 4;
    const auto size = std::uint32_t(profile.size());
    const QByteArray odd = RiffChunk("VP8X", QByteArray(10, '\0')) + RiffChunk("XMP ", "<x>");  // 3 bytes and a pad
    const QByteArray iccp = RiffChunk("ICCP", QByteArray(reinterpret_cast<const char*>(profile.data()), qsizetype(size)));
    const QByteArray picture = RiffChunk("VP8L", QByteArray(20, '\0'));
    const struct {
        const char* name;
        QByteArray file;
        bool found;
    } rows[] = {
        {"JPEG, in order", inOrder, true},
        {"JPEG, parts 3 and 4 first", shuffled, true},
        {"JPEG, part 2 missing", missing, false},
        {"TIFF", TiffClaimingProfile(profile, kAfterDirectory, size), true},
        {"TIFF, one byte past the end", TiffClaimingProfile(profile, kAfterDirectory, size + 1), false},
        {"TIFF, offset and count past the end", TiffClaimingProfile(profile, kAfterDirectory + 900, 200), false},
        {"TIFF, offset past the end", TiffClaimingProfile(profile, 0xFFFFFF00u, 200), false},
        {"WebP, after a chunk of odd length", Webp(odd + iccp + picture), true},
        {"WebP, after the picture", Webp(RiffChunk("VP8X", QByteArray(10, '\0')) + picture + iccp), false},
        {"WebP, cut in its profile", Webp(odd + iccp).chopped(10), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const colourtags::FileColour read = colourtags::ReadFileColour(bytes(row.file));
        EXPECT_EQ(read.profile, row.found ? profile : Profile{});
    }

    // EXIF's ColorSpace says sRGB (1) or Adobe RGB (2); the DCF's "R03" means Adobe RGB
    // only where ColorSpace does not say sRGB.
    for (const auto& [colourSpace, interop, adobe] :
         {std::tuple{0xFFFFu, "R03", true}, {1u, "R03", false}, {2u, "", true}, {2u, "R98", true},
          {0xFFFFu, "R98", false}, {0u, "R03", true}, {1u, "", false}, {0xFFFFu, "", false}}) {
        const QByteArray jpeg = QByteArray(base).insert(2, ExifAdobeRgb(colourSpace, interop));
        EXPECT_EQ(colourtags::JpegExifAdobeRgb(bytes(jpeg)), adobe) << colourSpace << " " << interop;
    }
}

// ---- which pixels were clipped ----------------------------------------------------

// A picture whose conversion clips in every way: whole rows of one saturated colour
// (runs across rows and bands), a third of it random colours (scattered clips), strays
// elsewhere, grey between. Samples of 16 bits, R G B (or C M Y K) to a pixel; with a
// palette, the random colours are drawn from it instead.
struct ClipSource {
    int width = 0, height = 0, channels = 3;
    std::vector<std::uint16_t> samples;
    std::uint16_t at(std::size_t pixel, int k) const { return samples[pixel * std::size_t(channels) + std::size_t(k)]; }
};
ClipSource MakeClipSource(int width, int height, int channels, const std::vector<std::array<std::uint16_t, 4>>& palette = {}) {
    ClipSource source{width, height, channels, {}};
    std::mt19937 random(std::uint32_t(width * 31 + height));
    const std::array<std::uint16_t, 4> saturated = channels == 4 ? std::array<std::uint16_t, 4>{65535, 0, 0, 0}
                                                                 : std::array<std::uint16_t, 4>{0, 65535, 0, 0};
    const std::array<std::uint16_t, 4> grey = channels == 4 ? std::array<std::uint16_t, 4>{0, 0, 0, 30000}
                                                            : std::array<std::uint16_t, 4>{30000, 30000, 30000, 0};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::array<std::uint16_t, 4> v = grey;
            if (y % 50 < 6 || (x * 7 + y * 13) % 251 == 0) v = saturated;
            else if (x < width / 3 && !palette.empty()) v = palette[random() % palette.size()];
            else if (x < width / 3) v = {std::uint16_t(random()), std::uint16_t(random()), std::uint16_t(random()), std::uint16_t(random() % 20000)};
            source.samples.insert(source.samples.end(), v.begin(), v.begin() + channels);
        }
    return source;
}
QImage Rgb8Of(const ClipSource& s) {
    QImage image(s.width, s.height, QImage::Format_RGB32);
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            const std::size_t i = std::size_t(y) * std::size_t(s.width) + std::size_t(x);
            image.setPixel(x, y, qRgb(s.at(i, 0) >> 8, s.at(i, 1) >> 8, s.at(i, 2) >> 8));
        }
    return image;
}
QImage Rgb16Of(const ClipSource& s) {
    QImage image(s.width, s.height, QImage::Format_RGBX64);
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            const std::size_t i = std::size_t(y) * std::size_t(s.width) + std::size_t(x);
            image.setPixelColor(x, y, QColor::fromRgba64(s.at(i, 0), s.at(i, 1), s.at(i, 2)));
        }
    return image;
}

// Which pixels of a picture were clipped, the slow way: each source pixel converted on
// its own, true where its conversion counts it clipped.
std::vector<bool> ClippedOneByOne(std::size_t pixels, const std::function<std::uint64_t(std::size_t, std::uint32_t*)>& convertOne) {
    std::vector<bool> clipped(pixels);
    std::uint32_t out = 0;
    for (std::size_t i = 0; i < pixels; ++i) clipped[i] = convertOne(i, &out) == 1;
    return clipped;
}

// A PNG's eXIf chunk saying the picture is stored turned a quarter anticlockwise (6).
QByteArray WithExifOrientation6(QByteArray png) {
    const QByteArray tiff("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 26);
    return png.insert(33, PngChunk("eXIf", tiff));
}

// Every reader's way of converting (bands converted while the next decodes, the last
// band at once, 16-bit rows converted by the reader, a picture turned upright after its
// rows were converted, inks, lcms2's tables, a library's deep samples), in process and
// through the worker's messages: the pixels said to be clipped are, in any region, as
// many as converting the region's source pixels one by one clips.
TEST(DecodeColour, ClippedPixelsOfAnyRegionAreThoseItsSourcePixelsClipOneByOne) {
    QTemporaryDir dir;
    constexpr int kWidth = 640, kHeight = 900;  // three bands
    const Profile adobe = colour::StandardProfile(StandardSpace::AdobeRgb);
    const Profile cmyk = CmykProfile();
    const ClipSource rgb = MakeClipSource(kWidth, kHeight, 3);
    const ClipSource inks = MakeClipSource(kWidth, kHeight, 4);
    const auto eightBit = [&](const ClipSource& s, const colour::Converter& c) {
        return ClippedOneByOne(s.samples.size() / std::size_t(s.channels), [&](std::size_t i, std::uint32_t* out) {
            const std::uint32_t p = s.channels == 4 ? InkPixel({std::uint8_t(s.at(i, 0) >> 8), std::uint8_t(s.at(i, 1) >> 8),
                                                                std::uint8_t(s.at(i, 2) >> 8), std::uint8_t(s.at(i, 3) >> 8)})
                                                    : 0xFF000000u | std::uint32_t(s.at(i, 0) >> 8) << 16 |
                                                          std::uint32_t(s.at(i, 1) >> 8) << 8 | std::uint32_t(s.at(i, 2) >> 8);
            return c.Convert(&p, out, 1);
        });
    };
    const auto sixteenBit = [&](const ClipSource& s, const colour::Converter& c) {
        return ClippedOneByOne(s.samples.size() / std::size_t(s.channels), [&](std::size_t i, std::uint32_t* out) {
            return s.channels == 4 ? c.ConvertInks16(s.samples.data() + 4 * i, out, 1) : c.Convert16(s.samples.data() + 3 * i, out, 1);
        });
    };
    const auto adobeConverter = colour::Converter::For(adobe);
    const auto tableConverter = colour::Converter::For(TableProfile());
    const auto inkConverter = colour::Converter::For(cmyk);
    ASSERT_TRUE(adobeConverter && tableConverter && inkConverter);

    // A 12-bit JPEG XL in Rec. 2020, deep samples converted row by row: its colours far
    // inside or far outside sRGB, so that how the library widens them does not matter.
    const std::vector<std::array<std::uint16_t, 4>> palette = {
        {0, 65535, 0, 0}, {65535, 0, 0, 0}, {0, 0, 65535, 0}, {20000, 30000, 25000, 0}, {40000, 40000, 40000, 0}};
    const ClipSource wideGamut = MakeClipSource(300, 900, 3, palette);
    colourtags::FileColour rec2020Tags;
    rec2020Tags.cicp = colourtags::Cicp{9, 1, 0, 1};
    const auto rec2020 = colour::ConverterFor(colour::SourceColourOf(rec2020Tags), colourtags::SampleKind::Rgb);
    ASSERT_NE(rec2020, nullptr);
    heif_pictures::Options jxl;
    jxl.bits = 12;
    jxl.cicp = {9, 1};

    // The JPEG's samples are what its decoder makes of them: as stored values show them.
    const QString jpegPath = Write(dir, "clip.jpg", JpegWithProfile(RgbJpeg(Rgb8Of(rgb)), adobe, 60000));
    const DecodeResult jpegStored = DecodePicture(jpegPath, 0, nullptr, ColourHandling::StoredValues);
    ASSERT_TRUE(jpegStored);
    const QImage jpegSamples = jpegStored.surface->image();

    struct Row {
        const char* name;
        QString path;
        std::vector<bool> clipped;  // in the picture as it is shown
        int width;
    };
    std::vector<bool> turned;
    {
        // The stored picture's clips, turned as Qt turns a picture a quarter clockwise.
        const std::vector<bool> stored = sixteenBit(rgb, *adobeConverter);
        QImage marks(kWidth, kHeight, QImage::Format_Grayscale8);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) marks.scanLine(y)[x] = stored[std::size_t(y) * kWidth + std::size_t(x)] ? 255 : 0;
        const QImage upright = marks.transformed(QTransform().rotate(90));
        EXPECT_EQ(upright.size(), QSize(kHeight, kWidth));
        for (int y = 0; y < upright.height(); ++y)
            for (int x = 0; x < upright.width(); ++x) turned.push_back(upright.constScanLine(y)[x] != 0);
    }
    std::vector<Row> rows = {
        {"8-bit PNG, Adobe RGB", Write(dir, "clip8.png", PngWithProfile(Encoded(Rgb8Of(rgb), "png"), adobe)),
         eightBit(rgb, *adobeConverter), kWidth},
        {"JPEG, Adobe RGB", jpegPath,
         ClippedOneByOne(std::size_t(kWidth) * kHeight,
                         [&](std::size_t i, std::uint32_t* out) {
                             const QRgb p = jpegSamples.pixel(int(i % kWidth), int(i / kWidth));
                             return adobeConverter->Convert(&p, out, 1);
                         }),
         kWidth},
        {"8-bit PNG, lcms2's tables", Write(dir, "table.png", PngWithProfile(Encoded(Rgb8Of(rgb), "png"), TableProfile())),
         eightBit(rgb, *tableConverter), kWidth},
        {"16-bit PNG, Adobe RGB", Write(dir, "clip16.png", PngWithProfile(Encoded(Rgb16Of(rgb), "png"), adobe)),
         sixteenBit(rgb, *adobeConverter), kWidth},
        {"16-bit PNG stored turned", Write(dir, "turned.png", WithExifOrientation6(PngWithProfile(Encoded(Rgb16Of(rgb), "png"), adobe))),
         turned, kHeight},
        {"16-bit TIFF, Adobe RGB", Write(dir, "clip16.tif", ProfiledTiff(dir.filePath("t16.tif"), rgb.samples, kWidth, kHeight, 3, 16, adobe)),
         sixteenBit(rgb, *adobeConverter), kWidth},
        {"8-bit CMYK TIFF", Write(dir, "inks8.tif", ProfiledTiff(dir.filePath("i8.tif"), [&] {
             std::vector<std::uint16_t> eight;
             for (const std::uint16_t v : inks.samples) eight.push_back(v >> 8);
             return eight;
         }(), kWidth, kHeight, 4, 8, cmyk)),
         eightBit(inks, *inkConverter), kWidth},
        {"16-bit CMYK TIFF", Write(dir, "inks16.tif", ProfiledTiff(dir.filePath("i16.tif"), inks.samples, kWidth, kHeight, 4, 16, cmyk)),
         sixteenBit(inks, *inkConverter), kWidth},
        {"12-bit JPEG XL, Rec. 2020", Write(dir, "deep.jxl", heif_pictures::EncodeJxl(Rgb16Of(wideGamut), jxl)),
         sixteenBit(wideGamut, *rec2020), wideGamut.width},
    };
    std::mt19937 random(41);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::uint64_t total = std::uint64_t(std::count(row.clipped.begin(), row.clipped.end(), true));
        ASSERT_GT(total, 0u);
        const std::size_t width = std::size_t(row.width), height = row.clipped.size() / width;
        for (const bool worker : {false, true}) {
            SCOPED_TRACE(worker ? "through the worker" : "in process");
            const DecodeResult result = worker ? DecodeInWorker(row.path, 0) : DecodePicture(row.path, 0);
            ASSERT_TRUE(result) << int(result.error);
            ASSERT_TRUE(result.colourConverted);
            ASSERT_EQ(std::size_t(result.surface->width()), width);
            EXPECT_EQ(result.outOfGamut, total);
            ASSERT_NE(result.clipped, nullptr);
            EXPECT_EQ(result.clipped->count(), total);
            // Whole rows, single pixels, the whole picture, and many regions at random.
            std::vector<korvex::PixelRect> regions = {{0, 0, width, height}, {0, height - 1, width, 1}, {width - 1, 0, 1, height},
                                                      {width / 2, 6, 1, 1}};
            for (int k = 0; k < 200; ++k) {
                korvex::PixelRect r;
                r.x = random() % width, r.y = random() % height;
                r.width = 1 + random() % (width - r.x), r.height = 1 + random() % (height - r.y);
                regions.push_back(r);
            }
            for (const korvex::PixelRect& r : regions) {
                std::uint64_t slow = 0;
                for (std::size_t y = r.y; y < r.y + r.height; ++y)
                    for (std::size_t x = r.x; x < r.x + r.width; ++x) slow += row.clipped[y * width + x];
                ASSERT_EQ(result.clipped->CountRect(width, r), slow) << r.x << "," << r.y << "," << r.width << "," << r.height;
            }
        }
    }
    // Nothing clipped, nothing kept; nothing converted, nothing kept.
    const QString grey = Write(dir, "grey.png", PngWithProfile(Encoded(Bars({0x808080}), "png"), adobe));
    for (const DecodeResult& result : {DecodePicture(grey, 0), DecodeInWorker(grey, 0),
                                       DecodePicture(rows[0].path, 0, nullptr, ColourHandling::StoredValues),
                                       DecodeInWorker(rows[0].path, 0, nullptr, ColourHandling::StoredValues)}) {
        ASSERT_TRUE(result);
        EXPECT_EQ(result.outOfGamut, 0u);
        EXPECT_EQ(result.clipped, nullptr);
    }
}

TEST(WorkerMessages, ColourNameFlagsAndClippedCountCrossIntact) {
    const auto stream = [](const WorkerColour& colour) {
        QByteArray bytes;
        for (const auto& m : {EncodeWorkerMessage(WorkerMessageKind::Size, 4, 2),
                              EncodeWorkerMessage(WorkerMessageKind::Rows, 2)})
            bytes.append(reinterpret_cast<const char*>(m.data()), qsizetype(m.size()));
        // The clipped pixels themselves, the first ones of the picture.
        const std::uint64_t clipped = (std::uint64_t{1} << colour.outOfGamut) - 1;
        return bytes + EncodeWorkerClipped(0, 8, &clipped) + EncodeWorkerDone(colour);
    };
    // 70 bytes of two-byte characters: cut to 64 on a character's boundary.
    const QByteArray longName = QString(35, QChar(0xE9)).toUtf8();
    const WorkerColour rows[] = {
        {"Adobe RGB (1998)", true, false, 8},
        {"P3", true, false, 0},
        {longName, true, false, 3},
        {"Rec. 2020 PQ", true, true, 1},
        {"Adobe RGB (1998)", false, false, 0},  // stored values: named, not converted
        {{}, false, false, 0},
        {{}, true, false, 2},  // a profile without a description
    };
    for (const WorkerColour& colour : rows) {
        SCOPED_TRACE(colour.space.toStdString());
        const QByteArray bytes = stream(colour);
        WorkerMessageReader reader;
        std::vector<WorkerEvent> events;
        ASSERT_TRUE(reader.Feed(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()), events));
        ASSERT_TRUE(reader.finished());
        EXPECT_EQ(events.back().outOfGamut, colour.outOfGamut);
        EXPECT_EQ(events.back().colourConverted, colour.converted);
        EXPECT_EQ(events.back().hdrToneMapped, colour.toneMapped);
        EXPECT_EQ(reader.colourSpace(), colour.space.size() <= 64 ? colour.space : longName.left(64));
    }
}

// The conversion under the worker's confinement, on its threads; a call the filter
// refuses would end the worker and be named in its log (switched on by tests/main.cpp).
TEST(WorkerColour, TaggedBarsConvertInTheConfinedWorker) {
    QStringList log;
    static QStringList* lines = nullptr;
    lines = &log;
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& line) {
        if (std::string_view(context.category) == "vistrel.decoder") lines->append(line);
    });
    QTemporaryDir dir;
    for (const Space& s : {kWideSpaces[0], kWideSpaces[3]}) {
        SCOPED_TRACE(s.name);
        const Profile profile = colour::StandardProfile(s.space);
        const QImage bars = Bars(BarsIn(profile));
        const QString jpeg = Write(dir, "bars.jpg", JpegWithProfile(RgbJpeg(bars), profile, 60000));
        ExpectBarsOnTarget(DecodeInWorker(jpeg, 0), s.name, profile);
        const QString png = Write(dir, "bars.png", PngWithProfile(Encoded(bars, "png"), profile));
        ExpectBarsOnTarget(DecodeInWorker(png, 0), s.name, profile);
        const DecodeResult stored = DecodeInWorker(png, 0, nullptr, ColourHandling::StoredValues);
        ASSERT_TRUE(stored);
        EXPECT_TRUE(SamePixels(stored.surface->image(), bars));
        EXPECT_EQ(stored.colourSpace, QString::fromLatin1(s.name));
        EXPECT_FALSE(stored.colourConverted);
    }
    qInstallMessageHandler(previous);
    EXPECT_FALSE(log.join('\n').contains("stopped by the system-call filter")) << log.join('\n').toStdString();
}

}  // namespace
