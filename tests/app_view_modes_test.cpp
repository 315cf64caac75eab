// The channel display modes on the real main window: the view against the
// loaded picture under every kind of channel mask, the negative, the grey of a
// single channel, the menu and the boxes in step, and the probe's crosshair
// surviving a change of mode.

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QMenu>

#include <algorithm>

#include "app_view_fixture.h"

namespace {

using korvex::Pixel;
using view_testing::Gradient;
using view_testing::Rgb;
using view_testing::SameBits;
using view_testing::ViewNow;
using view_testing::WithCrosshair;

class ModesTest : public view_testing::MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        LoadPicture(Gradient(640, 480));
    }

    // The loaded view picture with every pixel passed through fn.
    std::vector<Pixel> Expected(const std::function<Pixel(Pixel)>& fn) {
        std::vector<Pixel> pixels = Rgb(w->model().picture().viewPixels);
        for (Pixel& p : pixels) p = fn(p) & 0x00FFFFFFu;
        return pixels;
    }
    static std::vector<Pixel> Filled(std::size_t count, Pixel value) { return std::vector<Pixel>(count, value); }
    std::size_t Count() { return w->model().picture().viewPixels.size(); }

    void Click(QCheckBox* box) { QTest::mouseClick(box, Qt::LeftButton); }
};

TEST_F(ModesTest, TwoChannelsDisableTheGreyAndBothMenuItemsButTheNegativeBoxStillWorks) {
    Click(Ctl<QCheckBox>(*w, "chkChannel[2]"));  // red and green left
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return p & 0xFFFF00u; }));
    EXPECT_FALSE(Ctl<QCheckBox>(*w, "chkChroma")->isEnabled());
    EXPECT_FALSE(Ctl<QAction>(*w, "mnuSelectChroma")->isEnabled());
    EXPECT_FALSE(Ctl<QAction>(*w, "mnuSelectNeg")->isEnabled());
    EXPECT_TRUE(Ctl<QCheckBox>(*w, "chkNeg")->isEnabled());

    Click(Ctl<QCheckBox>(*w, "chkNeg"));
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return ~(p & 0xFFFF00u); }));
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuSelectNeg")->isChecked());

    // A third channel enables them again; so does dropping to one.
    Click(Ctl<QCheckBox>(*w, "chkChannel[2]"));
    EXPECT_TRUE(Ctl<QCheckBox>(*w, "chkChroma")->isEnabled());
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuSelectChroma")->isEnabled());
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuSelectNeg")->isEnabled());
    Click(Ctl<QCheckBox>(*w, "chkChannel[0]"));  // green and blue
    EXPECT_FALSE(Ctl<QCheckBox>(*w, "chkChroma")->isEnabled());
    Click(Ctl<QCheckBox>(*w, "chkChannel[1]"));  // blue alone
    EXPECT_TRUE(Ctl<QCheckBox>(*w, "chkChroma")->isEnabled());
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuSelectNeg")->isEnabled());
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return ~(p & 0x0000FFu); }));
}

TEST_F(ModesTest, OneChannelWithBwSepIsGreyAndAGreyBoxLeftCheckedIsIgnoredForTwoChannels) {
    Click(Ctl<QCheckBox>(*w, "chkChannel[1]"));
    Click(Ctl<QCheckBox>(*w, "chkChannel[2]"));
    Click(Ctl<QCheckBox>(*w, "chkChroma"));
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) {
                  const Pixel r = (p >> 16) & 0xFF;
                  return r << 16 | r << 8 | r;
              }));
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuSelectChroma")->isChecked());

    Click(Ctl<QCheckBox>(*w, "chkChannel[1]"));  // red and green: the grey box is disabled and ignored
    EXPECT_TRUE(Ctl<QCheckBox>(*w, "chkChroma")->isChecked());
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return p & 0xFFFF00u; }));

    Click(Ctl<QCheckBox>(*w, "chkChannel[0]"));  // green alone, as grey again
    Click(Ctl<QCheckBox>(*w, "chkChroma"));
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return p & 0x00FF00u; }));
    EXPECT_FALSE(Ctl<QAction>(*w, "mnuSelectChroma")->isChecked());
}

