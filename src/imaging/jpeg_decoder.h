#pragma once
// JPEG through libjpeg-turbo's libjpeg API, at full size, straight into a 24-bit working bitmap.
#include "imaging/bitmap.h"

#include <cstdint>
#include <memory>
#include <span>

namespace tarnwick {

// Application error code reported when a file has more scans than `maxScans`; reported like the
// library's own as "JPEG error #1000". Legitimate progressive files have about ten scans; a hostile
// one with thousands would keep the saver busy for minutes.
inline constexpr int kJpegTooManyScans = 1000;
inline constexpr int kDefaultMaxJpegScans = 500;

// Greyscale, YCbCr and RGB files are decoded to BGR by the library; CMYK and YCCK (Adobe's
// inverted form when the Adobe marker is present) are converted here. Every decoder failure
// throws "JPEG error #<libjpeg's message code>"; warnings (a truncated file, stray bytes) are not
// failures, as in libjpeg's own tools: the missing part of a truncated file is grey. A size
// above the limits throws checkBitmapSize's error before the pixels are allocated.
std::unique_ptr<WorkBitmap> DecodeJpeg(std::span<const uint8_t> data,
                                       int64_t maxPixels = kMaxBitmapPixels,
                                       int maxScans = kDefaultMaxJpegScans);

} // namespace tarnwick
