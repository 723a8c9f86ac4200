#pragma once
// Turning what the screen shows into a working bitmap.
#include "imaging/bitmap.h"
#include "platform/geometry.h"
#include "platform/screen.h"

#include <memory>

namespace tarnwick {

// A new bitmap of the destination rectangle's size, holding the screen's source rectangle
// stretched (nearest pixel) onto the destination rectangle. With a destination at (0, 0) that is
// the whole bitmap; otherwise the part of the bitmap outside the destination stays white.
std::unique_ptr<WorkBitmap> CaptureScreenRect(platform::Screen& screen, const Rect& destination,
                                              const Rect& source);

} // namespace tarnwick
