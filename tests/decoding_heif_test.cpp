// HEIC, AVIF and JPEG XL: the pixels each decodes to (against the source exactly when
// lossless), their orientation, colour tags and cut files, in process, into a band sink
// and through the confined worker.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "decoding/ColourConvert.h"
#include "decoding/Decode.h"
#include "decoding/FileHeaders.h"
#include "decoding/WorkerClient.h"
#include "heif_pictures.h"
#include "streaming_check.h"

#include <lcms2.h>

namespace {

using heif_pictures::Codec;
using heif_pictures::EncodeHeif;
using heif_pictures::EncodeJxl;
using heif_pictures::Options;
using vistrel::DecodeError;
using vistrel::DecodeResult;

constexpr vistrel::ColorValue kBackground = 0x00336699;

// Every level of each channel somewhere, no two neighbours alike, alpha from clear to opaque.
QImage Pattern(int width, int height, bool alpha) {
    QImage image(width, height, QImage::Format_RGBA64);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto v = [&](int k) { return static_cast<quint16>(((x * 37 + y * 91) * k + k * 7919) % 65536); };
            image.setPixelColor(x, y, QColor::fromRgba64(v(3), v(5), v(11), alpha ? v(13) : 0xFFFF));
        }
    return image;
}

// What a lossless file of this source must decode to: the samples at `bits`, to the
// nearest 8-bit level, over the background.
QImage Expected(const QImage& source, int bits) {
    QImage wide = source.convertToFormat(QImage::Format_RGBA64);
    QImage out(source.size(), QImage::Format_ARGB32);
    const unsigned top = (1u << bits) - 1;
    for (int y = 0; y < source.height(); ++y) {
        const auto* in = reinterpret_cast<const quint16*>(wide.constScanLine(y));
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < source.width(); ++x) {
            int level[4];
            for (int c = 0; c < 4; ++c) {
                // Eight bits as Qt narrows them (to the nearest), deeper ones as their top bits.
                const unsigned v = in[4 * x + c];
                const unsigned sample = bits == 8 ? (v + 128 - ((v + 128) >> 8)) >> 8 : v >> (16 - bits);
                level[c] = static_cast<int>((sample * 255 + top / 2) / top);
            }
            row[x] = qRgba(level[0], level[1], level[2], level[3]);
        }
    }
    vistrel::detail::ToOpaqueRgb32(out, kBackground);
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

// The file decodes to `expected` in process, into a band sink and through the worker,
// and fails as a cut file does when cut to half or short of its last byte.
void ExpectDecodesTo(const QByteArray& bytes, const QImage& expected, int tolerance, const QTemporaryDir& dir) {
    ASSERT_FALSE(bytes.isEmpty());
    const QImage unchecked;  // the recorder keeps a reference to it
    streaming_check::Recorder recorder(unchecked);
    const DecodeResult here = vistrel::DecodePictureBytes({bytes, std::nullopt}, kBackground, &recorder);
    ASSERT_TRUE(here) << int(here.error);
    EXPECT_LE(Distance(here.surface->image(), expected), tolerance);
    EXPECT_EQ(recorder.reported, expected.height());
    EXPECT_EQ(recorder.drops, 0);
    streaming_check::Gatherer sink;
    const DecodeResult banded = vistrel::DecodePictureBytes({bytes, std::nullopt}, kBackground, nullptr, &sink);
    ASSERT_TRUE(banded);
    EXPECT_EQ(sink.picture, here.surface->image());
    const QString path = dir.filePath("picture");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    const DecodeResult there = vistrel::DecodeInWorker(path, kBackground);
    ASSERT_TRUE(there) << int(there.error);
    EXPECT_EQ(there.surface->image(), here.surface->image());
    EXPECT_EQ(there.colourSpace, here.colourSpace);
    for (const qsizetype cut : {bytes.size() / 2, bytes.size() - 1}) {
        streaming_check::Recorder shortRecorder(unchecked);
        const DecodeResult cutShort = vistrel::DecodePictureBytes({bytes.left(cut), std::nullopt}, kBackground, &shortRecorder);
        EXPECT_EQ(cutShort.error, DecodeError::Unreadable) << "cut to " << cut;
        EXPECT_FALSE(cutShort) << "cut to " << cut;
        EXPECT_EQ(shortRecorder.starts, shortRecorder.drops);
    }
}

