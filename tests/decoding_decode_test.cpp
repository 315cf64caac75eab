#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPalette>
#include <QTemporaryDir>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <future>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/types.h>
#include <unistd.h>
#include <zlib.h>

#include "picture_bytes.h"
#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "formats/FileHeaders.h"
#include "decoding/worker/WorkerClient.h"
#include "support.h"

using namespace vistrel;
using namespace picture_bytes;

namespace {

constexpr ColorValue kBackground = 0x00336699;  // 0x00BBGGRR: red 0x99, green 0x66, blue 0x33
constexpr Pixel kBackgroundPixel = 0x996633;    // the same colour as the surface reads it

// A picture with distinct rows and columns, so a shift or a flip shows.
QImage Pattern(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, (x + y) % 2 ? 200 : 40));
    return image;
}

int MaxChannelDifference(Pixel a, Pixel b) {
    int worst = 0;
    for (int shift : {0, 8, 16}) worst = std::max(worst, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
    return worst;
}

class Decode : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    QString write(const QString& name, const QByteArray& bytes) const {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path(name);
    }
    static QByteArray encode(const QImage& image, const char* format, int quality = -1) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        writer.setQuality(quality);
        EXPECT_TRUE(writer.write(image)) << format;
        return bytes;
    }
    QTemporaryDir dir;
};

void ExpectFailure(const DecodeResult& result, DecodeError error) {
    EXPECT_FALSE(result);
    EXPECT_FALSE(result.surface.has_value());
    EXPECT_EQ(result.error, error);
}

}  // namespace

// ---- formats ---------------------------------------------------------------

TEST_F(Decode, JpegWithinCompressionTolerance) {
    QImage source(64, 48, QImage::Format_RGB32);
    source.fill(qRgb(200, 40, 90));
    for (int y = 0; y < 48; ++y)
        for (int x = 32; x < 64; ++x) source.setPixel(x, y, qRgb(30, 180, 220));
    const QString file = write("p.jpg", encode(source, "jpeg", 95));
    const DecodeResult result = DecodePicture(file, kBackground);
    ASSERT_TRUE(result);
    ASSERT_EQ(result.surface->width(), 64);
    ASSERT_EQ(result.surface->height(), 48);
    EXPECT_LE(MaxChannelDifference(result.surface->pixel(8, 8), 0xC8285A), 6);
    EXPECT_LE(MaxChannelDifference(result.surface->pixel(56, 40), 0x1EB4DC), 6);
    // Every pixel is opaque: the fourth byte is 0xFF.
    EXPECT_EQ(result.surface->row(0)[0] >> 24, 0xFFu);
}

TEST_F(Decode, NameIsTakenByContentNotBySuffix) {
    const QImage source = Pattern(5, 4);
    const DecodeResult result = DecodePicture(write("really-a-png.jpg", encode(source, "png")), kBackground);
    ASSERT_TRUE(result);
    EXPECT_EQ(result.surface->pixel(4, 3), source.pixel(4, 3) & 0xFFFFFFu);
}

TEST_F(Decode, GifGivesItsFirstFrame) {
    const int w = 6, h = 4;
    GifFrame first, second;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) first.indices.push_back(static_cast<unsigned char>((x + 2 * y) % 3));
    second.indices.assign(w * h, 3);
    const DecodeResult result = DecodePicture(write("a.gif", MakeGif(w, h, {first, second})), kBackground);
    ASSERT_TRUE(result);
    ASSERT_EQ(result.surface->width(), w);
    ASSERT_EQ(result.surface->height(), h);
    const Pixel colours[] = {0xFF0000, 0x00FF00, 0x0000FF};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) EXPECT_EQ(result.surface->pixel(x, y), colours[(x + 2 * y) % 3]) << x << "," << y;
}

TEST_F(Decode, TransparentAreasTakeTheBackground) {
    // A GIF whose index 0 is transparent.
    GifFrame frame;
    frame.indices = {0, 1, 2, 0};
    frame.transparentIndex = 0;
    const DecodeResult gif = DecodePicture(write("t.gif", MakeGif(2, 2, {frame})), kBackground);
    ASSERT_TRUE(gif);
    EXPECT_EQ(gif.surface->pixel(0, 0), kBackgroundPixel);
    EXPECT_EQ(gif.surface->pixel(1, 0), 0x00FF00u);
    EXPECT_EQ(gif.surface->pixel(0, 1), 0x0000FFu);
    EXPECT_EQ(gif.surface->pixel(1, 1), kBackgroundPixel);

    // A PNG: clear, opaque and half-covered pixels.
    QImage source(4, 1, QImage::Format_ARGB32);
    source.setPixel(0, 0, qRgba(255, 255, 255, 0));
    source.setPixel(1, 0, qRgba(10, 20, 30, 255));
    source.setPixel(2, 0, qRgba(255, 255, 255, 128));
    source.setPixel(3, 0, qRgba(255, 255, 255, 64));
    const DecodeResult png = DecodePicture(write("t.png", encode(source, "png")), kBackground);
    ASSERT_TRUE(png);
    EXPECT_EQ(png.surface->image().format(), QImage::Format_RGB32);
    EXPECT_EQ(png.surface->pixel(0, 0), kBackgroundPixel);
    EXPECT_EQ(png.surface->pixel(1, 0), 0x0A141Eu);
    // White at 128/255 over (0x99, 0x66, 0x33): 255*128/255 + c*127/255.
    EXPECT_EQ(png.surface->pixel(2, 0), 0xCCB399u);
    // At 64/255 red's remainder is above a half (179.09 rounded; 178 truncated).
    EXPECT_EQ(png.surface->pixel(3, 0), 0xB38C66u);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(png.surface->row(0)[x] >> 24, 0xFFu);
}

