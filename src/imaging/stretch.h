#pragma once
// The one scaling rule: a nearest-neighbour stretch copy (COLORONCOLOR), never blended.
#include "imaging/band_worker.h"
#include "imaging/bitmap.h"
#include "platform/geometry.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tarnwick {

// Destination column x (of dstW) takes source column srcRect.left + floor((2x + 1) * srcW / (2 *
// dstW)), the source pixel under the destination pixel's centre; rows follow the same rule. Exact
// in 64-bit integers. Source pixels outside the bitmap, and the whole destination when the source
// rectangle is empty (or turned inside out), are black. Pixels are written as 0xFF000000 | rgb.
//
// A Stretcher keeps its column table between calls, so the frame path allocates nothing once
// the table has reached the window's width.
//
// Frames of at least `splitFrom` pixels are drawn on two cores: the calling thread and a helper
// thread (started with the first such frame and kept for the next) take bands of rows in turn
// until none are left. A wake-up costs tens of microseconds, a 1080p frame a few hundred: smaller
// frames stay on one core. The frame is the same either way; the helper writes only the rows of
// the bands it took and is done when copy() returns. Such frames do not fit the caches: their
// rows are made in a scratch row per thread and written with streaming stores, which skip reading
// each destination line in first (the X server reads the frame from memory anyway).
class Stretcher {
public:
    static constexpr int64_t kSplitFrom = int64_t{2560} * 1440;
    static constexpr int32_t kBandRows = 64;

    explicit Stretcher(int64_t splitFrom = kSplitFrom);
    ~Stretcher();
    Stretcher(const Stretcher&) = delete;
    Stretcher& operator=(const Stretcher&) = delete;

    void copy(const WorkBitmap& src, const Rect& srcRect, const FrameView& dst);
    // Whether a helper thread has been started.
    bool splitting() const { return helper_ != nullptr; }

private:
    struct Rows;
    // Rows begin..end-1, written in place.
    static void drawRows(const Rows& rows, int32_t begin, int32_t end);
    // The same made in `scratch` (dst.width pixels, this thread's own) and streamed out; the
    // stores are fenced before it returns, so that the thread may then hand the rows over.
    static void streamRows(const Rows& rows, int32_t begin, int32_t end, uint32_t* scratch);

    // Byte shuffles for the columns from `first` on, as far as they can be made (up to `end`, in
    // steps of eight); returns where they end. None without AVX2.
    int32_t makeShuffles(const WorkBitmap& src, int32_t first, int32_t end);

    int64_t splitFrom_;
    bool helperUnavailable_ = false;
    std::vector<int32_t> columnOffsets_; // byte offset in a source row, per destination column
    std::vector<uint8_t> shuffles_;      // 4 bytes per destination column
    std::vector<uint32_t> scratch_;      // a row for each of the two threads
    std::unique_ptr<BandWorker> helper_;
};

// The same through a per-thread Stretcher.
void StretchCopy(const WorkBitmap& src, const Rect& srcRect, const FrameView& dst);

// The source index under destination index `i` of `dstLength`, for a source run of `srcLength`
// starting at `srcStart`.
// Lengths are positive. A source rectangle wider than 2^31 (possible from 32-bit corners) takes
// 128-bit products so that nothing overflows.
inline int64_t stretchSourceIndex(int64_t i, int64_t srcStart, int64_t srcLength,
                                  int64_t dstLength) {
    if (srcLength <= INT32_MAX && dstLength <= INT32_MAX / 2)
        return srcStart + (2 * i + 1) * srcLength / (2 * dstLength);
    __extension__ using Wide = __int128;
    return srcStart + static_cast<int64_t>((Wide{2} * i + 1) * srcLength / (Wide{2} * dstLength));
}

} // namespace tarnwick
