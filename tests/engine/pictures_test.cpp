#include "engine_fixture.h"

#include "imaging/builtin_picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>

namespace tarnwick {
namespace {

using testing_support::EngineWorld;
using testing_support::writeBmp;

class Pictures : public testing::Test {
protected:
    void SetUp() override {
        world.start({"/p"});
        world.window.visible_ = true;
        form().UseDesktop = false; // the first run chose the desktop
        world.module.CopyBitmap = NewWorkBitmap();
        form().pictureList = std::make_unique<std::vector<std::string>>();
        form().pictureIndex = 0;
    }
    TForm1& form() { return *world.form; }
    // A picture file whose size tells it apart: width 10 + n.
    std::string file(int n, int height = 20) {
        const std::string path = world.dir / ("p" + std::to_string(n) + ".bmp");
        writeBmp(path, 10 + n, height, static_cast<uint8_t>(n));
        return path;
    }
    int shownWidth() const { return world.module.CopyBitmap->width(); }
    // One cycle tick and its change: what was decoded ahead is ready by the tick.
    void cycle() {
        if (form().preparer()) form().preparer()->waitUntilDone(std::chrono::seconds(10));
        form().JvThreadTimer1Timer(*form().JvThreadTimer1);
        world.settle();
    }
    EngineWorld world;
};

TEST_F(Pictures, TheFirstFileTakenIsTheSecondEntryThenTheListWraps) {
    *form().pictureList = {"a", "b", "c"};
    std::vector<std::string> taken;
    for (int i = 0; i < 5; ++i) taken.push_back(form().Nextfilename());
    EXPECT_EQ(taken, (std::vector<std::string>{"b", "c", "a", "b", "c"}));
    form().pictureList->clear();
    EXPECT_EQ(form().Nextfilename(), "");
    form().pictureList.reset();
    EXPECT_EQ(form().Nextfilename(), "");
    EXPECT_EQ(form().pictureIndex, 2);
}

TEST_F(Pictures, CycleTicksShowEntriesTwoThreeOneAndPlaySoundOneEachTime) {
    *form().pictureList = {file(1), file(2), file(3)};
    form().PlaySounds = true;
    world.sound.played.clear();
    std::vector<int> shown;
    for (int i = 0; i < 5; ++i) {
        cycle();
        shown.push_back(shownWidth() - 10);
        EXPECT_TRUE(form().JvThreadTimer2->Active()); // restarted in every case
    }
    EXPECT_EQ(shown, (std::vector<int>{2, 3, 1, 2, 3}));
    EXPECT_EQ(world.sound.count(1), 5);
    EXPECT_EQ(world.sound.count(2), 0);
}

TEST_F(Pictures, BadEntriesKeepThePreviousPictureAndPlayNothing) {
    const std::string folderNamedLikeAPicture = world.dir / "folder.jpg";
    std::filesystem::create_directory(folderNamedLikeAPicture);
    const std::string truncated = world.dir / "cut.BMP";
    {
        std::vector<char> head(30, 'B');
        std::ofstream(truncated, std::ios::binary).write(head.data(), 30);
    }
    const std::string corruptJpeg = world.dir / "bad.JPG";
    std::ofstream(corruptJpeg, std::ios::binary) << "\xFF\xD8\xFF not really a jpeg";
    const std::string unknown = world.dir / "notes.txt";
    std::ofstream(unknown) << "hello";
    *form().pictureList = {file(9),
                           file(1),
                           world.dir / "missing.bmp",
                           folderNamedLikeAPicture,
                           "",
                           truncated,
                           corruptJpeg,
                           unknown,
                           file(2)};
    form().PlaySounds = true;
    world.sound.played.clear();
    std::vector<int> shown;
    for (int i = 0; i < 8; ++i) {
        cycle();
        shown.push_back(shownWidth() - 10);
    }
    // Entry 2 stays for every failing entry; the next tick takes the next entry.
    EXPECT_EQ(shown, (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 2}));
    EXPECT_EQ(world.sound.count(1), 2);
}

TEST_F(Pictures, AMissingMiddleEntryKeepsThePictureForTwoIntervals) {
    *form().pictureList = {file(1), file(2), world.dir / "gone.bmp", file(4)};
    std::vector<int> shown;
    for (int i = 0; i < 4; ++i) {
        cycle();
        shown.push_back(shownWidth() - 10);
    }
    EXPECT_EQ(shown, (std::vector<int>{2, 2, 4, 1}));
}

TEST_F(Pictures, NoSoundWithSoundsOff) {
    *form().pictureList = {file(1), file(2)};
    form().PlaySounds = false;
    world.sound.played.clear();
    for (int i = 0; i < 3; ++i) cycle();
    for (int i = 0; i < 130; ++i) form().CalcSourceRect();
    EXPECT_TRUE(world.sound.played.empty());
}

TEST_F(Pictures, UpperCaseExtensionsLoadAndAOnePixelPictureIsFine) {
    const std::string upper = world.dir / "ONE.BMP";
    writeBmp(upper, 1, 1, 5);
    *form().pictureList = {upper};
    EXPECT_TRUE(form().LoadNextPicture());
    world.settle();
    EXPECT_EQ(shownWidth(), 1);
    EXPECT_EQ(world.module.CopyBitmap->scanLine(0)[0], 5);
    for (int i = 0; i < 3; ++i) form().CalcSourceRect();
}

TEST_F(Pictures, OnlyTheFirstSuccessfulLoadPlacesTheCamera) {
    *form().pictureList = {file(1, 500), file(100, 500)};
    world.module.Synced = false;
    form().cx = form().cy = 0;
    EXPECT_TRUE(form().LoadNextPicture());
    world.settle();
    EXPECT_TRUE(world.module.Synced);
    EXPECT_GT(form().cx, 0);
    form().cx = 0;
    EXPECT_TRUE(form().LoadNextPicture());
    world.settle();
    EXPECT_EQ(form().cx, 0); // SyncSize does not run again
}

TEST_F(Pictures, TheCameraIsRescaledOnEachAxisToTheNewPicture) {
    *form().pictureList = {file(190, 300), file(90, 600)}; // 200x300 shown first, then 100x600
    cycle();
    ASSERT_EQ(shownWidth(), 100);
    // The first picture replaced an empty one: no rescale.
    form().cx = 77;
    form().lcx = 33;
    form().cy = 301;
    form().lcy = -7;
    cycle(); // 100x600 -> 200x300
    ASSERT_EQ(shownWidth(), 200);
    EXPECT_EQ(form().cx, 154); // Trunc(200 * (77 / 100))
    EXPECT_EQ(form().lcx, 66); // Trunc(200 * (33 / 100))
    EXPECT_EQ(form().cy, 150); // Trunc(300 * (301 / 600)) = Trunc(150.5)
    EXPECT_EQ(form().lcy, -3); // Trunc(-3.5) cuts toward zero
    // With lcx = 0 the camera is left as it is.
    form().lcx = 0;
    form().cx = 10;
    cycle();
    EXPECT_EQ(form().cx, 10);
}

TEST_F(Pictures, NoRescaleWhenThePictureReplacedIsEmpty) {
    *form().pictureList = {file(90, 600)};
    world.module.Synced = true;
    form().cx = 7, form().cy = 3, form().lcx = 5, form().lcy = 2;
    cycle(); // 0x0 -> 100x600
    ASSERT_EQ(shownWidth(), 100);
    EXPECT_EQ((std::vector<int32_t>{form().cx, form().cy, form().lcx, form().lcy}),
              (std::vector<int32_t>{7, 3, 5, 2}));
}

TEST_F(Pictures, AOneEntryListReloadsAndPlaysSoundOneAtEveryTick) {
    const std::string only = file(5);
    *form().pictureList = {only};
    form().PlaySounds = true;
    world.module.Synced = false;
    form().JvThreadTimer2->setActive(true);
    world.sound.played.clear();
    // A sound's moment is whether the refresh timer was running when it started.
    world.sound.momentSource = [this] { return form().JvThreadTimer2->Active() ? 1 : 0; };
    std::vector<int> shown;
    for (int i = 0; i < 4; ++i) {
        if (i == 2) writeBmp(only, 17, 20); // the file as it is at the tick is shown
        const uint8_t* before = world.module.CopyBitmap->data();
        cycle();
        EXPECT_NE(world.module.CopyBitmap->data(), before) << "tick " << i << " loaded nothing";
        EXPECT_TRUE(form().JvThreadTimer2->Active());
        EXPECT_TRUE(world.module.Synced);
        shown.push_back(shownWidth());
        if (i == 0) form().cx = 1; // SyncSize placed the camera once; later ticks leave it
    }
    EXPECT_EQ(shown, (std::vector<int>{15, 15, 17, 17}));
    EXPECT_EQ(form().cx, 1);
    EXPECT_EQ(world.sound.ids(), (std::vector<int>{1, 1, 1, 1}));
    // Decoded ahead, the change happens in the cycle tick, with the refresh timer stopped (the
    // first picture and the rewritten file may come at a refresh tick).
    const std::vector<int64_t> moments = world.sound.momentsOf(1);
    ASSERT_EQ(moments.size(), 4u);
    EXPECT_EQ(moments[1], 0);
    EXPECT_EQ(moments[3], 0);
}

TEST_F(Pictures, TheCycleTickDoesNothingWhileTheFormIsHidden) {
    *form().pictureList = {file(1), file(2)};
    world.window.visible_ = false;
    form().JvThreadTimer2->setActive(false);
    cycle();
    EXPECT_EQ(form().pictureIndex, 0);
    EXPECT_FALSE(form().JvThreadTimer2->Active());
}

TEST_F(Pictures, DesktopSettingsTransformTheSnapshot) {
    struct Case {
        int setting;
        Size size;
    };
    for (const Case& c : {Case{0, {1920, 1080}}, Case{1, {1080, 1920}}, Case{2, {1920, 1080}},
                          Case{3, {1080, 1920}}, Case{5, {1920, 1080}}, Case{6, {1920, 1080}},
                          Case{-1, {1920, 1080}}}) {
        form().TakeDesktopSnapshot();
        auto& before = *world.module.CopyBitmap;
        const uint8_t corner = before.scanLine(0)[2 * 3 + 1]; // green of (2, 0)
        form().ApplyDesktopSetting(c.setting);
        auto& after = *world.module.CopyBitmap;
        EXPECT_EQ((Size{after.width(), after.height()}), c.size) << c.setting;
        if (c.setting == 0 || c.setting == 6 || c.setting == -1) {
            EXPECT_EQ(after.scanLine(0)[2 * 3 + 1], corner) << c.setting;
            EXPECT_EQ(after.scanLine(1079)[1919 * 3 + 2], static_cast<uint8_t>(1919)) << c.setting;
        }
        if (c.setting == 2) { // turned half way: the last pixel holds the first
            EXPECT_EQ(after.scanLine(1079)[1919 * 3 + 2], 0);
            EXPECT_EQ(after.scanLine(1079)[1919 * 3 + 1], 0);
        }
    }
}

TEST_F(Pictures, TheSnapshotCoversTheWholeVirtualDesktopFromItsTopLeft) {
    world.screen.desktop = {-1280, -200, 1920, 1080}; // a monitor left of and above the primary
    form().TakeDesktopSnapshot();
    auto& b = *world.module.CopyBitmap;
    ASSERT_EQ(b.width(), 3200);
    ASSERT_EQ(b.height(), 1280);
    EXPECT_EQ(b.scanLine(0)[2], static_cast<uint8_t>(-1280)); // red = low byte of the screen x
    EXPECT_EQ(b.scanLine(0)[1], static_cast<uint8_t>(-200));
}

TEST_F(Pictures, WithNoDesktopToShowTheSaversOwnPictureStandsInUpright) {
    using Shows = testing_support::PatternScreen::Shows;
    world.screen.desktop = {0, 0, 1280, 720};
    for (const Shows shows : {Shows::Black, Shows::Unreadable, Shows::Withheld}) {
        world.screen.shows = shows;
        form().TakeDesktopSnapshot();
        form().ApplyDesktopSetting(1); // rotated 90: not the stand-in, whose line must be read
        // Grown to 1080 rows, so that its line is readable on a small screen too.
        const auto want = builtinPicture(
            1920, 1080, shows == Shows::Withheld ? world.screen.refusal : kBuiltinPictureHint);
        const WorkBitmap& got = *world.module.CopyBitmap;
        ASSERT_EQ((Size{got.width(), got.height()}), (Size{1920, 1080})) << int(shows);
        int differing = 0;
        for (int32_t y = 0; y < got.height(); ++y)
            differing += !std::ranges::equal(got.scanLine(y), want->scanLine(y));
        EXPECT_EQ(differing, 0) << int(shows);
    }
    // A desktop that shows again is the desktop, and is transformed.
    world.screen.shows = Shows::Pattern;
    form().TakeDesktopSnapshot();
    form().ApplyDesktopSetting(1);
    EXPECT_EQ(world.module.CopyBitmap->width(), 720);
}

TEST_F(Pictures, TheWarpAmountIsAMultipleOf45From585To2880) {
    std::set<int32_t> seen;
    for (int i = 0; i < 2000; ++i) {
        const int32_t amount = WarpAmount(world.module.random);
        ASSERT_EQ(amount % 45, 0);
        ASSERT_GE(amount, 585);
        ASSERT_LE(amount, 2880);
        seen.insert(amount);
    }
    EXPECT_EQ(seen.size(), 52u);
    world.screen.desktop = {0, 0, 64, 48};
    form().TakeDesktopSnapshot();
    form().ApplyDesktopSetting(4);
    EXPECT_EQ(world.module.CopyBitmap->width(), 64);
}

} // namespace
} // namespace tarnwick
