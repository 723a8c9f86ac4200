#include "platform/x11/x11_screen.h"

#include "platform/error.h"

// Qt before Xlib: Xlib's macros (None, Bool, ...) break Qt's headers.
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace tarnwick::platform::x11 {

namespace {

struct ImageDeleter {
    void operator()(XImage* image) const { XDestroyImage(image); }
};
using ImagePtr = std::unique_ptr<XImage, ImageDeleter>;

// A shared-memory image attached to the server; everything is undone in reverse order.
class SharedImage {
public:
    SharedImage(Display* display, int width, int height) : display_(display) {
        const int screen = DefaultScreen(display);
        image_.reset(XShmCreateImage(display, DefaultVisual(display, screen),
                                     static_cast<unsigned>(DefaultDepth(display, screen)), ZPixmap,
                                     nullptr, &info_, static_cast<unsigned>(width),
                                     static_cast<unsigned>(height)));
        if (!image_) return;
        info_.shmid =
            shmget(IPC_PRIVATE, static_cast<size_t>(image_->bytes_per_line) * image_->height,
                   IPC_CREAT | 0600);
        if (info_.shmid < 0) return;
        void* address = shmat(info_.shmid, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) return;
        info_.shmaddr = image_->data = static_cast<char*>(address);
        info_.readOnly = False;
        ErrorTrap trap(display);
        XShmAttach(display, &info_);
        attached_ = !trap.failed();
        // Marked for removal at once: the segment goes when the last user detaches, even if we
        // crash.
        shmctl(info_.shmid, IPC_RMID, nullptr);
    }
    ~SharedImage() {
        if (attached_) {
            XShmDetach(display_, &info_);
            XSync(display_, False);
        }
        image_.reset(); // the image's destroy function leaves the shared data alone
        if (info_.shmaddr)
            shmdt(info_.shmaddr);
        else if (info_.shmid >= 0)
            shmctl(info_.shmid, IPC_RMID, nullptr);
    }
    SharedImage(const SharedImage&) = delete;
    SharedImage& operator=(const SharedImage&) = delete;

    // Reads the root window's rectangle; false when the server could not.
    bool read(int x, int y) {
        if (!attached_) return false;
        ErrorTrap trap(display_);
        const Status ok =
            XShmGetImage(display_, DefaultRootWindow(display_), image_.get(), x, y, AllPlanes);
        if (ok == 0 || trap.failed()) return false;
#ifdef MADV_POPULATE_READ
        // The server has filled the segment; mapping all of it at once is far cheaper than a
        // fault per page while copying. Only advice: older kernels refuse it.
        madvise(image_->data, static_cast<size_t>(image_->bytes_per_line) * image_->height,
                MADV_POPULATE_READ);
#endif
        return true;
    }
    XImage* image() const {
        return image_.get();
    }

private:
    Display* display_;
    XShmSegmentInfo info_{0, -1, nullptr, False};
    ImagePtr image_;
    bool attached_ = false;
};

// One channel of a pixel value, scaled to 0..255.
uint8_t channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    const unsigned long max = mask >> shift;
    return static_cast<uint8_t>(((pixel & mask) >> shift) * 255 / max);
}

// The source index under destination index i: the stretch copy's nearest rule.
int64_t sourceIndex(int64_t i, int64_t start, int64_t length, int64_t count) {
    return start + (2 * i + 1) * length / (2 * count);
}

} // namespace

X11Screen::X11Screen(Display* display) : display_(display) {
    if (!display_ && qGuiApp) {
        if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
            display_ = x11->display();
    }
    if (!display_) {
        own_ = openDisplay();
        display_ = own_.get();
    }
    if (!display_) throw Error("Cannot open display");
}

X11Screen::~X11Screen() = default;

Rect X11Screen::virtualDesktop() {
    XWindowAttributes root{};
    XGetWindowAttributes(display_, DefaultRootWindow(display_), &root);
    return {0, 0, root.width, root.height};
}

void X11Screen::capture(const Rect& source, int32_t width, int32_t height, uint8_t* rows,
                        std::ptrdiff_t stride) {
    if (width <= 0 || height <= 0) return;
    for (int32_t y = 0; y < height; ++y) std::memset(rows + stride * y, 0, size_t(width) * 3);
    const int64_t srcW = int64_t{source.right} - source.left;
    const int64_t srcH = int64_t{source.bottom} - source.top;
    const Rect root = virtualDesktop();
    const int32_t left = std::max(source.left, root.left);
    const int32_t top = std::max(source.top, root.top);
    const int32_t right = std::min(source.right, root.right);
    const int32_t bottom = std::min(source.bottom, root.bottom);
    if (srcW <= 0 || srcH <= 0 || left >= right || top >= bottom) return;
    const int cw = right - left;
    const int ch = bottom - top;

    // MIT-SHM is an order of magnitude faster than XGetImage; a remote server has no shared
    // memory with us, and then the plain request serves.
    std::unique_ptr<SharedImage> shared;
    ImagePtr plain;
    XImage* image = nullptr;
    if (XShmQueryExtension(display_)) {
        shared = std::make_unique<SharedImage>(display_, cw, ch);
        if (shared->image() && shared->read(left, top)) image = shared->image();
    }
    if (!image) {
        ErrorTrap trap(display_);
        plain.reset(XGetImage(display_, DefaultRootWindow(display_), left, top,
                              static_cast<unsigned>(cw), static_cast<unsigned>(ch), AllPlanes,
                              ZPixmap));
        if (trap.failed()) plain.reset();
        image = plain.get();
    }
    if (!image) throw Error("Cannot read the screen");

    std::vector<int32_t> columns(static_cast<size_t>(width));
    for (int32_t x = 0; x < width; ++x) {
        const int64_t sx = sourceIndex(x, source.left, srcW, width);
        columns[static_cast<size_t>(x)] = sx >= left && sx < right ? int32_t(sx - left) : -1;
    }
    const bool bgrx = image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
                      image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 &&
                      image->blue_mask == 0xFF;
    for (int32_t y = 0; y < height; ++y) {
        const int64_t sy = sourceIndex(y, source.top, srcH, height);
        if (sy < top || sy >= bottom) continue;
        const int iy = static_cast<int>(sy - top);
        uint8_t* out = rows + stride * y;
        const auto* line = reinterpret_cast<const uint8_t*>(image->data) +
                           std::ptrdiff_t{image->bytes_per_line} * iy;
        for (int32_t x = 0; x < width; ++x) {
            const int32_t ix = columns[static_cast<size_t>(x)];
            if (ix < 0) continue;
            if (bgrx) {
                std::memcpy(out + 3 * x, line + 4 * ix, 3);
            } else {
                const unsigned long pixel = XGetPixel(image, ix, iy);
                out[3 * x] = channel(pixel, image->blue_mask);
                out[3 * x + 1] = channel(pixel, image->green_mask);
                out[3 * x + 2] = channel(pixel, image->red_mask);
            }
        }
    }
}

} // namespace tarnwick::platform::x11
