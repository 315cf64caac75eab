// The keys that move a locked probe, the lamp that sets the graticules'
// colour, and the switches that show and hide the instrument windows, on the
// real main window.

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include "app_view_fixture.h"
#include "linescope/frmScope.h"
#include "vectorscope/frmVector.h"

namespace {

using korvex::Pixel;
using view_testing::Gradient;
using view_testing::SameBits;
using vistrel::frmScope;
using vistrel::frmVector;

// A pixel of the lamp's yellow at any brightness: red and green equal, blue none.
bool IsYellow(Pixel p) {
    const Pixel r = (p >> 16) & 0xFF;
    const Pixel g = (p >> 8) & 0xFF;
    return r != 0 && r == g && (p & 0xFF) == 0;
}

int YellowPixels(const vistrel::Surface& surface) {
    int count = 0;
    for (int y = 0; y < surface.height(); ++y)
        for (int x = 0; x < surface.width(); ++x) count += IsYellow(surface.pixel(x, y)) ? 1 : 0;
    return count;
}

class KeysTest : public view_testing::MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        LoadPicture(Gradient(640, 480));
    }
    // Locks the probe at full-size pixel (column, row) through the bars.
    void LockAt(int column, int row) {
        Press(0, 0, Qt::ControlModifier);
        Release(0, 0);
        Ctl<QScrollBar>(*w, "hscrCross")->setValue(column);
        Ctl<QScrollBar>(*w, "vscrCross")->setValue(row);
        ASSERT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->value(), column);
        ASSERT_EQ(Ctl<QScrollBar>(*w, "vscrCross")->value(), row);
    }
    // A key as the user types it, into a control of the main window that has the focus.
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, QWidget* into = nullptr) {
        QWidget* target = into != nullptr ? into : Ctl<QLineEdit>(*w, "txtImageFile");
        target->setFocus();
        QTest::keyClick(target, key, modifiers);
    }
    QString Posn() { return Ctl<QLabel>(*w, "lblPosn")->text(); }
};

TEST_F(KeysTest, ArrowsMoveTheLockedProbeOnePixelAndCtrlTenOnBothAxes) {
    LockAt(100, 100);
    Ctl<QLineEdit>(*w, "txtImageFile")->setText("abcdef");
    Ctl<QLineEdit>(*w, "txtImageFile")->setCursorPosition(3);
    // A picture under 1000 rows has a vertical large step below 10.
    ASSERT_LT(Ctl<QScrollBar>(*w, "vscrCross")->pageStep(), 10);
    ASSERT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->pageStep(), 10);

    Key(Qt::Key_Right);
    EXPECT_EQ(Posn(), "101 / 100");
    Key(Qt::Key_Left);
    Key(Qt::Key_Left);
    EXPECT_EQ(Posn(), "099 / 100");
    Key(Qt::Key_Down);
    EXPECT_EQ(Posn(), "099 / 101");
    Key(Qt::Key_Up);
    Key(Qt::Key_Up);
    EXPECT_EQ(Posn(), "099 / 099");

    Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "vscrCross")->value(), 89);
    Key(Qt::Key_Down, Qt::ControlModifier);
    Key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "vscrCross")->value(), 109);
    Key(Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->value(), 109);
    Key(Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(Posn(), "099 / 109");
    // The keys never reached the text box.
    EXPECT_EQ(Ctl<QLineEdit>(*w, "txtImageFile")->cursorPosition(), 3);
}

TEST_F(KeysTest, HomeCentresTheProbeAndEndIsConsumed) {
    LockAt(10, 20);
    Key(Qt::Key_Home);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->value(), 319);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "vscrCross")->value(), 239);
    EXPECT_EQ(Posn(), "319 / 239");
    const QString status = Ctl<QLabel>(*w, "lblStatus")->text();
    Key(Qt::Key_End);
    EXPECT_EQ(Posn(), "319 / 239");
    EXPECT_EQ(Ctl<QLabel>(*w, "lblStatus")->text(), status);
}

