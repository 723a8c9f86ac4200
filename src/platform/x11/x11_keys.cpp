#include "platform/x11/x11_keys.h"

#include "platform/window.h"

#include <array>
#include <utility>

namespace tarnwick::platform::x11 {

int virtualKey(int qtKey) {
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return 'A' + (qtKey - Qt::Key_A);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return '0' + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return 0x70 + (qtKey - Qt::Key_F1);
    static constexpr std::array<std::pair<int, int>, 27> kTable{{
        {Qt::Key_Backspace, 0x08}, {Qt::Key_Tab, 0x09},      {Qt::Key_Backtab, 0x09},
        {Qt::Key_Return, 0x0D},    {Qt::Key_Enter, 0x0D},    {Qt::Key_Shift, 0x10},
        {Qt::Key_Control, 0x11},   {Qt::Key_Alt, 0x12},      {Qt::Key_AltGr, 0x12},
        {Qt::Key_Pause, 0x13},     {Qt::Key_CapsLock, 0x14}, {Qt::Key_Escape, 0x1B},
        {Qt::Key_Space, 0x20},     {Qt::Key_PageUp, 0x21},   {Qt::Key_PageDown, 0x22},
        {Qt::Key_End, 0x23},       {Qt::Key_Home, 0x24},     {Qt::Key_Left, 0x25},
        {Qt::Key_Up, 0x26},        {Qt::Key_Right, 0x27},    {Qt::Key_Down, 0x28},
        {Qt::Key_Print, 0x2C},     {Qt::Key_Insert, 0x2D},   {Qt::Key_Delete, 0x2E},
        {Qt::Key_Meta, 0x5B},      {Qt::Key_Menu, 0x5D},     {Qt::Key_NumLock, 0x90},
    }};
    for (const auto& [qt, vk] : kTable)
        if (qt == qtKey) return vk;
    if (qtKey == Qt::Key_ScrollLock) return 0x91;
    return 0;
}

unsigned shiftState(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons) {
    unsigned state = 0;
    if (modifiers & Qt::ShiftModifier) state |= ssShift;
    if (modifiers & Qt::AltModifier) state |= ssAlt;
    if (modifiers & Qt::ControlModifier) state |= ssCtrl;
    if (buttons & Qt::LeftButton) state |= ssLeft;
    if (buttons & Qt::RightButton) state |= ssRight;
    if (buttons & Qt::MiddleButton) state |= ssMiddle;
    return state;
}

} // namespace tarnwick::platform::x11
