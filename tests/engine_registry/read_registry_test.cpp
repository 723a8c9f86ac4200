// The saver's settings reader, through the form as the program creates it.
#include "engine/engine_fixture.h"
#include "fakes/fake_registry.h"
#include "settings/stored_props.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace tarnwick {
namespace {

using platform::RegValue;
using testing_support::PatternScreen;
using testing_support::TempDir;

constexpr const char* kSection = "Software\\Tarnwick\\TfrmConfig";
constexpr const char* kList = "Software\\Tarnwick\\TfrmConfig.ListBox1_Items";

using SaverWorld = testing_support::EngineWorld;

// Whether the form's zoom table is the one `build` makes for its MaxZoom.
bool zoomsAre(TForm1& f, void (TForm1::*build)()) {
    const auto got = f.Zooms;
    (f.*build)();
    return got == f.Zooms;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Size pictureSize(SaverWorld& w) {
    return {w.module.CopyBitmap->width(), w.module.CopyBitmap->height()};
}

TEST(ReadRegistry, FirstRunStoresTheSevenValuesAndRunsOnTheDesktopInEveryMode) {
    for (const char* arg : {"/s", "/c"}) {
        TempDir dir;
        platform::FileRegistry store(dir / "user.reg");
        SaverWorld world(store);
        TForm1& form = world.start({arg});

        platform::RegTree tree = platform::parseRegistryText(slurp(store.path()), store.path());
        std::vector<std::string> keys;
        tree.forEachKey([&](const platform::RegTree::Key& k) { keys.push_back(k.path()); });
        EXPECT_EQ(keys,
                  (std::vector<std::string>{"", "Software", "Software\\Tarnwick", kSection, kList}))
            << arg;
        EXPECT_TRUE(tree.valueNames(kList).empty());
        std::vector<std::pair<std::string, std::string>> values;
        for (const auto& [name, v] : tree.findKey(kSection)->values) {
            EXPECT_EQ(v.type, platform::REG_SZ);
            values.emplace_back(name, v.text());
        }
        EXPECT_EQ(values, (std::vector<std::pair<std::string, std::string>>{
                              {"fEdit_Value", "0.75"},
                              {"rgPath_ItemIndex", "0"},
                              {"rgDesktopSettings_ItemIndex", "0"},
                              {"cbxPlaySounds_Checked", "False"},
                              {"cbxUseDesktop_Checked", "True"},
                              {"udCycle_Position", "9000"},
                              {"udRefresh_Position", "50"},
                          }))
            << arg;

        EXPECT_TRUE(form.UseDesktop);
        EXPECT_FALSE(form.PlaySounds);
        EXPECT_EQ(form.MaxZoom, 0.75);
        EXPECT_EQ(form.JvThreadTimer1->Delay(), 9000);
        EXPECT_EQ(form.JvThreadTimer2->Delay(), 50);
        EXPECT_EQ(world.screen.captures, 1) << arg;
        EXPECT_EQ(pictureSize(world), (Size{1920, 1080})) << arg; // no transform
        EXPECT_TRUE(zoomsAre(form, &TForm1::InitSineZooms));
        EXPECT_TRUE(form.pictureList && form.pictureList->empty());
    }
}

struct Case {
    const char* what;
    std::vector<std::pair<const char*, const char*>> section;
    std::vector<std::pair<const char*, const char*>> list;
    std::function<bool(TForm1&, SaverWorld&)> check;
    std::vector<std::string> args{"/s"};
};

TEST(ReadRegistry, StoredValuesAndTheirDefaults) {
    const std::vector<Case> cases{
        {"desktop off without pictures",
         {{"cbxUseDesktop_Checked", "False"}},
         {},
         [](TForm1& f, SaverWorld&) { return f.UseDesktop; }},
        {"nothing stored but the key",
         {},
         {},
         [](TForm1& f, SaverWorld& w) {
             return f.UseDesktop && !f.PlaySounds && f.MaxZoom == 1.0 &&
                    f.JvThreadTimer1->Delay() == 9000 && f.JvThreadTimer2->Delay() == 50 &&
                    zoomsAre(f, &TForm1::InitSineZooms) && w.screen.captures == 1;
         }},
        {"zoom with a comma",
         {{"fEdit_Value", "0,96"}},
         {},
         [](TForm1& f, SaverWorld&) { return f.MaxZoom == 1.0; }},
        {"zoom not range-checked",
         {{"fEdit_Value", "5"}},
         {},
         [](TForm1& f, SaverWorld&) { return f.MaxZoom == 5.0; }},
        {"zoom",
         {{"fEdit_Value", "0.5"}},
         {},
         [](TForm1& f, SaverWorld&) {
             return f.MaxZoom == 0.5 && zoomsAre(f, &TForm1::InitSineZooms);
         }},
        {"path 7",
         {{"rgPath_ItemIndex", "7"}},
         {},
         [](TForm1& f, SaverWorld&) { return zoomsAre(f, &TForm1::InitSineZooms); }},
        {"path -5",
         {{"rgPath_ItemIndex", "-5"}},
         {},
         [](TForm1& f, SaverWorld&) { return zoomsAre(f, &TForm1::InitSineZooms); }},
        {"path zigzag",
         {{"rgPath_ItemIndex", "1"}, {"fEdit_Value", "0.5"}},
         {},
         [](TForm1& f, SaverWorld&) { return zoomsAre(f, &TForm1::InitZigzagZooms); }},
        {"cycle as letters",
         {{"udCycle_Position", "letters"}},
         {},
         [](TForm1& f, SaverWorld&) { return f.JvThreadTimer1->Delay() == 9000; }},
        {"cycle and refresh",
         {{"udCycle_Position", "300"}, {"udRefresh_Position", "0"}},
         {},
         [](TForm1& f, SaverWorld&) {
             return f.JvThreadTimer1->Delay() == 300 && f.JvThreadTimer2->Delay() == 0;
         }},
        {"refresh with a blank",
         {{"udRefresh_Position", " 20"}},
         {},
         [](TForm1& f, SaverWorld&) { return f.JvThreadTimer2->Delay() == 50; }},
        {"sounds true",
         {{"cbxPlaySounds_Checked", "true"}},
         {},
         [](TForm1& f, SaverWorld&) { return f.PlaySounds; }},
        {"sounds TRUE",
         {{"cbxPlaySounds_Checked", "TRUE"}},
         {},
         [](TForm1& f, SaverWorld&) { return f.PlaySounds; }},
        {"sounds yes",
         {{"cbxPlaySounds_Checked", "yes"}},
         {},
         [](TForm1& f, SaverWorld&) { return !f.PlaySounds; }},
        {"list with a gap",
         {{"cbxUseDesktop_Checked", "True"}},
         {{"Count", "3"}, {"Item0", "/a.jpg"}, {"Item2", "/c.jpg"}},
         [](TForm1& f, SaverWorld&) {
             return *f.pictureList == std::vector<std::string>{"/a.jpg", "/c.jpg"} && f.UseDesktop;
         }},
        {"count 0, stale items",
         {},
         {{"Count", "0"}, {"Item0", "/a.jpg"}},
         [](TForm1& f, SaverWorld&) { return f.pictureList->empty(); }},
        {"no count, stale items",
         {},
         {{"Item0", "/a.jpg"}},
         [](TForm1& f, SaverWorld&) { return f.pictureList->empty(); }},
        {"count as letters",
         {},
         {{"Count", "x"}, {"Item0", "/a.jpg"}},
         [](TForm1& f, SaverWorld&) { return f.pictureList->empty(); }},
        {"huge count",
         {},
         {{"Count", "2147483647"}, {"Item0", "/a"}, {"Item5", "/f"}},
         [](TForm1& f, SaverWorld&) {
             return *f.pictureList == std::vector<std::string>{"/a", "/f"};
         }},
        {"rotated desktop",
         {{"rgDesktopSettings_ItemIndex", "1"}},
         {},
         [](TForm1&, SaverWorld& w) {
             return pictureSize(w) == Size{1080, 1920};
         }},
        {"no picture in configuration mode",
         {{"rgDesktopSettings_ItemIndex", "1"}},
         {},
         [](TForm1&, SaverWorld& w) { return w.screen.captures == 0; },
         {"/c"}},
        {"missing pictures in picture mode",
         {{"cbxUseDesktop_Checked", "False"}},
         {{"Count", "1"}, {"Item0", "/nowhere/a.bmp"}},
         [](TForm1& f, SaverWorld& w) {
             // Never black: the saver's own picture stays.
             return !f.UseDesktop && w.screen.captures == 0 && pictureSize(w).width > 0;
         }},
    };
    for (const Case& c : cases) {
        fakes::FakeRegistry store;
        store.tree.createKey(kSection);
        for (const auto& [name, text] : c.section) store.put(kSection, name, text);
        for (const auto& [name, text] : c.list) store.put(kList, name, text);
        SaverWorld world(store);
        TForm1& form = world.start(c.args);
        EXPECT_TRUE(c.check(form, world)) << c.what;
        EXPECT_EQ(store.commits, c.list.empty() ? 1 : 0) << c.what; // only the list key is created
    }
}

TEST(ReadRegistry, PictureModeLoadsTheFirstListedFile) {
    TempDir dir;
    testing_support::writeBmp(dir / "a.bmp", 40, 30);
    fakes::FakeRegistry store;
    store.put(kSection, "cbxUseDesktop_Checked", "False");
    store.put(kList, "Count", "1");
    store.put(kList, "Item0", dir / "a.bmp");
    SaverWorld world(store);
    TForm1& form = world.start({"/s"});
    EXPECT_FALSE(form.UseDesktop);
    EXPECT_EQ(world.screen.captures, 0);
    world.settle(); // decoded off the main thread
    EXPECT_EQ(pictureSize(world), (Size{40, 30}));
}

TEST(ReadRegistry, NoPictureIsPreparedForSlashAOrAnEmptyFirstArgument) {
    TempDir dir;
    testing_support::writeBmp(dir / "a.bmp", 40, 30);
    for (const bool desktop : {false, true}) {
        for (const std::string arg : {"/a", ""}) {
            fakes::FakeRegistry store;
            store.put(kSection, "cbxUseDesktop_Checked", desktop ? "True" : "False");
            store.put(kList, "Count", "1");
            store.put(kList, "Item0", dir / "a.bmp");
            SaverWorld world(store);
            TForm1& form = world.start({arg}); // "" runs the configuration, which reads too
            form.Read_Registry();
            EXPECT_EQ(pictureSize(world), (Size{0, 0})) << arg << desktop;
            EXPECT_EQ(world.screen.captures, 0) << arg << desktop;
            EXPECT_EQ(form.pictureIndex, 0) << arg << desktop;
        }
    }
}

TEST(ReadRegistry, ValueOfAnotherTypeStopsTheSaver) {
    const std::vector<std::pair<const char*, const char*>> cases{
        {kSection, "cbxPlaySounds_Checked"},
        {kSection, "cbxUseDesktop_Checked"},
        {kSection, "fEdit_Value"},
        {kSection, "rgPath_ItemIndex"},
        {kSection, "rgDesktopSettings_ItemIndex"},
        {kSection, "udCycle_Position"},
        {kSection, "udRefresh_Position"},
        {kList, "Count"},
        {kList, "Item1"},
    };
    for (const auto& [key, name] : cases) {
        fakes::FakeRegistry store;
        store.put(kSection, "udCycle_Position", "300");
        store.put(kList, "Count", "2");
        store.tree.setValue(key, name, RegValue::dword(1));
        SaverWorld world(store);
        try {
            world.start({"/s"});
            ADD_FAILURE() << name << ": no error";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), format("Invalid data type for '%s'", name));
        }
    }
    // The desktop setting is read only when the desktop is prepared.
    fakes::FakeRegistry store;
    store.tree.createKey(kList);
    store.put(kSection, "udCycle_Position", "300");
    store.tree.setValue(kSection, "rgDesktopSettings_ItemIndex", RegValue::dword(1));
    SaverWorld world(store);
    EXPECT_EQ(world.start({"/c"}).JvThreadTimer1->Delay(), 300);
}

