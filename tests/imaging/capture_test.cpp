#include "imaging/capture.h"

#include "fakes/fake_screen.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

using namespace tarnwick::testing;
using fakes::FakeScreen;

TEST(CaptureTest, DesktopAtItsOwnSizeStartsAtItsTopLeftCorner) {
    // A monitor left of and above the primary one: the desktop starts at (-1280, -200).
    FakeScreen screen({-1280, -200, 1920, 1080});
    const Rect desktop = screen.virtualDesktop();
    const auto bitmap =
        CaptureScreenRect(screen, {0, 0, desktop.width(), desktop.height()}, desktop);
    ASSERT_EQ(bitmap->width(), 3200);
    ASSERT_EQ(bitmap->height(), 1280);
    for (const auto& [x, y] : {std::pair{0, 0}, {3199, 1279}, {1280, 200}, {17, 900}})
        EXPECT_EQ(pixel(*bitmap, x, y), (FakeScreen::pixelAt(x - 1280, y - 200))) << x << "," << y;
    ASSERT_EQ(screen.captures.size(), 1u);
    EXPECT_EQ(screen.captures[0].source, desktop);
}

TEST(CaptureTest, DestinationSizeDecidesAndALargerSourceIsShrunk) {
    FakeScreen screen;
    const auto bitmap = CaptureScreenRect(screen, {0, 0, 100, 50}, {0, 0, 400, 200});
    ASSERT_EQ(bitmap->width(), 100);
    ASSERT_EQ(bitmap->height(), 50);
    for (int32_t y = 0; y < 50; y += 7)
        for (int32_t x = 0; x < 100; x += 9)
            EXPECT_EQ(pixel(*bitmap, x, y), (FakeScreen::pixelAt(4 * x + 2, 4 * y + 2)))
                << x << "," << y;
}

TEST(CaptureTest, DestinationAwayFromTheOriginLeavesTheRestWhite) {
    FakeScreen screen;
    const auto bitmap = CaptureScreenRect(screen, {10, 5, 30, 25}, {100, 100, 120, 120});
    ASSERT_EQ(bitmap->width(), 20);
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < 20; ++x) {
            const Bgr want = x >= 10 && y >= 5 ? FakeScreen::pixelAt(100 + x - 10, 100 + y - 5)
                                               : Bgr{255, 255, 255};
            EXPECT_EQ(pixel(*bitmap, x, y), want) << x << "," << y;
        }
}

TEST(CaptureTest, EmptyDestinationAsksTheScreenForNothing) {
    FakeScreen screen;
    EXPECT_TRUE(CaptureScreenRect(screen, {0, 0, 0, 0}, {0, 0, 100, 100})->empty());
    EXPECT_TRUE(screen.captures.empty());
}

} // namespace
} // namespace tarnwick
