#include "imaging/transforms.h"

#include "imaging/cpu_features.h"
#include "imaging/warp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

// The pixel loops come in an AVX2 and a baseline version, picked when the program is loaded. Not
// under ThreadSanitizer: its runtime is not up yet when the loader runs the choosing function.
#if defined(__SANITIZE_THREAD__)
#define TARNWICK_VECTOR_CLONES
#else
#define TARNWICK_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#endif

namespace tarnwick {

namespace {

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

#ifdef __SSE2__
// Four pixels (12 bytes of a 16-byte load) to a word each, and back to 12 bytes.
__attribute__((target("ssse3"))) inline __m128i widenPixels(const uint8_t* p) {
    const __m128i widen = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), widen);
}

__attribute__((target("ssse3"))) inline void storePixels(uint8_t* p, __m128i words) {
    const __m128i narrow = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m128i bytes = _mm_shuffle_epi8(words, narrow);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), bytes);
    const uint32_t last = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(bytes, 8)));
    std::memcpy(p + 8, &last, 4);
}

// Four destination rows of a quarter turn, `count` columns, in blocks of four by four pixels:
// four source rows of four pixels are widened to a word per pixel, transposed and packed back
// into four destination rows. The loads read 4 bytes past the fourth pixel, which the row
// padding, the next row or the bitmap's spare bytes provide. `in` is the leftmost of the four
// source columns in the source row of the first destination column; `step` leads from one
// destination column's source row to the next. Clockwise, destination row i takes source column
// i; otherwise column 3 - i.
__attribute__((target("ssse3"))) void quarterTurnStrip(const uint8_t* in, std::ptrdiff_t step,
                                                       uint8_t* out, std::ptrdiff_t ds,
                                                       int64_t count, bool clockwise) {
    int64_t x = 0;
    for (; x + 4 <= count; x += 4, in += 4 * step, out += 12) {
        const __m128i a0 = widenPixels(in), a1 = widenPixels(in + step);
        const __m128i a2 = widenPixels(in + 2 * step), a3 = widenPixels(in + 3 * step);
        const __m128i t0 = _mm_unpacklo_epi32(a0, a1), t1 = _mm_unpackhi_epi32(a0, a1);
        const __m128i t2 = _mm_unpacklo_epi32(a2, a3), t3 = _mm_unpackhi_epi32(a2, a3);
        // Source column c of the four source rows.
        const __m128i c0 = _mm_unpacklo_epi64(t0, t2), c1 = _mm_unpackhi_epi64(t0, t2);
        const __m128i c2 = _mm_unpacklo_epi64(t1, t3), c3 = _mm_unpackhi_epi64(t1, t3);
        storePixels(out, clockwise ? c0 : c3);
        storePixels(out + ds, clockwise ? c1 : c2);
        storePixels(out + 2 * ds, clockwise ? c2 : c1);
        storePixels(out + 3 * ds, clockwise ? c3 : c0);
    }
    for (; x < count; ++x, in += step, out += 3)
        for (int i = 0; i < 4; ++i) copyPixel(out + ds * i, in + 3 * (clockwise ? i : 3 - i));
}
#endif

// `count` pixels to `out` from `in`, in + step, in + 2 step, ... Four at a time: four word loads
// (each reads a byte past its pixel, which the next pixel, the row padding or the bitmap's spare
// bytes provide) and three word stores.
void copyRun(uint8_t* out, const uint8_t* in, std::ptrdiff_t step, int64_t count) {
    int64_t x = 0;
    for (; x + 4 <= count; x += 4, out += 12, in += 4 * step) {
        uint32_t p0, p1, p2, p3;
        std::memcpy(&p0, in, 4);
        std::memcpy(&p1, in + step, 4);
        std::memcpy(&p2, in + 2 * step, 4);
        std::memcpy(&p3, in + 3 * step, 4);
        const uint32_t w0 = (p0 & 0xFFFFFF) | p1 << 24;
        const uint32_t w1 = (p1 >> 8 & 0xFFFF) | p2 << 16;
        const uint32_t w2 = (p2 >> 16 & 0xFF) | p3 << 8;
        std::memcpy(out, &w0, 4);
        std::memcpy(out + 4, &w1, 4);
        std::memcpy(out + 8, &w2, 4);
    }
    for (; x < count; ++x, out += 3, in += step) copyPixel(out, in);
}

// The lookups of a quarter-turn multiple fall on whole pixels (the sine or cosine that should be
// 0 is about 1e-16, far too small to move a rounding or a channel), so the result is a
// rearrangement: destination (x, y) takes source (ix, iy) with
//     0: (x - xoff, y - yoff)                      180: (2cx - 1 - xoff - x, 2cy - 1 - yoff - y)
//    90: (cx - cy - xoff + y, cx + cy - 1 - yoff - x)
//   270: (cx + cy - 1 - xoff - y, cy - cx - yoff + x)
// where the source lies; other destination pixels are left alone.
// Pixels as the quarter turns see them: a destination may run bottom-up (a negative stride), which
// mirrors the result top to bottom at no cost.
struct Plane {
    uint8_t* data;
    std::ptrdiff_t stride;
    int64_t width, height;
};

Plane planeOf(const WorkBitmap& b) {
    return {const_cast<uint8_t*>(b.data()), b.stride(), b.width(), b.height()};
}