TEST(ReadRegistry, DamagedStoreIsReportedAndKept) {
    TempDir dir;
    const std::string damaged = "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Tarnwick]\r\n\"Cou";
    std::ofstream(dir / "user.reg", std::ios::binary) << damaged;
    platform::FileRegistry store(dir / "user.reg");
    SaverWorld world(store);
    EXPECT_THROW(world.start({"/s"}), platform::RegistryError);
    EXPECT_EQ(slurp(dir / "user.reg"), damaged);
}

TEST(ReadRegistry, StoreRefusingWritesStillGivesAFirstRun) {
    for (bool settingsKeyExists : {false, true}) {
        fakes::FakeRegistry store;
        if (settingsKeyExists) store.tree.createKey(kList);
        store.lockFailure = "Permission denied";
        SaverWorld world(store);
        TForm1& form = world.start({"/s"});
        EXPECT_TRUE(form.UseDesktop);
        EXPECT_EQ(form.MaxZoom, 0.75);
        EXPECT_EQ(form.JvThreadTimer1->Delay(), 9000);
        EXPECT_EQ(form.JvThreadTimer2->Delay(), 50);
        EXPECT_EQ(world.screen.captures, 1);
        EXPECT_EQ(store.commits, 0);
        // Said once with the store's reason, however often the settings are read.
        form.Read_Registry();
        ASSERT_EQ(world.notices.size(), 1u);
        EXPECT_NE(world.notices[0].find("Permission denied"), std::string::npos)
            << world.notices[0];
    }
}

