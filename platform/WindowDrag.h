#pragma once
// Dragging a borderless window by its client area: the point grabbed at the left
// press stays under the pointer until the release. Both instrument windows use it.

#include <QPointF>
#include <QPointer>
#include <QString>

class QWidget;

namespace vistrel {

// Whether a window is moved by the window system rather than by the program: always on
// Wayland, where no program places its own windows; and on X11 inside a Wayland session
// (XWayland), whose compositor ignores a program's own moves. A plain X11 window manager
// (openbox) follows the program's moves exactly, pixel for pixel.
bool MovesThroughWindowSystem(const QString& platformName, bool waylandSession);

class WindowDrag {
public:
    explicit WindowDrag(QWidget& window) : window_(&window) {}

    // A left press at this point of the window (its pixels). Where the window system
    // moves windows itself, it is asked to move this one from here on.
    void Press(QPointF at);
    // The pointer at this screen position: the window follows while a drag is on.
    void Move(QPointF globalPosition);
    void Release() { dragging_ = false; }
    bool dragging() const { return dragging_; }

private:
    QPointer<QWidget> window_;
    bool dragging_ = false;
    QPointF grabbed_;    // the pointer at the press, in the window's pixels
    bool moving_ = false;  // a move is in progress: the events it lets through do not start another
};

}  // namespace vistrel
