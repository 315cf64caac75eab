// The streaming JPEG decoder: the same pixels as Qt's reader, rows final when they are
// reported, corrupt data refused, and pictures turned upright as their EXIF says.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>

#include <cstdio>
#include <tuple>
#include <vector>

#include <jpeglib.h>

#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "decoding/readers/JpegDecode.h"
#include "decoding/readers/Orientation.h"

namespace {

using vistrel::DecodeError;
using vistrel::DecodePicture;
using vistrel::DecodeResult;
using vistrel::Pixel;
using vistrel::Surface;

constexpr vistrel::ColorValue kBackground = 0xC0C0C0;

// Smooth ramps with a fine texture, so that every block has detail and every band differs.
QImage Photo(int width, int height, QImage::Format format = QImage::Format_RGB32) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 255 / width + (x * 7 + y * 3) % 17) % 256, y * 255 / height,
                                      (x + y) * 127 / (width + height) + ((x ^ y) & 31)));
    return image.convertToFormat(format);
}

QByteArray Encode(const QImage& image, int quality = 90, bool progressive = false) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    EXPECT_TRUE(writer.write(image));
    return bytes;
}

// Qt's own reading of the bytes, as opaque 32-bit pixels.
QImage QtRead(const QByteArray& bytes, bool autoTransform) {
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(autoTransform);
    QImage image = reader.read();
    return image.convertToFormat(QImage::Format_RGB32);
}

// Counts the differing pixels, the fourth byte included.
std::size_t Differences(const QImage& a, const Surface& b) {
    if (a.size() != QSize(b.width(), b.height())) return std::size_t(-1);
    std::size_t count = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* row = reinterpret_cast<const Pixel*>(a.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) count += row[x] != b.row(y)[x];
    }
    return count;
}

// Records the decoder's reports and checks, at each, that every row reported so far
// already holds the pixels Qt decodes.
class Recorder : public vistrel::RowReceiver {
public:
    explicit Recorder(QImage expected, int stopAfter = -1) : expected_(std::move(expected)), stopAfter_(stopAfter) {}
    bool PictureStarted(Surface& picture) override {
        ++starts;
        picture_ = &picture;
        EXPECT_EQ(picture.width(), expected_.width());
        EXPECT_EQ(picture.height(), expected_.height());
        EXPECT_TRUE(reports.empty());
        return true;
    }
    bool RowsReady(int rows) override {
        EXPECT_EQ(starts, 1);
        EXPECT_GT(rows, reports.empty() ? 0 : reports.back());
        const int from = reports.empty() ? 0 : reports.back();
        for (int y = from; y < rows; ++y)
            wrongRows += std::memcmp(picture_->row(y), expected_.constScanLine(y),
                                     static_cast<std::size_t>(expected_.width()) * 4) != 0;
        reports.push_back(rows);
        return stopAfter_ < 0 || static_cast<int>(reports.size()) < stopAfter_;
    }
    void PictureDropped() override {
        EXPECT_EQ(starts, 1);
        ++drops;
    }
    int starts = 0;
    int drops = 0;
    int wrongRows = 0;
    std::vector<int> reports;

private:
    QImage expected_;
    int stopAfter_;
    Surface* picture_ = nullptr;
};

class Jpeg : public ::testing::Test {
protected:
    QString write(const QString& name, const QByteArray& bytes) const {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return dir.filePath(name);
    }
    QTemporaryDir dir;
};

// An APP1 segment holding a TIFF directory with one orientation entry.
QByteArray ExifSegment(int orientation, bool littleEndian) {
    QByteArray tiff;
    auto put16 = [&](int v) {
        if (littleEndian) tiff += char(v & 0xFF), tiff += char(v >> 8);
        else tiff += char(v >> 8), tiff += char(v & 0xFF);
    };
    auto put32 = [&](int v) {
        if (littleEndian) put16(v & 0xFFFF), put16(v >> 16);
        else put16(v >> 16), put16(v & 0xFFFF);
    };
    tiff += littleEndian ? "II" : "MM";
    put16(42);
    put32(8);
    put16(2);                                       // two entries: something else, then the orientation
    put16(0x010F), put16(2), put32(4), put32(0x00414141);  // Make "AAA"
    put16(0x0112), put16(3), put32(1), put16(orientation), put16(0);
    put32(0);
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xFF\xE1", 2);
    const int length = static_cast<int>(payload.size()) + 2;
    segment += char(length >> 8);
    segment += char(length & 0xFF);
    return segment + payload;
}

