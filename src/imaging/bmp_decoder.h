#pragma once
// Our own BMP decoder: every common variant to a 24-bit working bitmap.
#include "imaging/bitmap.h"

#include <cstdint>
#include <memory>
#include <span>
#include <stop_token>
#include <string>

namespace tarnwick {

// Decodes a whole BMP file held in memory: 1, 4, 8, 16, 24 and 32 bits per pixel, RLE8 and RLE4,
// bit-field masks, bottom-up and top-down rows, BITMAPCOREHEADER, the 40-byte header and its
// V2-V5 extensions. Anything malformed or truncated throws "Bitmap image is not valid"; a size
// above the limits throws checkBitmapSize's error before anything is allocated for the pixels.
// Pixels an RLE picture skips (delta and end-of-line codes) are black; palette indices beyond
// the colour table are black; alpha is ignored. An uncompressed picture whose rows are not all
// in the file is not valid before anything is allocated for it; an RLE picture's rows are
// cleared only as its codes reach them. A stop requested on `stop` throws PictureLoadCancelled
// within 64 rows.
std::unique_ptr<WorkBitmap> DecodeBmp(std::span<const uint8_t> data,
                                      int64_t maxPixels = kMaxBitmapPixels,
                                      std::stop_token stop = {});

// The same from an open file of `fileSize` bytes, read with pread at the offsets the header
// names: the rows of a 24-bit picture straight into the bitmap, others through a small reused
// buffer. Read errors throw "Cannot open file \"path\". <reason>".
std::unique_ptr<WorkBitmap> ReadBmp(int fd, uint64_t fileSize, const std::string& path,
                                    int64_t maxPixels = kMaxBitmapPixels,
                                    std::stop_token stop = {});

// What the decoders decide from the header alone, before allocating: the picture's size, or the
// error they would throw. `head` is the file's beginning (its first 1178 bytes are enough).
struct BmpPlan {
    int32_t width = 0;
    int32_t height = 0;
    bool runLength = false; // rows are allocated as the codes reach them
};
BmpPlan PlanBmp(std::span<const uint8_t> head, uint64_t fileSize,
                int64_t maxPixels = kMaxBitmapPixels);

} // namespace tarnwick
