// The line scope window through its real widgets: layout, options, the
// drawings in the boxes' images, refresh after an option and dragging.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QMouseEvent>
#include <QRadioButton>
#include <QTest>

#include <memory>
#include <set>

#include "colour/HdrScale.h"
#include "linescope/LineTrace.h"
#include "linescope/ScopeBox.h"
#include "linescope/Waveform.h"
#include "linescope/frmScope.h"
#include "platform/Numbers.h"
#include "support.h"

namespace {

using korvex::Pixel;
using testing_support::Bgra;
using testing_support::MakeGrid;
using vistrel::frmScope;
using vistrel::Model;
using vistrel::Surface;

constexpr Pixel kLampPixel = 0x808000;  // lamp 128 as the boxes show it
constexpr Pixel kTraceRedPixel = 0xA02020;
constexpr Pixel kTraceBluePixel = 0x4040F0;
const int kGraticuleRows[] = {230, 205, 179, 154, 128, 102, 77, 51, 26};

class LinescopeWindow : public ::testing::Test {
protected:
    void SetUp() override {
        scope = std::make_unique<frmScope>(mod);
        scope->focusMainWindow = [this] { ++focusCalls; };
        scope->show();
    }

    // Loads a picture as the main window would.
    void Load(korvex::PixelGrid grid) {
        vistrel::Picture picture;
        picture.pixels = std::move(grid);
        mod.Load(std::move(picture));
    }

