#pragma once
// The saver's own picture, for when there is nothing else to show: no pictures chosen and a
// desktop that may not or cannot be shown. A dusk landscape over water, drawn at run time, with a
// line telling the user how to get their own pictures on the screen.
#include "imaging/bitmap.h"

#include <memory>
#include <string_view>

namespace tarnwick {

inline constexpr std::string_view kBuiltinPictureHint =
    "Choose pictures in Tarnwick Settings (tarnwick /c)";

// A width x height picture (each at least 1), the same for the same arguments. The line `hint`
// is written into it several times, so that the camera meets it wherever it flies.
std::unique_ptr<WorkBitmap> builtinPicture(int32_t width, int32_t height,
                                           std::string_view hint = kBuiltinPictureHint);

// True when every pixel of `bitmap` is black (also for an empty bitmap): what a screen grab
// gives where the desktop is covered or unreadable.
bool allBlack(const WorkBitmap& bitmap);

} // namespace tarnwick
