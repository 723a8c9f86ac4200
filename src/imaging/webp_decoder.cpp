#include "imaging/webp_decoder.h"

#include "imaging/picture_loader.h"
#include "platform/error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>

namespace tarnwick {

namespace {

constexpr size_t kStep = 16 << 10;
// Enough for the RIFF header and the first chunk's header: the VP8X canvas, or a still picture's
// frame header.
constexpr size_t kHeadBytes = 64;

[[noreturn]] void fail(VP8StatusCode code) {
    throw Error(format("WebP error #%d", static_cast<int>(code)));
}

struct DemuxDeleter {
    void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};
struct DecoderDeleter {
    void operator()(WebPIDecoder* d) const { WebPIDelete(d); }
};
struct IteratorGuard {
    WebPIterator it{};
    ~IteratorGuard() { WebPDemuxReleaseIterator(&it); }
};

// The canvas size from the file's first bytes, checked against the limits; a header that needs
// more bytes is checked with the whole file.
void checkHead(std::span<const uint8_t> head, int64_t maxPixels) {
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(head.data(), head.size(), &features);
    if (status == VP8_STATUS_NOT_ENOUGH_DATA) return;
    if (status != VP8_STATUS_OK) fail(status);
    checkBitmapSize(features.width, features.height, maxPixels);
}

// Feeds the frame to the incremental decoder a step at a time until it is done.
void decodeFrame(std::span<const uint8_t> frame, WebPDecoderConfig& config,
                 const std::stop_token& stop) {
    std::unique_ptr<WebPIDecoder, DecoderDeleter> decoder(WebPIDecode(nullptr, 0, &config));
    if (!decoder) fail(VP8_STATUS_OUT_OF_MEMORY);
    for (size_t fed = 0;;) {
        throwIfStopped(stop);
        fed = std::min(frame.size(), fed + kStep);
        const VP8StatusCode status = WebPIUpdate(decoder.get(), frame.data(), fed);
        if (status == VP8_STATUS_OK) return;
        if (status != VP8_STATUS_SUSPENDED) fail(status);
        if (fed == frame.size()) fail(VP8_STATUS_NOT_ENOUGH_DATA);
    }
}

std::unique_ptr<WorkBitmap> decode(std::span<const uint8_t> data, int64_t maxPixels,
                                   const std::stop_token& stop) {
    throwIfStopped(stop);
    const WebPData whole{data.data(), data.size()};
    const std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&whole));
    if (!demux) fail(VP8_STATUS_BITSTREAM_ERROR);
    const uint32_t canvasWidth = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH);
    const uint32_t canvasHeight = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT);
    checkBitmapSize(canvasWidth, canvasHeight, maxPixels);
    IteratorGuard first;
    if (!WebPDemuxGetFrame(demux.get(), 1, &first.it)) fail(VP8_STATUS_BITSTREAM_ERROR);
    const WebPIterator& it = first.it;
    const std::span<const uint8_t> frame(it.fragment.bytes, it.fragment.size);
    WebPBitstreamFeatures features;
    if (const VP8StatusCode status = WebPGetFeatures(frame.data(), frame.size(), &features);
        status != VP8_STATUS_OK)
        fail(status);
    if (features.width != it.width || features.height != it.height || it.x_offset < 0 ||
        it.y_offset < 0 || int64_t{it.x_offset} + it.width > canvasWidth ||
        int64_t{it.y_offset} + it.height > canvasHeight)
        fail(VP8_STATUS_BITSTREAM_ERROR);
    // A lossy frame spends more than a bit on the modes of every 16x16 block.
    const uint64_t blocks = (uint64_t(it.width) + 15) / 16 * ((uint64_t(it.height) + 15) / 16);
    if (features.format == 1 && uint64_t{frame.size()} * 8 < blocks)
        fail(VP8_STATUS_NOT_ENOUGH_DATA);

    auto bitmap = NewWorkBitmap();
    bitmap->resizeForOverwrite(static_cast<int32_t>(canvasWidth),
                               static_cast<int32_t>(canvasHeight), maxPixels);
    const std::ptrdiff_t stride = bitmap->stride();
    const bool covered = it.width == int(canvasWidth) && it.height == int(canvasHeight);
    if (!covered)
        for (uint32_t y = 0; y < canvasHeight; ++y)
            std::memset(bitmap->data() + stride * y, 0, size_t{canvasWidth} * 3);
    uint8_t* const origin = bitmap->data() + stride * it.y_offset + 3 * it.x_offset;

    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) fail(VP8_STATUS_INVALID_PARAM);
    config.output.is_external_memory = 1;
    config.output.width = it.width;
    config.output.height = it.height;
    std::vector<uint8_t> premultiplied;
    if (!it.has_alpha) {
        // Straight into the picture's rows.
        config.output.colorspace = MODE_BGR;
        config.output.u.RGBA.rgba = origin;
        config.output.u.RGBA.stride = static_cast<int>(stride);
        config.output.u.RGBA.size = size_t(stride) * size_t(it.height - 1) + size_t(it.width) * 3;
        decodeFrame(frame, config, stop);
        return bitmap;
    }
    // Premultiplied colour is the colour composed over black; the alpha byte is dropped after.
    const size_t rowBytes = size_t(it.width) * 4;
    premultiplied.resize(rowBytes * size_t(it.height));
    config.output.colorspace = MODE_bgrA;
    config.output.u.RGBA.rgba = premultiplied.data();
    config.output.u.RGBA.stride = static_cast<int>(rowBytes);
    config.output.u.RGBA.size = premultiplied.size();
    decodeFrame(frame, config, stop);
    for (int y = 0; y < it.height; ++y) {
        const uint8_t* in = premultiplied.data() + rowBytes * size_t(y);
        uint8_t* out = origin + stride * y;
        for (int x = 0; x < it.width; ++x, in += 4, out += 3) std::memcpy(out, in, 3);
    }
    return bitmap;
}

} // namespace

std::unique_ptr<WorkBitmap> DecodeWebp(std::span<const uint8_t> data, int64_t maxPixels,
                                       std::stop_token stop) {
    return decode(data, maxPixels, stop);
}

std::unique_ptr<WorkBitmap> ReadWebp(int fd, uint64_t fileSize, int64_t maxPixels,
                                     std::stop_token stop) {
    std::vector<uint8_t> bytes;
    auto readUpTo = [&](size_t end) {
        while (bytes.size() < end) {
            const size_t had = bytes.size();
            bytes.resize(end);
            ssize_t got = 0;
            do got = ::read(fd, bytes.data() + had, end - had);
            while (got < 0 && errno == EINTR);
            if (got < 0) fail(VP8_STATUS_NOT_ENOUGH_DATA);
            bytes.resize(had + static_cast<size_t>(got));
            if (got == 0) return;
        }
    };
    readUpTo(std::min<uint64_t>(fileSize, kHeadBytes));
    throwIfStopped(stop);
    checkHead(bytes, maxPixels);
    readUpTo(fileSize);
    return decode(bytes, maxPixels, stop);
}

} // namespace tarnwick
