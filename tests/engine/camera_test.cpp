#include "engine_fixture.h"

#include "imaging/stretch.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tarnwick {
namespace {

using testing_support::EngineWorld;

class Camera : public testing::Test {
protected:
    void SetUp() override {
        world.start({"/p"});
        world.window.geometry_ = {0, 0, 1000, 750};
        world.window.visible_ = true;
    }
    TForm1& form() { return *world.form; }
    void picture(int w, int h) {
        world.module.CopyBitmap = NewWorkBitmap();
        SetBitmapSize(*world.module.CopyBitmap, w, h);
    }
    EngineWorld world;
};

TEST_F(Camera, TheWorkedExample) {
    picture(1000, 800);
    form().Zooms.fill(1);
    world.module.Angle = 90;
    form().lcx = 300;
    form().lcy = 400;
    form().cx = 700;
    form().cy = 200;
    EXPECT_EQ(form().CalcSourceRect(), (Rect{300, 150, 700, 450}));
    EXPECT_EQ(world.module.Angle, 93);
    EXPECT_EQ(form().cx, 700); // no re-targeting away from 0 and 180
}

TEST_F(Camera, TheViewHeightIsTruncatedOnlyAtTheEnd) {
    picture(1000, 800);
    world.window.geometry_ = {0, 0, 1000, 700}; // aspect 10/7
    form().Zooms.fill(0.999);
    world.module.Angle = 90;
    form().lcx = form().cx = 500;
    form().lcy = form().cy = 400;
    // w = 199.8, h = 199.8 / (10/7) = 139.86 -> 139; halfH would have given trunc(200 / (10/7)) =
    // 140.
    EXPECT_EQ(form().CalcSourceRect(), (Rect{301, 261, 699, 539}));
}

TEST_F(Camera, OneCycleIs120TicksWithReTargetingAtTicks0And60) {
    picture(1000, 800);
    form().BuildZooms(0);
    form().PlaySounds = true;
    world.module.Angle = 0;
    world.sound.played.clear();
    std::vector<int> retargets;
    for (int tick = 0; tick < 240; ++tick) {
        const size_t before = world.sound.played.size();
        const int angle = world.module.Angle;
        EXPECT_EQ(angle, (tick % 120) * 3);
        form().CalcSourceRect();
        if (world.sound.played.size() != before) retargets.push_back(tick);
    }
    EXPECT_EQ(retargets, (std::vector<int>{0, 60, 120, 180}));
    for (const auto& p : world.sound.played) EXPECT_EQ(p.id, 2);
    EXPECT_EQ(world.module.Angle, 0);
}

TEST_F(Camera, ReTargetingKeepsThePreviousCentreAndPicksAFittingOne) {
    picture(1000, 800);
    form().BuildZooms(0);
    world.module.Angle = 0;
    form().cx = 321;
    form().cy = 123;
    form().CalcSourceRect();
    EXPECT_EQ(form().lcx, 321);
    EXPECT_EQ(form().lcy, 123);
    // halfW 200, halfH 150: a centre fits in 200..800 x 150..650 (21 misses are very unlikely).
    EXPECT_GE(form().cx, 200);
    EXPECT_LE(form().cx, 800);
    EXPECT_GE(form().cy, 150);
    EXPECT_LE(form().cy, 650);
}

TEST_F(Camera, ReTargetingFramesUseTheCentreFromBeforeIt) {
    picture(1000, 800);
    form().Zooms.fill(0);
    world.module.Angle = 0;
    form().lcx = 11;
    form().lcy = 22;
    form().cx = 500;
    form().cy = 400;
    EXPECT_EQ(form().CalcSourceRect(), (Rect{11, 22, 11, 22})); // nn = 0: the old start
    world.module.Angle = 180;
    const Rect at180 = form().CalcSourceRect(); // nn = 180: the new target
    EXPECT_EQ(at180.left, form().cx);
    EXPECT_EQ(at180.top, form().cy);
}

TEST_F(Camera, ASeededGeneratorGivesTheSameRectangles) {
    auto run = [&](uint64_t seed) {
        picture(1280, 720);
        form().BuildZooms(2);
        world.module.Angle = 0;
        form().cx = form().cy = form().lcx = form().lcy = 0;
        world.module.random.seed(seed);
        std::vector<Rect> rects;
        for (int i = 0; i < 300; ++i) rects.push_back(form().CalcSourceRect());
        return rects;
    };
    const auto a = run(7), b = run(7), c = run(8);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST_F(Camera, DegeneratePicturesEndWithoutHanging) {
    form().BuildZooms(0);
    // Empty picture: no fitting search can succeed, random(0) = 0, the rectangle is empty.
    picture(0, 0);
    world.module.Angle = 0;
    for (int i = 0; i < 120; ++i) {
        const Rect r = form().CalcSourceRect();
        EXPECT_EQ(r.width(), 0);
        EXPECT_EQ(r.height(), 0);
    }
    // Narrower than 5 pixels: halfW = 0 and every centre inside fits.
    picture(4, 100);
    world.module.Angle = 0;
    form().CalcSourceRect();
    EXPECT_LT(form().cx, 4);
    // A panorama on which no centre fits: the last pick stays, and SyncSize gives up too.
    picture(5000, 10);
    world.module.Angle = 0;
    form().CalcSourceRect();
    EXPECT_LT(form().cx, 5000);
    form().SyncSize();
    EXPECT_TRUE(world.module.Synced);
    // A window without area counts as square: the view is as high as it is wide.
    world.window.geometry_ = {0, 0, 0, 0};
    picture(100, 100);
    form().Zooms.fill(1.0);
    world.module.Angle = 0;
    const Rect r = form().CalcSourceRect();
    EXPECT_EQ(r.width(), 40);
    EXPECT_EQ(r.height(), 40);
}

// An empty rectangle: a tick then shows no frame at all.
TEST_F(Camera, ZeroZoomGivesAnEmptyRectangleAtTheCentre) {
    picture(100, 80);
    form().Zooms.fill(0);
    world.module.Angle = 30;
    form().lcx = form().cx = 50;
    form().lcy = form().cy = 40;
    const Rect r = form().CalcSourceRect();
    EXPECT_EQ(r, (Rect{50, 40, 50, 40}));
}

TEST_F(Camera, SyncSizeKeepsAFittingCentreAndMovesOneThatDoesNot) {
    picture(1000, 800);
    form().cx = 500;
    form().cy = 400;
    form().SyncSize();
    EXPECT_EQ(form().cx, 500);
    EXPECT_EQ(form().cy, 400);
    form().cx = 0;
    form().cy = 0;
    form().SyncSize();
    EXPECT_GE(form().cx, 200);
    EXPECT_LE(form().cx, 800);
    // Without a picture only the flag is set.
    world.module.Synced = false;
    world.module.CopyBitmap.reset();
    form().SyncSize();
    EXPECT_TRUE(world.module.Synced);
}

// Each destination pixel takes one source pixel by the nearest rule; outside the picture is black.
uint32_t expectedPixel(const WorkBitmap& b, const Rect& r, int x, int y, int dw, int dh) {
    if (r.width() <= 0 || r.height() <= 0) return 0xFF000000u;
    const int64_t sx = r.left + (2 * int64_t{x} + 1) * r.width() / (2 * int64_t{dw});
    const int64_t sy = r.top + (2 * int64_t{y} + 1) * r.height() / (2 * int64_t{dh});
    if (sx < 0 || sy < 0 || sx >= b.width() || sy >= b.height()) return 0xFF000000u;
    const uint8_t* p = b.scanLine(static_cast<int32_t>(sy)).data() + 3 * sx;
    return 0xFF000000u | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

TEST_F(Camera, ATickDrawsTheStretchOfItsRectangleOntoTheWindow) {
    picture(400, 300);
    auto& bmp = *world.module.CopyBitmap;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 400; ++x) {
            auto row = bmp.scanLine(y);
            row[3 * x] = static_cast<uint8_t>(x * 7 + y);
            row[3 * x + 1] = static_cast<uint8_t>(y * 3);
            row[3 * x + 2] = static_cast<uint8_t>(x);
        }
    world.window.geometry_ = {0, 0, 333, 187};
    form().Zooms.fill(0.9);
    world.module.Angle = 42;
    form().lcx = 10; // the view reaches beyond the left edge: black there
    form().lcy = 150;
    form().cx = 20;
    form().cy = 20;
    // The rectangle this tick will use, worked out on the same state beforehand.
    const int32_t angle = world.module.Angle;
    const auto centres = std::array{form().lcx, form().lcy, form().cx, form().cy};
    const Rect r = form().CalcSourceRect();
    world.module.Angle = angle;
    form().lcx = centres[0];
    form().lcy = centres[1];
    form().cx = centres[2];
    form().cy = centres[3];
    const int shown = world.window.framesShown;
    form().JvThreadTimer2Timer(*form().JvThreadTimer2);
    EXPECT_EQ(world.window.framesShown, shown + 1);
    int mismatches = 0, black = 0;
    for (int y = 0; y < 187; ++y)
        for (int x = 0; x < 333; ++x) {
            const uint32_t got = world.window.frame[static_cast<size_t>(y * 333 + x)];
            mismatches += got != expectedPixel(bmp, r, x, y, 333, 187);
            black += got == 0xFF000000u;
        }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(black, 0);
}

TEST_F(Camera, AnEmptyViewLeavesThePreviousFrameButTheFirstFrameShowsTheCentrePoint) {
    picture(400, 300);
    auto& bmp = *world.module.CopyBitmap;
    bmp.scanLine(50)[3 * 100 + 1] = 77; // the point at the first glide's start, (100, 50)
    world.window.geometry_ = {0, 0, 160, 90};
    form().Zooms.fill(0.5);
    form().Zooms[0] = 0;
    form().Zooms[180] = 0;
    form().lcx = 100;
    form().lcy = 50;
    form().JvThreadTimer2Timer(*form().JvThreadTimer2);
    ASSERT_EQ(world.window.framesShown, 1) << "nothing on the screen yet: the point is shown";
    const uint32_t point = 0xFF000000u | 255u << 16 | 77u << 8 | 255u; // white, green 77
    EXPECT_TRUE(std::ranges::all_of(world.window.frame, [&](uint32_t p) { return p == point; }));
    for (int tick = 1; tick < 120; ++tick) form().JvThreadTimer2Timer(*form().JvThreadTimer2);
    EXPECT_EQ(world.window.framesShown, 119) << "the empty view at 180 keeps the previous frame";
    EXPECT_EQ(world.module.Angle, 0);
    EXPECT_NE(std::make_pair(form().lcx, form().lcy), std::make_pair(100, 50)) << "re-targeted";
}

TEST_F(Camera, WhereEveryViewIsEmptyEachTickShowsThePointAtItsCentre) {
    // The smallest maximum zoom on a narrow picture: |z| W / 5 stays below one pixel.
    picture(400, 300);
    form().MaxZoom = 0.01;
    form().InitSineZooms();
    for (int tick = 0; tick < 120; ++tick) form().JvThreadTimer2Timer(*form().JvThreadTimer2);
    EXPECT_EQ(world.window.framesShown, 120);
}

TEST_F(Camera, NoFrameWhileInvisibleOrWithoutAPicture) {
    picture(100, 100);
    world.window.visible_ = false;
    world.module.Angle = 9;
    form().JvThreadTimer2Timer(*form().JvThreadTimer2);
    EXPECT_EQ(world.module.Angle, 9);
    world.window.visible_ = true;
    world.module.CopyBitmap.reset();
    form().JvThreadTimer2Timer(*form().JvThreadTimer2);
    EXPECT_EQ(world.module.Angle, 9);
    EXPECT_EQ(world.window.framesShown, 0);
}

} // namespace
} // namespace tarnwick
