#include "imaging/cpu_features.h"
#include "imaging/transforms.h"
#include "imaging/warp.h"

#include "support/pictures.h"
#include "support/reference_transforms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <stdexcept>

namespace tarnwick {
namespace {

using testing::Bgr;
using testing::differences;
using testing::pixel;
using testing::randomBitmap;

constexpr Bgr kWhite = {255, 255, 255};

WorkBitmap whiteBitmap(int32_t w, int32_t h) {
    WorkBitmap b;
    SetBitmapSize(b, w, h);
    return b;
}

struct Size2 {
    int32_t w, h;
};
// The last is larger than a quarter turn's tile both ways.
const Size2 kSizes[] = {{1, 1}, {2, 2},   {3, 2},   {2, 3},   {7, 5},
                        {8, 6}, {31, 17}, {64, 48}, {33, 65}, {139, 301}};

// The fallback loops are tested by running these tests again with TARNWICK_CPU_FALLBACKS=all: a
// misspelt name must stop such a run rather than leave the fast loops on.
TEST(CpuFeaturesTest, FallbacksTurnOffWhatTheyName) {
    const CpuFeatures all{true, true, true};
    const auto same = [](CpuFeatures a, CpuFeatures b) {
        return a.ssse3 == b.ssse3 && a.avx2 == b.avx2 && a.fma == b.fma;
    };
    EXPECT_TRUE(same(withFallbacks(all, "all"), CpuFeatures{}));
    EXPECT_TRUE(same(withFallbacks(all, "avx2,fma"), CpuFeatures{true, false, false}));
    EXPECT_TRUE(same(withFallbacks(all, "ssse3"), CpuFeatures{false, true, true}));
    EXPECT_TRUE(same(withFallbacks(all, ""), all));
    EXPECT_THROW(withFallbacks(all, "avx2,sse3"), std::invalid_argument);
    if (const char* asked = std::getenv("TARNWICK_CPU_FALLBACKS")) {
        EXPECT_TRUE(same(cpuFeatures(), withFallbacks(cpuFeatures(), asked))) << asked;
    }
}

TEST(ClampTest, ByteAndIntBounds) {
    const struct {
        int32_t v;
        uint8_t want;
    } bytes[] = {{-1, 0},    {0, 0},     {1, 1},         {254, 254},
                 {255, 255}, {256, 255}, {INT32_MIN, 0}, {INT32_MAX, 255}};
    for (const auto& c : bytes) EXPECT_EQ(ClampByte(c.v), c.want) << c.v;

    const struct {
        int32_t v, lo, hi, want;
    } ints[] = {{5, 0, 3, 3},
                {-1, 0, 3, 0},
                {2, 0, 3, 2},
                {3, 0, 3, 3},
                {0, 0, 3, 0},
                // The upper bound is tested first: with lo above hi, a value above hi gives hi.
                {5, 10, 3, 3},
                {1, 10, 3, 10}};
    for (const auto& c : ints)
        EXPECT_EQ(ClampInt(c.v, c.lo, c.hi), c.want) << c.v << " " << c.lo << " " << c.hi;
}

TEST(PointAngleTest, AxesAndQuadrants) {
    const double pi = std::numbers::pi;
    const struct {
        float x, y;
        double want;
    } cases[] = {{0, 1, 1.5707964f}, {0, -2, -1.5707964f}, {0, 0, -1.5707964f},  {1, 0, 0},
                 {1, 1, pi / 4},     {-1, 1, 3 * pi / 4},  {-1, -1, 5 * pi / 4}, {1, -1, -pi / 4},
                 {-2, 0, pi}};
    for (const auto& c : cases)
        EXPECT_NEAR(PointAngle(c.x, c.y), c.want, 1.5e-7) << c.x << "," << c.y;
    // The result's cosine and sine are those of the vector's direction.
    for (float x : {-3.5f, -0.25f, 0.5f, 7.0f})
        for (float y : {-6.0f, -0.5f, 0.0f, 2.0f, 9.0f}) {
            const float a = PointAngle(x, y), r = std::hypot(x, y);
            EXPECT_NEAR(std::cos(a), x / r, 1e-6f);
            EXPECT_NEAR(std::sin(a), y / r, 1e-6f);
            EXPECT_GE(a, -pi / 2);
            EXPECT_LE(a, 3 * pi / 2);
        }
}

// Left of the axis the arc tangent (the angle of the opposite vector) gains pi exactly, and only
// the sum is rounded to 32 bits: the nearest float to it, never one further away.
TEST(PointAngleTest, PiIsAddedBeforeTheOneRounding) {
    const long double pi = std::numbers::pi_v<long double>;
    int checked = 0;
    for (int i = 1; i <= 2000; ++i) {
        const float x = -0.37f * static_cast<float>(i), y = 0.61f * static_cast<float>(i % 97 - 48);
        const long double sum = static_cast<long double>(PointAngle(-x, -y)) + pi;
        const float got = PointAngle(x, y);
        const long double error = std::fabs(static_cast<long double>(got) - sum);
        const long double ulp = std::nextafter(got, INFINITY) - got;
        ASSERT_LE(error, ulp / 2) << x << "," << y;
        ++checked;
    }
    EXPECT_EQ(checked, 2000);
}

// Every angle, on pictures of odd and even sizes, centred as the saver does and off centre,
// into destinations of the turned size and of other sizes.
TEST(RotateTest, EqualsTheReferenceOnRandomPictures) {
    uint32_t seed = 1;
    for (const Size2 s : kSizes)
        for (double angle : {0.0, 90.0, 180.0, 270.0, 45.0, 30.0, -60.0, 123.4, 359.0}) {
            const WorkBitmap src = randomBitmap(s.w, s.h, seed++);
            const bool swap = angle == 90 || angle == 270;
            const Size2 dsts[] = {{swap ? s.h : s.w, swap ? s.w : s.h},
                                  {s.w + 3, s.h + 2},
                                  {std::max(1, s.w - 1), s.h + 5}};
            for (const Size2 d : dsts)
                for (int centre = 0; centre < 2; ++centre) {
                    const int32_t cx = centre ? d.w / 3 : d.w / 2;
                    const int32_t cy = centre ? d.h - 1 : d.h / 2;
                    WorkBitmap fast = whiteBitmap(d.w, d.h), ref = whiteBitmap(d.w, d.h);
                    RotateBitmap(src, fast, cx, cy, angle);
                    testing::referenceRotate(src, ref, cx, cy, angle);
                    ASSERT_EQ(differences(fast, ref), "")
                        << s.w << "x" << s.h << " -> " << d.w << "x" << d.h << " angle " << angle
                        << " centre " << cx << "," << cy;
                }
        }
}

TEST(RotateTest, QuarterTurnsOfEvenSizesRearrangeExactly) {
    const int32_t W = 8, H = 6;
    const WorkBitmap src = randomBitmap(W, H, 7);
    WorkBitmap r90 = whiteBitmap(H, W), r180 = whiteBitmap(W, H), r270 = whiteBitmap(H, W);
    RotateBitmap(src, r90, H / 2, W / 2, 90);
    RotateBitmap(src, r180, W / 2, H / 2, 180);
    RotateBitmap(src, r270, H / 2, W / 2, 270);
    for (int32_t b = 0; b < H; ++b)
        for (int32_t a = 0; a < W; ++a) {
            EXPECT_EQ(pixel(r90, H - 1 - b, a), pixel(src, a, b));
            EXPECT_EQ(pixel(r180, W - 1 - a, H - 1 - b), pixel(src, a, b));
            EXPECT_EQ(pixel(r270, b, W - 1 - a), pixel(src, a, b));
        }
}

TEST(RotateTest, HalfTurnOfOddSizesShiftsAndLeavesTheLastColumnAndRowWhite) {
    const int32_t W = 7, H = 5;
    const WorkBitmap src = randomBitmap(W, H, 9);
    WorkBitmap dst = whiteBitmap(W, H);
    RotateBitmap(src, dst, W / 2, H / 2, 180);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            if (x == W - 1 || y == H - 1)
                EXPECT_EQ(pixel(dst, x, y), kWhite) << x << "," << y;
            else
                EXPECT_EQ(pixel(dst, x, y), pixel(src, W - 2 - x, H - 2 - y)) << x << "," << y;
        }
}

TEST(RotateTest, LookupsOutsideTheSourceKeepTheDestination) {
    const WorkBitmap src = randomBitmap(4, 4, 3);
    WorkBitmap dst = testing::filledBitmap(10, 10, {1, 2, 3});
    RotateBitmap(src, dst, 5, 5, 45);
    EXPECT_EQ(pixel(dst, 0, 0), (Bgr{1, 2, 3}));
    EXPECT_EQ(pixel(dst, 9, 9), (Bgr{1, 2, 3}));
    EXPECT_NE(pixel(dst, 5, 5), (Bgr{1, 2, 3}));
}

TEST(RotateTest, ExtrapolationIsClampedToBytes) {
    // Stripes of 0 and 255: negative fractions extrapolate beyond both ends.
    WorkBitmap src = whiteBitmap(16, 16);
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x)
            testing::setPixel(src, x, y, (x + y) % 2 ? kWhite : Bgr{0, 0, 0});
    WorkBitmap fast = whiteBitmap(16, 16), ref = whiteBitmap(16, 16);
    RotateBitmap(src, fast, 8, 8, 45);
    testing::referenceRotate(src, ref, 8, 8, 45);
    EXPECT_EQ(differences(fast, ref), "");
    int extremes = 0;
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x)
            extremes += pixel(fast, x, y)[0] == 0 || pixel(fast, x, y)[0] == 255;
    EXPECT_GT(extremes, 0);
}

