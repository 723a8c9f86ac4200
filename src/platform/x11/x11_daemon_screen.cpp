#include "platform/x11/x11_daemon_screen.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarnwick::platform::x11 {

namespace {

// The daemon puts its helpers' folder first on the hack's PATH.
constexpr const char* kHelper = "xscreensaver-getimage";
// The daemon kills a hack that does not end promptly, so a stuck helper is not waited for long.
constexpr auto kHelperLimit = std::chrono::seconds(5);

const char* describe(DaemonScreen::Source s) {
    switch (s) {
    case DaemonScreen::Source::Screenshot:
        return "the daemon's screenshot";
    case DaemonScreen::Source::Helper:
        return "the daemon's image helper";
    case DaemonScreen::Source::Nothing:
        return "nowhere: the daemon gave none";
    default:
        return "a grab of the screen";
    }
}

// Runs `argv` with its output discarded; true when it ended with status 0 within the limit.
bool runQuietly(char* const argv[]) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int err = posix_spawnp(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0) return false;
    const auto end = std::chrono::steady_clock::now() + kHelperLimit;
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (r < 0) return false;
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

DaemonScreen::DaemonScreen(Screen& grab, Display* display, XWindow window, bool grabAllowed,
                           bool verbose, const char* program)
    : grab_(grab), display_(display), window_(window), grabAllowed_(grabAllowed), verbose_(verbose),
      program_(program) {}

DaemonScreen::~DaemonScreen() {
    if (ownsPixmap_) XFreePixmap(display_, pixmap_);
}

DaemonScreen::Source DaemonScreen::source() {
    if (source_ != Source::Unresolved) return source_;
    if (window_ && takeScreenshot())
        source_ = Source::Screenshot;
    else if (window_ && runHelper())
        source_ = Source::Helper;
    else
        source_ = grabAllowed_ ? Source::Grab : Source::Nothing;
    if (verbose_)
        std::fprintf(stderr, "%s: desktop snapshot from %s\n", program_, describe(source_));
    return source_;
}

bool DaemonScreen::takeScreenshot() {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    ErrorTrap trap(display_);
    if (XGetWindowProperty(display_, window_, atom(display_, "_SCREENSAVER_SCREENSHOT"), 0, 1,
                           False, XA_PIXMAP, &type, &format, &count, &after, &data) == Success &&
        data && type == XA_PIXMAP && format == 32 && count == 1)
        pixmap_ = *reinterpret_cast<unsigned long*>(data);
    if (data) XFree(data);
    Window root;
    int x, y;
    unsigned w, h, border, depth;
    if (pixmap_ && XGetGeometry(display_, pixmap_, &root, &x, &y, &w, &h, &border, &depth) &&
        !trap.failed()) {
        width_ = static_cast<int32_t>(w), height_ = static_cast<int32_t>(h);
        return true;
    }
    pixmap_ = 0;
    return false;
}

// The helper paints a desktop image (or whatever the user's daemon settings choose) onto a
// pixmap the size of the daemon's window.
bool DaemonScreen::runHelper() {
    XWindowAttributes a{};
    {
        ErrorTrap trap(display_);
        if (!XGetWindowAttributes(display_, window_, &a) || trap.failed() || a.width <= 0 ||
            a.height <= 0)
            return false;
    }
    ErrorTrap trap(display_);
    const Pixmap pixmap = XCreatePixmap(display_, window_, a.width, a.height, a.depth);
    if (trap.failed()) return false; // also makes the pixmap exist before the helper asks for it
    char windowId[32], pixmapId[32];
    std::snprintf(windowId, sizeof windowId, "0x%lx", window_);
    std::snprintf(pixmapId, sizeof pixmapId, "0x%lx", pixmap);
    std::string name = kHelper;
    char* argv[] = {name.data(), windowId, pixmapId, nullptr};
    if (!runQuietly(argv)) {
        XFreePixmap(display_, pixmap);
        return false;
    }
    pixmap_ = pixmap, ownsPixmap_ = true;
    width_ = a.width, height_ = a.height;
    return true;
}

Rect DaemonScreen::virtualDesktop() {
    switch (source()) {
    case Source::Grab:
        return grab_.virtualDesktop();
    case Source::Nothing: {
        XWindowAttributes a{};
        ErrorTrap trap(display_);
        if (!XGetWindowAttributes(display_, window_, &a) || trap.failed()) return {};
        return {0, 0, a.width, a.height};
    }
    default:
        return {0, 0, width_, height_};
    }
}

void DaemonScreen::capture(const Rect& source, int32_t width, int32_t height, uint8_t* rows,
                           std::ptrdiff_t stride) {
    if (this->source() == Source::Grab) return grab_.capture(source, width, height, rows, stride);
    if (source_ == Source::Nothing) throw Error("The daemon gave no desktop snapshot");
    ErrorTrap trap(display_);
    XImage* image = XGetImage(display_, pixmap_, 0, 0, width_, height_, AllPlanes, ZPixmap);
    if (!image || trap.failed()) {
        if (image) XDestroyImage(image);
        if (!grabAllowed_) throw Error("The daemon's desktop snapshot cannot be read");
        return grab_.capture(source, width, height, rows, stride);
    }
    // Nearest pixel under each destination pixel's centre; outside the snapshot is black.
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* out = rows + y * stride;
        const int64_t sy = source.top + (int64_t(2 * y + 1) * source.height()) / (2 * height);
        for (int32_t x = 0; x < width; ++x, out += 3) {
            const int64_t sx = source.left + (int64_t(2 * x + 1) * source.width()) / (2 * width);
            unsigned long p = 0;
            if (sx >= 0 && sy >= 0 && sx < width_ && sy < height_)
                p = XGetPixel(image, static_cast<int>(sx), static_cast<int>(sy));
            out[0] = p & 0xFF;
            out[1] = (p >> 8) & 0xFF;
            out[2] = (p >> 16) & 0xFF;
        }
    }
    XDestroyImage(image);
}

} // namespace tarnwick::platform::x11
