// The warp's row loop for processors with AVX2 and FMA. Built with -mavx2 -mfma and without
// contraction: every single-precision step below is the stated operation, rounded on its own; only
// the double-precision arc tangent, sine and cosine use fused multiply-adds, which only makes them
// more accurate.
#include "imaging/cpu_features.h"
#include "imaging/warp.h"

#include "imaging/bitmap.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <numbers>

namespace tarnwick::warp {

namespace {

inline __m256d splat(double v) {
    return _mm256_set1_pd(v);
}

// Rounds double-precision results known to within a relative 2^-42 of the exact values to single
// precision. Where a rounding boundary lies within a relative 2^-40, `sure` is cleared for the lane
// and the caller takes the one-pixel steps; elsewhere the exact value rounds to the same float.
inline __m128 roundSurely(__m256d v, __m128& sure) {
    const __m256d magnitude = _mm256_andnot_pd(splat(-0.0), v);
    const __m256d margin = _mm256_mul_pd(magnitude, splat(0x1p-40));
    const __m128 low = _mm256_cvtpd_ps(_mm256_sub_pd(v, margin));
    const __m128 high = _mm256_cvtpd_ps(_mm256_add_pd(v, margin));
    sure = _mm_and_ps(sure, _mm_cmpeq_ps(low, high));
    return low; // where it matters, the one result
}

// A polynomial with fused steps; coefficients highest power first. Two Horner chains in x^2,
// one for each parity of the powers, halve the chain of dependent steps.
template <size_t N>
[[gnu::always_inline]] inline __m256d polynomial(__m256d x, const double (&c)[N]) {
    const __m256d x2 = _mm256_mul_pd(x, x);
    __m256d even = splat(c[0]), odd = splat(c[1]); // by the parity of the index into c
#pragma GCC unroll 16
    for (size_t i = 2; i < N; i += 2) even = _mm256_fmadd_pd(even, x2, splat(c[i]));
#pragma GCC unroll 16
    for (size_t i = 3; i < N; i += 2) odd = _mm256_fmadd_pd(odd, x2, splat(c[i]));
    // The last coefficient carries no power of x: its chain is added, the other takes one x.
    return N % 2 ? _mm256_fmadd_pd(x, odd, even) : _mm256_fmadd_pd(x, even, odd);
}

// The arc tangent of x >= 0 within a relative 1e-13: reduced to |t| <= tan(pi/8) through -1/x or
// (x - 1)/(x + 1), then the series up to t^29 (the first term left out is below 5e-14).
inline __m256d atanNonNegative(__m256d x) {
    // (-1)^k / (2k + 1) for k = 14 down to 1.
    constexpr double kSeries[] = {1.0 / 29,  -1.0 / 27, 1.0 / 25,  -1.0 / 23, 1.0 / 21,
                                  -1.0 / 19, 1.0 / 17,  -1.0 / 15, 1.0 / 13,  -1.0 / 11,
                                  1.0 / 9,   -1.0 / 7,  1.0 / 5,   -1.0 / 3};
    const __m256d one = splat(1.0);
    const __m256d big = _mm256_cmp_pd(x, splat(2.414213562373095), _CMP_GT_OQ);    // tan(3pi/8)
    const __m256d upper = _mm256_cmp_pd(x, splat(0.4142135623730951), _CMP_GT_OQ); // tan(pi/8)
    const __m256d numerator =
        _mm256_blendv_pd(_mm256_blendv_pd(x, _mm256_sub_pd(x, one), upper), splat(-1.0), big);
    const __m256d denominator =
        _mm256_blendv_pd(_mm256_blendv_pd(one, _mm256_add_pd(x, one), upper), x, big);
    const __m256d t = _mm256_div_pd(numerator, denominator);
    const __m256d u = _mm256_mul_pd(t, t);
    const __m256d a = _mm256_fmadd_pd(t, _mm256_mul_pd(u, polynomial(u, kSeries)), t);
    const __m256d base = _mm256_blendv_pd(_mm256_and_pd(upper, splat(std::numbers::pi / 4)),
                                          splat(std::numbers::pi / 2), big);
    return _mm256_add_pd(base, a);
}

// Sine and cosine within a relative 1e-15 for |v| < 2^20: v less the nearest multiple k of
// pi/2, taken off in three parts of which the first is exact in a product with k (k < 2^20), then
// the series.
inline void sinCos(__m256d v, __m256d& sine, __m256d& cosine) {
    // The angles stay far below: the distance from the centre is below 2^16 and every other term
    // of an angle below 2 pi.
    static_assert(kMaxBitmapDimension < (1 << 16));
    const __m256d magic = splat(0x1.8p52);
    const __m256d shifted = _mm256_fmadd_pd(v, splat(2 / std::numbers::pi), magic);
    const __m256d k = _mm256_sub_pd(shifted, magic);
    __m256d y = _mm256_fnmadd_pd(k, splat(0x1.921fb544p+0), v);
    y = _mm256_fnmadd_pd(k, splat(0x1.0b4611a6p-34), y);
    y = _mm256_fnmadd_pd(k, splat(0x1.3198a2e037073p-69), y);
    const __m256d z = _mm256_mul_pd(y, y);
    // sin y = y - y z (1/3! - z/5! + ...), cos y = 1 - z (1/2! - z/4! + ...).
    constexpr double kSin[] = {
        -1.0 / 1307674368000, 1.0 / 6227020800, -1.0 / 39916800, 1.0 / 362880,
        -1.0 / 5040,          1.0 / 120,        -1.0 / 6};
    constexpr double kCos[] = {
        1.0 / 20922789888000, -1.0 / 87178291200, 1.0 / 479001600, -1.0 / 3628800,
        1.0 / 40320,          -1.0 / 720,         1.0 / 24,        -1.0 / 2};
    const __m256d s = _mm256_fmadd_pd(_mm256_mul_pd(y, z), polynomial(z, kSin), y);
    const __m256d c = _mm256_fmadd_pd(z, polynomial(z, kCos), splat(1.0));
    // The low bits of `shifted` hold k: its quadrant swaps sine and cosine and sets their signs.
    const __m256i q = _mm256_castpd_si256(shifted);
    const __m256d odd = _mm256_castsi256_pd(
        _mm256_cmpeq_epi64(_mm256_and_si256(q, _mm256_set1_epi64x(1)), _mm256_set1_epi64x(1)));
    const __m256d sineSign =
        _mm256_castsi256_pd(_mm256_slli_epi64(_mm256_and_si256(q, _mm256_set1_epi64x(2)), 62));
    const __m256d cosineSign = _mm256_castsi256_pd(_mm256_slli_epi64(
        _mm256_and_si256(_mm256_add_epi64(q, _mm256_set1_epi64x(1)), _mm256_set1_epi64x(2)), 62));
    sine = _mm256_xor_pd(_mm256_blendv_pd(s, c, odd), sineSign);
    cosine = _mm256_xor_pd(_mm256_blendv_pd(c, s, odd), cosineSign);
}

// Cosine and sine of eight single-precision angles, each rounded surely (see roundSurely).
inline void sinCos8(__m256 theta, __m256& cosine, __m256& sine, __m256& sure) {
    __m256d s[2], c[2];
    sinCos(_mm256_cvtps_pd(_mm256_castps256_ps128(theta)), s[0], c[0]);
    sinCos(_mm256_cvtps_pd(_mm256_extractf128_ps(theta, 1)), s[1], c[1]);
    __m128 sureLow = _mm256_castps256_ps128(sure), sureHigh = _mm256_extractf128_ps(sure, 1);
    const __m128 cosLow = roundSurely(c[0], sureLow), cosHigh = roundSurely(c[1], sureHigh);
    const __m128 sinLow = roundSurely(s[0], sureLow), sinHigh = roundSurely(s[1], sureHigh);
    cosine = _mm256_set_m128(cosHigh, cosLow);
    sine = _mm256_set_m128(sinHigh, sinLow);
    sure = _mm256_set_m128(sureHigh, sureLow);
}

// i wrapped into 0 .. n - 1 as stated: n - 1 - (-i mod n) below 0, i mod n above n - 1.
inline __m256i wrap(__m256i i, int32_t n) {
    const __m256i size = _mm256_set1_epi32(n), last = _mm256_set1_epi32(n - 1);
    const __m256i negative = _mm256_cmpgt_epi32(_mm256_setzero_si256(), i);
    const __m256i beyond = _mm256_cmpgt_epi32(i, last);
    const __m256i step1 = _mm256_set1_epi32(1);
    // Within one size of the picture (nearly always), without a branch that the twist would
    // make unpredictable: -n < i < 0 gives n - 1 + i, n <= i < 2n gives i - n.
    const __m256i far = _mm256_or_si256(_mm256_cmpgt_epi32(_mm256_sub_epi32(step1, size), i),
                                        _mm256_cmpgt_epi32(i, _mm256_add_epi32(last, size)));
    if (_mm256_testz_si256(far, far))
        return _mm256_sub_epi32(_mm256_add_epi32(i, _mm256_and_si256(negative, last)),
                                _mm256_and_si256(beyond, size));
    // |i| mod n through a double-precision quotient, which is at most one below the true one.
    const __m256i a = _mm256_abs_epi32(i);
    const __m256d inverse = splat(1.0 / n);
    const __m128i qLow =
        _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(a)), inverse));
    const __m128i qHigh = _mm256_cvttpd_epi32(
        _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(a, 1)), inverse));
    __m256i m = _mm256_sub_epi32(a, _mm256_mullo_epi32(_mm256_set_m128i(qHigh, qLow), size));
    m = _mm256_sub_epi32(m, _mm256_and_si256(_mm256_cmpgt_epi32(m, last), size));
    return _mm256_blendv_epi8(m, _mm256_sub_epi32(last, m), negative);
}

