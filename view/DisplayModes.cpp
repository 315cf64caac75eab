// The channel display modes: any set of the red, green and blue channels, a
// single channel as greys, and the negative, from the boxes and the Select menu.

#include <QAction>
#include <QCheckBox>
#include <QMenu>

#include "app/frmMain.h"

namespace vistrel {

namespace {

constexpr std::uint32_t kRedMask = 0xFF0000;
constexpr std::uint32_t kGreenMask = 0x00FF00;
constexpr std::uint32_t kBlueMask = 0x0000FF;

enum class MaskKind { None, Single, Two, All };

MaskKind Classify(std::uint32_t mask) {
    switch (mask) {
        case 0: return MaskKind::None;
        case kRedMask: case kGreenMask: case kBlueMask: return MaskKind::Single;
        case 0xFFFFFF: return MaskKind::All;
        default: return MaskKind::Two;
    }
}

void Complement(std::vector<Pixel>& buffer) {
    for (Pixel& p : buffer) p = ~p;
}

}  // namespace

void frmMain::ShowViewBuffer(const std::vector<Pixel>& buffer) {
    Surface& view = picImg->surface();
    if (view.isNull() || buffer.size() != static_cast<std::size_t>(view.width()) * view.height()) return;
    // A crosshair on the view is redrawn over the new picture, so that drawing it
    // once more still erases it.
    const bool crosshair = ProbeDragging;
    SetDIBits(view, 0, view.height(), buffer.data(), ViewHeader);
    if (crosshair) DrawCrosshair();
    picImg->update();
}

void frmMain::chkChannel_Click(int index) {
    std::uint32_t mask = 0;
    if (chkChannel[0]->isChecked()) mask |= kRedMask;
    if (chkChannel[1]->isChecked()) mask |= kGreenMask;
    if (chkChannel[2]->isChecked()) mask |= kBlueMask;

    chkChroma->setEnabled(true);
    mnuSelectChroma->setEnabled(true);
    mnuSelectNeg->setEnabled(true);

    const MaskKind kind = Classify(mask);
    bool reuse = false;
    switch (kind) {
        case MaskKind::None:
            reuse = BlankViewValid;
            break;
        case MaskKind::Single:
        case MaskKind::All:
            break;
        case MaskKind::Two:
            chkChroma->setEnabled(false);
            mnuSelectChroma->setEnabled(false);
            mnuSelectNeg->setEnabled(false);
            break;
    }
    const bool spread = chkChroma->isChecked() && kind == MaskKind::Single;

    // With no picture loaded the boxes and menu marks follow along, but the
    // emptied view keeps showing nothing.
    if (modScope.PicLoaded) {
        if (reuse) {
            if (chkNeg->isChecked()) {
                Complement(BlankView);
                BlankViewValid = false;
            }
            ShowViewBuffer(BlankView);
        } else {
            ViewWork.resize(ViewPixels.size());
            if (spread)
                korvex::SpreadChannel(ViewPixels.data(), ViewWork.data(), mask, ViewPixels.size());
            else
                korvex::MaskPixels(ViewPixels.data(), ViewWork.data(), mask, ViewPixels.size());
            if (kind == MaskKind::None) {
                BlankView = ViewWork;
                BlankViewValid = true;
            }
            if (chkNeg->isChecked()) Complement(ViewWork);
            ShowViewBuffer(ViewWork);
        }
    }

    QAction* const mirrors[3] = {mnuSelectChanR, mnuSelectChanG, mnuSelectChanB};
    if (index >= 0 && index < 3) mirrors[index]->setChecked(chkChannel[index]->isChecked());
}

void frmMain::chkChroma_Click() {
    chkChannel_Click(4);
    mnuSelectChroma->setChecked(chkChroma->isChecked());
}

void frmMain::chkNeg_Click() {
    chkChannel_Click(4);
    mnuSelectNeg->setChecked(chkNeg->isChecked());
}

void frmMain::MirrorToBox(bool& busy, QAction* item, QCheckBox* box) {
    if (busy) return;
    busy = true;
    box->setChecked(item->isChecked());
    busy = false;
}

void frmMain::mnuSelectChanR_Click() { MirrorToBox(busyChanR_, mnuSelectChanR, chkChannel[0]); }
void frmMain::mnuSelectChanG_Click() { MirrorToBox(busyChanG_, mnuSelectChanG, chkChannel[1]); }
void frmMain::mnuSelectChanB_Click() { MirrorToBox(busyChanB_, mnuSelectChanB, chkChannel[2]); }
void frmMain::mnuSelectChroma_Click() { MirrorToBox(busyChroma_, mnuSelectChroma, chkChroma); }
void frmMain::mnuSelectNeg_Click() { MirrorToBox(busyNeg_, mnuSelectNeg, chkNeg); }

}  // namespace vistrel
