#include "host/screensaver.h"

#include "fakes/fakes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

namespace tarnwick {
namespace {

using fakes::CallLog;
using testing::ElementsAre;

constexpr platform::WindowId kDisplayProperties = 77;

// A host on the in-memory window system; every call and event lands in one log.
struct Host {
    explicit Host(std::vector<std::string> args)
        : form(&log), windows(&log), saverState(&log), passwords(&log) {
        windows.windows.push_back({"Display Properties", kDisplayProperties});
        saver = std::make_unique<TScreenSaver>(
            ScreenSaverEnvironment{form, windows, saverState, passwords, std::move(args),
                                   "Tarnwick Screensaver", [this] { log.push_back("terminate"); }});
        auto record = [this](const char* name) {
            return [this, name](TScreenSaver&) { log.push_back(name); };
        };
        saver->OnBeforePreviewActive = record("OnBeforePreviewActive");
        saver->OnPreviewActive = record("OnPreviewActive");
        saver->OnBeforeMainSaverActive = record("OnBeforeMainSaverActive");
        saver->OnMainSaverActive = record("OnMainSaverActive");
        saver->OnBeforeConfigBoxActive = record("OnBeforeConfigBoxActive");
        saver->OnConfigBoxActive = [this](TScreenSaver&) {
            log.push_back("OnConfigBoxActive");
            auto* w = windows.byId(kDisplayProperties);
            displayEnabledDuringConfig.push_back(w->enabled);
        };
        saver->OnBeforePasswordSet = record("OnBeforePasswordSet");
        saver->OnPasswordSet = record("OnPasswordSet");
    }
    CallLog run() {
        saver->Loaded();
        return log;
    }
    CallLog teardown() {
        log.clear();
        saver.reset();
        return log;
    }