// Byte c of each 32-bit lane as a float.
inline __m256 channel(__m256i words, int c) {
    const __m256i mask = _mm256_set1_epi32(0xFF);
    return _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(words, 8 * c), mask));
}

// Each pixel's three sums, rounded to nearest (ties to even) in byte 0 of its lane.
struct Channels {
    __m256i rounded[3];
};

// The interpolated channels from the four neighbours' byte offsets: column ifx (rows ify,
// ify + 1), then column ifx + 1, summed in that order.
inline Channels fourGathers(const Job& j, __m256i o00, __m256i o01, __m256i o10, __m256i o11,
                            __m256 w00, __m256 w01, __m256 w10, __m256 w11) {
    // Four bytes per pixel: the bitmap's row padding or spare tail bytes make the fourth readable.
    const auto* base = reinterpret_cast<const int*>(j.src);
    const __m256i p00 = _mm256_i32gather_epi32(base, o00, 1);
    const __m256i p01 = _mm256_i32gather_epi32(base, o01, 1);
    const __m256i p10 = _mm256_i32gather_epi32(base, o10, 1);
    const __m256i p11 = _mm256_i32gather_epi32(base, o11, 1);
    Channels out;
    for (int c = 0; c < 3; ++c) {
        __m256 sum = _mm256_mul_ps(channel(p00, c), w00);
        sum = _mm256_add_ps(sum, _mm256_mul_ps(channel(p01, c), w01));
        sum = _mm256_add_ps(sum, _mm256_mul_ps(channel(p10, c), w10));
        sum = _mm256_add_ps(sum, _mm256_mul_ps(channel(p11, c), w11));
        out.rounded[c] = _mm256_cvtps_epi32(sum);
    }
    return out;
}

