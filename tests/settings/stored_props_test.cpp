// The dialog's stored properties: names, text forms, the load's forgiving reading and clamping,
// and a save that is one replacement of the store.
#include "fakes/fake_registry.h"
#include "platform/posix/file_registry.h"
#include "settings/stored_props.h"
#include "store_test_support.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

using fakes::FakeRegistry;
using platform::RegValue;

constexpr const char* kExe = "/usr/lib/tarnwick/Tarnwick.scr";
constexpr const char* kSection = "Software\\Tarnwick\\TfrmConfig";
constexpr const char* kList = "Software\\Tarnwick\\TfrmConfig.ListBox1_Items";

std::string stored(const FakeRegistry& s, const char* key, const char* name) {
    const RegValue* v = s.tree.value(key, name);
    return v ? v->text() : "(missing)";
}

TEST(StoredProps, DialogKeyIsSoftwareAndTheExecutablesBaseName) {
    const std::vector<std::pair<const char*, const char*>> cases{
        {"/usr/lib/tarnwick/Tarnwick.scr", "Software\\Tarnwick"},
        {"TARNWICK", "Software\\TARNWICK"},
        {"/opt/a.b/x.tar.gz", "Software\\x.tar"},
        {"./other", "Software\\other"},
    };
    for (const auto& [exe, key] : cases) EXPECT_EQ(dialogSettingsKey(exe), key) << exe;
}

TEST(StoredProps, FirstShowKeepsTheDesignValuesAndTheSaveWritesThemAll) {
    FakeRegistry store;
    ConfigModel model;
    FormStorage storage(store, model, kExe);
    int restored = 0;
    storage.OnRestorePlacement = [&] { ++restored; };

    storage.SaveStoredProps(); // never loaded: writes nothing
    EXPECT_EQ(store.commits, 0);

    storage.LoadStoredProps();
    EXPECT_EQ(model, ConfigModel{});
    EXPECT_EQ(restored, 1);
    EXPECT_TRUE(store.tree.keyExists("Software\\Tarnwick")); // the settings key is created
    EXPECT_FALSE(store.tree.keyExists(kSection));

    storage.SaveStoredProps();
    EXPECT_EQ(store.commits, 2); // the key at load, the whole set at save
    EXPECT_EQ(store.tree.valueNames(kSection),
              (std::vector<std::string>{
                  "FormVersion", "cbxPlaySounds_Checked", "cbxUseDesktop_Checked", "fEdit_Value",
                  "JvDirectoryEdit1_InitialDir", "rgPath_ItemIndex", "udCycle_Position",
                  "udRefresh_Position", "rgDesktopSettings_ItemIndex"}));
    const std::vector<std::pair<const char*, const char*>> texts{
        {"FormVersion", "0"},         {"cbxPlaySounds_Checked", "True"},
        {"fEdit_Value", "0.96"},      {"JvDirectoryEdit1_InitialDir", ""},
        {"rgPath_ItemIndex", "1"},    {"udCycle_Position", "1250"},
        {"udRefresh_Position", "20"}, {"rgDesktopSettings_ItemIndex", "0"},
    };
    for (const auto& [name, text] : texts) EXPECT_EQ(stored(store, kSection, name), text) << name;
    EXPECT_FALSE(store.tree.keyExists(kList)); // an empty list is no list key
}

TEST(StoredProps, SavedModelLoadsBackEqualThroughTheFile) {
    store_testing::ScratchDir dir;
    platform::FileRegistry store(dir / "user.reg");
    int replacements = 0;
    store.setBeforeRename([&](const std::string&) { ++replacements; });

    ConfigModel saved;
    saved.ListBox1_Items = {"/p/a.jpg", "  /p/leading and trailing blanks.bmp  ",
                            "/p/\"q\"\\\xe9.JPG", ""};
    saved.cbxPlaySounds_Checked = false;
    saved.cbxUseDesktop_Checked = false;
    saved.fEdit_Value = 0.123456789012345;
    saved.JvDirectoryEdit1_InitialDir = "/p/folder";
    saved.rgPath_ItemIndex = 3;
    saved.udCycle_Position = 32767;
    saved.udRefresh_Position = 0;
    saved.rgDesktopSettings_ItemIndex = -1;
    {
        ConfigModel model;
        FormStorage storage(store, model, kExe);
        storage.LoadStoredProps();
        replacements = 0;
        model = saved;
        storage.SaveStoredProps();
        EXPECT_EQ(replacements, 1);
    }
    ConfigModel loaded;
    loaded.ListBox1_Items = {"stale"};
    FormStorage storage(store, loaded, "/bin/tarnwick");
    storage.LoadStoredProps();
    EXPECT_EQ(loaded, saved);
}

