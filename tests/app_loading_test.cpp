// Loading a picture: the fitted view, the full-size buffers, the no-picture
// state and every way a load can fail.

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <sys/stat.h>

#include <cmath>

#include "app_support.h"
#include "linescope/frmScope.h"
#include "vectorscope/frmVector.h"

using namespace vistrel;
using testing_support::Gradient;
using testing_support::Load;
using testing_support::StartedMain;
using testing_support::WritePicture;

namespace {

// Luma as the exact rational, halves to even, written apart from the kernels.
unsigned ExpectedLuma(unsigned r, unsigned g, unsigned b) {
    const long s = 299L * r + 587L * g + 114L * b;  // thousandths
    long q = s / 1000;
    const long rest = s % 1000;
    if (rest > 500 || (rest == 500 && q % 2 == 1)) ++q;
    return static_cast<unsigned>(q);
}

void ExpectNoPictureState(frmMain& w) {
    EXPECT_FALSE(w.model().loaded());
    EXPECT_EQ(Ctl<vistrel::PictureBox>(w, "picImg")->width(), 2);
    EXPECT_EQ(Ctl<vistrel::PictureBox>(w, "picImg")->height(), 334);
    EXPECT_TRUE(w.model().picture().pixels.empty());
    EXPECT_FALSE(Ctl<QFrame>(w, "fraChannels")->isVisible());
    EXPECT_FALSE(Ctl<QMenu>(w, "mnuSelectChannels")->isEnabled());
    EXPECT_TRUE(Ctl<QLabel>(w, "lblStatus")->text().isEmpty());
    EXPECT_TRUE(Ctl<QLabel>(w, "lblPosn")->text().isEmpty());
    for (int box = 0; box < 4; ++box) {
        const QImage& image = w.workspace().instrument<frmScope>()->boxSurface(box).image();
        for (int y = 0; y < image.height(); y += 17)
            for (int x = 0; x < image.width(); x += 13)
                ASSERT_EQ(image.pixel(x, y) & 0xFFFFFF, 0u) << "box " << box;
    }
}

class Loading : public ::testing::Test {
protected:
    QTemporaryDir dir;
    StartedMain w;
};

}  // namespace

TEST_F(Loading, SmallPictureIsEnlargedToTheViewsHeight) {
    const QImage picture = Gradient(100, 80);
    Load(*w, WritePicture(dir, "small.png", picture));
    ASSERT_TRUE(w->model().loaded());
    EXPECT_TRUE(w.fake().warnings.empty());

    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->height(), 334);
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->width(), 418);  // 334 / 0.8 = 417.5, halves to even
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->innerWidth(), 416);
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->innerHeight(), 332);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->minimum(), 0);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->maximum(), 99);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "vscrCross")->maximum(), 79);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "vscrCross")->pageStep(), 1);  // 80 \ 100 = 0, clamped to 1
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->pageStep(), 10);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->width(), 418);  // spans the picture

    // The full-size buffers: the file's bytes, luma in the fourth byte.
    const auto& pixels = w->model().picture().pixels;
    ASSERT_EQ(pixels.width(), 100u);
    ASSERT_EQ(pixels.height(), 80u);
    ASSERT_EQ(w->model().picture().histogram.total(), 100u * 80u);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 100; ++x) {
            const QRgb file = picture.pixel(x, y);
            const korvex::Pixel p = pixels.at(x, y);
            ASSERT_EQ(p & 0xFFFFFF, file & 0xFFFFFF) << x << "," << y;
            ASSERT_EQ(p >> 24, ExpectedLuma(qRed(file), qGreen(file), qBlue(file))) << x << "," << y;
        }

    // The view shows the model's picture as loaded.
    EXPECT_EQ(w->model().picture().viewPixels[0], Ctl<vistrel::PictureBox>(*w, "picImg")->surface().pixel(0, 0));

    EXPECT_TRUE(Ctl<QFrame>(*w, "fraChannels")->isVisible());
    EXPECT_TRUE(Ctl<QMenu>(*w, "mnuSelectChannels")->isEnabled());
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuSelectChroma")->isEnabled());
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuSelectNeg")->isEnabled());
    EXPECT_TRUE(Ctl<QLabel>(*w, "lblStatus")->text().isEmpty());
    EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->cursor().shape(), Qt::CrossCursor);
}

