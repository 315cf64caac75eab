// The luma standard the picture is analysed under, and the skin-tone line on the
// vectorscope's graticule.

#include <QAction>
#include <QScrollBar>

#include "app/frmMain.h"
#include "histogram/frmHistogram.h"
#include "linescope/frmScope.h"
#include "vectorscope/frmVector.h"

namespace vistrel {

void frmMain::SetLumaStandard(korvex::LumaStandard standard) {
    mnuToolsLuma601->setChecked(standard == korvex::LumaStandard::Rec601);
    mnuToolsLuma709->setChecked(standard == korvex::LumaStandard::Rec709);
    if (standard == model_.settings.luma) return;
    model_.settings.luma = standard;
    if (!model_.loaded()) {
        // The next load analyses under the new standard; the bare graticule shows its targets now.
        RedrawVectorscope();
        return;
    }
    // The full-size picture is still here, colours untouched: only its luma bytes and
    // the colour differences are formed again.
    model_.Reanalyse(standard);
    const Picture& picture = model_.picture();
    if (frmVector_ != nullptr) frmVector_->PlotPoints(picture.histogram);
    RedrawHistogram();
    if (picture.probe.locked)
        ShowProbe(hscrCross->value(), vscrCross->value());
    else if (frmScope_ != nullptr)
        frmScope_->DrawWaveform(picture.pixels);
}

void frmMain::mnuToolsSkinLine_Click() {
    model_.settings.skinLine = mnuToolsSkinLine->isChecked();
    RedrawVectorscope();
}

void frmMain::RedrawVectorscope() {
    if (frmVector_ == nullptr) return;
    if (!model_.loaded()) {
        frmVector_->ClearDrawing();
        frmVector_->DrawGraticule();
        return;
    }
    frmVector_->ShowPoints();
    // A locked probe keeps its vector on the new scale.
    if (model_.picture().probe.locked) {
        frmVector_->MarkProbe(korvex::PairOf(ProbeSample, model_.settings.luma), korvex::PixelToColor(ProbeSample));
    }
}

}  // namespace vistrel