TEST(StoredProps, FolderTextIsSavedTrimmedAndEmptyListRemovesTheListKey) {
    FakeRegistry store;
    store.put(kList, "Count", "1");
    store.put(kList, "Item0", "/old.jpg");
    ConfigModel model;
    FormStorage storage(store, model, kExe);
    storage.LoadStoredProps();
    ASSERT_EQ(model.ListBox1_Items, std::vector<std::string>{"/old.jpg"});
    model.ListBox1_Items.clear();
    model.JvDirectoryEdit1_InitialDir = " \t/pics \r\n";
    storage.SaveStoredProps();
    EXPECT_FALSE(store.tree.keyExists(kList));
    EXPECT_EQ(stored(store, kSection, "JvDirectoryEdit1_InitialDir"), "/pics");
}

// One stored text per case, loaded over a model whose values differ from the design values.
TEST(StoredProps, LoadReadsForgivinglyAndClampsLikeTheControls) {
    ConfigModel start;
    start.fEdit_Value = 0.5;
    start.cbxPlaySounds_Checked = false;
    start.udCycle_Position = 4000;
    struct Case {
        const char* name;
        const char* text;
        std::function<bool(const ConfigModel&)> check;
    };
    const std::vector<Case> cases{
        {"rgPath_ItemIndex", "7", [](auto& m) { return m.rgPath_ItemIndex == 3; }},
        {"rgPath_ItemIndex", "-5", [](auto& m) { return m.rgPath_ItemIndex == -1; }},
        {"rgDesktopSettings_ItemIndex", "9",
         [](auto& m) { return m.rgDesktopSettings_ItemIndex == 5; }},
        {"udCycle_Position", "letters", [](auto& m) { return m.udCycle_Position == 250; }},
        {"udCycle_Position", " 300 ", [](auto& m) { return m.udCycle_Position == 300; }},
        {"udCycle_Position", "99999999999", [](auto& m) { return m.udCycle_Position == 250; }},
        {"udRefresh_Position", "5000", [](auto& m) { return m.udRefresh_Position == 2000; }},
        {"udRefresh_Position", "-3", [](auto& m) { return m.udRefresh_Position == 0; }},
        {"fEdit_Value", "0,96", [](auto& m) { return m.fEdit_Value == 0.5; }},
        {"fEdit_Value", "5", [](auto& m) { return m.fEdit_Value == 5.0; }},
        {"fEdit_Value", "0.25", [](auto& m) { return m.fEdit_Value == 0.25; }},
        {"cbxPlaySounds_Checked", "true", [](auto& m) { return m.cbxPlaySounds_Checked; }},
        {"cbxPlaySounds_Checked", "TRUE", [](auto& m) { return m.cbxPlaySounds_Checked; }},
        {"cbxPlaySounds_Checked", "yes", [](auto& m) { return !m.cbxPlaySounds_Checked; }},
        {"cbxUseDesktop_Checked", "fALSE", [](auto& m) { return !m.cbxUseDesktop_Checked; }},
        {"JvDirectoryEdit1_InitialDir", "\t/x y \n",
         [](auto& m) { return m.JvDirectoryEdit1_InitialDir == "/x y"; }},
    };
    for (const Case& c : cases) {
        FakeRegistry store;
        store.put(kSection, c.name, c.text);
        ConfigModel model = start;
        FormStorage storage(store, model, kExe);
        storage.LoadStoredProps();
        EXPECT_TRUE(c.check(model)) << c.name << " = \"" << c.text << '"';
    }
}

