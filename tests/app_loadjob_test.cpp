// A load runs off the GUI thread: its streamed analysis equals the whole-picture
// kernels, Esc cancels it quietly, and no other input reaches the window meanwhile.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImageWriter>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>

#include "app/PictureLoad.h"
#include "app_support.h"
#include "kernels/area.h"
#include "decoding/Decode.h"
#include "decoding/Readers.h"

using namespace vistrel;
using testing_support::Load;
using testing_support::StartedMain;

namespace {

// A JPEG big enough to arrive in many bands, with a texture that reaches many pairs.
QString WriteJpeg(const QTemporaryDir& dir, const QString& name, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 255 / width + (x * 13 + y * 7) % 29) % 256, (y * 255 / height) ^ (x & 15),
                                      (x + 2 * y) % 256));
    const QString path = dir.filePath(name);
    QImageWriter writer(path, "jpeg");
    writer.setQuality(85);
    EXPECT_TRUE(writer.write(image));
    return path;
}

class ThreadCountGuard {
public:
    explicit ThreadCountGuard(int count) { korvex::SetThreadCount(count); }
    ~ThreadCountGuard() { korvex::SetThreadCount(0); }
};

class LoadJob : public ::testing::Test {
protected:
    QTemporaryDir dir;
    StartedMain w;
};

TEST_F(LoadJob, StreamedAnalysisEqualsTheWholePictureKernelsAtAnyThreadCount) {
    const QString path = WriteJpeg(dir, "bands.jpg", 1500, 900);
    // The reference: the decoded picture analysed whole, the view resampled whole.
    DecodeResult decoded = DecodePicture(path, Ctl<vistrel::PictureBox>(*w, "picHidden")->background());
    ASSERT_TRUE(decoded);
    QImage& image = decoded.surface->image();
    std::vector<Pixel> pixels(reinterpret_cast<Pixel*>(image.bits()),
                              reinterpret_cast<Pixel*>(image.bits()) + std::size_t{1500} * 900);
    std::vector<Pixel> expectedPixels = pixels;
    const korvex::UvHistogram expectedHistogram = korvex::AnalysePixels(expectedPixels);

    for (const int threads : {1, 2, 3}) {
        SCOPED_TRACE(threads);
        const ThreadCountGuard guard(threads);
        Load(*w, path);
        ASSERT_TRUE(w->model().loaded());
        const int Wv = Ctl<vistrel::PictureBox>(*w, "picImg")->innerWidth(),
                  Hv = Ctl<vistrel::PictureBox>(*w, "picImg")->innerHeight();
        std::vector<Pixel> expectedView(static_cast<std::size_t>(Wv) * Hv);
        korvex::ResampleArea(pixels.data(), 1500, 900, 1500, expectedView.data(), Wv, Hv);
        ASSERT_EQ(w->model().picture().viewPixels.size(), expectedView.size());
        for (std::size_t k = 0; k < expectedView.size(); ++k)
            ASSERT_EQ(w->model().picture().viewPixels[k], expectedView[k] & 0xFFFFFF) << k;
        const korvex::PixelGrid& loaded = w->model().picture().pixels;
        ASSERT_EQ(loaded.size(), expectedPixels.size());
        ASSERT_TRUE(std::equal(expectedPixels.begin(), expectedPixels.end(), loaded.data()));
        ASSERT_TRUE(std::ranges::equal(w->model().picture().histogram.cells(), expectedHistogram.cells()));
    }
}

// A picture stored on its side with an EXIF orientation is loaded upright.
TEST_F(LoadJob, APictureStoredOnItsSideIsLoadedUpright) {
    const QString stored = WriteJpeg(dir, "side.jpg", 60, 40);
    QFile file(stored);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray jpeg = file.readAll();
    file.close();
    // APP1: "Exif", a little-endian TIFF header and one entry, orientation 6.
    const QByteArray exif = QByteArray("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 32);
    QByteArray turned = jpeg.left(2) + QByteArray("\xFF\xE1", 2);
    turned += char(0), turned += char(exif.size() + 2);
    turned += exif + jpeg.mid(2);
    const QString path = dir.filePath("turned.jpg");
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(turned);
    out.close();

    Load(*w, path);
    ASSERT_TRUE(w->model().loaded());
    EXPECT_EQ(w->model().picture().pixels.width(), 40u);
    EXPECT_EQ(w->model().picture().pixels.height(), 60u);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->maximum(), 39);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "vscrCross")->maximum(), 59);
}

