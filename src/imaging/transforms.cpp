#include "imaging/transforms.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <numbers>
#include <system_error>
#include <thread>
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
    // `count` pixels to `out` from `in`, in + step, in + 2 step, ... Four at a time: four word
    // loads (each reads a byte past its pixel, which the next pixel, the row padding or the
    // bitmap's spare bytes provide) and three word stores.
    auto copyRun = [](uint8_t* out, const uint8_t* in, std::ptrdiff_t step, int64_t count) {
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
    };

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
    static const bool strips = __builtin_cpu_supports("ssse3");
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

// --- warp ---------------------------------------------------------------------------------

constexpr long double kPiL = std::numbers::pi_v<long double>;

// The arc tangent, sine and cosine of a single-precision value, each the double-precision result
// rounded to single precision: the float nearest to the exact value (but where the double result
// lies on a rounding boundary), like the extended-precision machine operations rounded to the
// 32-bit results they are stored in.
inline float atanRounded(float v) {
    return static_cast<float>(std::atan(static_cast<double>(v)));
}
inline float cosRounded(float v) {
    return static_cast<float>(std::cos(static_cast<double>(v)));
}
inline float sinRounded(float v) {
    return static_cast<float>(std::sin(static_cast<double>(v)));
}

struct WarpJob {
    const uint8_t* src;
    std::ptrdiff_t srcStride;
    uint8_t* dst;
    std::ptrdiff_t dstStride;
    int32_t w, h;    // the source's size
    int32_t columns; // destination columns written
    float amount;
    float mid_x, mid_y; // (W - 1) / 2, (H - 1) / 2
};

using Floats4 = float __attribute__((vector_size(16)));
using Ints4 = int32_t __attribute__((vector_size(16)));
using Doubles4 = double __attribute__((vector_size(32)));
using Longs4 = int64_t __attribute__((vector_size(32)));

// Blue, green, red (and the next byte, unused) of the pixel at p as floats. The bitmap's row
// padding or spare tail bytes make the fourth byte readable.
inline Floats4 loadPixel(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(v), zero);
    return Floats4(_mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero)));
#else
    const Ints4 bytes = {static_cast<int32_t>(v & 0xFF), static_cast<int32_t>(v >> 8 & 0xFF),
                         static_cast<int32_t>(v >> 16 & 0xFF), 0};
    return __builtin_convertvector(bytes, Floats4);
#endif
}

// Round to nearest, ties to even, for 0 <= v < 2^22: adding 1.5 * 2^23 leaves no fraction bits,
// so the FPU's own rounding (nearest-even) does it. Much cheaper than a call to nearbyintf.
inline Ints4 roundNonNegative(Floats4 v) {
    const Floats4 magic = {12582912.0f, 12582912.0f, 12582912.0f, 12582912.0f};
    return __builtin_convertvector((v + magic) - magic, Ints4);
}

inline int32_t wrap(int32_t i, int32_t n) {
    if (i < 0) return n - 1 - (-i) % n;
    if (i > n - 1) return i % n;
    return i;
}

inline Floats4 splat(float v) {
    return Floats4{v, v, v, v};
}

inline Floats4 sqrt4(Floats4 v) {
#ifdef __SSE2__
    return Floats4(_mm_sqrt_ps(__m128(v)));
#else
    return Floats4{std::sqrt(v[0]), std::sqrt(v[1]), std::sqrt(v[2]), std::sqrt(v[3])};
#endif
}

// The helpers below take and give 32-byte vectors by reference only: passed by value they would
// change the calling convention in the clone built without AVX, which clang refuses.
[[gnu::always_inline]] inline void splatD(double v, Doubles4& out) {
    out = Doubles4{v, v, v, v};
}

[[gnu::always_inline]] inline void absolute(const Doubles4& v, Doubles4& out) {
    out = v < 0 ? -v : v;
}

// Rounds double-precision results known to within a relative 2^-40 of the exact values to single
// precision. Where a rounding boundary lies inside that margin, `sure` is false for the lane and
// the caller computes it another way; elsewhere the exact value rounds to the same float.
[[gnu::always_inline]] inline Floats4 roundSurely(const Doubles4& v, Ints4& sure) {
    Doubles4 margin;
    absolute(v, margin);
    margin *= 0x1p-40;
    const Floats4 low = __builtin_convertvector(v - margin, Floats4);
    const Floats4 high = __builtin_convertvector(v + margin, Floats4);
    sure &= low == high;
    return low; // where it matters, the one result
}

