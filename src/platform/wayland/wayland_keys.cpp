#include "platform/wayland/wayland_keys.h"

#include <linux/input-event-codes.h>

#include <array>
#include <utility>

namespace tarnwick::platform::wayland {

int virtualKeyOf(uint32_t key) {
    static constexpr std::array<std::pair<uint32_t, int>, 64> kTable{{
        {KEY_A, 'A'},          {KEY_B, 'B'},           {KEY_C, 'C'},         {KEY_D, 'D'},
        {KEY_E, 'E'},          {KEY_F, 'F'},           {KEY_G, 'G'},         {KEY_H, 'H'},
        {KEY_I, 'I'},          {KEY_J, 'J'},           {KEY_K, 'K'},         {KEY_L, 'L'},
        {KEY_M, 'M'},          {KEY_N, 'N'},           {KEY_O, 'O'},         {KEY_P, 'P'},
        {KEY_Q, 'Q'},          {KEY_R, 'R'},           {KEY_S, 'S'},         {KEY_T, 'T'},
        {KEY_U, 'U'},          {KEY_V, 'V'},           {KEY_W, 'W'},         {KEY_X, 'X'},
        {KEY_Y, 'Y'},          {KEY_Z, 'Z'},           {KEY_0, '0'},         {KEY_1, '1'},
        {KEY_2, '2'},          {KEY_3, '3'},           {KEY_4, '4'},         {KEY_5, '5'},
        {KEY_6, '6'},          {KEY_7, '7'},           {KEY_8, '8'},         {KEY_9, '9'},
        {KEY_BACKSPACE, 0x08}, {KEY_TAB, 0x09},        {KEY_ENTER, 0x0D},    {KEY_KPENTER, 0x0D},
        {KEY_LEFTSHIFT, 0x10}, {KEY_RIGHTSHIFT, 0x10}, {KEY_LEFTCTRL, 0x11}, {KEY_RIGHTCTRL, 0x11},
        {KEY_LEFTALT, 0x12},   {KEY_RIGHTALT, 0x12},   {KEY_PAUSE, 0x13},    {KEY_CAPSLOCK, 0x14},
        {KEY_ESC, 0x1B},       {KEY_SPACE, 0x20},      {KEY_PAGEUP, 0x21},   {KEY_PAGEDOWN, 0x22},
        {KEY_END, 0x23},       {KEY_HOME, 0x24},       {KEY_LEFT, 0x25},     {KEY_UP, 0x26},
        {KEY_RIGHT, 0x27},     {KEY_DOWN, 0x28},       {KEY_SYSRQ, 0x2C},    {KEY_INSERT, 0x2D},
        {KEY_DELETE, 0x2E},    {KEY_LEFTMETA, 0x5B},   {KEY_COMPOSE, 0x5D},  {KEY_NUMLOCK, 0x90},
    }};
    if (key >= KEY_F1 && key <= KEY_F10) return 0x70 + static_cast<int>(key - KEY_F1);
    if (key == KEY_F11) return 0x7A;
    if (key == KEY_F12) return 0x7B;
    for (const auto& [code, vk] : kTable)
        if (code == key) return vk;
    return 0;
}

} // namespace tarnwick::platform::wayland
