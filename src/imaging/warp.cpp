#include "imaging/warp.h"

#include "imaging/transforms.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <system_error>
#include <thread>
#include <vector>

namespace tarnwick {

namespace warp {

namespace {

int32_t wrap(int32_t i, int32_t n) {
    if (i < 0) return n - 1 - (-i) % n;
    if (i > n - 1) return i % n;
    return i;
}

// The weights of the two neighbours; truncation towards zero turns them round below 0.
void weigh(float f, int32_t i, float& w0, float& w1) {
    if (f >= 0) {
        w1 = f - static_cast<float>(i);
        w0 = 1 - w1;
    } else {
        w0 = static_cast<float>(i) - f;
        w1 = 1 - w0;
    }
}

} // namespace

void warpPixel(const Job& j, int32_t tx, int32_t ty) {
    const float dx = static_cast<float>(tx) - j.midX;
    const float dy = static_cast<float>(ty) - j.midY;
    const float r = std::sqrt(dx * dx + dy * dy);
    float fx = 0, fy = 0;
    if (r != 0) {
        const float theta = PointAngle(dx, dy) - r / j.amount - (-kHalfPiF);
        // Double-precision results rounded once to the 32-bit values they are stored in.
        fx = r * static_cast<float>(std::cos(static_cast<double>(theta)));
        fy = r * static_cast<float>(std::sin(static_cast<double>(theta)));
    }
    fx = fx + j.midX;
    fy = fy + j.midY;
    int32_t ifx = static_cast<int32_t>(fx), ify = static_cast<int32_t>(fy);
    float wx[2], wy[2];
    weigh(fx, ifx, wx[0], wx[1]);
    weigh(fy, ify, wy[0], wy[1]);
    ifx = wrap(ifx, j.w);
    ify = wrap(ify, j.h);
    // The second column and row wrap to the first (W - ifx - 1 = 0 at the last one).
    const int32_t columns[2] = {ifx, ifx + 1 < j.w ? ifx + 1 : j.w - ifx - 1};
    const int32_t rows[2] = {ify, ify + 1 < j.h ? ify + 1 : j.h - ify - 1};
    float sums[3] = {0, 0, 0};
    for (int ix = 0; ix < 2; ++ix)
        for (int iy = 0; iy < 2; ++iy) {
            const uint8_t* p = j.src + j.srcStride * rows[iy] + 3 * columns[ix];
            const float weight = wx[ix] * wy[iy];
            for (int c = 0; c < 3; ++c) sums[c] += static_cast<float>(p[c]) * weight;
        }
    uint8_t* out = j.dst + j.dstStride * ty + 3 * tx;
    for (int c = 0; c < 3; ++c)
        out[c] = static_cast<uint8_t>(static_cast<int32_t>(std::nearbyint(sums[c])));
}

#if !TARNWICK_WARP_AVX2
bool mirroredRowsSupported(const Job&) {
    return false;
}

void warpMirroredRows(const Job&, int32_t, int32_t) {}
#endif

} // namespace warp

void WarpBitmap(const WorkBitmap& src, WorkBitmap& dst, int32_t amount, int threads) {
    if (amount == 0 || src.empty() || dst.empty()) return;
    const int32_t w = src.width(), h = src.height();
    const float w1 = static_cast<float>(w - 1);
    const float h1 = static_cast<float>(h - 1);
    const float diag = std::sqrt(w1 * w1 + h1 * h1);
    float txmax = diag, tymax = diag;
    if (!(static_cast<float>(w) > txmax)) txmax = w1;
    if (!(static_cast<float>(h) > tymax)) tymax = h1;
    // Round(diag) can reach W (a 10 x 5 picture: diag 9.85): the loops stop at the last column
    // and row, and at the destination's edges.
    const int32_t columns =
        std::min({static_cast<int32_t>(std::nearbyint(txmax)) + 1, w, dst.width()});
    const int32_t rows =
        std::min({static_cast<int32_t>(std::nearbyint(tymax)) + 1, h, dst.height()});

    const warp::Job job{
        src.data(), src.stride(), dst.data(), dst.stride(), w, h, static_cast<float>(amount),
        w1 / 2,     h1 / 2};
    const bool mirrored = columns == w && rows == h && warp::mirroredRowsSupported(job);
    const int32_t units = mirrored ? (h + 1) / 2 : rows; // rows handed out
    auto doRows = [&job, mirrored, columns](int32_t from, int32_t to) {
        if (mirrored) return warp::warpMirroredRows(job, from, to);
        for (int32_t ty = from; ty < to; ++ty)
            for (int32_t tx = 0; tx < columns; ++tx) warp::warpPixel(job, tx, ty);
    };

    if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    // Below a few thousand pixels a thread costs more than it saves.
    threads = std::clamp(threads, 1, std::max(1, rows * columns / 4096));
    threads = std::min(threads, units);
    // The rows are handed out in small batches, so a thread that gets less of the machine (it
    // is shared) takes fewer of them instead of holding the others up at the end. A mirrored
    // row brings its mirror row along.
    const int32_t kBatch = mirrored ? 8 : 4;
    std::atomic<int32_t> next{0};
    auto work = [&doRows, &next, units, kBatch] {
        for (int32_t from; (from = next.fetch_add(kBatch, std::memory_order_relaxed)) < units;)
            doRows(from, std::min(from + kBatch, units));
    };
    std::vector<std::jthread> helpers;
    helpers.reserve(static_cast<size_t>(threads - 1));
    try {
        for (int started = 1; started < threads; ++started) helpers.emplace_back(work);
    } catch (const std::system_error&) {
        // No more threads to be had: the ones running and this one share the rows.
    }
    work();
}

} // namespace tarnwick
