#include "platform/x11/x11_window_system.h"

#include "platform/x11/x11_form_window.h"

#include <vector>

// Xlib last: its macros (Status, None, Bool...) break Qt's headers.
#include <X11/Xlib.h>

namespace tarnwick::platform::x11 {

namespace {

// Top-level client windows may sit below window-manager frames: look this many levels down.
constexpr int kSearchDepth = 3;

struct XFreeDeleter {
    void operator()(Window* p) const {
        if (p) XFree(p);
    }
};

// The caller holds the ErrorTrap: a window gone meanwhile makes the query fail, which reads as
// no children.
std::vector<Window> children(Display* dpy, Window window) {
    Window root = None;
    Window parent = None;
    Window* raw = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(dpy, window, &root, &parent, &raw, &count)) return {};
    std::unique_ptr<Window, XFreeDeleter> list(raw);
    if (!list) return {};
    return std::vector<Window>(list.get(), list.get() + count);
}

Window findByTitle(Display* dpy, const std::vector<Window>& level, const std::string& caption,
                   int depth) {
    // Breadth first, so that a client window is found before any window nested inside it.
    std::vector<Window> next;
    for (Window w : level) {
        if (windowTitleTrapped(dpy, w) == caption) return w;
        if (depth > 1)
            for (Window c : children(dpy, w)) next.push_back(c);
    }
    if (next.empty()) return None;
    return findByTitle(dpy, next, caption, depth - 1);
}

} // namespace

X11WindowSystem::X11WindowSystem(X11FormWindow* form) : form_(form), display_(openDisplay()) {}

WindowId X11WindowSystem::findTopLevelWindow(const std::string& caption) {
    Display* dpy = display_.get();
    if (!dpy) return 0;
    // One trap for the whole walk: a trap per window costs two round trips each, which added tens
    // of milliseconds to the end of the settings dialog under a window manager.
    ErrorTrap trap(dpy);
    return static_cast<WindowId>(
        findByTitle(dpy, children(dpy, DefaultRootWindow(dpy)), caption, kSearchDepth));
}

// X11 has no disabled state for another client's window, so there is nothing to change.
void X11WindowSystem::enableWindow(WindowId, bool) {}

void X11WindowSystem::setForegroundWindow(WindowId window) {
    Display* dpy = display_.get();
    if (!dpy || window == 0 || !windowExists(dpy, static_cast<Window>(window))) return;
    const auto id = static_cast<Window>(window);
    if (wmSupports(dpy, "_NET_ACTIVE_WINDOW"))
        sendRootMessage(dpy, id, "_NET_ACTIVE_WINDOW", 2 /* pager: a user's request */, CurrentTime,
                        0);
    ErrorTrap trap(dpy);
    XRaiseWindow(dpy, id);
}

void X11WindowSystem::hideApplicationWindow(const std::string&) {
    // The form is this application's only window with a taskbar entry, whatever its title.
    if (form_) form_->setSkipTaskbar();
}

void X11WindowSystem::setApplicationExStyle(uint32_t exStyle) {
    // A tool window stays out of the taskbar and task switcher; topmost on the hidden application
    // window has nothing to act on here.
    if (form_ && (exStyle & WS_EX_TOOLWINDOW)) form_->setSkipTaskbar();
}

void X11WindowSystem::showCursor(bool show) {
    cursorCount_ += show ? 1 : -1;
    if (form_ && form_->cursorHidden() != (cursorCount_ < 0))
        form_->setCursorHidden(cursorCount_ < 0);
}

void X11WindowSystem::messageBeep() {
    if (Display* dpy = display_.get()) {
        XBell(dpy, 0);
        XFlush(dpy);
    }
}

// The system's library folder on Debian-like systems; nothing of ours is looked up there.
std::string X11WindowSystem::systemDirectory() {
    return "/usr/lib";
}

} // namespace tarnwick::platform::x11
