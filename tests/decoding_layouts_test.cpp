// One generated picture written losslessly in every layout each reader takes, and read
// back every way the program reads a file: the decoded pixels must be the source's. The
// source's samples are kept in each layout's own terms (16-bit levels, 5-bit fields,
// palette indices), and what they must read as is worked out here, apart from any reader.
// Each file is also decoded twice over memory filled with different bytes, so that a
// reader that leaves a pixel unwritten, or reads memory nobody wrote, cannot pass.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <malloc.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>

#include "heif_pictures.h"
#include "hostile_corpus.h"
#include "picture_bytes.h"
#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "decoding/worker/WorkerClient.h"

namespace {

using vistrel::ColorValue;
using vistrel::DecodeResult;
using vistrel::Pixel;

// Odd sides, wider than two 32-pixel tiles and not a multiple of any row padding.
constexpr int kWidth = 97;
constexpr int kHeight = 71;
// A background no source pixel has: a pixel a reader left transparent shows as this.
constexpr ColorValue kBackground = 0x00C0FFEE;

// The source at 16 bits a channel: ramps across, down and along the diagonal with a
// texture in the low bits, and a flat band in the middle rows for the run-length codings.
std::uint16_t Source16(int x, int y, int c) {
    if (y >= 30 && y < 36) return std::uint16_t(0x1234 * (c + 1));
    const std::uint32_t hash = (std::uint32_t(x) * 2654435761u) ^ (std::uint32_t(y) * 40503u) ^ (std::uint32_t(c) * 97u);
    const std::uint32_t ramp = c == 0 ? std::uint32_t(x) * 65535 / (kWidth - 1)
                               : c == 1 ? std::uint32_t(y) * 65535 / (kHeight - 1)
                                        : std::uint32_t(x + y) * 65535 / (kWidth + kHeight - 2);
    return std::uint16_t((ramp & 0xF000) | (hash >> 9 & 0x0FFF));
}
std::uint8_t Source8(int x, int y, int c) { return std::uint8_t(Source16(x, y, c) >> 8 ^ (Source16(x, y, c) & 0x7)); }
// A grey picture's level, and a paletted picture's index (a few runs among the noise).
std::uint16_t Grey16(int x, int y) { return Source16(x, y, (x + y) % 3); }
unsigned Index(int x, int y, unsigned colours) { return (x / 5 + y * 3 + (x * y) % 7) % colours; }

Pixel Opaque(unsigned r, unsigned g, unsigned b) { return 0xFF000000u | (r << 16) | (g << 8) | b; }
// 16 bits to 8, to the nearest level (v / 257 never falls halfway).
unsigned To8(std::uint32_t v, std::uint32_t top = 65535) {
    return unsigned(std::nearbyint(double(v) * 255.0 / double(top)));
}
// A bit field of `bits` bits widened to 8 by repeating its top bits.
unsigned Widened(unsigned v, int bits) {
    unsigned out = 0;
    for (int shift = 8 - bits; shift > -bits; shift -= bits) out |= shift >= 0 ? v << shift : v >> -shift;
    return out & 0xFF;
}
// A palette of `colours` entries, the same for every format.
Pixel PaletteEntry(unsigned i) { return Opaque((i * 97 + 13) & 0xFF, (i * 59 + 101) & 0xFF, (i * 23 + 7) & 0xFF); }

using Expected = std::vector<Pixel>;
Expected Fill(const std::function<Pixel(int, int)>& at) {
    Expected out(std::size_t(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) out[std::size_t(y) * kWidth + std::size_t(x)] = at(x, y);
    return out;
}

// ---------------------------------------------------------------------------------
// PNG, written with libpng

enum class PngKind { Rgb8, Rgb16, Rgba8, Rgba16, Grey, GreyAlpha8, GreyAlpha16, Palette };

void AppendPng(png_structp png, png_bytep data, png_size_t length) {
    static_cast<QByteArray*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), qsizetype(length));
}

