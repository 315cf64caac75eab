// The probe on the real main window: mapping the pointer to full-size pixels,
// the readouts, the crosshair that must leave the view exactly as it found it,
// locking with Ctrl, the size readout of the right button, and the instruments
// going back to the whole picture.

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QLocale>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>

#include <cstdint>
#include <span>

#include "app_view_fixture.h"
#include "kernels/area.h"
#include "linescope/frmScope.h"
#include "platform/ScaledRaster.h"
#include "vectorscope/frmVector.h"

namespace {

using korvex::Pixel;
using view_testing::Gradient;
using view_testing::Picture;
using view_testing::Rgb;
using view_testing::SameBits;
using view_testing::ViewNow;
using view_testing::WithCrosshair;
using vistrel::frmScope;
using vistrel::frmVector;

class ProbeTest : public view_testing::MainWindowTest {
protected:
    QString Posn() { return Ctl<QLabel>(*w, "lblPosn")->text(); }
    QString Status() { return Ctl<QLabel>(*w, "lblStatus")->text(); }
    QColor Patch() { return Ctl<QFrame>(*w, "shpPatch")->palette().color(QPalette::Window); }
    QColor Background() { return w->palette().color(QPalette::Window); }

    // What the view should show with a crosshair through view pixel (x, y).
    std::vector<Pixel> Crossed(int x, int y) {
        return WithCrosshair(Rgb(w->model().picture().viewWork), viewWidth(), viewHeight(), x, y);
    }
    // The readout a full-size pixel gives: red, green, blue, luma.
    QString ValuesOf(int column, int row) {
        const Pixel p = w->model().picture().pixels.at(static_cast<std::size_t>(column), static_cast<std::size_t>(row));
        return QString("%1, %2, %3, %4")
            .arg((p >> 16) & 0xFF, 3, 10, QChar('0'))
            .arg((p >> 8) & 0xFF, 3, 10, QChar('0'))
            .arg(p & 0xFF, 3, 10, QChar('0'))
            .arg(p >> 24, 3, 10, QChar('0'));
    }
};

// The windows repaint in the order the program redraws them: on a press the view
// (crosshair, readouts, patch), then the vectorscope's probe mark, then the line scope's
// trace; on the release the view again, then the vectorscope's plot, then the waveform.
TEST_F(ProbeTest, APressAndItsReleaseRedrawTheViewThenTheVectorscopeThenTheLineScope) {
    LoadPicture(Gradient(640, 480));
    QCoreApplication::processEvents();
    struct Repaints : QObject {
        std::vector<QString> windows;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::UpdateRequest) windows.push_back(watched->objectName());
            return false;
        }
    } repaints;
    qApp->installEventFilter(&repaints);
    Press(100, 50);
    QCoreApplication::processEvents();
    Release(100, 50);
    QCoreApplication::processEvents();
    qApp->removeEventFilter(&repaints);
    EXPECT_EQ(repaints.windows,
              (std::vector<QString>{"frmMain", "frmVector", "frmScope", "frmMain", "frmVector", "frmScope"}));
}

TEST_F(ProbeTest, PressShowsTheMappedPixelAndDragFollows) {
    LoadPicture(Gradient(640, 480));
    Press(100, 50);
    const int column = ColumnOf(100);
    const int row = RowOf(50);
    EXPECT_EQ(column, 144);  // 100 x 640 / 443 = 144.47
    EXPECT_EQ(row, 72);      // 50 x 480 / 332 = 72.29
    EXPECT_EQ(Posn(), "144 / 072");
    EXPECT_EQ(Status(), ValuesOf(column, row));
    EXPECT_EQ(ViewNow(view()), Crossed(100, 50));
    EXPECT_TRUE(w->model().picture().probe.dragging);
    EXPECT_FALSE(w->model().picture().probe.locked);

    Drag(300, 200);
    EXPECT_EQ(Posn(), QString("%1 / %2").arg(ColumnOf(300), 3, 10, QChar('0')).arg(RowOf(200), 3, 10, QChar('0')));
    EXPECT_EQ(Status(), ValuesOf(ColumnOf(300), RowOf(200)));
    EXPECT_EQ(ViewNow(view()), Crossed(300, 200)) << "the old crosshair must be gone";
}

