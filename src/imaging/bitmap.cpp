#include "imaging/bitmap.h"

#include "platform/error.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <utility>

namespace tarnwick {

namespace {

constexpr std::ptrdiff_t kSpareBytes = 4;

// A decoded photo is tens of megabytes, each a fresh mapping; touching it 4 KiB page by page costs
// more than decoding it on some machines, so large blocks ask for transparent huge pages.
constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kHugeFrom = 2 * kHugePage;

WorkBitmap::Pixels allocatePixels(std::ptrdiff_t stride, int32_t height) {
    const size_t size = static_cast<size_t>(stride * height + kSpareBytes);
    void* block = nullptr;
    if (size >= kHugeFrom) {
        const size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
        block = std::aligned_alloc(kHugePage, rounded);
        // Only advice: without huge pages the block is an ordinary one. The whole rounded block,
        // or its last, partly used 2 MiB would still be faulted in 4 KiB at a time.
        if (block) madvise(block, rounded, MADV_HUGEPAGE);
    } else {
        block = std::malloc(size);
    }
    if (!block) throw std::bad_alloc();
    return WorkBitmap::Pixels(static_cast<uint8_t*>(block));
}

} // namespace

void checkBitmapSize(int64_t width, int64_t height, int64_t maxPixels) {
    if (width < 0 || height < 0)
        throw Error(format("Bitmap size %lld x %lld is not valid", static_cast<long long>(width),
                           static_cast<long long>(height)));
    if (width > kMaxBitmapDimension || height > kMaxBitmapDimension || width * height > maxPixels)
        throw Error(format("Bitmap size %lld x %lld is too large", static_cast<long long>(width),
                           static_cast<long long>(height)));
}

WorkBitmap::WorkBitmap(WorkBitmap&& other) noexcept
    : width_(std::exchange(other.width_, 0)), height_(std::exchange(other.height_, 0)),
      stride_(std::exchange(other.stride_, 0)), pixels_(std::move(other.pixels_)) {}

WorkBitmap& WorkBitmap::operator=(WorkBitmap&& other) noexcept {
    if (this != &other) {
        width_ = std::exchange(other.width_, 0);
        height_ = std::exchange(other.height_, 0);
        stride_ = std::exchange(other.stride_, 0);
        pixels_ = std::move(other.pixels_);
    }
    return *this;
}

std::span<uint8_t> WorkBitmap::scanLine(int32_t y) {
    if (y < 0 || y >= height_) throw Error("Scan line index out of range");
    return {pixels_.get() + stride_ * y, static_cast<size_t>(width_) * 3};
}

std::span<const uint8_t> WorkBitmap::scanLine(int32_t y) const {
    if (y < 0 || y >= height_) throw Error("Scan line index out of range");
    return {pixels_.get() + stride_ * y, static_cast<size_t>(width_) * 3};
}

void WorkBitmap::setWidth(int32_t width) {
    resize(width, height_);
}
void WorkBitmap::setHeight(int32_t height) {
    resize(width_, height);
}

void WorkBitmap::resize(int32_t width, int32_t height) {
    if (width == width_ && height == height_) return;
    checkBitmapSize(width, height);
    const std::ptrdiff_t stride = strideFor(width);
    auto pixels = allocatePixels(stride, height);
    std::memset(pixels.get(), 0xFF, static_cast<size_t>(stride * height + kSpareBytes));
    const int32_t keepRows = std::min(height, height_);
    const size_t keepBytes = static_cast<size_t>(std::min(width, width_)) * 3;
    for (int32_t y = 0; y < keepRows; ++y)
        std::memcpy(pixels.get() + stride * y, pixels_.get() + stride_ * y, keepBytes);
    width_ = width;
    height_ = height;
    stride_ = stride;
    pixels_ = std::move(pixels);
}

void WorkBitmap::resizeForOverwrite(int32_t width, int32_t height, int64_t maxPixels) {
    checkBitmapSize(width, height, maxPixels);
    const std::ptrdiff_t stride = strideFor(width);
    if (!pixels_ || stride * height != stride_ * height_) pixels_ = allocatePixels(stride, height);
    width_ = width;
    height_ = height;
    stride_ = stride;
}

std::unique_ptr<WorkBitmap> NewWorkBitmap() {
    return std::make_unique<WorkBitmap>();
}

void SetBitmapSize(WorkBitmap& bitmap, int32_t width, int32_t height) {
    bitmap.setWidth(width);
    bitmap.setHeight(height);
}

void CopyGraphicToBitmap(WorkBitmap& bitmap, const WorkBitmap& graphic) {
    if (&bitmap == &graphic) return;
    bitmap.resizeForOverwrite(graphic.width(), graphic.height());
    const size_t rowBytes = static_cast<size_t>(graphic.width()) * 3;
    for (int32_t y = 0; y < graphic.height(); ++y)
        std::memcpy(bitmap.data() + bitmap.stride() * y, graphic.data() + graphic.stride() * y,
                    rowBytes);
}

void CopyGraphicToBitmap(WorkBitmap& bitmap, WorkBitmap&& graphic) {
    if (&bitmap == &graphic) return;
    bitmap = std::move(graphic);
}

void CopyGraphicToBitmap(WorkBitmap& bitmap, std::unique_ptr<WorkBitmap> graphic) {
    if (!graphic) throw Error("Bitmap image is not valid");
    CopyGraphicToBitmap(bitmap, std::move(*graphic));
}

} // namespace tarnwick