struct Written {
    QByteArray bytes;
    Expected expected;
};

Written Png(PngKind kind, int depth, bool interlaced) {
    QByteArray out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, AppendPng, nullptr);
    int type = 0, channels = 0;
    switch (kind) {
        case PngKind::Rgb8: case PngKind::Rgb16: type = PNG_COLOR_TYPE_RGB; channels = 3; break;
        case PngKind::Rgba8: case PngKind::Rgba16: type = PNG_COLOR_TYPE_RGB_ALPHA; channels = 4; break;
        case PngKind::Grey: type = PNG_COLOR_TYPE_GRAY; channels = 1; break;
        case PngKind::GreyAlpha8: case PngKind::GreyAlpha16: type = PNG_COLOR_TYPE_GRAY_ALPHA; channels = 2; break;
        case PngKind::Palette: type = PNG_COLOR_TYPE_PALETTE; channels = 1; break;
    }
    png_set_IHDR(png, info, kWidth, kHeight, depth, type, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const unsigned colours = 1u << std::min(depth, 8);
    if (kind == PngKind::Palette) {
        std::vector<png_color> palette;
        for (unsigned i = 0; i < colours; ++i) {
            const Pixel p = PaletteEntry(i);
            palette.push_back({png_byte(p >> 16), png_byte(p >> 8), png_byte(p)});
        }
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
    }
    png_set_filter(png, 0, PNG_ALL_FILTERS);
    png_write_info(png, info);
    const unsigned top = (1u << depth) - 1;
    const std::size_t rowBytes = (std::size_t(kWidth) * channels * depth + 7) / 8;
    std::vector<png_byte> image(rowBytes * kHeight, 0);
    Expected expected(std::size_t(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y) {
        png_byte* row = image.data() + std::size_t(y) * rowBytes;
        for (int x = 0; x < kWidth; ++x) {
            std::uint32_t samples[4] = {};
            Pixel& want = expected[std::size_t(y) * kWidth + std::size_t(x)];
            if (kind == PngKind::Palette) {
                samples[0] = Index(x, y, colours);
                want = PaletteEntry(samples[0]);
            } else if (kind == PngKind::Grey || kind == PngKind::GreyAlpha8 || kind == PngKind::GreyAlpha16) {
                samples[0] = Grey16(x, y) >> (16 - depth);
                samples[1] = top;
                const unsigned g = To8(samples[0], top);
                want = Opaque(g, g, g);
            } else {
                for (int c = 0; c < 3; ++c) samples[c] = depth == 16 ? Source16(x, y, c) : Source8(x, y, c);
                samples[3] = top;
                want = Opaque(To8(samples[0], top), To8(samples[1], top), To8(samples[2], top));
            }
            for (int c = 0; c < channels; ++c) {
                const std::size_t bit = (std::size_t(x) * channels + std::size_t(c)) * std::size_t(depth);
                if (depth == 16) {
                    row[bit / 8] = png_byte(samples[c] >> 8);
                    row[bit / 8 + 1] = png_byte(samples[c]);
                } else {
                    row[bit / 8] |= png_byte(samples[c] << (8 - depth - bit % 8));
                }
            }
        }
    }
    std::vector<png_bytep> rows;
    for (int y = 0; y < kHeight; ++y) rows.push_back(image.data() + std::size_t(y) * rowBytes);
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return {out, expected};
}

// ---------------------------------------------------------------------------------
// BMP, written byte by byte

using picture_bytes::PutLe16;
using picture_bytes::PutLe32;

enum class BmpKind { Indexed, Rle8, Rle4, Rgb555, Rgb565, Bgr24, Bgrx32, Fields32, Fields101010 };

// RLE8 or RLE4 rows: runs of equal indices as encoded runs, the rest as absolute runs,
// each row ended by 00 00 and the picture by 00 01.
QByteArray RleRows(int bits, const std::function<unsigned(int, int)>& index) {
    QByteArray b;
    for (int y = kHeight - 1; y >= 0; --y) {
        int x = 0;
        while (x < kWidth) {
            int run = 1;
            while (x + run < kWidth && run < 255 && index(x + run, y) == index(x, y)) ++run;
            if (run >= 3 || kWidth - x < 3) {
                const int count = std::min(run, kWidth - x);
                b.append(char(count));
                b.append(char(bits == 8 ? index(x, y) : index(x, y) << 4 | index(x, y)));
                x += count;
                continue;
            }
            int count = 3;  // absolute: until the next run of three or the row's end
            while (x + count < kWidth && count < 255 &&
                   !(x + count + 2 < kWidth && index(x + count, y) == index(x + count + 1, y) &&
                     index(x + count, y) == index(x + count + 2, y)))
                ++count;
            b.append(char(0));
            b.append(char(count));
            QByteArray data;
            for (int i = 0; i < count; ++i) {
                if (bits == 8) data.append(char(index(x + i, y)));
                else if (i % 2 == 0) data.append(char(index(x + i, y) << 4));
                else data[data.size() - 1] = char(data.back() | char(index(x + i, y)));
            }
            if (data.size() % 2 != 0) data.append(char(0));  // absolute runs end on a word
            b.append(data);
            x += count;
        }
        b.append(char(0));
        b.append(char(0));
    }
    b.append(char(0));
    b.append(char(1));
    return b;
}

Written Bmp(BmpKind kind, int indexBits = 8, bool topDown = false) {
    constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3;
    int bits = 24;
    std::uint32_t compression = kRgb, masks[3] = {};
    switch (kind) {
        case BmpKind::Indexed: bits = indexBits; break;
        case BmpKind::Rle8: bits = 8; compression = kRle8; break;
        case BmpKind::Rle4: bits = 4; compression = kRle4; break;
        case BmpKind::Rgb555: bits = 16; break;
        case BmpKind::Rgb565: bits = 16; compression = kBitFields; masks[0] = 0xF800; masks[1] = 0x07E0; masks[2] = 0x001F; break;
        case BmpKind::Bgr24: bits = 24; break;
        case BmpKind::Bgrx32: bits = 32; break;
        case BmpKind::Fields32:
            bits = 32; compression = kBitFields; masks[0] = 0x0000FF00; masks[1] = 0x00FF0000; masks[2] = 0xFF000000; break;
        case BmpKind::Fields101010:
            bits = 32; compression = kBitFields; masks[0] = 0x3FF00000; masks[1] = 0x000FFC00; masks[2] = 0x000003FF; break;
    }
    const unsigned colours = bits <= 8 ? 1u << bits : 0;
    const auto index = [&](int x, int y) { return Index(x, y, colours); };
    Expected expected(std::size_t(kWidth) * kHeight);
    QByteArray rows;
    if (compression == kRle8 || compression == kRle4) {
        rows = RleRows(bits, index);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) expected[std::size_t(y) * kWidth + std::size_t(x)] = PaletteEntry(index(x, y));
    } else {
        const std::size_t rowBytes = (std::size_t(kWidth) * std::size_t(bits) + 31) / 32 * 4;
        rows = QByteArray(qsizetype(rowBytes) * kHeight, '\0');
        for (int y = 0; y < kHeight; ++y) {
            auto* row = reinterpret_cast<unsigned char*>(rows.data()) + std::size_t(topDown ? y : kHeight - 1 - y) * rowBytes;
            for (int x = 0; x < kWidth; ++x) {
                Pixel& want = expected[std::size_t(y) * kWidth + std::size_t(x)];
                const unsigned r = Source8(x, y, 0), g = Source8(x, y, 1), b = Source8(x, y, 2);
                std::uint32_t word = 0;
                switch (kind) {
                    case BmpKind::Indexed: {
                        const unsigned i = index(x, y);
                        row[std::size_t(x) * bits / 8] |= static_cast<unsigned char>(i << (8 - bits - x * bits % 8));
                        want = PaletteEntry(i);
                        continue;
                    }
                    case BmpKind::Rgb555:
                        word = (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
                        want = Opaque(Widened(r >> 3, 5), Widened(g >> 3, 5), Widened(b >> 3, 5));
                        break;
                    case BmpKind::Rgb565:
                        word = (r >> 3) << 11 | (g >> 2) << 5 | b >> 3;
                        want = Opaque(Widened(r >> 3, 5), Widened(g >> 2, 6), Widened(b >> 3, 5));
                        break;
                    case BmpKind::Bgr24:
                    case BmpKind::Bgrx32:
                        word = r << 16 | g << 8 | b | (kind == BmpKind::Bgrx32 ? std::uint32_t((x * 7 + y) & 0xFF) << 24 : 0);
                        want = Opaque(r, g, b);
                        break;
                    case BmpKind::Fields32:
                        word = r << 8 | g << 16 | b << 24 | std::uint32_t(x & 0xFF);
                        want = Opaque(r, g, b);
                        break;
                    case BmpKind::Fields101010: {
                        const std::uint32_t r10 = Source16(x, y, 0) >> 6, g10 = Source16(x, y, 1) >> 6, b10 = Source16(x, y, 2) >> 6;
                        word = r10 << 20 | g10 << 10 | b10;
                        want = Opaque(To8(r10, 1023), To8(g10, 1023), To8(b10, 1023));
                        break;
                    }
                    case BmpKind::Rle8:
                    case BmpKind::Rle4: break;
                }
                std::memcpy(row + std::size_t(x) * std::size_t(bits / 8), &word, std::size_t(bits / 8));
            }
        }
    }
    QByteArray info;
    PutLe32(info, 40);
    PutLe32(info, kWidth);
    PutLe32(info, std::uint32_t(topDown ? -kHeight : kHeight));
    PutLe16(info, 1);
    PutLe16(info, unsigned(bits));
    PutLe32(info, compression);
    PutLe32(info, std::uint32_t(rows.size()));
    PutLe32(info, 2835);
    PutLe32(info, 2835);
    PutLe32(info, colours);
    PutLe32(info, 0);
    if (compression == kBitFields)
        for (const std::uint32_t mask : masks) PutLe32(info, mask);
    for (unsigned i = 0; i < colours; ++i) PutLe32(info, PaletteEntry(i) & 0x00FFFFFF);
    QByteArray file("BM");
    PutLe32(file, std::uint32_t(14 + info.size() + rows.size()));
    PutLe32(file, 0);
    PutLe32(file, std::uint32_t(14 + info.size()));
    return {file + info + rows, expected};
}

// ---------------------------------------------------------------------------------
// TIFF, written with libtiff

struct TiffKind {
    std::uint16_t photometric = PHOTOMETRIC_RGB;
    std::uint16_t bits = 8;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint32_t tile = 0;  // a tile side, or 0 for strips of 8 rows
};

Written Tiff(const TiffKind& k, const QString& path) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    EXPECT_NE(tiff, nullptr);
    const std::uint16_t samples = k.photometric == PHOTOMETRIC_RGB ? 3 : 1;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, std::uint32_t(kWidth));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, std::uint32_t(kHeight));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, k.bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, k.photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, k.planar);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, k.compression);
    const unsigned colours = 1u << k.bits;
    std::vector<std::uint16_t> map[3];
    if (k.photometric == PHOTOMETRIC_PALETTE) {
        for (unsigned i = 0; i < colours; ++i) {
            const Pixel p = PaletteEntry(i);
            map[0].push_back(std::uint16_t((p >> 16 & 0xFF) * 257));
            map[1].push_back(std::uint16_t((p >> 8 & 0xFF) * 257));
            map[2].push_back(std::uint16_t((p & 0xFF) * 257));
        }
        TIFFSetField(tiff, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    }
    if (k.tile != 0) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, k.tile);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, k.tile);
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, std::uint32_t(8));
    }
    // The sample of channel c at (x, y), and the pixel the picture must read as there.
    const auto sample = [&](int x, int y, int c) -> std::uint32_t {
        if (k.photometric == PHOTOMETRIC_PALETTE) return Index(x, y, colours);
        if (k.photometric == PHOTOMETRIC_MINISBLACK) return Grey16(x, y) >> (16 - k.bits);
        return k.bits == 16 ? Source16(x, y, c) : Source8(x, y, c);
    };
    const auto pixel = [&](int x, int y) {
        if (k.photometric == PHOTOMETRIC_PALETTE) return PaletteEntry(sample(x, y, 0));
        const std::uint32_t top = (1u << k.bits) - 1;
        if (k.photometric == PHOTOMETRIC_MINISBLACK) {
            const unsigned g = To8(sample(x, y, 0), top);
            return Opaque(g, g, g);
        }
        return Opaque(To8(sample(x, y, 0), top), To8(sample(x, y, 1), top), To8(sample(x, y, 2), top));
    };
    // Each sample at its place in a block `w` pixels wide: interleaved, or one plane's alone.
    const std::size_t perPixel = k.planar == PLANARCONFIG_CONTIG ? samples : 1;
    const auto put = [&](std::vector<unsigned char>& block, std::size_t at, std::uint32_t v) {
        if (k.bits == 16) {
            const auto word = std::uint16_t(v);
            std::memcpy(block.data() + at * 2, &word, 2);
        } else if (k.bits == 8) {
            block[at] = static_cast<unsigned char>(v);
        } else {
            block[at * k.bits / 8] |= static_cast<unsigned char>(v << (8 - k.bits - at * k.bits % 8));
        }
    };
    const int planes = k.planar == PLANARCONFIG_CONTIG ? 1 : samples;
    for (int plane = 0; plane < planes; ++plane) {
        if (k.tile == 0) {
            const std::size_t rowBytes = std::size_t(TIFFScanlineSize64(tiff));
            for (int y = 0; y < kHeight; ++y) {
                std::vector<unsigned char> row(rowBytes, 0);
                for (int x = 0; x < kWidth; ++x)
                    for (std::size_t c = 0; c < perPixel; ++c)
                        put(row, std::size_t(x) * perPixel + c, sample(x, y, planes == 1 ? int(c) : plane));
                EXPECT_GE(TIFFWriteScanline(tiff, row.data(), std::uint32_t(y), std::uint16_t(plane)), 0);
            }
            continue;
        }
        const std::size_t tileRowBytes = std::size_t(TIFFTileRowSize64(tiff));
        for (std::uint32_t ty = 0; ty < std::uint32_t(kHeight); ty += k.tile)
            for (std::uint32_t tx = 0; tx < std::uint32_t(kWidth); tx += k.tile) {
                std::vector<unsigned char> tile(std::size_t(TIFFTileSize64(tiff)), 0);
                for (std::uint32_t i = 0; i < k.tile && ty + i < std::uint32_t(kHeight); ++i) {
                    std::vector<unsigned char> row(tileRowBytes, 0);
                    for (std::uint32_t j = 0; j < k.tile && tx + j < std::uint32_t(kWidth); ++j)
                        for (std::size_t c = 0; c < perPixel; ++c)
                            put(row, std::size_t(j) * perPixel + c, sample(int(tx + j), int(ty + i), planes == 1 ? int(c) : plane));
                    std::memcpy(tile.data() + std::size_t(i) * tileRowBytes, row.data(), tileRowBytes);
                }
                EXPECT_GE(TIFFWriteTile(tiff, tile.data(), tx, ty, 0, std::uint16_t(plane)), 0);
            }
    }
    TIFFClose(tiff);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return {file.readAll(), Fill(pixel)};
}