TEST_F(Decode, IconGivesItsLargestImage) {
    const QString file = write("multi.ico", MakeIco({{16, qRgba(255, 0, 0, 255)},
                                                     {32, qRgba(0, 0, 255, 255), true},
                                                     {24, qRgba(0, 255, 0, 255)}}));
    const DecodeResult result = DecodePicture(file, kBackground);
    ASSERT_TRUE(result);
    ASSERT_EQ(result.surface->width(), 32);
    ASSERT_EQ(result.surface->height(), 32);
    EXPECT_EQ(result.surface->pixel(31, 31), 0x0000FFu);
    EXPECT_EQ(result.surface->pixel(20, 5), 0x0000FFu);
    // The clear quarter, top left, shows the background.
    EXPECT_EQ(result.surface->pixel(0, 0), kBackgroundPixel);
    EXPECT_EQ(result.surface->pixel(15, 15), kBackgroundPixel);
    EXPECT_EQ(result.surface->pixel(16, 15), 0x0000FFu);
}

TEST_F(Decode, IconWrittenByQt) {
    QImage source(20, 20, QImage::Format_ARGB32);
    source.fill(qRgba(0, 128, 0, 255));
    source.setPixel(3, 4, qRgba(0, 0, 0, 0));
    const DecodeResult result = DecodePicture(write("one.ico", encode(source, "ico")), kBackground);
    ASSERT_TRUE(result);
    ASSERT_EQ(result.surface->width(), 20);
    EXPECT_EQ(result.surface->pixel(3, 4), kBackgroundPixel);
    EXPECT_EQ(result.surface->pixel(4, 4), 0x008000u);
}

TEST_F(Decode, MetafileAtItsNaturalSize) {
    const DecodeResult result = DecodePicture(write("rect.wmf", MakeWmf()), kBackground);
    ASSERT_TRUE(result);
    ASSERT_EQ(result.surface->width(), 96);
    ASSERT_EQ(result.surface->height(), 48);
    EXPECT_EQ(result.surface->image().format(), QImage::Format_RGB32);
    EXPECT_EQ(result.surface->pixel(48, 24), 0xFF0000u);
    EXPECT_EQ(result.surface->pixel(30, 16), 0xFF0000u);
    EXPECT_EQ(result.surface->pixel(2, 2), kBackgroundPixel);
    EXPECT_EQ(result.surface->pixel(93, 45), kBackgroundPixel);
    EXPECT_EQ(result.surface->row(0)[0] >> 24, 0xFFu);
}

TEST_F(Decode, PathsAreTakenAsTheyAre) {
    const QByteArray png = encode(Pattern(3, 2), "png");
    const QString odd = write(QString::fromUtf8(" bild \xC3\xA4\xE2\x82\xAC \xF0\x9F\x8E\xA8 "), png);
    EXPECT_TRUE(DecodePicture(odd, kBackground));
    // Not trimmed: the name without its spaces is another (missing) file.
    ExpectFailure(DecodePicture(odd.trimmed(), kBackground), DecodeError::NotFound);

    // A symbolic link to a regular file is fine.
    ASSERT_EQ(::symlink(QFile::encodeName(odd).constData(), QFile::encodeName(path("link.png")).constData()), 0);
    EXPECT_TRUE(DecodePicture(path("link.png"), kBackground));

    // A long name through nested folders.
    QString deep = dir.path();
    for (int i = 0; i < 30; ++i) deep += "/" + QString(60, QChar('a' + i % 26));
    ASSERT_TRUE(QDir().mkpath(deep));
    QFile f(deep + "/p.png");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(png);
    f.close();
    EXPECT_TRUE(DecodePicture(deep + "/p.png", kBackground));
}

// ---- failures --------------------------------------------------------------

