#include "platform/x11/x11_platform.h"

#include "platform/x11/x11_form_window.h"
#include "platform/x11/x11_saver_state.h"
#include "platform/x11/x11_window_system.h"

namespace tarnwick::platform {

std::unique_ptr<FormWindow> createFormWindow() {
    return std::make_unique<x11::X11FormWindow>();
}

std::unique_ptr<WindowSystem> createWindowSystem(FormWindow& form) {
    return std::make_unique<x11::X11WindowSystem>(dynamic_cast<x11::X11FormWindow*>(&form));
}

std::unique_ptr<SystemSaverState> createSystemSaverState() {
    return std::make_unique<x11::X11SystemSaverState>();
}

} // namespace tarnwick::platform