TEST_F(ModesTest, MenuItemsAndBoxesStayInStepBothWays) {
    QAction* const items[3] = {Ctl<QAction>(*w, "mnuSelectChanR"), Ctl<QAction>(*w, "mnuSelectChanG"),
                               Ctl<QAction>(*w, "mnuSelectChanB")};
    const Pixel masks[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        items[i]->trigger();
        EXPECT_FALSE(items[i]->isChecked());
        EXPECT_FALSE(Ctl<QCheckBox>(*w, QStringLiteral("chkChannel[%1]").arg(i))->isChecked());
        const Pixel mask = 0xFFFFFF & ~masks[i];
        EXPECT_EQ(ViewNow(view()), Expected([mask](Pixel p) { return p & mask; }));
        Click(Ctl<QCheckBox>(*w, QStringLiteral("chkChannel[%1]").arg(i)));
        EXPECT_TRUE(items[i]->isChecked());
        EXPECT_EQ(ViewNow(view()), Rgb(w->model().picture().viewPixels));
    }

    Ctl<QAction>(*w, "mnuSelectNeg")->trigger();
    EXPECT_TRUE(Ctl<QCheckBox>(*w, "chkNeg")->isChecked());
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuSelectNeg")->isChecked());
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return ~p; }));
    Click(Ctl<QCheckBox>(*w, "chkNeg"));
    EXPECT_FALSE(Ctl<QAction>(*w, "mnuSelectNeg")->isChecked());
    EXPECT_EQ(ViewNow(view()), Rgb(w->model().picture().viewPixels));

    Click(Ctl<QCheckBox>(*w, "chkChannel[0]"));
    Click(Ctl<QCheckBox>(*w, "chkChannel[1]"));
    Ctl<QAction>(*w, "mnuSelectChroma")->trigger();
    EXPECT_TRUE(Ctl<QCheckBox>(*w, "chkChroma")->isChecked());
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuSelectChroma")->isChecked());
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return (p & 0xFF) * 0x010101u; }));
    Ctl<QAction>(*w, "mnuSelectChroma")->trigger();
    EXPECT_FALSE(Ctl<QCheckBox>(*w, "chkChroma")->isChecked());
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return p & 0x0000FFu; }));
}

TEST_F(ModesTest, ALoadPutsTheBoxesAndTheirMenuMarksBack) {
    Click(Ctl<QCheckBox>(*w, "chkChannel[0]"));
    Click(Ctl<QCheckBox>(*w, "chkNeg"));
    LoadPicture(Gradient(320, 200), "again.png");
    for (QCheckBox* box : Channels(*w)) EXPECT_TRUE(box->isChecked());
    EXPECT_FALSE(Ctl<QCheckBox>(*w, "chkChroma")->isChecked());
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuSelectChanR")->isChecked());
    EXPECT_FALSE(Ctl<QCheckBox>(*w, "chkNeg")->isChecked());
    EXPECT_FALSE(Ctl<QAction>(*w, "mnuSelectNeg")->isChecked());
    EXPECT_EQ(ViewNow(view()), Rgb(w->model().picture().viewPixels));
}

