// The streaming TIFF reader: every kind it takes gives Qt's pixels in every way the
// program decodes, rows final when reported, cut files refused; separate planes give what
// the same samples side by side give; the kinds it leaves to Qt still load.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <tiffio.h>

#include "streaming_check.h"
#include "decoding/Readers.h"
#include "colour/ColourConvert.h"
#include "decoding/readers/TiffDecode.h"
#include "decoding/worker/WorkerClient.h"

namespace {

constexpr vistrel::ColorValue kBackground = 0x00336699;

struct Kind {
    const char* name;
    std::uint16_t photometric;
    std::uint16_t bits;
    std::uint16_t samples;
    int extra;  // the extra sample's meaning, or -1 for no ExtraSamples tag
    std::uint16_t compression;
    int width, height;
    std::uint32_t rowsPerStrip;  // 0: one strip for the whole picture
    std::uint32_t tile;          // a tile side, or 0 for strips
    bool streams;                // the reader takes it (otherwise Qt's does)
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    std::uint16_t predictor = PREDICTOR_NONE;
    bool adobeRgb = false;  // an Adobe RGB profile embedded, so that the colours are converted
};

// A sample of every value: ramps, a fine texture, and alphas of 0 and 255 among the rest.
std::uint32_t Sample(int x, int y, int c, int samples, int bits, int width, int height) {
    const std::uint32_t top = (1u << bits) - 1;
    const std::uint32_t hash = (std::uint32_t(x) * 2654435761u) ^ (std::uint32_t(y) * 40503u) ^ (std::uint32_t(c) * 97u);
    const bool alpha = (samples == 4 && c == 3) || (samples == 2 && c == 1);
    if (alpha) {
        const std::uint32_t pick = (hash >> 7) % 8;
        return pick == 0 ? 0 : pick == 1 ? top : (hash * 31u) & top;
    }
    const std::uint64_t ramp = c == 0 ? std::uint64_t(x) * top / width : c == 1 ? std::uint64_t(y) * top / height
                                                                         : std::uint64_t(x + y) * top / (width + height);
    return std::uint32_t((ramp + ((hash >> 3) & (top >> 3))) & top);
}

QByteArray WriteTiff(const Kind& k, const QString& path) {
    TIFF* tiff = TIFFOpen(path.toLocal8Bit().constData(), "w");
    EXPECT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, std::uint32_t(k.width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, std::uint32_t(k.height));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, k.bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, k.samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, k.photometric);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, k.compression);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, k.planar);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, k.orientation);
    if (k.compression == COMPRESSION_JPEG) {
        TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, 90);
        if (k.photometric == PHOTOMETRIC_YCBCR) TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (k.extra >= 0) {
        const std::uint16_t extra = std::uint16_t(k.extra);
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (k.predictor != PREDICTOR_NONE) TIFFSetField(tiff, TIFFTAG_PREDICTOR, k.predictor);
    if (k.adobeRgb) {
        const std::vector<unsigned char> profile = vistrel::colour::StandardProfile(vistrel::colour::StandardSpace::AdobeRgb);
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, std::uint32_t(profile.size()), profile.data());
    }
    std::vector<std::uint16_t> map(3 * 256);
    if (k.photometric == PHOTOMETRIC_PALETTE) {
        for (int i = 0; i < 256; ++i) {
            map[i] = std::uint16_t(i * 257);
            map[256 + i] = std::uint16_t((255 - i) * 256 + (i & 0xFF));
            map[512 + i] = std::uint16_t((i * 37 % 256) * 257 + 128);
        }
        TIFFSetField(tiff, TIFFTAG_COLORMAP, map.data(), map.data() + 256, map.data() + 512);
    }
    const int planes = k.planar == PLANARCONFIG_SEPARATE ? k.samples : 1;
    const int perPixel = k.planar == PLANARCONFIG_SEPARATE ? 1 : k.samples;
    const std::size_t rowBytes = (std::size_t(k.width) * perPixel * k.bits + 7) / 8;
    const auto fillRow = [&](int y, int plane, unsigned char* row) {
        std::fill(row, row + rowBytes, 0);
        for (int x = 0; x < k.width; ++x)
            for (int s = 0; s < perPixel; ++s) {
                const int c = planes > 1 ? plane : s;
                const std::uint32_t v = Sample(x, y, c, k.samples, k.bits, k.width, k.height);
                const std::size_t at = std::size_t(x) * perPixel + s;
                if (k.bits == 16) reinterpret_cast<std::uint16_t*>(row)[at] = std::uint16_t(v);
                else if (k.bits == 8) row[at] = static_cast<unsigned char>(v);
                else if (v) row[at / 8] |= static_cast<unsigned char>(0x80 >> (at % 8));
            }
    };
    std::vector<unsigned char> row(rowBytes);
    if (k.tile != 0) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, k.tile);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, k.tile);
        std::vector<unsigned char> tile(static_cast<std::size_t>(TIFFTileSize(tiff)));
        const std::size_t tileRow = std::size_t(k.tile) * perPixel * k.bits / 8;
        for (int plane = 0; plane < planes; ++plane)
            for (std::uint32_t ty = 0; ty < std::uint32_t(k.height); ty += k.tile)
                for (std::uint32_t tx = 0; tx < std::uint32_t(k.width); tx += k.tile) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (std::uint32_t i = 0; i < k.tile && ty + i < std::uint32_t(k.height); ++i) {
                        fillRow(int(ty + i), plane, row.data());
                        const std::size_t from = std::size_t(tx) * perPixel * k.bits / 8;
                        std::memcpy(tile.data() + i * tileRow, row.data() + from, std::min(tileRow, rowBytes - from));
                    }
                    EXPECT_GE(TIFFWriteTile(tiff, tile.data(), tx, ty, 0, std::uint16_t(plane)), 0);
                }
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, k.rowsPerStrip ? k.rowsPerStrip : std::uint32_t(k.height));
        for (int plane = 0; plane < planes; ++plane)
            for (int y = 0; y < k.height; ++y) {
                fillRow(y, plane, row.data());
                EXPECT_GE(TIFFWriteScanline(tiff, row.data(), std::uint32_t(y), std::uint16_t(plane)), 0);
            }
    }
    TIFFClose(tiff);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

