#include "linescope/frmScope.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QRadioButton>
#include <QWindow>

#include <algorithm>
#include <cassert>
#include <cmath>

#include "linescope/LineTrace.h"
#include "linescope/Reading.h"
#include "linescope/ScopeBox.h"
#include "linescope/Waveform.h"
#include "colour/HdrScale.h"
#include "platform/Numbers.h"
#include "model/Trace.h"
#include "platform/BlackField.h"

namespace vistrel {

using linescope::Channel;
using linescope::Orientation;
using linescope::ScalePlacement;
using linescope::ScopeBox;

namespace {

// The window's client area, pixels: wide enough for four 100-pixel boxes with margins.
constexpr int kClientWidth = linescope::kScopeClientWidth;
// Window height beyond the option strip's own: the strip's top (265) and a 5-pixel margin below it.
constexpr int kHeightAboveOptions = 270;
// Where the client area starts on screen: below the main window.
constexpr QPoint kStartPosition{4, 514};
// Channel boxes: 100 wide, 104 apart, 4 in from the top-left corner.
using linescope::kBoxLeft;
using linescope::kBoxPitch;
using linescope::kBoxTop;
constexpr int kBoxWidth = 100;
// Captions in a small font so that they fit their 16-pixel-high places.
constexpr int kCaptionPoints = 8;
// The option strip: its height and where its three controls are.
constexpr int kStripHeight = 16;
constexpr QPoint kParadePlace{7, 265};
constexpr QPoint kScalePlace{225, 265};
constexpr QPoint kHorzPlace{315, 265};
// What a panel scales: the boxes with the black around them, down to the option strip.
constexpr QSize kScaledArea{kClientWidth, 265};
// The graticule's labels ("90 %" in the 8-point captions, about 28 pixels) go left of the
// boxes, within the rows the boxes span: a margin across only. They end this far left of them.
constexpr QSize kLabelMargin{36, 0};
constexpr int kLabelGap = 4;
constexpr QSize kClientSize{kClientWidth, kStripHeight + kHeightAboveOptions};
constexpr InstrumentDesign kDesign{kClientSize, kStartPosition, kScaledArea, kClientSize.height() - kScaledArea.height(),
                                   kLabelMargin};

QRadioButton* MakeOption(QWidget* frame, const QString& name, const QString& caption, QRect geometry) {
    auto* option = new QRadioButton(caption, frame);
    option->setObjectName(name);
    option->setGeometry(geometry);
    option->setAttribute(Qt::WA_NoMousePropagation);
    return option;
}

QGroupBox* MakeFrame(QWidget* parent, const QString& name, QRect geometry) {
    auto* frame = new QGroupBox(parent);
    frame->setObjectName(name);
    frame->setGeometry(geometry);
    frame->setFlat(true);
    // A press on a frame is the frame's own: it does not drag the window.
    frame->setAttribute(Qt::WA_NoMousePropagation);
    return frame;
}

}  // namespace

frmScope::frmScope(Model& model, QWidget* parent)
    : Instrument(parent, kDesign), model_(model) {
    setObjectName("frmScope");
    setWindowTitle(QStringLiteral("Vistrel Line Scope"));
    QFont captions = font();
    captions.setPointSize(kCaptionPoints);
    setFont(captions);

    const QPalette controls = PaintBlackField(*this);

    for (int k = 0; k < 4; ++k) {
        picChan[k] = new ScopeBox(this);
        picChan[k]->setObjectName(QStringLiteral("picChan[%1]").arg(k));
        picChan[k]->installEventFilter(this);
        picChan[k]->setMouseTracking(true);
    }
    // Box 0 lies over the others, so that widened it covers them.
    picChan[0]->raise();

    fraParade = MakeFrame(this, "fraParade", QRect(kParadePlace, QSize(201, kStripHeight)));
    const QString channelCaptions[5] = {"R", "G", "B", "Y", "Parade"};
    const QRect channelPlaces[5] = {QRect(-1, 0, 27, 16), QRect(31, 0, 28, 16), QRect(65, 0, 28, 16),
                                    QRect(98, 0, 27, 16), QRect(131, 0, 57, 16)};
    for (int i = 0; i < 5; ++i) {
        optParade[i] = MakeOption(fraParade, QStringLiteral("optParade[%1]").arg(i), channelCaptions[i],
                                  channelPlaces[i]);
        connect(optParade[i], &QRadioButton::clicked, this, [this, i] { optParade_Click(i); });
    }

    chkScaleBG = new QCheckBox("Scale BG", this);
    chkScaleBG->setObjectName("chkScaleBG");
    chkScaleBG->setGeometry(QRect(kScalePlace, QSize(75, 17)));
    chkScaleBG->setAttribute(Qt::WA_NoMousePropagation);
    connect(chkScaleBG, &QCheckBox::clicked, this, [this] { chkScaleBG_Click(); });

    fraHorz = MakeFrame(this, "fraHorz", QRect(kHorzPlace, QSize(98, kStripHeight)));
    optHorz[0] = MakeOption(fraHorz, "optHorz[0]", "Vert", QRect(-1, 0, 43, 16));
    optHorz[1] = MakeOption(fraHorz, "optHorz[1]", "Horiz", QRect(46, 0, 48, 16));
    for (int i = 0; i < 2; ++i) connect(optHorz[i], &QRadioButton::clicked, this, [this, i] { optHorz_Click(i); });

    for (QWidget* control : {static_cast<QWidget*>(fraParade), static_cast<QWidget*>(fraHorz),
                             static_cast<QWidget*>(chkScaleBG)}) {
        control->setPalette(controls);
        control->setAutoFillBackground(true);
    }

    QWidget* tabOrder[] = {picChan[0],   picChan[1],   picChan[2],   picChan[3],   optParade[0],
                           optParade[1], optParade[2], optParade[3], optParade[4], optHorz[0],
                           optHorz[1],   chkScaleBG};
    for (std::size_t k = 1; k < std::size(tabOrder); ++k) setTabOrder(tabOrder[k - 1], tabOrder[k]);

    ShowSettings();
    Form_Load();
    connect(&model_, &Model::changed, this, &frmScope::ModelChanged);
}

void frmScope::Form_Load() {
    setFixedSize(naturalSize());
    for (int k = 0; k < 4; ++k)
        picChan[k]->place(kBoxLeft + kBoxPitch * k, kBoxTop, kBoxWidth, linescope::kScopeRows);
    ParadeHeader = linescope::ScopeRasterHeader(linescope::DisplayColumns(Channel::Parade, kClientWidth));
    SingleHeader = linescope::ScopeRasterHeader(linescope::DisplayColumns(Channel::Red, kClientWidth));
}

linescope::ScopeBox* frmScope::box(int index) const {
    assert(index >= 0 && index < 4);
    return picChan[index];
}

const Surface& frmScope::boxSurface(int index) const { return box(index)->surface(); }

Channel frmScope::channel() const { return model_.settings().scopeChannel; }

Orientation frmScope::orientation() const { return model_.settings().orientation; }

ScalePlacement frmScope::scalePlacement() const { return model_.settings().scale; }

void frmScope::ShowSettings() {
    const Settings& settings = model_.settings();
    optParade[static_cast<int>(settings.scopeChannel)]->setChecked(true);
    switch (settings.orientation) {
        case Orientation::Vertical: optHorz[0]->setChecked(true); break;
        case Orientation::Horizontal: optHorz[1]->setChecked(true); break;
    }
    chkScaleBG->setChecked(settings.scale == ScalePlacement::Behind);
}

void frmScope::ClearScope() {
    for (ScopeBox* box : picChan) box->clearImage();
    update();
}

void frmScope::DrawWaveform(linescope::PictureView pixels) {
    const Channel shown = channel();
    assert(picChan[0]->rasterRect().height() == linescope::kScopeRows);
    linescope::WaveformSettings settings;
    settings.channel = shown;
    settings.orientation = orientation();
    settings.scale = scalePlacement();
    settings.scaleColor = ScaleColorOf(model_.settings().lamp);
    settings.columns = linescope::DisplayColumns(shown, kClientWidth);
    settings.trace = model_.settings().trace;
    settings.lines = model_.settings().scopeLines;
    settings.graticuleRows = NitsRows();
    traceShown_ = false;
    const Reference* reference = model_.reference();
    const WaveformSamples* samples =
        reference != nullptr ? reference->SamplesFor(model_.settings().luma, settings.orientation, settings.columns)
                             : nullptr;
    linescope::BuildWaveform(pixels, settings, rasters_, samples);

    const BitmapInfoHeader& header = linescope::IsParade(shown) ? ParadeHeader : SingleHeader;
    assert(header.biWidth == settings.columns);
    picChan[0]->setBoxWidth(settings.columns);
    for (std::size_t k = 0; k < rasters_.rasters.size(); ++k) {
        SetDIBits(picChan[k]->surface(), 0, linescope::kScopeRows, rasters_.rasters[k].data(), header);
        picChan[k]->update();
    }
    if (reference != nullptr) DrawLegend(*reference);
}

void frmScope::DrawLegend(const Reference& reference) {
    const TextRun referenceRun{ReferenceLegend(reference.name), korvex::PixelToColor(kReferenceText)};
    const TextRun currentRun{CurrentLegend(QFileInfo(model_.picture().file).fileName()),
                             korvex::PixelToColor(kCurrentText)};
    const int width = picChan[0]->rasterRect().width() - 2 * linescope::kLegendLeft;
    if (linescope::IsParade(channel())) {
        DrawTextRuns(picChan[0]->surface(), linescope::kLegendLeft, linescope::kLegendTop, width, {referenceRun}, font());
        DrawTextRuns(picChan[1]->surface(), linescope::kLegendLeft, linescope::kLegendTop, width, {currentRun}, font());
    } else {
        DrawTextRuns(picChan[0]->surface(), linescope::kLegendLeft, linescope::kLegendTop, width,
                     {referenceRun, {QStringLiteral("   ") + currentRun.text, currentRun.color}}, font());
    }
}

void frmScope::DrawLineTrace(linescope::PictureView pixels, int column, int row) {
    for (ScopeBox* box : picChan) box->clearImage();

    const Channel shown = channel();
    const bool parade = linescope::IsParade(shown);
    linescope::TraceSettings settings;
    settings.channel = shown;
    settings.orientation = orientation();
    settings.columns = linescope::DisplayColumns(shown, kClientWidth);
    traceShown_ = true;
    const auto traces = linescope::TracePoints(pixels, column, row, settings);

    picChan[0]->setBoxWidth(settings.columns);
    const int used = linescope::BoxesUsed(shown);
    for (int k = 0; k < used; ++k) picChan[k]->dc().SelectObject(GetStockObject(StockObject::DcPen));

    const ScalePlacement scale = scalePlacement();
    if (scale == ScalePlacement::Behind) DrawScopeGraticule(parade);
    for (std::size_t k = 0; k < traces.size(); ++k) {
        const Channel traced = parade ? linescope::kParadeOrder[k] : shown;
        Dc& dc = picChan[k]->dc();
        dc.SetDCPenColor(linescope::TraceColor(traced));
        dc.Polyline(traces[k]);
    }
    if (scale == ScalePlacement::InFront) DrawScopeGraticule(parade);
    for (int k = 0; k < used; ++k) picChan[k]->update();
}

std::vector<int> frmScope::NitsRows() const {
    std::vector<int> rows;
    for (const hdr::ScaleLine& line : hdr::ScaleLines(model_.NitsTransfer())) rows.push_back(linescope::LevelRow(line.level));
    return rows;
}

void frmScope::DrawScopeGraticule(bool parade) {
    const ColorValue lamp = ScaleColorOf(model_.settings().lamp);
    if (!linescope::GraticuleLit(lamp)) return;
    const int lineWidth = picChan[0]->rasterRect().width();
    const int used = parade ? linescope::kParadeBoxes : 1;
    for (int k = 0; k < used; ++k) picChan[k]->dc().SetDCPenColor(lamp);
    const std::vector<int> nitsRows = NitsRows();
    for (const int y : nitsRows.empty() ? linescope::TraceGraticuleRows() : nitsRows)
        for (int k = 0; k < used; ++k) {
            Dc& dc = picChan[k]->dc();
            dc.MoveToEx(0, y);
            dc.LineTo(lineWidth, y);
        }
    // The reference lines dotted, as on the waveform: every other pixel from the first.
    for (const int level : model_.settings().scopeLines) {
        const int y = linescope::LevelRow(level);
        for (int k = 0; k < used; ++k) {
            Dc& dc = picChan[k]->dc();
            for (int x = 0; x < lineWidth; x += 2) {
                dc.MoveToEx(x, y);
                dc.LineTo(x + 1, y);
            }
        }
    }
}

namespace {

// The pixels the instruments count (the region's, or the whole picture's), as a view.
linescope::PictureView CountedView(const Counted& counted) {
    return {counted.pixels, counted.width, counted.height, counted.stride};
}

}  // namespace

void frmScope::DrawCountedTrace() {
    const Counted counted = model_.counted();
    const Probe& probe = model_.picture().probe;
    // The probe's line within the counted rectangle (clamped into it by the trace).
    DrawLineTrace(CountedView(counted), probe.column - static_cast<int>(counted.rect.x),
                  probe.row - static_cast<int>(counted.rect.y));
}

void frmScope::DrawCountedWaveform() { DrawWaveform(CountedView(model_.counted())); }

void frmScope::RefreshScope() {
    if (!model_.loaded()) return;
    const Picture& picture = model_.picture();
    if (picture.probe.locked)
        DrawCountedTrace();
    else
        DrawCountedWaveform();
}

void frmScope::ModelChanged(Changes what) {
    if (what & Change::Scope) ShowSettings();
    if (!model_.loaded()) {
        if (what & Change::Picture) ClearScope();
    } else if (what & Change::Probe) {
        // The probe shown: the trace through its line; let go: the whole picture again.
        const Picture& picture = model_.picture();
        if (picture.probe.dragging || picture.probe.locked)
            DrawCountedTrace();
        else
            DrawCountedWaveform();
    } else if (what & (Change::Picture | Change::Analysis | Change::Lamp | Change::Scope | Change::Region |
                       Change::Reference | Change::Trace | Change::NitsScale)) {
        RefreshScope();
    }
    // What a column stands for follows the picture, the region, the trace and the channel.
    if (what & (Change::Picture | Change::Probe | Change::Scope | Change::Region | Change::NitsScale)) RefreshReading();
    // The labels beside the boxes follow the scale.
    if (what & Change::NitsScale) update();
}

void frmScope::HandFocusBack() {
    // The arrow keys move a locked probe, and they go to the main window.
    if (model_.picture().probe.locked && focusMainWindow) focusMainWindow();
}

void frmScope::optParade_Click(int index) {
    model_.Set(&Settings::scopeChannel, static_cast<Channel>(index));
    HandFocusBack();
}

void frmScope::optHorz_Click(int index) {
    model_.Set(&Settings::orientation, index == 0 ? Orientation::Vertical : Orientation::Horizontal);
    HandFocusBack();
}

void frmScope::chkScaleBG_Click() {
    model_.Set(&Settings::scale, chkScaleBG->isChecked() ? ScalePlacement::Behind : ScalePlacement::InFront);
    HandFocusBack();
}

void frmScope::Arrange() {
    placed_ = Place();
    for (ScopeBox* box : picChan) box->setPlacement(placed_);
    // The options keep their design places, at the panel's bottom.
    const int shift = StripShift();
    fraParade->move(kParadePlace.x(), kParadePlace.y() + shift);
    chkScaleBG->move(kScalePlace.x(), kScalePlace.y() + shift);
    fraHorz->move(kHorzPlace.x(), kHorzPlace.y() + shift);
}

void frmScope::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    FollowRatio(painter);
    if (!placed_.labelled) return;
    const ColorValue lamp = ScaleColorOf(model_.settings().lamp);
    if (!linescope::GraticuleLit(lamp)) return;
    painter.setPen(QColor::fromRgb(OpaquePixel(lamp)));
    const QFontMetrics metrics(font());
    const int k = placed_.scale;
    // The raster is placed in device pixels, the text in the window's own.
    const auto logical = [this](int device) { return static_cast<int>(std::nearbyint(device / placed_.ratio)); };
    // Tenths of full scale, 10 % at the bottom line: the lines mark tenths, not round levels;
    // on the nits scale, the lights their levels carry.
    std::vector<int> rows = traceShown_ ? linescope::TraceGraticuleRows() : linescope::WaveformGraticuleRows();
    std::vector<QString> texts;
    for (std::size_t i = 0; i < rows.size(); ++i) texts.push_back(QStringLiteral("%1 %").arg(10 * (i + 1)));
    const std::vector<hdr::ScaleLine> nitsLines = hdr::ScaleLines(model_.NitsTransfer());
    if (!nitsLines.empty()) {
        rows.clear();
        texts.clear();
        for (const hdr::ScaleLine& line : nitsLines) {
            rows.push_back(linescope::LevelRow(line.level));
            texts.push_back(ScaleLineName(line.nits));
        }
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const QString& text = texts[i];
        const int y = logical(placed_.origin.y() + k * (kBoxTop + rows[i]) + k / 2);
        const QRect cell(0, y - metrics.height() / 2, logical(placed_.origin.x()) - kLabelGap, metrics.height());
        painter.drawText(cell, Qt::AlignRight | Qt::AlignVCenter, text);
    }
}

