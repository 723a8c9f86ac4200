#pragma once
// The screen: the virtual desktop and reading its pixels.
#include "platform/error.h"
#include "platform/geometry.h"

#include <cstddef>
#include <cstdint>

namespace tarnwick::platform {

// What capture throws where the desktop may not be shown at all (its grabbing turned off, a locker
// in front). The text is one short line telling the user how to see pictures instead.
class DesktopWithheld : public Error {
public:
    using Error::Error;
};

class Screen {
public:
    virtual ~Screen() = default;
    // The rectangle of all monitors together; left and top may be negative.
    virtual Rect virtualDesktop() = 0;
    // Fill a width x height 24-bit picture (blue, green, red bytes; rows `stride` bytes apart)
    // with the screen's source rectangle, stretched nearest-neighbour when the sizes differ.
    // Throws Error when the screen cannot be read, DesktopWithheld when it may not be.
    virtual void capture(const Rect& source, int32_t width, int32_t height, uint8_t* rows,
                         std::ptrdiff_t stride) = 0;
};

} // namespace tarnwick::platform