TEST(TiffReader, EveryKindGivesQtsPixelsAsItStreamsAndCutFilesFail) {
    constexpr std::uint16_t kRgb = PHOTOMETRIC_RGB, kBlack = PHOTOMETRIC_MINISBLACK;
    constexpr std::uint16_t kNone = COMPRESSION_NONE, kLzw = COMPRESSION_LZW, kZip = COMPRESSION_ADOBE_DEFLATE,
                            kPack = COMPRESSION_PACKBITS;
    constexpr int kAssoc = EXTRASAMPLE_ASSOCALPHA, kUnassoc = EXTRASAMPLE_UNASSALPHA, kUnspecified = EXTRASAMPLE_UNSPECIFIED;
    const Kind kinds[] = {
        {"rgb8 lzw strips", kRgb, 8, 3, -1, kLzw, 61, 37, 5, 0, true},
        {"rgb8 one strip", kRgb, 8, 3, -1, kNone, 61, 37, 0, 0, true},
        {"rgb8 packbits tiles", kRgb, 8, 3, -1, kPack, 61, 37, 0, 16, true},
        {"rgba8 unspecified", kRgb, 8, 4, kUnspecified, kZip, 61, 37, 8, 0, true},
        {"rgba8 associated", kRgb, 8, 4, kAssoc, kLzw, 61, 37, 8, 0, true},
        {"rgba8 unassociated", kRgb, 8, 4, kUnassoc, kNone, 61, 37, 8, 0, true},
        {"rgba8 unassociated tiles", kRgb, 8, 4, kUnassoc, kZip, 70, 50, 0, 32, true},
        {"grey8", kBlack, 8, 1, -1, kLzw, 61, 37, 4, 0, true},
        {"grey8 white at zero", PHOTOMETRIC_MINISWHITE, 8, 1, -1, kPack, 61, 37, 4, 0, true},
        {"grey16", kBlack, 16, 1, -1, kZip, 61, 37, 4, 0, true},
        {"palette8", PHOTOMETRIC_PALETTE, 8, 1, -1, kLzw, 61, 37, 4, 0, true},
        {"palette8 tiles", PHOTOMETRIC_PALETTE, 8, 1, -1, kNone, 61, 37, 0, 16, true},
        {"rgb16", kRgb, 16, 3, -1, kLzw, 61, 37, 3, 0, true},
        {"rgba16 unassociated", kRgb, 16, 4, kUnassoc, kZip, 61, 37, 3, 0, true},
        {"rgba16 associated", kRgb, 16, 4, kAssoc, kZip, 61, 37, 3, 0, true},
        {"rgba16 unspecified tiles", kRgb, 16, 4, kUnspecified, kNone, 61, 37, 0, 16, true},
        // Large enough for Qt's conversions to go threaded, in a single strip and in tiles.
        {"big rgb8 lzw", kRgb, 8, 3, -1, kLzw, 2000, 1500, 0, 0, true},
        {"big rgba8 unassociated", kRgb, 8, 4, kUnassoc, kZip, 2000, 1500, 16, 0, true},
        {"big grey16", kBlack, 16, 1, -1, kZip, 2000, 1500, 0, 0, true},
        {"big rgba16 associated tiles", kRgb, 16, 4, kAssoc, kZip, 2000, 1500, 0, 256, true},
        {"big rgb16", kRgb, 16, 3, -1, kLzw, 2000, 1500, 64, 0, true},
        // Composed by libtiff's RGBA reader, as Qt's reader has them composed.
        {"cmyk", PHOTOMETRIC_SEPARATED, 8, 4, -1, kLzw, 61, 37, 8, 0, true},
        {"cmyk tiles", PHOTOMETRIC_SEPARATED, 8, 4, -1, kZip, 61, 37, 0, 16, true},
        {"big cmyk", PHOTOMETRIC_SEPARATED, 8, 4, -1, kZip, 2000, 1500, 8, 0, true},
        {"separate planes", kRgb, 8, 3, -1, kNone, 61, 37, 8, 0, true, PLANARCONFIG_SEPARATE},
        {"separate planes and alpha", kRgb, 8, 4, kUnassoc, kLzw, 61, 37, 8, 0, true, PLANARCONFIG_SEPARATE},
        {"bilevel", kBlack, 1, 1, -1, kPack, 61, 37, 8, 0, true},
        {"palette4", PHOTOMETRIC_PALETTE, 4, 1, -1, kLzw, 61, 37, 8, 0, true},
        {"grey8 and alpha", kBlack, 8, 2, kUnassoc, kZip, 61, 37, 8, 0, true},
        {"grey16 and alpha", kBlack, 16, 2, kAssoc, kLzw, 61, 37, 8, 0, true},
        {"rgb8 four samples, no extra tag", kRgb, 8, 4, -1, kZip, 40, 30, 7, 0, true},
        {"jpeg ycbcr", PHOTOMETRIC_YCBCR, 8, 3, -1, COMPRESSION_JPEG, 61, 37, 16, 0, true},
        {"jpeg rgb tiles", kRgb, 8, 3, -1, COMPRESSION_JPEG, 61, 37, 0, 16, true},
        // Decoded whole as stored, then turned.
        {"upside down", kRgb, 8, 3, -1, kNone, 61, 37, 8, 0, true, PLANARCONFIG_CONTIG, ORIENTATION_BOTLEFT},
        {"cmyk on its side", PHOTOMETRIC_SEPARATED, 8, 4, -1, kLzw, 61, 37, 8, 0, true, PLANARCONFIG_CONTIG, ORIENTATION_RIGHTTOP},
        // Left to Qt's reader.
        {"rgb8 one compressed strip, composed", kRgb, 8, 4, -1, kZip, 2000, 1500, 0, 0, false},
    };
    QTemporaryDir dir;
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.name);
        const QByteArray bytes = WriteTiff(k, dir.filePath("made.tif"));
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
        EXPECT_EQ(vistrel::DecodeTiff({{data, std::size_t(bytes.size())}, kBackground}).has_value(), k.streams);
        streaming_check::ExpectSameAsQt(bytes, kBackground, dir, k.width > 1000, k.streams);
    }
}

