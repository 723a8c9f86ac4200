#include "fakes/fake_screen.h"

#include <cstring>

namespace tarnwick::fakes {

void FakeScreen::capture(const Rect& source, int32_t width, int32_t height, uint8_t* rows,
                         std::ptrdiff_t stride) {
    captures.push_back({source, width, height});
    const int64_t srcW = int64_t{source.right} - source.left;
    const int64_t srcH = int64_t{source.bottom} - source.top;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* out = rows + stride * y;
        const int64_t sy = srcH > 0 ? source.top + (2 * int64_t{y} + 1) * srcH / (2 * height) : -1;
        for (int32_t x = 0; x < width; ++x) {
            const int64_t sx =
                srcW > 0 ? source.left + (2 * int64_t{x} + 1) * srcW / (2 * width) : -1;
            const bool inside = srcW > 0 && srcH > 0 && sx >= desktop_.left &&
                                sx < desktop_.right && sy >= desktop_.top && sy < desktop_.bottom;
            const std::array<uint8_t, 3> bgr =
                inside ? pixelAt(static_cast<int32_t>(sx), static_cast<int32_t>(sy))
                       : std::array<uint8_t, 3>{0, 0, 0};
            std::memcpy(out + 3 * x, bgr.data(), 3);
        }
    }
}

} // namespace tarnwick::fakes