QByteArray WithExif(const QByteArray& jpeg, int orientation, bool littleEndian) {
    return jpeg.left(2) + ExifSegment(orientation, littleEndian) + jpeg.mid(2);
}

TEST_F(Jpeg, SamePixelsAsQtsReaderWithRowsFinalWhenReported) {
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    const std::vector<Case> cases{
        {"colour, several bands", Encode(Photo(1100, 700), 90)},
        {"odd size, low quality", Encode(Photo(37, 23), 30)},
        {"grey", Encode(Photo(300, 1000, QImage::Format_Grayscale8), 85)},
        {"progressive", Encode(Photo(640, 480), 75, true)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage expected = QtRead(c.bytes, false);
        ASSERT_FALSE(expected.isNull());
        Recorder recorder(expected);
        const DecodeResult result = DecodePicture(write("p.jpg", c.bytes), kBackground, &recorder);
        ASSERT_TRUE(result);
        EXPECT_EQ(Differences(expected, *result.surface), 0u);
        EXPECT_EQ(recorder.starts, 1);
        EXPECT_EQ(recorder.drops, 0);
        EXPECT_EQ(recorder.wrongRows, 0);
        ASSERT_FALSE(recorder.reports.empty());
        EXPECT_EQ(recorder.reports.back(), expected.height());
        // Without a receiver: the same picture.
        const DecodeResult plain = DecodePicture(write("p.jpg", c.bytes), kBackground);
        ASSERT_TRUE(plain);
        EXPECT_EQ(Differences(expected, *plain.surface), 0u);
    }
    // A picture of more than one band arrives in more than one report.
    Recorder recorder(QtRead(cases[0].bytes, false));
    ASSERT_TRUE(DecodePicture(write("p.jpg", cases[0].bytes), kBackground, &recorder));
    EXPECT_GE(recorder.reports.size(), 2u);
}

TEST_F(Jpeg, AReceiverCanStopTheDecode) {
    const QByteArray bytes = Encode(Photo(1100, 700));
    Recorder recorder(QtRead(bytes, false), 1);
    const DecodeResult result = DecodePicture(write("p.jpg", bytes), kBackground, &recorder);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.error, DecodeError::Cancelled);
    EXPECT_EQ(recorder.reports.size(), 1u);
    EXPECT_EQ(recorder.drops, 1);
    // Stopped on a picture decoded whole (turned upright first): dropped as well.
    Recorder turned(QtRead(WithExif(bytes, 3, true), true), 1);
    EXPECT_EQ(DecodePicture(write("t.jpg", WithExif(bytes, 3, true)), kBackground, &turned).error,
              DecodeError::Cancelled);
    EXPECT_EQ(turned.drops, 1);
}