    template <class T>
    T* Control(const char* name) {
        T* control = scope->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    void Click(const char* name) { QTest::mouseClick(Control<QAbstractButton>(name), Qt::LeftButton); }

    const Surface& Box(int k) { return scope->boxSurface(k); }

    static bool AllBlack(const Surface& s) {
        for (int y = 0; y < s.height(); ++y)
            for (int x = 0; x < s.width(); ++x)
                if (s.pixel(x, y) != 0) return false;
        return true;
    }

    static std::set<int> LitRows(const Surface& s, int x) {
        std::set<int> rows;
        for (int y = 0; y < s.height(); ++y)
            if (s.pixel(x, y) != 0) rows.insert(y);
        return rows;
    }

    Model mod;
    std::unique_ptr<frmScope> scope;
    int focusCalls = 0;
};

TEST_F(LinescopeWindow, StartsAtItsDesignGeometry) {
    EXPECT_EQ(scope->size(), QSize(420, 286));
    EXPECT_EQ(scope->pos(), QPoint(4, 514));
    EXPECT_TRUE(scope->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(scope->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_EQ(scope->scopeChannel(), 4);
    for (int k = 0; k < 4; ++k) {
        auto* box = Control<QWidget>(QStringLiteral("picChan[%1]").arg(k).toLatin1().constData());
        EXPECT_EQ(box->geometry(), QRect(4 + 104 * k, 4, 100, 256));
        EXPECT_TRUE(AllBlack(Box(k)));
    }
    EXPECT_TRUE(Control<QRadioButton>("optParade[4]")->isChecked());
    EXPECT_TRUE(Control<QRadioButton>("optHorz[1]")->isChecked());
    EXPECT_TRUE(Control<QCheckBox>("chkScaleBG")->isChecked());
}

TEST_F(LinescopeWindow, TabOrderRunsBoxesChannelsOrientationScale) {
    const QStringList expected = {"picChan[0]",   "picChan[1]",   "picChan[2]", "picChan[3]",
                                  "optParade[0]", "optParade[1]", "optParade[2]", "optParade[3]",
                                  "optParade[4]", "optHorz[0]",   "optHorz[1]", "chkScaleBG"};
    QStringList chain;
    QWidget* w = Control<QWidget>("picChan[0]");
    for (int guard = 0; guard < 64 && chain.size() < expected.size(); ++guard, w = w->nextInFocusChain())
        if (expected.contains(w->objectName()) && !chain.contains(w->objectName())) chain << w->objectName();
    EXPECT_EQ(chain, expected);
}

TEST_F(LinescopeWindow, OptionWithoutPictureOnlyChangesTheSetting) {
    Click("optParade[2]");
    EXPECT_EQ(scope->scopeChannel(), 2);
    Click("optHorz[0]");
    Click("chkScaleBG");
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(Box(k).width(), 100);
        EXPECT_TRUE(AllBlack(Box(k))) << k;
    }
    EXPECT_EQ(focusCalls, 0);
}

TEST_F(LinescopeWindow, SingleChannelWidensBoxZeroOverTheOthersAndParadeNarrowsIt) {
    Load(MakeGrid(64, 64, [](std::size_t, std::size_t) { return Bgra(10, 20, 30, 40); }));
    Click("optParade[0]");
    EXPECT_EQ(scope->box(0)->width(), 412);
    EXPECT_EQ(Box(0).width(), 412);
    EXPECT_EQ(scope->childAt(320, 100), scope->box(0)) << "box 0 lies over boxes 1 to 3";
    EXPECT_EQ(LitRows(Box(0), 300), (std::set<int>{225, 230, 205, 179, 154, 128, 102, 77, 51, 26}));
    EXPECT_EQ(Box(0).pixel(300, 225), vistrel::linescope::kRasterRed);

    for (int k = 1; k < 4; ++k) scope->box(k)->clearImage();
    Click("optParade[4]");
    EXPECT_EQ(scope->box(0)->width(), 100);
    EXPECT_EQ(Box(0).width(), 100);
    EXPECT_EQ(scope->childAt(320, 100), scope->box(3));
    const int rows[4] = {225, 235, 245, 215};
    const Pixel colors[4] = {0xA02020, 0x10A010, 0x5050F0, 0xD0D0D0};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(Box(k).pixel(50, rows[k]), colors[k]) << k;
        EXPECT_EQ(Box(k).pixel(99, rows[k]), 0u) << "last column black";
    }
    EXPECT_EQ(focusCalls, 0) << "the waveform leaves the focus alone";
}

TEST_F(LinescopeWindow, WaveformBoxesHoldTheBuiltRasters) {
    Load(MakeGrid(500, 300, [](std::size_t x, std::size_t y) {
        return Bgra(static_cast<unsigned>(x & 0xFF), static_cast<unsigned>(y & 0xFF),
                    static_cast<unsigned>((x + y) & 0xFF), static_cast<unsigned>((x * y) & 0xFF));
    }));
    Click("optHorz[0]");
    vistrel::linescope::WaveformSettings s;
    s.channel = vistrel::linescope::Channel::Parade;
    s.orientation = vistrel::linescope::Orientation::Vertical;
    s.scale = vistrel::linescope::ScalePlacement::Behind;
    s.scaleColor = vistrel::ScaleColorOf(mod.settings().lamp);
    s.columns = 100;
    const auto want = vistrel::linescope::BuildWaveform(mod.picture().pixels, s);
    for (int k = 0; k < 4; ++k)
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 100; ++x)
                ASSERT_EQ(Box(k).pixel(x, y), want.rasters[k][static_cast<std::size_t>(y * 100 + x)]) << k;
}

TEST_F(LinescopeWindow, LockedProbeOptionRedrawsTheTraceAndHandsBackTheFocus) {
    // Red level 100 everywhere; row 7 is the probed one.
    Load(MakeGrid(206, 20, [](std::size_t, std::size_t) { return Bgra(0, 0, 100); }));
    mod.LockProbe(5, 7);
    Click("optParade[0]");
    EXPECT_EQ(focusCalls, 1);
    EXPECT_EQ(Box(0).width(), 412);
    EXPECT_EQ(Box(0).pixel(0, 155), kTraceRedPixel);
    EXPECT_EQ(Box(0).pixel(410, 155), kTraceRedPixel);
    EXPECT_EQ(Box(0).pixel(411, 155), 0u) << "Polyline leaves out its last point";
    for (int y : kGraticuleRows) {
        EXPECT_EQ(Box(0).pixel(0, y), kLampPixel) << y;
        EXPECT_EQ(Box(0).pixel(411, y), kLampPixel) << "the scale lines span the whole box";
    }
    Click("optParade[2]");
    EXPECT_EQ(focusCalls, 2);
    EXPECT_EQ(Box(0).pixel(100, 255), kTraceBluePixel) << "blue level 0 on the bottom row";
    EXPECT_EQ(Box(0).pixel(100, 155), 0u) << "the previous trace is wiped";
}

TEST_F(LinescopeWindow, TraceGraticulePlacementAndLamp) {
    // Level 25 runs along graticule row 230.
    Load(MakeGrid(50, 50, [](std::size_t, std::size_t) { return Bgra(0, 0, 25); }));
    mod.LockProbe(0, 0);
    Click("optParade[0]");
    EXPECT_EQ(Box(0).pixel(40, 230), kTraceRedPixel) << "scale behind: the trace lies over it";
    Click("chkScaleBG");
    EXPECT_EQ(Box(0).pixel(40, 230), kLampPixel) << "scale in front covers the trace";
    mod.Set(&vistrel::Settings::lamp, 0);
    Click("chkScaleBG");
    EXPECT_EQ(LitRows(Box(0), 40), std::set<int>{230});
    Click("chkScaleBG");
    EXPECT_EQ(LitRows(Box(0), 40), std::set<int>{230});
    EXPECT_EQ(Box(0).pixel(40, 230), kTraceRedPixel);
}

TEST_F(LinescopeWindow, ParadeTraceShowsTheLineFourTimes) {
    Load(MakeGrid(100, 100, [](std::size_t x, std::size_t y) {
        return Bgra(static_cast<unsigned>(y), 60, static_cast<unsigned>(x), 200);
    }));
    mod.Set(&vistrel::Settings::lamp, 0);
    scope->DrawLineTrace(mod.picture().pixels, 30, 40);
    EXPECT_EQ(LitRows(Box(0), 50), std::set<int>{255 - 50});
    EXPECT_EQ(LitRows(Box(1), 50), std::set<int>{255 - 60});
    EXPECT_EQ(LitRows(Box(2), 50), std::set<int>{255 - 40});
    EXPECT_EQ(LitRows(Box(3), 50), std::set<int>{255 - 200});
    EXPECT_EQ(Box(2).pixel(50, 215), kTraceBluePixel);
    EXPECT_EQ(Box(3).pixel(50, 55), 0xD0D0D0u);
}

// Sends a mouse event to a widget at a local position, with the matching screen position.
void Send(QWidget* target, QEvent::Type type, Qt::MouseButton button, QPoint local) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(local), QPointF(target->mapToGlobal(local)), button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

TEST_F(LinescopeWindow, DraggingABoxMovesTheWindowByTheDistance) {
    QWidget* box = scope->box(2);
    const QPoint start = scope->pos();
    Send(box, QEvent::MouseButtonPress, Qt::LeftButton, QPoint(10, 10));
    EXPECT_TRUE(scope->dragging());
    Send(box, QEvent::MouseMove, Qt::LeftButton, QPoint(30, 25));
    EXPECT_EQ(scope->pos(), start + QPoint(20, 15));
    // The grabbed point is under the pointer again; a further step moves on from there.
    Send(box, QEvent::MouseMove, Qt::LeftButton, QPoint(5, 5));
    EXPECT_EQ(scope->pos(), start + QPoint(15, 10));
    Send(box, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(5, 5));
    EXPECT_FALSE(scope->dragging());
    Send(box, QEvent::MouseMove, Qt::NoButton, QPoint(50, 50));
    EXPECT_EQ(scope->pos(), start + QPoint(15, 10));
}

TEST_F(LinescopeWindow, DraggingTheBackgroundMovesTheWindowTheSameWay) {
    const QPoint start = scope->pos();
    Send(scope.get(), QEvent::MouseButtonPress, Qt::LeftButton, QPoint(2, 280));
    Send(scope.get(), QEvent::MouseMove, Qt::LeftButton, QPoint(-8, 300));
    EXPECT_EQ(scope->pos(), start + QPoint(-10, 20));
    Send(scope.get(), QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(-8, 300));
    EXPECT_FALSE(scope->dragging());
}

// A double-click on a box or on the background is two clicks, not a drag: the
// second press arrives as a double-click and leaves the window where it is.
TEST_F(LinescopeWindow, ADoubleClickDoesNotStartADrag) {
    for (QWidget* target : {static_cast<QWidget*>(scope->box(1)), static_cast<QWidget*>(scope.get())}) {
        const QPoint start = scope->pos();
        Send(target, QEvent::MouseButtonPress, Qt::LeftButton, QPoint(10, 10));
        Send(target, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(10, 10));
        Send(target, QEvent::MouseButtonDblClick, Qt::LeftButton, QPoint(10, 10));
        EXPECT_FALSE(scope->dragging()) << target->objectName().toStdString();
        Send(target, QEvent::MouseMove, Qt::LeftButton, QPoint(60, 40));
        EXPECT_EQ(scope->pos(), start);
        Send(target, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(60, 40));
    }
}

TEST_F(LinescopeWindow, OtherButtonsAndControlsNeitherStartNorEndADrag) {
    QWidget* box = scope->box(0);
    const QPoint start = scope->pos();
    for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        Send(box, QEvent::MouseButtonPress, button, QPoint(10, 10));
        EXPECT_FALSE(scope->dragging());
        Send(box, QEvent::MouseMove, button, QPoint(40, 40));
        EXPECT_EQ(scope->pos(), start);
    }
    QTest::mousePress(Control<QWidget>("optHorz[0]"), Qt::LeftButton);
    EXPECT_FALSE(scope->dragging());
    QTest::mouseRelease(Control<QWidget>("optHorz[0]"), Qt::LeftButton);
    QTest::mousePress(Control<QWidget>("chkScaleBG"), Qt::LeftButton, {}, QPoint(70, 8));
    EXPECT_FALSE(scope->dragging());
    QTest::mouseRelease(Control<QWidget>("chkScaleBG"), Qt::LeftButton, {}, QPoint(70, 8));
    QTest::mousePress(Control<QWidget>("fraParade"), Qt::LeftButton, {}, QPoint(195, 8));
    EXPECT_FALSE(scope->dragging());

