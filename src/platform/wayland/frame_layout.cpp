#include "platform/wayland/frame_layout.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tarnwick::platform::wayland {

FrameLayout layoutFrame(std::span<const OutputPlace> outputs) {
    FrameLayout layout;
    if (outputs.empty()) return layout;
    int32_t left = std::numeric_limits<int32_t>::max();
    int32_t top = std::numeric_limits<int32_t>::max();
    int32_t right = std::numeric_limits<int32_t>::min();
    int32_t bottom = std::numeric_limits<int32_t>::min();
    for (const OutputPlace& o : outputs) {
        left = std::min(left, o.x);
        top = std::min(top, o.y);
        right = std::max(right, o.x + o.width);
        bottom = std::max(bottom, o.y + o.height);
        layout.scale = std::max(layout.scale, o.scale);
    }
    const int32_t s = layout.scale;
    layout.logical = {left, top, right, bottom};
    layout.size = {(right - left) * s, (bottom - top) * s};
    for (const OutputPlace& o : outputs) {
        const int32_t x = (o.x - left) * s;
        const int32_t y = (o.y - top) * s;
        layout.parts.push_back({x, y, x + o.width * s, y + o.height * s});
    }
    return layout;
}

namespace {

struct Point {
    int32_t x, y;
};

// The output's own pixel under the pixel (u, v) of the picture as shown (w x h): the compositor
// turns the shown picture by the transform to drive the output.
Point outputPixel(OutputTransform t, int32_t u, int32_t v, int32_t w, int32_t h) {
    switch (t) {
    case OutputTransform::Normal:
        return {u, v};
    case OutputTransform::R90:
        return {v, w - 1 - u};
    case OutputTransform::R180:
        return {w - 1 - u, h - 1 - v};
    case OutputTransform::R270:
        return {h - 1 - v, u};
    case OutputTransform::Flipped:
        return {w - 1 - u, v};
    case OutputTransform::Flipped90:
        return {v, u};
    case OutputTransform::Flipped180:
        return {u, h - 1 - v};
    case OutputTransform::Flipped270:
        return {h - 1 - v, w - 1 - u};
    }
    return {u, v};
}

bool turnsSideways(OutputTransform t) {
    return (static_cast<int32_t>(t) & 1) != 0;
}

} // namespace

void placeOutputPicture(const OutputPicture& picture, const Rect& part, uint32_t* frame,
                        int32_t frameStride) {
    if (!picture.pixels || picture.width <= 0 || picture.height <= 0) return;
    const int32_t pw = part.width();
    const int32_t ph = part.height();
    if (pw <= 0 || ph <= 0) return;
    const bool sideways = turnsSideways(picture.transform);
    const int32_t shownW = sideways ? picture.height : picture.width;
    const int32_t shownH = sideways ? picture.width : picture.height;
    std::vector<int32_t> columns(static_cast<size_t>(pw));
    for (int32_t i = 0; i < pw; ++i)
        columns[static_cast<size_t>(i)] =
            static_cast<int32_t>((2 * int64_t{i} + 1) * shownW / (2 * int64_t{pw}));
    for (int32_t j = 0; j < ph; ++j) {
        const auto v = static_cast<int32_t>((2 * int64_t{j} + 1) * shownH / (2 * int64_t{ph}));
        uint32_t* out = frame + static_cast<std::ptrdiff_t>(part.top + j) * frameStride + part.left;
        for (int32_t i = 0; i < pw; ++i) {
            Point p =
                outputPixel(picture.transform, columns[static_cast<size_t>(i)], v, shownW, shownH);
            if (picture.yInverted) p.y = picture.height - 1 - p.y;
            uint32_t pixel = 0;
            std::memcpy(&pixel, picture.pixels + std::ptrdiff_t{picture.stride} * p.y + 4 * p.x, 4);
            out[i] = 0xFF000000u | pixel;
        }
    }
}

} // namespace tarnwick::platform::wayland
