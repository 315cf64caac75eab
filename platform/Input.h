#pragma once
// Mouse buttons and the shift state as the program's handlers take them:
// button 1 left, 2 right, 4 middle; shift bit 1 Shift, 2 Ctrl, 4 Alt.

#include <Qt>

namespace vistrel {

enum MouseButtonCode : int { kLeftButton = 1, kRightButton = 2, kMiddleButton = 4 };
enum ShiftCode : int { kShiftKey = 1, kCtrlKey = 2, kAltKey = 4 };

// One button (a press or a release) or the buttons held (a move).
int ButtonCode(Qt::MouseButtons buttons);
int ShiftState(Qt::KeyboardModifiers modifiers);

}  // namespace vistrel