TEST_F(Loading, LargePictureIsReducedAndStepsByTens) {
    Load(*w, WritePicture(dir, "large.bmp", Gradient(3000, 2000)));
    ASSERT_TRUE(w->model().loaded());
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->width(), 501);
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->height(), 334);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "vscrCross")->pageStep(), 10);  // 2000 \ 100 = 20, clamped to 10
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->maximum(), 2999);
    EXPECT_EQ(w->model().picture().pixels.width(), 3000u);
    EXPECT_EQ(w->model().picture().pixels.height(), 2000u);
    EXPECT_GT(w->model().picture().scaleX, 1.0f);
}

TEST_F(Loading, VeryWidePictureTakesTheWindowsWidthAndAHeightThatFollows) {
    const int room = w->centralWidget()->width() - Ctl<vistrel::PictureBox>(*w, "picImg")->x();
    Load(*w, WritePicture(dir, "wide.bmp", Gradient(4000, 500)));
    ASSERT_TRUE(w->model().loaded());
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->width(), room);  // 334 x 8 = 2672 would run past the window
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->height(), 64);   // 512 x 0.125
    EXPECT_EQ(Ctl<QScrollBar>(*w, "vscrCross")->pageStep(), 5);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "vscrCross")->height(), 64);  // the vertical bar spans the picture too
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->x() + Ctl<QScrollBar>(*w, "hscrCross")->width(),
              w->centralWidget()->width() - 4);
    // The last column is on screen and probes the picture's last column.
    Ctl<vistrel::PictureBox>(*w, "picImg")->onMouseDown(1, 0, static_cast<float>(w->model().picture().viewMaxX), 0);
    EXPECT_EQ(Ctl<QLabel>(*w, "lblPosn")->text(), "3992 / 000");

    // A picture that fits afterwards is as tall as ever, and Clear leaves the design height.
    Load(*w, WritePicture(dir, "small.bmp", Gradient(100, 80)));
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->height(), 334);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "vscrCross")->height(), 334);
    Load(*w, WritePicture(dir, "wide.bmp", Gradient(4000, 500)));
    Ctl<QPushButton>(*w, "cmdReset")->click();
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->height(), 334);
}

TEST_F(Loading, ExtremeProportionsKeepTheViewBetweenOnePixelAndTheWindow) {
    Load(*w, WritePicture(dir, "panorama.bmp", Gradient(20000, 10)));
    ASSERT_TRUE(w->model().loaded());
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->innerHeight(), 1);  // 512 x 0.0005 rounds to nothing
    EXPECT_EQ(w->model().picture().viewPixels.size(),
              static_cast<std::size_t>(Ctl<vistrel::PictureBox>(*w, "picImg")->innerWidth()));

    Load(*w, WritePicture(dir, "needle.bmp", Gradient(2, 3000)));
    ASSERT_TRUE(w->model().loaded());
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->innerWidth(), 1);  // 334 / 1500 rounds to nothing
    Ctl<vistrel::PictureBox>(*w, "picImg")
        ->onMouseDown(1, 0, 5, 100);  // pinned to the one column: 100 x 3000 / 332 = 903.6
    EXPECT_EQ(Ctl<QLabel>(*w, "lblPosn")->text(), "000 / 904");
}

TEST_F(Loading, TransparentAreasTakeTheWindowBackground) {
    QImage icon(32, 32, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    for (int y = 8; y < 24; ++y)
        for (int x = 8; x < 24; ++x) icon.setPixel(x, y, qRgb(200, 10, 20));
    Load(*w, WritePicture(dir, "clear.ico", icon));
    ASSERT_TRUE(w->model().loaded());
    const QColor base = w->palette().color(QPalette::Base);
    EXPECT_EQ(w->model().picture().pixels.at(0, 0) & 0xFFFFFF, base.rgb() & 0xFFFFFF);
    EXPECT_EQ(w->model().picture().pixels.at(16, 16) & 0xFFFFFF, 0xC80A14u);
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->surface().pixel(0, 0), base.rgb() & 0xFFFFFF);
}

