#pragma once
// The pictures the decode and load benchmarks share, written once per machine:
// photograph-like pictures of smooth gradients with mild texture, JPEGs at quality 90,
// and the 24-megapixel JPEG's pixels again as a PNG and a 24-bit BMP. The same
// 24-megapixel picture is also kept as an LZW TIFF (8-bit RGB, libtiff's default
// strips), uncompressed, and a lossy WebP at quality 90, in /tmp too.
// The 24-megapixel one (6000 x 4000) lives in /tmp; the gigapixel one (32768 x 32768,
// written row by row so that it never needs its 4 GiB in memory) in the folder the
// benchmarks run in (build-bench/ under `make bench`).
//
// Those smooth pictures decode far faster than a camera's file. The photograph
// (NoisyJpeg24MP and its copies) is what users open: smooth colour fields with sensor-like
// noise of sigma 6 levels in each channel, a JPEG at quality 92 (some 6 MB), and its
// decoded pixels again as a PNG, a BMP, TIFFs (LZW and uncompressed) and a lossy WebP.
// It is drawn from a fixed hash, so every machine writes the same file.

#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <vector>

#include <jpeglib.h>
#include <tiffio.h>

#include "colour/ColourConvert.h"
#include "dng_pictures.h"

namespace bench {

inline unsigned Photo(int x, int y, int width, int height, int channel) {
    const int texture = ((x * 31 + y * 17) % 23) - 11;
    switch (channel) {
        case 0: return static_cast<unsigned>(std::clamp(static_cast<int>(std::int64_t{x} * 255 / width) + texture, 0, 255));
        case 1: return static_cast<unsigned>(std::clamp(static_cast<int>(std::int64_t{y} * 255 / height) + texture, 0, 255));
        default:
            return static_cast<unsigned>(
                std::clamp(static_cast<int>((std::int64_t{x} + y) * 255 / (width + height)) - texture, 0, 255));
    }
}

inline const QString& Jpeg24MP() {
    static const QString path = [] {
        constexpr int kWidth = 6000;
        constexpr int kHeight = 4000;
        const QString file = "/tmp/vistrel_bench_24mp.jpg";
        if (QFile::exists(file)) return file;
        QImage image(kWidth, kHeight, QImage::Format_RGB32);
        for (int y = 0; y < kHeight; ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < kWidth; ++x)
                row[x] = qRgb(Photo(x, y, kWidth, kHeight, 0), Photo(x, y, kWidth, kHeight, 1),
                              Photo(x, y, kWidth, kHeight, 2));
        }
        QImageWriter writer(file, "jpeg");
        writer.setQuality(90);
        if (!writer.write(image)) qFatal("cannot write %s", qPrintable(file));
        return file;
    }();
    return path;
}

// A JPEG's copy tagged Adobe RGB (1998): its profile in an APP2 segment after the
// start-of-image marker, the pixels as they are.
inline QString TaggedAdobeRgb(const QString& source, const QString& file) {
    if (QFile::exists(file)) return file;
    QFile plain(source);
    if (!plain.open(QIODevice::ReadOnly)) qFatal("cannot read %s", qPrintable(plain.fileName()));
    QByteArray bytes = plain.readAll();
    const std::vector<unsigned char> profile = vistrel::colour::StandardProfile(vistrel::colour::StandardSpace::AdobeRgb);
    const std::size_t length = 2 + 14 + profile.size();
    QByteArray segment("\xFF\xE2", 2);
    segment += char(length >> 8);
    segment += char(length & 0xFF);
    segment += QByteArray("ICC_PROFILE", 12);
    segment += char(1);
    segment += char(1);
    segment += QByteArray(reinterpret_cast<const char*>(profile.data()), qsizetype(profile.size()));
    bytes.insert(2, segment);
    QFile tagged(file);
    if (!tagged.open(QIODevice::WriteOnly) || tagged.write(bytes) != bytes.size()) qFatal("cannot write %s", qPrintable(file));
    return file;
}

// The 24-megapixel JPEG tagged Adobe RGB.
inline const QString& Jpeg24MPAdobeRgb() {
    static const QString path = TaggedAdobeRgb(Jpeg24MP(), "/tmp/vistrel_bench_24mp_adobergb.jpg");
    return path;
}

// A gigapixel JPEG written row by row from Photo, or from a smooth gradient without
// texture (which decodes far faster, so that whatever the load adds shows).
inline QString WriteJpeg1Gpx(const QString& file, bool smooth) {
    constexpr int kSide = 32768;
    if (QFile::exists(file)) return file;
    const QString partial = file + ".part";
    std::FILE* out = std::fopen(qPrintable(partial), "wb");
    if (out == nullptr) qFatal("cannot write %s", qPrintable(partial));
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out);
    info.image_width = kSide;
    info.image_height = kSide;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(std::size_t{kSide} * 3);
    while (info.next_scanline < info.image_height) {
        const int y = static_cast<int>(info.next_scanline);
        for (int x = 0; x < kSide; ++x)
            for (int c = 0; c < 3; ++c)
                row[std::size_t(x) * 3 + c] = static_cast<unsigned char>(
                    smooth ? (c == 0 ? x / 128 : c == 1 ? y / 128 : (x + y) / 256) + (x * 31 + y * 17) % 3
                           : Photo(x, y, kSide, kSide, c));
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&info, &pointer, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(out);
    QFile::rename(partial, file);
    return file;
}

