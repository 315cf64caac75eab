#include "platform/Instrument.h"

#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include <functional>

namespace vistrel {

namespace {

// The reading's line takes the moves that land on it, as the plot under it would: a move
// that reaches no widget with tracking is dropped, and off the plot the line must go.
class ReadingLine final : public QLabel {
public:
    explicit ReadingLine(QWidget* parent, std::function<void(QPointF)> moved) : QLabel(parent), moved_(std::move(moved)) {
        setMouseTracking(true);
    }

protected:
    void mouseMoveEvent(QMouseEvent* event) override {
        moved_(mapToParent(event->position()));
        // A move with a button held (a drag of the window) is the instrument's too.
        event->ignore();
    }

private:
    std::function<void(QPointF)> moved_;
};

// The reading's text: the vectorscope's zoom readout's white, on the field's black.
constexpr QRgb kReadingText = 0xFFFFFF;
// Its text keeps this far from the line's left end, as the option captions do.
constexpr int kReadingIndent = 4;
// In the small font of the option captions, whatever the instrument's own.
constexpr int kReadingPoints = 8;

}  // namespace

Instrument::Instrument(QWidget* parent, const InstrumentDesign& design)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), design_(design) {
    setFixedSize(design_.client);
    move(design_.position);
    setMouseTracking(true);
    readingLine_ = new ReadingLine(this, [this](QPointF position) { PointAt(position); });
    readingLine_->setObjectName(QStringLiteral("lblReading"));
    QPalette colours = readingLine_->palette();
    colours.setColor(QPalette::Window, Qt::black);
    colours.setColor(QPalette::WindowText, QColor::fromRgb(kReadingText));
    readingLine_->setPalette(colours);
    readingLine_->setAutoFillBackground(true);
    readingLine_->setWordWrap(true);
    readingLine_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    readingLine_->setIndent(kReadingIndent);
    QFont small = readingLine_->font();
    small.setPointSize(kReadingPoints);
    readingLine_->setFont(small);
    readingLine_->hide();
}

QString Instrument::reading() const { return readingLine_->isHidden() ? QString() : readingLine_->text(); }

void Instrument::PointAt(QPointF position) {
    pointer_ = position;
    const std::optional<QString> text = ReadingAt(RasterPixelAt(position, placed_));
    if (!text) {
        ClearReading();
        return;
    }
    // At least one line of text high, grown upwards.
    QRect line = StripRect();
    const int needed = QFontMetrics(readingLine_->font()).height();
    if (line.height() < needed) line.setTop(line.bottom() + 1 - needed);
    readingLine_->setGeometry(line);
    readingLine_->setText(*text);
    readingLine_->raise();
    readingLine_->show();
}

void Instrument::ClearReading() { readingLine_->hide(); }

void Instrument::RefreshReading() {
    if (!readingLine_->isHidden()) PointAt(pointer_);
}

void Instrument::leaveEvent(QEvent* event) {
    ClearReading();
    QWidget::leaveEvent(event);
}

void Instrument::setPanel(bool panel) {
    panel_ = panel;
    drag_.Release();
    if (panel) {
        setMinimumSize(naturalSize());
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        setFixedSize(design_.client);
        move(design_.position);
    }
    Relayout();
}

ScaledPlacement Instrument::Place() const {
    if (!panel_) return {};
    return PlaceScaled(design_.raster, QSize(width(), height() - design_.strip), design_.labelMargin);
}

QSize Instrument::PanelSizeAt(int k) const {
    if (k <= 1) return naturalSize();
    const QSize scaled = design_.raster * k + design_.labelMargin * 2 + QSize(0, design_.strip);
    return scaled.expandedTo(naturalSize());
}

void Instrument::resizeEvent(QResizeEvent*) { Relayout(); }

void Instrument::Relayout() {
    ClearReading();
    Arrange();
    update();
}

QImage Instrument::WindowImage() {
    // The instrument, not what the pointer reads on it: the line is left out for the moment.
    const bool reading = !readingLine_->isHidden();
    readingLine_->hide();
    const QSize natural = naturalSize();
    QImage image;
    if (!panel_) {
        image = grab().toImage().convertToFormat(QImage::Format_RGB32);
    } else {
        image = QImage(natural, QImage::Format_RGB32);
        // Laid out as the window for the moment, drawn, and laid out as the panel again.
        panel_ = false;
        Arrange();
        render(&image, QPoint(), QRegion(QRect(QPoint(), natural)));
        panel_ = true;
        Arrange();
    }
    readingLine_->setVisible(reading);
    return image;
}

}  // namespace vistrel
