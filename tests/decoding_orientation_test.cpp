// Every format that records how its picture is turned comes out upright: JPEG and WebP by
// EXIF, PNG by its eXIf chunk, TIFF by its tag, JPEG XL by its header and HEIF by its
// transforms, each in all eight orientations, against the picture as stored turned by the
// table of EXIF's orientations written here.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "decoding/readers/Orientation.h"
#include "decoding/worker/WorkerClient.h"
#include "heif_pictures.h"
#include "streaming_check.h"

namespace {

using vistrel::DecodeResult;

constexpr vistrel::ColorValue kBackground = 0x00336699;
constexpr int kWidth = 64, kHeight = 48;

// Where EXIF's orientations 1..8 put the stored picture's first row and first column.
enum class Edge { Top, Bottom, Left, Right };
constexpr std::pair<Edge, Edge> kFirstRowAndColumn[9] = {
    {},
    {Edge::Top, Edge::Left},  {Edge::Top, Edge::Right},   {Edge::Bottom, Edge::Right}, {Edge::Bottom, Edge::Left},
    {Edge::Left, Edge::Top},  {Edge::Right, Edge::Top},   {Edge::Right, Edge::Bottom}, {Edge::Left, Edge::Bottom},
};

// The stored picture as it is seen when turned upright.
QImage Turned(const QImage& stored, int orientation) {
    const auto [row, column] = kFirstRowAndColumn[orientation];
    const bool rowsStayRows = row == Edge::Top || row == Edge::Bottom;
    const int w = stored.width(), h = stored.height();
    QImage upright(rowsStayRows ? w : h, rowsStayRows ? h : w, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int across = rowsStayRows ? (column == Edge::Left ? x : w - 1 - x) : (row == Edge::Left ? y : h - 1 - y);
            const int down = rowsStayRows ? (row == Edge::Top ? y : h - 1 - y) : (column == Edge::Top ? x : w - 1 - x);
            upright.setPixel(across, down, stored.pixel(x, y));
        }
    return upright;
}

// No two pixels alike, at 16 bits a channel.
QImage Source() {
    QImage image(kWidth, kHeight, QImage::Format_RGBX64);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const auto v = [&](int k) { return quint16((x * 1021 + y * 3079) * k % 65536); };
            image.setPixelColor(x, y, QColor::fromRgba64(v(5), v(11), quint16(x * 1024 + y * 21)));
        }
    return image;
}

// A TIFF header and one directory holding the orientation.
QByteArray ExifBlock(int orientation, bool little) {
    const auto put16 = [little](QByteArray& b, unsigned v) {
        const char hi = char(v >> 8), lo = char(v & 0xFF);
        b.append(little ? lo : hi);
        b.append(little ? hi : lo);
    };
    const auto put32 = [&](QByteArray& b, std::uint32_t v) {
        put16(b, little ? v & 0xFFFF : v >> 16);
        put16(b, little ? v >> 16 : v & 0xFFFF);
    };
    QByteArray block(little ? "II" : "MM");
    put16(block, 42);
    put32(block, 8);  // the first directory
    put16(block, 1);  // one entry: the orientation, one short
    put16(block, 0x0112);
    put16(block, 3);
    put32(block, 1);
    put16(block, unsigned(orientation));
    put16(block, 0);
    put32(block, 0);  // no next directory
    return block;
}

QByteArray Written(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(90);
    EXPECT_TRUE(writer.write(image));
    return bytes;
}

QByteArray Jpeg(const QImage& source, int orientation) {
    const QByteArray plain = Written(source.convertToFormat(QImage::Format_RGB32), "jpeg");
    const QByteArray payload = QByteArray("Exif\0\0", 6) + ExifBlock(orientation, orientation % 2 == 0);
    const auto length = unsigned(payload.size() + 2);
    return plain.left(2) + "\xFF\xE1" + char(length >> 8) + char(length & 0xFF) + payload + plain.mid(2);
}

void AppendBytes(png_structp png, png_bytep data, png_size_t length) {
    static_cast<QByteArray*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), qsizetype(length));
}