    Send(box, QEvent::MouseButtonPress, Qt::LeftButton, QPoint(10, 10));
    Send(box, QEvent::MouseButtonRelease, Qt::RightButton, QPoint(10, 10));
    EXPECT_TRUE(scope->dragging()) << "a right release does not end a left drag";
    Send(box, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(10, 10));
}

}  // namespace

namespace {

// A PQ and an HLG picture of level 100 red: the nits scale puts the graticule of the
// waveform and of a locked probe's trace at the scale's code levels, and the readings give
// the level's light, only while the scale is on and the picture shows its stored values.
TEST_F(LinescopeWindow, TheNitsScaleMovesTheGraticuleToTheLightsLevelsAndReadsNits) {
    using vistrel::Settings;
    using vistrel::SignalTransfer;
    for (const SignalTransfer transfer : {SignalTransfer::Pq, SignalTransfer::Hlg}) {
        const auto load = [&] {
            vistrel::Picture picture;
            picture.pixels = MakeGrid(64, 64, [](std::size_t, std::size_t) { return Bgra(0, 0, 100); });
            auto signal = std::make_shared<vistrel::SignalStats>();
            signal->transfer = transfer;
            picture.signal = signal;
            mod.Load(std::move(picture));
        };
        load();
        Click("optParade[0]");
        std::set<int> tenths(std::begin(kGraticuleRows), std::end(kGraticuleRows));
        tenths.insert(255 - 100);  // the red trace
        std::set<int> nits{255 - 100};
        for (const vistrel::hdr::ScaleLine& line : vistrel::hdr::ScaleLines(transfer)) nits.insert(255 - line.level);
        ASSERT_EQ(nits.size(), transfer == SignalTransfer::Pq ? 9u : 7u);
        const QPointF onLevel200(vistrel::linescope::kBoxLeft + 30, vistrel::linescope::kBoxTop + 255 - 200);

        EXPECT_EQ(LitRows(Box(0), 300), tenths);
        // On for a picture converted to sRGB: still the tenths, and levels as percentages.
        mod.Set(&Settings::nitsScale, true);
        EXPECT_EQ(LitRows(Box(0), 300), tenths) << "converted to sRGB: no nits";
        scope->PointAt(onLevel200);
        EXPECT_TRUE(scope->reading().startsWith(QStringLiteral("R level 200 / 78 %, x "))) << scope->reading().toStdString();

        // Its stored values, read again: the lights' levels, and nits.
        mod.Set(&Settings::colour, vistrel::ColourHandling::StoredValues);
        load();
        EXPECT_EQ(LitRows(Box(0), 300), nits);
        const QString light = vistrel::NitsText(vistrel::hdr::LevelNits(transfer, 200));
        EXPECT_TRUE(light.endsWith(QStringLiteral(" nits")));
        EXPECT_TRUE(scope->reading().startsWith(QStringLiteral("R level 200 / ") + light + QStringLiteral(", x ")))
            << scope->reading().toStdString();
        mod.LockProbe(10, 10);
        EXPECT_EQ(LitRows(Box(0), 300), nits) << "the trace's graticule too";
        mod.UnlockProbe();

        mod.Set(&Settings::nitsScale, false);
        EXPECT_EQ(LitRows(Box(0), 300), tenths);
        mod.Set(&Settings::colour, vistrel::ColourHandling::ConvertToSrgb);
        scope->ClearReading();
    }
}

}  // namespace
