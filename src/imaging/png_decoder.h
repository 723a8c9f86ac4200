#pragma once
// PNG through libpng, straight into a 24-bit working bitmap.
#include "imaging/bitmap.h"

#include <cstdint>
#include <memory>
#include <span>
#include <stop_token>

namespace tarnwick {

// Every colour type and depth: palettes, greys of 1 to 16 bits, 16-bit colour (scaled to 8 bits
// with rounding), interlaced files. Transparency (an alpha channel or a tRNS chunk) is composed
// over black. An animated file shows its still picture, the first frame of nearly all of them.
// Failures throw "PNG error: <libpng's message>"; a size above the limits throws
// checkBitmapSize's error before the pixels are allocated, and so does a file too small to
// hold its rows even at deflate's highest ratio ("PNG error: file too small for its size"). A
// stop requested on `stop` throws PictureLoadCancelled within 16 rows.
std::unique_ptr<WorkBitmap> DecodePng(std::span<const uint8_t> data,
                                      int64_t maxPixels = kMaxBitmapPixels,
                                      std::stop_token stop = {});

// The same from an open file of `fileSize` bytes at its current offset, read in small chunks.
std::unique_ptr<WorkBitmap> ReadPng(int fd, uint64_t fileSize, int64_t maxPixels = kMaxBitmapPixels,
                                    std::stop_token stop = {});

} // namespace tarnwick
