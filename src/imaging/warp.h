#pragma once
// The warp's row loops, shared by the portable steps and the AVX2 version.
#include <cstddef>
#include <cstdint>
#include <numbers>

namespace tarnwick::warp {

// pi/2 as a 32-bit float, 1.5707964: the angle on the vertical axis and the quarter turn.
inline constexpr float kHalfPiF = std::numbers::pi_v<float> / 2;

struct Job {
    const uint8_t* src;
    std::ptrdiff_t srcStride;
    uint8_t* dst;
    std::ptrdiff_t dstStride;
    int32_t w, h; // the source's size
    float amount;
    float midX, midY; // (W - 1) / 2, (H - 1) / 2
};

// Destination pixel (tx, ty) by the stated steps, one operation at a time.
void warpPixel(const Job& job, int32_t tx, int32_t ty);

// Whether `warpMirroredRows` can do this job: the processor has AVX2 and FMA, the destination
// has the source's size, and byte offsets into the source fit 32 bits.
bool mirroredRowsSupported(const Job& job);

// Rows [begin, end) of the top half (rows 0 .. (H + 1) / 2 - 1) together with their mirror
// images below: pixels mirrored through the centre share their distance and, but for its sign,
// the tangent of their angle, so one arc tangent serves four of them.
void warpMirroredRows(const Job& job, int32_t begin, int32_t end);

} // namespace tarnwick::warp
