#include "platform/Instrument.h"

#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

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
    const std::optional<QString> text = ReadingAt(RasterPixelAt(DevicePosition(position), placed_));
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

qreal Instrument::ratio() const { return atDesignRatio_ ? 1.0 : devicePixelRatioF(); }

QPointF Instrument::DevicePosition(QPointF position) const {
    const qreal r = placed_.ratio;
    return vistrel::DevicePosition(position, r, QPointF(mapTo(window(), QPoint())) * r);
}

ScaledPlacement Instrument::Place() const {
    // A window's room is its design's, the raster's own: at 1 device pixel to the pixel, x1 at
    // the corner (also while WindowImage lays a panel out as the window).
    const QSize client = panel_ ? size() : naturalSize();
    return PlaceScaled(design_.raster, QSize(client.width(), client.height() - design_.strip), design_.labelMargin,
                       ratio());
}

QSize Instrument::PanelSizeAt(int k) const {
    const QSize room = RoomForScale(design_.raster, design_.labelMargin, ratio(), k);
    return (room + QSize(0, design_.strip)).expandedTo(naturalSize());
}

void Instrument::PaintRaster(QPainter& painter, QPointF room, QPoint at, const QImage& image, QImage& blocks) const {
    DrawPlaced(painter, room, at, image, placed_, blocks);
}

void Instrument::FollowRatio(const QPainter& painter) {
    if (atDesignRatio_ || relayoutDue_ || PaintRatio(painter) == placed_.ratio || PaintRatio(painter) != ratio()) return;
    relayoutDue_ = true;
    QTimer::singleShot(0, this, [this] {
        relayoutDue_ = false;
        Relayout();
    });
}

bool Instrument::event(QEvent* event) {
    // On another screen the device pixels differ: the raster is placed again for them.
    if (event->type() == QEvent::ScreenChangeInternal) Relayout();
    return QWidget::event(event);
}

void Instrument::resizeEvent(QResizeEvent*) { Relayout(); }

void Instrument::Relayout() {
    ClearReading();
    Arrange();
    update();
}

QImage Instrument::WindowImage() {
    DrawForImage();
    // The instrument, not what the pointer reads on it: the line is left out for the moment.
    const bool reading = !readingLine_->isHidden();
    readingLine_->hide();
    const QSize natural = naturalSize();
    QImage image;
    if (!panel_ && devicePixelRatioF() == 1) {
        image = grab().toImage().convertToFormat(QImage::Format_RGB32);
    } else {
        image = QImage(natural, QImage::Format_RGB32);
        // Laid out as the window at one device pixel to the pixel for the moment, drawn, and
        // laid out as it is shown again.
        const bool panel = panel_;
        panel_ = false;
        atDesignRatio_ = true;
        Arrange();
        render(&image, QPoint(), QRegion(QRect(QPoint(), natural)));
        panel_ = panel;
        atDesignRatio_ = false;
        Arrange();
    }
    readingLine_->setVisible(reading);
    return image;
}

}  // namespace vistrel
