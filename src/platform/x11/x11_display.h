#pragma once
// Our own Xlib connections. Qt talks to the server through xcb and owns its event queue, so the
// calls Qt has no wrapper for (screen-saver extension, foreign windows, EWMH requests) go through a
// connection of ours.
// Xlib's macros clash with Qt's names, so this header keeps <X11/Xlib.h> out of its includers.
#include <memory>
#include <string>

typedef struct _XDisplay Display;

namespace tarnwick::platform::x11 {

using XWindow = unsigned long; // Xlib's Window and Atom
using XAtom = unsigned long;

struct DisplayCloser {
    void operator()(Display* display) const;
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// A connection to the server named by DISPLAY; empty when there is none.
DisplayPtr openDisplay();

// Catches the protocol errors of the requests made while it lives instead of letting them reach
// the process-wide handler. Traps may nest (on one display); all X work is on the main thread.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;
    // Waits for the server's answers to everything sent so far and tells whether any failed.
    bool failed();

private:
    Display* display_;
    bool outermost_;
};

XAtom atom(Display* display, const char* name);

// The window's title as a UTF-8 text: _NET_WM_NAME, else WM_NAME; empty when it has none.
std::string windowTitle(Display* display, XWindow window);
// The same for a caller that already holds an ErrorTrap: many windows can then be asked without
// two round trips to the server each for the trap.
std::string windowTitleTrapped(Display* display, XWindow window);

// True when `window` names an existing window.
bool windowExists(Display* display, XWindow window);

// Sends an EWMH client message for `window` to the root, as window managers expect.
void sendRootMessage(Display* display, XWindow window, const char* type, long d0, long d1 = 0,
                     long d2 = 0, long d3 = 0, long d4 = 0);

// Whether the running window manager lists `name` in _NET_SUPPORTED.
bool wmSupports(Display* display, const char* name);

} // namespace tarnwick::platform::x11
