#pragma once
// The desktop as an XScreenSaver daemon saw it. By the time a hack starts, the daemon's window
// covers the screen, so a grab would only show that window.
#include "platform/screen.h"
#include "platform/x11/x11_display.h"

namespace tarnwick::platform::x11 {

class DaemonScreen final : public Screen {
public:
    // Where the snapshot came from; chosen on first use, in this order of preference.
    enum class Source {
        Unresolved,
        Screenshot, // the pixmap the daemon keeps on its window
        Helper,     // the daemon's image-grabbing program, painting a pixmap of ours
        Grab,       // the screen itself
        Nothing,    // nothing: the screen is covered and no grab may stand in
    };

    // `window` is the daemon's window (0 for none: always grab). Without `grabAllowed` a grab is
    // not tried, and captures fail when the daemon gives no snapshot. With `verbose` the source
    // is reported once on stderr, prefixed with `program`.
    DaemonScreen(Screen& grab, Display* display, XWindow window, bool grabAllowed, bool verbose,
                 const char* program);
    ~DaemonScreen() override;
    DaemonScreen(const DaemonScreen&) = delete;
    DaemonScreen& operator=(const DaemonScreen&) = delete;

    Rect virtualDesktop() override;
    void capture(const Rect& source, int32_t width, int32_t height, uint8_t* rows,
                 std::ptrdiff_t stride) override;

private:
    Source source();
    bool takeScreenshot();
    bool runHelper();

    Screen& grab_;
    Display* display_;
    XWindow window_;
    bool grabAllowed_;
    bool verbose_;
    const char* program_;
    Source source_ = Source::Unresolved;
    unsigned long pixmap_ = 0;
    bool ownsPixmap_ = false;
    int32_t width_ = 0, height_ = 0;
};

} // namespace tarnwick::platform::x11
