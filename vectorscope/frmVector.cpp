#include "vectorscope/frmVector.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWindow>

#include <cmath>

#include "model/Trace.h"
#include "platform/Input.h"
#include "platform/Numbers.h"
#include "platform/ScrollBar.h"
#include "vectorscope/Graticule.h"
#include "vectorscope/Reading.h"

namespace vistrel {

namespace {

// Window layout in pixels: the plot on top, the zoom bar under it.
constexpr QPoint kWindowPosition{432, 519};
constexpr QSize kClientSize{256, 266};
constexpr QRect kZoomBarGeometry{0, 256, 256, 10};
// One arrow click moves the zoom by 4/256, one click in the track by 28/256.
constexpr int kZoomSmallStep = 4;
constexpr int kZoomLargeStep = 28;

// The readout's top-left corner, inside the plot so that the next plot replaces it.
constexpr int kReadoutX = 2;
constexpr int kReadoutY = 242;
constexpr ColorValue kTextColor = 0xFFFFFF;
constexpr ColorValue kBackground = 0x000000;
// The targets' names, in the order the graticule draws them (red, cyan, green, magenta, blue, yellow).
constexpr const char* kTargetNames[6] = {"R", "Cy", "G", "Mg", "B", "Yl"};
// The targets' names sit in a margin this wide all round the plot: room for two letters
// of the 8-point captions (about 16 x 12 pixels) centred in it.
constexpr QSize kLabelMargin{20, 20};
// The plot's centre, where every target's line starts: the cell of the pair (0, 0).
constexpr QPointF kPlotCentre{128.0, 127.0};
constexpr InstrumentDesign kDesign{kClientSize, kWindowPosition, QSize(kPlotSide, kPlotSide), kZoomBarGeometry.height(),
                                   kLabelMargin};

}  // namespace

frmVector::frmVector(Model& model, QWidget* parent)
    : Instrument(parent, kDesign),
      model_(model),
      surface_(kPlotSide, kPlotSide, kBackground),
      dc_(surface_) {
    setObjectName(QStringLiteral("frmVector"));
    setWindowTitle(QStringLiteral("Vistrel Vectorscope"));

    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::black);
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    setAutoFillBackground(true);

    hscrZoom = new ScrollBar(Qt::Horizontal, this);
    hscrZoom->setObjectName(QStringLiteral("hscrZoom"));
    hscrZoom->setGeometry(kZoomBarGeometry);
    hscrZoom->setRange(kZoomMin, kZoomMax);
    hscrZoom->setSingleStep(kZoomSmallStep);
    hscrZoom->setPageStep(kZoomLargeStep);
    hscrZoom->setValue(model_.settings().zoom);
    connect(hscrZoom, &QScrollBar::valueChanged, this, [this] { hscrZoom_Change(); });

    Form_Load();
    DrawGraticule();
    connect(&model_, &Model::changed, this, &frmVector::ModelChanged);
}

void frmVector::Form_Load() { PlotHeader = TopDownHeader(kPlotSide, kPlotSide); }

void frmVector::ModelChanged(Changes what) {
    if (what & Change::Zoom) {
        const QSignalBlocker quiet(hscrZoom);
        hscrZoom->setValue(model_.settings().zoom);
    }
    // A pair's place follows the zoom, its saturation the standard's bars.
    if (what & (Change::Zoom | Change::Graticule)) RefreshReading();
    if (!model_.loaded()) {
        // No picture: the bare graticule, drawn again when emptied or when what it shows changes.
        if (what & (Change::Picture | Change::Graticule)) {
            ClearDrawing();
            DrawGraticule();
        }
        return;
    }
    const Picture& picture = model_.picture();
    const Probe& probe = picture.probe;
    const auto markProbe = [&] {
        MarkProbe(ReadoutOf(probe.sample, model_.settings().luma).uv, korvex::PixelToColor(probe.sample));
    };
    if (what & (Change::Picture | Change::Analysis | Change::Zoom | Change::Region | Change::Reference | Change::Trace))
        PlotPoints(*model_.counted().histogram);
    else if (what & (Change::Lamp | Change::Graticule))
        ShowPoints();
    // A locked probe keeps its vector on a new standard or skin line (a new lamp or zoom removes it).
    if ((what & (Change::Analysis | Change::Graticule | Change::Region)) && probe.locked) markProbe();
    if (what & Change::Probe) {
        // The probe shown: its vector, over those before it; let go: the plot alone again.
        if (probe.dragging || probe.locked)
            markProbe();
        else
            ShowPoints();
    }
}