// The same where every pixel's second column is the next one: one 8-byte load per row then
// holds both (the bitmap's padding or spare tail bytes cover what lies beyond), which costs less
// than gathering them one by one.
[[gnu::always_inline]] inline Channels sidePairs(const Job& j, __m256i o0, __m256i o1, __m256 w00,
                                                 __m256 w01, __m256 w10, __m256 w11) {
    // Pixels 0, 1, 4, 5 in one vector and 2, 3, 6, 7 in the other, so that the unpacks below
    // give the pixels in order.
    const __m256i order = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
    const auto* base = reinterpret_cast<const long long*>(j.src);
    __m256i rows[2][2];
    const __m256i offsets[2] = {_mm256_permutevar8x32_epi32(o0, order),
                                _mm256_permutevar8x32_epi32(o1, order)};
    for (int row = 0; row < 2; ++row) {
        rows[row][0] = _mm256_i32gather_epi64(base, _mm256_castsi256_si128(offsets[row]), 1);
        rows[row][1] = _mm256_i32gather_epi64(base, _mm256_extracti128_si256(offsets[row], 1), 1);
    }
    Channels out;
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
        // Byte c of each pair's first and second pixel, as 32-bit lanes.
        const __m256i pick = _mm256_setr_epi8(
            c, -1, -1, -1, 8 + c, -1, -1, -1, 3 + c, -1, -1, -1, 11 + c, -1, -1, -1, //
            c, -1, -1, -1, 8 + c, -1, -1, -1, 3 + c, -1, -1, -1, 11 + c, -1, -1, -1);
        __m256 column[2][2]; // [column][row]
        for (int row = 0; row < 2; ++row) {
            const __m256i a = _mm256_shuffle_epi8(rows[row][0], pick);
            const __m256i b = _mm256_shuffle_epi8(rows[row][1], pick);
            column[0][row] = _mm256_cvtepi32_ps(_mm256_unpacklo_epi64(a, b));
            column[1][row] = _mm256_cvtepi32_ps(_mm256_unpackhi_epi64(a, b));
        }
        __m256 sum = _mm256_mul_ps(column[0][0], w00);
        sum = _mm256_add_ps(sum, _mm256_mul_ps(column[0][1], w01));
        sum = _mm256_add_ps(sum, _mm256_mul_ps(column[1][0], w10));
        sum = _mm256_add_ps(sum, _mm256_mul_ps(column[1][1], w11));
        out.rounded[c] = _mm256_cvtps_epi32(sum);
    }
    return out;
}

