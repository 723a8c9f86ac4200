#pragma once
// Keys as the Linux input layer numbers them (what wl_keyboard sends), as virtual keys.
#include <cstdint>

namespace tarnwick::platform::wayland {

// The virtual-key code of an evdev key code; 0 for keys without one. Letters and digits follow
// the US layout's positions: without the user's keymap the engine is told which key, not which
// character.
int virtualKeyOf(uint32_t evdevKey);

} // namespace tarnwick::platform::wayland
