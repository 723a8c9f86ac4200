// Which display the program talks to, and one full-screen saver per Wayland session.
#include "platform/wayland/wayland_platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tarnwick::platform::wayland {
namespace {

TEST(WaylandChosen, WaylandUnlessToldToUseX11) {
    EXPECT_TRUE(waylandChosen("wayland-1", nullptr));
    EXPECT_TRUE(waylandChosen("wayland-1", "wayland"));
    EXPECT_FALSE(waylandChosen("wayland-1", "xcb"));
    EXPECT_FALSE(waylandChosen("wayland-1", "xcb:display=:1"));
    EXPECT_FALSE(waylandChosen("", nullptr));
    EXPECT_FALSE(waylandChosen(nullptr, nullptr));
}

class SaverInstanceLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnwick-lock-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string dir;
};

TEST_F(SaverInstanceLockTest, SecondSaverOfTheSameSessionIsRefused) {
    SaverInstanceLock first(dir.c_str(), "wayland-1");
    ASSERT_TRUE(first.held());
    {
        SaverInstanceLock second(dir.c_str(), "wayland-1");
        EXPECT_FALSE(second.held());
        // Another compositor's session is another session.
        SaverInstanceLock other(dir.c_str(), "wayland-2");
        EXPECT_TRUE(other.held());
    }
    // A display given as a path is one name, not folders below the runtime folder.
    SaverInstanceLock path(dir.c_str(), "/run/user/1000/wayland-1");
    EXPECT_TRUE(path.held());
    SaverInstanceLock samePath(dir.c_str(), "/run/user/1000/wayland-1");
    EXPECT_FALSE(samePath.held());
}

TEST_F(SaverInstanceLockTest, FreedWhenTheFirstSaverEnds) {
    { SaverInstanceLock first(dir.c_str(), "wayland-1"); }
    SaverInstanceLock next(dir.c_str(), "wayland-1");
    EXPECT_TRUE(next.held());
}

} // namespace
} // namespace tarnwick::platform::wayland
