#pragma once
// Small pictures built byte by byte, for the formats the tests cannot have Qt write:
// GIF, icons with alpha, BMP headers, placeable metafiles.

#include <QByteArray>
#include <QRgb>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace picture_bytes {

inline void PutLe16(QByteArray& b, unsigned v) {
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}
inline void PutLe32(QByteArray& b, std::uint32_t v) {
    PutLe16(b, v & 0xFFFF);
    PutLe16(b, v >> 16);
}
inline void SetLe16(QByteArray& b, qsizetype at, unsigned v) {
    b[at] = char(v & 0xFF);
    b[at + 1] = char((v >> 8) & 0xFF);
}
inline void SetBe16(QByteArray& b, qsizetype at, unsigned v) {
    b[at] = char((v >> 8) & 0xFF);
    b[at + 1] = char(v & 0xFF);
}

// GIF with a four-entry colour table: 0 red, 1 green, 2 blue, 3 white.
// How a frame's LZW data is written: OneByOne puts a clear code before every two pixel
// codes, so that the code width stays at 3 bits and no string table is ever used; Lzw
// compresses as encoders do (giflib's way: the codes widen as the table grows, and a
// clear code once it holds 4095 codes); LzwDeferredClear lets the table fill to 4096
// codes and then keeps it, the codes staying 12 bits wide.
enum class GifCodes { OneByOne, Lzw, LzwDeferredClear };

struct GifFrame {
    std::vector<unsigned char> indices;  // width x height, row by row
    int transparentIndex = -1;
    GifCodes codes = GifCodes::OneByOne;
    bool interlaced = false;             // the rows stored in the four passes
    int width = 0, height = 0;           // the frame's own size when not the canvas's
};

inline QByteArray Lzw(const std::vector<unsigned char>& indices, GifCodes kind = GifCodes::OneByOne) {
    constexpr unsigned kRootBits = 2, kClear = 1u << kRootBits, kEnd = kClear + 1, kTable = 4096;
    std::vector<unsigned> codes;
    std::vector<unsigned> widths;  // each code's width, as the decoder will read it
    unsigned width = kRootBits + 1, next = kEnd + 1;
    std::vector<int> table(std::size_t{kTable} * 4, -1);  // (prefix code, index) to its code
    const auto putCode = [&](unsigned code) {
        codes.push_back(code);
        widths.push_back(width);
        if (next >= (1u << width) && width < 12) ++width;
    };
    const auto restart = [&] {
        width = kRootBits + 1;
        next = kEnd + 1;
        std::fill(table.begin(), table.end(), -1);
    };
    if (kind == GifCodes::OneByOne) {
        for (std::size_t i = 0; i < indices.size(); ++i) {
            if (i % 2 == 0) codes.push_back(kClear), widths.push_back(3);
            codes.push_back(indices[i]), widths.push_back(3);
        }
    } else if (!indices.empty()) {
        putCode(kClear);
        unsigned prefix = indices[0];
        for (std::size_t i = 1; i < indices.size(); ++i) {
            int& known = table[std::size_t{prefix} * 4 + indices[i]];
            if (known >= 0) {
                prefix = unsigned(known);
                continue;
            }
            putCode(prefix);
            if (kind == GifCodes::Lzw && next >= kTable - 1) {
                putCode(kClear);
                restart();
            } else if (next < kTable) {
                known = int(next++);
            }
            prefix = indices[i];
        }
        putCode(prefix);
    }
    codes.push_back(kEnd), widths.push_back(kind == GifCodes::OneByOne ? 3 : width);
    QByteArray packed;
    std::uint32_t acc = 0;
    unsigned bits = 0;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        acc |= codes[i] << bits;
        bits += widths[i];
        while (bits >= 8) {
            packed.append(char(acc & 0xFF));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits) packed.append(char(acc & 0xFF));
    QByteArray out;
    out.append(char(kRootBits));  // minimum code size
    for (qsizetype at = 0; at < packed.size(); at += 255) {
        const QByteArray block = packed.mid(at, 255);
        out.append(char(block.size()));
        out.append(block);
    }
    out.append(char(0));
    return out;
}