TEST_F(Decode, NamesThatAreNoPicture) {
    ExpectFailure(DecodePicture(QString(), kBackground), DecodeError::EmptyName);
    ExpectFailure(DecodePicture(path("missing.jpg"), kBackground), DecodeError::NotFound);
    ExpectFailure(DecodePicture(path("missing/inside.jpg"), kBackground), DecodeError::NotFound);
    ExpectFailure(DecodePicture(dir.path(), kBackground), DecodeError::NotARegularFile);
    ExpectFailure(DecodePicture("/dev/null", kBackground), DecodeError::NotARegularFile);
    ExpectFailure(DecodePicture("/dev/zero", kBackground), DecodeError::NotARegularFile);
}

TEST_F(Decode, FifoIsRefusedWithoutOpeningIt) {
    const QByteArray fifo = QFile::encodeName(path("pipe.jpg"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    // Opening a FIFO for reading blocks until a writer comes; the decode must
    // not, so it runs aside and is given a bounded time.
    auto pending = std::async(std::launch::async, [&] { return DecodePicture(path("pipe.jpg"), kBackground); });
    if (pending.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Release the stuck reader so the test can end, then fail.
        const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        FAIL() << "decoding a FIFO blocked";
    }
    ExpectFailure(pending.get(), DecodeError::NotARegularFile);
}

TEST_F(Decode, ContentThatIsNoPicture) {
    ExpectFailure(DecodePicture(write("empty.png", {}), kBackground), DecodeError::Unreadable);
    // No reader takes it, whatever its name says; the readers that do take the others find them damaged.
    ExpectFailure(DecodePicture(write("text.bmp", "hello, this is not a picture\n"), kBackground),
                  DecodeError::NotAPicture);

    QByteArray jpeg = encode(Pattern(64, 64), "jpeg", 90);
    QByteArray corrupt = jpeg;
    for (qsizetype i = 2; i < 40; ++i) corrupt[i] = char(0x5A);  // the segment headers scrambled
    ExpectFailure(DecodePicture(write("corrupt.jpg", corrupt), kBackground), DecodeError::Unreadable);

    const QByteArray png = encode(Pattern(64, 64), "png");
    ExpectFailure(DecodePicture(write("cut.png", png.left(png.size() / 2)), kBackground), DecodeError::Unreadable);
}

TEST_F(Decode, BrokenMetafilesAreRefused) {
    const QByteArray wmf = MakeWmf();
    QByteArray noInch = wmf;
    SetLe16(noInch, 14, 0);  // zero units per inch
    ExpectFailure(DecodePicture(write("noinch.wmf", noInch), kBackground), DecodeError::Unreadable);
    // Cut inside the records, and records of absurd sizes: refused, never a crash.
    ExpectFailure(DecodePicture(write("cut.wmf", wmf.left(22 + 18 + 7)), kBackground), DecodeError::Unreadable);
    QByteArray absurd = wmf;
    for (qsizetype at = 40; at + 4 <= absurd.size(); at += 4) SetLe16(absurd, at, 0xFFFF);
    const DecodeResult result = DecodePicture(write("absurd.wmf", absurd), kBackground);
    if (result) {
        EXPECT_EQ(result.surface->width(), 96);
    }
}

TEST_F(Decode, TruncatedJpegIsRefused) {
    const QByteArray jpeg = encode(Pattern(128, 96), "jpeg", 90);
    ASSERT_TRUE(DecodePicture(write("whole.jpg", jpeg), kBackground));
    for (double kept : {0.3, 0.7, 0.99}) {
        const QByteArray cut = jpeg.left(static_cast<qsizetype>(jpeg.size() * kept));
        ExpectFailure(DecodePicture(write("cut.jpg", cut), kBackground), DecodeError::Unreadable);
    }
    // Only the end-of-image marker missing.
    ExpectFailure(DecodePicture(write("noeoi.jpg", jpeg.left(jpeg.size() - 2)), kBackground), DecodeError::Unreadable);
    // Bytes after the end-of-image marker are harmless.
    EXPECT_TRUE(DecodePicture(write("tail.jpg", jpeg + QByteArray(100, '\0')), kBackground));
    QByteArray progressiveBytes;
    {
        QBuffer buffer(&progressiveBytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setProgressiveScanWrite(true);
        ASSERT_TRUE(writer.write(Pattern(128, 96)));
    }
    EXPECT_TRUE(DecodePicture(write("progressive.jpg", progressiveBytes), kBackground));
    ExpectFailure(DecodePicture(write("progressive-cut.jpg", progressiveBytes.left(progressiveBytes.size() * 2 / 3)),
                                kBackground),
                  DecodeError::Unreadable);
}

TEST_F(Decode, TruncatedGifIsRefused) {
    GifFrame frame;
    for (int i = 0; i < 32 * 16; ++i) frame.indices.push_back(static_cast<unsigned char>(i % 3));
    const QByteArray gif = MakeGif(32, 16, {frame});
    ASSERT_TRUE(DecodePicture(write("whole.gif", gif), kBackground));
    const qsizetype dataStart = 6 + 7 + 12 + 8 + 10;  // header, screen, table, control, descriptor
    for (qsizetype cut : {dataStart + 1, (dataStart + gif.size()) / 2, gif.size() - 3}) {
        SCOPED_TRACE(cut);
        ExpectFailure(DecodePicture(write("cut.gif", gif.left(cut)), kBackground), DecodeError::Unreadable);
    }
    // An 800 x 600 picture whose data keeps only its first tenth or half of sub-blocks, then
    // ends as a whole file does: with the data's terminator and the trailer.
    GifFrame photo;
    photo.codes = GifCodes::Lzw;
    for (int i = 0; i < 800 * 600; ++i) photo.indices.push_back(static_cast<unsigned char>((i % 800 / 50 + i / 800 / 40) % 4));
    const QByteArray whole = MakeGif(800, 600, {photo});
    const DecodeResult loaded = DecodePicture(write("photo.gif", whole), kBackground);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded.surface->pixel(799, 599), 0x00FF00u);  // the last pixel: index 1, green
    std::vector<qsizetype> blocks;
    for (qsizetype at = whole.indexOf(char(0x2C)) + 11; whole[at] != 0; at += qsizetype(uchar(whole[at])) + 1) blocks.push_back(at);
    for (const std::size_t kept : {blocks.size() / 10, blocks.size() / 2}) {
        SCOPED_TRACE(kept);
        const QByteArray cut = whole.left(blocks[kept]) + QByteArray("\x00\x3B", 2);
        ExpectFailure(DecodePicture(write("cut.gif", cut), kBackground), DecodeError::Unreadable);
    }
}

// The size our own header walkers read, which sets the decoder's limits before any
// reader runs, is the size the readers decode; and no cut of a file makes them read
// past its end.
TEST_F(Decode, HeaderWalkersReadTheSizeTheReadersDecode) {
    for (const auto& [width, height] : {std::pair{1, 1}, std::pair{37, 23}, std::pair{300, 7}}) {
        const QImage source = Pattern(width, height);
        std::vector<QByteArray> files;
        for (const char* format : {"png", "bmp", "tiff", "webp", "jpeg", "ppm", "pgm", "pbm", "ico"})
            files.push_back(encode(format == std::string("ico") ? source.scaled(std::min(width, 256), std::min(height, 256))
                                                                 : source,
                                   format));
        GifFrame frame;
        frame.indices.assign(std::size_t(width) * height, 1);
        files.push_back(MakeGif(width, height, {frame}));
        for (const QByteArray& bytes : files) {
            const DecodeResult decoded = DecodePicture(write("f", bytes), kBackground);
            ASSERT_TRUE(decoded) << bytes.left(4).toHex().toStdString();
            // Through the reader table: the row that takes the file walks its header.
            const headers::Bytes whole(reinterpret_cast<const unsigned char*>(bytes.constData()), std::size_t(bytes.size()));
            const headers::ClaimedSize claimed = ReaderFor(whole).claims(whole).largest;
            EXPECT_EQ(claimed.width, decoded.surface->width()) << bytes.left(4).toHex().toStdString();
            EXPECT_EQ(claimed.height, decoded.surface->height()) << bytes.left(4).toHex().toStdString();
            for (qsizetype cut = 0; cut < std::min<qsizetype>(bytes.size(), 600); ++cut) {
                const std::vector<unsigned char> part(bytes.begin(), bytes.begin() + cut);
                for (const Reader& reader : Readers()) (void)reader.claims({part.data(), part.size()});
            }
        }
    }
}

// What the worker loads before it is confined is told from bytes at fixed places alone:
// every row that takes a file (or any cut of it) has its library among those loaded for
// it; and where the first bytes name the one reader of Qt's that takes a file, that
// reader alone reads it exactly as Qt's search through all of its readers does.
TEST_F(Decode, FirstBytesLoadEveryReaderAFileMayReachAndQtsNamedReaderReadsAsItsSearchWould) {
    std::vector<QByteArray> files;
    const QImage source = Pattern(37, 23);
    for (const char* format : {"png", "bmp", "tiff", "webp", "jpeg", "ppm", "ico"}) files.push_back(encode(source, format));
    GifFrame frame;
    frame.indices.assign(37 * 23, 1);
    files.push_back(MakeGif(37, 23, {frame}));
    files.push_back(MakeWmf());
    QStringList folders{QStringLiteral(VISTREL_SOURCE_DIR "/tests/hostile")};
    for (const QString& target : QDir(VISTREL_SOURCE_DIR "/fuzz/corpus").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        folders.append(QStringLiteral(VISTREL_SOURCE_DIR "/fuzz/corpus/") + target);
    for (const QString& folder : folders)
        for (const QString& name : QDir(folder).entryList(QDir::Files)) {
            QFile file(QDir(folder).filePath(name));
            if (file.size() < 64 * 1024 * 1024 && file.open(QIODevice::ReadOnly)) files.push_back(file.readAll());
        }
    ASSERT_GT(files.size(), 100u);
    std::size_t namedFiles = 0;
    for (const QByteArray& bytes : files) {
        const std::string head = bytes.left(12).toHex().toStdString();
        for (qsizetype cut = 0; cut <= bytes.size(); cut = cut < 64 ? cut + 1 : bytes.size() + (cut == bytes.size())) {
            const headers::Bytes part(reinterpret_cast<const unsigned char*>(bytes.constData()), std::size_t(cut));
            const ReaderLibraries loaded = LibrariesFor(part);
            for (const Reader& reader : Readers()) {
                if (!reader.sniff(part)) continue;
                EXPECT_TRUE(reader.gate == nullptr || reader.gate(part)) << reader.name << " " << head << " cut " << cut;
                EXPECT_TRUE(reader.library == ReaderLibrary::Own || loaded.test(std::size_t(reader.library)))
                    << reader.name << " " << head << " cut " << cut;
            }
        }
        const headers::Bytes whole(reinterpret_cast<const unsigned char*>(bytes.constData()), std::size_t(bytes.size()));
        const char* format = QtFormatFor(whole);
        if (format == nullptr) continue;
        ++namedFiles;
        // Qt's search, and the reader the first bytes name: the same reader, which finds the
        // same picture. (Its pixels are not compared: for some damaged files Qt's readers
        // leave rows as their memory happened to hold them.)
        QByteArray formats[2];
        QImage pictures[2];
        bool reads[2] = {};
        for (const int named : {0, 1}) {
            QByteArray copy = bytes;
            QBuffer buffer(&copy);
            buffer.open(QIODevice::ReadOnly);
            QImageReader reader(&buffer);
            if (named == 1) {
                reader.setFormat(format);
                reader.setAutoDetectImageFormat(false);
            }
            reads[named] = reader.canRead();
            formats[named] = reader.format();
            pictures[named] = reader.read();
        }
        EXPECT_EQ(reads[0], reads[1]) << format << " " << head;
        if (reads[0]) {
            EXPECT_EQ(formats[0], formats[1]) << head;
        }
        EXPECT_EQ(pictures[0].size(), pictures[1].size()) << format << " " << head;
        EXPECT_EQ(pictures[0].format(), pictures[1].format()) << format << " " << head;
    }
    EXPECT_GT(namedFiles, 20u);
}

TEST_F(Decode, HeaderSizesOutOfRangeAreRefusedBeforeDecoding) {
    ExpectFailure(DecodePicture(write("huge.bmp", BmpHeaderOnly(40000, 40000)), kBackground), DecodeError::TooLarge);
    ExpectFailure(DecodePicture(write("wide.bmp", BmpHeaderOnly(40000, 1)), kBackground), DecodeError::TooLarge);
    ExpectFailure(DecodePicture(write("tall.bmp", BmpHeaderOnly(1, -40000)), kBackground), DecodeError::TooLarge);
    ExpectFailure(DecodePicture(write("zero.bmp", BmpHeaderOnly(0, 10)), kBackground), DecodeError::TooLarge);
    ExpectFailure(DecodePicture(write("flat.bmp", BmpHeaderOnly(10, 0)), kBackground), DecodeError::TooLarge);

    // A JPEG whose frame header claims 40000 x 40000, and one claiming a zero height.
    const QByteArray jpeg = encode(Pattern(16, 16), "jpeg", 90);
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    QByteArray huge = jpeg;
    SetBe16(huge, sof + 5, 40000);
    SetBe16(huge, sof + 7, 40000);
    ExpectFailure(DecodePicture(write("huge.jpg", huge), kBackground), DecodeError::TooLarge);
    QByteArray flat = jpeg;
    SetBe16(flat, sof + 5, 0);
    ExpectFailure(DecodePicture(write("flat.jpg", flat), kBackground), DecodeError::TooLarge);

    // A GIF screen of 40000 x 40000.
    GifFrame frame;
    frame.indices = {0};
    QByteArray gif = MakeGif(1, 1, {frame});
    SetLe16(gif, 6, 40000);
    SetLe16(gif, 8, 40000);
    ExpectFailure(DecodePicture(write("huge.gif", gif), kBackground), DecodeError::TooLarge);

    // A metafile whose bounding box is empty.
    QByteArray wmf = MakeWmf();
    SetLe16(wmf, 10, 0);  // right = left
    ExpectFailure(DecodePicture(write("flat.wmf", wmf), kBackground), DecodeError::TooLarge);
}

TEST_F(Decode, LargeSideWithinTheLimitIsNotRefused) {
    // Over Qt's default 128 MiB image allocation limit as a 32-bit picture
    // (6000 x 6000 x 4 bytes), yet within the program's own limits: it decodes.
    QImage source(6000, 6000, QImage::Format_RGB32);
    source.fill(qRgb(12, 34, 56));
    source.setPixel(5999, 5999, qRgb(250, 1, 2));
    const QString file = write("big.png", encode(source, "png", 90));
    source = QImage();
    const DecodeResult result = DecodePicture(file, kBackground);
    ASSERT_TRUE(result);
    EXPECT_EQ(result.surface->width(), 6000);
    EXPECT_EQ(result.surface->pixel(5999, 5999), 0xFA0102u);
    EXPECT_EQ(result.surface->pixel(0, 0), 0x0C2238u);

    // A header at exactly the largest side passes the size check (the pixels
    // are missing, so it then fails as unreadable, not as too large).
    const DecodeResult edge = DecodePicture(write("edge.bmp", BmpHeaderOnly(kMaxPictureSide, 1)), kBackground);
    EXPECT_FALSE(edge);
    EXPECT_NE(edge.error, DecodeError::TooLarge);
}

// ---- files cut short -------------------------------------------------------

// Every format Qt writes, whole and cut at many lengths: the whole file gives
// exactly what Qt's own reader gives, and a cut file either fails or (when
// only trailing bytes the reader never needs were cut) gives the whole
// picture. A reader that stops early and leaves rows unwritten, or colours
// unread, shows up as a difference. The lossless ones keep every pixel of their source.
TEST_F(Decode, CutFilesFailOrGiveTheWholePicture) {
    const QImage rgb = Pattern(37, 23);
    const QImage palette = rgb.convertToFormat(QImage::Format_Indexed8);
    struct Case {
        const char* format;
        const QImage* source;
    };
    const Case cases[] = {{"bmp", &rgb}, {"bmp", &palette}, {"tiff", &rgb}, {"tiff", &palette}, {"png", &rgb},
                          {"ppm", &rgb}, {"xbm", &rgb},     {"ico", &rgb},  {"webp", &rgb},     {"jpeg", &rgb}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + (c.source == &palette ? " with a palette" : ""));
        const QByteArray whole = encode(*c.source, c.format);
        QImage expected = QImage::fromData(whole, c.format).convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(expected.isNull());
        const DecodeResult full = DecodePicture(write("whole", whole), kBackground);
        ASSERT_TRUE(full);
        ASSERT_EQ(full.surface->image(), expected);
        ASSERT_EQ(full.surface->image().format(), QImage::Format_RGB32);
        const std::string_view format(c.format);
        if (format == "bmp" || format == "png" || format == "tiff" || format == "ppm") {
            EXPECT_EQ(expected, c.source->convertToFormat(QImage::Format_RGB32));
        }

        const qsizetype step = std::max<qsizetype>(1, whole.size() / 37);
        std::vector<qsizetype> cuts;
        for (qsizetype cut = 1; cut < whole.size(); cut += step) cuts.push_back(cut);
        for (qsizetype back = 1; back <= 8 && back < whole.size(); ++back) cuts.push_back(whole.size() - back);
        for (const qsizetype cut : cuts) {
            const DecodeResult part = DecodePicture(write("part", whole.left(cut)), kBackground);
            if (part) {
                ASSERT_EQ(part.surface->image(), expected) << "cut at " << cut << " of " << whole.size();
            }
        }
    }
}

TEST_F(Decode, BitmapShortOfItsRowsFailsBeforeItsRowsAreAllocated) {
    // Uncompressed BMPs of each header kind: every row must be in the file.
    QByteArray bmp = encode(Pattern(37, 23), "bmp");
    ExpectFailure(DecodePicture(write("short.bmp", bmp.left(bmp.size() - 1)), kBackground), DecodeError::Unreadable);
    // The header claims the largest picture; a few bytes follow.
    QByteArray huge = BmpHeaderOnly(kMaxPictureSide, kMaxPictureSide) + QByteArray(300, '\x7f');
    ExpectFailure(DecodePicture(write("huge.bmp", huge), kBackground), DecodeError::TooManyPixelsForItsFile);
    // The oldest header: 12 bytes, 16-bit sides.
    QByteArray core("BM");
    PutLe32(core, 26 + 2 * 8);
    PutLe32(core, 0);
    PutLe32(core, 26);
    PutLe32(core, 12);
    PutLe16(core, 2);
    PutLe16(core, 2);
    PutLe16(core, 1);
    PutLe16(core, 24);
    core.append("\x00\x00\xff\x00\xff\x00\x00\x00\xff\x00\x00\xff\xff\xff\x00\x00", 16);
    const DecodeResult whole = DecodePicture(write("core.bmp", core), kBackground);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole.surface->pixel(0, 1), 0xFF0000u);  // bottom-up: the first row stored is the last shown
    EXPECT_EQ(whole.surface->pixel(1, 0), 0xFFFFFFu);
    ExpectFailure(DecodePicture(write("core-cut.bmp", core.left(core.size() - 4)), kBackground), DecodeError::Unreadable);
}

namespace {

int messagesSeen = 0;
void CountMessage(QtMsgType, const QMessageLogContext&, const QString&) { ++messagesSeen; }

// Counts the messages Qt and its readers print while it lives.
class MessageCount {
public:
    MessageCount() : previous_(qInstallMessageHandler(CountMessage)) { messagesSeen = 0; }
    ~MessageCount() { qInstallMessageHandler(previous_); }
    int seen() const { return messagesSeen; }

private:
    QtMessageHandler previous_;
};

}  // namespace

TEST_F(Decode, IconDirectoryClaimingMoreThanTheFileHoldsIsReadQuietly) {
    const QByteArray two = MakeIco({{16, qRgba(255, 0, 0, 255)}, {24, qRgba(0, 255, 0, 255)}});
    // The count claims every entry a directory can have; the file holds two.
    QByteArray claimsAll = two;
    SetLe16(claimsAll, 4, 0xFFFF);
    // The second entry's image lies past the end of the file.
    QByteArray pastTheEnd = two;
    SetLe16(pastTheEnd, 6 + 16 + 12, 0xFFF0);
    SetLe16(pastTheEnd, 6 + 16 + 14, 0x7FFF);
    // The count claims a third entry, whose directory bytes are not there.
    QByteArray cutDirectory = two.left(6 + 16 * 2 + 5);
    SetLe16(cutDirectory, 4, 3);

    struct Case {
        const char* name;
        const QByteArray* bytes;
        int side;  // of the picture given; 0 when it fails
    };
    for (const Case& c : {Case{"claims-all.ico", &claimsAll, 24}, Case{"past-the-end.ico", &pastTheEnd, 16},
                          Case{"cut-directory.ico", &cutDirectory, 0}}) {
        SCOPED_TRACE(c.name);
        MessageCount messages;
        const DecodeResult result = DecodePicture(write(c.name, *c.bytes), kBackground);
        EXPECT_LE(messages.seen(), 8);
        if (c.side == 0) {
            ExpectFailure(result, DecodeError::Unreadable);
        } else {
            ASSERT_TRUE(result);
            EXPECT_EQ(result.surface->width(), c.side);
        }
    }
}

namespace {

// An uncompressed one-strip TIFF claiming width x height, with 16 bytes of
// strip data whatever it claims.
QByteArray TiffClaiming(std::uint32_t width, std::uint32_t height, unsigned compression, unsigned photometric) {
    struct Entry {
        unsigned tag, type;
        std::uint32_t value;
    };
    constexpr unsigned kShort = 3, kLong = 4;
    constexpr std::uint32_t kStripAt = 128;
    const Entry entries[] = {{256, kLong, width}, {257, kLong, height}, {258, kShort, 8},
                             {259, kShort, compression}, {262, kShort, photometric}, {273, kLong, kStripAt},
                             {277, kShort, 1},    {278, kLong, height},   {279, kLong, 16}};
    QByteArray b("II*\0", 4);
    PutLe32(b, 8);
    PutLe16(b, std::size(entries));
    for (const Entry& e : entries) {
        PutLe16(b, e.tag);
        PutLe16(b, e.type);
        PutLe32(b, 1);
        if (e.type == kShort) {
            PutLe16(b, e.value);
            PutLe16(b, 0);
        } else {
            PutLe32(b, e.value);
        }
    }
    PutLe32(b, 0);
    b.append(QByteArray(kStripAt - b.size(), '\0'));
    b.append(QByteArray(16, '\x55'));
    return b;
}

}  // namespace

// In a process whose address space leaves no room for the pictures the files
// claim: a reader that fails for want of memory is told from one that fails
// on the file's content, and no allocation of the claimed size is made to
// tell them apart (it would fail there and call every bad file out of memory).
TEST_F(Decode, OutOfMemoryIsToldFromABadFileWithoutAllocatingWhatTheFileClaims) {
    if (testing_support::kUnderAddressSanitizer) GTEST_SKIP() << "the sanitizer's allocator does not survive a capped address space";
    // Claims of 64 megapixels, the most a file of any size may make.
    const QString badContent = write("unknown.tiff", TiffClaiming(8192, 8192, 99, 1));  // no such compression
    const QString needsMemory = write("cmyk.tiff", TiffClaiming(8192, 8192, 1, 5));  // read into 256 MB
    const QString shortBitmap = write("short.bmp", BmpHeaderOnly(8192, 8192) + QByteArray(300, '\x7f'));
    // The readers are loaded here, before the address space is capped.
    ASSERT_TRUE(DecodePicture(write("small.tiff", encode(Pattern(4, 4), "tiff")), kBackground));
    ASSERT_TRUE(DecodePicture(write("small.bmp", encode(Pattern(4, 4), "bmp")), kBackground));

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
            std::fclose(statm);
        }
        constexpr rlim_t kRoom = rlim_t{96} << 20;  // far below the 256 MB a claimed picture needs
        const rlimit cap{static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + kRoom,
                         RLIM_INFINITY};
        if (pages == 0 || ::setrlimit(RLIMIT_AS, &cap) != 0) ::_exit(100);
        int wrong = 0;
        if (DecodePicture(badContent, kBackground).error != DecodeError::Unreadable) wrong |= 1;
        if (DecodePicture(needsMemory, kBackground).error != DecodeError::OutOfMemory) wrong |= 2;
        if (DecodePicture(shortBitmap, kBackground).error != DecodeError::Unreadable) wrong |= 4;
        ::_exit(wrong);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the decoding process died";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: bad content, 2: out of memory, 4: short bitmap misjudged";
}