// The 24-megapixel picture of Jpeg24MP() as decoded, written once in another format.
inline QString Photo24MPAs(const char* format) {
    const QString file = QString("/tmp/vistrel_bench_24mp.%1").arg(format);
    if (QFile::exists(file)) return file;
    const QImage image(Jpeg24MP());
    const QString partial = file + ".part";
    QImageWriter writer(partial, format);
    if (!writer.write(image.convertToFormat(QImage::Format_RGB32))) qFatal("cannot write %s", qPrintable(partial));
    QFile::rename(partial, file);
    return file;
}

// A 24-megapixel camera raw file (6000 x 4000 photosites, 14 bits, RGGB) as the tests
// write them: an uncompressed DNG of a photograph-like scene, its top rows clipped.
inline const QString& Dng24MP() {
    static const QString path = [] {
        const QString file = "/tmp/vistrel_bench_24mp.dng";
        if (QFile::exists(file)) return file;
        dng_pictures::Description dng;
        dng.width = 6000;
        dng.height = 4000;
        const std::string error = dng_pictures::WriteDng(file.toStdString(), dng, dng_pictures::Scene(dng));
        if (!error.empty()) qFatal("cannot write %s: %s", qPrintable(file), error.c_str());
        return file;
    }();
    return path;
}

inline const QString& Png24MP() {
    static const QString path = Photo24MPAs("png");
    return path;
}

inline const QString& Bmp24MP() {
    static const QString path = Photo24MPAs("bmp");
    return path;
}

// The 24-megapixel photograph as an image.
inline QImage Photo24MP() {
    constexpr int kWidth = 6000;
    constexpr int kHeight = 4000;
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x)
            row[x] = qRgb(Photo(x, y, kWidth, kHeight, 0), Photo(x, y, kWidth, kHeight, 1), Photo(x, y, kWidth, kHeight, 2));
    }
    return image;
}

// An 8-bit RGB picture (QImage::Format_RGB888) as a TIFF in libtiff's default strips.
inline void WriteRgbTiff(const QString& partial, const QImage& image, std::uint16_t compression) {
    TIFF* tiff = TIFFOpen(qPrintable(partial), "w");
    if (tiff == nullptr) qFatal("cannot write %s", qPrintable(partial));
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, std::uint32_t(image.width()));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, std::uint32_t(image.height()));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    for (int y = 0; y < image.height(); ++y)
        if (TIFFWriteScanline(tiff, const_cast<uchar*>(image.constScanLine(y)), std::uint32_t(y), 0) < 0)
            qFatal("cannot write %s", qPrintable(partial));
    TIFFClose(tiff);
}

// The 24-megapixel smooth picture as an 8-bit RGB TIFF.
inline QString WriteTiff24MP(const QString& file, std::uint16_t compression) {
    if (QFile::exists(file)) return file;
    const QString partial = file + ".part";
    WriteRgbTiff(partial, Photo24MP().convertToFormat(QImage::Format_RGB888), compression);
    QFile::rename(partial, file);
    return file;
}

inline const QString& Tiff24MP() {
    static const QString path = WriteTiff24MP("/tmp/vistrel_bench_24mp.tif", COMPRESSION_LZW);
    return path;
}

inline const QString& TiffUncompressed24MP() {
    static const QString path = WriteTiff24MP("/tmp/vistrel_bench_24mp_uncompressed.tif", COMPRESSION_NONE);
    return path;
}

// A picture of a few pixels, whose load costs next to nothing.
inline const QString& TinyPng() {
    static const QString path = [] {
        const QString file = "/tmp/vistrel_bench_tiny.png";
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(0x336699);
        if (!image.save(file, "png")) qFatal("cannot write %s", qPrintable(file));
        return file;
    }();
    return path;
}

inline const QString& Webp24MP() {
    static const QString path = [] {
        const QString file = "/tmp/vistrel_bench_24mp.webp";
        if (QFile::exists(file)) return file;
        QImageWriter writer(file, "webp");
        writer.setQuality(90);
        if (!writer.write(Photo24MP())) qFatal("cannot write %s", qPrintable(file));
        return file;
    }();
    return path;
}

inline const QString& Jpeg1Gpx() {
    static const QString path = WriteJpeg1Gpx("vistrel_bench_1gpx.jpg", false);
    return path;
}

inline const QString& Jpeg1GpxSmooth() {
    static const QString path = WriteJpeg1Gpx("vistrel_bench_1gpx_smooth.jpg", true);
    return path;
}

