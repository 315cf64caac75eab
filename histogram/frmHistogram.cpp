#include "histogram/frmHistogram.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include "platform/BlackField.h"
#include "platform/Gdi.h"

namespace vistrel {

namespace {

// Beside the vectorscope (432 + 256 wide, 8 pixels apart), at its height.
constexpr QPoint kWindowPosition{696, 519};
// The plot on top, the option strip of the other instruments' height under it.
constexpr QSize kClientSize{histogram::kRasterWidth, 286};
constexpr QRect kLogGeometry{7, 266, 60, 17};
// Captions in the small font of the line scope's options.
constexpr int kCaptionPoints = 8;

}  // namespace

frmHistogram::frmHistogram(Model& model, QWidget* parent)
    : Instrument(parent),
      model_(model),
      surface_(histogram::kRasterWidth, histogram::kRasterHeight, 0) {
    setObjectName(QStringLiteral("frmHistogram"));
    setWindowTitle(QStringLiteral("Vistrel Histogram"));
    QFont captions = font();
    captions.setPointSize(kCaptionPoints);
    setFont(captions);
    setFixedSize(kClientSize);
    move(kWindowPosition);

    const QPalette controls = PaintBlackField(*this);

    chkLog = new QCheckBox(QStringLiteral("Log"), this);
    chkLog->setObjectName(QStringLiteral("chkLog"));
    chkLog->setGeometry(kLogGeometry);
    chkLog->setAttribute(Qt::WA_NoMousePropagation);
    chkLog->setPalette(controls);
    chkLog->setAutoFillBackground(true);
    connect(chkLog, &QCheckBox::clicked, this, [this] { chkLog_Click(); });

    PlotHeader = TopDownHeader(histogram::kRasterWidth, histogram::kRasterHeight);
    chkLog->setChecked(model_.settings().histogramScale == HistogramScale::Log);
    RefreshHistogram();
    connect(&model_, &Model::changed, this, &frmHistogram::ModelChanged);
}

void frmHistogram::ModelChanged(Changes what) {
    if (what & Change::HistogramScale) chkLog->setChecked(model_.settings().histogramScale == HistogramScale::Log);
    if (what & (Change::Picture | Change::Analysis | Change::Lamp | Change::Scope | Change::HistogramScale))
        RefreshHistogram();
}

void frmHistogram::DrawHistogram(const korvex::LevelCounts& counts) {
    const Settings& settings = model_.settings();
    const histogram::HistogramPlot plot =
        histogram::BuildHistogram(counts, {settings.scopeChannel, settings.histogramScale, ScaleColorOf(settings.lamp)});
    SetDIBits(surface_, 0, histogram::kRasterHeight, plot.raster.data(), PlotHeader);
    const QFontMetrics metrics(font());
    for (const histogram::PlotLabel& label : plot.labels) {
        const int x = label.alignRight ? label.x - metrics.horizontalAdvance(label.text) : label.x;
        DrawTextAt(surface_, x, label.y, label.text, korvex::PixelToColor(label.color), font());
    }
    update();
}

void frmHistogram::RefreshHistogram() {
    if (model_.loaded())
        DrawHistogram(model_.picture().levels);
    else
        DrawHistogram({});
}

void frmHistogram::chkLog_Click() {
    model_.Set(&Settings::histogramScale, chkLog->isChecked() ? HistogramScale::Log : HistogramScale::Linear);
}

QSize frmHistogram::naturalSize() const { return kClientSize; }

QPoint frmHistogram::designPosition() const { return kWindowPosition; }

QSize frmHistogram::rasterSize() const { return QSize(histogram::kRasterWidth, histogram::kRasterHeight); }

int frmHistogram::stripHeight() const { return kClientSize.height() - histogram::kRasterHeight; }

void frmHistogram::Arrange() {
    placed_ = Place();
    // The option keeps its design place, at the panel's bottom.
    chkLog->move(kLogGeometry.left(), kLogGeometry.top() + StripShift());
}

void frmHistogram::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (placed_.scale == 1) {
        painter.drawImage(placed_.origin, surface_.image());
    } else {
        ScaleBlocks(surface_.image(), placed_.scale, scaled_);
        painter.drawImage(placed_.origin, scaled_);
    }
}

void frmHistogram::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !panel_) drag_.Press(event->position());
}

void frmHistogram::mouseMoveEvent(QMouseEvent* event) { drag_.Move(event->globalPosition()); }

void frmHistogram::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) drag_.Release();
}

// The second press of a double-click is not a new press: the drag is not re-armed.
void frmHistogram::mouseDoubleClickEvent(QMouseEvent*) {}

}  // namespace vistrel
