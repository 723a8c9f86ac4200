#pragma once
// Where each output's part of the one frame lies, and how an output's own picture maps onto the
// desktop: plain arithmetic, apart from the compositor so that it can be checked alone.
#include "platform/geometry.h"

#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick::platform::wayland {

// An output as the compositor lays it out: logical position and size, and its scale.
struct OutputPlace {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t scale = 1;
};

// The frame spans the outputs' bounding box at the largest scale, so the finest output draws at
// its real pixel size; `parts` are the outputs' rectangles in frame pixels, in the given order.
struct FrameLayout {
    int32_t scale = 1;
    Rect logical; // the bounding box in the compositor's logical coordinates
    Size size;    // the frame in pixels
    std::vector<Rect> parts;
};

FrameLayout layoutFrame(std::span<const OutputPlace> outputs);

// wl_output's transform values: rotations counter-clockwise, then the same flipped.
enum class OutputTransform : int32_t {
    Normal = 0,
    R90,
    R180,
    R270,
    Flipped,
    Flipped90,
    Flipped180,
    Flipped270
};

// A picture an output produced in its own (untransformed) pixel order.
struct OutputPicture {
    const uint8_t* pixels = nullptr; // 32-bit, blue in the lowest byte (wl_shm's xrgb8888)
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0; // in bytes
    OutputTransform transform = OutputTransform::Normal;
    bool yInverted = false; // rows stored bottom up
};

// Draws `picture` as the output shows it into the frame rectangle `part` of `frame` (0xAARRGGBB,
// `frameStride` pixels a row), nearest pixel when the sizes differ (a scaled output).
void placeOutputPicture(const OutputPicture& picture, const Rect& part, uint32_t* frame,
                        int32_t frameStride);

} // namespace tarnwick::platform::wayland
