#include "imaging/stretch.h"

#include "support/pictures.h"

#include <gtest/gtest.h>

#include <random>

namespace tarnwick {
namespace {

using namespace tarnwick::testing;

constexpr uint32_t kBlack = 0xFF000000u;
constexpr uint32_t kUntouched = 0x12345678u;

uint32_t argb(Bgr p) {
    return 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

struct Frame {
    Frame(int32_t w, int32_t h, int32_t extra = 3)
        : pixels(size_t((w + extra) * h), kUntouched), view{pixels.data(), w, h, w + extra} {}
    uint32_t at(int32_t x, int32_t y) const { return pixels[size_t(y * view.stride + x)]; }
    std::vector<uint32_t> pixels;
    FrameView view;
};

// One destination pixel at a time: the source pixel under its centre, black outside.
uint32_t expectedAt(const WorkBitmap& src, const Rect& r, int32_t dw, int32_t dh, int32_t x,
                    int32_t y) {
    const int64_t sw = int64_t{r.right} - r.left, sh = int64_t{r.bottom} - r.top;
    if (sw <= 0 || sh <= 0) return kBlack;
    const double cx = r.left + (x + 0.5) * double(sw) / dw,
                 cy = r.top + (y + 0.5) * double(sh) / dh;
    const int64_t sx = int64_t(std::floor(cx)), sy = int64_t(std::floor(cy));
    if (sx < 0 || sy < 0 || sx >= src.width() || sy >= src.height()) return kBlack;
    return argb(pixel(src, int32_t(sx), int32_t(sy)));
}

void expectFrame(const WorkBitmap& src, const Rect& r, const Frame& f, const std::string& what) {
    for (int32_t y = 0; y < f.view.height; ++y) {
        for (int32_t x = 0; x < f.view.width; ++x)
            ASSERT_EQ(f.at(x, y), expectedAt(src, r, f.view.width, f.view.height, x, y))
                << what << " at " << x << "," << y;
        for (int32_t x = f.view.width; x < f.view.stride; ++x)
            ASSERT_EQ(f.at(x, y), kUntouched) << what;
    }
}

TEST(StretchTest, SameSizeIsAPlainCopy) {
    const WorkBitmap src = randomBitmap(13, 7, 1);
    Frame f(13, 7);
    StretchCopy(src, {0, 0, 13, 7}, f.view);
    for (int32_t y = 0; y < 7; ++y)
        for (int32_t x = 0; x < 13; ++x) EXPECT_EQ(f.at(x, y), argb(pixel(src, x, y)));
}

TEST(StretchTest, DoublingRepeatsEveryPixelTwice) {
    const WorkBitmap src = randomBitmap(5, 4, 2);
    Frame f(10, 8);
    StretchCopy(src, {0, 0, 5, 4}, f.view);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 10; ++x) EXPECT_EQ(f.at(x, y), argb(pixel(src, x / 2, y / 2)));
}

TEST(StretchTest, HalvingTakesThePixelUnderEachCentre) {
    const WorkBitmap src = randomBitmap(8, 6, 3);
    Frame f(4, 3);
    StretchCopy(src, {0, 0, 8, 6}, f.view);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 4; ++x)
            EXPECT_EQ(f.at(x, y), argb(pixel(src, 2 * x + 1, 2 * y + 1)));
}

TEST(StretchTest, RectanglesOfEveryShapeAgainstThePixelRule) {
    const WorkBitmap src = randomBitmap(37, 23, 4);
    const struct {
        Rect r;
        int32_t w, h;
    } cases[] = {
        {{0, 0, 37, 23}, 100, 61},   {{5, 3, 20, 11}, 152, 112}, {{10, 10, 11, 11}, 9, 9},
        {{-10, -5, 20, 15}, 64, 40}, {{30, 20, 50, 40}, 33, 17}, {{-100, -100, -50, -50}, 8, 8},
        {{0, 0, 37, 23}, 1, 1},      {{3, 2, 36, 21}, 7, 300},   {{0, 0, 0, 10}, 5, 5},
        {{4, 4, 4, 4}, 5, 5},        {{9, 9, 2, 2}, 5, 5},       {{-5, 0, 42, 23}, 37, 23},
    };
    for (const auto& c : cases) {
        Frame f(c.w, c.h);
        StretchCopy(src, c.r, f.view);
        expectFrame(src, c.r, f,
                    "rect " + std::to_string(c.r.left) + "," + std::to_string(c.r.top) + "," +
                        std::to_string(c.r.right) + "," + std::to_string(c.r.bottom));
    }
}

TEST(StretchTest, RandomRectanglesReuseOneStretcher) {
    std::mt19937 gen(9);
    Stretcher stretcher;
    for (int i = 0; i < 150; ++i) {
        const WorkBitmap src =
            randomBitmap(int32_t(1 + gen() % 60), int32_t(1 + gen() % 40), gen());
        auto coord = [&](int32_t n) { return int32_t(gen() % (2 * n + 20)) - n / 2 - 10; };
        Rect r{coord(src.width()), coord(src.height()), 0, 0};
        r.right = r.left + int32_t(gen() % 80);
        r.bottom = r.top + int32_t(gen() % 50);
        Frame f(int32_t(1 + gen() % 90), int32_t(1 + gen() % 70));
        stretcher.copy(src, r, f.view);
        expectFrame(src, r, f, "case " + std::to_string(i));
    }
}

TEST(StretchTest, EmptyBitmapAndExtremeRectanglesGiveBlackWithoutOverflow) {
    WorkBitmap none;
    Frame f(6, 4);
    StretchCopy(none, {0, 0, 10, 10}, f.view);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x) EXPECT_EQ(f.at(x, y), kBlack);
    const WorkBitmap src = randomBitmap(4, 4, 1);
    Frame g(6, 4);
    // The whole 32-bit plane squeezed into 6 x 4 (products beyond 64 bits), and a frame as wide
    // as a 32-bit plane's half.
    const Rect plane{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
    StretchCopy(src, plane, g.view);
    expectFrame(src, plane, g, "whole plane");
    const Rect wide{-1, 0, INT32_MAX, 4};
    Frame h(5, 4);
    StretchCopy(src, wide, h.view);
    expectFrame(src, wide, h, "wide");
    Frame nothing(0, 0);
    StretchCopy(src, {0, 0, 4, 4}, nothing.view); // no pixels: nothing to do, no fault
}

} // namespace
} // namespace tarnwick
