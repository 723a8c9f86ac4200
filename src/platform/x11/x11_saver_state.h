#pragma once
// "A screen saver runs": the X server's own saver suspended and the desktop's saver inhibited.
#include "platform/window.h"
#include "platform/x11/x11_display.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace tarnwick::platform::x11 {

class X11SystemSaverState final : public SystemSaverState {
public:
    X11SystemSaverState();
    ~X11SystemSaverState() override;
    X11SystemSaverState(const X11SystemSaverState&) = delete;
    X11SystemSaverState& operator=(const X11SystemSaverState&) = delete;

    bool setScreenSaverRunning(bool running) override;

    // The desktop saver's inhibition cookie, while one is held.
    std::optional<uint32_t> inhibitCookie() const { return cookie_; }

private:
    void inhibitDesktopSaver();
    void releaseDesktopSaver();

    DisplayPtr display_; // the suspension lasts as long as this connection
    bool running_ = false;
    std::optional<uint32_t> cookie_;
    QString service_;
    QString path_;
};

} // namespace tarnwick::platform::x11
