// HEIC, AVIF and JPEG XL: the pixels each decodes to (against the source exactly when
// lossless), their colour tags and cut files, in process, into a band sink and through
// the confined worker (their orientations are in decoding_orientation_test.cpp).

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>

#include "colour/ColourConvert.h"
#include "decoding/Readers.h"
#include "decoding/readers/RowOutput.h"
#include "decoding/worker/WorkerClient.h"
#include "formats/FileHeaders.h"
#include "heif_pictures.h"
#include "streaming_check.h"

namespace {

using heif_pictures::Codec;
using heif_pictures::EncodeHeif;
using heif_pictures::EncodeJxl;
using heif_pictures::Options;
using vistrel::DecodeError;
using vistrel::DecodeResult;

constexpr vistrel::ColorValue kBackground = 0x00336699;

DecodeResult Decode(const QByteArray& bytes, vistrel::ColourHandling colour = vistrel::ColourHandling::ConvertToSrgb) {
    return vistrel::DecodePictureBytes({bytes, std::nullopt}, kBackground, nullptr, nullptr, colour);
}
QByteArray Avif(const QImage& image, const Options& o) { return EncodeHeif(image, Codec::Av1, o); }
QByteArray Heic(const QImage& image, const Options& o) { return EncodeHeif(image, Codec::Hevc, o); }

// No two neighbours alike in any channel, alpha from clear to opaque.
QImage Pattern(int width, int height, bool alpha) {
    QImage image(width, height, QImage::Format_RGBA64);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto v = [&](int k) { return quint16(((x * 37 + y * 91) * k + k * 7919) % 65536); };
            image.setPixelColor(x, y, QColor::fromRgba64(v(3), v(5), v(11), alpha ? v(13) : 0xFFFF));
        }
    return image;
}

// What a lossless file of the source decodes to: its samples as the encoders store them
// at `bits`, to the nearest 8-bit level, over the background.
QImage Expected(const QImage& source, int bits, bool alpha = true) {
    Options o;
    o.bits = bits;
    o.alpha = true;
    const std::vector<unsigned char> samples = heif_pictures::Samples(source, o, false);
    const unsigned top = (1u << bits) - 1;
    QImage out(source.size(), QImage::Format_ARGB32);
    for (int i = 0; i < source.width() * source.height(); ++i) {
        int level[4];
        for (int c = 0; c < 4; ++c) {
            const unsigned v = bits == 8 ? samples[std::size_t(4 * i + c)] : samples[std::size_t(8 * i + 2 * c)] | samples[std::size_t(8 * i + 2 * c + 1)] << 8;
            level[c] = int((v * 255 + top / 2) / top);
        }
        out.setPixel(i % source.width(), i / source.width(), qRgba(level[0], level[1], level[2], alpha ? level[3] : 255));
    }
    vistrel::ToOpaqueRgb32(out, kBackground);
    return out;
}