    CallLog log;
    fakes::FakeFormWindow form;
    fakes::FakeWindowSystem windows;
    fakes::FakeSaverState saverState;
    fakes::FakePasswordLibrary passwords;
    std::vector<bool> displayEnabledDuringConfig;
    std::unique_ptr<TScreenSaver> saver;
};

TEST(ScreenSaverModes, FullScreenDoesTheWindowWorkInOrderThenHooksThenRaises) {
    Host h({"/s"});
    EXPECT_THAT(h.run(),
                ElementsAre("OnBeforeMainSaverActive", "hideAppWindow:Tarnwick Screensaver",
                            "saverRunning:1", "showCursor:0", "state:maximized", "borderless",
                            "onTop", "createHandle", "setWindowProc", "OnMainSaverActive"));
    EXPECT_TRUE(h.saver->hookInstalled());
    EXPECT_EQ(h.windows.appExStyle, 0u); // not changed in this mode
}

TEST(ScreenSaverModes, FullScreenWithoutWindowWorkStillInstallsTheHook) {
    Host h({"-S"});
    h.saver->MainScreenSaver = false;
    EXPECT_THAT(h.run(), ElementsAre("OnBeforeMainSaverActive", "createHandle", "setWindowProc",
                                     "OnMainSaverActive"));
}

TEST(ScreenSaverModes, PreviewEmbedsIntoTheGivenWindowAt152x112) {
    for (const char* handle : {"1234", "$4D2"}) {
        Host h({"/p", handle});
        EXPECT_THAT(h.run(), ElementsAre("OnBeforePreviewActive",
                                         "hideAppWindow:Tarnwick Screensaver", "appExStyle:136",
                                         "createHandle", "embed:1234", "geometry:0,0,1920x1080",
                                         "geometry:0,0,152x112", "OnPreviewActive"))
            << handle;
        EXPECT_EQ(h.form.embeddedIn, 1234u);
    }
}

TEST(ScreenSaverModes, PreviewWithoutAUsableHandleIsNotEmbedded) {
    for (std::vector<std::string> args :
         {std::vector<std::string>{"/p:1234"}, {"/p"}, {"/p", "-1"}, {"/p", "12x"}}) {
        Host h(args);
        EXPECT_THAT(h.run(),
                    ElementsAre("OnBeforePreviewActive", "hideAppWindow:Tarnwick Screensaver",
                                "appExStyle:136", "createHandle", "OnPreviewActive"))
            << args[0];
        EXPECT_EQ(h.form.embeddedIn, 0u);
    }
}

TEST(ScreenSaverModes, PasswordRequestCallsTheProviderAndEnds) {
    Host h({"/a", "1234"});
    h.passwords.libraryPresent = true;
    h.passwords.functionPresent = true;
    fakes::FakePasswordLibrary::calls.clear();
    EXPECT_THAT(h.run(), ElementsAre("OnBeforePasswordSet", "hideAppWindow:Tarnwick Screensaver",
                                     "state:minimized", "appExStyle:136",
                                     "loadLibrary:C:\\WINDOWS\\SYSTEM\\MPR.DLL",
                                     "getProc:PwdChangePasswordA", "freeLibrary", "OnPasswordSet",
                                     "terminate"));
    EXPECT_THAT(fakes::FakePasswordLibrary::calls, ElementsAre("SCRSAVE,1234,0,0"));
}

TEST(ScreenSaverModes, PasswordWithoutLibraryOrFunctionShowsNothingAndStillEnds) {
    Host missing({"/A"});
    EXPECT_THAT(missing.run(),
                ElementsAre("OnBeforePasswordSet", "hideAppWindow:Tarnwick Screensaver",
                            "state:minimized", "appExStyle:136",
                            "loadLibrary:C:\\WINDOWS\\SYSTEM\\MPR.DLL", "OnPasswordSet",
                            "terminate"));
    Host noFunction({"/a", "$10"});
    noFunction.passwords.libraryPresent = true;
    fakes::FakePasswordLibrary::calls.clear();
    auto log = noFunction.run();
    EXPECT_TRUE(fakes::FakePasswordLibrary::calls.empty());
    EXPECT_EQ(log.back(), "terminate");
    EXPECT_EQ(log[log.size() - 3], "freeLibrary");
}

TEST(ScreenSaverModes, SystemDirectoryGetsExactlyOneBackslash) {
    EXPECT_EQ(PasswordLibraryPath("C:\\WINDOWS\\SYSTEM32"), "C:\\WINDOWS\\SYSTEM32\\MPR.DLL");
    EXPECT_EQ(PasswordLibraryPath("C:\\"), "C:\\MPR.DLL");
    EXPECT_EQ(PasswordLibraryPath(""), "MPR.DLL");
    Host h({"/a"});
    h.windows.systemDirectory_ = "D:\\SYS\\";
    h.run();
    EXPECT_EQ(h.passwords.loadedPath, "D:\\SYS\\MPR.DLL");
}

TEST(ScreenSaverModes, ConfigurationWithLetterCDisablesTheDisplayWindowDuringTheEvent) {
    for (const char* arg : {"/c", "/C", "/c:1234"}) {
        Host h({arg});
        h.form.state_ = platform::WindowState::Maximized;
        EXPECT_THAT(h.run(),
                    ElementsAre("OnBeforeConfigBoxActive", "disable:77", "state:normal",
                                "geometry:-740,0,640x480", "OnConfigBoxActive", "enable:77",
                                "foreground:77", "terminate", "OnConfigBoxActive"))
            << arg;
        // Disabled during the first raise (the dialog), enabled again for the second.
        EXPECT_THAT(h.displayEnabledDuringConfig, ElementsAre(false, true));
        EXPECT_EQ(h.windows.foreground, kDisplayProperties);
    }
}

TEST(ScreenSaverModes, ConfigurationWithAnyOtherLetterLeavesTheDisplayWindowAlone) {
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"s"}, {"/x"}, {"-root"}}) {
        Host h(args);
        h.form.state_ = platform::WindowState::Normal;
        EXPECT_THAT(h.run(), ElementsAre("OnBeforeConfigBoxActive", "geometry:-740,0,640x480",
                                         "OnConfigBoxActive", "terminate", "OnConfigBoxActive"));
    }
}

