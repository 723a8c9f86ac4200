#pragma once
// The working bitmap: 24 bits per pixel, rows of blue, green, red bytes padded to 4 bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

namespace tarnwick {

// Limits that keep a hostile picture file from exhausting memory. 2^28 pixels (805 MB at 24 bits)
// is far beyond any desktop (8K is 33 M pixels) and any photo the saver will meet; each side may
// reach 65535 so that long panoramas still load.
inline constexpr int32_t kMaxBitmapDimension = 65535;
inline constexpr int64_t kMaxBitmapPixels = int64_t{1} << 28;

// Throws the error a too large or negative size gets: "Bitmap size W x H is not supported".
void checkBitmapSize(int64_t width, int64_t height, int64_t maxPixels = kMaxBitmapPixels);

class WorkBitmap {
public:
    // A large block (`block` bytes, 2 MiB aligned) may be kept for the next large bitmap.
    struct FreePixels {
        FreePixels() noexcept : block(0) {}
        explicit FreePixels(size_t blockSize) noexcept : block(blockSize) {}
        void operator()(uint8_t* p) const;
        size_t block;
    };
    using Pixels = std::unique_ptr<uint8_t[], FreePixels>;

    WorkBitmap() = default;
    WorkBitmap(WorkBitmap&& other) noexcept;
    WorkBitmap& operator=(WorkBitmap&& other) noexcept;
    WorkBitmap(const WorkBitmap&) = delete;
    WorkBitmap& operator=(const WorkBitmap&) = delete;
    ~WorkBitmap() = default;

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    bool empty() const { return width_ == 0 || height_ == 0; }
    // Bytes from one row to the next: 3 * width rounded up to a multiple of 4.
    std::ptrdiff_t stride() const { return stride_; }
    uint8_t* data() { return pixels_.get(); }
    const uint8_t* data() const { return pixels_.get(); }

    // Row y, 3 * width bytes; throws "Scan line index out of range" outside 0..height-1.
    std::span<uint8_t> scanLine(int32_t y);
    std::span<const uint8_t> scanLine(int32_t y) const;

    // Resizing keeps the part of the picture both sizes share; everything new is white.
    void setWidth(int32_t width);
    void setHeight(int32_t height);

    // For decoders that write every pixel: the new size's content is left undefined.
    void resizeForOverwrite(int32_t width, int32_t height, int64_t maxPixels = kMaxBitmapPixels);

    static std::ptrdiff_t strideFor(int32_t width) { return (std::ptrdiff_t{width} * 3 + 3) & ~3; }

private:
    void resize(int32_t width, int32_t height);

    int32_t width_ = 0;
    int32_t height_ = 0;
    std::ptrdiff_t stride_ = 0;
    // Rows plus 4 spare bytes, so that the frame path may load a whole 32-bit word at the last
    // pixel.
    Pixels pixels_;
};

// Frees the large block kept from the last freed bitmap, if any. For when no more pictures of that
// size will come (the desktop, once transformed). A small bitmap's allocation frees it too.
void ReleaseSparePixels();
// The size of the large block kept, 0 when there is none.
size_t SparePixelBytes();

// A new, empty (0 by 0) working bitmap.
std::unique_ptr<WorkBitmap> NewWorkBitmap();

// Sets the width, then the height.
void SetBitmapSize(WorkBitmap& bitmap, int32_t width, int32_t height);

// Makes `bitmap` a copy of `graphic` (its size and every pixel).
void CopyGraphicToBitmap(WorkBitmap& bitmap, const WorkBitmap& graphic);
// The same for a freshly decoded picture: its pixels become the bitmap's without a second copy.
void CopyGraphicToBitmap(WorkBitmap& bitmap, WorkBitmap&& graphic);
void CopyGraphicToBitmap(WorkBitmap& bitmap, std::unique_ptr<WorkBitmap> graphic);

} // namespace tarnwick
