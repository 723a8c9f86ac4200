#include "host/quiet_start.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>

namespace tarnwick::host {

std::string noDisplayMessage(std::string_view program, const char* display, bool waylandSession) {
    std::string line(program);
    if (display && *display)
        line += ": cannot open the X11 display \"" + std::string(display) + "\"; ";
    else
        line += ": cannot open an X11 display (DISPLAY is not set); ";
    line += waylandSession ? "under Wayland, Tarnwick Screensaver runs on X11 or XWayland"
                           : "Tarnwick Screensaver needs an X11 display";
    return line + "\n";
}

bool headlessQtPlatform(const char* qpaPlatform) {
    if (qpaPlatform == nullptr) return false;
    // A platform name may carry options after a colon.
    const std::string_view text(qpaPlatform);
    const std::string_view name = text.substr(0, text.find(':'));
    return name == "offscreen" || name == "minimal";
}

namespace {
QtMessageHandler previousHandler = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg) return;
    if (previousHandler)
        previousHandler(type, context, text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}
} // namespace

void keepQtChatterQuiet() {
    QtMessageHandler old = qInstallMessageHandler(quietHandler);
    if (old != quietHandler) previousHandler = old;
}

} // namespace tarnwick::host