// Separate planes, which Qt's reader gets wrong at 16 bits and refuses in 16-bit tiles, are
// read raw: each file gives every way the program decodes it what its twin with the same
// samples side by side gives (which the table above holds to Qt's pixels), 16-bit samples
// converted from a profile at their full precision too; 16-bit RGB lands exactly on the
// nearest level of each sample. Cut files fail.
TEST(TiffReader, SeparatePlanesGiveWhatTheSameSamplesSideBySideGive) {
    constexpr std::uint16_t kRgb = PHOTOMETRIC_RGB, kSeparate = PLANARCONFIG_SEPARATE;
    constexpr std::uint16_t kNone = COMPRESSION_NONE, kLzw = COMPRESSION_LZW, kZip = COMPRESSION_ADOBE_DEFLATE,
                            kPack = COMPRESSION_PACKBITS;
    constexpr int kAssoc = EXTRASAMPLE_ASSOCALPHA, kUnassoc = EXTRASAMPLE_UNASSALPHA, kUnspecified = EXTRASAMPLE_UNSPECIFIED;
    const Kind kinds[] = {
        {"rgb16 deflate one strip, predictor", kRgb, 16, 3, -1, kZip, 301, 203, 0, 0, true, kSeparate, ORIENTATION_TOPLEFT,
         PREDICTOR_HORIZONTAL},
        {"rgb16 tiles", kRgb, 16, 3, -1, kNone, 301, 203, 0, 32, true, kSeparate},
        {"rgb16 lzw strips", kRgb, 16, 3, -1, kLzw, 61, 37, 5, 0, true, kSeparate},
        {"rgb16 packbits tiles", kRgb, 16, 3, -1, kPack, 61, 37, 0, 16, true, kSeparate},
        {"rgba16 unassociated deflate tiles", kRgb, 16, 4, kUnassoc, kZip, 70, 50, 0, 16, true, kSeparate},
        {"rgba16 associated packbits strips", kRgb, 16, 4, kAssoc, kPack, 61, 37, 4, 0, true, kSeparate},
        {"rgba16 unspecified lzw strips", kRgb, 16, 4, kUnspecified, kLzw, 61, 37, 7, 0, true, kSeparate},
        {"cmyk16", PHOTOMETRIC_SEPARATED, 16, 4, -1, kZip, 61, 37, 8, 0, true, kSeparate},
        {"rgb8 tiles", kRgb, 8, 3, -1, kLzw, 61, 37, 0, 16, true, kSeparate},
        {"rgba8 unassociated one strip", kRgb, 8, 4, kUnassoc, kZip, 61, 37, 0, 0, true, kSeparate},
        {"rgb16 adobe rgb strips", kRgb, 16, 3, -1, kZip, 61, 37, 9, 0, true, kSeparate, ORIENTATION_TOPLEFT,
         PREDICTOR_NONE, true},
        {"rgba16 adobe rgb tiles", kRgb, 16, 4, kUnassoc, kNone, 61, 37, 0, 16, true, kSeparate, ORIENTATION_TOPLEFT,
         PREDICTOR_NONE, true},
        // Large enough to stream in many bands, each plane one compressed strip, and in the worker.
        {"big rgb16 deflate one strip", kRgb, 16, 3, -1, kZip, 2000, 1500, 0, 0, true, kSeparate, ORIENTATION_TOPLEFT,
         PREDICTOR_HORIZONTAL},
        {"big rgba16 adobe rgb tiles", kRgb, 16, 4, kUnassoc, kLzw, 2000, 1500, 0, 256, true, kSeparate,
         ORIENTATION_TOPLEFT, PREDICTOR_NONE, true},
    };
    QTemporaryDir dir;
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.name);
        Kind side = k;
        side.planar = PLANARCONFIG_CONTIG;
        const vistrel::DecodeResult twin =
            vistrel::DecodePictureBytes({WriteTiff(side, dir.filePath("twin.tif")), std::nullopt}, kBackground);
        ASSERT_TRUE(twin);
        const QImage& expected = twin.surface->image();
        if (k.bits == 16 && k.samples == 3 && k.photometric == kRgb && !k.adobeRgb) {
            int wrong = 0;
            for (int y = 0; y < k.height; ++y)
                for (int x = 0; x < k.width; ++x) {
                    const QRgb got = expected.pixel(x, y);
                    const int levels[3] = {qRed(got), qGreen(got), qBlue(got)};
                    for (int c = 0; c < 3; ++c)
                        wrong += levels[c] != int(std::nearbyint(Sample(x, y, c, 3, 16, k.width, k.height) * 255.0 / 65535));
                }
            EXPECT_EQ(wrong, 0);
        }
        const QByteArray bytes = WriteTiff(k, dir.filePath("separate.tif"));
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
        EXPECT_TRUE(vistrel::DecodeTiff({{data, std::size_t(bytes.size())}, kBackground}).has_value());
        streaming_check::ExpectDecodesTo(bytes, expected, kBackground, dir, k.width > 1000 || k.adobeRgb);
    }
}

