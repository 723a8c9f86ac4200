#include "engine_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

namespace tarnwick {
namespace {

using testing_support::EngineWorld;

TEST(SaverForm, FullScreenShowsTheFormAndStartsOnlyTheRefreshTimerForTheDesktop) {
    EngineWorld world;
    TForm1& form = world.start({"/s"});
    EXPECT_TRUE(world.window.visible());
    EXPECT_FALSE(form.IsPreview);
    EXPECT_TRUE(form.UseDesktop);
    EXPECT_FALSE(form.JvThreadTimer1->Active());
    EXPECT_TRUE(form.JvThreadTimer2->Active());
    EXPECT_EQ(world.terminations, 0);
    // The first glide starts at a place on the desktop, not at its corner.
    EXPECT_NE(std::make_pair(form.cx, form.cy), std::make_pair(0, 0));
    EXPECT_EQ(std::make_pair(form.lcx, form.lcy), std::make_pair(form.cx, form.cy));
    form.FormClose();
}

TEST(SaverForm, PreviewSizesTheFormWithoutShowingIt) {
    EngineWorld world;
    TForm1& form = world.start({"/p"});
    EXPECT_FALSE(world.window.visible()); // the message loop shows it
    EXPECT_TRUE(form.IsPreview);
    EXPECT_EQ(world.window.clientSize(), (Size{152, 112}));
    EXPECT_TRUE(form.JvThreadTimer2->Active());
    form.FormClose();
}

TEST(SaverForm, ConfigurationShowsTheDialogOnceThenReadsTheStoreAndEnds) {
    EngineWorld world;
    world.start({"/c"});
    EXPECT_EQ(world.dialogsShown, 1); // the event comes twice
    EXPECT_TRUE(world.module.ConfigDone);
    EXPECT_EQ(world.terminations, 1);
    EXPECT_FALSE(world.form->JvThreadTimer1->Active());
    EXPECT_FALSE(world.form->JvThreadTimer2->Active());
    // The reader ran after the dialog: a first run leaves the defaults behind.
    EXPECT_EQ(world.form->JvThreadTimer1->Delay(), 9000);
    EXPECT_EQ(world.form->JvThreadTimer2->Delay(), 50);
}

TEST(SaverForm, AFailingDialogStillMarksTheConfigurationDone) {
    EngineWorld world;
    world.module.startUp({"/c"});
    FormServices services{world.platform,
                          world.window,
                          {"/c"},
                          [] {},
                          [] { throw std::runtime_error("dialog failed"); },
                          {}};
    EXPECT_THROW(TForm1(world.module, services), std::runtime_error);
    EXPECT_TRUE(world.module.ConfigDone);
}

// FormCreate seeds the generator again, but only in saver mode; it runs after the mode event,
// which is what tells it the mode (a reseed before it would show in the other two modes).
TEST(SaverForm, FormCreateReseedsOnlyTheFullScreenSaver) {
    const std::pair<const char*, int> cases[] = {{"/s", 1}, {"/p", 0}, {"/c", 0}};
    for (const auto& [mode, reseeds] : cases) {
        EngineWorld world;
        world.module.startUp({mode});
        const int before = world.module.random.clockSeedings();
        FormServices services{world.platform, world.window, {mode}, [] {}, [] {}, {}};
        TForm1 form(world.module, services);
        EXPECT_EQ(world.module.random.clockSeedings() - before, reseeds) << mode;
        form.FormClose();
    }
}

// The program ends by destroying its form: that alone must give the system back its screen
// saver and the user their cursor.
TEST(SaverForm, DestroyingTheFullScreenFormLiftsTheSaverFlagAndShowsTheCursor) {
    EngineWorld world;
    TForm1& form = world.start({"/s"});
    form.FormClose();
    auto after = [&](const char* entry) {
        return std::count(world.log.begin(), world.log.end(), entry);
    };
    ASSERT_EQ(after("saverRunning:1"), 1);
    ASSERT_EQ(after("showCursor:0"), 1);
    world.log.clear();
    world.form.reset();
    EXPECT_EQ(after("saverRunning:0"), 1);
    EXPECT_EQ(after("showCursor:1"), 1);
}

TEST(SaverForm, AnActiveTimerIsNotTouchedByAModeEvent) {
    EngineWorld world;
    TForm1& form = world.start({"/s"});
    form.JvThreadTimer1->setActive(true);
    form.ScreenSaver1MainSaverActive(*form.ScreenSaver1);
    EXPECT_TRUE(form.JvThreadTimer1->Active()); // would be switched off for the desktop otherwise
    form.FormClose();
}

TEST(SaverForm, AnyKeyAndAnyClickCloseTheFormButMovingTheMouseDoesNot) {
    for (int input = 0; input < 4; ++input) {
        EngineWorld world;
        TForm1& form = world.start({"/s"});
        world.window.moveMouse(10, 10);
        form.PaintBox1MouseMove(0, 20, 20);
        ASSERT_FALSE(world.window.closed_);
        switch (input) {
        case 0:
            world.window.pressKey(0x10, platform::ssShift);
            break; // Shift alone
        case 1:
            world.window.pressKey('A');
            break;
        case 2:
            world.window.clickMouse();
            break;
        case 3:
            form.ClickToClose();
            break;
        }
        EXPECT_TRUE(world.window.closed_) << input;
        EXPECT_FALSE(form.JvThreadTimer2->Active());
        EXPECT_EQ(world.module.CopyBitmap, nullptr);
        EXPECT_EQ(world.terminations, 1); // closing the main form ends the loop
    }
}

TEST(SaverForm, FormCloseFreesThePictureAndTheListAndIsSafeTwice) {
    EngineWorld world;
    TForm1& form = world.start({"/s"});
    ASSERT_NE(world.module.CopyBitmap, nullptr);
    ASSERT_NE(form.pictureList, nullptr);
    form.FormClose();
    form.FormClose();
    EXPECT_EQ(world.module.CopyBitmap, nullptr);
    EXPECT_EQ(form.pictureList, nullptr);
    EXPECT_FALSE(form.JvThreadTimer1->Active());
    // A tick after the close draws nothing.
    form.JvThreadTimer2Timer(*form.JvThreadTimer2);
    EXPECT_EQ(world.window.framesShown, 0);
}

} // namespace
} // namespace tarnwick
