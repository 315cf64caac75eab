#include "platform/Input.h"

namespace vistrel {

int ButtonCode(Qt::MouseButtons buttons) {
    int code = 0;
    if (buttons & Qt::LeftButton) code |= kLeftButton;
    if (buttons & Qt::RightButton) code |= kRightButton;
    if (buttons & Qt::MiddleButton) code |= kMiddleButton;
    return code;
}

int ShiftState(Qt::KeyboardModifiers modifiers) {
    int code = 0;
    if (modifiers & Qt::ShiftModifier) code |= kShiftKey;
    if (modifiers & Qt::ControlModifier) code |= kCtrlKey;
    if (modifiers & Qt::AltModifier) code |= kAltKey;
    return code;
}

}  // namespace vistrel