// RGB at 8 or 16 bits; at 16 with a gAMA chunk of gamma 1.8, which the program converts
// from the samples at their full precision.
QByteArray Png(const QImage& source, int orientation, bool sixteen) {
    QByteArray out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, AppendBytes, nullptr);
    png_set_IHDR(png, info, kWidth, kHeight, sixteen ? 16 : 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (sixteen) png_set_gAMA_fixed(png, info, 55556);
    QByteArray exif = ExifBlock(orientation, orientation % 2 == 1);
    png_set_eXIf_1(png, info, png_uint_32(exif.size()), reinterpret_cast<png_bytep>(exif.data()));
    png_write_info(png, info);
    const QImage samples = source.convertToFormat(sixteen ? QImage::Format_RGBX64 : QImage::Format_RGB888);
    std::vector<png_byte> row(std::size_t(kWidth) * 3 * (sixteen ? 2 : 1));
    for (int y = 0; y < kHeight; ++y) {
        if (sixteen) {
            const auto* pixels = reinterpret_cast<const quint16*>(samples.constScanLine(y));
            for (std::size_t x = 0; x < std::size_t(kWidth); ++x)
                for (std::size_t c = 0; c < 3; ++c) {
                    row[6 * x + 2 * c] = png_byte(pixels[4 * x + c] >> 8);
                    row[6 * x + 2 * c + 1] = png_byte(pixels[4 * x + c] & 0xFF);
                }
        } else {
            std::memcpy(row.data(), samples.constScanLine(y), row.size());
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// Lossless, in an extended file with an EXIF chunk.
QByteArray Webp(const QImage& source, int orientation) {
    const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
    std::uint8_t* encoded = nullptr;
    const std::size_t size = WebPEncodeLosslessRGB(rgb.constBits(), kWidth, kHeight, int(rgb.bytesPerLine()), &encoded);
    const WebPData image{encoded, size};
    WebPMux* mux = WebPMuxCreate(&image, 1);
    const QByteArray exif = ExifBlock(orientation, orientation % 2 == 0);
    const WebPData exifData{reinterpret_cast<const std::uint8_t*>(exif.constData()), std::size_t(exif.size())};
    EXPECT_EQ(WebPMuxSetChunk(mux, "EXIF", &exifData, 1), WEBP_MUX_OK);
    WebPData assembled;
    WebPDataInit(&assembled);
    EXPECT_EQ(WebPMuxAssemble(mux, &assembled), WEBP_MUX_OK);
    const QByteArray bytes(reinterpret_cast<const char*>(assembled.bytes), qsizetype(assembled.size));
    WebPDataClear(&assembled);
    WebPMuxDelete(mux);
    WebPFree(encoded);
    return bytes;
}

// The TIFF kinds our reader takes in different ways: 8-bit samples side by side, 16-bit
// samples in planes of their own (each sample v as v * 257), and 4-bit palette indices,
// which go through libtiff's RGBA reader.
enum class TiffKind { Rgb8, Rgb16Planes, Palette4 };

QByteArray Tiff(const QImage& source, int orientation, TiffKind kind = TiffKind::Rgb8) {
    const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
    QTemporaryDir dir;
    const QString path = dir.filePath("turned.tiff");
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    EXPECT_NE(tiff, nullptr);
    const std::uint16_t samples = kind == TiffKind::Palette4 ? 1 : 3;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, std::uint32_t(kWidth));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, std::uint32_t(kHeight));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, kind == TiffKind::Rgb8 ? 8 : kind == TiffKind::Rgb16Planes ? 16 : 4);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, kind == TiffKind::Palette4 ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, kind == TiffKind::Rgb16Planes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, std::uint32_t(kHeight));
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, std::uint16_t(orientation));
    std::vector<std::uint16_t> map(16);
    for (std::size_t i = 0; i < map.size(); ++i) map[i] = std::uint16_t(i * 17 * 257);
    if (kind == TiffKind::Palette4) TIFFSetField(tiff, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
    const int planes = kind == TiffKind::Rgb16Planes ? 3 : 1;
    for (int plane = 0; plane < planes; ++plane)
        for (int y = 0; y < kHeight; ++y) {
            const uchar* in = rgb.constScanLine(y);
            std::vector<std::uint16_t> row(std::size_t(kWidth) * 3);
            switch (kind) {
                case TiffKind::Rgb8: break;
                case TiffKind::Rgb16Planes:
                    for (int x = 0; x < kWidth; ++x) row[std::size_t(x)] = std::uint16_t(in[3 * x + plane] * 257);
                    in = reinterpret_cast<const uchar*>(row.data());
                    break;
                case TiffKind::Palette4: {
                    auto* packed = reinterpret_cast<uchar*>(row.data());
                    std::fill(packed, packed + kWidth, uchar(0));
                    for (int x = 0; x < kWidth; ++x) packed[x / 2] |= uchar((in[3 * x + 1] >> 4) << (x % 2 == 0 ? 4 : 0));
                    in = packed;
                    break;
                }
            }
            EXPECT_GE(TIFFWriteScanline(tiff, const_cast<uchar*>(in), std::uint32_t(y), std::uint16_t(plane)), 0);
        }
    TIFFClose(tiff);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

heif_pictures::Options Turning(int orientation, bool lossless) {
    heif_pictures::Options options;
    options.orientation = static_cast<heif_orientation>(orientation);
    options.lossless = lossless;
    return options;
}

// Every way the program decodes the file gives `expected`: in process with a receiver
// hearing of every row, into a band sink, and through the worker.
void ExpectEveryWay(const QByteArray& bytes, const QImage& expected) {
    const QImage unchecked;
    streaming_check::Recorder recorder(unchecked);
    const DecodeResult here = vistrel::DecodePictureBytes({bytes, std::nullopt}, kBackground, &recorder);
    ASSERT_TRUE(here) << int(here.error);
    EXPECT_EQ(here.surface->image(), expected);
    EXPECT_EQ(recorder.starts, 1);
    EXPECT_EQ(recorder.reported, expected.height());
    EXPECT_EQ(recorder.drops, 0);
    streaming_check::Gatherer sink;
    const DecodeResult banded = vistrel::DecodePictureBytes({bytes, std::nullopt}, kBackground, nullptr, &sink);
    ASSERT_TRUE(banded);
    // A picture that streams is left with the sink; one decoded whole is returned.
    EXPECT_EQ(banded.surface->isNull() ? sink.picture : banded.surface->image(), expected);
    QTemporaryDir dir;
    QFile file(dir.filePath("picture"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const DecodeResult there = vistrel::DecodeInWorker(file.fileName(), kBackground);
    ASSERT_TRUE(there) << int(there.error);
    EXPECT_EQ(there.surface->image(), expected);
}

TEST(Orientation, EveryFormatTurnsItsPictureUprightInEachOfTheEightOrientations) {
    const QImage source = Source();
    // The source as an 8-bit picture shows it: what every lossless file of it decodes to.
    const QImage source8 = source.convertToFormat(QImage::Format_RGB32);
    struct Format {
        const char* name;
        std::function<QByteArray(int orientation)> write;
        bool lossless;  // the stored picture decodes to source8
    };
    const Format formats[] = {
        {"JPEG", [&](int o) { return Jpeg(source, o); }, false},
        {"PNG", [&](int o) { return Png(source, o, false); }, true},
        // Its colours converted from all 16 bits, turned or not.
        {"PNG, 16 bits, gamma 1.8", [&](int o) { return Png(source, o, true); }, false},
        {"WebP", [&](int o) { return Webp(source, o); }, true},
        {"TIFF", [&](int o) { return Tiff(source, o); }, true},
        {"TIFF, 16 bits in separate planes", [&](int o) { return Tiff(source, o, TiffKind::Rgb16Planes); }, true},
        {"TIFF, 4-bit palette", [&](int o) { return Tiff(source, o, TiffKind::Palette4); }, false},
        {"JPEG XL", [&](int o) { return heif_pictures::EncodeJxl(source, Turning(o, true)); }, true},
        {"AVIF", [&](int o) { return heif_pictures::EncodeHeif(source, heif_pictures::Codec::Av1, Turning(o, true)); }, true},
        {"HEIC", [&](int o) { return heif_pictures::EncodeHeif(source, heif_pictures::Codec::Hevc, Turning(o, false)); }, false},
    };
    for (const Format& format : formats) {
        SCOPED_TRACE(format.name);
        // The picture as stored, from the file that says it is upright.
        const DecodeResult stored = vistrel::DecodePictureBytes({format.write(1), std::nullopt}, kBackground);
        ASSERT_TRUE(stored) << int(stored.error);
        if (format.lossless) {
            EXPECT_EQ(stored.surface->image(), source8);
        }
        if (format.name == std::string("PNG, 16 bits, gamma 1.8")) {
            EXPECT_TRUE(stored.colourConverted);
        }
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(testing::Message() << "orientation " << orientation);
            const QImage expected = Turned(stored.surface->image(), orientation);
            ASSERT_EQ(expected.size(), orientation >= 5 ? QSize(kHeight, kWidth) : QSize(kWidth, kHeight));
            ExpectEveryWay(format.write(orientation), expected);
        }
    }
}

// The one parser of EXIF's orientation, in JPEG's APP1 payload and bare as PNG and WebP
// keep it: either byte order, and nothing read from a block cut short.
TEST(Orientation, ExifBlocksAreReadWhateverTheirFramingAndNeverPastTheirEnd) {
    for (const bool little : {true, false})
        for (const bool signature : {true, false}) {
            const QByteArray block = (signature ? QByteArray("Exif\0\0", 6) : QByteArray()) + ExifBlock(6, little);
            for (qsizetype cut = 0; cut <= block.size(); ++cut) {
                // Each length in a buffer of its own, so that a read past it is caught.
                const std::vector<unsigned char> part(block.begin(), block.begin() + cut);
                // Only the next directory's offset follows the orientation's entry.
                EXPECT_EQ(vistrel::ExifOrientation(part.data(), part.size()), cut >= block.size() - 4 ? 6 : 1) << cut;
            }
        }
}

}  // namespace
