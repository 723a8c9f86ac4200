#include "imaging/transforms.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

// The pixel loops come in an AVX2 and a baseline version, picked when the program is loaded. Not
// under ThreadSanitizer: its runtime is not up yet when the loader runs the choosing function.
#if defined(__SANITIZE_THREAD__)
#define TARNWICK_VECTOR_CLONES
#else
#define TARNWICK_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#endif

namespace tarnwick {

namespace {

constexpr float kHalfPiF = std::numbers::pi_v<float> / 2; // 1.5707964

inline void copyPixel(uint8_t* to, const uint8_t* from) {
    std::memcpy(to, from, 3);
}

// --- rotation -------------------------------------------------------------------------------

struct Range {
    int64_t begin;
    int64_t end;
};

Range clampRange(int64_t begin, int64_t end, int64_t limit) {
    return {std::max<int64_t>(begin, 0), std::min(end, limit)};
}

// The lookups of a quarter-turn multiple fall on whole pixels (the sine or cosine that should be
// 0 is about 1e-16, far too small to move a rounding or a channel), so the result is a
// rearrangement: destination (x, y) takes source (ix, iy) with
//     0: (x - xoff, y - yoff)                      180: (2cx - 1 - xoff - x, 2cy - 1 - yoff - y)
//    90: (cx - cy - xoff + y, cx + cy - 1 - yoff - x)
//   270: (cx + cy - 1 - xoff - y, cy - cx - yoff + x)
// where the source lies; other destination pixels are left alone.
void rotateQuarterTurns(const WorkBitmap& src, WorkBitmap& dst, int64_t cx, int64_t cy, int quarter,
                        int64_t xoff, int64_t yoff) {
    const int64_t sw = src.width(), sh = src.height(), dw = dst.width(), dh = dst.height();
    const uint8_t* s = src.data();
    const std::ptrdiff_t ss = src.stride();
    uint8_t* d = dst.data();
    const std::ptrdiff_t ds = dst.stride();

    if (quarter == 0 || quarter == 2) {
        const bool turned = quarter == 2;
        const int64_t kx = turned ? 2 * cx - 1 - xoff : -xoff;
        const int64_t ky = turned ? 2 * cy - 1 - yoff : -yoff;
        const Range xs =
            turned ? clampRange(kx - sw + 1, kx + 1, dw) : clampRange(-kx, sw - kx, dw);
        const Range ys =
            turned ? clampRange(ky - sh + 1, ky + 1, dh) : clampRange(-ky, sh - ky, dh);
        if (xs.begin >= xs.end) return;
        for (int64_t y = ys.begin; y < ys.end; ++y) {
            uint8_t* out = d + ds * y;
            if (!turned) {
                std::memcpy(out + 3 * xs.begin, s + ss * (y + ky) + 3 * (xs.begin + kx),
                            static_cast<size_t>(xs.end - xs.begin) * 3);
                continue;
            }
            const uint8_t* in = s + ss * (ky - y);
            for (int64_t x = xs.begin; x < xs.end; ++x) copyPixel(out + 3 * x, in + 3 * (kx - x));
        }
        return;
    }

    // A quarter or three quarters: rows become columns. Tiles keep the source rows in cache.
    const bool clockwise = quarter == 1;
    const int64_t kx = clockwise ? cx - cy - xoff : cx + cy - 1 - xoff;
    const int64_t ky = clockwise ? cx + cy - 1 - yoff : cy - cx - yoff;
    const Range ys = clockwise ? clampRange(-kx, sw - kx, dh) : clampRange(kx - sw + 1, kx + 1, dh);
    const Range xs = clockwise ? clampRange(ky - sh + 1, ky + 1, dw) : clampRange(-ky, sh - ky, dw);
    if (xs.begin >= xs.end || ys.begin >= ys.end) return;
    constexpr int64_t kTile = 32;
    for (int64_t y0 = ys.begin; y0 < ys.end; y0 += kTile) {
        const int64_t y1 = std::min(y0 + kTile, ys.end);
        for (int64_t x0 = xs.begin; x0 < xs.end; x0 += kTile) {
            const int64_t x1 = std::min(x0 + kTile, xs.end);
            for (int64_t y = y0; y < y1; ++y) {
                uint8_t* out = d + ds * y;
                const uint8_t* column = s + 3 * (clockwise ? y + kx : kx - y);
                if (clockwise)
                    for (int64_t x = x0; x < x1; ++x)
                        copyPixel(out + 3 * x, column + ss * (ky - x));
                else
                    for (int64_t x = x0; x < x1; ++x)
                        copyPixel(out + 3 * x, column + ss * (x + ky));
            }
        }
    }
}

void rotateInterpolated(const WorkBitmap& src, WorkBitmap& dst, int32_t cx, int32_t cy,
                        double angle, int32_t xoff, int32_t yoff) {
    const double theta = -angle * std::numbers::pi / 180.0;
    const double cosA = std::cos(theta);
    const double sinA = std::sin(theta);
    const int32_t sw = src.width(), sh = src.height();
    for (int32_t y = 0; y < dst.height(); ++y) {
        const double yy = 2.0 * (int64_t{y} - cy) + 1;
        uint8_t* out = dst.data() + dst.stride() * y;
        for (int32_t x = 0; x < dst.width(); ++x) {
            const double xx = 2.0 * (int64_t{x} - cx) + 1;
            const double sx = (xx * cosA - yy * sinA - 1) / 2 + cx - xoff;
            const double sy = (xx * sinA + yy * cosA - 1) / 2 + cy - yoff;
            // Compared as reals first, so that no lookup far outside converts out of range.
            const double rx = std::nearbyint(sx);
            const double ry = std::nearbyint(sy);
            if (!(rx >= 0 && rx < sw && ry >= 0 && ry < sh)) continue;
            const int32_t ix = static_cast<int32_t>(rx);
            const int32_t iy = static_cast<int32_t>(ry);
            const double fx = sx - ix;
            const double fy = sy - iy;
            const int32_t x1 = ClampInt(ix + 1, 0, sw - 1);
            const int32_t y1 = ClampInt(iy + 1, 0, sh - 1);
            const uint8_t* row0 = src.data() + src.stride() * iy;
            const uint8_t* row1 = src.data() + src.stride() * y1;
            const uint8_t* p00 = row0 + 3 * ix;
            const uint8_t* p01 = row0 + 3 * x1;
            const uint8_t* p10 = row1 + 3 * ix;
            const uint8_t* p11 = row1 + 3 * x1;
            for (int c = 2; c >= 0; --c) { // red, green, blue
                const double top = fx * (p01[c] - p00[c]) + p00[c];
                const double bottom = fx * (p11[c] - p10[c]) + p10[c];
                out[3 * x + c] =
                    ClampByte(static_cast<int32_t>(std::nearbyint((bottom - top) * fy + top)));
            }
        }
    }
}

// --- arc tangent ----------------------------------------------------------------------------

constexpr long double kPiL = std::numbers::pi_v<long double>;

// The arc tangent of a single-precision value: the double-precision result rounded to single
// precision, like the extended-precision machine operation rounded to the 32-bit result it is
// stored in.
inline float atanRounded(float v) {
    return static_cast<float>(std::atan(static_cast<double>(v)));
}

// --- blur -----------------------------------------------------------------------------------

// One row of the blur whose two sample rows are other rows: up-left + down-left + up-right +
// down-right, byte by byte, over the columns whose samples are both d away.
TARNWICK_VECTOR_CLONES void blurMiddle(uint8_t* __restrict out, const uint8_t* __restrict upLeft,
                                       const uint8_t* __restrict downLeft,
                                       const uint8_t* __restrict upRight,
                                       const uint8_t* __restrict downRight, size_t count) {
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>(
            (unsigned{upLeft[i]} + downLeft[i] + upRight[i] + downRight[i]) >> 2);
}

inline void blurPixel(uint8_t* out, const uint8_t* up, const uint8_t* down, int32_t left,
                      int32_t right) {
    const uint8_t* a = up + 3 * left;
    const uint8_t* b = down + 3 * left;
    const uint8_t* c = up + 3 * right;
    const uint8_t* e = down + 3 * right;
    // All four samples are read before the pixel is written: it may be one of them.
    const uint8_t v0 = static_cast<uint8_t>((a[0] + b[0] + c[0] + e[0]) / 4);
    const uint8_t v1 = static_cast<uint8_t>((a[1] + b[1] + c[1] + e[1]) / 4);
    const uint8_t v2 = static_cast<uint8_t>((a[2] + b[2] + c[2] + e[2]) / 4);
    out[0] = v0;
    out[1] = v1;
    out[2] = v2;
}

} // namespace

uint8_t ClampByte(int32_t v) {
    return v > 255 ? 255 : v < 0 ? 0 : static_cast<uint8_t>(v);
}

int32_t ClampInt(int32_t v, int32_t lo, int32_t hi) {
    if (v > hi) return hi;
    if (v < lo) return lo;
    return v;
}

float PointAngle(float xt, float yt) {
    if (xt == 0) return yt > 0 ? kHalfPiF : -kHalfPiF;
    float a = atanRounded(yt / xt);
    // pi to extended precision; the sum is rounded once, to the 32-bit result.
    if (xt < 0) a = static_cast<float>(static_cast<long double>(a) + kPiL);
    return a;
}

void RotateBitmap(const WorkBitmap& src, WorkBitmap& dst, int32_t cx, int32_t cy, double angle) {
    if (!std::isfinite(angle) || src.empty() || dst.empty()) return;
    const int32_t xoff = (dst.width() - src.width()) / 2;
    const int32_t yoff = (dst.height() - src.height()) / 2;
    const int quarter = angle == 0 ? 0 : angle == 90 ? 1 : angle == 180 ? 2 : angle == 270 ? 3 : -1;
    if (quarter >= 0)
        rotateQuarterTurns(src, dst, cx, cy, quarter, xoff, yoff);
    else
        rotateInterpolated(src, dst, cx, cy, angle, xoff, yoff);
}

void BlurBitmap(WorkBitmap& bitmap, int32_t d) {
    const int32_t w = bitmap.width(), h = bitmap.height();
    if (d <= 0 || d >= w || d >= h) return;
    uint8_t* base = bitmap.data();
    const std::ptrdiff_t stride = bitmap.stride();
    for (int32_t y = 0; y < h; ++y) {
        const int32_t upY = y - d >= 0 ? y - d : y;
        const int32_t downY = y + d <= h - 1 ? y + d : h - y;
        uint8_t* row = base + stride * y;
        const uint8_t* up = base + stride * upY;
        const uint8_t* down = base + stride * downY;
        auto edgePixel = [&](int32_t x) {
            const int32_t left = x - d >= 0 ? x - d : x;
            const int32_t right = x + d <= w - 1 ? x + d : w - x;
            blurPixel(row + 3 * x, up, down, left, right);
        };
        if (upY == y || downY == y) {
            // A sample row is this row: pixel by pixel, in order, exactly as stated.
            for (int32_t x = 0; x < w; ++x) edgePixel(x);
            continue;
        }
        // Both sample rows are fixed while this row is written, so the order does not matter.
        const int32_t middleBegin = d;
        const int32_t middleEnd = std::max(d, w - d); // columns whose right sample is x + d
        for (int32_t x = 0; x < std::min(middleBegin, w); ++x) edgePixel(x);
        if (middleEnd > middleBegin)
            blurMiddle(row + 3 * middleBegin, up, down, up + 6 * d, down + 6 * d,
                       static_cast<size_t>(middleEnd - middleBegin) * 3);
        for (int32_t x = middleEnd; x < w; ++x) edgePixel(x);
    }
}

} // namespace tarnwick
