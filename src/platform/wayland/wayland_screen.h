#pragma once
// The screen on Wayland: the outputs' layout, and the desktop read through the compositor's
// screencopy (wlroots compositors) or handed in from elsewhere (the desktop portal). Where none
// can be read the picture is a stand-in, and stderr says once why.
#include "platform/screen.h"
#include "platform/wayland/wayland_connection.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::platform::wayland {

class WaylandScreen final : public Screen {
public:
    explicit WaylandScreen(Connection& connection) : connection_(connection) {}

    // The outputs' bounding box in frame pixels (logical size at the largest scale), as the
    // form window lays out its frame.
    Rect virtualDesktop() override;
    void capture(const Rect& source, int32_t width, int32_t height, uint8_t* rows,
                 std::ptrdiff_t stride) override;

    // Reads the desktop now, before any surface maps, and keeps it for the next capture; false
    // with `why` when the compositor copies none.
    bool copyDesktop(std::string& why);
    // Keeps a picture of the desktop got elsewhere (24-bit rows of blue, green and red bytes) for
    // the next capture, stretched to the outputs' layout.
    void keepDesktop(const uint8_t* rows, int32_t width, int32_t height, std::ptrdiff_t stride);
    // Says on stderr why the desktop cannot be shown, once; later captures fail with it.
    void explainUnreadable(const std::string& why);

private:
    // The whole desktop, 0xAARRGGBB, at virtualDesktop()'s size; the reason when it cannot be read.
    std::optional<std::vector<uint32_t>> readDesktop(std::string& why);

    Connection& connection_;
    std::optional<std::vector<uint32_t>> kept_;
    std::string unreadable_;
};

} // namespace tarnwick::platform::wayland
