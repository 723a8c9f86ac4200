#include "imaging/bitmap.h"

#include "platform/error.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <type_traits>
#include <utility>

namespace tarnwick {

namespace {

constexpr std::ptrdiff_t kSpareBytes = 4;

// A decoded photo is tens of megabytes, each a fresh mapping; touching it 4 KiB page by page costs
// more than decoding it on some machines, so large blocks ask for transparent huge pages.
constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kHugeFrom = 2 * kHugePage;

// The last large block freed, kept for the next large bitmap: a picture change frees one photo
// and decodes the next one of the same size. On a virtual machine whose host takes freed guest
// memory back, faulting tens of fresh megabytes in again stalled the guest's other core too, for
// 50 - 120 ms: the animation froze after about one picture change in four.
struct Spare {
    std::mutex mutex;
    uint8_t* block = nullptr;
    size_t size = 0;
};
// Never destroyed, so that bitmaps freed during exit still find it.
constinit Spare spare;
static_assert(std::is_trivially_destructible_v<Spare>);

// The spare block if it holds `size` bytes without wasting more than half of it. A spare that does
// not fit is freed, so that one huge picture does not pin its memory.
WorkBitmap::Pixels takeSpare(size_t size) {
    WorkBitmap::Pixels taken;
    {
        std::lock_guard lock(spare.mutex);
        if (!spare.block) return nullptr;
        taken = WorkBitmap::Pixels(std::exchange(spare.block, nullptr),
                                   WorkBitmap::FreePixels(std::exchange(spare.size, 0)));
    }
    if (taken.get_deleter().block >= size && taken.get_deleter().block / 2 < size) return taken;
    std::free(taken.release());
    return nullptr;
}

WorkBitmap::Pixels allocatePixels(std::ptrdiff_t stride, int32_t height) {
    const size_t size = static_cast<size_t>(stride * height + kSpareBytes);
    if (size < kHugeFrom) {
        // The pictures are small now: a large block kept for the next large one would stay
        // unused, perhaps for the whole run.
        if (stride * height > 0) ReleaseSparePixels();
        void* block = std::malloc(size);
        if (!block) throw std::bad_alloc();
        return WorkBitmap::Pixels(static_cast<uint8_t*>(block));
    }
    const size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
    if (WorkBitmap::Pixels reused = takeSpare(rounded)) return reused;
    void* block = std::aligned_alloc(kHugePage, rounded);
    if (!block) throw std::bad_alloc();
    // Only advice: without huge pages the block is an ordinary one. The whole rounded block, or its
    // last, partly used 2 MiB would still be faulted in 4 KiB at a time.
    madvise(block, rounded, MADV_HUGEPAGE);
    return WorkBitmap::Pixels(static_cast<uint8_t*>(block), WorkBitmap::FreePixels(rounded));
}

} // namespace

void WorkBitmap::FreePixels::operator()(uint8_t* p) const {
    if (block == 0) {
        std::free(p);
        return;
    }
    uint8_t* older = p;
    {
        std::lock_guard lock(spare.mutex);
        std::swap(older, spare.block);
        spare.size = block;
    }
    std::free(older);
}

size_t SparePixelBytes() {
    std::lock_guard lock(spare.mutex);
    return spare.block ? spare.size : 0;
}

void ReleaseSparePixels() {
    uint8_t* block = nullptr;
    {
        std::lock_guard lock(spare.mutex);
        block = std::exchange(spare.block, nullptr);
        spare.size = 0;
    }
    std::free(block);
}

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
