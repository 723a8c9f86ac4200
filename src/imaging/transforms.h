#pragma once
// The desktop transforms: rotation with interpolation, the radial twist warp, the in-place blur.
#include "imaging/bitmap.h"

#include <cstdint>

namespace tarnwick {

// 255 above 255, 0 below 0, else v.
uint8_t ClampByte(int32_t v);
// hi above hi, else lo below lo, else v (the upper bound is tested first).
int32_t ClampInt(int32_t v, int32_t lo, int32_t hi);
// The angle of the vector (xt, yt) in single precision, -pi/2 .. 3pi/2; +-pi/2 when xt = 0
// (-pi/2 also for yt = 0). Left of the axis the 32-bit arc tangent gains pi in extended precision
// and the sum is rounded once.
float PointAngle(float xt, float yt);

// Turns `src` by `angle` degrees (clockwise on screen) about (cx, cy) of `dst`, in double
// precision, interpolating from the pixels right of and below the nearest one with signed
// fractions. Destination pixels whose nearest source pixel lies outside `src` are left as they
// are. Multiples of 90 (0, 90, 180, 270) take a pure rearrangement that gives the same pixels.
// A non-finite angle changes nothing.
void RotateBitmap(const WorkBitmap& src, WorkBitmap& dst, int32_t cx, int32_t cy, double angle);

// The radial twist: destination pixel (tx, ty) at distance r from the centre shows the source at
// the same distance turned by a quarter turn minus r / amount radians, with wrap-around at the
// edges, in single precision, pixel for pixel as the one-pixel steps give it for every amount.
// `dst` should have the source's size; pixels outside `dst` are not
// written. amount 0 would divide by zero and changes nothing. Runs on `threads` threads (0: one
// per core); the result does not depend on the number of threads.
void WarpBitmap(const WorkBitmap& src, WorkBitmap& dst, int32_t amount, int threads = 0);

// The in-place four-corner blur with sampling distance d: each pixel becomes the mean (rounded
// down) of the pixels d up-left, d up-right, d down-left and d down-right, reading the values as
// they stand at that moment (rows above and pixels to the left already blurred). Near the bottom
// and right edges the far samples come from rows H - y and columns W - x. d <= 0, d >= width or
// d >= height leaves the bitmap unchanged.
void BlurBitmap(WorkBitmap& bitmap, int32_t d);

// Turns a decoded photo upright by its EXIF orientation: 2 mirrors left to right, 3 turns half
// way, 4 mirrors top to bottom, 5 transposes, 6 turns a quarter clockwise, 7 transposes across
// the other diagonal, 8 turns a quarter anticlockwise. 1 and anything else leave it as it is.
// 2 to 4 work in place; 5 to 8 write one quarter turn into a new picture of exchanged size.
void OrientBitmap(WorkBitmap& bitmap, int orientation);

} // namespace tarnwick
