#pragma once
// Straightforward readings of the rotation, the warp and the blur, one pixel at a time through
// row access, for comparison with the fast versions.
#include "imaging/bitmap.h"

#include <cstdint>

namespace tarnwick::testing {

void referenceRotate(const WorkBitmap& s, WorkBitmap& d, int32_t cx, int32_t cy, double angle);
// Columns and rows beyond the picture (the loop bound Round(diag) may reach W) are skipped.
void referenceWarp(const WorkBitmap& s, WorkBitmap& d, int32_t amount);
void referenceBlur(WorkBitmap& b, int32_t d);

} // namespace tarnwick::testing