// ---------------------------------------------------------------------------------
// WebP, JPEG XL and GIF, written with their own encoders

Written WebpLossless(bool alpha) {
    std::vector<std::uint8_t> samples;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            for (int c = 0; c < 3; ++c) samples.push_back(Source8(x, y, c));
            if (alpha) samples.push_back(255);
        }
    std::uint8_t* encoded = nullptr;
    const std::size_t size = alpha ? WebPEncodeLosslessRGBA(samples.data(), kWidth, kHeight, kWidth * 4, &encoded)
                                   : WebPEncodeLosslessRGB(samples.data(), kWidth, kHeight, kWidth * 3, &encoded);
    QByteArray bytes(reinterpret_cast<const char*>(encoded), qsizetype(size));
    WebPFree(encoded);
    return {bytes, Fill([](int x, int y) { return Opaque(Source8(x, y, 0), Source8(x, y, 1), Source8(x, y, 2)); })};
}

Written JxlLossless(int bits) {
    QImage image(kWidth, kHeight, QImage::Format_RGBX64);
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<quint16*>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            // At 8 bits, samples the encoder's narrowing keeps exactly.
            for (int c = 0; c < 3; ++c) row[4 * x + c] = bits == 16 ? Source16(x, y, c) : quint16(Source8(x, y, c) * 257);
            row[4 * x + 3] = 65535;
        }
    }
    heif_pictures::Options options;
    options.bits = bits;
    return {heif_pictures::EncodeJxl(image, options), Fill([bits](int x, int y) {
                return bits == 16 ? Opaque(To8(Source16(x, y, 0)), To8(Source16(x, y, 1)), To8(Source16(x, y, 2)))
                                  : Opaque(Source8(x, y, 0), Source8(x, y, 1), Source8(x, y, 2));
            })};
}

