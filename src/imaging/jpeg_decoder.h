#pragma once
// JPEG through libjpeg-turbo's libjpeg API, at full size, straight into a 24-bit working bitmap.
#include "imaging/bitmap.h"

#include <cstdint>
#include <memory>
#include <span>
#include <stop_token>

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
// above the limits throws checkBitmapSize's error before the pixels are allocated. A file that
// ends early while holding less than one byte per 8x8 block of every component is no damaged
// photo but a small file claiming a huge picture: it fails with the library's code for the early
// end (JWRN_JPEG_EOF or JWRN_HIT_MARKER), before the pixels are allocated where the header
// already shows it. A stop requested on `stop` throws PictureLoadCancelled within one row of
// blocks (or one block row of a scan, for progressive files). A photo with an EXIF orientation
// (see ExifOrientation) is turned upright after decoding by OrientBitmap.
std::unique_ptr<WorkBitmap> DecodeJpeg(std::span<const uint8_t> data,
                                       int64_t maxPixels = kMaxBitmapPixels,
                                       int maxScans = kDefaultMaxJpegScans,
                                       std::stop_token stop = {});

// The same from an open file of `fileSize` bytes at its current offset, read in small chunks.
std::unique_ptr<WorkBitmap> ReadJpeg(int fd, uint64_t fileSize,
                                     int64_t maxPixels = kMaxBitmapPixels,
                                     int maxScans = kDefaultMaxJpegScans,
                                     std::stop_token stop = {});

// What the decoder decides from the header alone, before allocating: the picture's size, or the
// error it would throw.
struct JpegPlan {
    int32_t width = 0;
    int32_t height = 0;
};
JpegPlan PlanJpeg(std::span<const uint8_t> data, int64_t maxPixels = kMaxBitmapPixels);

} // namespace tarnwick
