// The program's own PNG and BMP readers: for every kind of file they take, the same pixels
// as Qt's reader gave, rows final when reported, bands in order into a sink, the same
// through the worker; files cut short fail and leave nothing behind.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <png.h>
#include <sys/mman.h>
#include <unistd.h>

#include "decoding/readers/BmpDecode.h"
#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "decoding/readers/QtDecode.h"
#include "decoding/readers/PngDecode.h"
#include "decoding/worker/WorkerClient.h"
#include "picture_bytes.h"
#include "streaming_check.h"

namespace {

using namespace vistrel;

constexpr ColorValue kBackground = 0x00336699;

using Rows = streaming_check::Recorder;
const QImage kNoPicture;  // for a receiver that checks no pixels

// Collects the bands a decoder hands on, which must come in order and end to end.
class Bands final : public BandSink {
public:
    bool Start(int width, int height) override {
        picture = QImage(width, height, QImage::Format_RGB32);
        return true;
    }
    bool Put(int first, int count, const uchar* rows) override {
        EXPECT_EQ(first, filled);
        EXPECT_LE(first + count, picture.height());
        if (first != filled || first + count > picture.height()) return false;
        std::memcpy(picture.scanLine(first), rows, std::size_t(count) * std::size_t(picture.width()) * 4);
        filled += count;
        ++puts;
        return true;
    }
    QImage picture;
    int filled = 0, puts = 0;
};

std::size_t Differences(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return std::size_t(-1);
    std::size_t count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            count += reinterpret_cast<const Pixel*>(a.constScanLine(y))[x] != reinterpret_cast<const Pixel*>(b.constScanLine(y))[x];
    return count;
}

using Reader = std::function<std::optional<DecodeResult>(const QByteArray&, RowReceiver*, BandSink*)>;

class DecodeStreaming : public ::testing::Test {
protected:
    // Decodes the file every way the program does and compares each with Qt's reader.
    // `ours`: whether the reader under test takes this kind (else it must decline it).
    // `qtBytes`, when given, are what Qt's reader reads instead: the same picture in a kind it reads right.
    void ExpectAsQt(const std::string& name, const QByteArray& bytes, const Reader& read, bool ours = true,
                    const QByteArray& qtBytes = {}) {
        SCOPED_TRACE(name);
        const DecodeResult qt = DecodeWithQtReader(qtBytes.isEmpty() ? bytes : qtBytes, kBackground);
        ASSERT_TRUE(qt) << "Qt's reader does not take the test's file";
        const QImage& expected = qt.surface->image();

        Rows rows(expected);
        const std::optional<DecodeResult> direct = read(bytes, &rows, nullptr);
        ASSERT_EQ(direct.has_value(), ours);
        if (ours) {
            ASSERT_TRUE(*direct);
            EXPECT_EQ(Differences(direct->surface->image(), expected), 0u);
            EXPECT_EQ(rows.starts, 1);
            EXPECT_EQ(rows.reported, expected.height());
            EXPECT_EQ(rows.wrongRows, 0);
            EXPECT_EQ(rows.drops, 0);
            Bands bands;
            const std::optional<DecodeResult> banded = read(bytes, nullptr, &bands);
            ASSERT_TRUE(banded && *banded);
            EXPECT_EQ(bands.filled, expected.height());
            EXPECT_EQ(Differences(bands.picture, expected), 0u);
            if (expected.width() * expected.height() > 1 << 20) {
                EXPECT_GT(bands.puts, 1);  // streamed, not whole
            }
        }
        // Through the program's entry and through the worker, as a load takes it.
        const DecodeResult here = DecodePictureBytes({bytes, std::nullopt}, kBackground);
        ASSERT_TRUE(here);
        EXPECT_EQ(Differences(here.surface->image(), expected), 0u);
        const QString file = dir.filePath(QString::fromStdString(name));
        {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
        Rows worker(kNoPicture);
        const DecodeResult there = DecodeInWorker(file, kBackground, &worker);
        ASSERT_TRUE(there) << "worker error " << int(there.error);
        EXPECT_EQ(Differences(there.surface->image(), expected), 0u);
        EXPECT_EQ(worker.reported, expected.height());
        QFile::remove(file);
    }

    // A file cut short fails everywhere: no picture, and a started receiver is told to let go.
    void ExpectCutFails(const std::string& name, const QByteArray& whole, qsizetype keep, const Reader& read) {
        SCOPED_TRACE(name + " cut to " + std::to_string(keep) + " of " + std::to_string(whole.size()) + " bytes");
        const QByteArray bytes = whole.left(keep);
        Rows rows(kNoPicture);
        const std::optional<DecodeResult> direct = read(bytes, &rows, nullptr);
        if (direct) {
            EXPECT_FALSE(*direct);
            EXPECT_EQ(direct->error, DecodeError::Unreadable);
            EXPECT_EQ(rows.drops, rows.starts);
        }
        const DecodeResult here = DecodePictureBytes({bytes, std::nullopt}, kBackground);
        EXPECT_FALSE(here);
        EXPECT_EQ(here.error, DecodeError::Unreadable);
        const QString file = dir.filePath("cut");
        {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
        Rows worker(kNoPicture);
        const DecodeResult there = DecodeInWorker(file, kBackground, &worker);
        EXPECT_FALSE(there);
        EXPECT_EQ(there.error, DecodeError::Unreadable);
        EXPECT_EQ(worker.drops, worker.starts);
    }

    QTemporaryDir dir;
};

// ---- PNG ---------------------------------------------------------------------

struct PngKind {
    const char* name;
    int colorType;
    int depth;
    bool interlaced = false;
    bool transparentColor = false;  // a tRNS chunk: one colour, or the palette's alphas
    int width = 37;
    int height = 23;
    unsigned paletteEntries = 0;     // fewer than the indices reach; 0: as many
    bool everyLevel = false;         // 16-bit grey, 256 x 256: each of the 65536 levels once
};

int Channels(int colorType) {
    switch (colorType) {
        case PNG_COLOR_TYPE_GRAY: return 1;
        case PNG_COLOR_TYPE_RGB: return 3;
        case PNG_COLOR_TYPE_PALETTE: return 1;
        case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
        default: return 4;
    }
}

void AppendBytes(png_structp png, png_bytep data, png_size_t length) {
    static_cast<QByteArray*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), qsizetype(length));
}

// Random samples at every depth, every seventh pixel the transparent colour when there is one.
// With `alphaForTransparent`, an RGB picture's transparent colour is written as an alpha channel.
// `variant` picks the rows' filter and whether the picture is smooth or noise.
QByteArray WritePng(const PngKind& k, std::mt19937& random, int variant, bool alphaForTransparent = false) {
    QByteArray out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, AppendBytes, nullptr);
    const bool alphaWritten = alphaForTransparent && k.colorType == PNG_COLOR_TYPE_RGB;
    png_set_IHDR(png, info, k.width, k.height, k.depth, alphaWritten ? PNG_COLOR_TYPE_RGB_ALPHA : k.colorType,
                 k.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    const unsigned maxSample = (1u << k.depth) - 1;
    std::vector<png_color> palette;
    std::vector<png_byte> alphas;
    png_color_16 transparent{};
    if (k.colorType == PNG_COLOR_TYPE_PALETTE) {
        const unsigned entries = k.paletteEntries != 0 ? k.paletteEntries : maxSample + 1;
        for (unsigned i = 0; i < entries; ++i) palette.push_back({png_byte(random()), png_byte(random()), png_byte(random())});
        png_set_check_for_invalid_index(png, 0);  // indices past the palette are written as they are
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
        if (k.transparentColor) {
            for (unsigned i = 0; i < (entries + 1) / 2 + 1 && i < entries; ++i) alphas.push_back(png_byte(random()));
            alphas[0] = 0;
            png_set_tRNS(png, info, alphas.data(), int(alphas.size()), nullptr);
        }
    } else if (k.transparentColor) {
        transparent.gray = png_uint_16(random() & maxSample);
        transparent.red = png_uint_16(random() & maxSample);
        transparent.green = png_uint_16(random() & maxSample);
        transparent.blue = png_uint_16(random() & maxSample);
        if (!alphaWritten) png_set_tRNS(png, info, nullptr, 0, &transparent);
    }
    // Every row filter in turn, and smooth pictures as well as noise, so that the filters
    // see the ties and wrap-arounds they must resolve.
    constexpr int kFilters[] = {PNG_ALL_FILTERS, PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH};
    png_set_filter(png, 0, kFilters[variant % 6]);
    const bool smooth = variant % 4 < 2;
    png_write_info(png, info);

    const int channels = Channels(k.colorType);
    const int samples = alphaWritten ? channels + 1 : channels;
    const std::size_t rowBytes = (std::size_t(k.width) * samples * k.depth + 7) / 8;
    std::vector<png_byte> image(rowBytes * std::size_t(k.height), 0);
    std::vector<png_bytep> rows;
    for (int y = 0; y < k.height; ++y) {
        png_bytep row = image.data() + rowBytes * std::size_t(y);
        rows.push_back(row);
        for (int x = 0; x < k.width; ++x) {
            const bool clear = k.transparentColor && (x + y) % 7 == 0;
            const png_uint_16 shown[3] = {transparent.red, transparent.green, transparent.blue};
            bool matches = true;
            for (int c = 0; c < samples; ++c) {
                unsigned v = matches && k.transparentColor ? 0 : maxSample;  // the alpha written out
                if (c < channels && smooth) v = unsigned((x * 5 + y * 3 + c * 50) * (maxSample + 1) / 400 + random() % 3) & maxSample;
                if (c < channels && !smooth) v = random() & maxSample;
                if (k.everyLevel) v = unsigned(y * k.width + x) & maxSample;
                if (clear && k.colorType == PNG_COLOR_TYPE_GRAY) v = transparent.gray;
                if (clear && k.colorType == PNG_COLOR_TYPE_RGB && c < 3) v = shown[c];
                if (c < 3) matches = matches && v == shown[c];
                const std::size_t bit = (std::size_t(x) * samples + c) * k.depth;
                if (k.depth == 16) {
                    row[bit / 8] = png_byte(v >> 8);
                    row[bit / 8 + 1] = png_byte(v);
                } else {
                    row[bit / 8] |= png_byte(v << (8 - k.depth - bit % 8));
                }
            }
        }
    }
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

const Reader kPng = [](const QByteArray& b, RowReceiver* r, BandSink* s) {
    return DecodePng({{reinterpret_cast<const unsigned char*>(b.constData()), std::size_t(b.size())}, kBackground, ColourHandling::ConvertToSrgb, r, s});
};

TEST_F(DecodeStreaming, PngOfEveryKindGivesQtsPixelsAndCutFilesFail) {
    std::mt19937 random(18);
    std::vector<PngKind> kinds;
    for (const bool interlaced : {false, true}) {
        for (const int depth : {1, 2, 4, 8, 16}) {
            kinds.push_back({"grey", PNG_COLOR_TYPE_GRAY, depth, interlaced});
            kinds.push_back({"grey-trns", PNG_COLOR_TYPE_GRAY, depth, interlaced, true});
            if (depth <= 8) {
                kinds.push_back({"palette", PNG_COLOR_TYPE_PALETTE, depth, interlaced});
                kinds.push_back({"palette-trns", PNG_COLOR_TYPE_PALETTE, depth, interlaced, true});
            }
        }
        for (const int depth : {8, 16}) {
            kinds.push_back({"rgb", PNG_COLOR_TYPE_RGB, depth, interlaced});
            kinds.push_back({"rgb-trns", PNG_COLOR_TYPE_RGB, depth, interlaced, true});
            kinds.push_back({"grey-alpha", PNG_COLOR_TYPE_GRAY_ALPHA, depth, interlaced});
            kinds.push_back({"rgba", PNG_COLOR_TYPE_RGB_ALPHA, depth, interlaced});
        }
    }
    // Every 16-bit level narrowed to 8 bits as Qt narrows it, with and without alpha.
    kinds.push_back({"every-level", PNG_COLOR_TYPE_GRAY, 16, false, false, 256, 256, 0, true});
    kinds.push_back({"every-level-alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, false, 256, 256, 0, true});
    // Indices past the palette, in both paths.
    for (const int depth : {4, 8})
        for (const bool transparent : {false, true})
            kinds.push_back({transparent ? "palette-short-trns" : "palette-short", PNG_COLOR_TYPE_PALETTE, depth, false,
                             transparent, 37, 23, 5});
    // Above the size from which Qt's conversions split their rows over threads.
    for (const PngKind& big : std::vector<PngKind>{{"big-rgb", PNG_COLOR_TYPE_RGB, 8},
                                                   {"big-rgba", PNG_COLOR_TYPE_RGB_ALPHA, 8},
                                                   {"big-grey", PNG_COLOR_TYPE_GRAY, 8},
                                                   {"big-grey16", PNG_COLOR_TYPE_GRAY, 16},
                                                   {"big-rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16},
                                                   {"big-palette-trns", PNG_COLOR_TYPE_PALETTE, 8, false, true},
                                                   {"big-interlaced-rgba", PNG_COLOR_TYPE_RGB_ALPHA, 8, true}}) {
        PngKind k = big;
        k.width = 2000;
        k.height = 1500;
        kinds.push_back(k);
    }
    int variant = 0;
    for (const PngKind& k : kinds) {
        ++variant;
        const std::string name = std::string(k.name) + "-" + std::to_string(k.depth) + (k.interlaced ? "-interlaced" : "") +
                                 "-" + std::to_string(k.width) + ".png";
        // Qt's reader takes the rows of 16-bit RGB with a transparent colour for RGBA and
        // reads past them: its pixels are those of the same picture with its alpha written out.
        const bool misreadByQt = k.colorType == PNG_COLOR_TYPE_RGB && k.depth == 16 && k.transparentColor;
        std::mt19937 same = random;
        const QByteArray bytes = WritePng(k, random, variant);
        ExpectAsQt(name, bytes, kPng, true, misreadByQt ? WritePng(k, same, variant, true) : QByteArray());
    }
    // Each row filter on each pixel size our own unfiltering takes (1 to 8 bytes), on a
    // smooth picture, where neighbours tie, and on noise: variants 0 to 11 make every pair.
    for (const PngKind& k : {PngKind{"grey", PNG_COLOR_TYPE_GRAY, 8}, PngKind{"grey-alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 8},
                             PngKind{"rgb", PNG_COLOR_TYPE_RGB, 8}, PngKind{"rgba", PNG_COLOR_TYPE_RGB_ALPHA, 8},
                             PngKind{"rgb", PNG_COLOR_TYPE_RGB, 16}, PngKind{"rgba", PNG_COLOR_TYPE_RGB_ALPHA, 16}})
        for (int filterAndTexture = 0; filterAndTexture < 12; ++filterAndTexture) {
            SCOPED_TRACE(testing::Message() << k.name << "-" << k.depth << " variant " << filterAndTexture);
            const QByteArray bytes = WritePng(k, random, filterAndTexture);
            const std::optional<DecodeResult> ours = kPng(bytes, nullptr, nullptr);
            ASSERT_TRUE(ours && *ours);
            EXPECT_EQ(Differences(ours->surface->image(), DecodeWithQtReader(bytes, kBackground).surface->image()), 0u);
        }

    // Cut anywhere: in the header chunks, in the pixels, before the end chunk.
    for (const PngKind& k : {PngKind{"rgb", PNG_COLOR_TYPE_RGB, 8, false, false, 300, 200},
                             PngKind{"rgba16-interlaced", PNG_COLOR_TYPE_RGB_ALPHA, 16, true, false, 300, 200},
                             PngKind{"palette", PNG_COLOR_TYPE_PALETTE, 4, false, true, 300, 200}}) {
        const QByteArray whole = WritePng(k, random, ++variant);
        for (const qsizetype keep : {qsizetype(20), qsizetype(45), whole.size() / 3, whole.size() / 2, whole.size() - 30,
                                     whole.size() - 12, whole.size() - 1})
            ExpectCutFails(k.name, whole, keep, kPng);
    }
}

// ---- BMP ---------------------------------------------------------------------

using picture_bytes::PutLe16;
using picture_bytes::PutLe32;

struct BmpKind {
    const char* name;
    int bits;
    int width = 37;
    int height = 23;             // negative: stored top-down
    std::uint32_t headerBytes = 40;
    int colors = 0;              // palette entries written (0: none); clrUsed names them
    bool colorsNamed = true;     // clrUsed holds the count (else 0, meaning 1 << bits)
    int gap = 0;                 // bytes between the palette and the rows (negative: offset points inside the palette)
    std::uint32_t compression = 0;
    bool ours = true;
};

QByteArray WriteBmp(const BmpKind& k, std::mt19937& random) {
    const std::size_t rowBytes = (std::size_t(k.width) * k.bits + 31) / 32 * 4;
    const int rows = k.height < 0 ? -k.height : k.height;
    const bool core = k.headerBytes == 12;
    const int entryBytes = core ? 3 : 4;
    const std::uint32_t paletteEnd = 14 + k.headerBytes + std::uint32_t(k.colors * entryBytes);
    const std::uint32_t offBits = std::uint32_t(std::int64_t(paletteEnd) + k.gap);
    QByteArray b("BM");
    PutLe32(b, std::uint32_t(std::max(paletteEnd, offBits) + rowBytes * std::size_t(rows)));
    PutLe32(b, 0);
    PutLe32(b, offBits);
    PutLe32(b, k.headerBytes);
    if (core) {
        PutLe16(b, unsigned(k.width));
        PutLe16(b, unsigned(k.height) & 0xFFFF);
        PutLe16(b, 1);
        PutLe16(b, unsigned(k.bits));
    } else {
        PutLe32(b, std::uint32_t(k.width));
        PutLe32(b, std::uint32_t(k.height));
        PutLe16(b, 1);
        PutLe16(b, unsigned(k.bits));
        PutLe32(b, k.compression);
        PutLe32(b, std::uint32_t(rowBytes * std::size_t(rows)));
        PutLe32(b, 2835);
        PutLe32(b, 2835);
        PutLe32(b, k.colorsNamed ? std::uint32_t(k.colors) : 0);
        PutLe32(b, 0);
        while (std::uint32_t(b.size()) < 14 + k.headerBytes) b.append('\0');  // V4/V5: no masks, no colour space
    }
    for (int i = 0; i < k.colors * entryBytes; ++i) b.append(char(random()));
    if (k.gap > 0) b.append(QByteArray(k.gap, '\x77'));
    for (int y = 0; y < rows; ++y)
        for (std::size_t i = 0; i < rowBytes; ++i) b.append(char(random()));  // the padding too
    return b;
}

const Reader kBmp = [](const QByteArray& b, RowReceiver* r, BandSink* s) {
    return DecodeBmp({{reinterpret_cast<const unsigned char*>(b.constData()), std::size_t(b.size())}, kBackground, ColourHandling::ConvertToSrgb, r, s});
};

TEST_F(DecodeStreaming, BmpOfEveryCommonKindGivesQtsPixelsAndCutFilesFail) {
    std::mt19937 random(18);
    const std::vector<BmpKind> kinds = {
        {"24", 24},
        {"24-top-down", 24, 37, -23},
        {"24-core", 24, 37, 23, 12},
        {"24-v4", 24, 37, 23, 108},
        {"24-v5-gap", 24, 38, 23, 124, 0, true, 10},
        {"32", 32, 37, 23},
        {"32-top-down", 32, 37, -23},
        {"8", 8, 37, 23, 40, 256},
        {"8-short-palette", 8, 37, 23, 40, 100},  // indices past the palette
        {"8-unnamed-palette", 8, 37, 23, 40, 256, false},
        {"8-core", 8, 37, 23, 12, 256},
        {"8-offset-inside-palette", 8, 37, 23, 40, 256, true, -200},
        {"4", 4, 37, 23, 40, 16},
        {"4-short-palette", 4, 35, -23, 40, 9},
        {"1", 1, 37, 23, 40, 2},
        {"1-wide", 1, 77, 5, 40, 2, false},
        {"1-core", 1, 37, 23, 12, 2, false},
        {"big-24", 24, 2000, 1500},
        {"big-8", 8, 2000, -1500, 40, 256},
        {"32-v5", 32, 37, 23, 124, 0, true, 0, 0, false},
        {"1-lone-colour", 1, 37, 23, 40, 1, true, 0, 0, false},
    };
    for (const BmpKind& k : kinds) ExpectAsQt(std::string(k.name) + ".bmp", WriteBmp(k, random), kBmp, k.ours);

    for (const BmpKind& k : {BmpKind{"24", 24, 301, 200}, BmpKind{"8", 8, 301, -200, 40, 256}}) {
        const QByteArray whole = WriteBmp(k, random);
        for (const qsizetype keep : {qsizetype(30), qsizetype(54 + 100), whole.size() / 2, whole.size() - 1})
            ExpectCutFails(k.name, whole, keep, kBmp);
    }
}

// ---- BMP layouts Qt's reader gets wrong: bit fields and run-length codes -------------

// A BMP file around its rows: the info header (with masks inside it when given), what
// follows it (a palette, or masks after a 40-byte header), then the rows.
QByteArray BmpFile(std::uint32_t headerBytes, int width, int height, int bits, std::uint32_t compression,
                   std::uint32_t colorsUsed, const std::vector<std::uint32_t>& headerMasks, const QByteArray& afterHeader,
                   const QByteArray& rows) {
    QByteArray info;
    PutLe32(info, headerBytes);
    PutLe32(info, std::uint32_t(width));
    PutLe32(info, std::uint32_t(height));
    PutLe16(info, 1);
    PutLe16(info, unsigned(bits));
    PutLe32(info, compression);
    PutLe32(info, std::uint32_t(rows.size()));
    PutLe32(info, 2835);
    PutLe32(info, 2835);
    PutLe32(info, colorsUsed);
    PutLe32(info, 0);
    for (const std::uint32_t mask : headerMasks) PutLe32(info, mask);
    info.append(QByteArray(qsizetype(headerBytes) - info.size(), '\0'));
    const auto offBits = std::uint32_t(14 + headerBytes + std::uint32_t(afterHeader.size()));
    QByteArray file("BM");
    PutLe32(file, offBits + std::uint32_t(rows.size()));
    PutLe32(file, 0);
    PutLe32(file, offBits);
    return file + info + afterHeader + rows;
}

// The picture a file must give, as a PNG Qt reads (transparent pixels over the background).
QByteArray AsPng(const QImage& picture) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(picture.save(&buffer, "png"));
    return png;
}

// A field's value as a level, counted apart from the reader: up to 8 bits, the first 8
// bits of v / max written as a binary fraction (repeating the field's bits is that
// fraction's expansion); wider fields to the nearest level.
int FieldLevel(std::uint32_t value, unsigned bits) {
    const double max = std::ldexp(1.0, int(bits)) - 1;
    if (bits > 8) return int(std::nearbyint(value * 255.0 / max));
    return std::min(255, int(std::floor(256.0 * value / max)));
}

struct FieldsKind {
    const char* name;
    int bits;
    std::uint32_t headerBytes;
    std::uint32_t compression;
    std::array<std::uint32_t, 4> masks;  // red, green, blue, alpha, as the pixels use them
    bool masksInHeader = true;           // else (a 40-byte header) after it
    std::vector<std::uint32_t> written = {};  // masks written in the header when they differ (ignored there)
};

// Every field's values 0 and its largest at the first two pixels, the rest random, and
// random bits outside the fields; the picture it must give beside it.
std::pair<QByteArray, QImage> WriteFieldsBmp(const FieldsKind& k, int width, int height, std::mt19937& random) {
    const std::size_t pixelBytes = std::size_t(k.bits) / 8;
    const std::size_t rowBytes = (std::size_t(width) * pixelBytes + 3) / 4 * 4;
    QByteArray rows(qsizetype(rowBytes) * height, '\0');
    QImage expected(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint32_t word = std::uint32_t(random()), values[4] = {};
            for (int c = 0; c < 4; ++c) {
                const std::uint32_t mask = k.masks[std::size_t(c)];
                if (mask == 0) continue;
                const int shift = std::countr_zero(mask);
                const std::uint32_t max = mask >> shift;
                const std::uint32_t v = y == 0 && x == 0 ? 0 : y == 0 && x == 1 ? max : std::uint32_t(random()) & max;
                values[c] = v;
                word = (word & ~mask) | (v << shift);
            }
            const auto level = [&](int c) {
                const std::uint32_t mask = k.masks[std::size_t(c)];
                return mask == 0 ? (c == 3 ? 255 : 0) : FieldLevel(values[c], unsigned(std::popcount(mask)));
            };
            expected.setPixel(x, y, qRgba(level(0), level(1), level(2), level(3)));
            char* at = rows.data() + std::size_t(height - 1 - y) * rowBytes + std::size_t(x) * pixelBytes;
            for (std::size_t i = 0; i < pixelBytes; ++i) at[i] = char(word >> (8 * i));
        }
    QByteArray after;
    std::vector<std::uint32_t> inHeader;
    const std::size_t count = k.compression == 6 ? 4 : 3;
    if (k.compression != 0 && !k.masksInHeader)
        for (std::size_t i = 0; i < count; ++i) PutLe32(after, k.masks[i]);
    if (k.masksInHeader) inHeader.assign(k.masks.begin(), k.masks.end());
    if (!k.written.empty()) inHeader = k.written;
    inHeader.resize(std::min<std::size_t>(inHeader.size(), (k.headerBytes - 40) / 4));
    return {BmpFile(k.headerBytes, width, height, k.bits, k.compression, 0, inHeader, after, rows), expected};
}

// Run-length codes written for a picture of palette indices (-1: no code sets the pixel)
// by a small encoder of its own: runs, alternating runs (4 bits), indices one by one,
// jumps right and up over unset pixels, ends of rows, and an early end of the picture.
struct RleKind {
    const char* name;
    bool four;
    int width, height;
    int colours;              // palette entries; the indices go past them
    bool crossing = false;    // every full row gets a run past its end, then indices one by one past it
    bool allUnset = false;    // the stream is an end of the picture and nothing else
    int jumpedRows = 4;       // whole rows no code sets, jumped over
    bool wideGaps = false;    // gaps of 300 pixels in some rows: jumps of more than 255
    bool topSet = false;      // the top rows set too: the codes end with the last row's end, no picture end
};

int RleIndex(const RleKind& k, int x, int y) {
    if (k.allUnset || (y < 3 && !k.topSet)) return -1;                      // the stream ends early
    if (y >= k.height / 3 && y < k.height / 3 + k.jumpedRows) return -1;    // whole rows jumped
    if (k.wideGaps && x >= 40 && x < 340 && y % 7 == 3) return -1;
    if (x >= 20 && x < 31 && y > 20 && y < 30) return -1;                   // a jump within rows
    if (x >= k.width - 4 && y % 5 == 0) return -1;                          // a row ended early
    const int top = k.four ? 16 : 256;
    if (x < 12) return (y / 4) % top;                                        // runs
    if (x < 26) return k.four ? ((x + y) % 2 != 0 ? 3 : 12) : 7;             // alternating (4 bits) or a run
    return int((std::uint32_t(x) * 2654435761u ^ std::uint32_t(y) * 40503u) >> 7) % top;  // indices one by one
}

QByteArray RleCodes(const RleKind& k) {
    QByteArray codes;
    const auto put = [&](int a, int b) {
        codes.append(char(a));
        codes.append(char(b));
    };
    int cx = 0, cy = 0;  // the cursor, in stored rows (bottom-up)
    const auto moveTo = [&](int x, int y) {
        if (y > cy && !(x == 0 && y == cy + 1) && x < cx) {
            put(0, 0);
            cx = 0;
            ++cy;
        }
        if (x == 0 && y == cy + 1) {
            put(0, 0);
            cx = 0;
            cy = y;
        }
        while (cx < x || cy < y) {
            const int dx = std::min(255, x - cx), dy = std::min(255, y - cy);
            put(0, 2);
            put(dx, dy);
            cx += dx;
            cy += dy;
        }
    };
    const auto literal = [&](const std::vector<int>& indices) {
        put(0, int(indices.size()));
        QByteArray bytes;
        for (std::size_t i = 0; i < indices.size(); ++i) {
            if (!k.four) bytes.append(char(indices[i]));
            else if (i % 2 == 0) bytes.append(char(indices[i] << 4));
            else bytes[bytes.size() - 1] = char(bytes[bytes.size() - 1] | indices[i]);
        }
        if (bytes.size() % 2 != 0) bytes.append('\0');
        codes.append(bytes);
    };
    for (int sy = 0; sy < k.height; ++sy) {
        const int y = k.height - 1 - sy;
        for (int x = 0; x < k.width;) {
            if (RleIndex(k, x, y) < 0) {
                ++x;
                continue;
            }
            int end = x;
            while (end < k.width && RleIndex(k, end, y) >= 0) ++end;
            moveTo(x, sy);
            while (x < end) {
                // A run: one index repeated (8 bits) or two alternating (4 bits).
                const int a = RleIndex(k, x, y), b = x + 1 < end ? RleIndex(k, x + 1, y) : a;
                int run = 1;
                while (x + run < end && run < 255 && RleIndex(k, x + run, y) == (k.four && run % 2 != 0 ? b : a)) ++run;
                if (run >= 3 || (!k.four && run == 2)) {
                    put(run, k.four ? (a << 4) | b : a);
                    x += run;
                    continue;
                }
                std::vector<int> one;
                while (x < end && int(one.size()) < 255) {
                    const int i = RleIndex(k, x, y);
                    if (x + 2 < end && RleIndex(k, x + 1, y) == i && RleIndex(k, x + 2, y) == i) break;
                    one.push_back(i);
                    ++x;
                }
                if (one.size() >= 3) literal(one);
                else
                    for (const int i : one) put(1, k.four ? i << 4 : i);
            }
            cx = end;
            if (k.crossing && end == k.width) {
                put(7, k.four ? 0x21 : 2);  // cut at the row's end
                literal({1, 2, 3, 4, 5});
            }
        }
    }
    if (k.allUnset || cy < k.height - 1) put(0, 1);  // the picture's end, early
    else put(0, 0);                                  // the last row's end: the picture is whole
    return codes;
}

std::pair<QByteArray, QImage> WriteRleBmp(const RleKind& k, std::mt19937& random) {
    QByteArray palette;
    std::vector<QRgb> colours;
    for (int i = 0; i < k.colours; ++i) {
        const QRgb c = qRgb(int(random() % 256), int(random() % 256), int(random() % 256));
        colours.push_back(c);
        palette.append(char(qBlue(c)));
        palette.append(char(qGreen(c)));
        palette.append(char(qRed(c)));
        palette.append('\0');
    }
    QImage expected(k.width, k.height, QImage::Format_ARGB32);
    for (int y = 0; y < k.height; ++y)
        for (int x = 0; x < k.width; ++x) {
            const int i = RleIndex(k, x, y);
            expected.setPixel(x, y, i < 0 ? qRgba(0, 0, 0, 0) : i < k.colours ? colours[std::size_t(i)] : qRgb(0, 0, 0));
        }
    const QByteArray file =
        BmpFile(40, k.width, k.height, k.four ? 4 : 8, k.four ? 2 : 1, std::uint32_t(k.colours), {}, palette, RleCodes(k));
    return {file, expected};
}

// Bytes laid against an unreadable page: a read past their end faults in every build, not
// only in the sanitized one.
class FencedBytes {
public:
    explicit FencedBytes(std::size_t most) {
        const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        readable_ = (most + page - 1) / page * page;
        size_ = readable_ + page;
        void* p = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
        if (base_ != nullptr && ::mprotect(base_ + readable_, page, PROT_NONE) != 0) {
            ::munmap(base_, size_);
            base_ = nullptr;
        }
    }
    ~FencedBytes() {
        if (base_ != nullptr) ::munmap(base_, size_);
    }
    FencedBytes(const FencedBytes&) = delete;
    FencedBytes& operator=(const FencedBytes&) = delete;
    bool ok() const { return base_ != nullptr; }
    // The first `count` bytes of `data`, ending where the unreadable page starts.
    std::span<const unsigned char> Hold(const char* data, std::size_t count) {
        unsigned char* at = base_ + readable_ - count;
        std::memcpy(at, data, count);
        return {at, count};
    }

private:
    unsigned char* base_ = nullptr;
    std::size_t readable_ = 0, size_ = 0;
};

// Each layout decodes every way the program decodes it to the picture its writer meant,
// read by Qt from a PNG; run-length files twice, the same both times. A file cut at any
// length fails, each length read from bytes that end against an unreadable page (its
// palette and masks too), so that any read past it faults.
TEST_F(DecodeStreaming, BmpBitFieldsAndRunLengthCodesGiveThePictureTheirWriterMeant) {
    std::mt19937 random(29);
    const std::vector<FieldsKind> fields = {
        {"16 five bits a colour", 16, 40, 0, {0x7C00, 0x03E0, 0x001F, 0}},
        {"16 five bits a colour, masks of a later header ignored", 16, 124, 0, {0x7C00, 0x03E0, 0x001F, 0}, true,
         {0xF800, 0x07E0, 0x001F, 0}},
        {"16 565 after the header", 16, 40, 3, {0xF800, 0x07E0, 0x001F, 0}, false},
        {"16 565 v5", 16, 124, 3, {0xF800, 0x07E0, 0x001F, 0}},
        {"16 4444 v4", 16, 108, 3, {0x0F00, 0x00F0, 0x000F, 0xF000}},
        {"16 1555 alpha after the header", 16, 40, 6, {0x7C00, 0x03E0, 0x001F, 0x8000}, false},
        {"16 3-1-2 bits and a zero green, 56-byte header", 16, 56, 3, {0x7000, 0, 0x0003, 0x0100}},
        {"32 8888 v5", 32, 124, 3, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
        {"32 888 after the header", 32, 40, 3, {0xFF0000, 0xFF00, 0xFF, 0}, false},
        {"32 bgr in another order, 52-byte header", 32, 52, 3, {0xFF, 0xFF00, 0xFF0000, 0}},
        {"32 10-10-10-2 v4", 32, 108, 3, {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}},
        {"32 20-bit and 6-bit fields", 32, 124, 3, {0xFFFFF000, 0x00000FC0, 0x0000003F, 0}},
    };
    const std::vector<RleKind> coded = {
        {"rle8 64 x 48 that ends at once", false, 64, 48, 16, false, true},
        {"rle8", false, 301, 48, 16},
        {"rle4", true, 301, 48, 12},
        {"rle8 runs past the row end", false, 64, 40, 16, true},
        {"rle4 runs past the row end", true, 65, 40, 12, true},
        {"rle8 jumps of more than 255", false, 600, 790, 200, false, false, 300, true},
        {"rle8 ends with its last row", false, 70, 30, 256, false, false, 4, false, true},
        {"rle4 big", true, 2000, 1500, 16, false, false, 4, false, true},
    };
    std::vector<std::pair<std::string, std::pair<QByteArray, QImage>>> files;
    for (const FieldsKind& k : fields) files.push_back({std::string("bits ") + k.name, WriteFieldsBmp(k, 37, 23, random)});
    files.push_back({"bits 32 8888 v5 big", WriteFieldsBmp(fields[7], 2000, 1500, random)});
    for (const RleKind& k : coded) files.push_back({k.name, WriteRleBmp(k, random)});

    for (const auto& [name, file] : files) {
        const auto& [bytes, expected] = file;
        ExpectAsQt(name + ".bmp", bytes, kBmp, true, AsPng(expected));
        if (name.rfind("rle", 0) == 0) ExpectAsQt(name + " again.bmp", bytes, kBmp, true, AsPng(expected));
        if (bytes.size() > 6000) continue;
        SCOPED_TRACE(name);
        const std::optional<DecodeResult> whole =
            DecodeBmp({{reinterpret_cast<const unsigned char*>(bytes.constData()), std::size_t(bytes.size())}, kBackground});
        ASSERT_TRUE(whole && *whole);
        int taken = 0;
        FencedBytes fenced(std::size_t(bytes.size()));
        ASSERT_TRUE(fenced.ok());
        for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
            const std::optional<DecodeResult> got = DecodeBmp({fenced.Hold(bytes.constData(), std::size_t(cut)), kBackground});
            if (!got || !*got) continue;
            ++taken;
            ASSERT_EQ(Differences(got->surface->image(), whole->surface->image()), 0u) << "cut to " << cut;
        }
        EXPECT_EQ(taken, 1);
    }
    const QByteArray rle = files.back().second.first;
    for (const qsizetype keep : {rle.size() / 2, rle.size() - 5}) ExpectCutFails("rle4 big", rle, keep, kBmp);
}

}  // namespace
