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

TEST_F(ModesTest, AllChannelsOffIsBlackAndTheNegativeTogglesWhiteBlackWhite) {
    for (QCheckBox* box : w->chkChannel) Click(box);
    EXPECT_EQ(ViewNow(view()), Filled(Count(), 0x000000));
    Click(w->chkNeg);
    EXPECT_EQ(ViewNow(view()), Filled(Count(), 0xFFFFFF));
    Click(w->chkNeg);
    EXPECT_EQ(ViewNow(view()), Filled(Count(), 0x000000));
    Click(w->chkNeg);
    EXPECT_EQ(ViewNow(view()), Filled(Count(), 0xFFFFFF));
    Click(w->chkNeg);
    EXPECT_EQ(ViewNow(view()), Filled(Count(), 0x000000));

    // A channel back on shows that channel again.
    Click(w->chkChannel[1]);
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return p & 0x00FF00u; }));
    Click(w->chkChannel[1]);
    EXPECT_EQ(ViewNow(view()), Filled(Count(), 0x000000));
}

TEST_F(ModesTest, NegativeOfAllChannelsComplementsEveryColour) {
    EXPECT_EQ(ViewNow(view()), Rgb(w->model().picture().viewPixels));
    Click(w->chkNeg);
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return ~p; }));
    Click(w->chkNeg);
    EXPECT_EQ(ViewNow(view()), Rgb(w->model().picture().viewPixels));
}

TEST_F(ModesTest, TwoChannelsDisableTheGreyAndBothMenuItemsButTheNegativeBoxStillWorks) {
    Click(w->chkChannel[2]);  // red and green left
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return p & 0xFFFF00u; }));
    EXPECT_FALSE(w->chkChroma->isEnabled());
    EXPECT_FALSE(w->mnuSelectChroma->isEnabled());
    EXPECT_FALSE(w->mnuSelectNeg->isEnabled());
    EXPECT_TRUE(w->chkNeg->isEnabled());

    Click(w->chkNeg);
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return ~(p & 0xFFFF00u); }));
    EXPECT_TRUE(w->mnuSelectNeg->isChecked());

    // A third channel enables them again; so does dropping to one.
    Click(w->chkChannel[2]);
    EXPECT_TRUE(w->chkChroma->isEnabled());
    EXPECT_TRUE(w->mnuSelectChroma->isEnabled());
    EXPECT_TRUE(w->mnuSelectNeg->isEnabled());
    Click(w->chkChannel[0]);  // green and blue
    EXPECT_FALSE(w->chkChroma->isEnabled());
    Click(w->chkChannel[1]);  // blue alone
    EXPECT_TRUE(w->chkChroma->isEnabled());
    EXPECT_TRUE(w->mnuSelectNeg->isEnabled());
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return ~(p & 0x0000FFu); }));
}

TEST_F(ModesTest, OneChannelWithBwSepIsGreyAndAGreyBoxLeftCheckedIsIgnoredForTwoChannels) {
    Click(w->chkChannel[1]);
    Click(w->chkChannel[2]);
    Click(w->chkChroma);
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) {
                  const Pixel r = (p >> 16) & 0xFF;
                  return r << 16 | r << 8 | r;
              }));
    EXPECT_TRUE(w->mnuSelectChroma->isChecked());

    Click(w->chkChannel[1]);  // red and green: the grey box is disabled and ignored
    EXPECT_TRUE(w->chkChroma->isChecked());
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return p & 0xFFFF00u; }));

    Click(w->chkChannel[0]);  // green alone, as grey again
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) {
                  const Pixel g = (p >> 8) & 0xFF;
                  return g << 16 | g << 8 | g;
              }));
    Click(w->chkChroma);
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return p & 0x00FF00u; }));
    EXPECT_FALSE(w->mnuSelectChroma->isChecked());
}

TEST_F(ModesTest, MenuItemsAndBoxesStayInStepBothWays) {
    QAction* const items[3] = {w->mnuSelectChanR, w->mnuSelectChanG, w->mnuSelectChanB};
    const Pixel masks[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        items[i]->trigger();
        EXPECT_FALSE(items[i]->isChecked());
        EXPECT_FALSE(w->chkChannel[i]->isChecked());
        const Pixel mask = 0xFFFFFF & ~masks[i];
        EXPECT_EQ(ViewNow(view()), Expected([mask](Pixel p) { return p & mask; }));
        Click(w->chkChannel[i]);
        EXPECT_TRUE(items[i]->isChecked());
        EXPECT_EQ(ViewNow(view()), Rgb(w->model().picture().viewPixels));
    }

    w->mnuSelectNeg->trigger();
    EXPECT_TRUE(w->chkNeg->isChecked());
    EXPECT_TRUE(w->mnuSelectNeg->isChecked());
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return ~p; }));
    Click(w->chkNeg);
    EXPECT_FALSE(w->mnuSelectNeg->isChecked());
    EXPECT_EQ(ViewNow(view()), Rgb(w->model().picture().viewPixels));

    Click(w->chkChannel[0]);
    Click(w->chkChannel[1]);
    w->mnuSelectChroma->trigger();
    EXPECT_TRUE(w->chkChroma->isChecked());
    EXPECT_TRUE(w->mnuSelectChroma->isChecked());
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return (p & 0xFF) * 0x010101u; }));
    w->mnuSelectChroma->trigger();
    EXPECT_FALSE(w->chkChroma->isChecked());
    EXPECT_EQ(ViewNow(view()), Expected([](Pixel p) { return p & 0x0000FFu; }));
}

