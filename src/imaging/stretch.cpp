#include "imaging/stretch.h"

#include <algorithm>
#include <cstring>

namespace tarnwick {

namespace {

constexpr uint32_t kOpaqueBlack = 0xFF000000u;

void fillRow(uint32_t* row, int32_t count, uint32_t value) {
    std::fill_n(row, count, value);
}

// Loads the blue, green and red bytes at `p` as 0xFFRRGGBB. Reads one byte past the pixel, which
// the bitmap's row padding or its spare tail bytes always provide.
inline uint32_t loadPixel(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v | kOpaqueBlack;
}

} // namespace

void Stretcher::copy(const WorkBitmap& src, const Rect& srcRect, const FrameView& dst) {
    if (dst.width <= 0 || dst.height <= 0 || !dst.pixels) return;
    const int64_t srcW = int64_t{srcRect.right} - srcRect.left;
    const int64_t srcH = int64_t{srcRect.bottom} - srcRect.top;
    if (srcW <= 0 || srcH <= 0 || src.empty()) {
        for (int32_t y = 0; y < dst.height; ++y)
            fillRow(dst.pixels + std::ptrdiff_t{dst.stride} * y, dst.width, kOpaqueBlack);
        return;
    }

    // The mapping is monotonic, so the columns that land inside the bitmap form one run.
    if (columnOffsets_.size() < static_cast<size_t>(dst.width))
        columnOffsets_.resize(static_cast<size_t>(dst.width));
    int32_t firstInside = dst.width;
    int32_t endInside = 0;
    for (int32_t x = 0; x < dst.width; ++x) {
        const int64_t sx = stretchSourceIndex(x, srcRect.left, srcW, dst.width);
        if (sx < 0 || sx >= src.width()) continue;
        firstInside = std::min(firstInside, x);
        endInside = x + 1;
        columnOffsets_[static_cast<size_t>(x)] = static_cast<int32_t>(sx * 3);
    }
    const int32_t* offsets = columnOffsets_.data();

    const uint32_t* previousRow = nullptr;
    int64_t previousSy = -1;
    for (int32_t y = 0; y < dst.height; ++y) {
        uint32_t* row = dst.pixels + std::ptrdiff_t{dst.stride} * y;
        const int64_t sy = stretchSourceIndex(y, srcRect.top, srcH, dst.height);
        if (sy < 0 || sy >= src.height() || firstInside >= endInside) {
            fillRow(row, dst.width, kOpaqueBlack);
            continue;
        }
        if (sy == previousSy) {
            // A repeated source row: the row just made is the answer.
            std::memcpy(row, previousRow, static_cast<size_t>(dst.width) * 4);
            continue;
        }
        const uint8_t* source = src.data() + src.stride() * sy;
        fillRow(row, firstInside, kOpaqueBlack);
        for (int32_t x = firstInside; x < endInside; ++x) row[x] = loadPixel(source + offsets[x]);
        fillRow(row + endInside, dst.width - endInside, kOpaqueBlack);
        previousRow = row;
        previousSy = sy;
    }
}

void StretchCopy(const WorkBitmap& src, const Rect& srcRect, const FrameView& dst) {
    thread_local Stretcher stretcher;
    stretcher.copy(src, srcRect, dst);
}

} // namespace tarnwick
