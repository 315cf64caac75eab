#include "histogram/frmHistogram.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>

#include "model/Trace.h"
#include "platform/BlackField.h"
#include "platform/Gdi.h"

namespace vistrel {

namespace {

// Beside the vectorscope (432 + 256 wide, 8 pixels apart), at its height.
constexpr QPoint kWindowPosition{696, 519};
// The plot on top, under it two rows of options: the channel, as the line scope's, and Log.
constexpr QSize kClientSize{histogram::kRasterWidth, 306};
constexpr QRect kChannelGeometry{7, 266, 240, 16};
constexpr QRect kLogGeometry{7, 285, 60, 17};
// Captions in the small font of the line scope's options.
constexpr int kCaptionPoints = 8;
constexpr QSize kRasterSize{histogram::kRasterWidth, histogram::kRasterHeight};
constexpr InstrumentDesign kDesign{kClientSize, kWindowPosition, kRasterSize, kClientSize.height() - kRasterSize.height(), {}};

}  // namespace

frmHistogram::frmHistogram(Model& model, QWidget* parent)
    : Instrument(parent, kDesign),
      model_(model),
      surface_(histogram::kRasterWidth, histogram::kRasterHeight, 0) {
    setObjectName(QStringLiteral("frmHistogram"));
    setWindowTitle(QStringLiteral("Vistrel Histogram"));
    QFont captions = font();
    captions.setPointSize(kCaptionPoints);
    setFont(captions);

    const QPalette controls = PaintBlackField(*this);

    fraChannel = new QGroupBox(this);
    fraChannel->setObjectName(QStringLiteral("fraChannel"));
    fraChannel->setGeometry(kChannelGeometry);
    fraChannel->setFlat(true);
    fraChannel->setAttribute(Qt::WA_NoMousePropagation);
    fraChannel->setPalette(controls);
    fraChannel->setAutoFillBackground(true);
    // The line scope's captions and places, RGB after them.
    const QString names[6] = {"R", "G", "B", "Y", "Parade", "RGB"};
    const QRect places[6] = {QRect(-1, 0, 27, 16), QRect(31, 0, 28, 16),  QRect(65, 0, 28, 16),
                             QRect(98, 0, 27, 16), QRect(131, 0, 57, 16), QRect(192, 0, 46, 16)};
    for (int i = 0; i < 6; ++i) {
        optChannel[i] = new QRadioButton(names[i], fraChannel);
        optChannel[i]->setObjectName(QStringLiteral("optChannel[%1]").arg(i));
        optChannel[i]->setGeometry(places[i]);
        optChannel[i]->setAttribute(Qt::WA_NoMousePropagation);
        connect(optChannel[i], &QRadioButton::clicked, this, [this, i] { optChannel_Click(i); });
    }
    optChannel[static_cast<int>(model_.settings().histogramChannel)]->setChecked(true);

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
    if (what & Change::HistogramChannel)
        optChannel[static_cast<int>(model_.settings().histogramChannel)]->setChecked(true);
    if (what & (Change::Picture | Change::Analysis | Change::Lamp | Change::HistogramChannel | Change::HistogramScale |
                Change::Reference |
                Change::Region | Change::NitsScale))
        RefreshHistogram();
    if (what & (Change::Picture | Change::Analysis | Change::HistogramChannel | Change::Region | Change::NitsScale))
        RefreshReading();
}

void frmHistogram::DrawHistogram(const korvex::LevelCounts& counts) {
    const Settings& settings = model_.settings();
    histogram::PlotSettings plotSettings{settings.histogramChannel, settings.histogramScale, ScaleColorOf(settings.lamp)};
    const Reference* reference = model_.loaded() ? model_.reference() : nullptr;
    if (reference != nullptr) plotSettings.reference = &reference->Under(settings.luma).levels;
    plotSettings.nitsLines = hdr::ScaleLines(model_.NitsTransfer());
    const histogram::HistogramPlot plot = histogram::BuildHistogram(counts, plotSettings);
    SetDIBits(surface_, 0, histogram::kRasterHeight, plot.raster.data(), PlotHeader);
    const QFontMetrics metrics(font());
    for (const histogram::PlotLabel& label : plot.labels) {
        const int x = label.alignRight ? label.x - metrics.horizontalAdvance(label.text) : label.x;
        DrawTextAt(surface_, x, label.y, label.text, korvex::PixelToColor(label.color), font());
    }
    if (reference != nullptr) {
        const QRect area = histogram::kLegendArea;
        DrawTextRuns(surface_, area.left(), area.top(), area.width(),
                     {{ReferenceLegend(reference->name), korvex::PixelToColor(kReferenceText)},
                      {QStringLiteral("  ") + CurrentLegend(QFileInfo(model_.picture().file).fileName()),
                       korvex::PixelToColor(kCurrentText)}},
                     font());
    }
    update();
}

void frmHistogram::RefreshHistogram() {
    if (model_.loaded())
        DrawHistogram(*model_.counted().levels);
    else
        DrawHistogram({});
}

void frmHistogram::optChannel_Click(int index) { model_.Set(&Settings::histogramChannel, static_cast<HistogramChannel>(index)); }

void frmHistogram::chkLog_Click() {
    model_.Set(&Settings::histogramScale, chkLog->isChecked() ? HistogramScale::Log : HistogramScale::Linear);
}

void frmHistogram::Arrange() {
    placed_ = Place();
    // The options keep their design places, at the panel's bottom.
    fraChannel->move(kChannelGeometry.left(), kChannelGeometry.top() + StripShift());
    chkLog->move(kLogGeometry.left(), kLogGeometry.top() + StripShift());
}

std::optional<QString> frmHistogram::ReadingAt(QPoint rasterPixel) const {
    if (!model_.loaded()) return std::nullopt;
    auto reading = histogram::ReadingAt(*model_.counted().levels, model_.settings().histogramChannel,
                                              rasterPixel.x(), rasterPixel.y());
    if (!reading) return std::nullopt;
    if (const SignalTransfer transfer = model_.NitsTransfer(); hdr::HasNits(transfer))
        reading->nits = hdr::LevelNits(transfer, reading->level);
    return histogram::ReadingText(*reading);
}

void frmHistogram::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    FollowRatio(painter);
    PaintRaster(painter, QPointF(), placed_.origin, surface_.image(), scaled_);
}

void frmHistogram::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !panel_) drag_.Press(event->position());
}

void frmHistogram::mouseMoveEvent(QMouseEvent* event) {
    drag_.Move(event->globalPosition());
    PointAt(event->position());
}

void frmHistogram::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) drag_.Release();
}

// The second press of a double-click is not a new press: the drag is not re-armed.
void frmHistogram::mouseDoubleClickEvent(QMouseEvent*) {}

}  // namespace vistrel
