#include "linescope/ScopeBox.h"

#include <QPainter>

namespace vistrel::linescope {

namespace {
constexpr ColorValue kBlack = 0x000000;
}

ScopeBox::ScopeBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::TabFocus);
}

void ScopeBox::place(int left, int top, int width, int height) {
    if (width != surface_.width() || height != surface_.height()) {
        Surface resized(width, height, kBlack);
        if (!resized.isNull() && !surface_.isNull()) {
            QPainter painter(&resized.image());
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(0, 0, surface_.image());
        }
        surface_.image() = std::move(resized.image());
    }
    raster_ = QRect(left, top, width, height);
    setGeometry(ScaledRect(raster_, placement_));
    update();
}

void ScopeBox::setPlacement(const ScaledPlacement& placement) {
    placement_ = placement;
    setGeometry(ScaledRect(raster_, placement_));
    update();
}

void ScopeBox::clearImage() {
    surface_.clear(kBlack);
    update();
}

void ScopeBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (surface_.isNull()) return;
    if (placement_.scale == 1) {
        painter.drawImage(0, 0, surface_.image());
    } else {
        ScaleBlocks(surface_.image(), placement_.scale, scaled_);
        painter.drawImage(0, 0, scaled_);
    }
}

}  // namespace vistrel::linescope
