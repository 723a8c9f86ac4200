#pragma once
// The saver runs inside a session, for a few minutes at a time: it may talk to the session's
// D-Bus bus, but must never start one. Without DBUS_SESSION_BUS_ADDRESS, libdbus (under Qt's
// accessibility bridge and our own desktop-saver inhibition) would run `dbus-launch
// --autolaunch`, whose bus outlives the run.
typedef struct _XDisplay Display;

namespace tarnwick::platform::x11 {

// Leaves DBUS_SESSION_BUS_ADDRESS as it is when set; else points it at the bus the session
// already has (the user bus socket in XDG_RUNTIME_DIR, or a bus that an earlier autolaunch left
// on this X display); else sets it to an address that fails at once instead of launching one.
// Call before Qt first touches the bus.
void useOnlyTheSessionsBus(Display* display);

} // namespace tarnwick::platform::x11
