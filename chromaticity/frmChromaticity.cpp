#include "chromaticity/frmChromaticity.h"

#include <QMouseEvent>
#include <QPainter>

#include "platform/BlackField.h"
#include "platform/Gdi.h"

namespace vistrel {

namespace {

// Beside the histogram (696 + 264 wide, 8 pixels apart), at its height.
constexpr QPoint kWindowPosition{968, 519};
// The plot on top, under it a strip the reading's line takes while the pointer reads it.
constexpr int kStripHeight = 16;
constexpr QSize kRasterSize{chromaticity::kRasterWidth, chromaticity::kRasterHeight};
constexpr QSize kClientSize{chromaticity::kRasterWidth, chromaticity::kRasterHeight + kStripHeight};
constexpr InstrumentDesign kDesign{kClientSize, kWindowPosition, kRasterSize, kStripHeight, {}};
// Names in the small font of the other instruments' captions.
constexpr int kCaptionPoints = 8;

}  // namespace

frmChromaticity::frmChromaticity(Model& model, QWidget* parent)
    : Instrument(parent, kDesign),
      model_(model),
      surface_(chromaticity::kRasterWidth, chromaticity::kRasterHeight, 0) {
    setObjectName(QStringLiteral("frmChromaticity"));
    setWindowTitle(QStringLiteral("Vistrel Chromaticity"));
    QFont captions = font();
    captions.setPointSize(kCaptionPoints);
    setFont(captions);
    PaintBlackField(*this);
    PlotHeader = TopDownHeader(chromaticity::kRasterWidth, chromaticity::kRasterHeight);
    RefreshChromaticity();
    connect(&model_, &Model::changed, this, &frmChromaticity::ModelChanged);
}

// A picture the decoder left uncounted is counted once the diagram is seen (or drawn
// for a file), not at every load.
const SignalStats* frmChromaticity::Counts() const {
    if (!model_.loaded()) return nullptr;
    if (model_.picture().signal || !isVisible()) return model_.picture().signal.get();
    return model_.CountedSignal();
}

void frmChromaticity::DrawForImage() { DrawChromaticity(model_.loaded() ? model_.CountedSignal() : nullptr); }

void frmChromaticity::showEvent(QShowEvent* event) {
    Instrument::showEvent(event);
    if (model_.loaded() && !model_.picture().signal) RefreshChromaticity();
}

void frmChromaticity::ModelChanged(Changes what) {
    if (what & (Change::Picture | Change::Lamp)) RefreshChromaticity();
    if (what & Change::Picture) RefreshReading();
}

void frmChromaticity::DrawChromaticity(const SignalStats* stats) {
    const chromaticity::ChromaticityPlot plot =
        chromaticity::BuildChromaticity(stats, ScaleColorOf(model_.settings().lamp));
    SetDIBits(surface_, 0, chromaticity::kRasterHeight, plot.raster.data(), PlotHeader);
    for (const chromaticity::PlotLabel& label : plot.labels)
        DrawTextAt(surface_, label.x, label.y, label.text, korvex::PixelToColor(label.color), font());
    update();
}

void frmChromaticity::RefreshChromaticity() { DrawChromaticity(Counts()); }

void frmChromaticity::Arrange() { placed_ = Place(); }

std::optional<QString> frmChromaticity::ReadingAt(QPoint rasterPixel) const {
    const auto reading = chromaticity::ReadingAt(Counts(), rasterPixel.x(), rasterPixel.y());
    if (!reading) return std::nullopt;
    return chromaticity::ReadingText(*reading);
}

void frmChromaticity::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    FollowRatio(painter);
    PaintRaster(painter, QPointF(), placed_.origin, surface_.image(), scaled_);
}

void frmChromaticity::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !panel_) drag_.Press(event->position());
}

void frmChromaticity::mouseMoveEvent(QMouseEvent* event) {
    drag_.Move(event->globalPosition());
    PointAt(event->position());
}

void frmChromaticity::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) drag_.Release();
}

// The second press of a double-click is not a new press: the drag is not re-armed.
void frmChromaticity::mouseDoubleClickEvent(QMouseEvent*) {}

}  // namespace vistrel