TEST_F(ProbeTest, ReadoutsAreZeroPaddedToThreeDigitsAndLongerNumbersShowInFull) {
    LoadPicture(Picture(1300, 1300, [](int x, int y) { return (x == 1234 && y == 1000) ? 0xFF8000u : 0x204060u; }));
    Press(5, 5, Qt::ControlModifier);
    Ctl<QScrollBar>(*w, "hscrCross")->setValue(5);
    Ctl<QScrollBar>(*w, "vscrCross")->setValue(99);
    EXPECT_EQ(Posn(), "005 / 099");
    EXPECT_EQ(Status(), "032, 064, 096, 058");  // luma 0.299 x 32 + 0.587 x 64 + 0.114 x 96 = 58.08
    Ctl<QScrollBar>(*w, "hscrCross")->setValue(1234);
    Ctl<QScrollBar>(*w, "vscrCross")->setValue(1000);
    EXPECT_EQ(Posn(), "1234 / 1000");
    // Red 255, green 128, blue 0: luma 0.299 x 255 + 0.587 x 128 = 151.38.
    EXPECT_EQ(Status(), "255, 128, 000, 151");
    EXPECT_EQ(Patch(), QColor(255, 128, 0));
}

TEST_F(ProbeTest, ReleaseOfAPlainDragRestoresTheViewBitForBitAndClearsTheReadouts) {
    LoadPicture(Gradient(640, 480));
    const QImage before = view().image().copy();
    Press(17, 33);
    Drag(18, 33);
    Drag(18, 33);  // the same place again: erased and drawn again
    Drag(-9, 400);
    Drag(250, 120);
    EXPECT_FALSE(SameBits(view().image(), before));
    Release(250, 120);
    EXPECT_TRUE(SameBits(view().image(), before));
    EXPECT_FALSE(w->model().picture().probe.dragging);
    EXPECT_EQ(Posn(), "");
    EXPECT_EQ(Status(), "");
    EXPECT_EQ(Patch(), Background());
    EXPECT_TRUE(Ctl<vistrel::PictureBox>(*w, "picImg")->dc().rop2() == vistrel::DrawMode::CopyPen);
}

TEST_F(ProbeTest, ReleaseReturnsBothInstrumentsToTheWholePicture) {
    LoadPicture(Gradient(640, 480));
    const QImage vector = w->workspace().instrument<frmVector>()->surface().image().copy();
    const QImage scope = w->workspace().instrument<frmScope>()->boxSurface(0).image().copy();
    Press(200, 100);
    EXPECT_FALSE(SameBits(w->workspace().instrument<frmVector>()->surface().image(), vector)) << "the probe's vector is drawn";
    EXPECT_FALSE(SameBits(w->workspace().instrument<frmScope>()->boxSurface(0).image(), scope)) << "the line trace replaces the waveform";
    Release(200, 100);
    EXPECT_TRUE(SameBits(w->workspace().instrument<frmVector>()->surface().image(), vector));
    EXPECT_TRUE(SameBits(w->workspace().instrument<frmScope>()->boxSurface(0).image(), scope));
}