TEST(RotateTest, NonFiniteAngleChangesNothing) {
    const WorkBitmap src = randomBitmap(5, 5, 1);
    WorkBitmap dst = whiteBitmap(5, 5);
    RotateBitmap(src, dst, 2, 2, std::nan(""));
    RotateBitmap(src, dst, 2, 2, INFINITY);
    EXPECT_EQ(differences(dst, whiteBitmap(5, 5)), "");
}

// The row loop computes four lookups at a time with its own arc tangent, sine and cosine; its
// pixels are those of the one-pixel steps, also where the twist is steep (small amounts, wide or
// tall pictures: the angle grows to r / amount radians and its 32-bit rounding then moves a lookup
// by whole pixels) and where a lookup coordinate crosses 0 or -1 and the weights jump.
TEST(WarpTest, EqualsTheOnePixelStepsForEveryAmount) {
    uint32_t seed = 100;
    const struct {
        Size2 size;
        int32_t amounts[5];
    } cases[] = {{{1, 1}, {1, 585, 2880, 7, -3}},
                 {{2, 2}, {1, 585, 2880, 7, -3}},
                 {{7, 5}, {1, 2, 585, 1000, -1}},
                 {{10, 5}, {1, 3, 585, 2880, 100}},
                 {{64, 48}, {1, 2, 5, 585, -585}},
                 {{301, 201}, {1, 7, 40, 585, 2880}},
                 {{1920, 16}, {1, 2, 9, 585, 2880}},
                 {{16, 1920}, {1, 2, 9, 585, 2880}},
                 {{4000, 3}, {1, 13, 585, 2880, -2}},
                 // 1/49 rounds so that 49 * (1/49) < 1: lookups at whole multiples of the width
                 // or height wrap through the remainder's correction.
                 {{49, 1500}, {1, 3, 585, 1000, 2880}},
                 {{1500, 49}, {1, 3, 585, 1000, 2880}}};
    for (const auto& c : cases)
        for (int32_t amount : c.amounts) {
            const Size2 s = c.size;
            const WorkBitmap src = randomBitmap(s.w, s.h, seed++);
            WorkBitmap fast = whiteBitmap(s.w, s.h), ref = whiteBitmap(s.w, s.h);
            WarpBitmap(src, fast, amount);
            testing::referenceWarp(src, ref, amount);
            ASSERT_EQ(differences(fast, ref), "") << s.w << "x" << s.h << " amount " << amount;
        }
}

