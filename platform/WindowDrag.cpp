#include "platform/WindowDrag.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include "platform/Numbers.h"

namespace vistrel {

bool MovesThroughWindowSystem(const QString& platformName, bool waylandSession) {
    if (platformName.startsWith(QLatin1String("wayland"))) return true;
    return platformName == QLatin1String("xcb") && waylandSession;
}

void WindowDrag::Press(QPointF at) {
    if (MovesThroughWindowSystem(QGuiApplication::platformName(), qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))) {
        if (QWindow* handle = window_->windowHandle()) handle->startSystemMove();
        return;
    }
    dragging_ = true;
    grabbed_ = at;
}

void WindowDrag::Move(QPointF globalPosition) {
    if (!dragging_ || moving_ || window_ == nullptr) return;
    moving_ = true;
    // From the pointer's screen position, not from the window's last known one: a
    // window manager may apply the previous move later.
    const QPointF topLeft = globalPosition - grabbed_;
    window_->move(nearestInt(topLeft.x()), nearestInt(topLeft.y()));
    const QPointer<QWidget> alive(window_);
    QCoreApplication::processEvents();
    if (alive != nullptr) moving_ = false;
}

}  // namespace vistrel