// A frame header claiming a large picture, its scan header and at once the end-of-image
// marker: about a kilobyte that would decode to gigabytes of grey. Up to 64 megapixels
// the reader refuses it; beyond, the file is too small for its claim and is refused
// as such before any reader runs.
TEST_F(Jpeg, AScanWithoutDataIsRefusedNotFilledWithGrey) {
    const QByteArray small = Encode(Photo(16, 16));
    const qsizetype sof = small.indexOf("\xFF\xC0");
    const qsizetype sos = small.indexOf("\xFF\xDA");
    ASSERT_GT(sof, 0);
    ASSERT_GT(sos, sof);
    for (const auto& [width, height, error] : {std::tuple{8192, 8192, DecodeError::Unreadable},
                                               std::tuple{8192, 8193, DecodeError::TooManyPixelsForItsFile},
                                               std::tuple{32768, 32768, DecodeError::TooManyPixelsForItsFile}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        QByteArray empty = small;
        empty[sof + 5] = char(height >> 8), empty[sof + 6] = char(height & 0xFF);
        empty[sof + 7] = char(width >> 8), empty[sof + 8] = char(width & 0xFF);
        const int sosLength = (static_cast<unsigned char>(empty[sos + 2]) << 8) | static_cast<unsigned char>(empty[sos + 3]);
        empty = empty.left(sos + 2 + sosLength) + QByteArray("\xFF\xD9", 2);
        ASSERT_LT(empty.size(), 2048);
        const DecodeResult result = DecodePicture(write("empty.jpg", empty), kBackground);
        EXPECT_FALSE(result);
        EXPECT_EQ(result.error, error);
    }

    // Scrambled entropy data in the middle of a whole stream: refused as well.
    QByteArray damaged = Encode(Photo(256, 256));
    const qsizetype data = damaged.indexOf("\xFF\xDA") + 200;
    for (qsizetype i = data; i < data + 64; ++i)
        if (damaged[i] != char(0xFF) && damaged[i - 1] != char(0xFF)) damaged[i] = char(damaged[i] ^ 0x5A);
    EXPECT_EQ(DecodePicture(write("damaged.jpg", damaged), kBackground).error, DecodeError::Unreadable);
    // A scan cut short by the end marker, after some bands: the receiver has had rows
    // and then hears that its picture is gone.
    const QByteArray whole = Encode(Photo(1100, 700));
    const QByteArray cut = whole.left(whole.size() * 3 / 5) + QByteArray("\xFF\xD9", 2);
    Recorder recorder(QtRead(cut, false));
    EXPECT_EQ(DecodePicture(write("cut.jpg", cut), kBackground, &recorder).error, DecodeError::Unreadable);
    EXPECT_FALSE(recorder.reports.empty());
    EXPECT_EQ(recorder.starts, 1);
    EXPECT_EQ(recorder.drops, 1);
}

// Every EXIF orientation, in either byte order, gives the picture Qt's own reader
// turns upright.
TEST_F(Jpeg, PicturesAreTurnedUprightAsTheirExifSays) {
    const QByteArray plain = Encode(Photo(48, 32));
    for (const bool little : {true, false})
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(testing::Message() << orientation << (little ? " II" : " MM"));
            const QByteArray bytes = WithExif(plain, orientation, little);
            const QImage expected = QtRead(bytes, true);
            EXPECT_EQ(expected.size(), orientation >= 5 ? QSize(32, 48) : QSize(48, 32));
            Recorder recorder(expected);
            const DecodeResult result = DecodePicture(write("o.jpg", bytes), kBackground, &recorder);
            ASSERT_TRUE(result);
            EXPECT_EQ(Differences(expected, *result.surface), 0u);
            EXPECT_EQ(recorder.wrongRows, 0);
        }
    // Orientations out of range, or stored with the wrong type, leave the picture as stored.
    const QImage stored = QtRead(plain, false);
    for (const int bad : {0, 9, 300}) {
        const DecodeResult result = DecodePicture(write("bad.jpg", WithExif(plain, bad, true)), kBackground);
        ASSERT_TRUE(result);
        EXPECT_EQ(Differences(stored, *result.surface), 0u) << bad;
    }
    const QByteArray payload = ExifSegment(6, true).mid(4);
    const auto* p = reinterpret_cast<const unsigned char*>(payload.constData());
    EXPECT_EQ(vistrel::ExifOrientation(p, static_cast<std::size_t>(payload.size())), 6);
    // Cut anywhere before the orientation entry's end (only the next directory's offset follows it).
    for (qsizetype cut = 0; cut < payload.size() - 4; ++cut)
        EXPECT_EQ(vistrel::ExifOrientation(p, static_cast<std::size_t>(cut)), 1) << cut;
}

// CMYK streams are left to Qt's reader, which gives what it always gave.
TEST_F(Jpeg, CmykGoesToQtsReader) {
    constexpr int kWidth = 40, kHeight = 24;
    std::vector<unsigned char> cmyk(static_cast<std::size_t>(kWidth) * kHeight * 4);
    for (std::size_t k = 0; k < cmyk.size(); ++k) cmyk[k] = static_cast<unsigned char>((k * 37) % 251);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &out, &outSize);
    info.image_width = kWidth;
    info.image_height = kHeight;
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = cmyk.data() + static_cast<std::size_t>(info.next_scanline) * kWidth * 4;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(outSize));
    std::free(out);

    const QImage expected = QtRead(bytes, true);
    ASSERT_FALSE(expected.isNull());
    Recorder recorder(expected);
    const DecodeResult result = DecodePicture(write("cmyk.jpg", bytes), kBackground, &recorder);
    ASSERT_TRUE(result);
    EXPECT_EQ(Differences(expected, *result.surface), 0u);
    EXPECT_EQ(recorder.reports, std::vector<int>{kHeight});
    EXPECT_EQ(recorder.drops, 0);
    Recorder stopping(expected, 1);
    EXPECT_EQ(DecodePicture(write("cmyk.jpg", bytes), kBackground, &stopping).error, DecodeError::Cancelled);
    EXPECT_EQ(stopping.drops, 1);
}

}  // namespace