// The weights of the two neighbours along one axis, as stated: f - i and 1 - (f - i) from
// f >= 0, i - f and 1 - (i - f) below (truncation towards zero turns them round). Either way
// one weight is |f - i| exactly.
inline void weigh(__m256 f, __m256 i, __m256& w0, __m256& w1) {
    const __m256 d = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), _mm256_sub_ps(f, i));
    const __m256 e = _mm256_sub_ps(_mm256_set1_ps(1.0f), d);
    const __m256 positive = _mm256_cmp_ps(f, _mm256_setzero_ps(), _CMP_GE_OQ);
    w0 = _mm256_blendv_ps(d, e, positive);
    w1 = _mm256_blendv_ps(e, d, positive);
}

// Where eight pixels read the source: the byte offsets of column ifx in rows ify and ify + 1
// (wrapped as stated), and the four weights.
struct Taps {
    __m256i o0, o1;
    __m256 w00, w01, w10, w11;
    __m256i lastColumn; // ifx + 1 wraps to column 0
};

[[gnu::always_inline]] inline Taps locate(const Job& j, __m256 fx, __m256 fy) {
    __m256i ifx = _mm256_cvttps_epi32(fx), ify = _mm256_cvttps_epi32(fy);
    __m256 wx0, wx1, wy0, wy1;
    weigh(fx, _mm256_cvtepi32_ps(ifx), wx0, wx1);
    weigh(fy, _mm256_cvtepi32_ps(ify), wy0, wy1);
    ifx = wrap(ifx, j.w);
    ify = wrap(ify, j.h);
    // The second row wraps to the first.
    const __m256i row1 = _mm256_andnot_si256(_mm256_cmpeq_epi32(ify, _mm256_set1_epi32(j.h - 1)),
                                             _mm256_add_epi32(ify, _mm256_set1_epi32(1)));
    const __m256i stride = _mm256_set1_epi32(static_cast<int32_t>(j.srcStride));
    const __m256i x0 = _mm256_add_epi32(ifx, _mm256_add_epi32(ifx, ifx));
    Taps t;
    t.o0 = _mm256_add_epi32(_mm256_mullo_epi32(ify, stride), x0);
    t.o1 = _mm256_add_epi32(_mm256_mullo_epi32(row1, stride), x0);
    t.w00 = _mm256_mul_ps(wx0, wy0);
    t.w01 = _mm256_mul_ps(wx0, wy1);
    t.w10 = _mm256_mul_ps(wx1, wy0);
    t.w11 = _mm256_mul_ps(wx1, wy1);
    t.lastColumn = _mm256_cmpeq_epi32(ifx, _mm256_set1_epi32(j.w - 1));
    return t;
}

