#pragma once
// The screen on X11: the root window, which spans every monitor, read with MIT-SHM.
#include "platform/screen.h"
#include "platform/x11/x11_display.h"

namespace tarnwick::platform::x11 {

class X11Screen : public Screen {
public:
    // Uses `display` when given; else the Qt application's connection when one runs on xcb (then
    // the screen must not outlive the application); else a connection of its own. Throws
    // "Cannot open display" when there is no X server.
    explicit X11Screen(Display* display = nullptr);
    ~X11Screen() override;
    X11Screen(const X11Screen&) = delete;
    X11Screen& operator=(const X11Screen&) = delete;

    // On X11 the root window is the virtual desktop; its origin is always (0, 0).
    Rect virtualDesktop() override;
    // Parts of `source` outside the root window are black. Stretching takes the pixel under each
    // destination pixel's centre, the same rule as the frame's stretch copy.
    void capture(const Rect& source, int32_t width, int32_t height, uint8_t* rows,
                 std::ptrdiff_t stride) override;

private:
    DisplayPtr own_;
    Display* display_ = nullptr;
};

} // namespace tarnwick::platform::x11
