#include "platform/x11/x11_display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>

namespace tarnwick::platform::x11 {

namespace {

Display* trappedDisplay = nullptr;
bool trappedError = false;
int (*outerHandler)(Display*, XErrorEvent*) = nullptr;

int trapHandler(Display* display, XErrorEvent* event) {
    if (display == trappedDisplay) {
        trappedError = true;
        return 0;
    }
    return outerHandler ? outerHandler(display, event) : 0;
}

// Frees what Xlib allocated for a property.
struct XFreeDeleter {
    void operator()(unsigned char* p) const {
        if (p) XFree(p);
    }
};
using XData = std::unique_ptr<unsigned char, XFreeDeleter>;

} // namespace

void DisplayCloser::operator()(Display* display) const {
    XCloseDisplay(display);
}

DisplayPtr openDisplay() {
    return DisplayPtr(XOpenDisplay(nullptr));
}

ErrorTrap::ErrorTrap(Display* display) : display_(display), outermost_(trappedDisplay == nullptr) {
    XSync(display_, False);
    if (!outermost_) return;
    trappedDisplay = display_;
    trappedError = false;
    outerHandler = XSetErrorHandler(trapHandler);
}

ErrorTrap::~ErrorTrap() {
    XSync(display_, False);
    if (!outermost_) return;
    XSetErrorHandler(outerHandler);
    trappedDisplay = nullptr;
    outerHandler = nullptr;
}

bool ErrorTrap::failed() {
    XSync(display_, False);
    return trappedError;
}

XAtom atom(Display* display, const char* name) {
    return XInternAtom(display, name, False);
}

std::string windowTitle(Display* display, XWindow window) {
    ErrorTrap trap(display);
    return windowTitleTrapped(display, window);
}

std::string windowTitleTrapped(Display* display, XWindow window) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* raw = nullptr;
    if (XGetWindowProperty(display, window, atom(display, "_NET_WM_NAME"), 0, 4096, False,
                           atom(display, "UTF8_STRING"), &type, &format, &count, &after,
                           &raw) == Success) {
        XData data(raw);
        if (data && format == 8 && count > 0)
            return std::string(reinterpret_cast<const char*>(data.get()), count);
    }
    raw = nullptr;
    if (XGetWindowProperty(display, window, XA_WM_NAME, 0, 4096, False, AnyPropertyType, &type,
                           &format, &count, &after, &raw) == Success) {
        XData data(raw);
        if (data && format == 8 && count > 0)
            return std::string(reinterpret_cast<const char*>(data.get()), count);
    }
    return {};
}

bool windowExists(Display* display, XWindow window) {
    if (window == None) return false;
    ErrorTrap trap(display);
    XWindowAttributes attributes;
    const Status status = XGetWindowAttributes(display, window, &attributes);
    return status != 0 && !trap.failed();
}

void sendRootMessage(Display* display, XWindow window, const char* type, long d0, long d1, long d2,
                     long d3, long d4) {
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = atom(display, type);
    event.xclient.format = 32;
    event.xclient.data.l[0] = d0;
    event.xclient.data.l[1] = d1;
    event.xclient.data.l[2] = d2;
    event.xclient.data.l[3] = d3;
    event.xclient.data.l[4] = d4;
    ErrorTrap trap(display);
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

bool wmSupports(Display* display, const char* name) {
    ErrorTrap trap(display);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* raw = nullptr;
    if (XGetWindowProperty(display, DefaultRootWindow(display), atom(display, "_NET_SUPPORTED"), 0,
                           65536, False, XA_ATOM, &type, &format, &count, &after, &raw) != Success)
        return false;
    XData data(raw);
    if (!data || format != 32) return false;
    const Atom wanted = atom(display, name);
    const auto* atoms = reinterpret_cast<const Atom*>(data.get()); // format 32 arrives as longs
    for (unsigned long i = 0; i < count; ++i)
        if (atoms[i] == wanted) return true;
    return false;
}

} // namespace tarnwick::platform::x11