TEST_F(ModesTest, ReadoutsShowThePicturesOwnValuesInEveryMode) {
    Press(100, 50);
    const QString plain = Ctl<QLabel>(*w, "lblStatus")->text();
    Release(100, 50);
    ASSERT_FALSE(plain.isEmpty());

    Click(Ctl<QCheckBox>(*w, "chkChannel[1]"));
    Click(Ctl<QCheckBox>(*w, "chkChannel[2]"));
    Click(Ctl<QCheckBox>(*w, "chkChroma"));
    Click(Ctl<QCheckBox>(*w, "chkNeg"));
    Press(100, 50);
    EXPECT_EQ(Ctl<QLabel>(*w, "lblStatus")->text(), plain);
    const Pixel p = w->model().picture().pixels.at(static_cast<std::size_t>(ColumnOf(100)), static_cast<std::size_t>(RowOf(50)));
    EXPECT_EQ(Ctl<QFrame>(*w, "shpPatch")->palette().color(QPalette::Window),
              QColor((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
}

TEST_F(ModesTest, AModeChangeUnderALockedProbeKeepsTheCrosshairConsistent) {
    Press(100, 50, Qt::ControlModifier);
    Release(100, 50);
    ASSERT_TRUE(w->model().picture().probe.locked);
    ASSERT_TRUE(Ctl<QAction>(*w, "mnuSelectNeg")->isEnabled());

    Ctl<QAction>(*w, "mnuSelectNeg")->trigger();
    ASSERT_TRUE(Ctl<QCheckBox>(*w, "chkNeg")->isChecked());
    const std::vector<Pixel> negative = Expected([](Pixel p) { return ~p; });
    EXPECT_EQ(ViewNow(view()), WithCrosshair(negative, viewWidth(), viewHeight(), 100, 50));

    // The bars move the crosshair over the new picture.
    Ctl<QScrollBar>(*w, "hscrCross")->setValue(300);
    const int x = w->model().picture().probe.viewX;
    EXPECT_EQ(ViewNow(view()), WithCrosshair(negative, viewWidth(), viewHeight(), x, 50));

    Ctl<QAction>(*w, "mnuSelectChroma")
        ->trigger();  // grey has no effect with three channels, but the picture is redrawn
    EXPECT_EQ(ViewNow(view()), WithCrosshair(negative, viewWidth(), viewHeight(), x, 50));

    // Unlocking and a plain click leave the mode's picture without any stray line.
    Press(7, 9);
    Release(7, 9);
    EXPECT_FALSE(w->model().picture().probe.locked);
    EXPECT_EQ(ViewNow(view()), negative);
}

TEST_F(ModesTest, WithoutAPictureTheSelectItemsKeepStepButDrawNothing) {
    Ctl<QPushButton>(*w, "cmdReset")->click();
    ASSERT_FALSE(w->model().loaded());
    ASSERT_TRUE(Ctl<QAction>(*w, "mnuSelectNeg")->isEnabled());
    ASSERT_TRUE(Ctl<QAction>(*w, "mnuSelectChroma")->isEnabled());
    ASSERT_FALSE(Ctl<QMenu>(*w, "mnuSelectChannels")->isEnabled());
    const QImage emptied = view().image().copy();
    const std::vector<Pixel> work = w->model().picture().viewWork;

    Ctl<QAction>(*w, "mnuSelectNeg")->trigger();
    EXPECT_TRUE(Ctl<QCheckBox>(*w, "chkNeg")->isChecked());
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuSelectNeg")->isChecked());
    Ctl<QAction>(*w, "mnuSelectChroma")->trigger();
    EXPECT_TRUE(Ctl<QCheckBox>(*w, "chkChroma")->isChecked());
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuSelectChroma")->isChecked());
    Ctl<QAction>(*w, "mnuSelectNeg")->trigger();
    EXPECT_FALSE(Ctl<QCheckBox>(*w, "chkNeg")->isChecked());
    EXPECT_FALSE(Ctl<QAction>(*w, "mnuSelectNeg")->isChecked());

    EXPECT_TRUE(SameBits(view().image(), emptied));
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->width(), 2);
    EXPECT_EQ(w->model().picture().viewWork, work);

    // The next load starts from the design state of the boxes.
    LoadPicture(Gradient(200, 100), "next.png");
    EXPECT_FALSE(Ctl<QCheckBox>(*w, "chkChroma")->isChecked());
    EXPECT_FALSE(Ctl<QAction>(*w, "mnuSelectChroma")->isChecked());
    EXPECT_EQ(ViewNow(view()), Rgb(w->model().picture().viewPixels));
}

}  // namespace