Written Gif() {
    // The test GIF's own four colours: red, green, blue, white.
    constexpr Pixel kColours[] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu};
    picture_bytes::GifFrame frame;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) frame.indices.push_back(static_cast<unsigned char>(Index(x, y, 4)));
    return {picture_bytes::MakeGif(kWidth, kHeight, {frame}), Fill([&](int x, int y) { return kColours[Index(x, y, 4)]; })};
}

// ---------------------------------------------------------------------------------
// Reading back

struct Layout {
    std::string name;
    Written file;
};

std::vector<Layout> EveryLayout(const QTemporaryDir& dir) {
    std::vector<Layout> all;
    for (const bool interlaced : {false, true}) {
        const std::string adam7 = interlaced ? " interlaced" : "";
        all.push_back({"PNG RGB 8" + adam7, Png(PngKind::Rgb8, 8, interlaced)});
        all.push_back({"PNG RGB 16" + adam7, Png(PngKind::Rgb16, 16, interlaced)});
        all.push_back({"PNG RGBA 8" + adam7, Png(PngKind::Rgba8, 8, interlaced)});
        all.push_back({"PNG RGBA 16" + adam7, Png(PngKind::Rgba16, 16, interlaced)});
        for (const int depth : {1, 2, 4, 8, 16})
            all.push_back({"PNG grey " + std::to_string(depth) + adam7, Png(PngKind::Grey, depth, interlaced)});
        all.push_back({"PNG grey and alpha 8" + adam7, Png(PngKind::GreyAlpha8, 8, interlaced)});
        all.push_back({"PNG grey and alpha 16" + adam7, Png(PngKind::GreyAlpha16, 16, interlaced)});
        for (const int depth : {1, 2, 4, 8})
            all.push_back({"PNG palette " + std::to_string(depth) + adam7, Png(PngKind::Palette, depth, interlaced)});
    }
    for (const int bits : {1, 4, 8}) all.push_back({"BMP " + std::to_string(bits) + "-bit", Bmp(BmpKind::Indexed, bits)});
    all.push_back({"BMP RLE8", Bmp(BmpKind::Rle8)});
    all.push_back({"BMP RLE4", Bmp(BmpKind::Rle4)});
    all.push_back({"BMP 16-bit 555", Bmp(BmpKind::Rgb555)});
    all.push_back({"BMP 16-bit 565 bit fields", Bmp(BmpKind::Rgb565)});
    all.push_back({"BMP 24-bit", Bmp(BmpKind::Bgr24)});
    all.push_back({"BMP 24-bit top-down", Bmp(BmpKind::Bgr24, 0, true)});
    all.push_back({"BMP 32-bit", Bmp(BmpKind::Bgrx32)});
    all.push_back({"BMP 32-bit bit fields", Bmp(BmpKind::Fields32)});
    all.push_back({"BMP 32-bit 10-bit fields", Bmp(BmpKind::Fields101010)});
    const std::pair<std::uint16_t, const char*> compressions[] = {
        {COMPRESSION_NONE, "none"}, {COMPRESSION_LZW, "LZW"}, {COMPRESSION_ADOBE_DEFLATE, "Deflate"}, {COMPRESSION_PACKBITS, "PackBits"}};
    int n = 0;
    for (const auto& [compression, compressionName] : compressions)
        for (const std::uint16_t bits : {8, 16})
            for (const std::uint16_t planar : {PLANARCONFIG_CONTIG, PLANARCONFIG_SEPARATE})
                for (const std::uint32_t tile : {0u, 32u}) {
                    const std::string name = std::string("TIFF RGB ") + std::to_string(bits) +
                                             (planar == PLANARCONFIG_CONTIG ? " contiguous" : " separate planes") +
                                             (tile != 0 ? " tiles " : " strips ") + compressionName;
                    all.push_back({name, Tiff({PHOTOMETRIC_RGB, bits, planar, compression, tile},
                                              dir.filePath(QString("t%1.tif").arg(n++)))});
                }
    for (const std::uint16_t bits : {8, 16})
        for (const std::uint32_t tile : {0u, 32u})
            all.push_back({"TIFF grey " + std::to_string(bits) + (tile != 0 ? " tiles" : " strips"),
                           Tiff({PHOTOMETRIC_MINISBLACK, bits, PLANARCONFIG_CONTIG, COMPRESSION_LZW, tile},
                                dir.filePath(QString("t%1.tif").arg(n++)))});
    for (const std::uint16_t bits : {4, 8})
        all.push_back({"TIFF palette " + std::to_string(bits),
                       Tiff({PHOTOMETRIC_PALETTE, bits, PLANARCONFIG_CONTIG, COMPRESSION_PACKBITS, 0},
                            dir.filePath(QString("t%1.tif").arg(n++)))});
    all.push_back({"WebP lossless", WebpLossless(false)});
    all.push_back({"WebP lossless with alpha", WebpLossless(true)});
    all.push_back({"JPEG XL lossless 8", JxlLossless(8)});
    all.push_back({"JPEG XL lossless 16", JxlLossless(16)});
    all.push_back({"GIF", Gif()});
    return all;
}