TEST_F(KeysTest, ALockedProbeTakesTheArrowsFromAnyFocusedControl) {
    LockAt(50, 60);
    Key(Qt::Key_Right, Qt::NoModifier, Ctl<QScrollBar>(*w, "hscrLamp"));
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrLamp")->value(), 128);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->value(), 51);
    Ctl<QLineEdit>(*w, "txtImageFile")->setText("abcdef");
    Ctl<QLineEdit>(*w, "txtImageFile")->setCursorPosition(2);
    Key(Qt::Key_End, Qt::NoModifier, Ctl<QLineEdit>(*w, "txtImageFile"));
    EXPECT_EQ(Ctl<QLineEdit>(*w, "txtImageFile")->cursorPosition(), 2);
}

// Enter presses Load, the default button, from every control of the window
// that has no use of its own for it; a focused button is pressed itself.
TEST_F(KeysTest, EnterPressesLoadFromControlsWithoutAUseForIt) {
    int loads = 0;
    QObject::connect(Ctl<QPushButton>(*w, "cmdLoadPic"), &QPushButton::clicked, [&] { ++loads; });
    Ctl<QLineEdit>(*w, "txtImageFile")->setText("/nowhere/missing.png");
    const std::vector<QWidget*> plain = {Ctl<QLineEdit>(*w, "txtImageFile"),  Ctl<vistrel::PictureBox>(*w, "picImg"),
                                         Ctl<QCheckBox>(*w, "chkChannel[0]"), Ctl<QCheckBox>(*w, "chkChroma"),
                                         Ctl<QCheckBox>(*w, "chkLineScope"),  Ctl<QCheckBox>(*w, "chkPolar"),
                                         Ctl<QScrollBar>(*w, "hscrLamp")};
    int expected = 0;
    for (QWidget* control : plain) {
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
            Key(key, Qt::NoModifier, control);
            EXPECT_EQ(loads, ++expected) << control->objectName().toStdString();
        }
    }
    EXPECT_TRUE(Ctl<QCheckBox>(*w, "chkLineScope")->isChecked() &&
                Ctl<QCheckBox>(*w, "chkPolar")->isChecked());  // not toggled by Enter

    Key(Qt::Key_Return, Qt::NoModifier, Ctl<QPushButton>(*w, "cmdLoadPic"));
    EXPECT_EQ(loads, ++expected);
    desk.fake.dialogAnswer.reset();
    Key(Qt::Key_Return, Qt::NoModifier, Ctl<QPushButton>(*w, "cmdBrowse"));
    EXPECT_EQ(desk.fake.dialogRequests.size(), 1u);
    EXPECT_EQ(loads, expected);
    Key(Qt::Key_Return, Qt::ControlModifier, Ctl<QCheckBox>(*w, "chkPolar"));
    EXPECT_EQ(loads, expected);
}

// After Alt the menu bar takes the arrows, also while a probe is locked; once it
// lets go, the arrows move the probe again.
TEST_F(KeysTest, TheMenuBarInKeyboardModeKeepsTheArrowsFromTheProbe) {
    LockAt(50, 60);
    QMenuBar* bar = w->menuBar();
    w->activateWindow();
    Ctl<QLineEdit>(*w, "txtImageFile")->setFocus();
    QTest::keyClick(Ctl<QLineEdit>(*w, "txtImageFile"), Qt::Key_Alt);
    ASSERT_TRUE(bar->hasFocus());
    ASSERT_EQ(bar->activeAction(), Ctl<QMenu>(*w, "mnuFile")->menuAction());
    QTest::keyClick(bar, Qt::Key_Right);
    EXPECT_EQ(bar->activeAction(), Ctl<QMenu>(*w, "mnuTools")->menuAction());
    QTest::keyClick(bar, Qt::Key_Left);
    EXPECT_EQ(bar->activeAction(), Ctl<QMenu>(*w, "mnuFile")->menuAction());
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->value(), 50);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "vscrCross")->value(), 60);

    QTest::keyClick(bar, Qt::Key_Escape);
    Key(Qt::Key_Right);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->value(), 51);
}