struct Kind {
    const char* name;
    std::function<QByteArray(const QImage&, const Options&)> encode;
    int deepest;  // bits a sample the encoder takes losslessly (aom's 4:4:4 asserts beyond 8 here)
};
const Kind kKinds[] = {
    {"avif", [](const QImage& i, const Options& o) { return EncodeHeif(i, Codec::Av1, o); }, 8},
    {"jxl", [](const QImage& i, const Options& o) { return EncodeJxl(i, o); }, 16},
};

TEST(HeifReaders, LosslessFilesDecodeToTheirSourceExactlyAtEveryDepth) {
    QTemporaryDir dir;
    for (const Kind& kind : kKinds)
        for (const int bits : {8, 10, 12})
            for (const bool alpha : {false, true}) {
                if (bits > kind.deepest) continue;
                SCOPED_TRACE(testing::Message() << kind.name << " " << bits << " bits, alpha " << alpha);
                const QImage source = Pattern(61, 37, alpha);
                Options options;
                options.bits = bits;
                options.alpha = alpha;
                ExpectDecodesTo(kind.encode(source, options), Expected(source, bits), 0, dir);
            }
}

TEST(HeifReaders, LossyFilesOfEveryKindDecodeCloseToTheirSource) {
    QTemporaryDir dir;
    // A smooth picture, as photographs are, above the sizes where the decoders use threads.
    QImage source(2000, 1500, QImage::Format_RGBA64);
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x)
            source.setPixelColor(x, y, QColor(x * 255 / 1999, y * 255 / 1499, 128));
    Options options;
    options.lossless = false;
    // Far below what a swapped channel, a lost row or a wrong depth would give.
    constexpr int kLossyTolerance = 24;
    ExpectDecodesTo(EncodeHeif(source, Codec::Hevc, options), Expected(source, 8), kLossyTolerance, dir);
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        ExpectDecodesTo(kind.encode(source, options), Expected(source, 8), kLossyTolerance, dir);
    }
    // Ten bits a sample, the depth of HDR and wide-gamut phone pictures (aom asserts on
    // ten-bit AVIFs through this libheif, so HEVC's stands for both).
    options.bits = 10;
    ExpectDecodesTo(EncodeHeif(source, Codec::Hevc, options), Expected(source, 8), kLossyTolerance, dir);
}

TEST(HeifReaders, OrientationTurnsThePictureAsTheFileSays) {
    QTemporaryDir dir;
    const QImage source = Pattern(40, 24, false);
    struct Case {
        heif_orientation orientation;
        QTransform turn;
        bool mirror;
    };
    for (const Case& c : {Case{heif_orientation_rotate_90_cw, QTransform().rotate(90), false},
                          Case{heif_orientation_rotate_180, QTransform().rotate(180), false},
                          Case{heif_orientation_flip_horizontally, QTransform(), true},
                          Case{heif_orientation_rotate_90_cw_then_flip_horizontally, QTransform().rotate(90), true}}) {
        QImage upright = Expected(source, 8).transformed(c.turn);
        if (c.mirror) upright = upright.mirrored(true, false);
        Options options;
        options.orientation = c.orientation;
        for (const Kind& kind : kKinds) {
            SCOPED_TRACE(testing::Message() << kind.name << " orientation " << int(c.orientation));
            ExpectDecodesTo(kind.encode(source, options), upright, 0, dir);
        }
    }
}