// Takes the rows a worker would, offering the place of each band filled with `poison`
// beforehand, so that a pixel a reader never writes keeps it.
class PoisonedSink final : public vistrel::BandSink {
public:
    explicit PoisonedSink(std::uint8_t poison) : poison_(poison) {}
    bool Start(int width, int height) override {
        picture = QImage(width, height, QImage::Format_RGB32);
        if (picture.isNull()) return false;
        std::memset(picture.bits(), poison_, std::size_t(picture.sizeInBytes()));
        return true;
    }
    uchar* Destination(int first, int count) override {
        (void)count;
        return picture.scanLine(first);
    }
    bool Put(int first, int count, const uchar* rows) override {
        if (rows != picture.constScanLine(first))
            for (int i = 0; i < count; ++i)
                std::memcpy(picture.scanLine(first + i), rows + std::size_t(i) * std::size_t(picture.width()) * 4,
                            std::size_t(picture.width()) * 4);
        return true;
    }
    QImage picture;

private:
    std::uint8_t poison_;
};

// The picture a decode gave, from its result or its sink. Every block malloc hands out
// meanwhile is filled with `mallocFill`: small values, which stay inside a palette.
QImage Decoded(const QByteArray& bytes, PoisonedSink* sink, std::uint8_t mallocFill) {
    mallopt(M_PERTURB, static_cast<std::uint8_t>(~mallocFill));
    const DecodeResult result = vistrel::DecodePictureBytes({bytes, std::nullopt}, kBackground, nullptr, sink);
    mallopt(M_PERTURB, 0);
    if (!result) return {};
    return result.surface->isNull() && sink != nullptr ? sink->picture : result.surface->image();
}

