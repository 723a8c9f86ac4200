#pragma once
// WebP through libwebp, straight into a 24-bit working bitmap.
#include "imaging/bitmap.h"

#include <cstdint>
#include <memory>
#include <span>
#include <stop_token>

namespace tarnwick {

// Lossy and lossless files, with or without alpha (composed over black); an animated file shows
// its first frame where the animation places it, on a black canvas. Failures throw
// "WebP error #<libwebp's status code>". The canvas size is checked against the limits before
// the pixels are allocated; a lossy frame of less than one bit per 16x16 block (no encoder can
// write that) is refused then too, as "WebP error #7" (not enough data). The file is decoded in
// steps of 16 KiB of its data: a stop requested on `stop` throws PictureLoadCancelled after the
// step under way.
std::unique_ptr<WorkBitmap> DecodeWebp(std::span<const uint8_t> data,
                                       int64_t maxPixels = kMaxBitmapPixels,
                                       std::stop_token stop = {});

// The same from an open file of `fileSize` bytes at its current offset: its header is checked
// before the rest is read into memory.
std::unique_ptr<WorkBitmap> ReadWebp(int fd, uint64_t fileSize,
                                     int64_t maxPixels = kMaxBitmapPixels,
                                     std::stop_token stop = {});

} // namespace tarnwick