TEST_F(ProbeTest, CtrlPressLocksAndAPlainPressStartsAFreshDrag) {
    LoadPicture(Gradient(640, 480));
    const QImage before = view().image().copy();

    Press(100, 50, Qt::ControlModifier);
    Release(100, 50, Qt::ControlModifier);
    EXPECT_TRUE(w->model().picture().probe.locked);
    EXPECT_TRUE(Ctl<QScrollBar>(*w, "hscrCross")->isVisible());
    EXPECT_TRUE(Ctl<QScrollBar>(*w, "vscrCross")->isVisible());
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->value(), 144);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "vscrCross")->value(), 72);
    EXPECT_EQ(Posn(), "144 / 072");
    EXPECT_EQ(Status(), ValuesOf(144, 72));
    EXPECT_EQ(ViewNow(view()), Crossed(100, 50)) << "the crosshair stays after the release";
    EXPECT_FALSE(Ctl<QFrame>(*w, "fraChannels")->isEnabled());
    EXPECT_FALSE(Ctl<QMenu>(*w, "mnuSelectChannels")->isEnabled());
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuSelectNeg")->isEnabled());

    // Moves without a fresh press do not move a locked probe.
    Drag(300, 300);
    EXPECT_EQ(Posn(), "144 / 072");

    // The right button does nothing while locked.
    Press(10, 10, Qt::NoModifier, Qt::RightButton);
    EXPECT_EQ(Posn(), "144 / 072");
    Release(10, 10, Qt::NoModifier, Qt::RightButton);
    EXPECT_EQ(Posn(), "144 / 072");
    EXPECT_EQ(Status(), ValuesOf(144, 72));

    Press(300, 200);
    EXPECT_FALSE(w->model().picture().probe.locked);
    EXPECT_TRUE(w->model().picture().probe.dragging);
    EXPECT_FALSE(Ctl<QScrollBar>(*w, "hscrCross")->isVisible());
    EXPECT_FALSE(Ctl<QScrollBar>(*w, "vscrCross")->isVisible());
    EXPECT_TRUE(Ctl<QFrame>(*w, "fraChannels")->isEnabled());
    EXPECT_TRUE(Ctl<QMenu>(*w, "mnuSelectChannels")->isEnabled());
    EXPECT_EQ(ViewNow(view()), Crossed(300, 200)) << "only the new crosshair";
    EXPECT_EQ(Posn(), QString("%1 / %2").arg(ColumnOf(300)).arg(RowOf(200)));

    Release(300, 200);
    EXPECT_TRUE(SameBits(view().image(), before));
    EXPECT_EQ(Posn(), "");
    EXPECT_EQ(Patch(), Background());
}

TEST_F(ProbeTest, CtrlPressOverALockedProbeLocksAgainAtTheNewPoint) {
    LoadPicture(Gradient(640, 480));
    const QImage before = view().image().copy();
    Press(100, 50, Qt::ControlModifier | Qt::ShiftModifier);  // other modifiers do not matter
    Release(100, 50);
    Press(20, 300, Qt::ControlModifier);
    Release(20, 300);
    EXPECT_TRUE(w->model().picture().probe.locked);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->value(), ColumnOf(20));
    EXPECT_EQ(Ctl<QScrollBar>(*w, "vscrCross")->value(), RowOf(300));
    EXPECT_EQ(ViewNow(view()), Crossed(20, 300));
    Press(0, 0);
    Release(0, 0);
    EXPECT_TRUE(SameBits(view().image(), before));
}

TEST_F(ProbeTest, APressWhoseReleaseWasLostLeavesNoStrayCrosshair) {
    LoadPicture(Gradient(640, 480));
    const QImage before = view().image().copy();
    Press(10, 10);
    Press(50, 60);  // the release of the first drag went to another window
    EXPECT_EQ(ViewNow(view()), Crossed(50, 60));
    Release(50, 60);
    EXPECT_TRUE(SameBits(view().image(), before));
    EXPECT_TRUE(Ctl<vistrel::PictureBox>(*w, "picImg")->dc().rop2() == vistrel::DrawMode::CopyPen);
}