void frmVector::PlotPoints(const korvex::UvHistogram& pairs) {
    const int zoomValue = model_.settings().zoom;
    ZoomFactor = ZoomFactorOf(zoomValue);
    PlotOptions options;
    options.trace = model_.settings().trace;
    if (const Reference* reference = model_.reference())
        options.reference = &reference->Under(model_.settings().luma).histogram;
    BuildPlot(pairs, zoomValue, PlotImage, options);
    ShowPoints();
}

void frmVector::ShowPoints() {
    SetDIBits(surface_, 0, kPlotSide, PlotImage.data(), PlotHeader);
    if (ShowsZoomReadout(ZoomFactor))
        DrawTextAt(surface_, kReadoutX, kReadoutY, ZoomReadout(ZoomFactor), kTextColor, font());
    if (const Reference* reference = model_.reference(); reference != nullptr && model_.loaded()) {
        DrawTextRuns(surface_, kLegendArea.left(), kLegendArea.top(), kLegendArea.width(),
                     {{ReferenceLegend(reference->name), korvex::PixelToColor(kReferenceText)}}, font());
        const QFontMetrics metrics(font());
        const QString current = metrics.elidedText(CurrentLegend(QFileInfo(model_.picture().file).fileName()),
                                                   Qt::ElideRight, kLegendRightArea.width());
        DrawTextAt(surface_, kLegendRightArea.right() + 1 - metrics.horizontalAdvance(current), kLegendRightArea.top(),
                   current, korvex::PixelToColor(kCurrentText), font());
    }
    DrawGraticule();
}

void frmVector::DrawGraticule() {
    const Settings& settings = model_.settings();
    DrawGraticuleOn(dc_, GetStockObject(StockObject::DcPen), GetStockObject(StockObject::NullBrush),
                    ScaleColorOf(settings.lamp), {settings.luma, settings.skinLine});
    update();
}

void frmVector::MarkProbe(korvex::UvPair pair, ColorValue color) {
    MarkProbeOn(dc_, pair, color, ZoomFactor);
    update();
}

void frmVector::ClearDrawing() {
    surface_.clear(kBackground);
    update();
}

void frmVector::Arrange() {
    const int bar = kZoomBarGeometry.height();
    placed_ = Place();
    const QRect device = ScaledRect(QRect(0, 0, kPlotSide, kPlotSide), placed_);
    const auto logical = [this](int pixels) { return static_cast<int>(std::nearbyint(pixels / placed_.ratio)); };
    const QRect plot = panel_ ? QRect(logical(device.left()), logical(device.top()), logical(device.width()),
                                      logical(device.height()))
                              : QRect(0, 0, kPlotSide, kPlotSide);
    // The zoom bar spans the plot, at the bottom; in the window that is its design place.
    hscrZoom->setGeometry(QRect(plot.left(), kZoomBarGeometry.top() + StripShift(), plot.width(), bar));
}

QPointF frmVector::PlotPosition(QPointF widget) const {
    if (!panel_) return widget;
    const QPointF offset = DevicePosition(widget) - QPointF(placed_.origin);
    return offset / placed_.scale;
}

