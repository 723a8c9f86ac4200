#pragma once
// The screen on Wayland: the outputs' layout, and the desktop read through the compositor's
// screencopy (wlroots compositors). Where none can be read the picture is a stand-in, and stderr
// says once why.
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

    // Whether the compositor offers a way to read the desktop at all.
    bool canCapture() const;

private:
    // The whole desktop, 0xAARRGGBB, at virtualDesktop()'s size; the reason when it cannot be read.
    std::optional<std::vector<uint32_t>> readDesktop(std::string& why);

    Connection& connection_;
    bool explained_ = false;
};

} // namespace tarnwick::platform::wayland
