#include "platform/wayland/wayland_screen.h"

#include "platform/error.h"
#include "platform/wayland/frame_layout.h"
#include "platform/wayland/shm_pool.h"

#include "screencopy-client.h"

#include <wayland-client.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tarnwick::platform::wayland {

namespace {

// A compositor that has not copied every output by then is taken as unable to.
constexpr std::chrono::milliseconds kCopyWait{3000};

constexpr uint32_t kXbgr8888 = 0x34324258;
constexpr uint32_t kAbgr8888 = 0x34324241;

struct CopyJob {
    Connection* connection = nullptr;
    const Output* output = nullptr;
    zwlr_screencopy_frame_v1* frame = nullptr;
    uint32_t format = 0;
    int32_t width = 0, height = 0, stride = 0;
    bool yInverted = false;
    bool ready = false;
    bool failed = false;
    std::unique_ptr<ShmPool> pool;
    wl_buffer* buffer = nullptr;

    ~CopyJob() {
        if (buffer) wl_buffer_destroy(buffer);
        if (frame) zwlr_screencopy_frame_v1_destroy(frame);
    }
    bool finished() const { return ready || failed; }
};

CopyJob& jobOf(void* data) {
    return *static_cast<CopyJob*>(data);
}

void frameBuffer(void* data, zwlr_screencopy_frame_v1* frame, uint32_t format, uint32_t width,
                 uint32_t height, uint32_t stride) {
    CopyJob& job = jobOf(data);
    const bool known = format == WL_SHM_FORMAT_XRGB8888 || format == WL_SHM_FORMAT_ARGB8888 ||
                       format == kXbgr8888 || format == kAbgr8888;
    if (!known || width == 0 || height == 0 || stride < width * 4 || job.buffer) {
        job.failed = true;
        return;
    }
    job.format = format;
    job.width = static_cast<int32_t>(width);
    job.height = static_cast<int32_t>(height);
    job.stride = static_cast<int32_t>(stride);
    try {
        job.pool = std::make_unique<ShmPool>(job.connection->shm(), size_t{stride} * height);
    } catch (const std::exception&) {
        job.failed = true;
        return;
    }
    job.buffer = job.pool->createBuffer(0, job.width, job.height, job.stride, format);
    zwlr_screencopy_frame_v1_copy(frame, job.buffer);
}

void frameFlags(void* data, zwlr_screencopy_frame_v1*, uint32_t flags) {
    jobOf(data).yInverted = (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
}

void frameReady(void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {
    jobOf(data).ready = true;
}

void frameFailed(void* data, zwlr_screencopy_frame_v1*) {
    jobOf(data).failed = true;
}

const zwlr_screencopy_frame_v1_listener kFrameListener = {frameBuffer, frameFlags, frameReady,
                                                          frameFailed};

std::vector<OutputPlace> placesOf(const std::vector<Output*>& outputs) {
    std::vector<OutputPlace> places;
    for (const Output* o : outputs) places.push_back({o->x, o->y, o->width, o->height, o->scale});
    return places;
}

// The stretch copy's nearest rule: the source index under destination index i.
int64_t sourceIndex(int64_t i, int64_t start, int64_t length, int64_t count) {
    return start + (2 * i + 1) * length / (2 * count);
}

} // namespace

Rect WaylandScreen::virtualDesktop() {
    const FrameLayout layout = layoutFrame(placesOf(connection_.outputs()));
    return {0, 0, layout.size.width, layout.size.height};
}

std::optional<std::vector<uint32_t>> WaylandScreen::readDesktop(std::string& why) {
    if (!connection_.screencopy()) {
        why = "the compositor offers no screen copy (wlr-screencopy)";
        return std::nullopt;
    }
    const std::vector<Output*> outputs = connection_.outputs();
    const FrameLayout layout = layoutFrame(placesOf(outputs));
    if (outputs.empty() || layout.size.width <= 0) {
        why = "the compositor shows no outputs";
        return std::nullopt;
    }
    std::vector<std::unique_ptr<CopyJob>> jobs;
    for (const Output* o : outputs) {
        auto job = std::make_unique<CopyJob>();
        job->connection = &connection_;
        job->output = o;
        job->frame =
            zwlr_screencopy_manager_v1_capture_output(connection_.screencopy(), 0, o->output);
        zwlr_screencopy_frame_v1_add_listener(job->frame, &kFrameListener, job.get());
        jobs.push_back(std::move(job));
    }
    const auto deadline = std::chrono::steady_clock::now() + kCopyWait;
    const auto allFinished = [&] {
        for (const auto& j : jobs)
            if (!j->finished()) return false;
        return true;
    };
    while (!allFinished()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !connection_.dispatchFor(static_cast<int>(left.count()))) break;
    }
    std::vector<uint32_t> desktop(size_t(layout.size.width) * size_t(layout.size.height),
                                  0xFF000000u);
    for (size_t i = 0; i < jobs.size(); ++i) {
        CopyJob& job = *jobs[i];
        if (!job.ready) {
            why = job.failed ? "the compositor refused to copy an output"
                             : "the compositor did not copy the outputs in time";
            return std::nullopt;
        }
        uint8_t* pixels = job.pool->data();
        if (job.format == kXbgr8888 || job.format == kAbgr8888) {
            // Red and blue change places: into the frame's byte order.
            for (int32_t y = 0; y < job.height; ++y)
                for (int32_t x = 0; x < job.width; ++x)
                    std::swap(pixels[std::ptrdiff_t{y} * job.stride + 4 * x],
                              pixels[std::ptrdiff_t{y} * job.stride + 4 * x + 2]);
        }
        const OutputPicture picture{pixels,
                                    job.width,
                                    job.height,
                                    job.stride,
                                    static_cast<OutputTransform>(job.output->transform & 7),
                                    job.yInverted};
        placeOutputPicture(picture, layout.parts[i], desktop.data(), layout.size.width);
    }
    return desktop;
}

bool WaylandScreen::copyDesktop(std::string& why) {
    kept_ = readDesktop(why);
    return kept_.has_value();
}

void WaylandScreen::keepDesktop(const uint8_t* rows, int32_t width, int32_t height,
                                std::ptrdiff_t stride) {
    const Rect all = virtualDesktop();
    if (all.width() <= 0 || all.height() <= 0 || width <= 0 || height <= 0) return;
    std::vector<uint32_t> desktop(size_t(all.width()) * size_t(all.height()));
    for (int32_t y = 0; y < all.height(); ++y) {
        const uint8_t* line = rows + stride * sourceIndex(y, 0, height, all.height());
        uint32_t* out = desktop.data() + size_t(y) * size_t(all.width());
        for (int32_t x = 0; x < all.width(); ++x) {
            const uint8_t* p = line + 3 * sourceIndex(x, 0, width, all.width());
            out[x] = 0xFF000000u | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
        }
    }
    kept_ = std::move(desktop);
}

void WaylandScreen::explainUnreadable(const std::string& why) {
    if (unreadable_.empty())
        std::fprintf(stderr, "tarnwick: the desktop cannot be shown: %s\n", why.c_str());
    unreadable_ = why;
}

void WaylandScreen::capture(const Rect& source, int32_t width, int32_t height, uint8_t* rows,
                            std::ptrdiff_t stride) {
    if (width <= 0 || height <= 0) return;
    const Rect all = virtualDesktop();
    std::optional<std::vector<uint32_t>> desktop = std::move(kept_);
    kept_.reset();
    // Outputs that changed since the desktop was kept need a new reading.
    if (desktop && desktop->size() != size_t(all.width()) * size_t(all.height())) desktop.reset();
    if (!desktop && unreadable_.empty()) {
        std::string why;
        if (!(desktop = readDesktop(why))) explainUnreadable(why);
    }
    // The engine shows the saver's own picture instead of a black screen.
    if (!desktop) throw Error(unreadable_);
    const int64_t srcW = int64_t{source.right} - source.left;
    const int64_t srcH = int64_t{source.bottom} - source.top;
    for (int32_t y = 0; y < height; ++y) std::memset(rows + stride * y, 0, size_t(width) * 3);
    if (srcW <= 0 || srcH <= 0) return;
    for (int32_t y = 0; y < height; ++y) {
        const int64_t sy = sourceIndex(y, source.top, srcH, height);
        if (sy < all.top || sy >= all.bottom) continue;
        const uint32_t* line = desktop->data() + sy * all.width();
        uint8_t* out = rows + stride * y;
        for (int32_t x = 0; x < width; ++x) {
            const int64_t sx = sourceIndex(x, source.left, srcW, width);
            if (sx < all.left || sx >= all.right) continue;
            const uint32_t p = line[sx];
            out[3 * x] = static_cast<uint8_t>(p);
            out[3 * x + 1] = static_cast<uint8_t>(p >> 8);
            out[3 * x + 2] = static_cast<uint8_t>(p >> 16);
        }
    }
}

} // namespace tarnwick::platform::wayland