namespace {

// A PNG's signature and header chunk claiming width x height, then `filler` bytes of
// nothing the reader can use.
QByteArray PngClaiming(std::uint32_t width, std::uint32_t height, qsizetype filler) {
    QByteArray header("IHDR");
    for (const std::uint32_t side : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8) header.append(char((side >> shift) & 0xFF));
    header.append("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
    const auto crc = std::uint32_t(::crc32(0, reinterpret_cast<const Bytef*>(header.constData()), uInt(header.size())));
    QByteArray b("\x89PNG\r\n\x1a\n\0\0\0\x0d", 12);
    b.append(header);
    for (int shift = 24; shift >= 0; shift -= 8) b.append(char((crc >> shift) & 0xFF));
    return b + QByteArray(filler, '\0');
}

QByteArray Box(const char* type, const QByteArray& payload) {
    const auto n = quint32(payload.size() + 8);
    const char size[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    return QByteArray(size, 4) + QByteArray(type, 4) + payload;
}

}  // namespace

// Over 64 megapixels a file must hold a byte for every 128 of the pixels its header
// claims; one that does not is refused as such, whatever its format, in process and in
// the worker alike, before any reader runs. Claims within the rule go on to the readers
// (which refuse these files' missing pixels as unreadable).
TEST_F(Decode, AClaimItsFileCannotHoldIsRefusedAsSuchInProcessAndInTheWorker) {
    // 8192 x 8193 pixels need 524352 bytes of file.
    constexpr qsizetype kPngHeaderBytes = 33;
    constexpr qsizetype kEnough = 524352;
    GifFrame frame;
    frame.indices = {0};
    QByteArray gif = MakeGif(1, 1, {frame});
    SetLe16(gif, 6, 30000);
    SetLe16(gif, 8, 30000);
    QByteArray webp("RIFF\0\0\0\0WEBPVP8X\x0a\0\0\0\x10\0\0\0", 24);
    webp.append("\x2f\x75\0\x2f\x75\0", 6);  // a canvas of 30000 x 30000
    webp.append(QByteArray(64, '\0'));
    SetLe16(webp, 4, unsigned(webp.size() - 8));
    const QByteArray ispe = Box("ispe", QByteArray(4, '\0') + QByteArray("\0\0\x75\x30\0\0\x75\x30", 8));
    const QByteArray heif = Box("ftyp", QByteArray("heic\0\0\0\0mif1", 12)) +
                            Box("meta", QByteArray(4, '\0') + Box("iprp", Box("ipco", ispe))) + QByteArray(200, '\0');
    QByteArray icon;
    PutLe16(icon, 0);
    PutLe16(icon, 1);
    PutLe16(icon, 1);
    icon.append(QByteArray("\0\0\0\0\x01\0\x20\0", 8));
    PutLe32(icon, 100);
    PutLe32(icon, 22);
    icon.append(PngClaiming(30000, 30000, 100));
    const struct {
        const char* name;
        QByteArray bytes;
        bool refusedForItsClaim;
    } files[] = {
        {"taken at any size.png", PngClaiming(8192, 8192, 300), false},
        {"a byte for every 128 pixels.png", PngClaiming(8192, 8193, kEnough - kPngHeaderBytes), false},
        {"a byte short.png", PngClaiming(8192, 8193, kEnough - kPngHeaderBytes - 1), true},
        {"30000 square.png", PngClaiming(30000, 30000, 2600000), true},
        {"30000 square.gif", gif, true},
        {"30000 square.webp", webp, true},
        {"30000 square.heic", heif, true},
        {"30000 square.tiff", TiffClaiming(30000, 30000, 1, 1), true},
        {"30000 square in an icon.ico", icon, true},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.name);
        const QString name = write(file.name, file.bytes);
        const DecodeResult here = DecodePicture(name, kBackground);
        EXPECT_FALSE(here);
        if (file.refusedForItsClaim) {
            EXPECT_EQ(here.error, DecodeError::TooManyPixelsForItsFile);
        } else {
            EXPECT_EQ(here.error, DecodeError::Unreadable);
        }
        EXPECT_EQ(DecodeInWorker(name, kBackground).error, here.error);
    }
}
