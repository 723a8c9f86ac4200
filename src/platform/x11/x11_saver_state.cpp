#include "platform/x11/x11_saver_state.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

#include <array>

// Xlib last: its macros (Status, None, Bool...) break Qt's headers.
#include <X11/extensions/scrnsaver.h>

namespace tarnwick::platform::x11 {

namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kInterface = QStringLiteral("org.freedesktop.ScreenSaver");
// Desktops export the interface at either path.
const std::array<QString, 2> kPaths = {QStringLiteral("/org/freedesktop/ScreenSaver"),
                                       QStringLiteral("/ScreenSaver")};
// A desktop saver that does not answer within this time is left alone.
constexpr int kCallTimeoutMs = 2000;

} // namespace

X11SystemSaverState::X11SystemSaverState() : display_(openDisplay()) {}

X11SystemSaverState::~X11SystemSaverState() {
    if (running_) setScreenSaverRunning(false);
}

bool X11SystemSaverState::setScreenSaverRunning(bool running) {
    const bool previous = running_;
    if (running == running_) return previous;
    running_ = running;
    if (Display* dpy = display_.get()) {
        int event = 0;
        int error = 0;
        int major = 0;
        int minor = 0;
        // Suspension came with version 1.1 of the extension.
        if (XScreenSaverQueryExtension(dpy, &event, &error) &&
            XScreenSaverQueryVersion(dpy, &major, &minor) && (major > 1 || minor >= 1)) {
            ErrorTrap trap(dpy);
            XScreenSaverSuspend(dpy, running ? True : False);
        }
        if (!running) XResetScreenSaver(dpy);
        XFlush(dpy);
    }
    if (running)
        inhibitDesktopSaver();
    else
        releaseDesktopSaver();
    return previous;
}

void X11SystemSaverState::inhibitDesktopSaver() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return;
    // Asking first avoids waiting for a service the bus would try to start.
    const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(kService);
    if (!registered.isValid() || !registered.value()) return;
    for (const QString& path : kPaths) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, path, kInterface, QStringLiteral("Inhibit"));
        call << QStringLiteral("Tarnwick Screensaver") << QStringLiteral("The screen saver runs");
        const QDBusReply<uint> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
        if (reply.isValid()) {
            cookie_ = reply.value();
            service_ = kService;
            path_ = path;
            return;
        }
    }
}

void X11SystemSaverState::releaseDesktopSaver() {
    if (!cookie_) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(service_, path_, kInterface,
                                                           QStringLiteral("UnInhibit"));
        call << *cookie_;
        bus.call(call, QDBus::Block, kCallTimeoutMs);
    }
    cookie_.reset();
}

} // namespace tarnwick::platform::x11