TEST_F(KeysTest, KeysPassOnWhenNothingIsLocked) {
    Key(Qt::Key_Right, Qt::NoModifier, Ctl<QScrollBar>(*w, "hscrLamp"));
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrLamp")->value(), 133);  // one small step of 5
    EXPECT_EQ(vistrel::ScaleColorOf(w->model().settings().lamp), 133u * 257u);
    Key(Qt::Key_Left, Qt::NoModifier, Ctl<QScrollBar>(*w, "hscrLamp"));
    Key(Qt::Key_Left, Qt::NoModifier, Ctl<QScrollBar>(*w, "hscrLamp"));
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrLamp")->value(), 123);
    Key(Qt::Key_PageDown, Qt::NoModifier, Ctl<QScrollBar>(*w, "hscrLamp"));
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrLamp")->value(), 143);  // one large step of 20
    Key(Qt::Key_Home, Qt::NoModifier, Ctl<QScrollBar>(*w, "hscrLamp"));
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrLamp")->value(), 0);

    Ctl<QLineEdit>(*w, "txtImageFile")->setText("abcdef");
    Ctl<QLineEdit>(*w, "txtImageFile")->setFocus();
    Ctl<QLineEdit>(*w, "txtImageFile")->setCursorPosition(3);
    Key(Qt::Key_End);
    EXPECT_EQ(Ctl<QLineEdit>(*w, "txtImageFile")->cursorPosition(), 6);
    Key(Qt::Key_Left);
    EXPECT_EQ(Ctl<QLineEdit>(*w, "txtImageFile")->cursorPosition(), 5);
    Key(Qt::Key_Home);
    EXPECT_EQ(Ctl<QLineEdit>(*w, "txtImageFile")->cursorPosition(), 0);
    EXPECT_EQ(Posn(), "");

    // A plain drag is not a lock either.
    Press(100, 100);
    const QString posn = Posn();
    Key(Qt::Key_Right, Qt::NoModifier, Ctl<QScrollBar>(*w, "hscrLamp"));
    EXPECT_EQ(Posn(), posn);
}

TEST_F(KeysTest, LampSetsTheScaleColourAndAtZeroTheVectorscopeShowsNoGraticule) {
    ASSERT_EQ(vistrel::ScaleColorOf(w->model().settings().lamp), 32896u);
    EXPECT_GT(YellowPixels(w->workspace().instrument<frmVector>()->surface()), 0);

    Ctl<QScrollBar>(*w, "hscrLamp")->setValue(255);
    EXPECT_EQ(vistrel::ScaleColorOf(w->model().settings().lamp), 65535u);
    Ctl<QScrollBar>(*w, "hscrLamp")->setValue(0);
    EXPECT_EQ(vistrel::ScaleColorOf(w->model().settings().lamp), 0u);
    EXPECT_EQ(YellowPixels(w->workspace().instrument<frmVector>()->surface()), 0);
    for (int box = 0; box < 4; ++box) EXPECT_EQ(YellowPixels(w->workspace().instrument<frmScope>()->boxSurface(box)), 0) << box;

    Ctl<QScrollBar>(*w, "hscrLamp")->setValue(200);
    EXPECT_GT(YellowPixels(w->workspace().instrument<frmVector>()->surface()), 0);

    // Without a picture the lamp only sets the colour.
    Ctl<QPushButton>(*w, "cmdReset")->click();
    const QImage vector = w->workspace().instrument<frmVector>()->surface().image().copy();
    Ctl<QScrollBar>(*w, "hscrLamp")->setValue(40);
    EXPECT_EQ(vistrel::ScaleColorOf(w->model().settings().lamp), 40u * 257u);
    EXPECT_TRUE(SameBits(w->workspace().instrument<frmVector>()->surface().image(), vector));
}

TEST_F(KeysTest, LampUnderALockedProbeRedrawsTheTraceNotTheWaveform) {
    LockAt(200, 150);
    const QImage trace = w->workspace().instrument<frmScope>()->boxSurface(0).image().copy();
    Ctl<QScrollBar>(*w, "hscrLamp")->setValue(0);
    Ctl<QScrollBar>(*w, "hscrLamp")->setValue(128);
    EXPECT_TRUE(SameBits(w->workspace().instrument<frmScope>()->boxSurface(0).image(), trace));
    EXPECT_EQ(Posn(), "200 / 150");
}

}  // namespace