// Rows that differ from the expected pixels, as "row y: first wrong x".
std::string Mismatch(const QImage& got, const Expected& expected) {
    if (got.size() != QSize(kWidth, kHeight)) return "size " + std::to_string(got.width()) + " x " + std::to_string(got.height());
    std::string wrong;
    int rows = 0;
    for (int y = 0; y < kHeight; ++y) {
        const auto* row = reinterpret_cast<const Pixel*>(got.constScanLine(y));
        for (int x = 0; x < kWidth; ++x)
            if (row[x] != expected[std::size_t(y) * kWidth + std::size_t(x)]) {
                char at[96];
                std::snprintf(at, sizeof at, "row %d from x %d (%08X, not %08X); ", y, x, row[x],
                              expected[std::size_t(y) * kWidth + std::size_t(x)]);
                if (++rows <= 3) wrong += at;
                break;
            }
    }
    return rows == 0 ? std::string() : std::to_string(rows) + " rows wrong: " + wrong;
}

TEST(DecodeLayouts, EveryLosslessLayoutReadsAsItsSourceEveryWay) {
    const QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::vector<Layout> layouts = EveryLayout(dir);
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        ASSERT_FALSE(layout.file.bytes.isEmpty());
        {
            PoisonedSink sink(0x00);
            EXPECT_EQ(Mismatch(Decoded(layout.file.bytes, nullptr, 0x01), layout.file.expected), "") << "whole";
            EXPECT_EQ(Mismatch(Decoded(layout.file.bytes, &sink, 0x02), layout.file.expected), "") << "into a sink";
        }
        const QString path = dir.filePath("picture");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(layout.file.bytes);
        file.close();
        const DecodeResult there = vistrel::DecodeInWorker(path, kBackground);
        EXPECT_EQ(there ? Mismatch(there.surface->image(), layout.file.expected) : "failed", "") << "in the worker";
    }
}

