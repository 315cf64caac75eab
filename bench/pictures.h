#pragma once
// The pictures the decode and load benchmarks share, written once per machine:
// photograph-like pictures of smooth gradients with mild texture, JPEGs at quality 90,
// and the 24-megapixel JPEG's pixels again as a PNG and a 24-bit BMP. The same
// 24-megapixel picture is also kept as an LZW TIFF (8-bit RGB, libtiff's default
// strips), uncompressed, and a lossy WebP at quality 90, in /tmp too.
// The 24-megapixel one (6000 x 4000) lives in /tmp; the gigapixel one (32768 x 32768,
// written row by row so that it never needs its 4 GiB in memory) in the folder the
// benchmarks run in (build-bench/ under `make bench`).

#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QString>

#include <algorithm>
#include <cstdio>
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

// The same 24-megapixel JPEG tagged Adobe RGB (1998): its profile in an APP2 segment
// after the start-of-image marker, the pixels as they are.
inline const QString& Jpeg24MPAdobeRgb() {
    static const QString path = [] {
        const QString file = "/tmp/vistrel_bench_24mp_adobergb.jpg";
        if (QFile::exists(file)) return file;
        QFile plain(Jpeg24MP());
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
    }();
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

// The 24-megapixel photograph as an 8-bit RGB TIFF in libtiff's default strips.
inline QString WriteTiff24MP(const QString& file, std::uint16_t compression) {
    if (QFile::exists(file)) return file;
    const QImage image = Photo24MP().convertToFormat(QImage::Format_RGB888);
    const QString partial = file + ".part";
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

}  // namespace bench