TEST(ScreenSaverModes, ConfigurationBoxOffRaisesTheEventOnceAndDoesNotEnd) {
    Host h({"/c"});
    h.saver->ConfigurationBox = false;
    EXPECT_THAT(h.run(), ElementsAre("OnBeforeConfigBoxActive", "OnConfigBoxActive"));
}

TEST(ScreenSaverModes, NothingHappensWithoutAutoEnable) {
    Host h({"/s"});
    h.saver->AutoEnable = false;
    EXPECT_TRUE(h.run().empty());
}

TEST(ScreenSaverHook, RefusesOnlyTheScreenSaveRequest) {
    Host h({"/s"});
    h.run();
    EXPECT_EQ(h.form.sendMessage(platform::WM_SYSCOMMAND, platform::SC_SCREENSAVE, 0), 0);
    EXPECT_TRUE(h.form.defaultProcMessages.empty());
    EXPECT_EQ(h.form.sendMessage(platform::WM_SYSCOMMAND, platform::SC_CLOSE, 5), 1);
    EXPECT_EQ(h.form.sendMessage(0x0100, platform::SC_SCREENSAVE, 0),
              1); // another message, same value
    ASSERT_EQ(h.form.defaultProcMessages.size(), 2u);
    EXPECT_EQ(h.form.defaultProcMessages[0],
              std::make_pair(platform::WM_SYSCOMMAND, platform::SC_CLOSE));
    EXPECT_TRUE(h.form.closed_);
}

TEST(ScreenSaverTeardown, RestoresTheProcedureAndClearsTheSystemState) {
    Host h({"/s"});
    h.run();
    EXPECT_THAT(h.teardown(), ElementsAre("setWindowProc", "saverRunning:0", "showCursor:1"));
    EXPECT_EQ(h.windows.cursorCount, 0);
    EXPECT_FALSE(h.saverState.running_);
    // The window's own procedure is back: the screen-save request reaches it again.
    h.form.sendMessage(platform::WM_SYSCOMMAND, platform::SC_SCREENSAVE, 0);
    EXPECT_EQ(h.form.defaultProcMessages.size(), 1u);
}

TEST(ScreenSaverTeardown, DoesNotRecreateAWindowThatIsGone) {
    Host h({"/s"});
    h.run();
    h.form.destroyHandle();
    EXPECT_THAT(h.teardown(), ElementsAre("saverRunning:0", "showCursor:1"));
    EXPECT_FALSE(h.form.hasHandle());
    // The procedure left in place outlives the saver and still passes messages on.
    EXPECT_EQ(h.form.sendMessage(0x0100, 7, 0), 1);
    ASSERT_EQ(h.form.defaultProcMessages.size(), 1u);
    EXPECT_EQ(h.form.defaultProcMessages[0], std::make_pair(uint32_t{0x0100}, uintptr_t{7}));
}

TEST(ScreenSaverTeardown, RunsInEveryModeAndEnablesTheDisplayWindowForC) {
    Host config({"/c"});
    config.run();
    EXPECT_THAT(config.teardown(), ElementsAre("enable:77", "saverRunning:0", "showCursor:1"));
    Host preview({"/p", "5"});
    preview.run();
    EXPECT_THAT(preview.teardown(), ElementsAre("saverRunning:0", "showCursor:1"));
    Host quiet({"/s"});
    quiet.saver->SystemKeysDisabled = false;
    quiet.saver->AutoMouseHide = false;
    quiet.run();
    EXPECT_THAT(quiet.teardown(), ElementsAre("setWindowProc"));
}

} // namespace
} // namespace tarnwick