// 75 % bars converted from sRGB into another space with lcms2 and stored at 10 bits
// land within two levels of the sRGB bars once decoded, tagged by code points or by a
// profile. (At 8 bits a wider space holds too little near black for that: a level of
// Rec. 2020's red there is several of sRGB's; such files land as near as their levels allow.)
TEST(HeifReaders, BarsTaggedInWideSpacesLandOnTheSrgbBars) {
    constexpr int kBar = 16;
    const QRgb bars[] = {qRgb(191, 191, 191), qRgb(191, 191, 0), qRgb(0, 191, 191), qRgb(0, 191, 0),
                         qRgb(191, 0, 191),   qRgb(191, 0, 0),   qRgb(0, 0, 191)};
    QImage srgb(kBar * 7, kBar, QImage::Format_RGB32);
    for (int x = 0; x < srgb.width(); ++x)
        for (int y = 0; y < kBar; ++y) srgb.setPixel(x, y, bars[x / kBar]);
    struct Space {
        vistrel::colour::StandardSpace space;
        std::pair<int, int> cicp;
        const char* name;
    };
    for (const Space& s : {Space{vistrel::colour::StandardSpace::DisplayP3, {12, 13}, "Display P3"},
                           Space{vistrel::colour::StandardSpace::Rec2020, {9, 1}, "Rec. 2020"}}) {
        const std::vector<unsigned char> to = vistrel::colour::StandardProfile(s.space);
        cmsHPROFILE from = cmsCreate_sRGBProfile();
        cmsHPROFILE into = cmsOpenProfileFromMem(to.data(), static_cast<cmsUInt32Number>(to.size()));
        cmsHTRANSFORM transform = cmsCreateTransform(from, TYPE_RGB_DBL, into, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC,
                                                     cmsFLAGS_NOCACHE);
        // Ten-bit levels in the sixteen-bit samples' top bits, as the encoders take them.
        QImage tagged(srgb.size(), QImage::Format_RGBA64);
        for (int y = 0; y < tagged.height(); ++y)
            for (int x = 0; x < tagged.width(); ++x) {
                const QRgb p = srgb.pixel(x, y);
                double rgb[3] = {qRed(p) / 255.0, qGreen(p) / 255.0, qBlue(p) / 255.0};
                cmsDoTransform(transform, rgb, rgb, 1);
                const auto level = [](double v) { return quint16(int(std::nearbyint(std::clamp(v, 0.0, 1.0) * 1023)) << 6); };
                tagged.setPixelColor(x, y, QColor::fromRgba64(level(rgb[0]), level(rgb[1]), level(rgb[2])));
            }
        cmsDeleteTransform(transform);
        cmsCloseProfile(from);
        cmsCloseProfile(into);
        for (const bool byProfile : {false, true}) {
            Options options;
            options.bits = 10;
            if (byProfile) options.profile = to;
            else options.cicp = s.cicp;
            Options lossy = options;
            lossy.lossless = false;
            lossy.quality = 100;
            for (const QByteArray& bytes : {EncodeJxl(tagged, options), EncodeHeif(tagged, Codec::Hevc, lossy)}) {
                SCOPED_TRACE(testing::Message() << s.name << (byProfile ? " by profile " : " by code points ")
                                                << bytes.left(12).toHex().constData());
                const DecodeResult decoded = vistrel::DecodePictureBytes({bytes, std::nullopt}, kBackground);
                ASSERT_TRUE(decoded);
                EXPECT_TRUE(decoded.colourConverted);
                EXPECT_EQ(decoded.outOfGamut, 0u);
                EXPECT_TRUE(decoded.colourSpace.startsWith(QLatin1String(s.name))) << decoded.colourSpace.toStdString();
                EXPECT_LE(Distance(decoded.surface->image(), srgb), 2);
                // Stored values leave the file's numbers as they are.
                const DecodeResult stored = vistrel::DecodePictureBytes({bytes, std::nullopt}, kBackground, nullptr, nullptr,
                                                                        vistrel::ColourHandling::StoredValues);
                ASSERT_TRUE(stored);
                EXPECT_FALSE(stored.colourConverted);
                EXPECT_LE(Distance(stored.surface->image(), Expected(tagged, 10)), 1);
            }
        }
        // Eight bits, tagged in AVIF's colour box: as near as eight bits of the space allow.
        Options eight;
        eight.cicp = s.cicp;
        const DecodeResult avif = vistrel::DecodePictureBytes({EncodeHeif(tagged, Codec::Av1, eight), std::nullopt}, kBackground);
        ASSERT_TRUE(avif);
        EXPECT_TRUE(avif.colourConverted);
        EXPECT_LE(Distance(avif.surface->image(), srgb), 8);
    }
}