// The rows of a picture in the order an interlaced GIF stores them.
inline std::vector<unsigned char> Interlaced(const std::vector<unsigned char>& indices, int width, int height) {
    std::vector<unsigned char> out;
    for (const auto& [first, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
        for (int y = first; y < height; y += step)
            out.insert(out.end(), indices.begin() + std::ptrdiff_t(y) * width, indices.begin() + std::ptrdiff_t(y + 1) * width);
    return out;
}

inline QByteArray MakeGif(int width, int height, const std::vector<GifFrame>& frames) {
    QByteArray b("GIF89a");
    PutLe16(b, width);
    PutLe16(b, height);
    b.append(char(0x91));  // global table, 2 bits of colour resolution, 4 entries
    b.append(char(0));     // background index
    b.append(char(0));     // aspect
    const unsigned char table[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    b.append(reinterpret_cast<const char*>(table), sizeof table);
    for (const GifFrame& f : frames) {
        b.append("\x21\xF9\x04", 3);  // graphic control extension
        b.append(char(f.transparentIndex >= 0 ? 0x05 : 0x04));  // keep frame; transparency flag
        PutLe16(b, 10);
        b.append(char(f.transparentIndex >= 0 ? f.transparentIndex : 0));
        b.append(char(0));
        b.append(char(0x2C));
        const int frameWidth = f.width > 0 ? f.width : width, frameHeight = f.height > 0 ? f.height : height;
        PutLe16(b, 0);
        PutLe16(b, 0);
        PutLe16(b, frameWidth);
        PutLe16(b, frameHeight);
        b.append(char(f.interlaced ? 0x40 : 0));
        b.append(Lzw(f.interlaced ? Interlaced(f.indices, frameWidth, frameHeight) : f.indices, f.codes));
    }
    b.append(char(0x3B));
    return b;
}

// An icon with 32-bit BGRA images, each a solid colour with its alpha, and an
// all-opaque AND mask (transparency comes from the alpha bytes).
struct IconImage {
    int side;
    QRgb argb;
    bool clearTopLeftQuarter = false;  // those pixels get alpha 0
};

inline QByteArray MakeIco(const std::vector<IconImage>& images) {
    std::vector<QByteArray> blobs;
    for (const IconImage& im : images) {
        QByteArray dib;
        PutLe32(dib, 40);
        PutLe32(dib, im.side);
        PutLe32(dib, im.side * 2);  // colour rows plus mask rows
        PutLe16(dib, 1);
        PutLe16(dib, 32);
        for (int i = 0; i < 6; ++i) PutLe32(dib, 0);
        for (int row = im.side - 1; row >= 0; --row) {  // bottom-up
            for (int x = 0; x < im.side; ++x) {
                const bool clear = im.clearTopLeftQuarter && x < im.side / 2 && row < im.side / 2;
                dib.append(char(qBlue(im.argb)));
                dib.append(char(qGreen(im.argb)));
                dib.append(char(qRed(im.argb)));
                dib.append(char(clear ? 0 : qAlpha(im.argb)));
            }
        }
        const int maskStride = ((im.side + 31) / 32) * 4;
        dib.append(QByteArray(maskStride * im.side, '\0'));
        blobs.push_back(dib);
    }
    QByteArray b;
    PutLe16(b, 0);
    PutLe16(b, 1);
    PutLe16(b, static_cast<unsigned>(images.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        b.append(char(images[i].side & 0xFF));
        b.append(char(images[i].side & 0xFF));
        b.append(char(0));
        b.append(char(0));
        PutLe16(b, 1);
        PutLe16(b, 32);
        PutLe32(b, static_cast<std::uint32_t>(blobs[i].size()));
        PutLe32(b, offset);
        offset += static_cast<std::uint32_t>(blobs[i].size());
    }
    for (const QByteArray& blob : blobs) b.append(blob);
    return b;
}

// The file and info headers of a 24-bit BMP claiming width x height, with no pixels.
inline QByteArray BmpHeaderOnly(std::int32_t width, std::int32_t height) {
    QByteArray b("BM");
    PutLe32(b, 54);
    PutLe32(b, 0);
    PutLe32(b, 54);
    PutLe32(b, 40);
    PutLe32(b, static_cast<std::uint32_t>(width));
    PutLe32(b, static_cast<std::uint32_t>(height));
    PutLe16(b, 1);
    PutLe16(b, 24);
    for (int i = 0; i < 6; ++i) PutLe32(b, 0);
    return b;
}

// A placeable metafile, 1000 x 500 units at 1000 units an inch (96 x 48
// pixels at 96 dpi), that fills the rectangle (250, 125)-(750, 375) with red
// through a null pen, leaving the rest unpainted. Records: each a size in
// words, a function number, then its parameters.
inline QByteArray MakeWmf() {
    QByteArray records;
    auto record = [&](unsigned function, std::vector<unsigned> params) {
        PutLe32(records, static_cast<std::uint32_t>(3 + params.size()));
        PutLe16(records, function);
        for (unsigned p : params) PutLe16(records, p);
    };
    record(0x020B, {0, 0});              // SetWindowOrg(y, x)
    record(0x020C, {500, 1000});         // SetWindowExt(y, x)
    record(0x02FC, {0, 0x00FF, 0x0000, 0});  // CreateBrushIndirect: solid, colour 0x000000FF (red), hatch
    record(0x012D, {0});                 // SelectObject(brush)
    record(0x02FA, {5, 0, 0, 0, 0});     // CreatePenIndirect: PS_NULL, width (0, 0), colour
    record(0x012D, {1});                 // SelectObject(pen)
    record(0x041B, {375, 750, 125, 250});  // Rectangle(bottom, right, top, left)
    record(0x0000, {});                  // end of file

    QByteArray header;
    PutLe16(header, 1);       // in memory
    PutLe16(header, 9);       // header words
    PutLe16(header, 0x0300);  // version
    PutLe32(header, static_cast<std::uint32_t>((18 + records.size()) / 2));
    PutLe16(header, 2);       // objects
    PutLe32(header, 8);       // largest record, in words
    PutLe16(header, 0);

    QByteArray placeable;
    PutLe32(placeable, 0x9AC6CDD7u);
    PutLe16(placeable, 0);     // handle
    PutLe16(placeable, 0);     // left
    PutLe16(placeable, 0);     // top
    PutLe16(placeable, 1000);  // right
    PutLe16(placeable, 500);   // bottom
    PutLe16(placeable, 1000);  // units per inch
    PutLe32(placeable, 0);
    unsigned checksum = 0;
    for (int i = 0; i < 20; i += 2)
        checksum ^= static_cast<unsigned char>(placeable[i]) | (static_cast<unsigned char>(placeable[i + 1]) << 8);
    PutLe16(placeable, checksum);
    return placeable + header + records;
}

}  // namespace picture_bytes
