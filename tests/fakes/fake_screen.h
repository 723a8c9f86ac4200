#pragma once
// In-memory screen: a virtual desktop showing a known picture, and a record of the captures.
#include "platform/screen.h"

#include <array>
#include <cstdint>
#include <vector>

namespace tarnwick::fakes {

class FakeScreen final : public platform::Screen {
public:
    struct Capture {
        Rect source;
        int32_t width;
        int32_t height;
    };

    // The desktop may start left of or above (0, 0), as with a monitor left of the primary one.
    explicit FakeScreen(Rect desktop = {0, 0, 1920, 1080}) : desktop_(desktop) {}

    // The colour the desktop shows at (x, y) in desktop coordinates, as blue, green, red. Every
    // pixel differs from its neighbours in every channel, so a shifted or mirrored copy shows.
    static std::array<uint8_t, 3> pixelAt(int32_t x, int32_t y) {
        return {static_cast<uint8_t>(x * 7 + y * 3), static_cast<uint8_t>(x * 5 + y * 11 + 1),
                static_cast<uint8_t>(x * 3 + y * 13 + 2)};
    }

    Rect virtualDesktop() override { return desktop_; }
    // Nearest-pixel stretch (the pixel under each destination pixel's centre); black outside the
    // desktop.
    void capture(const Rect& source, int32_t width, int32_t height, uint8_t* rows,
                 std::ptrdiff_t stride) override;

    std::vector<Capture> captures;

private:
    Rect desktop_;
};

} // namespace tarnwick::fakes