TEST_F(Loading, EveryFailureReportsThePathAndEndsWithNoPicture) {
    const QString good = WritePicture(dir, "good.png", Gradient(40, 30));

    QFile corrupt(dir.filePath("corrupt.jpg"));
    corrupt.open(QIODevice::WriteOnly);
    corrupt.write("\xFF\xD8\xFF\xE0 this is no JPEG at all");
    corrupt.close();

    QFile gif(dir.filePath("truncated.gif"));
    gif.open(QIODevice::WriteOnly);
    gif.write(QByteArray("GIF89a\x10\x00\x10\x00\x80\x00\x00", 13));
    gif.close();

    // A BMP header that claims 40000 x 40000 pixels, with no pixels after it.
    QByteArray bmp(54, '\0');
    bmp[0] = 'B';
    bmp[1] = 'M';
    const auto put32 = [&bmp](int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    put32(2, 54);
    put32(10, 54);
    put32(14, 40);
    put32(18, 40000);
    put32(22, 40000);
    bmp[26] = 1;
    bmp[28] = 24;
    QFile huge(dir.filePath("huge.bmp"));
    huge.open(QIODevice::WriteOnly);
    huge.write(bmp);
    huge.close();
    // The same header claiming 30000 x 30000 pixels: far more than its bytes could hold.
    put32(18, 30000);
    put32(22, 30000);
    QFile bomb(dir.filePath("bomb.bmp"));
    bomb.open(QIODevice::WriteOnly);
    bomb.write(bmp);
    bomb.close();

    const QString fifo = dir.filePath("pipe");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);

    QFile text(dir.filePath("notes.png"));
    text.open(QIODevice::WriteOnly);
    text.write("plain words, whatever the name says");
    text.close();

    const std::pair<QString, const char*> cases[] = {
        {dir.filePath("missing.png"), "Not found."},
        {dir.path(), "A folder."},
        {fifo, "Not a regular file."},
        {QString(), "No file named."},
        {dir.filePath("notes.png"), "Not a picture format Vistrel reads."},
        {dir.filePath("corrupt.jpg"), "Damaged or cut short."},
        {dir.filePath("truncated.gif"), "Damaged or cut short."},
        {dir.filePath("huge.bmp"), "Larger than 32768 pixels a side."},
        {dir.filePath("bomb.bmp"), "Claims more pixels than its file could hold."}};
    for (const auto& [path, reason] : cases) {
        Load(*w, good);
        ASSERT_TRUE(w->model().loaded());
        EXPECT_EQ(w->windowTitle(), "Vistrel - good.png");
        w.fake().warnings.clear();
        Load(*w, path);
        ASSERT_EQ(w.fake().warnings.size(), 1u) << path.toStdString();
        EXPECT_EQ(w.fake().warnings[0].first, "Could not load " + path + "\n" + reason);
        EXPECT_EQ(w.fake().warnings[0].second, "Picture Load Error");
        EXPECT_EQ(w->windowTitle(), "Vistrel");
        ExpectNoPictureState(*w);
        EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor);
    }
}