// Sensor noise of a camera at a middle sensitivity: sigma in levels of 8 bits.
constexpr double kNoiseSigmaLevels = 6.0;
// Quality of the photograph's JPEG: what cameras write at their finest setting.
constexpr int kNoisyJpegQuality = 92;

// A standard normal value for a pixel's channel, the same on every machine: two uniform
// values from a 64-bit mix of the position (splitmix64's finaliser), then Box-Muller.
inline double NoiseAt(int x, int y, int channel) {
    std::uint64_t z = (std::uint64_t(std::uint32_t(y)) << 34) ^ (std::uint64_t(std::uint32_t(x)) << 2) ^ std::uint64_t(channel);
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    // 26 bits each, the first kept off zero for the logarithm.
    const double u1 = (double((z >> 38) & 0x3FFFFFFu) + 0.5) / double(1u << 26);
    const double u2 = double((z >> 12) & 0x3FFFFFFu) / double(1u << 26);
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

// The photograph's smooth fields at (x, y) in [0, 1)^2, a level of 0..255 per channel:
// a sky-like gradient over broad warm and cool patches, none of it repeating.
inline double NoisyField(double x, double y, int channel) {
    constexpr double kTau = 2.0 * std::numbers::pi;
    const double patches = std::sin(kTau * (1.3 * x + 0.21)) * std::cos(kTau * (0.9 * y - 0.13)) +
                           0.5 * std::sin(kTau * (2.7 * x * y + 0.4 * y + 0.05));
    switch (channel) {
        case 0: return 120.0 + 70.0 * patches + 40.0 * y;
        case 1: return 110.0 + 45.0 * patches * std::cos(kTau * 0.7 * x) + 30.0 * (1.0 - y);
        default: return 140.0 - 55.0 * patches + 50.0 * (1.0 - y) * (1.0 - y) - 30.0 * x;
    }
}

inline QImage NoisyPhoto(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            int level[3];
            for (int c = 0; c < 3; ++c) {
                const double value = NoisyField(double(x) / width, double(y) / height, c) +
                                     kNoiseSigmaLevels * NoiseAt(x, y, c);
                level[c] = std::clamp(int(std::nearbyint(value)), 0, 255);
            }
            row[x] = qRgb(level[0], level[1], level[2]);
        }
    }
    return image;
}

inline const QString& NoisyJpeg24MP() {
    static const QString path = [] {
        const QString file = "/tmp/vistrel_bench_noisy_24mp.jpg";
        if (QFile::exists(file)) return file;
        const QString partial = file + ".part";
        QImageWriter writer(partial, "jpeg");
        writer.setQuality(kNoisyJpegQuality);
        if (!writer.write(NoisyPhoto(6000, 4000))) qFatal("cannot write %s", qPrintable(partial));
        QFile::rename(partial, file);
        return file;
    }();
    return path;
}

// The photograph tagged Adobe RGB: what a tagged load costs on a camera's picture.
inline const QString& NoisyJpeg24MPAdobeRgb() {
    static const QString path = TaggedAdobeRgb(NoisyJpeg24MP(), "/tmp/vistrel_bench_noisy_24mp_adobergb.jpg");
    return path;
}

// The photograph's decoded pixels written once in another format (name: file's ending).
inline QString NoisyPhoto24MPAs(const char* name, const char* format, int quality, std::uint16_t tiffCompression) {
    const QString file = QString("/tmp/vistrel_bench_noisy_24mp%1").arg(name);
    if (QFile::exists(file)) return file;
    const QImage image = QImage(NoisyJpeg24MP()).convertToFormat(QImage::Format_RGB32);
    const QString partial = file + ".part";
    if (QByteArray(format) == "tiff") {
        WriteRgbTiff(partial, image.convertToFormat(QImage::Format_RGB888), tiffCompression);
    } else {
        QImageWriter writer(partial, format);
        if (quality >= 0) writer.setQuality(quality);
        if (!writer.write(image)) qFatal("cannot write %s", qPrintable(partial));
    }
    QFile::rename(partial, file);
    return file;
}

inline const QString& NoisyPng24MP() {
    static const QString path = NoisyPhoto24MPAs(".png", "png", -1, 0);
    return path;
}
inline const QString& NoisyBmp24MP() {
    static const QString path = NoisyPhoto24MPAs(".bmp", "bmp", -1, 0);
    return path;
}
inline const QString& NoisyTiff24MP() {
    static const QString path = NoisyPhoto24MPAs("_lzw.tif", "tiff", -1, COMPRESSION_LZW);
    return path;
}
inline const QString& NoisyTiffUncompressed24MP() {
    static const QString path = NoisyPhoto24MPAs("_uncompressed.tif", "tiff", -1, COMPRESSION_NONE);
    return path;
}
inline const QString& NoisyWebp24MP() {
    static const QString path = NoisyPhoto24MPAs(".webp", "webp", 90, 0);
    return path;
}

}  // namespace bench
