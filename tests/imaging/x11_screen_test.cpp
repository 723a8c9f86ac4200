// The X11 screen against a root window that shows a known picture (under Xvfb).
#include "platform/x11/x11_screen.h"

#include "fakes/fake_screen.h"
#include "imaging/capture.h"
#include "support/pictures.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

// Xlib last: its macros (None, Bool) break the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace tarnwick {
namespace {

using namespace tarnwick::testing;
using fakes::FakeScreen;
using platform::x11::X11Screen;

// Shows FakeScreen's picture as the root window's background, which stays until replaced.
class KnownRoot : public ::testing::Test {
protected:
    void SetUp() override {
        display_ = XOpenDisplay(nullptr);
        ASSERT_NE(display_, nullptr) << "no X server";
        const int screen = DefaultScreen(display_);
        width_ = DisplayWidth(display_, screen);
        height_ = DisplayHeight(display_, screen);
        ASSERT_EQ(DefaultDepth(display_, screen), 24);
        std::vector<uint32_t> data(size_t(width_) * height_);
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) {
                const Bgr p = FakeScreen::pixelAt(x, y);
                data[size_t(y) * width_ + x] = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
            }
        const Window root = DefaultRootWindow(display_);
        XImage* image = XCreateImage(display_, DefaultVisual(display_, screen), 24, ZPixmap, 0,
                                     reinterpret_cast<char*>(data.data()), unsigned(width_),
                                     unsigned(height_), 32, 0);
        const Pixmap pixmap =
            XCreatePixmap(display_, root, unsigned(width_), unsigned(height_), 24);
        const GC gc = XCreateGC(display_, pixmap, 0, nullptr);
        XPutImage(display_, pixmap, gc, image, 0, 0, 0, 0, unsigned(width_), unsigned(height_));
        image->data = nullptr; // ours, not Xlib's
        XDestroyImage(image);
        XFreeGC(display_, gc);
        XSetWindowBackgroundPixmap(display_, root, pixmap);
        XClearWindow(display_, root);
        XFreePixmap(display_, pixmap);
        XSync(display_, False);
    }
    void TearDown() override {
        if (display_) XCloseDisplay(display_);
    }

    Display* display_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

TEST_F(KnownRoot, VirtualDesktopIsTheRootWindow) {
    X11Screen screen;
    EXPECT_EQ(screen.virtualDesktop(), (Rect{0, 0, width_, height_}));
}

TEST_F(KnownRoot, CaptureCopiesStretchesAndBlacksOutTheOutside) {
    X11Screen screen;
    const struct {
        Rect source;
        int32_t w, h;
    } cases[] = {
        {{0, 0, width_, height_}, width_, height_},
        {{100, 50, 333, 251}, 233, 201},
        {{10, 20, 410, 220}, 100, 50},
        {{5, 5, 45, 25}, 160, 60},
        {{width_ - 30, -20, width_ + 30, 40}, 60, 60},
        {{-100, -100, -10, -10}, 9, 9},
    };
    for (const auto& c : cases) {
        WorkBitmap shot;
        SetBitmapSize(shot, c.w, c.h);
        screen.capture(c.source, c.w, c.h, shot.data(), shot.stride());
        // The fake screen stretches by the same rule and is black outside its desktop.
        FakeScreen expected({0, 0, width_, height_});
        WorkBitmap want;
        SetBitmapSize(want, c.w, c.h);
        expected.capture(c.source, c.w, c.h, want.data(), want.stride());
        EXPECT_EQ(differences(shot, want), "") << c.source.left << "," << c.source.top << ","
                                               << c.source.right << "," << c.source.bottom;
    }
}

TEST_F(KnownRoot, CaptureScreenRectThroughQtsConnection) {
    static int argc = 1;
    static char name[] = "x11_screen_test";
    static char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    X11Screen screen;
    const Rect desktop = screen.virtualDesktop();
    const auto bitmap =
        CaptureScreenRect(screen, {0, 0, desktop.width(), desktop.height()}, desktop);
    ASSERT_EQ(bitmap->width(), width_);
    for (const auto& [x, y] : {std::pair{0, 0}, {width_ - 1, height_ - 1}, {777, 333}})
        EXPECT_EQ(pixel(*bitmap, x, y), FakeScreen::pixelAt(x, y)) << x << "," << y;
}

} // namespace
} // namespace tarnwick
