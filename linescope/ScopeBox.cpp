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
    setGeometry(LogicalCover(ScaledRect(raster_, placement_), placement_.ratio));
    update();
}

void ScopeBox::setPlacement(const ScaledPlacement& placement) {
    placement_ = placement;
    setGeometry(LogicalCover(ScaledRect(raster_, placement_), placement_.ratio));
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
    // Placed from the scope's own corner: the box covers its blocks' device pixels.
    const QPoint at = ScaledRect(raster_, placement_).topLeft();
    DrawPlaced(painter, QPointF(-pos()), at, surface_.image(), placement_, scaled_);
}

}  // namespace vistrel::linescope
