#pragma once
// JPEG through libjpeg-turbo's libjpeg API, at full size, straight into a 24-bit working bitmap.
#include "imaging/bitmap.h"

#include <cstdint>
#include <memory>
#include <span>
#include <stop_token>

namespace tarnwick {

// Application error code reported when a file has more scans than `maxScans`, or scans covering
// more than `maxScanBlocks` 8x8 blocks in all; reported like the library's own as "JPEG error
// #1000". Legitimate progressive files have about ten scans; a hostile one with hundreds of
// scans over a large picture would keep the saver busy for minutes. The block limit is about
// 3 s of decoding here, and lets a legitimate progressive file as large as the memory limit pass.
inline constexpr int kJpegTooManyScans = 1000;
inline constexpr int kDefaultMaxJpegScans = 500;
inline constexpr int64_t kDefaultMaxJpegScanBlocks = int64_t{1} << 26;
// What one decode may hold at once: the bitmap and the library's buffers (a progressive file keeps
// all its coefficients, twice the size of a 4:2:0 picture's pixels). A file needing more fails
// with JERR_NO_BACKING_STORE before its buffers or pixels are allocated. Arithmetic-coded files
// can claim a huge flat picture in a few hundred bytes legitimately; this bounds them too.
inline constexpr int64_t kJpegMemoryLimit = int64_t{1} << 30;

// Greyscale, YCbCr and RGB files are decoded to BGR by the library; CMYK and YCCK (Adobe's
// inverted form when the Adobe marker is present) are converted here. Every decoder failure
// throws "JPEG error #<libjpeg's message code>"; warnings (a truncated file, stray bytes) are not
// failures, as in libjpeg's own tools: the missing part of a truncated file is grey. A size
// above the limits throws checkBitmapSize's error before the pixels are allocated. A file that
// ends early while holding less than one byte per 8x8 block of every component is no damaged
// photo but a small file claiming a huge picture: it fails with the library's code for the early
// end (JWRN_JPEG_EOF or JWRN_HIT_MARKER), before the pixels are allocated where the header
// already shows it. The data counted is what the decoder has consumed when it stops, so bytes
// after the end marker do not count. A stop requested on `stop` throws PictureLoadCancelled
// within one row of blocks (or one block row of a scan, for progressive files), and between two
// chunks of a file's markers. A photo with an EXIF orientation (see ExifOrientation) is turned
// upright after decoding by OrientBitmap.
std::unique_ptr<WorkBitmap> DecodeJpeg(std::span<const uint8_t> data,
                                       int64_t maxPixels = kMaxBitmapPixels,
                                       int maxScans = kDefaultMaxJpegScans,
                                       std::stop_token stop = {},
                                       int64_t maxScanBlocks = kDefaultMaxJpegScanBlocks);

// The same from an open file of `fileSize` bytes at its current offset, read in small chunks.
std::unique_ptr<WorkBitmap> ReadJpeg(int fd, uint64_t fileSize,
                                     int64_t maxPixels = kMaxBitmapPixels,
                                     int maxScans = kDefaultMaxJpegScans, std::stop_token stop = {},
                                     int64_t maxScanBlocks = kDefaultMaxJpegScanBlocks);

// What the decoder decides from the header alone, before allocating: the picture's size, or the
// error it would throw.
struct JpegPlan {
    int32_t width = 0;
    int32_t height = 0;
};
JpegPlan PlanJpeg(std::span<const uint8_t> data, int64_t maxPixels = kMaxBitmapPixels);

} // namespace tarnwick
