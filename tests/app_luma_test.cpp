// The luma standard and the skin-tone line in the main window: switching analyses the
// loaded picture again exactly as a load under that standard would.

#include <QAction>
#include <QLabel>


#include "app_view_fixture.h"
#include "linescope/frmScope.h"
#include "vectorscope/Graticule.h"
#include "vectorscope/frmVector.h"

namespace {

using korvex::LumaStandard;
using korvex::Pixel;

// The full-size pixels as a plain buffer.
std::vector<Pixel> PicPixelsOf(const vistrel::frmMain& w) {
    const auto span = w.model().picture().pixels.span();
    return {span.begin(), span.end()};
}
using view_testing::MainWindowTest;
using view_testing::SameBits;
using vistrel::frmScope;
using vistrel::frmVector;

// Everything the instruments and the readouts show, to compare two windows by.
struct Shown {
    QImage vector;
    QImage scope[4];
    QString posn, status;
};

Shown ShownBy(vistrel::frmMain& w) {
    Shown s{w.workspace().instrument<frmVector>()->surface().image(),
            {},
            Ctl<QLabel>(w, "lblPosn")->text(),
            Ctl<QLabel>(w, "lblStatus")->text()};
    for (int k = 0; k < 4; ++k) s.scope[k] = w.workspace().instrument<frmScope>()->boxSurface(k).image();
    return s;
}

void ExpectSameShown(const Shown& a, const Shown& b) {
    EXPECT_TRUE(SameBits(a.vector, b.vector));
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(SameBits(a.scope[k], b.scope[k])) << "box " << k;
    EXPECT_EQ(a.posn, b.posn);
    EXPECT_EQ(a.status, b.status);
}

class LumaSwitch : public MainWindowTest {
protected:
    // The same picture loaded into a second window that was switched before loading.
    Shown LoadedFreshUnder(LumaStandard standard, const std::function<void(vistrel::frmMain&)>& then = {}) {
        vistrel::frmMain other;
        other.start();
        Ctl<QAction>(other, standard == LumaStandard::Rec709 ? "mnuToolsLuma709" : "mnuToolsLuma601")->trigger();
        testing_support::Load(other, Ctl<QLineEdit>(*w, "txtImageFile")->text());
        if (then) then(other);
        return ShownBy(other);
    }
};

TEST_F(LumaSwitch, SwitchingIsAFreshAnalysisUnderTheOtherStandardAndBackIsTheOriginal) {
    LoadPicture(view_testing::Gradient(120, 90));
    const Shown rec601 = ShownBy(*w);
    const std::vector<Pixel> colours = view_testing::Rgb(PicPixelsOf(*w));

    Ctl<QAction>(*w, "mnuToolsLuma709")->trigger();
    EXPECT_FALSE(Ctl<QAction>(*w, "mnuToolsLuma601")->isChecked());
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuToolsLuma709")->isChecked());
    EXPECT_EQ(w->model().settings().luma, LumaStandard::Rec709);
    EXPECT_EQ(view_testing::Rgb(PicPixelsOf(*w)), colours) << "colours untouched";
    // What shows is what a load under Rec. 709 shows; the model's tests compare its counts with the kernel's.
    const Shown rec709 = ShownBy(*w);
    ExpectSameShown(rec709, LoadedFreshUnder(LumaStandard::Rec709));
    EXPECT_FALSE(SameBits(rec709.vector, rec601.vector));
    EXPECT_FALSE(SameBits(rec709.scope[3], rec601.scope[3]));  // the parade's Y part

    Ctl<QAction>(*w, "mnuToolsLuma601")->trigger();
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuToolsLuma601")->isChecked());
    ExpectSameShown(ShownBy(*w), rec601);
}

TEST_F(LumaSwitch, ALockedProbeStaysAndReadsTheNewLuma) {
    LoadPicture(view_testing::Gradient(120, 90));
    const auto lockAt = [](vistrel::frmMain& window) {
        Ctl<vistrel::PictureBox>(window, "picImg")->onMouseDown(vistrel::kLeftButton, vistrel::kCtrlKey, 70.0f, 40.0f);
        Ctl<vistrel::PictureBox>(window, "picImg")->onMouseUp(vistrel::kLeftButton, vistrel::kCtrlKey, 70.0f, 40.0f);
    };
    lockAt(*w);
    ASSERT_TRUE(w->model().picture().probe.locked);
    const std::vector<Pixel> viewBefore = view_testing::ViewNow(view());
    const QString posn = Ctl<QLabel>(*w, "lblPosn")->text();

    Ctl<QAction>(*w, "mnuToolsLuma709")->trigger();
    EXPECT_TRUE(w->model().picture().probe.locked);
    EXPECT_TRUE(Ctl<QScrollBar>(*w, "hscrCross")->isVisible());
    EXPECT_EQ(Ctl<QLabel>(*w, "lblPosn")->text(), posn);
    EXPECT_EQ(view_testing::ViewNow(view()), viewBefore) << "the crosshair stays where it was";
    // The readout's fourth value is the Rec. 709 luma of the probed pixel.
    const Pixel probed =
        w->model().picture().pixels.at(static_cast<std::size_t>(Ctl<QScrollBar>(*w, "hscrCross")->value()),
                                       static_cast<std::size_t>(Ctl<QScrollBar>(*w, "vscrCross")->value()));
    std::vector<Pixel> one{probed & 0x00FFFFFFu};
    std::vector<korvex::UvPair> pair(1);
    korvex::ConvertToYuv(one, pair, LumaStandard::Rec709);
    EXPECT_TRUE(Ctl<QLabel>(*w, "lblStatus")->text().endsWith(", " + vistrel::FormatNumber(one[0] >> 24, "000")))
        << Ctl<QLabel>(*w, "lblStatus")->text().toStdString();
    // Marker, trace and readouts as a probe locked after a load under Rec. 709.
    ExpectSameShown(ShownBy(*w), LoadedFreshUnder(LumaStandard::Rec709, lockAt));
}

TEST_F(LumaSwitch, WithoutAPictureTheTargetsMoveAndTheNextLoadUsesTheStandard) {
    const auto lit = [this](const vistrel::TargetBox& box) {
        return w->workspace().instrument<frmVector>()->surface().pixel(box.right - 1, box.bottom - 1) != 0;
    };
    const auto boxes709 = vistrel::TargetBoxesFor(LumaStandard::Rec709);
    // The green target: its corners lie apart from the other standard's box and the circle.
    EXPECT_TRUE(lit(vistrel::kTargetBoxes[2]));
    EXPECT_FALSE(lit(boxes709[2]));
    Ctl<QAction>(*w, "mnuToolsLuma709")->trigger();
    EXPECT_FALSE(lit(vistrel::kTargetBoxes[2]));
    EXPECT_TRUE(lit(boxes709[2]));

    LoadPicture(view_testing::Gradient(40, 30));
    std::vector<Pixel> expected = view_testing::Rgb(PicPixelsOf(*w));
    std::vector<korvex::UvPair> pairs(expected.size());
    korvex::ConvertToYuv(expected, pairs, LumaStandard::Rec709);
    EXPECT_EQ(PicPixelsOf(*w), expected);
}

TEST_F(LumaSwitch, SkinToneLineComesAndGoesOverThePlotAndKeepsALockedMarker) {
    const QImage bare = w->workspace().instrument<frmVector>()->surface().image();
    Ctl<QAction>(*w, "mnuToolsSkinLine")->trigger();
    EXPECT_TRUE(w->model().settings().skinLine);
    // Without a picture: the bare graticule with the line, as the drawing layer makes it.
    vistrel::Surface expected(256, 256, 0);
    vistrel::Dc dc(expected);
    vistrel::DrawGraticuleOn(dc, vistrel::GetStockObject(vistrel::StockObject::DcPen), vistrel::GetStockObject(vistrel::StockObject::NullBrush), vistrel::ScaleColorOf(w->model().settings().lamp),
                             {LumaStandard::Rec601, true});
    EXPECT_TRUE(SameBits(w->workspace().instrument<frmVector>()->surface().image(), expected.image()));
    Ctl<QAction>(*w, "mnuToolsSkinLine")->trigger();
    EXPECT_TRUE(SameBits(w->workspace().instrument<frmVector>()->surface().image(), bare));

    LoadPicture(view_testing::Gradient(120, 90));
    Ctl<vistrel::PictureBox>(*w, "picImg")->onMouseDown(vistrel::kLeftButton, vistrel::kCtrlKey, 30.0f, 60.0f);
    const QImage marked = w->workspace().instrument<frmVector>()->surface().image();
    Ctl<QAction>(*w, "mnuToolsSkinLine")->trigger();
    const QImage withLine = w->workspace().instrument<frmVector>()->surface().image();
    // Only pixels of the line change, and the marker is drawn over it again.
    vistrel::Surface line(256, 256, 0);
    vistrel::Dc lineDc(line);
    vistrel::DrawGraticuleOn(lineDc, vistrel::GetStockObject(vistrel::StockObject::DcPen), vistrel::GetStockObject(vistrel::StockObject::NullBrush), 0xFFFFFF, {LumaStandard::Rec601, true});
    std::size_t changed = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            if (marked.pixel(x, y) != withLine.pixel(x, y)) {
                ++changed;
                EXPECT_NE(line.pixel(x, y), 0u) << x << "," << y;
            }
    EXPECT_GT(changed, 0u);
    Ctl<QAction>(*w, "mnuToolsSkinLine")->trigger();
    EXPECT_TRUE(SameBits(w->workspace().instrument<frmVector>()->surface().image(), marked));
}

}  // namespace
