#include "x11_test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <stdexcept>

// Xlib last: its macros break Qt's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/scrnsaver.h>

namespace tarnwick::testing {

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

void pump(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

OtherClient::OtherClient() : display_(platform::x11::openDisplay()) {
    if (!display_) throw std::runtime_error("no X server: the test runs under Xvfb");
}

unsigned long OtherClient::createWindow(int width, int height, const std::string& wmName,
                                        const std::string& netWmName, unsigned long parent) {
    Display* dpy = display();
    const Window p = parent ? parent : DefaultRootWindow(dpy);
    const Window w = XCreateSimpleWindow(dpy, p, 0, 0, static_cast<unsigned>(width),
                                         static_cast<unsigned>(height), 0, 0, 0x808080);
    if (!wmName.empty()) XStoreName(dpy, w, wmName.c_str());
    if (!netWmName.empty())
        XChangeProperty(dpy, w, XInternAtom(dpy, "_NET_WM_NAME", False),
                        XInternAtom(dpy, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(netWmName.data()),
                        static_cast<int>(netWmName.size()));
    XMapWindow(dpy, w);
    XSync(dpy, False);
    return w;
}

void OtherClient::destroyWindow(unsigned long window) {
    XDestroyWindow(display(), window);
    XSync(display(), False);
}

void OtherClient::focus(unsigned long window) {
    XSetInputFocus(display(), window, RevertToParent, CurrentTime);
    XSync(display(), False);
}

void OtherClient::requestClose(unsigned long window) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(display(), "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(display(), "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(display(), window, False, NoEventMask, &e);
    XSync(display(), False);
}

bool OtherClient::isViewable(unsigned long window) {
    platform::x11::ErrorTrap trap(display());
    XWindowAttributes a;
    if (!XGetWindowAttributes(display(), window, &a) || trap.failed()) return false;
    return a.map_state == IsViewable;
}

std::vector<unsigned long> OtherClient::children(unsigned long window) {
    Window root = 0, parent = 0;
    Window* list = nullptr;
    unsigned int n = 0;
    platform::x11::ErrorTrap trap(display());
    if (!XQueryTree(display(), window, &root, &parent, &list, &n)) return {};
    std::vector<unsigned long> out(list, list + n);
    if (list) XFree(list);
    return out;
}

OtherClient::Geometry OtherClient::geometry(unsigned long window) {
    XWindowAttributes a{};
    platform::x11::ErrorTrap trap(display());
    XGetWindowAttributes(display(), window, &a);
    return {a.x, a.y, a.width, a.height};
}

std::vector<std::string> OtherClient::atomList(unsigned long window, const char* property) {
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<std::string> out;
    if (XGetWindowProperty(display(), window, XInternAtom(display(), property, False), 0, 1024,
                           False, XA_ATOM, &type, &format, &n, &after, &data) != Success)
        return out;
    if (data && format == 32) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        for (unsigned long i = 0; i < n; ++i) {
            char* name = XGetAtomName(display(), atoms[i]);
            out.emplace_back(name);
            XFree(name);
        }
    }
    if (data) XFree(data);
    return out;
}

uint32_t OtherClient::screenPixel(int x, int y) {
    XImage* image =
        XGetImage(display(), DefaultRootWindow(display()), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0xFFFFFFFF;
    const auto pixel = static_cast<uint32_t>(XGetPixel(image, 0, 0)) & 0xFFFFFF;
    XDestroyImage(image);
    return pixel;
}

std::vector<uint32_t> OtherClient::windowPixels(unsigned long window) {
    const Geometry g = geometry(window);
    std::vector<uint32_t> out;
    if (g.width <= 0 || g.height <= 0) return out;
    platform::x11::ErrorTrap trap(display());
    XImage* image = XGetImage(display(), window, 0, 0, static_cast<unsigned>(g.width),
                              static_cast<unsigned>(g.height), AllPlanes, ZPixmap);
    if (!image) return out;
    out.reserve(static_cast<size_t>(g.width) * static_cast<size_t>(g.height));
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
            out.push_back(static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFF);
    XDestroyImage(image);
    return out;
}

int OtherClient::serverSaverState() {
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    XScreenSaverQueryInfo(display(), DefaultRootWindow(display()), info);
    const int state = info->state;
    XFree(info);
    return state;
}

void OtherClient::setServerSaverTimeout(int seconds) {
    XSetScreenSaver(display(), seconds, 0, DontPreferBlanking, AllowExposures);
    XSync(display(), False);
}

void OtherClient::forceServerSaver(bool on) {
    XForceScreenSaver(display(), on ? ScreenSaverActive : ScreenSaverReset);
    XSync(display(), False);
}

bool OtherClient::cursorInvisible() {
    XFixesCursorImage* image = XFixesGetCursorImage(display());
    if (!image) return false;
    bool invisible = true;
    for (unsigned long i = 0; i < static_cast<unsigned long>(image->width) * image->height; ++i)
        if ((image->pixels[i] >> 24) & 0xFF) invisible = false;
    XFree(image);
    return invisible;
}

unsigned long OtherClient::root() {
    return DefaultRootWindow(display());
}

int OtherClient::screenWidth() {
    return DisplayWidth(display(), DefaultScreen(display()));
}
int OtherClient::screenHeight() {
    return DisplayHeight(display(), DefaultScreen(display()));
}

std::string runTool(const std::string& program, const std::vector<std::string>& args,
                    int* exitCode) {
    QProcess process;
    QStringList list;
    for (const auto& a : args) list << QString::fromStdString(a);
    process.start(QString::fromStdString(program), list);
    process.waitForFinished(10000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput().toStdString();
}

} // namespace tarnwick::testing
