#pragma once
// One check for a reader that streams: the pixels Qt's reader and the shared conversion
// give, against the reader's rows as they land (in process, into a band sink, and through
// the worker), and a cut copy of the file that must fail without showing a row.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <vector>

#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "decoding/readers/QtDecode.h"
#include "decoding/worker/WorkerClient.h"

namespace streaming_check {

using vistrel::ColorValue;
using vistrel::DecodeError;
using vistrel::DecodeResult;
using vistrel::Surface;

// What the program showed before any reader streamed: Qt's reader, then the shared conversion.
inline QImage QtPath(const QByteArray& bytes, ColorValue background) {
    const DecodeResult qt = vistrel::DecodeWithQtReader(bytes, background);
    return qt ? qt.surface->image() : QImage();
}

inline bool SameRows(const uchar* a, const uchar* b, int width) { return std::memcmp(a, b, std::size_t(width) * 4) == 0; }

// Checks at every report that the rows reported so far already hold their final pixels.
class Recorder final : public vistrel::RowReceiver {
public:
    explicit Recorder(const QImage& expected) : expected_(expected) {}
    bool PictureStarted(Surface& picture) override {
        ++starts;
        picture_ = &picture;
        return true;
    }
    bool RowsReady(int rows) override {
        EXPECT_GT(rows, reported);
        if (!expected_.isNull())
            for (int y = reported; y < rows; ++y)
                wrongRows += !SameRows(picture_->image().constScanLine(y), expected_.constScanLine(y), expected_.width());
        reported = rows;
        ++reports;
        return true;
    }
    void PictureDropped() override { ++drops; }
    int starts = 0, drops = 0, reported = 0, reports = 0, wrongRows = 0;

private:
    const QImage& expected_;
    Surface* picture_ = nullptr;
};

// Gathers the bands a worker would write into the rows pipe.
class Gatherer final : public vistrel::BandSink {
public:
    bool Start(int width, int height) override {
        picture = QImage(width, height, QImage::Format_RGB32);
        return !picture.isNull();
    }
    bool Put(int first, int count, const uchar* rows) override {
        EXPECT_EQ(first, next);
        for (int i = 0; i < count; ++i)
            std::memcpy(picture.scanLine(first + i), rows + std::size_t(i) * picture.width() * 4, std::size_t(picture.width()) * 4);
        next = first + count;
        return true;
    }
    QImage picture;
    int next = 0;
};

// The file decodes to the expected pixels every way the program decodes it, a large one
// that streams in many bands; its first half fails, and so does all of it but the last byte.
inline void ExpectDecodesTo(const QByteArray& bytes, const QImage& expected, ColorValue background,
                            const QTemporaryDir& dir, bool inWorker, bool streams = true) {
    ASSERT_FALSE(expected.isNull());
    {
        Recorder recorder(expected);
        const DecodeResult here = vistrel::DecodePictureBytes({bytes, std::nullopt}, background, &recorder);
        ASSERT_TRUE(here);
        ASSERT_EQ(here.surface->image().size(), expected.size());
        EXPECT_EQ(recorder.reported, expected.height());
        EXPECT_EQ(recorder.wrongRows, 0);
        EXPECT_EQ(recorder.drops, 0);
        // A large picture streams: the analysis can start long before its last row.
        if (streams && expected.width() * expected.height() >= 1000000) {
            EXPECT_GE(recorder.reports, 8);
        }
    }
    {
        Gatherer sink;
        const DecodeResult here = vistrel::DecodePictureBytes({bytes, std::nullopt}, background, nullptr, &sink);
        ASSERT_TRUE(here);
        // A reader that streams leaves the picture with the sink; one that does not returns it.
        const QImage& got = here.surface->isNull() ? sink.picture : here.surface->image();
        ASSERT_EQ(got.size(), expected.size());
        for (int y = 0; y < expected.height(); ++y)
            ASSERT_TRUE(SameRows(got.constScanLine(y), expected.constScanLine(y), expected.width())) << "sink row " << y;
    }
    const QString path = dir.filePath("picture");
    if (inWorker) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        const DecodeResult there = vistrel::DecodeInWorker(path, background);
        ASSERT_TRUE(there) << int(there.error);
        for (int y = 0; y < expected.height(); ++y)
            ASSERT_TRUE(SameRows(there.surface->image().constScanLine(y), expected.constScanLine(y), expected.width()))
                << "worker row " << y;
    }
    // Cut short: a failure, and the picture shown to the receiver is dropped.
    for (const qsizetype cut : {bytes.size() / 2, bytes.size() - 1}) {
        Recorder recorder(QImage{});
        const DecodeResult short_ = vistrel::DecodePictureBytes({bytes.left(cut), std::nullopt}, background, &recorder);
        EXPECT_FALSE(short_) << "cut to " << cut;
        EXPECT_EQ(short_.error, DecodeError::Unreadable) << "cut to " << cut;
        EXPECT_EQ(recorder.starts, recorder.drops);
    }
}

// The file decodes to Qt's pixels every way the program decodes it (ExpectDecodesTo).
inline void ExpectSameAsQt(const QByteArray& bytes, ColorValue background, const QTemporaryDir& dir, bool inWorker,
                           bool streams = true) {
    ExpectDecodesTo(bytes, QtPath(bytes, background), background, dir, inWorker, streams);
}

}  // namespace streaming_check
