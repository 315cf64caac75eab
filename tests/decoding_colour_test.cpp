#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <lcms2.h>
#include <zlib.h>

#include "decoding/ColourConvert.h"
#include "decoding/ColourTags.h"
#include "decoding/Decode.h"
#include "decoding/WorkerClient.h"
#include "decoding/WorkerMessages.h"
#include "kernels/simd.h"

using namespace vistrel;
using colour::StandardSpace;

namespace {

using Profile = std::vector<unsigned char>;

struct Space {
    StandardSpace space;
    const char* name;
};
constexpr Space kWideSpaces[] = {{StandardSpace::AdobeRgb, "Adobe RGB (1998)"},
                                 {StandardSpace::DisplayP3, "Display P3"},
                                 {StandardSpace::ProPhoto, "ProPhoto RGB"},
                                 {StandardSpace::Rec2020, "Rec. 2020"}};

cmsHPROFILE Open(const Profile& p) { return cmsOpenProfileFromMem(p.data(), cmsUInt32Number(p.size())); }

Profile Save(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    Profile bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// A profile of tables, not of a matrix: Adobe RGB sampled into a 17-point grid to Lab.
Profile TableProfile() {
    cmsHPROFILE adobe = Open(colour::StandardProfile(StandardSpace::AdobeRgb));
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(adobe, TYPE_RGB_16, lab, TYPE_Lab_16, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsHPROFILE out = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(out, 4.3);
    cmsSetDeviceClass(out, cmsSigInputClass);
    cmsSetColorSpace(out, cmsSigRgbData);
    cmsSetPCS(out, cmsSigLabData);
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 3, 3);
    cmsStage* grid = cmsStageAllocCLut16bit(nullptr, 17, 3, 3, nullptr);
    cmsStageSampleCLut16bit(
        grid,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void* transform) -> cmsInt32Number {
            cmsDoTransform(static_cast<cmsHTRANSFORM>(transform), in, out, 1);
            return TRUE;
        },
        toLab, 0);
    // lutAtoBType holds a grid between two sets of curves (here straight ones).
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsPipelineInsertStage(pipeline, cmsAT_END, grid);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(out, cmsSigAToB0Tag, pipeline);
    cmsWriteTag(out, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipelineFree(pipeline);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(adobe);
    cmsCloseProfile(lab);
    return Save(out);
}

// A profile of sRGB's primaries under another tone curve, or another's primaries
// under sRGB's curve and name.
Profile SrgbLookalike(bool primariesOfAdobe) {
    const cmsCIExyY d65{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries =
        primariesOfAdobe ? cmsCIExyYTRIPLE{{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}}
                         : cmsCIExyYTRIPLE{{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    const cmsFloat64Number srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = primariesOfAdobe ? cmsBuildParametricToneCurve(nullptr, 4, srgb) : cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE p = cmsCreateRGBProfile(&d65, &primaries, curves);
    cmsFreeToneCurve(curve);
    return Save(p);
}

// The whole cube, every fourth level and the last.
std::vector<std::uint32_t> CubeSample() {
    std::vector<std::uint32_t> levels;
    for (std::uint32_t v = 0; v < 255; v += 4) levels.push_back(v);
    levels.push_back(255);
    std::vector<std::uint32_t> cube;
    for (const std::uint32_t r : levels)
        for (const std::uint32_t g : levels)
            for (const std::uint32_t b : levels) cube.push_back(0xFF000000u | (r << 16) | (g << 8) | b);
    return cube;
}

int LargestDifference(std::uint32_t a, std::uint32_t b) {
    int largest = 0;
    for (int shift : {0, 8, 16})
        largest = std::max(largest, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
    return largest;
}

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
        ASSERT_EQ(ours[i] >> 24, 0xFFu);
    }
    EXPECT_LE(worst, 1);
    // Pixels within a rounding of the gamut's edge may fall either way.
    EXPECT_NEAR(double(clipped), double(outside), 0.005 * double(cube.size()));
    EXPECT_GT(outside, 0u);
}

// Both builds of the fast path: the vector one where the processor has it, the plain one.
TEST(DecodeColourConversion, MatrixProfilesMatchLcmsOverTheCube) {
    for (const bool wide : {true, false}) {
        korvex::detail::AllowWideVectors(wide);
        for (const Space& s : kWideSpaces) {
            SCOPED_TRACE(s.name + std::string(wide ? ", vector build" : ", plain build"));
            ExpectConversionMatchesLcms(colour::StandardProfile(s.space), true);
        }
    }
    korvex::detail::AllowWideVectors(true);
}

TEST(DecodeColourConversion, TableProfileGoesThroughLcmsGeneralTransform) {
    ExpectConversionMatchesLcms(TableProfile(), false);
}

TEST(DecodeColourConversion, SrgbIsKnownByItsColorantsAndCurvesNotItsName) {
    EXPECT_EQ(colour::Converter::For(colour::StandardProfile(StandardSpace::Srgb)), nullptr);
    EXPECT_NE(colour::Converter::For(SrgbLookalike(false)), nullptr);  // sRGB's primaries, gamma 2.2
    EXPECT_NE(colour::Converter::For(SrgbLookalike(true)), nullptr);   // sRGB's curve, Adobe's primaries
}

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

// EXIF's DCF marker for Adobe RGB: ColorSpace uncalibrated and interoperability "R03".
QByteArray ExifAdobeRgb() {
    const auto le16 = [](std::uint32_t v) {
        const char bytes[2] = {char(v & 0xFF), char(v >> 8)};
        return QByteArray(bytes, 2);
    };
    const auto le32 = [&](std::uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); };
    const auto entry = [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count, const QByteArray& value) {
        return le16(tag) + le16(type) + le32(count) + value;
    };
    QByteArray tiff = QByteArray("II*\0", 4) + le32(8);
    tiff += le16(1) + entry(0x8769, 4, 1, le32(26)) + le32(0);                                   // IFD0 at 8
    tiff += le16(2) + entry(0xA001, 3, 1, le32(0xFFFF)) + entry(0xA005, 4, 1, le32(56)) + le32(0);  // EXIF at 26
    tiff += le16(1) + entry(0x0001, 2, 4, QByteArray("R03", 4)) + le32(0);                       // interop at 56
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    return QByteArray("\xFF\xE1", 2) + BigEndian(std::uint32_t(payload.size() + 2), 2) + payload;
}

TEST(DecodeColour, ExifAdobeRgbMarkerConvertsAJpegWithoutProfile) {
    QTemporaryDir dir;
    const QByteArray jpeg = RgbJpeg(Bars(BarsIn(colour::StandardProfile(StandardSpace::AdobeRgb))));
    const QString file = Write(dir, "exif.jpg", QByteArray(jpeg).insert(2, ExifAdobeRgb()));
    ExpectBarsOnTarget(DecodePicture(file, 0), "Adobe RGB (1998)", colour::StandardProfile(StandardSpace::AdobeRgb));
}

TEST(DecodeColourTags, JpegProfilePartsArePutBackInTheirOrderAndAllMustBeThere) {
    Profile profile(1000);
    for (std::size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<unsigned char>(i * 7);
    const QByteArray base("\xFF\xD8\xFF\xD9", 4);
    const QByteArray inOrder = JpegWithProfile(base, profile, 300);  // four parts
    const auto read = [](const QByteArray& b) {
        return colourtags::JpegIccProfile({reinterpret_cast<const unsigned char*>(b.constData()), std::size_t(b.size())});
    };
    EXPECT_EQ(read(inOrder), profile);
    // Parts 3 and 4 first: each segment is 2 + 2 + 14 + 300 bytes, the last 2 + 2 + 14 + 100.
    const qsizetype whole = 318, last = 118;
    QByteArray shuffled = base;
    shuffled.insert(2, inOrder.mid(2, 2 * whole));
    shuffled.insert(2, inOrder.mid(2 + 2 * whole, whole + last));
    EXPECT_EQ(read(shuffled), profile);
    QByteArray missing = inOrder;
    missing.remove(2 + whole, whole);
    EXPECT_TRUE(read(missing).empty());
}

TEST(WorkerMessages, ColourNameAndClippedCountCrossIntact) {
    // 70 bytes of two-byte characters: cut to 64 on a character's boundary.
    const QByteArray longName = QString(35, QChar(0xE9)).toUtf8();
    for (const QByteArray& name : {QByteArray("Adobe RGB (1998)"), QByteArray("P3"), longName}) {
        QByteArray stream;
        for (const auto& m : {EncodeWorkerMessage(WorkerMessageKind::Size, 4, 2),
                              EncodeWorkerMessage(WorkerMessageKind::Rows, 2)})
            stream.append(reinterpret_cast<const char*>(m.data()), qsizetype(m.size()));
        stream += EncodeWorkerDone(name, 8);
        WorkerMessageReader reader;
        std::vector<WorkerEvent> events;
        ASSERT_TRUE(reader.Feed(reinterpret_cast<const std::uint8_t*>(stream.constData()), std::size_t(stream.size()), events));
        ASSERT_TRUE(reader.finished());
        EXPECT_EQ(events.back().outOfGamut, 8u);
        EXPECT_EQ(reader.colourSpace(), name.size() <= 64 ? name : longName.left(64));
    }
    // More clipped pixels than the picture has is a lie.
    WorkerMessageReader reader;
    std::vector<WorkerEvent> events;
    QByteArray stream;
    for (const auto& m : {EncodeWorkerMessage(WorkerMessageKind::Size, 4, 2), EncodeWorkerMessage(WorkerMessageKind::Rows, 2)})
        stream.append(reinterpret_cast<const char*>(m.data()), qsizetype(m.size()));
    stream += EncodeWorkerDone({}, 9);
    EXPECT_FALSE(reader.Feed(reinterpret_cast<const std::uint8_t*>(stream.constData()), std::size_t(stream.size()), events));
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
