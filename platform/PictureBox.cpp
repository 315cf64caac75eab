#include "platform/PictureBox.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace vistrel {

ColorValue CompositingBackground(const QPalette& palette) {
    const QColor base = palette.color(QPalette::Base);
    return ColorValue(base.red() | base.green() << 8 | base.blue() << 16);
}

PictureBox::PictureBox(int border, ColorValue background, QWidget* parent)
    : QWidget(parent), border_(border), background_(background) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int PictureBox::innerWidth() const { return std::max(0, width() - 2 * border_); }
int PictureBox::innerHeight() const { return std::max(0, height() - 2 * border_); }

void PictureBox::setOuterSize(int width, int height) { resize(width, height); }

void PictureBox::resizeEvent(QResizeEvent*) {
    if (innerWidth() != surface_.width() || innerHeight() != surface_.height())
        surface_.reset(innerWidth(), innerHeight(), background_);
}

void PictureBox::clearPicture() {
    surface_.clear(background_);
    update();
}

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (border_ > 0) {
        painter.fillRect(rect(), palette().color(QPalette::Dark));
    }
    if (!surface_.isNull()) painter.drawImage(border_, border_, surface_.image());
}

void PictureBox::call(const std::function<void(int, int, float, float)>& handler, int button, QMouseEvent* event) {
    if (!handler) return;
    const QPointF at = event->position() - QPointF(border_, border_);
    handler(button, ShiftState(event->modifiers()), static_cast<float>(at.x()), static_cast<float>(at.y()));
}

void PictureBox::mousePressEvent(QMouseEvent* event) { call(onMouseDown, ButtonCode(event->button()), event); }

void PictureBox::mouseMoveEvent(QMouseEvent* event) { call(onMouseMove, ButtonCode(event->buttons()), event); }

void PictureBox::mouseReleaseEvent(QMouseEvent* event) { call(onMouseUp, ButtonCode(event->button()), event); }

void PictureBox::dragEnterEvent(QDragEnterEvent* event) {
    if (onDrop) event->acceptProposedAction();
}

void PictureBox::dropEvent(QDropEvent* event) {
    if (!onDrop || event->mimeData() == nullptr) return;
    onDrop(*event->mimeData());
    event->acceptProposedAction();
}

}  // namespace vistrel
