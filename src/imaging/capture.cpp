#include "imaging/capture.h"

#include <algorithm>
#include <cstring>

namespace tarnwick {

std::unique_ptr<WorkBitmap> CaptureScreenRect(platform::Screen& screen, const Rect& destination,
                                              const Rect& source) {
    auto bitmap = NewWorkBitmap();
    const int32_t width = destination.width();
    const int32_t height = destination.height();
    SetBitmapSize(*bitmap, width, height);
    if (bitmap->empty()) return bitmap;
    if (destination.left == 0 && destination.top == 0) {
        screen.capture(source, width, height, bitmap->data(), bitmap->stride());
        return bitmap;
    }
    // The destination lies elsewhere in the bitmap's coordinates: capture at full size, then
    // keep the part that falls inside the bitmap.
    WorkBitmap shot;
    SetBitmapSize(shot, width, height);
    screen.capture(source, width, height, shot.data(), shot.stride());
    const int32_t x0 = std::max(0, destination.left);
    const int32_t x1 = std::min(width, destination.right);
    const int32_t y0 = std::max(0, destination.top);
    const int32_t y1 = std::min(height, destination.bottom);
    if (x0 >= x1) return bitmap;
    for (int32_t y = y0; y < y1; ++y)
        std::memcpy(bitmap->data() + bitmap->stride() * y + 3 * x0,
                    shot.data() + shot.stride() * (y - destination.top) +
                        3 * (x0 - destination.left),
                    static_cast<size_t>(x1 - x0) * 3);
    return bitmap;
}

} // namespace tarnwick