Plane bottomUp(WorkBitmap& b) {
    return {b.data() + b.stride() * (b.height() - 1), -b.stride(), b.width(), b.height()};
}

void rotateQuarterTurns(const Plane& src, const Plane& dst, int64_t cx, int64_t cy, int quarter,
                        int64_t xoff, int64_t yoff) {
    const int64_t sw = src.width, sh = src.height, dw = dst.width, dh = dst.height;
    const uint8_t* s = src.data;
    const std::ptrdiff_t ss = src.stride;
    uint8_t* d = dst.data;
    const std::ptrdiff_t ds = dst.stride;

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
            copyRun(out + 3 * xs.begin, s + ss * (ky - y) + 3 * (kx - xs.begin), -3,
                    xs.end - xs.begin);
        }
        return;
    }

    // A quarter or three quarters: rows become columns, in tiles of 16 destination rows (16
    // source columns, one or two cache lines of each source row) by 256 destination columns (256
    // source rows), whose source lines stay in the first-level cache (8-32 by 128-512 measured
    // alike at 1080p; 32 by 32 took twice as long).
    constexpr int64_t kTileRows = 16, kTileColumns = 256;
    const bool clockwise = quarter == 1;
    const int64_t kx = clockwise ? cx - cy - xoff : cx + cy - 1 - xoff;
    const int64_t ky = clockwise ? cx + cy - 1 - yoff : cy - cx - yoff;
    const Range ys = clockwise ? clampRange(-kx, sw - kx, dh) : clampRange(kx - sw + 1, kx + 1, dh);
    const Range xs = clockwise ? clampRange(ky - sh + 1, ky + 1, dw) : clampRange(-ky, sh - ky, dw);
    if (xs.begin >= xs.end || ys.begin >= ys.end) return;
    // Along a destination row the source steps a whole row, up or down.
    const std::ptrdiff_t step = clockwise ? -ss : ss;
    auto source = [&](int64_t x, int64_t y) {
        return s + 3 * (clockwise ? y + kx : kx - y) + ss * (clockwise ? ky - x : x + ky);
    };
#ifdef __SSE2__
    const bool strips = cpuFeatures().ssse3;
#endif
    for (int64_t y0 = ys.begin; y0 < ys.end; y0 += kTileRows) {
        const int64_t y1 = std::min(y0 + kTileRows, ys.end);
        for (int64_t x0 = xs.begin; x0 < xs.end; x0 += kTileColumns) {
            const int64_t x1 = std::min(x0 + kTileColumns, xs.end);
            int64_t y = y0;
#ifdef __SSE2__
            if (strips)
                for (; y + 4 <= y1; y += 4)
                    quarterTurnStrip(source(x0, clockwise ? y : y + 3), step, d + ds * y + 3 * x0,
                                     ds, x1 - x0, clockwise);
#endif
            for (; y < y1; ++y) copyRun(d + ds * y + 3 * x0, source(x0, y), step, x1 - x0);
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
    if (xt == 0) return yt > 0 ? warp::kHalfPiF : -warp::kHalfPiF;
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
        rotateQuarterTurns(planeOf(src), planeOf(dst), cx, cy, quarter, xoff, yoff);
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

void OrientBitmap(WorkBitmap& bitmap, int orientation) {
    const int64_t w = bitmap.width(), h = bitmap.height();
    if (orientation < 2 || orientation > 8 || bitmap.empty()) return;
    const std::ptrdiff_t stride = bitmap.stride();
    uint8_t* base = bitmap.data();
    if (orientation <= 4) {
        // Mirrors and the half turn keep the size: done in place, no second picture, row by row
        // through one spare row (with a byte to spare for the word loads).
        std::vector<uint8_t> spare(static_cast<size_t>(3 * w + 1));
        const bool reverse = orientation != 4, swap = orientation != 2;
        const int64_t last = 3 * (w - 1);
        for (int64_t y = 0; y < h; ++y) {
            const int64_t z = swap ? h - 1 - y : y;
            if (z < y) break;
            uint8_t* top = base + stride * y;
            uint8_t* other = base + stride * z;
            std::memcpy(spare.data(), top, static_cast<size_t>(3 * w));
            if (z != y) {
                if (reverse)
                    copyRun(top, other + last, -3, w);
                else
                    std::memcpy(top, other, static_cast<size_t>(3 * w));
            }
            if (reverse)
                copyRun(other, spare.data() + last, -3, w);
            else if (z != y)
                std::memcpy(other, spare.data(), static_cast<size_t>(3 * w));
        }
        return;
    }
    // Rows become columns: one quarter turn straight into the new picture; the transposing
    // values (5 and 7) write its rows bottom-up.
    WorkBitmap turned;
    turned.resizeForOverwrite(static_cast<int32_t>(h), static_cast<int32_t>(w));
    const bool clockwise = orientation == 6 || orientation == 7;
    const Plane out = orientation == 5 || orientation == 7 ? bottomUp(turned) : planeOf(turned);
    if (clockwise)
        rotateQuarterTurns(planeOf(bitmap), out, 0, 0, 1, 0, -h);
    else
        rotateQuarterTurns(planeOf(bitmap), out, 0, 0, 3, -w, 0);
    bitmap = std::move(turned);
}

} // namespace tarnwick
