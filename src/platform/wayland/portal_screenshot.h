#pragma once
// The desktop portal's screenshot (org.freedesktop.portal.Screenshot on the session bus): how a
// program reads the desktop where the compositor offers no screencopy (GNOME, KDE).
#include <chrono>
#include <optional>
#include <string>

namespace tarnwick::platform::wayland {

// Asks the portal for a non-interactive screenshot and waits at most `wait` for it: the path of
// the picture file the portal wrote, or nullopt with `why` set (no session bus or no portal, the
// user or the portal refused, no answer in time; a request still open then is closed). The
// portal keeps the file. Runs a local event loop: call it before the program's windows and timers
// exist.
std::optional<std::string> portalScreenshot(std::chrono::milliseconds wait, std::string& why);

// The local path a file: URI names, its %-escapes decoded to bytes; nullopt for any other URI,
// another host's file, or an escaped NUL.
std::optional<std::string> localPathOfUri(const std::string& uri);

} // namespace tarnwick::platform::wayland
