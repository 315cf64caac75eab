// The keys that move a locked probe, the lamp that sets the graticules'
// brightness, and the switches that show and hide the instrument windows.

#include <QAction>
#include <QCheckBox>
#include <QScrollBar>

#include "app/frmMain.h"
#include "histogram/frmHistogram.h"
#include "linescope/frmScope.h"
#include "vectorscope/frmVector.h"

namespace vistrel {

using korvex::ClampValue;

namespace {

// Virtual-key codes of the keys a locked probe answers to.
enum KeyCode : int { kEnd = 35, kHome = 36, kLeft = 37, kUp = 38, kRight = 39, kDown = 40 };

void Step(QScrollBar* bar, int by) { bar->setValue(ClampValue(bar->minimum(), bar->value() + by, bar->maximum())); }

}  // namespace

void frmMain::Form_KeyDown(int& keyCode, int shift) {
    if (!model_.picture().probe.locked) return;
    // Ctrl steps by the horizontal bar's large step on both axes.
    const int step = (shift & kCtrlKey) ? hscrCross->pageStep() : 1;
    switch (keyCode) {
        case kLeft: Step(hscrCross, -step); break;
        case kRight: Step(hscrCross, step); break;
        case kUp: Step(vscrCross, -step); break;
        case kDown: Step(vscrCross, step); break;
        case kHome:
            vscrCross->setValue(vscrCross->maximum() / 2);
            hscrCross->setValue(hscrCross->maximum() / 2);
            break;
        case kEnd: break;
        default: return;
    }
    keyCode = 0;
}

void frmMain::hscrLamp_Change() {
    model_.settings.lamp = hscrLamp->value();
    RedrawHistogram();
    if (!model_.loaded()) return;
    if (frmVector_ != nullptr) frmVector_->ShowPoints();
    if (frmScope_ == nullptr) return;
    const Picture& picture = model_.picture();
    if (picture.probe.locked)
        frmScope_->DrawLineTrace(picture.pixels, hscrCross->value(), vscrCross->value());
    else
        frmScope_->DrawWaveform(picture.pixels);
}

void frmMain::chkLineScope_Click() {
    const bool wanted = chkLineScope->isChecked();
    ShowInstrument(frmScope_, wanted);
    mnuToolsLine->setChecked(wanted);
}

void frmMain::chkPolar_Click() {
    const bool wanted = chkPolar->isChecked();
    ShowInstrument(frmVector_, wanted);
    mnuToolsVector->setChecked(wanted);
}

void frmMain::mnuToolsHistogram_Click() {
    model_.settings.histogramShown = mnuToolsHistogram->isChecked();
    ShowInstrument(frmHistogram_, model_.settings.histogramShown);
}

void frmMain::RedrawHistogram() {
    if (frmHistogram_ != nullptr) frmHistogram_->RefreshHistogram();
}

void frmMain::mnuToolsLine_Click() { MirrorToBox(busyToolsLine_, mnuToolsLine, chkLineScope); }

void frmMain::mnuToolsVector_Click() { MirrorToBox(busyToolsVector_, mnuToolsVector, chkPolar); }

}  // namespace vistrel
