// The header walkers over small files built here: the metafile record walk that refuses
// what the metafile player mishandles, and the bitmap rows, GIF codes and box walks cut at
// every length.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <initializer_list>
#include <string>
#include <vector>

#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "decoding/readers/QtDecode.h"
#include "formats/FileHeaders.h"
#include "formats/PngChunks.h"
#include "picture_bytes.h"

#include <jxl/decode.h>

using namespace vistrel::headers;

namespace {

constexpr std::int64_t kMaxSide = 32768;

using Blob = std::vector<unsigned char>;

void Put16(Blob& b, unsigned v) {
    b.push_back(static_cast<unsigned char>(v & 0xFF));
    b.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}
void Put32(Blob& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

Blob Record(unsigned function, std::initializer_list<unsigned> words, const Blob& tail = {}) {
    Blob r;
    Put32(r, static_cast<std::uint32_t>(3 + words.size() + tail.size() / 2));
    Put16(r, function);
    for (unsigned w : words) Put16(r, w);
    r.insert(r.end(), tail.begin(), tail.end());
    return r;
}

// A plain (not placeable) metafile with an object table of `objects` slots.
Blob Metafile(const std::vector<Blob>& records, unsigned objects = 4) {
    Blob body;
    for (const Blob& r : records) body.insert(body.end(), r.begin(), r.end());
    const Blob end = Record(0x0000, {});
    body.insert(body.end(), end.begin(), end.end());
    Blob file;
    Put16(file, 1);
    Put16(file, 9);
    Put16(file, 0x0300);
    Put32(file, static_cast<std::uint32_t>((18 + body.size()) / 2));
    Put16(file, objects);
    Put32(file, 64);
    Put16(file, 0);
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// A packed bitmap: the info header (or a bare size field), then its rows.
Blob Dib(std::uint32_t headerBytes, std::int32_t width, std::int32_t height, unsigned bits) {
    Blob d;
    Put32(d, headerBytes);
    if (headerBytes >= 40) {
        Put32(d, static_cast<std::uint32_t>(width));
        Put32(d, static_cast<std::uint32_t>(height));
        Put16(d, 1);
        Put16(d, bits);
        for (int i = 0; i < 6; ++i) Put32(d, 0);
        d.resize(headerBytes, 0);
    } else {
        d.resize(d.size() + 8, 0);
    }
    d.resize(d.size() + 64, 0x40);
    return d;
}

// The bitmap with its header size field overwritten.
Blob Claiming(Blob dib, std::uint32_t headerBytes) {
    Blob size;
    Put32(size, headerBytes);
    std::copy(size.begin(), size.end(), dib.begin());
    return dib;
}

const Blob kBrush = Record(0x02FC, {0, 0x00FF, 0, 0});      // CreateBrushIndirect: solid red
const Blob kFont = Record(0x02FB, {40, 0, 0, 0, 400, 0, 0, 0, 0});  // CreateFontIndirect, no face name
const Blob kPen = Record(0x02FA, {0, 1, 0, 0, 0});          // CreatePenIndirect
const Blob kRectangle = Record(0x041B, {10, 10, 0, 0});
const Blob kText = Record(0x0521, {2, 0x6948, 5, 5});       // TextOut "Hi"
const Blob kSave = Record(0x001E, {});
const Blob kRestore = Record(0x0127, {0xFFFF});
Blob Select(unsigned slot) { return Record(0x012D, {slot}); }
Blob Delete(unsigned slot) { return Record(0x01F0, {slot}); }
Blob StretchDib(const Blob& dib) { return Record(0x0F43, {0x20, 0xCC, 0, 8, 8, 0, 0, 8, 8, 0, 0}, dib); }
Blob PatternBrush(const Blob& dib) { return Record(0x0142, {5, 0}, dib); }
const Blob kPattern = PatternBrush(Dib(40, 8, 8, 24));

bool Playable(const Blob& file) { return MetafileRecordsPlayable({file.data(), file.size()}, kMaxSide); }

}  // namespace

TEST(MetafileWalk, RefusesWhatThePlayerMishandlesAndNothingElse) {
    struct Case {
        std::string what;
        std::vector<Blob> records;
        bool playable;
    };
    const std::vector<Case> cases = {
        {"plain drawing", {kBrush, kPen, kRectangle, kFont, kText}, true},
        {"bitmaps of every kind of header", {StretchDib(Dib(40, 8, 8, 24)), StretchDib(Dib(12, 8, 8, 24)),
                                             PatternBrush(Dib(124, 8, -8, 32)), kRectangle}, true},
        {"bitmap header size 0", {StretchDib(Dib(0, 0, 0, 0))}, false},
        {"bitmap header size 3", {PatternBrush(Dib(3, 0, 0, 0))}, false},
        {"bitmap header size 39", {StretchDib(Dib(39, 0, 0, 0))}, false},
        {"bitmap header past its record", {StretchDib(Claiming(Dib(40, 8, 8, 24), 4000))}, false},
        {"bitmap of 3 bytes", {Record(0x0F43, {0x20, 0xCC, 0, 8, 8, 0, 0, 8, 8, 0, 0}, {0x28, 0})}, false},
        {"bitmap wider than any picture", {StretchDib(Dib(40, 40000, 8, 24))}, false},
        {"bitmap taller than any picture", {StretchDib(Dib(40, 8, -40000, 24))}, false},
        {"bitmap of 48 bits a pixel", {StretchDib(Dib(40, 8, 8, 48))}, false},
        {"bitmap placed at a side over the largest", {Record(0x0D33, {0, 40000, 8, 0, 0, 0, 0, 0, 0}, Dib(40, 8, 8, 24))},
         false},
        {"deleted solid brush, then a fill", {kBrush, Delete(0), kRectangle}, true},
        {"deleted solid brush, slot taken by a pen, then a fill", {kBrush, Delete(0), kPen, kRectangle}, false},
        {"deleted solid brush, slot taken by a font, then text", {kBrush, Delete(0), kFont, kText}, true},
        {"deleted pattern brush, then a fill", {kPattern, Delete(0), kRectangle}, false},
        {"deleted pattern brush, then text only", {kPattern, Delete(0), kFont, kText}, true},
        {"deleted pattern brush, another selected, then a fill", {kPattern, kBrush, Select(1), Delete(0), kRectangle},
         true},
        {"deleted pattern brush replaced by a new one", {kPattern, Delete(0), kBrush, kRectangle}, true},
        {"unselected pattern brush deleted", {kPattern, kBrush, Delete(0), kRectangle}, true},
        {"deleted pattern brush brought back by a restore",
         {kPattern, kSave, kBrush, Delete(0), kRectangle, kRestore, kRectangle}, false},
        {"deleted font, then text", {kFont, Delete(0), kText}, false},
        {"deleted font, then a fill only", {kFont, Delete(0), kBrush, kRectangle}, true},
        {"deleted font, another created, then text", {kFont, Delete(0), kFont, kText}, true},
        {"select outside the table: the player stops", {Select(60000), kBrush, Delete(0), kRectangle}, true},
        {"deleting a free slot", {Delete(3), kBrush, kRectangle}, true},
        // The player ends only on an end record of three words: a longer one is skipped.
        {"bitmap header size 3 after a long end record", {Record(0x0000, {0, 0}), StretchDib(Dib(3, 0, 0, 0))}, false},
        {"bitmap header size 3 after the end record", {Record(0x0000, {}), StretchDib(Dib(3, 0, 0, 0))}, true},
    };
    for (const Case& c : cases) EXPECT_EQ(Playable(Metafile(c.records)), c.playable) << c.what;

    // A full table: the creation fails in the player, which stops there.
    EXPECT_TRUE(Playable(Metafile({kPattern, kPattern, Delete(0), kRectangle}, 1)));
}

TEST(MetafileWalk, StopsWhereTheRecordsStopAndTakesOnlyMetafiles) {
    Blob file = Metafile({kPattern, Delete(0), kRectangle});
    // Cut inside the fill that would be refused: the walk cannot reach it.
    Blob cut(file.begin(), file.end() - 10);
    EXPECT_TRUE(Playable(cut));
    // A record claiming more words than the file holds ends the walk.
    Blob runaway = Metafile({kPattern, Delete(0), kRectangle});
    runaway[18 + kPattern.size() + 2] = 0xFF;  // the delete's size, high half
    EXPECT_TRUE(Playable(runaway));
    const Blob notMetafile = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(Playable(notMetafile));
    EXPECT_FALSE(LooksLikeMetafile({notMetafile.data(), notMetafile.size()}));
    EXPECT_TRUE(LooksLikeMetafile({file.data(), file.size()}));
}

TEST(MetafileWalk, FirstWindowOriginIsTheFirstSetWindowOrg) {
    const Blob file = Metafile({kBrush, Record(0x020B, {0xFFF6, 25}), Record(0x020B, {7, 7})});
    const Origin origin = FirstWindowOrigin({file.data(), file.size()}, 18);
    EXPECT_EQ(origin.x, 25);
    EXPECT_EQ(origin.y, -10);
    const Blob none = Metafile({kBrush});
    EXPECT_EQ(FirstWindowOrigin({none.data(), none.size()}, 18).x, 0);
    EXPECT_EQ(FirstWindowOrigin({none.data(), none.size()}, none.size() + 40).x, 0);
}

TEST(HeaderReaders, BitmapRowsAreCheckedAtEveryLengthWithoutReadingPastTheEnd) {
    // A 24-bit 5 x 3 bitmap: 54 bytes of headers, then three rows of 16 bytes.
    Blob bmp = {'B', 'M'};
    Put32(bmp, 54 + 48);
    Put32(bmp, 0);
    Put32(bmp, 54);
    Put32(bmp, 40);
    Put32(bmp, 5);
    Put32(bmp, 3);
    Put16(bmp, 1);
    Put16(bmp, 24);
    for (int i = 0; i < 6; ++i) Put32(bmp, 0);
    bmp.resize(54 + 48, 0x7F);
    for (std::size_t cut = 0; cut <= bmp.size(); ++cut) {
        // Each length in a buffer of its own, so that a read past it is caught.
        const std::vector<unsigned char> part(bmp.begin(), bmp.begin() + static_cast<std::ptrdiff_t>(cut));
        const bool holds = BmpHoldsItsRows({part.data(), part.size()});
        // Cut inside the headers the reader refuses it; past them, only the whole file holds its rows.
        EXPECT_EQ(holds, cut < 34 || cut == bmp.size()) << cut;
    }
}

// A GIF's first frame is whole when its codes give every pixel it puts on the canvas: LZW
// codes as encoders write them (a clear when the table is full, or the table kept full),
// interlaced, a frame past the canvas whose codes stop where the canvas does. Qt reads
// each whole file to the pixels written; cut at every length (each length in a buffer of
// its own) or with only its first sub-blocks kept before the terminator, it is whole only
// once its codes are all there.
TEST(HeaderReaders, GifFrameIsWholeOnlyWhenItsCodesGiveEveryPixelOnTheCanvas) {
    using picture_bytes::GifCodes;
    struct Case {
        const char* name;
        int width, height;  // the canvas
        picture_bytes::GifFrame frame;
        int given;          // pixels the codes give (the frame's, or fewer)
        bool whole;
    };
    const auto indices = [](int width, int height, int given) {
        std::vector<unsigned char> out;
        for (int i = 0; i < given; ++i) {
            const int x = i % width, y = i / width;
            std::uint32_t noise = std::uint32_t(x) * 73856093u ^ std::uint32_t(y) * 19349663u;
            noise = (noise ^ (noise >> 13)) * 0x5BD1E995u;
            out.push_back(static_cast<unsigned char>(x < width / 3 ? (y / 4) % 4 : (noise >> 15) % 4));
        }
        (void)height;
        return out;
    };
    std::vector<Case> cases = {
        {"lzw", 61, 37, {indices(61, 37, 61 * 37), -1, GifCodes::Lzw}, 61 * 37, true},
        {"lzw, the table full and cleared", 256, 160, {indices(256, 160, 256 * 160), -1, GifCodes::Lzw}, 256 * 160, true},
        {"lzw, the table kept full", 256, 160, {indices(256, 160, 256 * 160), -1, GifCodes::LzwDeferredClear}, 256 * 160, true},
        {"interlaced", 61, 37, {indices(61, 37, 61 * 37), -1, GifCodes::Lzw, true}, 61 * 37, true},
        {"one by one", 30, 20, {indices(30, 20, 30 * 20)}, 30 * 20, true},
        {"a pixel short", 61, 37, {indices(61, 37, 61 * 37 - 1), -1, GifCodes::Lzw}, 61 * 37 - 1, false},
        {"past the canvas, codes to its last row on it", 40, 10, {indices(61, 37, 9 * 61 + 40), -1, GifCodes::Lzw, false, 61, 37},
         9 * 61 + 40, true},
        {"past the canvas, a pixel short of it", 40, 10, {indices(61, 37, 9 * 61 + 39), -1, GifCodes::Lzw, false, 61, 37},
         9 * 61 + 39, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray gif = picture_bytes::MakeGif(c.width, c.height, {c.frame});
        const auto* data = reinterpret_cast<const unsigned char*>(gif.constData());
        ASSERT_EQ(GifFirstFrameComplete({data, std::size_t(gif.size())}), c.whole);
        if (!c.whole) continue;
        if (c.frame.width == 0) {
            const vistrel::DecodeResult qt = vistrel::DecodeWithQtReader(gif, 0);
            ASSERT_TRUE(qt);
            const QRgb colours[] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 255)};
            int wrong = 0;
            for (int i = 0; i < c.given; ++i) wrong += qt.surface->image().pixel(i % c.width, i / c.width) != colours[c.frame.indices[std::size_t(i)]];
            EXPECT_EQ(wrong, 0) << "the test's encoder";
        }
        // The data's sub-blocks, and where the terminator after them sits.
        const std::size_t codeSize = std::size_t(gif.indexOf(char(0x2C))) + 10;
        std::vector<std::size_t> blocks;
        std::size_t at = codeSize + 1;
        while (data[at] != 0) {
            blocks.push_back(at);
            at += std::size_t(data[at]) + 1;
        }
        const std::size_t terminator = at;
        for (std::size_t cut = 0; cut <= std::size_t(gif.size()); ++cut) {
            const std::vector<unsigned char> part(data, data + cut);
            ASSERT_EQ(GifFirstFrameComplete({part.data(), part.size()}), cut > terminator) << cut;
        }
        for (std::size_t kept = 0; kept < blocks.size(); ++kept) {
            std::vector<unsigned char> part(data, data + blocks[kept]);
            part.push_back(0);
            part.push_back(0x3B);
            ASSERT_FALSE(GifFirstFrameComplete({part.data(), part.size()})) << kept << " of " << blocks.size() << " sub-blocks";
        }
    }
}

// HEIF's boxes cut at every length: a size is read only from boxes that end inside the
// file, so a cut file claims none, and no box's contents are read past the cut. Each cut
// is tried in a buffer of its own (a read past it is the sanitizer's to see) and as the
// start of the whole file's buffer, where such a read would find the rest of the file.
TEST(HeaderReaders, BoxesAreReadOnlyWhereTheyEndInsideTheFile) {
    const auto box = [](const char* type, const Blob& payload, bool largeSize) {
        Blob b;
        const std::uint64_t n = payload.size() + (largeSize ? 16 : 8);
        const auto big32 = [&b](std::uint64_t v) {
            for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<unsigned char>((v >> shift) & 0xFF));
        };
        big32(largeSize ? 1 : n);
        b.insert(b.end(), type, type + 4);
        if (largeSize) {
            big32(n >> 32);
            big32(n & 0xFFFFFFFF);
        }
        b.insert(b.end(), payload.begin(), payload.end());
        return b;
    };
    const Blob full = {0, 0, 0, 0};  // a full box's version and flags
    Blob sides = full;
    for (const unsigned char byte : {0, 0, 2, 128, 0, 0, 1, 224}) sides.push_back(byte);  // 640 x 480
    for (const bool largeSize : {false, true}) {
        SCOPED_TRACE(largeSize ? "64-bit box sizes" : "32-bit box sizes");
        const Blob brand = box("ftyp", {'h', 'e', 'i', 'c', 0, 0, 0, 0, 'm', 'i', 'f', '1'}, false);
        Blob meta = full;
        const Blob properties = box("iprp", box("ipco", box("ispe", sides, largeSize), largeSize), largeSize);
        meta.insert(meta.end(), properties.begin(), properties.end());
        Blob file = brand;
        const Blob metaBox = box("meta", meta, largeSize);
        file.insert(file.end(), metaBox.begin(), metaBox.end());
        const ClaimedSize whole = HeifClaims({file.data(), file.size()}).largest;
        EXPECT_EQ(whole.width, 640);
        EXPECT_EQ(whole.height, 480);
        for (std::size_t cut = 0; cut <= file.size(); ++cut) {
            const std::vector<unsigned char> part(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
            for (const Bytes bytes : {Bytes(part.data(), part.size()), Bytes(file.data(), cut)}) {
                EXPECT_EQ(HeifClaims(bytes).largest.known(), cut == file.size()) << cut;
                EXPECT_EQ(BoxesRunToTheEnd(bytes), cut == 0 || cut == brand.size() || cut == file.size()) << cut;
            }
        }
    }
}

// PNG's chunks cut at every length: a chunk is told only once its whole frame (checksum
// included) is inside the file, in order, with its own data; only the whole file reaches
// its end chunk; a walk stops where it is told to. Each cut is tried in a buffer of its
// own and as the start of the whole file's buffer, as the boxes are.
TEST(HeaderReaders, PngChunksAreToldOnlyWhenTheirFramesEndInsideTheFile) {
    struct Chunk {
        const char* type;
        Blob data;
    };
    const std::vector<Chunk> chunks = {{"IHDR", Blob(13, 1)}, {"gAMA", {0, 1, 0x86, 0xA0}}, {"tEXt", {}},
                                       {"IDAT", Blob(300, 7)}, {"IDAT", Blob(70000, 9)}, {"IEND", {}}};
    Blob file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<std::size_t> ends;  // where each chunk's frame ends
    for (const Chunk& c : chunks) {
        for (int shift = 24; shift >= 0; shift -= 8) file.push_back(static_cast<unsigned char>((c.data.size() >> shift) & 0xFF));
        file.insert(file.end(), c.type, c.type + 4);
        file.insert(file.end(), c.data.begin(), c.data.end());
        file.insert(file.end(), {0xDE, 0xAD, 0xBE, 0xEF});  // the checksum, not the walker's to check
        ends.push_back(file.size());
    }
    for (std::size_t cut = 0; cut <= file.size(); ++cut) {
        const std::vector<unsigned char> part(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        const std::size_t whole = std::size_t(std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin());
        for (const Bytes bytes : {Bytes(part.data(), part.size()), Bytes(file.data(), cut)}) {
            std::size_t told = 0;
            const PngWalk walk = WalkPngChunks(bytes, [&](const PngChunk& chunk) {
                const Chunk& c = chunks[told++];
                EXPECT_TRUE(chunk.is(c.type)) << cut;
                EXPECT_TRUE(std::equal(chunk.data.begin(), chunk.data.end(), c.data.begin(), c.data.end())) << cut;
                EXPECT_EQ(chunk.storedCrc(), 0xDEADBEEFu) << cut;
                return true;
            });
            ASSERT_EQ(told, std::min(whole, chunks.size() - 1)) << cut;
            EXPECT_EQ(walk, cut == file.size() ? PngWalk::ReachedEnd : PngWalk::CutShort) << cut;
        }
    }
    std::size_t told = 0;
    const PngWalk stopped = WalkPngChunks({file.data(), file.size()}, [&](const PngChunk& chunk) {
        ++told;
        return !chunk.is("IDAT");
    });
    EXPECT_EQ(stopped, PngWalk::Stopped);
    EXPECT_EQ(told, 4u);
}

// An icon's PNG entries claim sides of 32 bits, whose areas overflow a signed product:
// the largest is still the one found, whichever comes first.
TEST(HeaderReaders, TheLargestIconEntryIsFoundWhateverItsSidesClaim) {
    const auto png = [](std::uint32_t width, std::uint32_t height) {
        Blob b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
        for (const std::uint32_t side : {width, height})
            for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<unsigned char>((side >> shift) & 0xFF));
        b.resize(b.size() + 9, 0);  // depth, kinds and the checksum, unread here
        return b;
    };
    const Blob largest = png(0xFFFFFFFF, 0xFFFFFFFF), smaller = png(0x80000000, 0xFFFFFFFF);
    for (const bool largestFirst : {true, false}) {
        const Blob& first = largestFirst ? largest : smaller;
        const Blob& second = largestFirst ? smaller : largest;
        Blob icon;
        Put16(icon, 0);
        Put16(icon, 1);
        Put16(icon, 2);
        const std::uint32_t firstAt = 6 + 2 * 16;
        for (const auto& [image, at] : {std::pair{&first, firstAt}, std::pair{&second, firstAt + std::uint32_t(first.size())}}) {
            for (const unsigned char byte : {0, 0, 0, 0, 1, 0, 32, 0}) icon.push_back(byte);  // 256 square, 32 bits
            Put32(icon, static_cast<std::uint32_t>(image->size()));
            Put32(icon, at);
        }
        icon.insert(icon.end(), first.begin(), first.end());
        icon.insert(icon.end(), second.begin(), second.end());
        const ClaimedSize found = OtherClaims({icon.data(), icon.size()}).largest;
        EXPECT_EQ(found.width, 0xFFFFFFFFll) << largestFirst;
        EXPECT_EQ(found.height, 0xFFFFFFFFll) << largestFirst;
    }
}

// The JPEG XL signatures as libjxl's own check takes them, without the library: every
// prefix of either signature, each with every byte after it, and random bytes.
TEST(HeaderReaders, JpegXlSignaturesAreLibjxlsOwn) {
    const std::vector<unsigned char> container{0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    const std::vector<unsigned char> codestream{0xFF, 0x0A};
    std::vector<std::vector<unsigned char>> files{{}};
    for (const auto* signature : {&container, &codestream})
        for (std::size_t length = 0; length <= signature->size(); ++length)
            for (int next = -1; next < 256; ++next) {
                std::vector<unsigned char> file(signature->begin(), signature->begin() + static_cast<std::ptrdiff_t>(length));
                if (next >= 0) file.push_back(static_cast<unsigned char>(next));
                files.push_back(file);
            }
    std::mt19937 rng(12);
    for (int k = 0; k < 20000; ++k) {
        std::vector<unsigned char> file(rng() % 16);
        for (unsigned char& b : file) b = static_cast<unsigned char>(rng() % 4 == 0 ? 0 : rng());
        files.push_back(file);
    }
    for (const std::vector<unsigned char>& file : files) {
        const JxlSignature signature = JxlSignatureCheck(file.data(), file.size());
        EXPECT_EQ(vistrel::headers::LooksLikeJxl(file), signature == JXL_SIG_CODESTREAM || signature == JXL_SIG_CONTAINER)
            << testing::PrintToString(file);
    }
}
