#include "platform/ScrollBar.h"

#include <QKeyEvent>

namespace vistrel {

ScrollBar::ScrollBar(Qt::Orientation orientation, QWidget* parent) : QScrollBar(orientation, parent) {
    setTracking(false);
}

void ScrollBar::keyPressEvent(QKeyEvent* event) {
    const bool left = event->key() == Qt::Key_Left;
    if (orientation() == Qt::Horizontal && (left || event->key() == Qt::Key_Right)) {
        const bool towardMinimum = left != isRightToLeft();
        triggerAction(towardMinimum ? SliderSingleStepSub : SliderSingleStepAdd);
        event->accept();
        return;
    }
    QScrollBar::keyPressEvent(event);
}

}  // namespace vistrel