// A polynomial with constant coefficients, highest first, evaluated as four interleaved chains
// in x^4: a quarter of Horner's chain of dependent steps, which bounds the row loop's speed.
template <size_t N>
[[gnu::always_inline]] inline void polynomial(const Doubles4& x, const double (&c)[N],
                                              Doubles4& out) {
    const Doubles4 x2 = x * x, x4 = x2 * x2;
    Doubles4 part[4] = {};
    constexpr size_t kChains = N < 4 ? N : 4;
#pragma GCC unroll 4
    for (size_t m = 0; m < kChains; ++m) {
        const size_t top = (N - 1) - ((N - 1 - m) % 4); // the highest power that is m modulo 4
        splatD(c[N - 1 - top], part[m]);
#pragma GCC unroll 8
        for (size_t step = 4; step <= top - m; step += 4)
            part[m] = part[m] * x4 + c[N - 1 - (top - step)];
    }
    out = (part[0] + x * part[1]) + x2 * (part[2] + x * part[3]);
}

// The arc tangent within a relative 1e-13: reduced to |t| <= tan(pi/8) through -1/x or
// (x - 1)/(x + 1) (one division either way), then the series up to t^29 (the first term left
// out is below 5e-14).
[[gnu::always_inline]] inline void atan4(const Doubles4& x, Doubles4& out) {
    // (-1)^k / (2k + 1) for k = 14 down to 1.
    constexpr double kSeries[] = {1.0 / 29,  -1.0 / 27, 1.0 / 25,  -1.0 / 23, 1.0 / 21,
                                  -1.0 / 19, 1.0 / 17,  -1.0 / 15, 1.0 / 13,  -1.0 / 11,
                                  1.0 / 9,   -1.0 / 7,  1.0 / 5,   -1.0 / 3};
    Doubles4 ax, one, series;
    absolute(x, ax);
    const Longs4 big = ax > 2.414213562373095;    // tan(3pi/8)
    const Longs4 upper = ax > 0.4142135623730951; // tan(pi/8)
    splatD(1.0, one);
    const Doubles4 numerator = big ? -one : upper ? ax - 1.0 : ax;
    const Doubles4 denominator = big ? ax : upper ? ax + 1.0 : one;
    const Doubles4 t = numerator / denominator;
    const Doubles4 u = t * t;
    polynomial(u, kSeries, series);
    const Doubles4 a = t + t * (u * series);
    Doubles4 halfPi, quarterPi;
    splatD(std::numbers::pi / 2, halfPi);
    splatD(std::numbers::pi / 4, quarterPi);
    const Doubles4 base = big ? halfPi : upper ? quarterPi : Doubles4{};
    const Doubles4 result = base + a;
    out = x < 0 ? -result : result;
}

// Sine and cosine within a relative 1e-15 for |v| up to 2^20: v less the nearest multiple k of
// pi/2, taken off in three parts of which the first two multiply by k exactly, then the series.
[[gnu::always_inline]] inline void sinCos4(const Doubles4& v, Doubles4& sine, Doubles4& cosine) {
    Doubles4 magic, sinSeries, cosSeries;
    splatD(0x1.8p52, magic);
    const Doubles4 k = (v * 0x1.45f306dc9c883p-1 + magic) - magic;
    const Doubles4 y =
        ((v - k * 0x1.921fb544p+0) - k * 0x1.0b4611a6p-34) - k * 0x1.3198a2e037073p-69;
    const Doubles4 z = y * y;
    // sin y = y - y z (1/3! - z/5! + ...), cos y = 1 + z (-1/2! + z/4! - ...).
    constexpr double kSin[] = {
        1.0 / 1307674368000, -1.0 / 6227020800, 1.0 / 39916800, -1.0 / 362880,
        1.0 / 5040,          -1.0 / 120,        1.0 / 6};
    constexpr double kCos[] = {
        1.0 / 20922789888000, -1.0 / 87178291200, 1.0 / 479001600, -1.0 / 3628800,
        1.0 / 40320,          -1.0 / 720,         1.0 / 24,        -1.0 / 2};
    polynomial(z, kSin, sinSeries);
    polynomial(z, kCos, cosSeries);
    const Doubles4 s = y - y * z * sinSeries;
    const Doubles4 c = 1.0 + z * cosSeries;
    const Longs4 quadrant = __builtin_convertvector(k, Longs4) & 3;
    const Longs4 odd = (quadrant & 1) != 0;
    const Doubles4 so = odd ? c : s;
    const Doubles4 co = odd ? s : c;
    sine = (quadrant & 2) != 0 ? -so : so;
    cosine = ((quadrant + 1) & 2) != 0 ? -co : co;
}

