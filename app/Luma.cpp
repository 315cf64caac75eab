// The luma standard the picture is analysed under, and the skin-tone line on the
// vectorscope's graticule.

#include <QAction>
#include <QScrollBar>

#include "app/frmMain.h"
#include "linescope/frmScope.h"
#include "vectorscope/frmVector.h"

namespace vistrel {

void frmMain::SetLumaStandard(korvex::LumaStandard standard) {
    mnuToolsLuma601->setChecked(standard == korvex::LumaStandard::Rec601);
    mnuToolsLuma709->setChecked(standard == korvex::LumaStandard::Rec709);
    if (standard == modScope.Luma) return;
    modScope.Luma = standard;
    if (!modScope.PicLoaded) {
        // The next load analyses under the new standard; the bare graticule shows its targets now.
        RedrawVectorscope();
        return;
    }
    // The full-size picture is still here, colours untouched: only its luma bytes and
    // the colour differences are formed again.
    modScope.PicHistogram = korvex::AnalysePixels(modScope.PicPixels.span(), standard);
    if (frmVector_ != nullptr) frmVector_->PlotPoints(modScope.PicHistogram);
    if (modScope.ProbeLocked)
        ShowProbe(hscrCross->value(), vscrCross->value());
    else if (frmScope_ != nullptr)
        frmScope_->DrawWaveform(modScope.PicPixels);
}

void frmMain::mnuToolsSkinLine_Click() {
    modScope.SkinToneLine = mnuToolsSkinLine->isChecked();
    RedrawVectorscope();
}

void frmMain::RedrawVectorscope() {
    if (frmVector_ == nullptr) return;
    if (!modScope.PicLoaded) {
        frmVector_->ClearDrawing();
        frmVector_->DrawGraticule();
        return;
    }
    frmVector_->ShowPoints();
    // A locked probe keeps its vector on the new scale.
    if (modScope.ProbeLocked) {
        frmVector_->MarkProbe(korvex::PairOf(ProbeSample, modScope.Luma), korvex::PixelToColor(ProbeSample));
    }
}

}  // namespace vistrel
