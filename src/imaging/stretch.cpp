#include "imaging/stretch.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>

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

struct Stretcher::Rows {
    const WorkBitmap& src;
    int64_t top, height; // the source rectangle's rows
    const FrameView& dst;
    const int32_t* offsets;
    int32_t firstInside, endInside; // destination columns that land inside the bitmap
};

Stretcher::Stretcher(int64_t splitFrom) : splitFrom_(splitFrom) {}

Stretcher::~Stretcher() = default;

void Stretcher::drawRows(const Rows& r, int32_t begin, int32_t end) const {
    const uint32_t* previousRow = nullptr;
    int64_t previousSy = -1;
    for (int32_t y = begin; y < end; ++y) {
        uint32_t* row = r.dst.pixels + std::ptrdiff_t{r.dst.stride} * y;
        const int64_t sy = stretchSourceIndex(y, r.top, r.height, r.dst.height);
        if (sy < 0 || sy >= r.src.height() || r.firstInside >= r.endInside) {
            fillRow(row, r.dst.width, kOpaqueBlack);
            continue;
        }
        if (sy == previousSy) {
            // A repeated source row: the row just made is the answer.
            std::memcpy(row, previousRow, static_cast<size_t>(r.dst.width) * 4);
            continue;
        }
        const uint8_t* source = r.src.data() + r.src.stride() * sy;
        fillRow(row, r.firstInside, kOpaqueBlack);
        for (int32_t x = r.firstInside; x < r.endInside; ++x)
            row[x] = loadPixel(source + r.offsets[x]);
        fillRow(row + r.endInside, r.dst.width - r.endInside, kOpaqueBlack);
        previousRow = row;
        previousSy = sy;
    }
}

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
    const Rows rows{src, srcRect.top, srcH, dst, columnOffsets_.data(), firstInside, endInside};

    const bool large = int64_t{dst.width} * dst.height >= splitFrom_ && dst.height >= 2;
    if (large && !helper_ && !helperUnavailable_) {
        try {
            helper_ = std::make_unique<BandWorker>();
        } catch (const std::system_error&) {
            helperUnavailable_ = true; // no thread to be had: one core it is
        }
    }
    if (!large || !helper_) {
        drawRows(rows, 0, dst.height);
        return;
    }
    // Both threads take bands of rows in turn until none are left, so that a helper that wakes
    // late (a busy machine) costs no more than the bands it took; one it never took is drawn here.
    std::atomic<int32_t> nextBand{0};
    auto drawBands = [&] {
        for (;;) {
            const int32_t begin = nextBand.fetch_add(kBandRows, std::memory_order_relaxed);
            if (begin >= dst.height) return;
            drawRows(rows, begin, std::min(begin + kBandRows, dst.height));
        }
    };
    helper_->runAlongside(drawBands, drawBands);
}

void StretchCopy(const WorkBitmap& src, const Rect& srcRect, const FrameView& dst) {
    thread_local Stretcher stretcher;
    stretcher.copy(src, srcRect, dst);
}

} // namespace tarnwick