// Every file of the hostile corpus and every fuzz seed ends the same way twice, the
// second time over memory filled with other bytes: a picture made of memory nobody
// wrote would differ.
TEST(DecodeLayouts, HostileFilesAndFuzzSeedsDecodeTheSameTwice) {
    QStringList files;
    for (const QString& name : testing_support::HostileFiles()) files << testing_support::HostileFolder().filePath(name);
    const QDir seeds(VISTREL_SOURCE_DIR "/fuzz/corpus");
    for (const QString& target : seeds.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        for (const QString& name : QDir(seeds.filePath(target)).entryList(QDir::Files))
            files << seeds.filePath(target + "/" + name);
    ASSERT_GT(files.size(), 100);
    for (const QString& path : files) {
        SCOPED_TRACE(path.toStdString());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        PoisonedSink firstSink(0x00), secondSink(0xFF);
        const QImage whole = Decoded(bytes, nullptr, 0x00);
        const QImage first = Decoded(bytes, &firstSink, 0x01);
        const QImage second = Decoded(bytes, &secondSink, 0x02);
        ASSERT_EQ(first.isNull(), second.isNull());
        ASSERT_EQ(first.isNull(), whole.isNull());
        EXPECT_TRUE(first == second) << "the pixels differ between two decodes";
        EXPECT_TRUE(first == whole) << "the pixels differ between a decode into a sink and a whole one";
    }
}

}  // namespace