// A PQ picture is rendered as SDR: its reference white (203 cd/m²) a light grey below
// white, brighter light rolled off towards white (its peak white), and the result says
// it was tone-mapped.
TEST(HeifReaders, HdrPicturesAreToneMappedAndSaySo) {
    QTemporaryDir dir;
    const auto pq = [](double nits) {
        constexpr double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128, c1 = 3424.0 / 4096, c2 = 2413.0 / 4096 * 32,
                         c3 = 2392.0 / 4096 * 32;
        const double y = std::pow(nits / 10000, m1);
        return static_cast<quint16>(std::nearbyint(65535 * std::pow((c1 + c2 * y) / (1 + c3 * y), m2)));
    };
    // Flat blocks, which even a lossy coder keeps close.
    constexpr int kBlock = 16;
    const double levels[] = {0, 50, 203, 600, 10000};
    QImage source(kBlock * 5, kBlock, QImage::Format_RGBA64);
    for (int x = 0; x < source.width(); ++x)
        for (int y = 0; y < kBlock; ++y) {
            const quint16 v = pq(levels[x / kBlock]);
            source.setPixelColor(x, y, QColor::fromRgba64(v, v, v));
        }
    Options options;
    options.bits = 10;
    options.cicp = {9, 16};
    Options lossy = options;
    lossy.lossless = false;
    lossy.quality = 100;
    for (const QByteArray& bytes : {EncodeHeif(source, Codec::Hevc, lossy), EncodeJxl(source, options)}) {
        const DecodeResult decoded = vistrel::DecodePictureBytes({bytes, std::nullopt}, kBackground);
        ASSERT_TRUE(decoded);
        EXPECT_TRUE(decoded.hdrToneMapped);
        EXPECT_TRUE(vistrel::NamesHdrSignal(decoded.colourSpace));
        const auto grey = [&](int block) { return qGreen(decoded.surface->image().pixel(block * kBlock + kBlock / 2, kBlock / 2)); };
        for (int block = 1; block < 5; ++block) EXPECT_GT(grey(block), grey(block - 1)) << block;
        EXPECT_NEAR(grey(2), 243, 2);  // 0.9 of white, sRGB-encoded
        EXPECT_GE(grey(4), 254);
    }
}

TEST(HeifReaders, HeadersClaimThePictureSizeAndCutFilesAreSeen) {
    const QImage source = Pattern(61, 37, false);
    Options turned;
    turned.orientation = heif_orientation_rotate_90_cw;
    const QByteArray avif = EncodeHeif(source, Codec::Av1, turned);
    const QByteArray jxl = EncodeJxl(source, turned);
    const auto span = [](const QByteArray& b) {
        return vistrel::headers::Bytes(reinterpret_cast<const unsigned char*>(b.constData()), std::size_t(b.size()));
    };
    const vistrel::headers::ClaimedSize heifSize = vistrel::headers::LargestClaimedSize(span(avif));
    EXPECT_EQ(heifSize.width * heifSize.height, 61 * 37);
    const vistrel::headers::ClaimedSize jxlSize = vistrel::headers::ReadClaimedSize(span(jxl));
    EXPECT_EQ(jxlSize.width, 61);
    EXPECT_EQ(jxlSize.height, 37);
    // Sides of 32 bits, whose areas overflow a signed product: the larger is still found.
    const auto box = [](const char* type, const QByteArray& payload) {
        QByteArray size(4, '\0');
        const auto n = static_cast<quint32>(payload.size() + 8);
        for (int i = 0; i < 4; ++i) size[i] = char(n >> (24 - 8 * i));
        return size + QByteArray(type, 4) + payload;
    };
    const auto ispe = [&](const char* sides) { return box("ispe", QByteArray(4, '\0') + QByteArray(sides, 8)); };
    const QByteArray huge = box("ftyp", QByteArray("heic\0\0\0\0mif1", 12)) +
                            box("meta", QByteArray(4, '\0') + box("iprp", box("ipco", ispe("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF") +
                                                                                      ispe("\x80\0\0\0\xFF\xFF\xFF\xFF"))));
    const vistrel::headers::ClaimedSize largest = vistrel::headers::LargestClaimedSize(span(huge));
    EXPECT_EQ(largest.width, 0xFFFFFFFFll);
    EXPECT_EQ(largest.height, 0xFFFFFFFFll);
    EXPECT_TRUE(vistrel::headers::BoxesRunToTheEnd(span(huge)));
    EXPECT_TRUE(vistrel::headers::BoxesRunToTheEnd(span(avif)));
    EXPECT_FALSE(vistrel::headers::BoxesRunToTheEnd(span(avif.left(avif.size() - 1))));
}

}  // namespace
