#pragma once
// The X11/Qt back end of the window seam, for the program entry.
//
// A QGuiApplication (or QApplication) must exist before any of these is created, and the objects
// must be destroyed before it. The form window is the program's main window: when it closes (by
// close(), the window manager, or its foreign preview parent going away), the listener's closed()
// runs once and then the application's event loop is asked to end with exit code 0.
#include "platform/window.h"

#include <memory>

namespace tarnwick::platform {

std::unique_ptr<FormWindow> createFormWindow();
// The window system acts on `form` where the Windows calls act on the application's own window
// (taskbar entry, tool-window style) and on the cursor.
std::unique_ptr<WindowSystem> createWindowSystem(FormWindow& form);
std::unique_ptr<SystemSaverState> createSystemSaverState();

} // namespace tarnwick::platform
