#pragma once
// The Wayland back end of the window seam, for the program entry. Like the X11 one, it needs a
// QGuiApplication while its objects live; the form window is the program's main window.
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_form_window.h"
#include "platform/window.h"

#include <memory>
#include <string>

namespace tarnwick::platform::wayland {

// Whether the program should talk Wayland: a compositor named in WAYLAND_DISPLAY (any value
// given) and Qt not told to use X11 (`qpaPlatform`, QT_QPA_PLATFORM, may be null).
bool waylandChosen(const char* waylandDisplay, const char* qpaPlatform);
// Whether the compositor in WAYLAND_DISPLAY accepts a connection (before Qt starts, so that a
// session whose compositor is gone can still fall back to X11).
bool compositorAnswers();

// What the Windows calls on other windows become on Wayland, where a client sees no other
// client's windows: finding one finds none, and acting on none does nothing.
class WaylandWindowSystem final : public WindowSystem {
public:
    explicit WaylandWindowSystem(WaylandFormWindow* form) : form_(form) {}
    WindowId findTopLevelWindow(const std::string&) override { return 0; }
    void enableWindow(WindowId, bool) override {}
    void setForegroundWindow(WindowId) override {}
    // Layer surfaces have no taskbar entry, and Wayland offers no way to drop a toplevel's.
    void hideApplicationWindow(const std::string&) override {}
    void setApplicationExStyle(uint32_t) override {}
    void showCursor(bool show) override;
    // No bell request in the core protocol.
    void messageBeep() override {}
    std::string systemDirectory() override { return "/usr/lib"; }

private:
    WaylandFormWindow* form_;
    int cursorCount_ = 0;
};

// "A screen saver runs" has no Wayland counterpart: an idle inhibitor would keep the screen from
// blanking or locking later, which a running saver must not, so the flag is only remembered.
class WaylandSystemSaverState final : public SystemSaverState {
public:
    bool setScreenSaverRunning(bool running) override {
        const bool previous = running_;
        running_ = running;
        return previous;
    }

private:
    bool running_ = false;
};

// One full-screen saver per Wayland session: the lock is held while this object lives. False
// from held() when another saver of the same session holds it.
class SaverInstanceLock {
public:
    explicit SaverInstanceLock(const char* runtimeDir, const char* waylandDisplay);
    ~SaverInstanceLock();
    SaverInstanceLock(const SaverInstanceLock&) = delete;
    SaverInstanceLock& operator=(const SaverInstanceLock&) = delete;
    bool held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

} // namespace tarnwick::platform::wayland