TEST(WarpTest, DesktopSizedPhotoEqualsTheOnePixelSteps) {
    const WorkBitmap src = testing::photoLikeBitmap(1920, 1080, 3);
    WorkBitmap fast = whiteBitmap(1920, 1080), ref = whiteBitmap(1920, 1080);
    WarpBitmap(src, fast, 585);
    testing::referenceWarp(src, ref, 585);
    EXPECT_EQ(differences(fast, ref), "");
}

// Processors without AVX2 and FMA take the one-pixel steps for every pixel.
TEST(WarpTest, OnePixelStepsAloneEqualTheReference) {
    const WorkBitmap src = randomBitmap(301, 201, 21);
    WorkBitmap steps = whiteBitmap(301, 201), ref = whiteBitmap(301, 201);
    const warp::Job job{src.data(), src.stride(), steps.data(), steps.stride(), 301,
                        201,        585.0f,       150.0f,       100.0f};
    for (int32_t ty = 0; ty < 201; ++ty)
        for (int32_t tx = 0; tx < 301; ++tx) warp::warpPixel(job, tx, ty);
    testing::referenceWarp(src, ref, 585);
    EXPECT_EQ(differences(steps, ref), "");
}

TEST(WarpTest, ThreadCountDoesNotChangeTheResult) {
    const WorkBitmap src = randomBitmap(257, 131, 5);
    WorkBitmap one = whiteBitmap(257, 131), two = whiteBitmap(257, 131),
               five = whiteBitmap(257, 131);
    WarpBitmap(src, one, 900, 1);
    WarpBitmap(src, two, 900, 2);
    WarpBitmap(src, five, 900, 5);
    EXPECT_EQ(differences(one, two), "");
    EXPECT_EQ(differences(one, five), "");
}