// Interpolates the source for eight pixels, as stated: lanes 0 - 3 go to `left` from left to
// right, lanes 4 - 7 to `right` from right to left (the mirrored columns).
[[gnu::always_inline]] inline void interpolate(const Job& j, const Taps& t, uint8_t* left,
                                               uint8_t* right) {
    Channels sums;
    if (_mm256_testz_si256(t.lastColumn, t.lastColumn)) {
        sums = sidePairs(j, t.o0, t.o1, t.w00, t.w01, t.w10, t.w11);
    } else {
        // Column ifx + 1 is column 0 where ifx is the last: 3 (W - 1) bytes back instead of 3
        // ahead.
        const __m256i ahead = _mm256_set1_epi32(3);
        const __m256i back = _mm256_and_si256(t.lastColumn, _mm256_set1_epi32(3 * j.w));
        const __m256i o10 = _mm256_sub_epi32(_mm256_add_epi32(t.o0, ahead), back);
        const __m256i o11 = _mm256_sub_epi32(_mm256_add_epi32(t.o1, ahead), back);
        sums = fourGathers(j, t.o0, t.o1, o10, o11, t.w00, t.w01, t.w10, t.w11);
    }
    // Three bytes a pixel, each the low 8 bits of its sum: in order in the low half, in reverse
    // order in the high half.
    __m256i packed = _mm256_setzero_si256();
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
        const __m256i place = _mm256_setr_epi8(
            c == 0 ? 0 : -1, c == 1 ? 0 : -1, c == 2 ? 0 : -1, c == 0 ? 4 : -1, c == 1 ? 4 : -1,
            c == 2 ? 4 : -1, c == 0 ? 8 : -1, c == 1 ? 8 : -1, c == 2 ? 8 : -1, c == 0 ? 12 : -1,
            c == 1 ? 12 : -1, c == 2 ? 12 : -1, -1, -1, -1, -1, //
            c == 0 ? 12 : -1, c == 1 ? 12 : -1, c == 2 ? 12 : -1, c == 0 ? 8 : -1, c == 1 ? 8 : -1,
            c == 2 ? 8 : -1, c == 0 ? 4 : -1, c == 1 ? 4 : -1, c == 2 ? 4 : -1, c == 0 ? 0 : -1,
            c == 1 ? 0 : -1, c == 2 ? 0 : -1, -1, -1, -1, -1);
        packed = _mm256_or_si256(packed, _mm256_shuffle_epi8(sums.rounded[c], place));
    }
    const __m128i low = _mm256_castsi256_si128(packed), high = _mm256_extracti128_si256(packed, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(left), low);
    const int32_t lowTail = _mm_extract_epi32(low, 2), highTail = _mm_extract_epi32(high, 2);
    std::memcpy(left + 8, &lowTail, 4);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(right), high);
    std::memcpy(right + 8, &highTail, 4);
}

} // namespace

bool mirroredRowsSupported(const Job& j) {
    // Gathers take 32-bit byte offsets, and a row needs four columns on either side.
    const bool fits = j.srcStride * j.h + 4 <= std::numeric_limits<int32_t>::max();
    return fits && j.w >= 8 && cpuFeatures().avx2 && cpuFeatures().fma;
}

