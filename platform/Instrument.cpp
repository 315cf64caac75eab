#include "platform/Instrument.h"

#include <QPainter>

namespace vistrel {

Instrument::Instrument(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint) {}

void Instrument::setPanel(bool panel) {
    panel_ = panel;
    EndDrag();
    if (panel) {
        setMinimumSize(naturalSize());
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        setFixedSize(naturalSize());
        move(designPosition());
    }
    Relayout();
}

ScaledPlacement Instrument::Place() const {
    if (!panel_) return {};
    return PlaceScaled(rasterSize(), QSize(width(), height() - stripHeight()), labelMargin());
}

QSize Instrument::PanelSizeAt(int k) const {
    if (k <= 1) return naturalSize();
    const QSize scaled = rasterSize() * k + labelMargin() * 2 + QSize(0, stripHeight());
    return scaled.expandedTo(naturalSize());
}

void Instrument::resizeEvent(QResizeEvent*) { Relayout(); }

void Instrument::Relayout() {
    Arrange();
    update();
}

QImage Instrument::WindowImage() {
    const QSize natural = naturalSize();
    if (!panel_) return grab().toImage().convertToFormat(QImage::Format_RGB32);
    QImage image(natural, QImage::Format_RGB32);
    // Laid out as the window for the moment, drawn, and laid out as the panel again.
    panel_ = false;
    Arrange();
    render(&image, QPoint(), QRegion(QRect(QPoint(), natural)));
    panel_ = true;
    Arrange();
    return image;
}

}  // namespace vistrel
