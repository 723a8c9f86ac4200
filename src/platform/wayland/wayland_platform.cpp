#include "platform/wayland/wayland_platform.h"

#include <wayland-client.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <unistd.h>

namespace tarnwick::platform::wayland {

bool waylandChosen(const char* waylandDisplay, const char* qpaPlatform) {
    if (!waylandDisplay || !*waylandDisplay) return false;
    if (!qpaPlatform) return true;
    // A platform name may carry options after a colon; "xcb" is the user's way to ask for X11.
    const std::string_view text(qpaPlatform);
    return text.substr(0, text.find(':')) != "xcb";
}

bool compositorAnswers() {
    // A relative display name lives in XDG_RUNTIME_DIR; without it libwayland would only print a
    // complaint.
    const char* name = std::getenv("WAYLAND_DISPLAY");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!name || !*name) return false;
    if (name[0] != '/' && (!runtime || !*runtime)) return false;
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return false;
    wl_display_disconnect(display);
    return true;
}

void WaylandWindowSystem::showCursor(bool show) {
    cursorCount_ += show ? 1 : -1;
    if (form_) form_->setCursorHidden(cursorCount_ < 0);
}

SaverInstanceLock::SaverInstanceLock(const char* runtimeDir, const char* waylandDisplay) {
    // Without a runtime folder there is no private place to meet in: nothing is held, nothing
    // refused.
    if (!runtimeDir || !*runtimeDir) {
        held_ = true;
        return;
    }
    std::string name = "tarnwick-saver-";
    // The display may be a path of its own: its slashes would name folders.
    for (const char* p = waylandDisplay ? waylandDisplay : ""; *p; ++p)
        name += *p == '/' ? '_' : *p;
    const std::string path = std::string(runtimeDir) + "/" + name + ".lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        held_ = true;
        return;
    }
    int rc;
    while ((rc = ::flock(fd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    held_ = rc == 0 || errno != EWOULDBLOCK;
}

SaverInstanceLock::~SaverInstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

} // namespace tarnwick::platform::wayland