TEST(WarpTest, CentrePixelOfOddSizesAndASinglePixelAreCopied) {
    for (const Size2 s : {Size2{1, 1}, Size2{9, 7}, Size2{31, 45}}) {
        const WorkBitmap src = randomBitmap(s.w, s.h, 77);
        WorkBitmap dst = whiteBitmap(s.w, s.h);
        WarpBitmap(src, dst, 585);
        EXPECT_EQ(pixel(dst, s.w / 2, s.h / 2), pixel(src, s.w / 2, s.h / 2)) << s.w << "x" << s.h;
    }
}

TEST(WarpTest, LoopBoundBeyondTheLastColumnWritesNothingOutside) {
    // 10 x 5: the diagonal 9.85 rounds to 10, one column beyond the picture. The destination
    // gets its 10 x 5 pixels and nothing else (ASan watches the rest).
    const WorkBitmap src = randomBitmap(10, 5, 12);
    WorkBitmap fast = whiteBitmap(10, 5), ref = whiteBitmap(10, 5);
    WarpBitmap(src, fast, 585, 1);
    testing::referenceWarp(src, ref, 585);
    EXPECT_EQ(differences(fast, ref), "");
}

TEST(WarpTest, AmountZeroAndSmallerDestinationsAreSafe) {
    const WorkBitmap src = randomBitmap(20, 10, 4);
    WorkBitmap dst = whiteBitmap(20, 10);
    WarpBitmap(src, dst, 0);
    EXPECT_EQ(differences(dst, whiteBitmap(20, 10)), "");
    WorkBitmap small = whiteBitmap(5, 3);
    WarpBitmap(src, small, 585);
    WorkBitmap full = whiteBitmap(20, 10);
    WarpBitmap(src, full, 585);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(pixel(small, x, y), pixel(full, x, y));
}

