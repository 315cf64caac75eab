#include "platform/PictureBox.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>

#include "platform/Numbers.h"
#include "platform/ScaledRaster.h"

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

void PictureBox::setOuterSize(int width, int height, double ratio) {
    const bool changed = ratio != ratio_;
    ratio_ = ratio;
    resize(width, height);
    // A hidden box has its resize event later: an image of new device pixels is made now.
    if (changed || ratio_ != 1) fitImage();
}

void PictureBox::resizeEvent(QResizeEvent*) { fitImage(); }

void PictureBox::fitImage() {
    const int width = NearestDevicePixels(innerWidth(), ratio_);
    const int height = NearestDevicePixels(innerHeight(), ratio_);
    if (width != surface_.width() || height != surface_.height()) surface_.reset(width, height, background_);
}

void PictureBox::clearPicture() {
    surface_.clear(background_);
    update();
}

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (onRatioChange && !ratioChangeDue_ && PaintRatio(painter) != ratio_ && PaintRatio(painter) == devicePixelRatioF()) {
        ratioChangeDue_ = true;
        QTimer::singleShot(0, this, [this] {
            ratioChangeDue_ = false;
            onRatioChange();
        });
    }
    if (border_ > 0) {
        painter.fillRect(rect(), palette().color(QPalette::Dark));
    }
    if (surface_.isNull()) return;
    if (ratio_ == 1)
        painter.drawImage(border_, border_, surface_.image());
    else
        DrawOnDevicePixels(painter, QPointF(border_, border_), QPoint(), surface_.image());
}

void PictureBox::call(const std::function<void(int, int, float, float)>& handler, int button, QMouseEvent* event) {
    if (!handler) return;
    QPointF at = event->position() - QPointF(border_, border_);
    // The device pixel under the pointer, counted from the one the image's first pixel is on.
    if (ratio_ != 1) at = DevicePosition(at, ratio_, QPointF(mapTo(window(), QPoint(border_, border_))) * ratio_);
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