// The largest difference of any channel of any pixel.
int Distance(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return 256;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

// The file decodes to `expected` in process (the receiver hearing of every row), into a
// band sink and through the worker, and fails as a cut file does when cut to half or
// short of its last byte.
void ExpectDecodesTo(const QByteArray& bytes, const QImage& expected, int tolerance) {
    ASSERT_FALSE(bytes.isEmpty());
    const QImage unchecked;  // the recorders keep a reference to it
    streaming_check::Recorder recorder(unchecked);
    const DecodeResult here = vistrel::DecodePictureBytes({bytes, std::nullopt}, kBackground, &recorder);
    ASSERT_TRUE(here) << int(here.error);
    EXPECT_LE(Distance(here.surface->image(), expected), tolerance);
    EXPECT_EQ(recorder.reported, expected.height());
    EXPECT_EQ(recorder.drops, 0);
    streaming_check::Gatherer sink;
    ASSERT_TRUE(vistrel::DecodePictureBytes({bytes, std::nullopt}, kBackground, nullptr, &sink));
    EXPECT_EQ(sink.picture, here.surface->image());
    QTemporaryDir dir;
    QFile file(dir.filePath("picture"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const DecodeResult there = vistrel::DecodeInWorker(file.fileName(), kBackground);
    ASSERT_TRUE(there) << int(there.error);
    EXPECT_EQ(there.surface->image(), here.surface->image());
    for (const qsizetype cut : {bytes.size() / 2, bytes.size() - 1}) {
        streaming_check::Recorder shortRecorder(unchecked);
        const DecodeResult cutShort = vistrel::DecodePictureBytes({bytes.left(cut), std::nullopt}, kBackground, &shortRecorder);
        EXPECT_EQ(cutShort.error, DecodeError::Unreadable) << "cut to " << cut;
        EXPECT_FALSE(cutShort) << "cut to " << cut;
        EXPECT_EQ(shortRecorder.starts, shortRecorder.drops);
    }
}

TEST(HeifReaders, LosslessFilesDecodeToTheirSourceExactlyAtEveryDepth) {
    // aom's lossless 4:4:4 asserts beyond 8 bits in this libheif: AVIF is tried at 8.
    for (const int bits : {8, 10, 12})
        for (const bool alpha : {false, true}) {
            SCOPED_TRACE(testing::Message() << bits << " bits, alpha " << alpha);
            const QImage source = Pattern(61, 37, alpha);
            Options options;
            options.bits = bits;
            options.alpha = alpha;
            ExpectDecodesTo(EncodeJxl(source, options), Expected(source, bits, alpha), 0);
            if (bits == 8) ExpectDecodesTo(Avif(source, options), Expected(source, bits, alpha), 0);
        }
}

TEST(HeifReaders, LossyFilesOfEveryKindDecodeCloseToTheirSource) {
    // A smooth picture, as photographs are, above the sizes where the decoders use threads.
    QImage source(2000, 1500, QImage::Format_RGB32);
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x) source.setPixel(x, y, qRgb(x * 255 / 1999, y * 255 / 1499, 128));
    // Far below what a swapped channel, a lost row or a wrong depth gives.
    constexpr int kLossyTolerance = 24;
    Options options;
    options.lossless = false;
    for (const auto encode : {Heic, Avif, +[](const QImage& i, const Options& o) { return EncodeJxl(i, o); }})
        ExpectDecodesTo(encode(source, options), source, kLossyTolerance);
    // Ten bits a sample, the depth of HDR and wide-gamut phone pictures (HEVC's stands for
    // AV1's, which aom asserts on through this libheif).
    options.bits = 10;
    ExpectDecodesTo(Heic(source, options), source, kLossyTolerance);
}

// 75 % bars converted from sRGB into another space with lcms2 and stored at 10 bits land
// within two levels of the sRGB bars, tagged by code points or by a profile. At 8 bits a
// wider space holds too little near black for that (a level of Rec. 2020's red there is
// several of sRGB's): such files land as near as their levels allow.
TEST(HeifReaders, BarsTaggedInWideSpacesLandOnTheSrgbBars) {
    constexpr int kBar = 16;
    const QRgb bars[] = {0xBFBFBF, 0xBFBF00, 0x00BFBF, 0x00BF00, 0xBF00BF, 0xBF0000, 0x0000BF};
    QImage srgb(kBar * 7, kBar, QImage::Format_RGB32);
    for (int x = 0; x < srgb.width(); ++x)
        for (int y = 0; y < kBar; ++y) srgb.setPixel(x, y, bars[x / kBar]);
    for (const auto& [space, cicp, name] :
         {std::tuple{vistrel::colour::StandardSpace::DisplayP3, std::pair{12, 13}, "Display P3"},
          std::tuple{vistrel::colour::StandardSpace::Rec2020, std::pair{9, 1}, "Rec. 2020"}}) {
        const std::vector<unsigned char> to = vistrel::colour::StandardProfile(space);
        cmsHPROFILE from = cmsCreate_sRGBProfile();
        cmsHPROFILE into = cmsOpenProfileFromMem(to.data(), cmsUInt32Number(to.size()));
        cmsHTRANSFORM transform = cmsCreateTransform(from, TYPE_RGB_DBL, into, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
        // Ten-bit levels in the top bits of sixteen-bit samples, as the encoders take them.
        QImage tagged(srgb.size(), QImage::Format_RGBA64);
        for (int y = 0; y < tagged.height(); ++y)
            for (int x = 0; x < tagged.width(); ++x) {
                double rgb[3] = {qRed(srgb.pixel(x, y)) / 255.0, qGreen(srgb.pixel(x, y)) / 255.0, qBlue(srgb.pixel(x, y)) / 255.0};
                cmsDoTransform(transform, rgb, rgb, 1);
                const auto level = [](double v) { return quint16(int(std::nearbyint(std::clamp(v, 0.0, 1.0) * 1023)) << 6); };
                tagged.setPixelColor(x, y, QColor::fromRgba64(level(rgb[0]), level(rgb[1]), level(rgb[2])));
            }
        cmsDeleteTransform(transform);
        cmsCloseProfile(from);
        cmsCloseProfile(into);
        for (const bool byProfile : {false, true}) {
            Options lossless;
            lossless.bits = 10;
            if (byProfile) lossless.profile = to;
            else lossless.cicp = cicp;
            Options lossy = lossless;
            lossy.lossless = false;
            lossy.quality = 100;
            for (const QByteArray& bytes : {EncodeJxl(tagged, lossless), Heic(tagged, lossy)}) {
                SCOPED_TRACE(testing::Message() << name << (byProfile ? " by profile " : " by code points ") << bytes.mid(4, 8).constData());
                const DecodeResult decoded = Decode(bytes);
                ASSERT_TRUE(decoded);
                EXPECT_TRUE(decoded.colourConverted);
                EXPECT_EQ(decoded.outOfGamut, 0u);
                EXPECT_TRUE(decoded.colourSpace.startsWith(QLatin1String(name))) << decoded.colourSpace.toStdString();
                EXPECT_LE(Distance(decoded.surface->image(), srgb), 2);
                const DecodeResult stored = Decode(bytes, vistrel::ColourHandling::StoredValues);
                ASSERT_TRUE(stored);
                EXPECT_FALSE(stored.colourConverted);
                EXPECT_LE(Distance(stored.surface->image(), Expected(tagged, 10)), 1);
            }
        }
        Options eight;
        eight.cicp = cicp;
        const DecodeResult avif = Decode(Avif(tagged, eight));
        ASSERT_TRUE(avif);
        EXPECT_TRUE(avif.colourConverted);
        EXPECT_LE(Distance(avif.surface->image(), srgb), 8);
    }
}

// A PQ or HLG picture is rendered as SDR: its reference white (203 cd/m²) a light grey,
// brighter light rolled off towards white (its peak), and the result says it was tone-mapped.
TEST(HeifReaders, HdrPicturesAreToneMappedAndSaySo) {
    const auto pq = [](double nits) {
        constexpr double m1 = 2610.0 / 16384, m2 = 2523.0 / 32, c1 = 3424.0 / 4096, c2 = 2413.0 / 128, c3 = 2392.0 / 128;
        const double y = std::pow(nits / 10000, m1);
        return std::pow((c1 + c2 * y) / (1 + c3 * y), m2);
    };
    // HLG's OETF of the scene light a 1000 cd/m² display shows as `nits` (system gamma 1.2).
    const auto hlg = [](double nits) {
        constexpr double a = 0.17883277, b = 0.28466892, c = 0.55991073;
        const double scene = std::pow(nits / 1000, 1 / 1.2);
        return scene <= 1.0 / 12 ? std::sqrt(3 * scene) : a * std::log(12 * scene - b) + c;
    };
    constexpr int kBlock = 16;  // flat blocks, which even a lossy coder keeps close
    for (const auto& [transfer, peakNits] : {std::pair{16, 10000.0}, std::pair{18, 1000.0}}) {
        SCOPED_TRACE(transfer == 16 ? "PQ" : "HLG");
        const double levels[] = {0, 50, 203, 600, peakNits};
        QImage source(kBlock * 5, kBlock, QImage::Format_RGBA64);
        for (int x = 0; x < source.width(); ++x) {
            const double nits = levels[x / kBlock];
            const auto level = quint16(std::nearbyint(65535 * (transfer == 16 ? pq(nits) : hlg(nits))));
            for (int y = 0; y < kBlock; ++y) source.setPixelColor(x, y, QColor::fromRgba64(level, level, level));
        }
        Options options;
        options.bits = 10;
        options.cicp = {9, transfer};
        Options lossy = options;
        lossy.lossless = false;
        lossy.quality = 100;
        for (const QByteArray& bytes : {Heic(source, lossy), EncodeJxl(source, options)}) {
            const DecodeResult decoded = Decode(bytes);
            ASSERT_TRUE(decoded);
            EXPECT_TRUE(decoded.hdrToneMapped);
            EXPECT_TRUE(decoded.colourConverted);
            // The worker's report says the same, field by field.
            QTemporaryDir dir;
            QFile file(dir.filePath("hdr"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
            file.close();
            const DecodeResult worker = vistrel::DecodeInWorker(file.fileName(), kBackground);
            ASSERT_TRUE(worker);
            EXPECT_EQ(worker.surface->image(), decoded.surface->image());
            EXPECT_EQ(std::tuple(worker.colourSpace, worker.colourConverted, worker.hdrToneMapped, worker.outOfGamut),
                      std::tuple(decoded.colourSpace, decoded.colourConverted, decoded.hdrToneMapped, decoded.outOfGamut));
            const auto grey = [&](int block) { return qGreen(decoded.surface->image().pixel(block * kBlock + kBlock / 2, kBlock / 2)); };
            for (int block = 1; block < 5; ++block) EXPECT_GT(grey(block), grey(block - 1)) << block;
            EXPECT_NEAR(grey(2), 243, 2);  // 0.9 of white, sRGB-encoded
            EXPECT_GE(grey(4), 254);
        }
    }
}

TEST(HeifReaders, HeadersClaimThePictureSizeAndCutFilesAreSeen) {
    const auto span = [](const QByteArray& b) { return vistrel::headers::Bytes(reinterpret_cast<const uchar*>(b.constData()), std::size_t(b.size())); };
    Options turned;
    turned.orientation = heif_orientation_rotate_90_cw;
    const QByteArray avif = Avif(Pattern(61, 37, false), turned);
    const vistrel::headers::ClaimedSize heif = vistrel::headers::HeifClaims(span(avif)).largest;
    EXPECT_EQ(heif.width * heif.height, 61 * 37);
    const vistrel::headers::ClaimedSize jxl = vistrel::headers::JxlClaims(span(EncodeJxl(Pattern(61, 37, false), turned))).size;
    EXPECT_EQ(std::pair(jxl.width, jxl.height), std::pair(std::int64_t{61}, std::int64_t{37}));
    EXPECT_TRUE(vistrel::headers::BoxesRunToTheEnd(span(avif)));
    EXPECT_FALSE(vistrel::headers::BoxesRunToTheEnd(span(avif.left(avif.size() - 1))));
    // Sides of 32 bits, whose areas overflow a signed product: the larger is still found.
    const auto box = [](const char* type, const QByteArray& payload) {
        const auto n = quint32(payload.size() + 8);
        const char size[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
        return QByteArray(size, 4) + QByteArray(type, 4) + payload;
    };
    const auto ispe = [&](const char* sides) { return box("ispe", QByteArray(4, '\0') + QByteArray(sides, 8)); };
    const QByteArray huge = box("ftyp", QByteArray("heic\0\0\0\0mif1", 12)) +
                            box("meta", QByteArray(4, '\0') + box("iprp", box("ipco", ispe("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF") +
                                                                                      ispe("\x80\0\0\0\xFF\xFF\xFF\xFF"))));
    const vistrel::headers::ClaimedSize largest = vistrel::headers::HeifClaims(span(huge)).largest;
    EXPECT_EQ(std::pair(largest.width, largest.height), std::pair(std::int64_t{0xFFFFFFFF}, std::int64_t{0xFFFFFFFF}));
    EXPECT_TRUE(vistrel::headers::BoxesRunToTheEnd(span(huge)));
}

// A JPEG XL header claiming a picture too large fails as too large in the worker too,
// whose limits (set for the largest picture before the claim is read) only come down.
TEST(HeifReaders, AClaimTooLargeFailsAlikeInTheWorker) {
    for (const std::uint64_t side : {std::uint64_t{40000}, std::uint64_t{32768}}) {
        // Not small (1 bit), height and width each as 30 bits (selector 3) less one, ratio 0.
        const std::uint64_t bits = 0 | 3u << 1 | (side - 1) << 3 | std::uint64_t{0} << 33 | std::uint64_t{3} << 36 | (side - 1) << 38;
        QByteArray bytes("\xFF\x0A", 2);
        for (int i = 0; i < 8; ++i) bytes.append(char(bits >> (8 * i)));
        bytes.append(64, '\0');
        const auto claimed = vistrel::headers::JxlClaims({reinterpret_cast<const uchar*>(bytes.constData()), std::size_t(bytes.size())}).size;
        EXPECT_EQ(std::pair(claimed.width, claimed.height), std::pair(std::int64_t(side), std::int64_t(side)));
        QTemporaryDir dir;
        QFile file(dir.filePath("claim.jxl"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        EXPECT_EQ(vistrel::DecodeInWorker(file.fileName(), kBackground).error, Decode(bytes).error) << side;
    }
}

}  // namespace
