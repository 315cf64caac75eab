// The probe: a crosshair on the view, the probed pixel's position and values,
// its colour patch, and both instruments following it; Ctrl locks it.

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>

#include "app/frmMain.h"
#include "linescope/frmScope.h"
#include "platform/Numbers.h"
#include "vectorscope/frmVector.h"

namespace vistrel {

using korvex::ClampValue;

namespace {

QColor FromColorValue(ColorValue color) { return QColor::fromRgb(OpaquePixel(color)); }

QString Digits(double value) { return FormatNumber(value, "000"); }

}  // namespace

void frmMain::DrawCrosshair() {
    Dc& dc = picImg->dc();
    dc.SetDCPenColor(0);  // the view's foreground colour: black, so the not-XOR pen inverts
    const Picture& picture = model_.picture();
    const Probe& probe = picture.probe;
    dc.Line(probe.viewX, 0, probe.viewX, picture.viewMaxY);
    dc.Line(0, probe.viewY, picture.viewMaxX, probe.viewY);
    picImg->update();
}

void frmMain::ShowProbe(int column, int row) {
    column = ClampValue(hscrCross->minimum(), column, hscrCross->maximum());
    row = ClampValue(vscrCross->minimum(), row, vscrCross->maximum());
    lblPosn->setText(Digits(column) + " / " + Digits(row));
    model_.MoveProbe(column, row);
    const Picture& picture = model_.picture();
    ProbeSample = picture.pixels.at(static_cast<std::size_t>(column), static_cast<std::size_t>(row));
    const ColorValue color = korvex::PixelToColor(ProbeSample);
    const ProbeReadout readout = ReadoutOf(ProbeSample, model_.settings.luma);
    lblStatus->setText(Digits(readout.r) + ", " + Digits(readout.g) + ", " + Digits(readout.b) + ", " +
                       Digits(readout.y));
    SetPatchColour(FromColorValue(color));
    if (frmVector_ != nullptr) frmVector_->MarkProbe(readout.uv, color);
    if (frmScope_ != nullptr) frmScope_->DrawLineTrace(picture.pixels, column, row);
}

void frmMain::PlaceProbe(float x, float y) {
    model_.PlaceProbeOnView(ClampValue(0, nearestInt(x), model_.picture().viewMaxX),
                            ClampValue(0, nearestInt(y), model_.picture().viewMaxY));
}

void frmMain::PlaceProbeAt(std::int32_t column, std::int32_t row) {
    const Picture& picture = model_.picture();
    model_.PlaceProbeOnView(ClampValue(0, nearestInt(column / static_cast<double>(picture.scaleX)), picture.viewMaxX),
                            ClampValue(0, nearestInt(row / static_cast<double>(picture.scaleY)), picture.viewMaxY));
}

std::int32_t frmMain::ProbeColumn() const {
    return nearestInt(model_.picture().probe.viewX * static_cast<double>(model_.picture().scaleX));
}

std::int32_t frmMain::ProbeRow() const {
    return nearestInt(model_.picture().probe.viewY * static_cast<double>(model_.picture().scaleY));
}

void frmMain::picImg_MouseDown(int button, int shift, float x, float y) {
    if (button == kLeftButton) {
        if (!model_.loaded()) return;
        if (model_.picture().probe.locked) {
            UnlockProbe();
            SetPatchColour(palette().color(QPalette::Window));
        } else if (model_.picture().probe.dragging) {
            // The last drag's release went to another window: its crosshair goes
            // first, and the view's own drawing mode is the one saved again below.
            DrawCrosshair();
            picImg->dc().SetROP2(SavedDrawMode);
        }
        SavedDrawMode = picImg->dc().rop2();
        picImg->dc().SetROP2(DrawMode::NotXorPen);
        PlaceProbe(x, y);
        DrawCrosshair();
        ShowProbe(ProbeColumn(), ProbeRow());
        model_.SetProbeDragging(true);
        if (shift & kCtrlKey) {
            // The probe is locked only after both bars are set, so their change
            // events find it unlocked and do nothing.
            hscrCross->setValue(ClampValue(hscrCross->minimum(), ProbeColumn(), hscrCross->maximum()));
            hscrCross->show();
            vscrCross->setValue(ClampValue(vscrCross->minimum(), ProbeRow(), vscrCross->maximum()));
            vscrCross->show();
            model_.LockProbe(hscrCross->value(), vscrCross->value());
            fraChannels->setEnabled(false);
            mnuSelectChannels->setEnabled(false);
        }
    } else if (button == kRightButton) {
        if (!model_.loaded() || model_.picture().probe.dragging) return;
        const auto W = static_cast<std::int64_t>(model_.picture().pixels.width());
        const auto H = static_cast<std::int64_t>(model_.picture().pixels.height());
        lblPosn->setText(Digits(static_cast<double>(W)) + " x " + Digits(static_cast<double>(H)));
        // Whole numbers all the way: the largest picture's 3 GiB must read exactly.
        lblStatus->setText(FormatNumber(static_cast<double>(W * H * 3 / 1024), "0,0") + " Kb");
    }
}

void frmMain::picImg_MouseMove(int button, int, float x, float y) {
    if (button != kLeftButton || model_.picture().probe.locked || !model_.picture().probe.dragging) return;
    DrawCrosshair();
    PlaceProbe(x, y);
    DrawCrosshair();
    ShowProbe(ProbeColumn(), ProbeRow());
}

void frmMain::picImg_MouseUp(int button, int, float, float) {
    if (button == kLeftButton) {
        if (!model_.picture().probe.dragging || model_.picture().probe.locked) return;
        DrawCrosshair();
        model_.SetProbeDragging(false);
        picImg->dc().SetROP2(SavedDrawMode);
        ShowColourNote();
        lblPosn->clear();
        SetPatchColour(palette().color(QPalette::Window));
        if (frmVector_ != nullptr) frmVector_->ShowPoints();
        if (frmScope_ != nullptr) frmScope_->DrawWaveform(model_.picture().pixels);
    } else if (button == kRightButton) {
        if (model_.picture().probe.dragging) return;
        ShowColourNote();
        lblPosn->clear();
    }
}

void frmMain::TrackCrossBars() {
    if (!model_.picture().probe.locked) return;
    CrossX = hscrCross->value();
    CrossY = vscrCross->value();
    DrawCrosshair();
    PlaceProbeAt(CrossX, CrossY);
    DrawCrosshair();
    ShowProbe(CrossX, CrossY);
}

void frmMain::UnlockProbe() {
    DrawCrosshair();
    model_.SetProbeDragging(false);
    model_.UnlockProbe();
    vscrCross->hide();
    hscrCross->hide();
    picImg->dc().SetROP2(SavedDrawMode);
    ShowColourNote();
    lblPosn->clear();
    fraChannels->setEnabled(true);
    mnuSelectChannels->setEnabled(true);
    if (frmVector_ != nullptr) frmVector_->ShowPoints();
    if (frmScope_ != nullptr) frmScope_->DrawWaveform(model_.picture().pixels);
}

}  // namespace vistrel
