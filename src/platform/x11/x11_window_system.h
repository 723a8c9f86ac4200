#pragma once
// What the host does to other windows and to the session, on X11.
#include "platform/window.h"
#include "platform/x11/x11_display.h"

namespace tarnwick::platform::x11 {

class X11FormWindow;

class X11WindowSystem final : public WindowSystem {
public:
    // `form` may be null: the calls on the application's own window then do nothing.
    explicit X11WindowSystem(X11FormWindow* form);

    WindowId findTopLevelWindow(const std::string& caption) override;
    void enableWindow(WindowId window, bool enable) override;
    void setForegroundWindow(WindowId window) override;
    void hideApplicationWindow(const std::string& title) override;
    void setApplicationExStyle(uint32_t exStyle) override;
    void showCursor(bool show) override;
    void messageBeep() override;
    std::string systemDirectory() override;

    int cursorCount() const { return cursorCount_; }

private:
    X11FormWindow* form_;
    DisplayPtr display_;
    int cursorCount_ = 0; // the cursor shows while this is not negative
};

} // namespace tarnwick::platform::x11