TEST(StoredProps, ListLoadFollowsCountAndNeverAllocatesForAHugeOne) {
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, const char*>> values;
        std::vector<std::string> expected;
    };
    const std::vector<std::string> current{"current"};
    const std::vector<Case> cases{
        {"gap stays empty", {{"Count", "3"}, {"Item0", "a"}, {"Item2", "c"}}, {"a", "", "c"}},
        {"zero count, stale items", {{"Count", "0"}, {"Item0", "a"}}, current},
        {"no count, stale items", {{"Item0", "a"}}, current},
        {"count as letters", {{"Count", "many"}, {"Item0", "a"}}, current},
        {"count below the items", {{"Count", "1"}, {"Item0", "a"}, {"Item1", "b"}}, {"a"}},
        {"huge count", {{"Count", "2147483647"}, {"Item0", "a"}, {"Item1", "b"}}, {"a", "b"}},
        {"entries unchanged", {{"Count", "1"}, {"Item0", "  /x y.jpg\t"}}, {"  /x y.jpg\t"}},
    };
    for (const Case& c : cases) {
        FakeRegistry store;
        for (const auto& [name, text] : c.values) store.put(kList, name, text);
        ConfigModel model;
        model.ListBox1_Items = current;
        FormStorage storage(store, model, kExe);
        storage.LoadStoredProps();
        EXPECT_EQ(model.ListBox1_Items, c.expected) << c.what;
    }
}

TEST(StoredProps, ValueOfAnotherTypeIsPassedOverButFormVersionFailsTheLoad) {
    FakeRegistry store;
    store.put(kSection, "udRefresh_Position", "100");
    store.tree.setValue(kSection, "udCycle_Position", RegValue::dword(300));
    store.put(kList, "Count", "1");
    store.tree.setValue(kList, "Item0", RegValue{platform::REG_BINARY, "x"});
    ConfigModel model;
    model.ListBox1_Items = {"kept"};
    FormStorage storage(store, model, kExe);
    storage.LoadStoredProps();
    EXPECT_TRUE(storage.loaded());
    EXPECT_EQ(model.udCycle_Position, 1250);
    EXPECT_EQ(model.udRefresh_Position, 100);
    EXPECT_EQ(model.ListBox1_Items, std::vector<std::string>{"kept"});

    store.tree.setValue(kSection, "FormVersion", RegValue::dword(0));
    ConfigModel other;
    FormStorage failing(store, other, kExe);
    try {
        failing.LoadStoredProps();
        ADD_FAILURE() << "loaded";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'FormVersion'");
    }
    EXPECT_FALSE(failing.loaded());
    const int commits = store.commits;
    failing.SaveStoredProps();
    EXPECT_EQ(store.commits, commits); // a dialog whose load failed writes nothing
}

TEST(StoredProps, OlderFormVersionSkipsTheValuesButCountsAsLoaded) {
    FakeRegistry store;
    store.put(kSection, "FormVersion", "-1");
    store.put(kSection, "udCycle_Position", "300");
    ConfigModel model;
    FormStorage storage(store, model, kExe);
    int restored = 0;
    storage.OnRestorePlacement = [&] { ++restored; };
    storage.LoadStoredProps();
    EXPECT_EQ(model.udCycle_Position, 1250);
    EXPECT_EQ(restored, 0);
    EXPECT_TRUE(storage.loaded());
    storage.SaveStoredProps();
    EXPECT_EQ(stored(store, kSection, "FormVersion"), "0");
    EXPECT_EQ(stored(store, kSection, "udCycle_Position"), "1250");
}

TEST(StoredProps, FailedSaveLeavesTheStoreAsItWas) {
    FakeRegistry store;
    store.put(kSection, "udCycle_Position", "300");
    ConfigModel model;
    FormStorage storage(store, model, kExe);
    storage.LoadStoredProps();
    model.udCycle_Position = 500;
    store.commitFailure = "No space left on device";
    try {
        storage.SaveStoredProps();
        ADD_FAILURE() << "saved";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Failed to set data for 'FormVersion'");
    }
    EXPECT_FALSE(storage.saved());
    EXPECT_EQ(stored(store, kSection, "udCycle_Position"), "300");
}

} // namespace
} // namespace tarnwick