// Pictures of as many bytes follow each other into one buffer; each shows exactly its
// own pixels and counts, whatever came before it, a load that failed among them.
TEST_F(Loading, EachPictureHasExactlyItsOwnPixelsWhateverCameBefore) {
    const QImage wide = Gradient(300, 200);
    const QImage tall = Gradient(200, 300).mirrored(true, false);
    const QString widePath = WritePicture(dir, "wide.png", wide);
    const QString tallPath = WritePicture(dir, "tall.png", tall);
    QFile cut(dir.filePath("cut.png"));
    QFile whole(widePath);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly) && cut.open(QIODevice::WriteOnly));
    cut.write(whole.readAll().left(static_cast<qsizetype>(whole.size() / 2)));
    cut.close();

    const auto expectShows = [&](const QImage& picture) {
        ASSERT_TRUE(w->model().loaded());
        const auto& pixels = w->model().picture().pixels;
        ASSERT_EQ(pixels.width(), static_cast<std::size_t>(picture.width()));
        ASSERT_EQ(pixels.height(), static_cast<std::size_t>(picture.height()));
        korvex::LevelCounts counted;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                const QRgb file = picture.pixel(x, y);
                const unsigned luma = ExpectedLuma(qRed(file), qGreen(file), qBlue(file));
                ASSERT_EQ(pixels.at(x, y), (file & 0xFFFFFFu) | (luma << 24)) << x << "," << y;
                ++counted.bins[korvex::LevelCounts::R][qRed(file)];
                ++counted.bins[korvex::LevelCounts::G][qGreen(file)];
                ++counted.bins[korvex::LevelCounts::B][qBlue(file)];
                ++counted.bins[korvex::LevelCounts::Y][luma];
            }
        EXPECT_TRUE(w->model().picture().levels == counted);
        EXPECT_EQ(w->model().picture().histogram.total(), std::uint64_t(picture.width()) * std::uint64_t(picture.height()));
    };
    Load(*w, widePath);
    expectShows(wide);
    const korvex::Pixel* const buffer = &w->model().picture().pixels.at(0, 0);
    Load(*w, tallPath);
    expectShows(tall);
    EXPECT_EQ(&w->model().picture().pixels.at(0, 0), buffer);  // the wide picture's, cleared and filled again
    Load(*w, cut.fileName());
    ExpectNoPictureState(*w);
    Load(*w, widePath);
    expectShows(wide);
    EXPECT_EQ(w.fake().warnings.size(), 1u);
}

// Notes, at each repaint of the status line, whether it said "Working..." under
// the hourglass while the picture was still undecoded.
class BusyWatch : public QObject {
public:
    explicit BusyWatch(frmMain& w) : w_(w) { Ctl<QLabel>(w, "lblStatus")->installEventFilter(this); }
    bool shownBeforeDecoding = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && Ctl<QLabel>(w_, "lblStatus")->text() == "Working..." &&
            w_.cursor().shape() == Qt::WaitCursor && w_.model().picture().pixels.empty())
            shownBeforeDecoding = true;
        return false;
    }

private:
    frmMain& w_;
};

TEST_F(Loading, TheHourglassShowsWhileDecodingButNotUnderTheMessage) {
    BusyWatch busy(*w);
    Load(*w, WritePicture(dir, "busy.png", Gradient(64, 48)));
    EXPECT_TRUE(busy.shownBeforeDecoding);
    EXPECT_TRUE(Ctl<QLabel>(*w, "lblStatus")->text().isEmpty());

    QString statusAtMessage = "unset";
    Qt::CursorShape cursorAtMessage = Qt::WaitCursor;
    w.fake().onWarning = [&] {
        statusAtMessage = Ctl<QLabel>(*w, "lblStatus")->text();
        cursorAtMessage = w->cursor().shape();
    };
    Load(*w, dir.filePath("missing.png"));
    EXPECT_EQ(statusAtMessage, "");
    EXPECT_EQ(cursorAtMessage, Qt::ArrowCursor);
}

TEST_F(Loading, ClearEmptiesEverythingAndLaterClicksDoNothing) {
    Load(*w, WritePicture(dir, "clear.png", Gradient(64, 48)));
    ASSERT_TRUE(w->model().loaded());
    Ctl<QPushButton>(*w, "cmdReset")->click();
    ExpectNoPictureState(*w);
    EXPECT_TRUE(w.fake().warnings.empty());
    // The vectorscope shows its bare graticule.
    const QImage& plot = w->workspace().instrument<frmVector>()->surface().image();
    EXPECT_EQ(plot.pixel(128, 128) & 0xFFFFFF, 0x808000u);
    EXPECT_EQ(plot.pixel(60, 60) & 0xFFFFFF, 0u);
    // A press on the emptied view starts no probe.
    Ctl<vistrel::PictureBox>(*w, "picImg")->onMouseDown(1, 2, 1, 1);
    EXPECT_FALSE(w->model().picture().probe.dragging);
    EXPECT_FALSE(Ctl<QScrollBar>(*w, "hscrCross")->isVisible());
}
