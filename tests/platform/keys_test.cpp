#include "platform/window.h"
#include "platform/x11/x11_keys.h"

#include <gtest/gtest.h>

namespace tarnwick::platform::x11 {
namespace {

TEST(VirtualKey, MapsQtKeysToTheirWindowsCodes) {
    struct Case {
        int qt;
        int vk;
    };
    for (const Case c :
         {Case{Qt::Key_A, 'A'}, Case{Qt::Key_Z, 'Z'}, Case{Qt::Key_0, '0'}, Case{Qt::Key_9, '9'},
          Case{Qt::Key_F1, 0x70}, Case{Qt::Key_F12, 0x7B}, Case{Qt::Key_Escape, 0x1B},
          Case{Qt::Key_Return, 0x0D}, Case{Qt::Key_Enter, 0x0D}, Case{Qt::Key_Space, 0x20},
          Case{Qt::Key_Shift, 0x10}, Case{Qt::Key_Control, 0x11}, Case{Qt::Key_Alt, 0x12},
          Case{Qt::Key_Left, 0x25}, Case{Qt::Key_Down, 0x28}, Case{Qt::Key_Delete, 0x2E},
          Case{Qt::Key_ScrollLock, 0x91}, Case{Qt::Key_unknown, 0}})
        EXPECT_EQ(virtualKey(c.qt), c.vk) << std::hex << c.qt;
}

TEST(ShiftState, CombinesModifiersAndButtons) {
    EXPECT_EQ(shiftState(Qt::NoModifier, Qt::NoButton), 0u);
    EXPECT_EQ(shiftState(Qt::ShiftModifier | Qt::ControlModifier, Qt::NoButton),
              unsigned{ssShift | ssCtrl});
    EXPECT_EQ(shiftState(Qt::AltModifier, Qt::LeftButton | Qt::MiddleButton),
              unsigned{ssAlt | ssLeft | ssMiddle});
    EXPECT_EQ(shiftState(Qt::MetaModifier, Qt::RightButton), unsigned{ssRight});
}

} // namespace
} // namespace tarnwick::platform::x11