TEST_F(ModesTest, ALoadPutsTheBoxesAndTheirMenuMarksBack) {
    Click(w->chkChannel[0]);
    Click(w->chkNeg);
    LoadPicture(Gradient(320, 200), "again.png");
    for (QCheckBox* box : w->chkChannel) EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(w->mnuSelectChanR->isChecked());
    EXPECT_FALSE(w->chkNeg->isChecked());
    EXPECT_FALSE(w->mnuSelectNeg->isChecked());
    EXPECT_EQ(ViewNow(view()), Rgb(w->model().picture().viewPixels));
}

TEST_F(ModesTest, ReadoutsShowThePicturesOwnValuesInEveryMode) {
    Press(100, 50);
    const QString plain = w->lblStatus->text();
    Release(100, 50);
    ASSERT_FALSE(plain.isEmpty());

    Click(w->chkChannel[1]);
    Click(w->chkChannel[2]);
    Click(w->chkChroma);
    Click(w->chkNeg);
    Press(100, 50);
    EXPECT_EQ(w->lblStatus->text(), plain);
    const Pixel p = w->model().picture().pixels.at(static_cast<std::size_t>(ColumnOf(100)), static_cast<std::size_t>(RowOf(50)));
    EXPECT_EQ(w->shpPatch->palette().color(QPalette::Window), QColor((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
}

TEST_F(ModesTest, AModeChangeUnderALockedProbeKeepsTheCrosshairConsistent) {
    Press(100, 50, Qt::ControlModifier);
    Release(100, 50);
    ASSERT_TRUE(w->model().picture().probe.locked);
    ASSERT_TRUE(w->mnuSelectNeg->isEnabled());

    w->mnuSelectNeg->trigger();
    ASSERT_TRUE(w->chkNeg->isChecked());
    const std::vector<Pixel> negative = Expected([](Pixel p) { return ~p; });
    EXPECT_EQ(ViewNow(view()), WithCrosshair(negative, viewWidth(), viewHeight(), 100, 50));

    // The bars move the crosshair over the new picture.
    w->hscrCross->setValue(300);
    const int x = w->ProbeViewX;
    EXPECT_EQ(ViewNow(view()), WithCrosshair(negative, viewWidth(), viewHeight(), x, 50));

    w->mnuSelectChroma->trigger();  // grey has no effect with three channels, but the picture is redrawn
    EXPECT_EQ(ViewNow(view()), WithCrosshair(negative, viewWidth(), viewHeight(), x, 50));

    // Unlocking and a plain click leave the mode's picture without any stray line.
    Press(7, 9);
    Release(7, 9);
    EXPECT_FALSE(w->model().picture().probe.locked);
    EXPECT_EQ(ViewNow(view()), negative);
}

TEST_F(ModesTest, WithoutAPictureTheSelectItemsKeepStepButDrawNothing) {
    w->cmdReset->click();
    ASSERT_FALSE(w->model().loaded());
    ASSERT_TRUE(w->mnuSelectNeg->isEnabled());
    ASSERT_TRUE(w->mnuSelectChroma->isEnabled());
    ASSERT_FALSE(w->mnuSelectChannels->isEnabled());
    const QImage emptied = view().image().copy();
    const std::vector<Pixel> work = w->model().picture().viewWork;

    w->mnuSelectNeg->trigger();
    EXPECT_TRUE(w->chkNeg->isChecked());
    EXPECT_TRUE(w->mnuSelectNeg->isChecked());
    w->mnuSelectChroma->trigger();
    EXPECT_TRUE(w->chkChroma->isChecked());
    EXPECT_TRUE(w->mnuSelectChroma->isChecked());
    w->mnuSelectNeg->trigger();
    EXPECT_FALSE(w->chkNeg->isChecked());
    EXPECT_FALSE(w->mnuSelectNeg->isChecked());

    EXPECT_TRUE(SameBits(view().image(), emptied));
    EXPECT_EQ(w->picImg->width(), 2);
    EXPECT_EQ(w->model().picture().viewWork, work);

    // The next load starts from the design state of the boxes.
    LoadPicture(Gradient(200, 100), "next.png");
    EXPECT_FALSE(w->chkChroma->isChecked());
    EXPECT_FALSE(w->mnuSelectChroma->isChecked());
    EXPECT_EQ(ViewNow(view()), Rgb(w->model().picture().viewPixels));
}

}  // namespace