// The dialog stores under its executable's name; the saver reads Software\Tarnwick.
TEST(ReadRegistry, DialogAndSaverMeetOnlyUnderTheNameTarnwick) {
    const std::vector<std::pair<const char*, bool>> cases{
        {"/usr/lib/tarnwick/Tarnwick.scr", true},
        {"/x/TARNWICK", true},
        {"/x/tarnwick.exe", true},
        {"/x/Tarnwick2.scr", false},
        {"/x/other", false},
    };
    for (const auto& [exe, meet] : cases) {
        TempDir dir;
        platform::FileRegistry store(dir / "user.reg");
        SaverWorld world(store);
        ConfigModel model;
        auto dialog = [&, exe = exe] {
            FormStorage storage(store, model, exe);
            storage.LoadStoredProps();
            model.udCycle_Position = 3000;
            model.fEdit_Value = 0.5;
            model.cbxPlaySounds_Checked = true;
            model.ListBox1_Items = {"/p/a.jpg", "/p/b.jpg"};
            storage.SaveStoredProps();
        };
        world.onDialog = dialog;
        TForm1& form = world.start({"/c"});
        EXPECT_EQ(form.JvThreadTimer1->Delay(), meet ? 3000 : 9000) << exe;
        EXPECT_EQ(form.MaxZoom, meet ? 0.5 : 0.75) << exe;
        EXPECT_EQ(form.PlaySounds, meet) << exe;
        EXPECT_EQ(form.pictureList->size(), meet ? 2u : 0u) << exe;
    }
}