TEST(BlurTest, EqualsTheReferenceOnRandomPictures) {
    uint32_t seed = 500;
    for (const Size2 s : {Size2{2, 2}, Size2{3, 3}, Size2{7, 5}, Size2{24, 23}, Size2{25, 40},
                          Size2{64, 48}, Size2{101, 77}})
        for (int32_t d : {1, 2, 3, 5, 11, 12, 20, 22}) {
            WorkBitmap fast = randomBitmap(s.w, s.h, seed);
            WorkBitmap ref = randomBitmap(s.w, s.h, seed++);
            BlurBitmap(fast, d);
            testing::referenceBlur(ref, d);
            ASSERT_EQ(differences(fast, ref), "") << s.w << "x" << s.h << " d " << d;
        }
}

TEST(BlurTest, OneColourStaysAndSmallOrZeroDistancesChangeNothing) {
    WorkBitmap plain = testing::filledBitmap(60, 50, {10, 200, 90});
    BlurBitmap(plain, 11);
    EXPECT_EQ(differences(plain, testing::filledBitmap(60, 50, {10, 200, 90})), "");

    for (const auto& [w, h, d] :
         {std::tuple{10, 10, 11}, {30, 30, 0}, {30, 11, 11}, {11, 30, 11}, {30, 30, -3}}) {
        const WorkBitmap original = randomBitmap(w, h, 3);
        WorkBitmap b = randomBitmap(w, h, 3);
        BlurBitmap(b, d);
        EXPECT_EQ(differences(b, original), "") << w << "x" << h << " d " << d;
    }
}

TEST(BlurTest, SingleWhitePixelSpreadsAsStated) {
    const int32_t x0 = 30, y0 = 28;
    WorkBitmap b = testing::filledBitmap(60, 56, {0, 0, 0});
    testing::setPixel(b, x0, y0, kWhite);
    BlurBitmap(b, 11);
    EXPECT_EQ(pixel(b, x0 - 11, y0 - 11), (Bgr{63, 63, 63}));
    EXPECT_EQ(pixel(b, x0 + 11, y0 - 11), (Bgr{63, 63, 63}));
    EXPECT_EQ(pixel(b, x0, y0), (Bgr{31, 31, 31}));
}

TEST(BlurTest, FarEdgeSamplesComeFromNearTheTopAndLeft) {
    // Only row 1 is white: the last row samples row H - y = 1 below it, and row H - 1 - d above.
    const int32_t W = 30, H = 30, d = 5;
    WorkBitmap b = testing::filledBitmap(W, H, {0, 0, 0});
    for (int32_t x = 0; x < W; ++x) testing::setPixel(b, x, 1, kWhite);
    WorkBitmap ref = testing::filledBitmap(W, H, {0, 0, 0});
    for (int32_t x = 0; x < W; ++x) testing::setPixel(ref, x, 1, kWhite);
    BlurBitmap(b, d);
    testing::referenceBlur(ref, d);
    EXPECT_EQ(differences(b, ref), "");
    // Row 1 samples itself above (1 - d < 0): near the left, itself unblurred twice.
    EXPECT_EQ(pixel(b, 2, 1), (Bgr{127, 127, 127}));
    // The last row samples row H - y = 1 below and row 24 (still black) above.
    const int want = (pixel(b, 10, 1)[0] + pixel(b, 20, 1)[0]) / 4;
    EXPECT_GT(want, 0);
    EXPECT_EQ(pixel(b, 15, H - 1)[0], want);
}

} // namespace
} // namespace tarnwick
