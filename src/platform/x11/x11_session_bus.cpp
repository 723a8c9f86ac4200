#include "platform/x11/x11_session_bus.h"

#include "platform/x11/x11_display.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// Xlib last: its macros break other headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace tarnwick::platform::x11 {

namespace {

constexpr const char* kVariable = "DBUS_SESSION_BUS_ADDRESS";
// Not a transport libdbus knows: every connection attempt fails without side effects.
constexpr const char* kNoBus = "disabled:";

// A D-Bus address value: bytes outside the few always allowed are %-escaped.
std::string escaped(const std::string& bytes) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : bytes) {
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
            c == '-' || c == '_' || c == '/' || c == '.' || c == '\\' || c == '*') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// The user bus of a systemd or elogind session: a socket of ours in XDG_RUNTIME_DIR.
std::string userBus() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if (!dir || *dir != '/') return {};
    const std::string path = std::string(dir) + "/bus";
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != getuid()) return {};
    return "unix:path=" + escaped(path);
}

std::string machineId() {
    for (const char* file : {"/var/lib/dbus/machine-id", "/etc/machine-id"}) {
        std::string id;
        std::ifstream(file) >> id;
        if (id.size() == 32) return id;
    }
    return {};
}

// dbus-launch --autolaunch keeps its bus's address on a window that owns a selection named
// after the user and the machine.
std::string autolaunchedBus(Display* display) {
    const passwd* pw = getpwuid(getuid());
    const std::string id = machineId();
    if (!display || !pw || id.empty()) return {};
    const std::string selection =
        std::string("_DBUS_SESSION_BUS_SELECTION_") + pw->pw_name + "_" + id;
    ErrorTrap trap(display);
    const Window owner = XGetSelectionOwner(display, atom(display, selection.c_str()));
    if (owner == None) return {};
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string address;
    if (XGetWindowProperty(display, owner, atom(display, "_DBUS_SESSION_BUS_ADDRESS"), 0, 1024,
                           False, XA_STRING, &type, &format, &count, &after, &data) == Success &&
        type == XA_STRING && format == 8 && data)
        address.assign(reinterpret_cast<const char*>(data), count);
    if (data) XFree(data);
    return trap.failed() ? std::string() : address;
}

} // namespace

void useOnlyTheSessionsBus(Display* display) {
    const char* set = std::getenv(kVariable);
    if (set && *set) return;
    std::string address = userBus();
    if (address.empty()) address = autolaunchedBus(display);
    setenv(kVariable, address.empty() ? kNoBus : address.c_str(), 1);
}

} // namespace tarnwick::platform::x11