void frmVector::DrawTargetLabels(QPainter& painter) const {
    const Settings& settings = model_.settings();
    if (!GraticuleLit(ScaleColorOf(settings.lamp))) return;
    painter.setPen(QColor::fromRgb(OpaquePixel(ScaleColorOf(settings.lamp))));
    const QFontMetrics metrics(font());
    const auto boxes = TargetBoxesFor(settings.luma);
    // The plot is placed in device pixels, the text in the window's own.
    const double k = placed_.scale / placed_.ratio;
    const QPointF centre = QPointF(placed_.origin) / placed_.ratio + kPlotCentre * k;
    const double half = kPlotSide * k / 2.0;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const TargetBox& box = boxes[i];
        const QPointF target((box.left + box.right) / 2.0, (box.top + box.bottom) / 2.0);
        const QPointF direction = target - kPlotCentre;
        const double length = std::hypot(direction.x(), direction.y());
        if (length == 0) continue;
        // Out along the line until it leaves the plot, then half the margin further.
        const double toEdge = half / std::max(std::abs(direction.x()), std::abs(direction.y()));
        const QPointF at = centre + direction * toEdge + direction / length * (kLabelMargin.width() / 2.0);
        const QString name = QString::fromLatin1(kTargetNames[i]);
        const QRectF cell(at.x() - metrics.horizontalAdvance(name) / 2.0, at.y() - metrics.height() / 2.0,
                          metrics.horizontalAdvance(name), metrics.height());
        painter.drawText(cell, Qt::AlignCenter, name);
    }
}

void frmVector::Form_MouseDown(int button, int, float x, float y) {
    if (button == kLeftButton && !panel_) drag_.Press(QPointF(x, y));
}

// x and y are measured from the window's top-left corner as it is now.
void frmVector::Form_MouseMove(int, int, float x, float y) {
    drag_.Move(QPointF(geometry().topLeft()) + QPointF(x, y));
}

void frmVector::Form_MouseUp(int button, int, float, float) {
    if (button == kLeftButton) {
        drag_.Release();
    } else if (button == kRightButton && model_.loaded() && model_.picture().probe.locked) {
        PlotPoints(*model_.counted().histogram);
        if (focusMainWindow) focusMainWindow();
    }
}

void frmVector::Form_DblClick() { hscrZoom->setValue(kZoomUnity); }

void frmVector::hscrZoom_Change() { model_.Set(&Settings::zoom, hscrZoom->value()); }

void frmVector::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    FollowRatio(painter);
    PaintRaster(painter, QPointF(), placed_.origin, surface_.image(), scaled_);
    if (placed_.labelled) DrawTargetLabels(painter);
}

void frmVector::mousePressEvent(QMouseEvent* event) {
    const QPointF at = PlotPosition(event->position());
    Form_MouseDown(ButtonCode(event->button()), ShiftState(event->modifiers()), static_cast<float>(at.x()),
                   static_cast<float>(at.y()));
}

void frmVector::mouseMoveEvent(QMouseEvent* event) {
    // Measured from where the window is now rather than where it was when the
    // event was queued, so that a move still on its way cannot make the window jump.
    const QPointF at = event->globalPosition() - QPointF(geometry().topLeft());
    Form_MouseMove(ButtonCode(event->buttons()), ShiftState(event->modifiers()), static_cast<float>(at.x()),
                   static_cast<float>(at.y()));
    PointAt(event->position());
}

std::optional<QString> frmVector::ReadingAt(QPoint rasterPixel) const {
    const Settings& settings = model_.settings();
    const auto reading = VectorReadingAt(rasterPixel.x(), rasterPixel.y(), ZoomFactorOf(settings.zoom), settings.luma);
    if (!reading) return std::nullopt;
    return VectorReadingText(*reading);
}

void frmVector::mouseReleaseEvent(QMouseEvent* event) {
    const QPointF at = PlotPosition(event->position());
    Form_MouseUp(ButtonCode(event->button()), ShiftState(event->modifiers()), static_cast<float>(at.x()),
                 static_cast<float>(at.y()));
}

void frmVector::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double-click is not a new press: the drag is not re-armed.
    if (event->button() == Qt::LeftButton) Form_DblClick();
}

}  // namespace vistrel
