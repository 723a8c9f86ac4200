#pragma once
// What the programs say, and keep quiet about, before and while they run: one plain line when
// there is no X server to draw on, and none of the libraries' routine chatter on stderr.
#include <string>
#include <string_view>

namespace tarnwick::host {

// The one line (with its newline) printed when no X11 display can be opened; it names the
// display tried (`display`, may be null). A Wayland session gets told that the saver needs X11 or
// XWayland.
std::string noDisplayMessage(std::string_view program, const char* display, bool waylandSession);

// Whether QT_QPA_PLATFORM (`qpaPlatform`, may be null) names one of Qt's platforms without a
// screen (offscreen, minimal), as tests do: then no X server is needed to start.
bool headlessQtPlatform(const char* qpaPlatform);

// Keeps Qt's debug, info and warning messages (such as "XDG_RUNTIME_DIR not set") off stderr;
// its critical and fatal messages still show.
void keepQtChatterQuiet();

} // namespace tarnwick::host
