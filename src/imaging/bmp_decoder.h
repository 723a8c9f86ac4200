#pragma once
// Our own BMP decoder: every common variant to a 24-bit working bitmap.
#include "imaging/bitmap.h"

#include <cstdint>
#include <memory>
#include <span>

namespace tarnwick {

// Decodes a whole BMP file held in memory: 1, 4, 8, 16, 24 and 32 bits per pixel, RLE8 and RLE4,
// bit-field masks, bottom-up and top-down rows, BITMAPCOREHEADER, the 40-byte header and its
// V2-V5 extensions. Anything malformed or truncated throws "Bitmap image is not valid"; a size
// above the limits throws checkBitmapSize's error before anything is allocated for the pixels.
// Pixels an RLE picture skips (delta and end-of-line codes) are black; palette indices beyond
// the colour table are black; alpha is ignored.
std::unique_ptr<WorkBitmap> DecodeBmp(std::span<const uint8_t> data,
                                      int64_t maxPixels = kMaxBitmapPixels);

} // namespace tarnwick