TEST(ReadRegistry, DialogAfterAFirstRunOpensWithTheFirstRunValues) {
    TempDir dir;
    platform::FileRegistry store(dir / "user.reg");
    SaverWorld(store).start({"/s"});
    ConfigModel model;
    FormStorage storage(store, model, "/x/tarnwick");
    storage.LoadStoredProps();
    EXPECT_EQ(model.udCycle_Position, 9000);
    EXPECT_EQ(model.udRefresh_Position, 50);
    EXPECT_EQ(model.fEdit_Value, 0.75);
    EXPECT_EQ(model.rgPath_ItemIndex, 0);
    EXPECT_FALSE(model.cbxPlaySounds_Checked);
    EXPECT_TRUE(model.ListBox1_Items.empty());

    // Closing it with an empty list removes the list key; the saver recreates it empty.
    storage.SaveStoredProps();
    EXPECT_FALSE(store.read()->keyExists(kList));
    SaverWorld(store).start({"/s"});
    EXPECT_TRUE(store.read()->keyExists(kList));
    EXPECT_TRUE(store.read()->valueNames(kList).empty());
}

// A dialog in another process saves two different sets over and over while the saver reads:
// every read must give one whole set, never a mix and never a missing list.
TEST(ReadRegistry, SaverReadingDuringDialogSavesSeesAWholeSet) {
    TempDir dir;
    platform::FileRegistry store(dir / "user.reg");
    auto modelWith = [](int items, int cycle) {
        ConfigModel m;
        m.cbxUseDesktop_Checked = false;
        m.udCycle_Position = cycle;
        for (int i = 0; i < items; ++i) m.ListBox1_Items.push_back("/p/" + std::to_string(i));
        return m;
    };
    {
        ConfigModel m;
        FormStorage s(store, m, "/x/tarnwick");
        s.LoadStoredProps();
        m = modelWith(300, 1000);
        s.SaveStoredProps();
    }
    pid_t dialog = ::fork();
    if (dialog == 0) {
        int rc = 0;
        try {
            platform::FileRegistry mine(store.path());
            for (int i = 0; i < 60; ++i) {
                ConfigModel m;
                FormStorage s(mine, m, "/x/tarnwick");
                s.LoadStoredProps();
                m = i % 2 ? modelWith(300, 1000) : modelWith(150, 2000);
                s.SaveStoredProps();
            }
        } catch (...) {
            rc = 1;
        }
        ::_exit(rc);
    }
    SaverWorld world(store);
    TForm1& form = world.start({"/c"});
    int mixed = 0;
    for (int i = 0; i < 150; ++i) {
        form.pictureList.reset();
        form.Read_Registry();
        const auto pair = std::make_pair(form.pictureList->size(), form.JvThreadTimer1->Delay());
        if (pair != std::make_pair(size_t{300}, 1000) && pair != std::make_pair(size_t{150}, 2000))
            ++mixed;
    }
    int status = 0;
    ::waitpid(dialog, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(mixed, 0);
}

} // namespace
} // namespace tarnwick
