#pragma once
// Translation of Qt's key and modifier values to the virtual-key codes and shift states the form
// expects.
#include <Qt>

namespace tarnwick::platform::x11 {

// The Windows virtual-key code of a Qt key; 0 for keys that have none.
int virtualKey(int qtKey);

// The shift state (ShiftState bits) of keyboard modifiers and pressed mouse buttons.
unsigned shiftState(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons);

} // namespace tarnwick::platform::x11
