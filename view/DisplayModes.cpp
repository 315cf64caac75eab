// The channel display modes: any set of the red, green and blue channels, a
// single channel as greys, and the negative, from the boxes and the Select menu.

#include <QAction>
#include <QCheckBox>
#include <QMenu>

#include "app/frmMain.h"
#include "histogram/frmHistogram.h"

namespace vistrel {

void frmMain::ShowViewBuffer(const std::vector<Pixel>& buffer) {
    Surface& view = picImg->surface();
    if (view.isNull() || buffer.size() != static_cast<std::size_t>(view.width()) * view.height()) return;
    // A crosshair on the view is redrawn over the new picture, so that drawing it
    // once more still erases it.
    const bool crosshair = model_.picture().probe.dragging;
    SetDIBits(view, 0, view.height(), buffer.data(), ViewHeader);
    if (crosshair) DrawCrosshair();
    picImg->update();
}

void frmMain::ShowView() {
    // With no picture loaded the emptied view keeps showing nothing.
    if (model_.loaded()) ShowViewBuffer(model_.ShownView());
}

void frmMain::chkChannel_Click(int index) {
    Settings& settings = model_.settings;
    for (int i = 0; i < 3; ++i) settings.channels[static_cast<std::size_t>(i)] = chkChannel[i]->isChecked();
    settings.mono = chkChroma->isChecked();
    settings.negative = chkNeg->isChecked();

    // Two channels together have no single-channel greys, and no negative.
    const bool two = MixOf(settings.channels) == ChannelMix::Two;
    chkChroma->setEnabled(!two);
    mnuSelectChroma->setEnabled(!two);
    mnuSelectNeg->setEnabled(!two);

    // With no picture loaded the boxes and menu marks follow along.
    ShowView();

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

void frmMain::mnuSelectClipping_Click() {
    model_.settings.showClipping = mnuSelectClipping->isChecked();
    ShowView();
}

}  // namespace vistrel