[[gnu::always_inline]] inline void widen(Floats4 v, Doubles4& out) {
    out = __builtin_convertvector(v, Doubles4);
}

// The source pixel's bytes interpolated from the four around (ifx, ify), wrapped at the edges.
inline void samplePixel(const WarpJob& j, int32_t ifx, int32_t ify, float wx0, float wx1, float wy0,
                        float wy1, uint8_t* out) {
    ifx = wrap(ifx, j.w);
    ify = wrap(ify, j.h);
    // The second column and row wrap to the first (W - ifx - 1 = 0 at the last one).
    const int32_t col1 = ifx + 1 < j.w ? ifx + 1 : j.w - ifx - 1;
    const int32_t row1 = ify + 1 < j.h ? ify + 1 : j.h - ify - 1;
    const uint8_t* row0p = j.src + j.srcStride * ify;
    const uint8_t* row1p = j.src + j.srcStride * row1;
    // The three channels side by side in one vector, each lane doing exactly the scalar
    // operations, summed in the stated order: column ifx (rows ify, ify + 1), then ifx + 1.
    Floats4 sum = loadPixel(row0p + 3 * ifx) * (wx0 * wy0);
    sum += loadPixel(row1p + 3 * ifx) * (wx0 * wy1);
    sum += loadPixel(row0p + 3 * col1) * (wx1 * wy0);
    sum += loadPixel(row1p + 3 * col1) * (wx1 * wy1);
    const Ints4 rounded = roundNonNegative(sum);
    out[0] = static_cast<uint8_t>(rounded[0]);
    out[1] = static_cast<uint8_t>(rounded[1]);
    out[2] = static_cast<uint8_t>(rounded[2]);
}

// The weights of the two neighbours; truncation towards zero turns them round below 0.
inline void weigh(float f, int32_t i, float& w0, float& w1) {
    if (f >= 0) {
        w1 = f - static_cast<float>(i);
        w0 = 1 - w1;
    } else {
        w0 = static_cast<float>(i) - f;
        w1 = 1 - w0;
    }
}

// The stated lookup of one pixel, one operation at a time.
void statedPosition(const WarpJob& j, float dx, float dy, float& fx, float& fy) {
    constexpr float kOffset = -kHalfPiF;
    const float r = std::sqrt(dx * dx + dy * dy);
    fx = 0;
    fy = 0;
    if (r != 0) {
        const float theta = PointAngle(dx, dy) - r / j.amount - kOffset;
        fx = r * cosRounded(theta);
        fy = r * sinRounded(theta);
    }
    fx = fx + j.mid_x;
    fy = fy + j.mid_y;
}

