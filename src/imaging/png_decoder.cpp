#include "imaging/png_decoder.h"

#include "imaging/picture_loader.h"
#include "platform/error.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include <png.h>

namespace tarnwick {

namespace {

constexpr size_t kReadChunk = 64 << 10;
// Deflate never packs more than 1032 bytes into one; with room for the chunk framing.
constexpr uint64_t kMaxDeflateRatio = 1100;
constexpr int kStopCheckRows = 16;

enum Outcome { kDecoded, kFailed, kCancelled, kTooSmall };

// Everything that must outlive a longjmp lives here, in the caller's frame.
struct Session {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::span<const uint8_t> memory;
    int fd = -1;
    uint64_t size = 0;
    size_t offset = 0; // into `memory`, or into `buffer`
    size_t filled = 0;
    std::unique_ptr<uint8_t[]> buffer;
    std::stop_token stop;
    char message[160] = {};
    ~Session() { png_destroy_read_struct(&png, &info, nullptr); }
};

void failed(png_structp png, png_const_charp message) {
    auto* s = static_cast<Session*>(png_get_error_ptr(png));
    std::snprintf(s->message, sizeof s->message, "%s", message);
    png_longjmp(png, 1);
}

void warned(png_structp, png_const_charp) {}

void readData(png_structp png, png_bytep out, size_t count) {
    auto* s = static_cast<Session*>(png_get_io_ptr(png));
    if (s->fd < 0) {
        if (count > s->memory.size() - s->offset) png_error(png, "Read Error");
        std::memcpy(out, s->memory.data() + s->offset, count);
        s->offset += count;
        return;
    }
    while (count > 0) {
        if (s->offset == s->filled) {
            ssize_t got = 0;
            do got = ::read(s->fd, s->buffer.get(), kReadChunk);
            while (got < 0 && errno == EINTR);
            if (got <= 0) png_error(png, "Read Error");
            s->offset = 0;
            s->filled = static_cast<size_t>(got);
        }
        const size_t take = std::min(count, s->filled - s->offset);
        std::memcpy(out, s->buffer.get() + s->offset, take);
        s->offset += take;
        out += take;
        count -= take;
    }
}

// The longjmp lands in this function, so it owns no object with a destructor and reads no local
// changed after setjmp once it has landed.
Outcome decodeInto(Session& s, WorkBitmap& out, int64_t maxPixels) {
    if (setjmp(png_jmpbuf(s.png))) return kFailed;
    png_set_read_fn(s.png, &s, readData);
    png_set_user_limits(s.png, kMaxBitmapDimension, kMaxBitmapDimension);
    png_read_info(s.png, s.info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(s.png, s.info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
    checkBitmapSize(width, height, maxPixels);
    // Each row is a filter byte and its packed samples, all deflated in the file.
    const uint64_t rawRow = 1 + (uint64_t{width} * png_get_channels(s.png, s.info) * depth + 7) / 8;
    if (s.size * kMaxDeflateRatio < rawRow * height) return kTooSmall;

    png_set_expand(s.png); // palettes and small greys to 8 bits, tRNS to alpha
    png_set_scale_16(s.png);
    png_set_gray_to_rgb(s.png);
    png_set_bgr(s.png);
    if ((colour & PNG_COLOR_MASK_ALPHA) || png_get_valid(s.png, s.info, PNG_INFO_tRNS)) {
        png_color_16 black{};
        png_set_background_fixed(s.png, &black, PNG_BACKGROUND_GAMMA_SCREEN, 0, PNG_FP_1);
    }
    const int passes = png_set_interlace_handling(s.png);
    png_read_update_info(s.png, s.info);
    if (png_get_rowbytes(s.png, s.info) != size_t{width} * 3)
        png_error(s.png, "Unexpected row size");

    out.resizeForOverwrite(static_cast<int32_t>(width), static_cast<int32_t>(height), maxPixels);
    int rows = 0;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) {
            // An interlaced file's later passes fill in the rows the earlier ones began.
            png_read_row(s.png, out.data() + out.stride() * y, nullptr);
            if (++rows % kStopCheckRows == 0 && s.stop.stop_requested()) return kCancelled;
        }
    return kDecoded;
}

std::unique_ptr<WorkBitmap> decode(Session& s, int64_t maxPixels) {
    throwIfStopped(s.stop);
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s, failed, warned);
    if (s.png) s.info = png_create_info_struct(s.png);
    if (!s.info) throw Error("PNG error: out of memory");
    auto bitmap = NewWorkBitmap();
    switch (decodeInto(s, *bitmap, maxPixels)) {
    case kDecoded:
        return bitmap;
    case kCancelled:
        throw PictureLoadCancelled();
    case kTooSmall:
        throw Error("PNG error: file too small for its size");
    case kFailed:
        break;
    }
    throw Error(format("PNG error: %s", s.message));
}

} // namespace

std::unique_ptr<WorkBitmap> DecodePng(std::span<const uint8_t> data, int64_t maxPixels,
                                      std::stop_token stop) {
    Session s;
    s.memory = data;
    s.size = data.size();
    s.stop = std::move(stop);
    return decode(s, maxPixels);
}

std::unique_ptr<WorkBitmap> ReadPng(int fd, uint64_t fileSize, int64_t maxPixels,
                                    std::stop_token stop) {
    Session s;
    s.fd = fd;
    s.size = fileSize;
    s.buffer = std::make_unique_for_overwrite<uint8_t[]>(kReadChunk);
    s.stop = std::move(stop);
    return decode(s, maxPixels);
}

} // namespace tarnwick
