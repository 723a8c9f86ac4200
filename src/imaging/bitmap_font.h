#pragma once
// A small built-in font for lines drawn into working bitmaps where no font machinery is at hand:
// capitals (lower case is drawn as capitals), digits and common punctuation, 5 x 7 cells.
#include "imaging/bitmap.h"

#include <cstdint>
#include <string_view>

namespace tarnwick {

inline constexpr int32_t kGlyphWidth = 5;
inline constexpr int32_t kGlyphHeight = 7;
inline constexpr int32_t kGlyphAdvance = 6; // one blank column between letters

struct Bgr {
    uint8_t b, g, r;
};

// Width and height in pixels of `text` drawn with each font pixel as a `scale` x `scale` block,
// outline included.
int32_t textWidth(std::string_view text, int32_t scale);
int32_t textHeight(int32_t scale);

// Draws `text` with its top left corner at (x, y): the letters in `ink`, ringed one block wide in
// `outline` so that they stay readable on any background. Characters the font lacks are drawn as
// spaces; whatever falls outside the bitmap is left out.
void drawText(WorkBitmap& bitmap, int32_t x, int32_t y, std::string_view text, int32_t scale,
              Bgr ink, Bgr outline);

} // namespace tarnwick