// Four destination pixels at a time, each lane doing the stated single-precision operations in
// the stated order, so the lookups are those of the one-pixel steps bit for bit. The arc tangent,
// sine and cosine are computed in double precision and rounded to single precision like the
// one-pixel functions above; a lane whose result might round the other way (a few in a million)
// takes the one-pixel steps.
TARNWICK_VECTOR_CLONES void warpRows(const WarpJob& j, int32_t rowBegin, int32_t rowEnd) {
    const Floats4 lanes = {0, 1, 2, 3};
    const Floats4 midX = splat(j.mid_x), midY = splat(j.mid_y), one = splat(1.0f);
    const Floats4 zero = splat(0.0f);
    const Floats4 halfPi = splat(kHalfPiF);
    for (int32_t ty = rowBegin; ty < rowEnd; ++ty) {
        uint8_t* out = j.dst + j.dstStride * ty;
        const float dyScalar = static_cast<float>(ty) - j.mid_y;
        const Floats4 dy = splat(dyScalar);
        for (int32_t tx0 = 0; tx0 < j.columns; tx0 += 4) {
            const Floats4 dx = (splat(static_cast<float>(tx0)) + lanes) - midX;
            const Floats4 r = sqrt4(dx * dx + dy * dy);
            Ints4 sure = {-1, -1, -1, -1};
            // PointAngle: the arc tangent of dy / dx, plus pi (added in more than single
            // precision, then rounded) where dx < 0; +-pi/2 where dx = 0.
            const Ints4 vertical = dx == zero;
            const Floats4 quotient = vertical ? zero : dy / dx;
            Doubles4 wide, arcWide;
            widen(quotient, wide);
            atan4(wide, arcWide);
            const Floats4 arc = roundSurely(arcWide, sure);
            widen(arc, wide);
            const Doubles4 turned = wide + std::numbers::pi;
            // pi's own rounding to double adds 1.3e-16, far inside the margin.
            const Floats4 around = roundSurely(turned, sure);
            Floats4 angle = dx < zero ? around : arc;
            angle = vertical ? (dy > zero ? halfPi : -halfPi) : angle;
            const Floats4 theta = (angle - r / j.amount) - (-halfPi);
            Doubles4 s, c;
            widen(theta, wide);
            sinCos4(wide, s, c);
            const Floats4 cosine = roundSurely(c, sure);
            const Floats4 sine = roundSurely(s, sure);
            sure &= (theta < 1.0e6f) & (theta > -1.0e6f);
            const Ints4 centre = r == zero;
            const Floats4 fx = (centre ? zero : r * cosine) + midX;
            const Floats4 fy = (centre ? zero : r * sine) + midY;
            const Ints4 ifx = __builtin_convertvector(fx, Ints4); // truncation
            const Ints4 ify = __builtin_convertvector(fy, Ints4);
            const Floats4 fxi = __builtin_convertvector(ifx, Floats4);
            const Floats4 fyi = __builtin_convertvector(ify, Floats4);
            const Ints4 xPositive = fx >= zero, yPositive = fy >= zero;
            const Floats4 wx1 = xPositive ? fx - fxi : one - (fxi - fx);
            const Floats4 wx0 = xPositive ? one - (fx - fxi) : fxi - fx;
            const Floats4 wy1 = yPositive ? fy - fyi : one - (fyi - fy);
            const Floats4 wy0 = yPositive ? one - (fy - fyi) : fyi - fy;
            const int32_t count = std::min(4, j.columns - tx0);
            for (int32_t k = 0; k < count; ++k) {
                uint8_t* pixel = out + 3 * (tx0 + k);
                if (!sure[k] && !centre[k]) {
                    float sx, sy;
                    statedPosition(j, dx[k], dyScalar, sx, sy);
                    const int32_t ix = static_cast<int32_t>(sx), iy = static_cast<int32_t>(sy);
                    float a0, a1, b0, b1;
                    weigh(sx, ix, a0, a1);
                    weigh(sy, iy, b0, b1);
                    samplePixel(j, ix, iy, a0, a1, b0, b1, pixel);
                } else {
                    samplePixel(j, ifx[k], ify[k], wx0[k], wx1[k], wy0[k], wy1[k], pixel);
                }
            }
        }
    }
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

    const WarpJob job{src.data(), src.stride(),
                      dst.data(), dst.stride(),
                      w,          h,
                      columns,    static_cast<float>(amount),
                      w1 / 2,     h1 / 2};
    if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    // Below a few thousand pixels a thread costs more than it saves.
    threads = std::clamp(threads, 1, std::max(1, rows * columns / 4096));
    threads = std::min(threads, rows);
    // The rows are handed out in small batches, so a thread that gets less of the machine (it
    // is shared) takes fewer of them instead of holding the others up at the end.
    constexpr int32_t kBatch = 8;
    std::atomic<int32_t> nextRow{0};
    auto work = [&job, &nextRow, rows] {
        for (int32_t from; (from = nextRow.fetch_add(kBatch, std::memory_order_relaxed)) < rows;)
            warpRows(job, from, std::min(from + kBatch, rows));
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
