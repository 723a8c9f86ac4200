// The stretch copy split into two row bands on a helper thread (also run under ThreadSanitizer).
#include "imaging/stretch.h"

#include "support/pictures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick {
namespace {

constexpr uint32_t kUntouched = 0x12345678u;

struct Frame {
    Frame(int32_t w, int32_t h) : pixels(size_t(w + 2) * size_t(h), kUntouched), view{} {
        view = {pixels.data(), w, h, w + 2};
    }
    std::vector<uint32_t> pixels;
    FrameView view;
};

// Every frame drawn by a splitting Stretcher, one after another with the same helper, equals the
// one-core frame whichever thread drew which bands: they meet without a gap or an overlap,
// repeated rows are found within each band, and the padding beyond each row stays untouched.
TEST(StretchBandsTest, SplitFramesEqualOneCoreFrames) {
    const WorkBitmap src = testing::randomBitmap(97, 61, 21);
    Stretcher split(1), single(INT64_MAX);
    const struct {
        int32_t w, h;
        Rect r;
    } cases[] = {{40, 2, {0, 0, 97, 61}},       {40, 3, {5, 7, 60, 40}},
                 {123, 77, {0, 0, 97, 61}},     {200, 151, {10, 10, 30, 20}},
                 {64, 48, {-20, -15, 120, 90}}, {31, 99, {90, 50, 140, 200}},
                 {50, 41, {3, 4, 4, 5}},        {77, 60, {0, 0, 0, 10}},
                 {24, 1000, {0, 0, 97, 61}},    {9, 2049, {-5, 30, 50, 70}}};
    for (int round = 0; round < 3; ++round)
        for (const auto& c : cases) {
            Frame a(c.w, c.h), b(c.w, c.h);
            split.copy(src, c.r, a.view);
            single.copy(src, c.r, b.view);
            ASSERT_EQ(a.pixels, b.pixels)
                << c.w << "x" << c.h << " from " << c.r.left << "," << c.r.top << "," << c.r.right
                << "," << c.r.bottom << " round " << round;
        }
    EXPECT_TRUE(split.splitting());
    EXPECT_FALSE(single.splitting());
}

// Below the size where a second core pays, no helper thread is started; at 4K one is, and the
// frame is still the one-core frame.
TEST(StretchBandsTest, OnlyLargeFramesStartAHelper) {
    const WorkBitmap src = testing::randomBitmap(640, 360, 5);
    const Rect r{100, 50, 500, 300};
    Stretcher stretcher, single(INT64_MAX);
    Frame small(1920, 1080);
    stretcher.copy(src, r, small.view);
    EXPECT_FALSE(stretcher.splitting());
    Frame large(3840, 2160), expected(3840, 2160);
    stretcher.copy(src, r, large.view);
    single.copy(src, r, expected.view);
    EXPECT_TRUE(stretcher.splitting());
    EXPECT_TRUE(large.pixels == expected.pixels);
}

} // namespace
} // namespace tarnwick
