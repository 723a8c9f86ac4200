#include "imaging/bitmap_font.h"
#include "imaging/builtin_picture.h"

#include <gtest/gtest.h>

#include <set>

namespace tarnwick {
namespace {

constexpr Bgr kInk{10, 20, 30};
constexpr Bgr kOutline{40, 50, 60};

enum class Cell { Ink, Outline, Untouched };

// What the font cell (gx, gy) of the first letter holds, drawn at scale 2 from (0, 0): every
// pixel of its block must agree.
Cell cellAt(const WorkBitmap& b, int gx, int gy) {
    std::set<Cell> seen;
    for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
            const int x = 2 + 2 * gx + dx, y = 2 + 2 * gy + dy;
            const uint8_t* p = b.scanLine(y).data() + 3 * x;
            seen.insert(p[0] == kInk.b && p[1] == kInk.g && p[2] == kInk.r ? Cell::Ink
                        : p[0] == kOutline.b && p[1] == kOutline.g && p[2] == kOutline.r
                            ? Cell::Outline
                            : Cell::Untouched);
        }
    EXPECT_EQ(seen.size(), 1u) << gx << "," << gy;
    return *seen.begin();
}

std::unique_ptr<WorkBitmap> lettered(std::string_view text) {
    auto b = NewWorkBitmap();
    SetBitmapSize(*b, 40, 24);
    drawText(*b, 0, 0, text, 2, kInk, kOutline);
    return b;
}

TEST(BitmapFont, LettersAreInkedLeftToRightAndRingedAndLowerCaseIsDrawnAsCapitals) {
    const auto upper = lettered("L");
    EXPECT_EQ(cellAt(*upper, 0, 0), Cell::Ink);
    EXPECT_EQ(cellAt(*upper, 0, 6), Cell::Ink);
    EXPECT_EQ(cellAt(*upper, 4, 6), Cell::Ink);
    EXPECT_EQ(cellAt(*upper, 4, 0), Cell::Untouched); // a mirrored glyph inks the right column
    EXPECT_EQ(cellAt(*upper, 1, 0), Cell::Outline);
    EXPECT_EQ(cellAt(*upper, -1, 3), Cell::Outline);
    EXPECT_EQ(cellAt(*upper, 3, 3), Cell::Untouched);
    const auto lower = lettered("l");
    for (int y = 0; y < upper->height(); ++y)
        EXPECT_TRUE(std::ranges::equal(upper->scanLine(y), lower->scanLine(y))) << y;
    // Past the bitmap's edges nothing is written, and nothing breaks.
    auto small = NewWorkBitmap();
    SetBitmapSize(*small, 3, 3);
    drawText(*small, -5, -5, "WWW", 3, kInk, kOutline);
}

TEST(BuiltinPicture, HasTheAskedSizeIsTheSameEachTimeAndCarriesItsLine) {
    const auto a = builtinPicture(641, 361);
    const auto b = builtinPicture(641, 361);
    const auto plain = builtinPicture(641, 361, "");
    ASSERT_EQ(a->width(), 641);
    ASSERT_EQ(a->height(), 361);
    std::set<uint32_t> colours;
    long inked = 0, inkedPlain = 0;
    for (int32_t y = 0; y < a->height(); ++y) {
        EXPECT_TRUE(std::ranges::equal(a->scanLine(y), b->scanLine(y))) << y;
        for (int32_t x = 0; x < a->width(); ++x) {
            const uint8_t* p = a->scanLine(y).data() + 3 * x;
            const uint8_t* q = plain->scanLine(y).data() + 3 * x;
            colours.insert(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16);
            inked += p[0] == 235 && p[1] == 245 && p[2] == 255;
            inkedPlain += q[0] == 235 && q[1] == 245 && q[2] == 255;
        }
    }
    EXPECT_GT(colours.size(), 2000u) << "something to fly over";
    EXPECT_GT(inked, inkedPlain + 1000) << "the line is written, several times";
    EXPECT_FALSE(allBlack(*a));
    const auto tiny = builtinPicture(1, 1);
    EXPECT_EQ(tiny->width() * tiny->height(), 1);
}

TEST(BuiltinPicture, AllBlackLooksAtEveryPixelAndNothingElse) {
    auto b = NewWorkBitmap();
    EXPECT_TRUE(allBlack(*b));
    SetBitmapSize(*b, 3, 2);
    for (int32_t y = 0; y < 2; ++y) std::ranges::fill(b->scanLine(y), uint8_t{0});
    b->data()[b->stride() - 1] = 9; // row padding is no pixel
    EXPECT_TRUE(allBlack(*b));
    b->scanLine(1)[8] = 1; // the red of the last pixel
    EXPECT_FALSE(allBlack(*b));
}

} // namespace
} // namespace tarnwick
