#include "engine_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tarnwick {
namespace {

using testing_support::EngineWorld;

struct Row {
    int i;
    double sine, zigzag, average, drunken; // drunken without its wobble
};

// Entries that are actually read, for a maximum zoom of 1.
const Row kTable[] = {
    {0, 0, 0, 0, 0},
    {45, 0.7071, 0.5, 0.6243, 0.6657},
    {90, 1, 1, 1, 1},
    {135, 0.7071, 0.5, 0.6243, 0.6657},
    {180, 0, 0, 0, 0},
    {225, -0.7071, 0.5, -0.2243, -0.4657},
    {267, -0.9986, 0.9667, -0.2125, -0.6056},
    {270, -1, -1, -1, -1},
    {315, -0.7071, -0.5, -0.6243, -0.6657},
    {357, -0.0523, -0.0333, -0.0447, -0.0485},
};

class Zooms : public testing::Test {
protected:
    TForm1& form() { return *world.form; }
    void SetUp() override {
        world.start({"/p"});
        form().MaxZoom = 1;
    }
    EngineWorld world;
};

TEST_F(Zooms, TheThreeFixedPathsMatchTheTable) {
    form().BuildZooms(0);
    for (const Row& r : kTable) EXPECT_NEAR(form().Zooms[r.i], r.sine, 5e-5) << r.i;
    form().BuildZooms(1);
    for (const Row& r : kTable) EXPECT_NEAR(form().Zooms[r.i], r.zigzag, 5e-5) << r.i;
    form().BuildZooms(2);
    for (const Row& r : kTable) EXPECT_NEAR(form().Zooms[r.i], r.average, 5e-5) << r.i;
}

TEST_F(Zooms, DrunkenAddsAWobbleDrawnAThenBPerEntry) {
    world.module.random.seed(42);
    form().BuildZooms(3);
    Random replay(42);
    std::array<double, 360> wobble{};
    for (int i = 0; i < 360; ++i) {
        const int a = replay(61) - 30;
        const int b = replay(20) + 110;
        ASSERT_GE(a, -30);
        ASSERT_LE(a, 30);
        ASSERT_GE(b, 110);
        ASSERT_LE(b, 129);
        wobble[static_cast<size_t>(i)] = static_cast<double>(a) / b / 10;
    }
    for (const Row& r : kTable)
        EXPECT_NEAR(form().Zooms[r.i], r.drunken + wobble[static_cast<size_t>(r.i)], 5e-5) << r.i;
    // Within the wobble's bound everywhere.
    const auto plain = form().Zooms;
    world.module.random.seed(43);
    form().BuildZooms(3);
    int differing = 0;
    for (int i = 0; i < 360; ++i) {
        EXPECT_LE(std::abs(form().Zooms[i] - plain[i]), 2 * 0.0273 + 1e-12);
        differing += form().Zooms[i] != plain[i];
    }
    EXPECT_GT(differing, 300); // two builds give different wobbles
}

TEST_F(Zooms, AnUnknownPathBuildsTheSineTable) {
    form().BuildZooms(0);
    const auto sine = form().Zooms;
    for (int index : {4, -1, 7, 1000}) {
        form().BuildZooms(1);
        form().BuildZooms(index);
        EXPECT_EQ(form().Zooms, sine) << index;
    }
}

TEST_F(Zooms, EntriesScaleWithTheMaximumZoom) {
    for (int path = 0; path < 3; ++path) {
        form().MaxZoom = 1;
        form().BuildZooms(path);
        const auto one = form().Zooms;
        form().MaxZoom = 0.5;
        form().BuildZooms(path);
        for (int i = 0; i < 360; ++i) EXPECT_NEAR(form().Zooms[i], one[i] * 0.5, 1e-15);
        form().MaxZoom = 0;
        form().BuildZooms(path);
        for (double z : form().Zooms) EXPECT_EQ(std::abs(z), 0.0);
    }
}

TEST_F(Zooms, TheSineUsesTheTwelveDecimalPi) {
    form().BuildZooms(0);
    // With the full-precision pi this would be about 1.2e-16.
    EXPECT_NEAR(form().Zooms[180], 7.93e-13, 0.01e-13);
    form().BuildZooms(2);
    EXPECT_LT(std::abs(form().Zooms[267]), 0.22);
    EXPECT_NEAR(std::abs(form().Zooms[270]), 1, 1e-12); // the jump back to the widest view
    EXPECT_NEAR(form().Zooms[269],
                (6 * std::sin(269 * 3.141592653589 / 180) + 4 * (89.0 / 90)) / 10, 1e-12);
}

} // namespace
} // namespace tarnwick
