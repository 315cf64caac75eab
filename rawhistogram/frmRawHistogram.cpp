#include "rawhistogram/frmRawHistogram.h"

#include <QCheckBox>
#include <QMouseEvent>
#include <QPainter>

#include "platform/BlackField.h"
#include "platform/Gdi.h"

namespace vistrel {

namespace {

// Under the chromaticity diagram's place, beside the histogram.
constexpr QPoint kWindowPosition{968, 811};
// The plot on top, under it one row of options: the EV axis and Log.
constexpr QSize kClientSize{rawhistogram::kRasterWidth, rawhistogram::kRasterHeight + 24};
constexpr QRect kEvGeometry{7, rawhistogram::kRasterHeight + 4, 50, 17};
constexpr QRect kLogGeometry{64, rawhistogram::kRasterHeight + 4, 50, 17};
constexpr int kCaptionPoints = 8;
constexpr QSize kRasterSize{rawhistogram::kRasterWidth, rawhistogram::kRasterHeight};
constexpr InstrumentDesign kDesign{kClientSize, kWindowPosition, kRasterSize, kClientSize.height() - kRasterSize.height(), {}};

}  // namespace

frmRawHistogram::frmRawHistogram(Model& model, QWidget* parent)
    : Instrument(parent, kDesign),
      model_(model),
      surface_(rawhistogram::kRasterWidth, rawhistogram::kRasterHeight, 0) {
    setObjectName(QStringLiteral("frmRawHistogram"));
    setWindowTitle(QStringLiteral("Vistrel Raw Histogram"));
    QFont captions = font();
    captions.setPointSize(kCaptionPoints);
    setFont(captions);
    const QPalette controls = PaintBlackField(*this);
    const auto box = [&](const char* name, const QString& text, const QRect& place) {
        auto* check = new QCheckBox(text, this);
        check->setObjectName(QLatin1String(name));
        check->setGeometry(place);
        check->setAttribute(Qt::WA_NoMousePropagation);
        check->setPalette(controls);
        check->setAutoFillBackground(true);
        return check;
    };
    chkEv = box("chkEv", QStringLiteral("EV"), kEvGeometry);
    chkLog = box("chkLog", QStringLiteral("Log"), kLogGeometry);
    connect(chkEv, &QCheckBox::clicked, this, [this](bool on) {
        model_.Set(&Settings::rawHistogramAxis, on ? RawHistogramAxis::Ev : RawHistogramAxis::Linear);
    });
    connect(chkLog, &QCheckBox::clicked, this, [this](bool on) {
        model_.Set(&Settings::rawHistogramScale, on ? HistogramScale::Log : HistogramScale::Linear);
    });
    chkEv->setChecked(model_.settings().rawHistogramAxis == RawHistogramAxis::Ev);
    chkLog->setChecked(model_.settings().rawHistogramScale == HistogramScale::Log);
    PlotHeader = TopDownHeader(rawhistogram::kRasterWidth, rawhistogram::kRasterHeight);
    RefreshRawHistogram();
    connect(&model_, &Model::changed, this, &frmRawHistogram::ModelChanged);
}

void frmRawHistogram::ModelChanged(Changes what) {
    if (what & Change::RawHistogramScale) {
        chkEv->setChecked(model_.settings().rawHistogramAxis == RawHistogramAxis::Ev);
        chkLog->setChecked(model_.settings().rawHistogramScale == HistogramScale::Log);
    }
    if (what & (Change::Picture | Change::Lamp | Change::Region | Change::RawHistogramScale)) RefreshRawHistogram();
    if (what & (Change::Picture | Change::Region | Change::RawHistogramScale)) RefreshReading();
}

void frmRawHistogram::RefreshRawHistogram() {
    const Settings& settings = model_.settings();
    const bool raw = model_.loaded() && model_.picture().raw.has_value();
    const rawhistogram::RawHistogramPlot plot = rawhistogram::BuildRawHistogram(
        model_.rawCounted(), raw ? rawhistogram::Absence::DoesNotApply : rawhistogram::Absence::NotRaw,
        {settings.rawHistogramAxis, settings.rawHistogramScale, ScaleColorOf(settings.lamp)});
    SetDIBits(surface_, 0, rawhistogram::kRasterHeight, plot.raster.data(), PlotHeader);
    for (const rawhistogram::PlotLabel& label : plot.labels)
        DrawTextAt(surface_, label.x, label.y, label.text, korvex::PixelToColor(label.color), font());
    update();
}

void frmRawHistogram::Arrange() {
    placed_ = Place();
    const int shift = StripShift();
    chkEv->move(kEvGeometry.topLeft() + QPoint(0, shift));
    chkLog->move(kLogGeometry.topLeft() + QPoint(0, shift));
}

std::optional<QString> frmRawHistogram::ReadingAt(QPoint rasterPixel) const {
    const auto reading = rawhistogram::ReadingAt(model_.rawCounted(), model_.settings().rawHistogramAxis, rasterPixel.x(),
                                                 rasterPixel.y());
    if (!reading) return std::nullopt;
    return rawhistogram::ReadingText(*reading);
}

void frmRawHistogram::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    FollowRatio(painter);
    PaintRaster(painter, QPointF(), placed_.origin, surface_.image(), scaled_);
}

void frmRawHistogram::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !panel_) drag_.Press(event->position());
}

void frmRawHistogram::mouseMoveEvent(QMouseEvent* event) {
    drag_.Move(event->globalPosition());
    PointAt(event->position());
}

void frmRawHistogram::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) drag_.Release();
}

// The second press of a double-click is not a new press: the drag is not re-armed.
void frmRawHistogram::mouseDoubleClickEvent(QMouseEvent*) {}

}  // namespace vistrel