void frmScope::Form_MouseDown(Qt::MouseButton button, QPointF position) {
    if (button == Qt::LeftButton && !panel_) drag_.Press(position);
}

void frmScope::Form_MouseMove(QPointF globalPosition) { drag_.Move(globalPosition); }

void frmScope::Form_MouseUp(Qt::MouseButton button) {
    if (button == Qt::LeftButton) drag_.Release();
}

void frmScope::mousePressEvent(QMouseEvent* event) { Form_MouseDown(event->button(), event->position()); }

void frmScope::mouseMoveEvent(QMouseEvent* event) {
    Form_MouseMove(event->globalPosition());
    PointAt(event->position());
}

std::optional<QString> frmScope::ReadingAt(QPoint rasterPixel) const {
    linescope::ScopeLayout layout{channel(), orientation(), traceShown_, kClientWidth};
    if (model_.loaded()) {
        const Counted counted = model_.counted();
        layout.pictureWidth = counted.width;
        layout.pictureHeight = counted.height;
    }
    auto reading = linescope::ReadingAt(layout, rasterPixel.x(), rasterPixel.y());
    if (!reading) return std::nullopt;
    if (const SignalTransfer transfer = model_.NitsTransfer(); hdr::HasNits(transfer))
        reading->nits = hdr::LevelNits(transfer, reading->level);
    // A region's column or row read as the picture's.
    if (reading->position && model_.loaded()) {
        const korvex::PixelRect rect = model_.counted().rect;
        *reading->position += reading->orientation == Orientation::Horizontal ? rect.x : rect.y;
    }
    return linescope::ReadingText(*reading);
}

void frmScope::mouseReleaseEvent(QMouseEvent* event) { Form_MouseUp(event->button()); }

// The second press of a double-click is not a new press: the drag is not re-armed.
void frmScope::mouseDoubleClickEvent(QMouseEvent*) {}

bool frmScope::eventFilter(QObject* watched, QEvent* event) {
    const bool onBox = std::find(std::begin(picChan), std::end(picChan), watched) != std::end(picChan);
    if (!onBox) return QWidget::eventFilter(watched, event);
    auto* box = static_cast<QWidget*>(watched);
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            Form_MouseDown(mouse->button(), mouse->position() + QPointF(box->pos()));
            return true;
        }
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            Form_MouseMove(mouse->globalPosition());
            PointAt(mouse->position() + QPointF(box->pos()));
            return true;
        }
        case QEvent::MouseButtonRelease:
            Form_MouseUp(static_cast<QMouseEvent*>(event)->button());
            return true;
        case QEvent::MouseButtonDblClick:
            return true;
        default:
            return QWidget::eventFilter(watched, event);
    }
}

}  // namespace vistrel