class SizeReadoutTest : public ProbeTest {
protected:
    void SetUp() override {
        ProbeTest::SetUp();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void TearDown() override {
        QLocale::setDefault(saved);
        ProbeTest::TearDown();
    }
    QLocale saved;
};

// A right press shows the size and the kilobytes (thousands grouped, at least two digits;
// 10 x 10 is 300 bytes) until its release, and no crosshair.
TEST_F(SizeReadoutTest, RightPressShowsSizeAndKilobytesUntilRelease) {
    const struct {
        int width, height;
        const char *posn, *status;
    } rows[] = {{640, 480, "640 x 480", "900 Kb"}, {1024, 768, "1024 x 768", "2,304 Kb"}, {10, 10, "010 x 010", "00 Kb"}};
    for (const auto& row : rows) {
        LoadPicture(Picture(row.width, row.height, [](int, int) { return 0x808080u; }), QStringLiteral("%1.png").arg(row.width));
        Press(5, 5, Qt::NoModifier, Qt::RightButton);
        EXPECT_EQ(Posn(), row.posn);
        EXPECT_EQ(Status(), row.status);
        EXPECT_FALSE(w->model().picture().probe.dragging);
        EXPECT_EQ(ViewNow(view()), Rgb(w->model().picture().viewPixels)) << "no crosshair";
        Release(5, 5, Qt::NoModifier, Qt::RightButton);
        EXPECT_EQ(Posn(), "");
        EXPECT_EQ(Status(), "");
    }
}

TEST_F(SizeReadoutTest, RightButtonDuringADragDoesNothing) {
    LoadPicture(Gradient(640, 480));
    Press(40, 60);
    const QString posn = Posn();
    const QString status = Status();
    Press(40, 60, Qt::NoModifier, Qt::RightButton);
    EXPECT_EQ(Posn(), posn);
    EXPECT_EQ(Status(), status);
    Release(40, 60, Qt::NoModifier, Qt::RightButton);
    EXPECT_EQ(Posn(), posn);
    EXPECT_EQ(Status(), status);
    EXPECT_TRUE(w->model().picture().probe.dragging);
}

TEST_F(ProbeTest, OtherButtonsAndMovesWithOtherButtonsDoNothing) {
    LoadPicture(Gradient(640, 480));
    const QImage before = view().image().copy();
    Press(40, 60, Qt::NoModifier, Qt::MiddleButton);
    EXPECT_EQ(Posn(), "");
    EXPECT_FALSE(w->model().picture().probe.dragging);
    Release(40, 60, Qt::NoModifier, Qt::MiddleButton);

    Press(40, 60);
    Drag(100, 100, Qt::LeftButton | Qt::RightButton);  // not the left button alone
    EXPECT_EQ(w->model().picture().probe.viewX, 40);
    Release(40, 60);
    EXPECT_TRUE(SameBits(view().image(), before));
}

TEST_F(ProbeTest, NoMouseInputCountsWithoutAPicture) {
    Press(5, 5);
    EXPECT_FALSE(w->model().picture().probe.dragging);
    Press(5, 5, Qt::NoModifier, Qt::RightButton);
    EXPECT_EQ(Posn(), "");

    LoadPicture(Gradient(640, 480));
    Ctl<QPushButton>(*w, "cmdReset")->click();
    Press(5, 5, Qt::ControlModifier);
    EXPECT_FALSE(w->model().picture().probe.dragging);
    EXPECT_FALSE(w->model().picture().probe.locked);
    EXPECT_FALSE(Ctl<QScrollBar>(*w, "hscrCross")->isVisible());
    Press(5, 5, Qt::NoModifier, Qt::RightButton);
    EXPECT_EQ(Posn(), "");
    EXPECT_EQ(Status(), "");
}

TEST_F(ProbeTest, ALoadDuringALockedProbeStartsClean) {
    LoadPicture(Gradient(640, 480));
    Press(100, 50, Qt::ControlModifier);
    LoadPicture(Gradient(320, 240), "second.png");
    EXPECT_FALSE(w->model().picture().probe.locked);
    EXPECT_FALSE(w->model().picture().probe.dragging);
    EXPECT_FALSE(Ctl<QScrollBar>(*w, "hscrCross")->isVisible());
    EXPECT_TRUE(Ctl<QFrame>(*w, "fraChannels")->isEnabled());
    EXPECT_TRUE(Ctl<QMenu>(*w, "mnuSelectChannels")->isEnabled());
    EXPECT_EQ(ViewNow(view()), Rgb(w->model().picture().viewPixels)) << "no crosshair on the new picture";
    // A fresh drag and release leaves the new picture untouched.
    const QImage before = view().image().copy();
    Press(10, 10);
    Release(10, 10);
    EXPECT_TRUE(SameBits(view().image(), before));
}

// Shift+drag sets a region in full-size pixels: the view pixels' corners and all those
// between them, with a box drawn so that the view comes back bit for bit; the
// instruments count only its pixels, and the note names it. A press inside probes and
// keeps it; Esc lets it go, and so does a press outside. A picture of its size keeps it.
TEST_F(ProbeTest, AShiftDragSetsARegionInPicturePixelsAndEscOrAPressOutsideLetsItGo) {
    const QImage image = Gradient(1000, 600);
    LoadPicture(image);
    const std::vector<Pixel> before = ViewNow(view());
    const auto region = [&] { return w->model().region(); };
    const auto note = [&] { return Ctl<QLabel>(*w, "lblNote")->text(); };
    const double sx = w->model().picture().scaleX, sy = w->model().picture().scaleY;
    ASSERT_GT(sx, 1.5);  // a reduced view: each view pixel stands for several full-size ones

    // Dragged up and to the left: the corners in either order.
    Press(150, 90, Qt::ShiftModifier);
    Drag(120, 70);
    Drag(40, 30);
    Release(40, 30, Qt::ShiftModifier);
    ASSERT_TRUE(region().has_value());
    const auto x = static_cast<std::size_t>(vistrel::nearestInt(40 * sx));
    const auto y = static_cast<std::size_t>(vistrel::nearestInt(30 * sy));
    const korvex::PixelRect want{x, y, static_cast<std::size_t>(vistrel::nearestInt(151 * sx)) - x,
                                 static_cast<std::size_t>(vistrel::nearestInt(91 * sy)) - y};
    EXPECT_EQ(*region(), want);
    EXPECT_TRUE(note().endsWith(QStringLiteral("Region %1 x %2 at %3,%4").arg(want.width).arg(want.height).arg(x).arg(y)))
        << note().toStdString();
    // The box inverts its outline and nothing else.
    const std::vector<Pixel> boxed = ViewNow(view());
    const QRect box(QPoint(vistrel::ViewPositionOf(static_cast<int>(x), static_cast<float>(sx), viewWidth() - 1),
                           vistrel::ViewPositionOf(static_cast<int>(y), static_cast<float>(sy), viewHeight() - 1)),
                    QPoint(vistrel::ViewPositionOf(static_cast<int>(x + want.width - 1), static_cast<float>(sx), viewWidth() - 1),
                           vistrel::ViewPositionOf(static_cast<int>(y + want.height - 1), static_cast<float>(sy), viewHeight() - 1)));
    for (int vy = 0; vy < viewHeight(); ++vy)
        for (int vx = 0; vx < viewWidth(); ++vx) {
            const bool edge = box.contains(vx, vy) && (vx == box.left() || vx == box.right() || vy == box.top() || vy == box.bottom());
            const std::size_t k = static_cast<std::size_t>(vy) * static_cast<std::size_t>(viewWidth()) + static_cast<std::size_t>(vx);
            ASSERT_EQ(boxed[k], edge ? (~before[k] & 0x00FFFFFFu) : before[k]) << vx << "," << vy;
        }
    // The histogram's counts are the crop's, the slow way.
    korvex::LevelCounts crop;
    for (std::size_t row = want.y; row < want.y + want.height; ++row)
        for (std::size_t column = want.x; column < want.x + want.width; ++column) {
            const Pixel p = w->model().picture().pixels.at(column, row);
            ++crop.bins[0][(p >> 16) & 0xFF], ++crop.bins[1][(p >> 8) & 0xFF], ++crop.bins[2][p & 0xFF], ++crop.bins[3][p >> 24];
        }
    EXPECT_EQ(*w->model().counted().levels, crop);
    // A new luma standard counts it again, Y after Rec. 709's weights.
    Ctl<QAction>(*w, "mnuToolsLuma709")->trigger();
    korvex::LevelCounts crop709 = crop;
    crop709.bins[3] = {};
    for (std::size_t row = want.y; row < want.y + want.height; ++row)
        for (std::size_t column = want.x; column < want.x + want.width; ++column) {
            Pixel p = image.pixel(static_cast<int>(column), static_cast<int>(row)) & 0x00FFFFFFu;
            korvex::UvPair pair{};
            korvex::ConvertToYuv(std::span(&p, 1), std::span(&pair, 1), korvex::LumaStandard::Rec709);
            ++crop709.bins[3][p >> 24];
        }
    EXPECT_EQ(*w->model().counted().levels, crop709);
    Ctl<QAction>(*w, "mnuToolsLuma601")->trigger();
    EXPECT_EQ(*w->model().counted().levels, crop);

    // A press inside probes, and the region stays.
    Press(100, 60);
    EXPECT_EQ(w->model().picture().probe.column, ColumnOf(100));
    Release(100, 60);
    EXPECT_EQ(region(), want);
    EXPECT_EQ(ViewNow(view()), boxed);

    // A picture of the same size keeps it; Esc lets it go and the view is as it was.
    LoadPicture(image, "again.png");
    EXPECT_EQ(region(), want);
    EXPECT_EQ(ViewNow(view()), boxed);
    Ctl<QLineEdit>(*w, "txtImageFile")->setFocus();
    QTest::keyClick(Ctl<QLineEdit>(*w, "txtImageFile"), Qt::Key_Escape);
    EXPECT_FALSE(region().has_value());
    EXPECT_EQ(ViewNow(view()), before);
    EXPECT_FALSE(note().contains("Region"));
    EXPECT_EQ(w->model().counted().levels, &w->model().picture().levels);

    // A press outside lets it go too; a picture of another size drops it.
    Press(10, 10, Qt::ShiftModifier);
    Release(20, 20, Qt::ShiftModifier);
    ASSERT_TRUE(region().has_value());
    Press(200, 200);
    Release(200, 200);
    EXPECT_FALSE(region().has_value());
    EXPECT_EQ(ViewNow(view()), before);
    Press(10, 10, Qt::ShiftModifier);
    Release(20, 20, Qt::ShiftModifier);
    LoadPicture(Gradient(999, 600), "other.png");
    EXPECT_FALSE(region().has_value());
}

// On a screen of any device pixel ratio (the headless platform fakes one from
// QT_SCALE_FACTOR, so the test runs itself again under each) the view shows the picture
// area-averaged to the device pixels nearest its box, each on one device pixel; a press on a
// device pixel probes the full-size pixel that view pixel stands for, and the crosshair
// inverts exactly that column and row of device pixels.
TEST(ViewAtRatio, ShowsThePictureAveragedToDevicePixelsAndProbesTheDevicePixelPressed) {
    const char* const test = "ViewAtRatio.ShowsThePictureAveragedToDevicePixelsAndProbesTheDevicePixelPressed";
    const qreal ratio = qApp->devicePixelRatio();
    if (ratio == 1) {
        for (const char* factor : {"1.5", "1.25", "2"}) {
            QProcess child;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("QT_SCALE_FACTOR", factor);
            child.setProcessEnvironment(environment);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QCoreApplication::applicationFilePath(), {QString("--gtest_filter=") + test});
            ASSERT_TRUE(child.waitForFinished(240000)) << factor;
            const QString log = QString::fromLocal8Bit(child.readAll());
            EXPECT_EQ(child.exitCode(), 0) << "at " << factor << "\n" << log.toStdString();
            EXPECT_TRUE(log.contains("[  PASSED  ] 1 test")) << "at " << factor << "\n" << log.toStdString();
        }
    }
    // Fine detail every averaging shows: each pixel its own pseudo-random colour.
    constexpr int kWidth = 997;
    constexpr int kHeight = 613;
    QImage detail(kWidth, kHeight, QImage::Format_RGB32);
    std::uint32_t state = 12345;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            state = state * 1664525u + 1013904223u;
            detail.setPixel(x, y, 0xFF000000u | (state >> 8));
        }
    testing_support::ScopedFakeDesktop desk;
    QTemporaryDir dir;
    vistrel::frmMain window;
    window.start(vistrel::frmMain::AboutBox::Skipped);
    testing_support::Load(window, testing_support::WritePicture(dir, "detail.png", detail));
    QApplication::processEvents();
    auto& box = *Ctl<vistrel::PictureBox>(window, "picImg");
    const vistrel::Picture& picture = window.model().picture();

    // The view's pixels are the device pixels nearest the inside of its box.
    const int width = picture.viewMaxX + 1;
    const int height = picture.viewMaxY + 1;
    EXPECT_EQ(width, static_cast<int>(std::nearbyint(box.innerWidth() * ratio)));
    EXPECT_EQ(height, static_cast<int>(std::nearbyint(box.innerHeight() * ratio)));
    std::vector<Pixel> averaged(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    korvex::ResampleArea(picture.pixels.data(), kWidth, kHeight, kWidth, averaged.data(), static_cast<std::size_t>(width),
                         static_cast<std::size_t>(height));

    const QPoint anchor = vistrel::DeviceAnchor(QPointF(box.mapTo(&window, QPoint(1, 1))) * ratio);
    // Device pixels of the view on a shot of the window that differ from `wanted`.
    const auto differing = [&](const std::function<Pixel(int, int)>& wanted) {
        const QImage shot = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
        int wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if ((shot.pixel(anchor + QPoint(x, y)) & 0xFFFFFFu) != (wanted(x, y) & 0xFFFFFFu)) ++wrong;
        return wrong;
    };
    const auto at = [&](int x, int y) { return averaged[static_cast<std::size_t>(y) * width + x]; };
    EXPECT_EQ(differing(at), 0);

    // A press on a whole device pixel, given in the window's logical pixels as a pointer is.
    const QPoint pressed(width * 2 / 3, height / 3);
    const QPointF local = QPointF(anchor + pressed) / ratio - QPointF(box.mapTo(&window, QPoint()));
    QMouseEvent press(QEvent::MouseButtonPress, local, box.mapToGlobal(local), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&box, &press);
    QApplication::processEvents();
    const vistrel::Probe& probe = picture.probe;
    EXPECT_EQ(QPoint(probe.viewX, probe.viewY), pressed);
    const int column = static_cast<int>(std::nearbyint(pressed.x() * static_cast<double>(kWidth) / width));
    const int row = static_cast<int>(std::nearbyint(pressed.y() * static_cast<double>(kHeight) / height));
    EXPECT_EQ(QPoint(probe.column, probe.row), QPoint(column, row));
    EXPECT_EQ(probe.sample & 0xFFFFFFu, detail.pixel(column, row) & 0xFFFFFFu);
    const std::vector<Pixel> crossed = WithCrosshair(averaged, width, height, pressed.x(), pressed.y());
    EXPECT_EQ(differing([&](int x, int y) { return crossed[static_cast<std::size_t>(y) * width + x]; }), 0);
}

}  // namespace