TEST_F(LoadJob, EscCancelsIntoTheNoPictureStateWithoutAMessage) {
    const QString path = WriteJpeg(dir, "cancel.jpg", 1200, 800);
    Load(*w, path);
    ASSERT_TRUE(w->model().loaded());
    // Posted now, the key reaches the window while the next load runs.
    QCoreApplication::postEvent(w.window.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    Load(*w, path);
    EXPECT_FALSE(w->model().loaded());
    EXPECT_TRUE(w.fake().warnings.empty());
    EXPECT_TRUE(w->model().picture().pixels.empty());
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->width(), 2);
    EXPECT_TRUE(Ctl<QLabel>(*w, "lblStatus")->text().isEmpty());
    EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor);
    // The next load is not affected.
    Load(*w, path);
    EXPECT_TRUE(w->model().loaded());
}

// A stream that breaks off after some bands have been analysed fails as any bad file does.
TEST_F(LoadJob, AStreamBrokenHalfwayFailsWithTheMessage) {
    const QString whole = WriteJpeg(dir, "whole.jpg", 1500, 900);
    QFile file(whole);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const QString path = dir.filePath("broken.jpg");
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes.left(bytes.size() * 2 / 3) + QByteArray("\xFF\xD9", 2));
    out.close();
    for (int k = 0; k < 3; ++k) {
        w.fake().warnings.clear();
        Load(*w, path);
        EXPECT_FALSE(w->model().loaded());
        ASSERT_EQ(w.fake().warnings.size(), 1u);
        EXPECT_EQ(w.fake().warnings[0].first, "Could not load " + path + "\nDamaged or cut short.");
        EXPECT_TRUE(w->model().picture().pixels.empty());
    }
}

TEST_F(LoadJob, OtherInputWaitsOutTheLoadUnheard) {
    const QString path = WriteJpeg(dir, "busy.jpg", 800, 600);
    QPushButton* clear = Ctl<QPushButton>(*w, "cmdReset");
    const QPoint middle = clear->rect().center();
    const QPointF global = clear->mapToGlobal(QPointF(middle));
    QCoreApplication::postEvent(clear, new QMouseEvent(QEvent::MouseButtonPress, QPointF(middle), global,
                                                       Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(clear, new QMouseEvent(QEvent::MouseButtonRelease, QPointF(middle), global,
                                                       Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    QCoreApplication::postEvent(w.window.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier));
    QCoreApplication::postEvent(w.window.get(), new QCloseEvent);
    Load(*w, path);
    EXPECT_TRUE(w->model().loaded());
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w.fake().warnings.empty());
    // Outside a load the same click clears the picture.
    QCoreApplication::postEvent(clear, new QMouseEvent(QEvent::MouseButtonPress, QPointF(middle), global,
                                                       Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(clear, new QMouseEvent(QEvent::MouseButtonRelease, QPointF(middle), global,
                                                       Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    QCoreApplication::processEvents();
    EXPECT_FALSE(w->model().loaded());
}

TEST(LoadProgress, TextAndReasons) {
    EXPECT_EQ(ProgressText(-1), "Working...");
    EXPECT_EQ(ProgressText(0), "Working... 0 %");
    EXPECT_EQ(ProgressText(42), "Working... 42 %");
    EXPECT_EQ(ProgressText(100), "Working... 100 %");
    // The reasons no file of a test can bring about on demand.
    EXPECT_EQ(FailureReason(DecodeError::OutOfMemory, "a.jpg"), "not enough memory");
    EXPECT_EQ(FailureReason(DecodeError::WorkerStopped, "a.jpg"), "the decoder stopped");
}

}  // namespace