namespace {

// A block of 32 columns of the left half in one row and its mirror row: 8 groups of four
// columns, each with its mirror images in lanes 4 - 7 (the same row, mirrored columns), for
// this row ([0]) and the mirror row ([1]). The work goes in stages over the whole block, each a
// short loop whose steps do not wait for one another, so that the long chains of the arc
// tangent, the sine and cosine and the loads overlap.
constexpr int kGroups = 8;

struct BlockRow {
    int32_t start[kGroups]; // the groups' first columns
    __m256 r[kGroups];
    __m256 centre[kGroups];
    __m256 theta[kGroups][2];
    __m256 sure[kGroups][2];
    Taps taps[kGroups][2];
};

class MirroredRows {
public:
    explicit MirroredRows(const Job& j) : j_(j) {}

    void drawBlockRow(int32_t firstColumn, int32_t columnEnd, int32_t ty) const {
        BlockRow b;
        const int32_t half = (j_.w + 1) / 2; // the left half's columns, the middle one included
        int groups = 0;
        for (int32_t step = firstColumn; step < columnEnd; step += 4, ++groups)
            // The last group of an odd count overlaps the one before: same pixels, same values.
            b.start[groups] = std::min(step, half - 4);
        const float dyTop = static_cast<float>(ty) - j_.midY; // <= 0
        for (int g = 0; g < groups; ++g) angles(b, g, dyTop);
        for (int g = 0; g < groups; ++g)
            for (int row = 0; row < 2; ++row) position(b, g, row);
        const int32_t y[2] = {ty, j_.h - 1 - ty};
        for (int g = 0; g < groups; ++g)
            for (int row = 0; row < 2; ++row) draw(b, g, row, y[row]);
    }

private:
    // The angles of group g, as the stated steps give them: atan(dy / dx), plus pi left of the
    // axis, +-pi/2 on it, less the twist, plus a quarter turn.
    void angles(BlockRow& b, int g, float dyTop) const {
        const __m128 dy = _mm_set1_ps(dyTop);
        const __m128 dx = _mm_sub_ps(
            _mm_add_ps(_mm_set1_ps(static_cast<float>(b.start[g])), _mm_setr_ps(0, 1, 2, 3)),
            _mm_set1_ps(j_.midX)); // <= 0
        // Shared by the four mirror images: the distance, the twist and the arc tangent of
        // |dy / dx|, with pi added for either sign.
        const __m128 r = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)));
        const __m128 twist = _mm_div_ps(r, _mm_set1_ps(j_.amount));
        const __m128 vertical = _mm_cmpeq_ps(dx, _mm_setzero_ps());
        const __m128 quotient = _mm_andnot_ps(vertical, _mm_div_ps(dy, dx));
        const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), quotient);
        __m128 sureArc = _mm_castsi128_ps(_mm_set1_epi32(-1));
        const __m128 arc = roundSurely(atanNonNegative(_mm256_cvtps_pd(magnitude)), sureArc);
        const __m256d arcWide = _mm256_cvtps_pd(arc);
        // pi's own rounding to double adds 1.3e-16, far inside the margin.
        __m128 surePlus = sureArc, sureMinus = sureArc;
        const __m128 plusPi =
            roundSurely(_mm256_add_pd(arcWide, splat(std::numbers::pi)), surePlus);
        const __m128 minusPlusPi =
            roundSurely(_mm256_sub_pd(splat(std::numbers::pi), arcWide), sureMinus);
        const __m128 negativeArc = _mm_xor_ps(arc, _mm_set1_ps(-0.0f));
        const __m256 twist8 = _mm256_set_m128(twist, twist);
        const __m256 vertical8 = _mm256_set_m128(vertical, vertical);
        b.r[g] = _mm256_set_m128(r, r);
        b.centre[g] = _mm256_cmp_ps(b.r[g], _mm256_setzero_ps(), _CMP_EQ_OQ);
        // Above the centre dy <= 0, so atan(dy / dx) is arc left of the axis (dx < 0) and -arc
        // right of it; below, the other way round.
        const __m256 angles[2] = {_mm256_set_m128(negativeArc, plusPi),
                                  _mm256_set_m128(arc, minusPlusPi)};
        const __m256 sures[2] = {_mm256_set_m128(sureArc, surePlus),
                                 _mm256_set_m128(sureArc, sureMinus)};
        const __m256 rowDy[2] = {_mm256_set1_ps(dyTop), _mm256_set1_ps(-dyTop)};
        for (int row = 0; row < 2; ++row) {
            const __m256 verticalAngle =
                _mm256_blendv_ps(_mm256_set1_ps(-kHalfPiF), _mm256_set1_ps(kHalfPiF),
                                 _mm256_cmp_ps(rowDy[row], _mm256_setzero_ps(), _CMP_GT_OQ));
            const __m256 angle = _mm256_blendv_ps(angles[row], verticalAngle, vertical8);
            const __m256 theta =
                _mm256_sub_ps(_mm256_sub_ps(angle, twist8), _mm256_set1_ps(-kHalfPiF));
            const __m256 sure = _mm256_or_ps(sures[row], vertical8); // a vertical lane takes no arc
            b.theta[g][row] = theta;
            b.sure[g][row] = sure;
        }
    }

    // Where the pixels read the source; lanes in doubt read at the centre.
    void position(BlockRow& b, int g, int row) const {
        __m256 cosine, sine, sure = b.sure[g][row];
        sinCos8(b.theta[g][row], cosine, sine, sure);
        sure = _mm256_or_ps(sure, b.centre[g]);
        b.sure[g][row] = sure;
        const __m256 off = b.centre[g];
        const __m256 fx =
            _mm256_and_ps(sure, _mm256_add_ps(_mm256_andnot_ps(off, _mm256_mul_ps(b.r[g], cosine)),
                                              _mm256_set1_ps(j_.midX)));
        const __m256 fy =
            _mm256_and_ps(sure, _mm256_add_ps(_mm256_andnot_ps(off, _mm256_mul_ps(b.r[g], sine)),
                                              _mm256_set1_ps(j_.midY)));
        const Taps& t = b.taps[g][row] = locate(j_, fx, fy);
        // The twist leads the reads across the source where no hardware prefetch follows: they
        // are asked for now and made after the whole block row has been looked up, time enough
        // to fetch them from memory.
        alignas(32) int32_t offsets[2][8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(offsets[0]), t.o0);
        _mm256_store_si256(reinterpret_cast<__m256i*>(offsets[1]), t.o1);
        for (const auto& rowOffsets : offsets)
            for (int32_t o : rowOffsets)
                _mm_prefetch(reinterpret_cast<const char*>(j_.src + o), _MM_HINT_T0);
    }

    // The pixels, the ones in doubt by the one-pixel steps.
    void draw(const BlockRow& b, int g, int row, int32_t y) const {
        const int32_t tx0 = b.start[g];
        uint8_t* out = j_.dst + j_.dstStride * y;
        interpolate(j_, b.taps[g][row], out + 3 * tx0, out + 3 * (j_.w - 4 - tx0));
        for (int doubt = ~_mm256_movemask_ps(b.sure[g][row]) & 0xFF; doubt != 0;
             doubt &= doubt - 1) {
            const int lane = __builtin_ctz(static_cast<unsigned>(doubt));
            warpPixel(j_, lane < 4 ? tx0 + lane : j_.w - 1 - tx0 - (lane - 4), y);
        }
    }

    const Job& j_;
};

} // namespace

void warpMirroredRows(const Job& j, int32_t begin, int32_t end) {
    const MirroredRows rows(j);
    const int32_t half = (j.w + 1) / 2;
    // Blocks of columns: a block of rows then reads a patch of the source that stays in cache.
    for (int32_t block = 0; block < half; block += 4 * kGroups)
        for (int32_t ty = begin; ty < end; ++ty)
            rows.drawBlockRow(block, std::min(block + 4 * kGroups, half), ty);
}

} // namespace tarnwick::warp
