#pragma once
#include <cstdint>

namespace tarnwick {

// Rectangles are left, top, right, bottom; right and bottom are exclusive.
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Size {
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// A 32-bit 0xAARRGGBB frame, rows `stride` pixels apart (a window's backing store or a test frame).
// Whoever draws into it writes opaque pixels (alpha 0xFF): a window shows them as they are.
struct FrameView {
    uint32_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0; // in pixels
};

} // namespace tarnwick