// 16-bit CMYK, which libtiff's RGBA reader (and so Qt's) refuses, is composed as libtiff
// composes 8-bit CMYK: each ink takes its share of the light that black leaves, to the
// nearest 16-bit level, then the nearest 8-bit one. Every pixel exactly that, counted
// the slow way, in process and in the worker; a file cut short fails.
TEST(TiffReader, SixteenBitCmykIsComposedAsEightBitCmykIs) {
    QTemporaryDir dir;
    for (const Kind& k : {Kind{"cmyk16", PHOTOMETRIC_SEPARATED, 16, 4, -1, COMPRESSION_LZW, 61, 37, 5, 0, true},
                          Kind{"cmyk16 tiles", PHOTOMETRIC_SEPARATED, 16, 4, -1, COMPRESSION_NONE, 70, 50, 0, 16, true},
                          Kind{"big cmyk16", PHOTOMETRIC_SEPARATED, 16, 4, -1, COMPRESSION_ADOBE_DEFLATE, 2000, 1500, 16, 0, true}}) {
        SCOPED_TRACE(k.name);
        const QString path = dir.filePath("cmyk16.tif");
        const QByteArray bytes = WriteTiff(k, path);
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
        const std::optional<vistrel::DecodeResult> decoded = vistrel::DecodeTiff({{data, std::size_t(bytes.size())}, kBackground});
        ASSERT_TRUE(decoded && *decoded);
        const vistrel::DecodeResult inWorker = vistrel::DecodeInWorker(path, kBackground);
        ASSERT_TRUE(inWorker);
        int worst = 0;
        for (int y = 0; y < k.height; ++y)
            for (int x = 0; x < k.width; ++x) {
                const double black = 65535.0 - Sample(x, y, 3, 4, 16, k.width, k.height);
                const QRgb got = decoded->surface->image().pixel(x, y);
                ASSERT_EQ(got, inWorker.surface->image().pixel(x, y));
                const int levels[3] = {qRed(got), qGreen(got), qBlue(got)};
                for (int c = 0; c < 3; ++c) {
                    const double light = std::nearbyint((65535.0 - Sample(x, y, c, 4, 16, k.width, k.height)) * black / 65535);
                    worst = std::max(worst, int(std::abs(levels[c] - std::nearbyint(light / 257))));
                }
            }
        EXPECT_EQ(worst, 0);
        const std::optional<vistrel::DecodeResult> cut =
            vistrel::DecodeTiff({{data, std::size_t(bytes.size()) * 2 / 3}, kBackground});
        EXPECT_TRUE(!cut || !*cut);
    }
}

}  // namespace
