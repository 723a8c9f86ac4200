// The hack's command line, and the run-only store that carries its settings to the saver form.
#include "engine/engine_fixture.h"
#include "fakes/fake_registry.h"
#include "host/hack_options.h"
#include "settings/reg_access.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

using hack::HackOptions;
using hack::OptionError;
using hack::parseHackOptions;
using hack::RunOnlyRegistry;

constexpr const char* kSection = "Software\\Tarnwick\\TfrmConfig";
constexpr const char* kList = "Software\\Tarnwick\\TfrmConfig.ListBox1_Items";

TEST(HackOptions, TargetsFollowTheDaemonsConventions) {
    EXPECT_EQ(parseHackOptions({}).target, hack::Target::Window);
    EXPECT_EQ(parseHackOptions({"-root"}).target, hack::Target::Root);
    EXPECT_EQ(parseHackOptions({"--root"}).target, hack::Target::Root);
    const HackOptions byId = parseHackOptions({"-window-id", "0x2a00007"});
    EXPECT_EQ(byId.target, hack::Target::WindowId);
    EXPECT_EQ(byId.windowId, 0x2a00007u);
    EXPECT_EQ(parseHackOptions({"-window-id", "4242"}).windowId, 4242u);
    // The last target given wins.
    EXPECT_EQ(parseHackOptions({"-window-id", "5", "-window"}).target, hack::Target::Window);
}

TEST(HackOptions, WindowIds) {
    struct Case {
        const char* text;
        std::optional<uint64_t> id;
    };
    for (const Case& c : {Case{"1", 1}, Case{"0X1f", 0x1f}, Case{"4294967295", 0xFFFFFFFFu},
                          Case{"0", {}}, Case{"0x", {}}, Case{"", {}}, Case{"12a", {}},
                          Case{"-5", {}}, Case{"4294967296", {}}, Case{" 7", {}}, Case{"0x1g", {}}})
        EXPECT_EQ(hack::parseWindowId(c.text), c.id) << c.text;
}

TEST(HackOptions, GoodValuesAreTaken) {
    const HackOptions o =
        parseHackOptions({"-cycle", "250", "-refresh", "2000", "-zoom", "0.5", "-path", "drunken",
                          "-no-sounds", "-desktop", "warp", "-images", "/pics", "-verbose"});
    EXPECT_EQ(o.cycle, 250);
    EXPECT_EQ(o.refresh, 2000);
    EXPECT_EQ(o.zoom, 0.5);
    EXPECT_EQ(o.path, 3);
    EXPECT_EQ(o.sounds, false);
    EXPECT_EQ(o.desktop, 4);
    EXPECT_EQ(o.images, "/pics");
    EXPECT_TRUE(o.verbose);
    EXPECT_EQ(parseHackOptions({"-sounds"}).sounds, true);
    EXPECT_EQ(parseHackOptions({"-zoom", "1"}).zoom, 1.0);
    EXPECT_EQ(parseHackOptions({"-zoom", "0.01"}).zoom, 0.01);
    EXPECT_EQ(parseHackOptions({"-refresh", "0"}).refresh, 0);
    EXPECT_EQ(parseHackOptions({"-cycle", "32767"}).cycle, 32767);
    EXPECT_EQ(parseHackOptions({"-zoom-percent", "1"}).zoom, 0.01);
    EXPECT_EQ(parseHackOptions({"-zoom-percent", "100"}).zoom, 1.0);
    EXPECT_EQ(hack::sectionOverrides(parseHackOptions({"-zoom-percent", "75"}))[2].second, "0.75");
    EXPECT_TRUE(parseHackOptions({"--add-to-xscreensaver"}).addToXScreenSaver);
}

TEST(HackOptions, Geometry) {
    using G = hack::WindowGeometry;
    struct Case {
        const char* text;
        std::optional<G> g;
    };
    const Case cases[] = {
        {"640x480", G{640, 480, {}, {}, false, false}},
        {"=640X480+10-20", G{640, 480, 10, 20, false, true}},
        {"-0+5", G{{}, {}, 0, 5, true, false}},
        {"640x480+10", {}},
        {"640", {}},
        {"0x480", {}},
        {"640x480+1+2junk", {}},
        {"123456x1", {}},
        {"", {}},
        {"x", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(hack::parseGeometry(c.text), c.g) << c.text;
    EXPECT_EQ(parseHackOptions({"-geometry", "320x200+1+2"}).geometry,
              (G{320, 200, 1, 2, false, false}));
}

TEST(HackOptions, BadValuesNameTheOption) {
    struct Case {
        std::vector<std::string> args;
        const char* mentions;
    };
    const Case cases[] = {
        {{"-cycle", "249"}, "-cycle"},
        {{"-cycle", "32768"}, "-cycle"},
        {{"-cycle", "1e3"}, "-cycle"},
        {{"-cycle"}, "-cycle needs a value"},
        {{"-refresh", "-1"}, "-refresh"},
        {{"-refresh", "2001"}, "-refresh"},
        {{"-refresh", ""}, "-refresh"},
        {{"-zoom", "0"}, "-zoom"},
        {{"-zoom", "1.01"}, "-zoom"},
        {{"-zoom", "nan"}, "-zoom"},
        {{"-zoom", "0,5"}, "-zoom"},
        {{"-zoom-percent", "0"}, "-zoom-percent"},
        {{"-zoom-percent", "101"}, "-zoom-percent"},
        {{"-zoom-percent", "7.5"}, "-zoom-percent"},
        {{"-geometry", "big"}, "-geometry"},
        {{"-path", "Sine"}, "sine|zigzag"},
        {{"-path", "spiral"}, "-path"},
        {{"-desktop", "rotate45"}, "-desktop"},
        {{"-images", ""}, "-images"},
        {{"-images"}, "-images needs a value"},
        {{"-window-id", "0"}, "-window-id"},
        {{"-window-id", "zz"}, "-window-id"},
        {{"-window-id"}, "-window-id"},
        {{"-fast"}, "unknown option \"-fast\""},
        {{"root"}, "unknown option"},
        {{"-delay", "-1"}, "-delay"},
        {{"-delay", "2000500"}, "-delay"},
        {{"-delay", "1.5"}, "-delay"},
        {{"-visual"}, "-visual needs a value"},
    };
    for (const Case& c : cases) {
        try {
            parseHackOptions(c.args);
            ADD_FAILURE() << "accepted " << c.args[0];
        } catch (const OptionError& e) {
            EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
        }
    }
}

TEST(HackOptions, OverridesUseTheStoredForms) {
    using Values = std::vector<std::pair<std::string, std::string>>;
    // Sounds are off unless asked for: no other hack makes a noise.
    const Values defaults{{"udCycle_Position", "9000"},
                          {"udRefresh_Position", "20"},
                          {"fEdit_Value", "0.75"},
                          {"cbxPlaySounds_Checked", "False"}};
    EXPECT_EQ(hack::sectionOverrides(parseHackOptions({"-root"})), defaults);
    EXPECT_EQ(
        hack::sectionOverrides(parseHackOptions({"-cycle", "1000", "-zoom", "0.25", "-path",
                                                 "zigzag", "-sounds", "-desktop", "rotate180"})),
        (Values{{"udCycle_Position", "1000"},
                {"udRefresh_Position", "20"},
                {"fEdit_Value", "0.25"},
                {"rgPath_ItemIndex", "1"},
                {"cbxPlaySounds_Checked", "True"},
                {"rgDesktopSettings_ItemIndex", "2"},
                {"cbxUseDesktop_Checked", "True"}}));
    // Pictures asked for win over the desktop.
    Values both = defaults;
    both.insert(both.end(),
                {{"rgDesktopSettings_ItemIndex", "5"}, {"cbxUseDesktop_Checked", "False"}});
    EXPECT_EQ(hack::sectionOverrides(parseHackOptions({"-desktop", "blur", "-images", "/p"})),
              both);
    EXPECT_EQ(hack::pictureListOverrides({"/a.bmp", "/b.jpg"}),
              (Values{{"Count", "2"}, {"Item0", "/a.bmp"}, {"Item1", "/b.jpg"}}));
}

std::string text(platform::RegistryReader& r, const char* key, const char* name) {
    const auto v = r.queryValue(key, name);
    return v ? v->text() : "<missing>";
}

TEST(RunOnlyRegistry, OverridesWinAndWritesNeverReachTheStore) {
    fakes::FakeRegistry store;
    store.put(kSection, "udCycle_Position", "5000");
    store.put(kSection, "fEdit_Value", "0.5");
    RunOnlyRegistry reg(store,
                        {{"software\\TARNWICK\\\\TfrmConfig", {{"udcycle_position", "300"}}}});

    auto r = reg.read();
    EXPECT_EQ(text(*r, kSection, "UDCYCLE_POSITION"), "300");
    EXPECT_EQ(text(*r, kSection, "fEdit_Value"), "0.5");
    // Each name once, in the case it was first written with.
    const auto names = r->valueNames(kSection);
    EXPECT_EQ(std::count(names.begin(), names.end(), "udcycle_position") +
                  std::count(names.begin(), names.end(), "udCycle_Position"),
              1);
    EXPECT_EQ(names.size(), 2u);

    {
        RegistryAccess access(reg);
        ASSERT_TRUE(access.openKey("\\Software\\Tarnwick\\New", true));
        access.writeString("udCycle_Position", "1"); // overridden: the override still reads
        access.writeString("Fresh", "yes");
        access.closeKey();
        ASSERT_TRUE(access.openKey("\\Software\\Tarnwick\\New", false));
        EXPECT_EQ(access.readString("Fresh"), "yes");
    }
    auto after = reg.read();
    EXPECT_TRUE(after->keyExists("Software\\Tarnwick\\New"));
    EXPECT_EQ(text(*after, "Software\\Tarnwick\\New", "Fresh"), "yes");
    const auto subKeys = after->subKeyNames("Software\\Tarnwick");
    EXPECT_EQ(std::count(subKeys.begin(), subKeys.end(), "New"), 1);
    EXPECT_EQ(std::count(subKeys.begin(), subKeys.end(), "TfrmConfig"), 1);
    EXPECT_EQ(store.commits, 0);
    EXPECT_FALSE(store.tree.keyExists("Software\\Tarnwick\\New"));
}

TEST(RunOnlyRegistry, AbandonedWriterChangesNothing) {
    fakes::FakeRegistry store;
    RunOnlyRegistry reg(store, {});
    {
        auto w = reg.write();
        EXPECT_FALSE(w->setValue("Missing", "x", platform::RegValue::string("1")));
        ASSERT_TRUE(w->createKey("A\\B"));
        EXPECT_TRUE(w->setValue("A\\B", "x", platform::RegValue::string("1")));
        EXPECT_TRUE(w->keyExists("a\\b"));
    }
    EXPECT_FALSE(reg.read()->keyExists("A"));
    EXPECT_FALSE(reg.write()->createKey("Bad\x01Name"));
}

// The saver form reads the overridden settings, on an empty store as on a stored one.
struct HackWorld {
    explicit HackWorld(platform::Registry& store) : store(store) {}
    ~HackWorld() {
        if (form) form->FormClose();
    }
    TForm1& start() {
        const std::vector<std::string> args{"/p", "77"};
        module.startUp(args);
        form = std::make_unique<TForm1>(module,
                                        FormServices{platform, window, args, [] {}, [] {}, {}});
        return *form;
    }
    platform::Registry& store;
    fakes::CallLog log;
    fakes::FakeFormWindow window{&log};
    fakes::FakeWindowSystem windows{&log};
    fakes::FakeSaverState saverState{&log};
    testing_support::PatternScreen screen;
    fakes::FakeSoundPlayer sound{&log};
    fakes::FakePasswordLibrary passwords{&log};
    platform::PosixFileSystem files;
    platform::Platform platform{windows, saverState, screen, sound, passwords, store, files};
    SaverModule module;
    std::unique_ptr<TForm1> form;
};

TEST(RunOnlyRegistry, TheFormReadsTheOverrides) {
    const HackOptions o = parseHackOptions(
        {"-cycle", "777", "-refresh", "5", "-zoom", "0.25", "-sounds", "-images", "/nowhere"});
    const RunOnlyRegistry::Values overrides{
        {kSection, hack::sectionOverrides(o)},
        {kList, hack::pictureListOverrides({"/nowhere/a.bmp"})}};
    for (bool stored : {false, true}) {
        SCOPED_TRACE(stored ? "stored settings" : "empty store");
        fakes::FakeRegistry store;
        if (stored) {
            store.put(kSection, "udCycle_Position", "4000");
            store.put(kSection, "cbxPlaySounds_Checked", "False");
        }
        RunOnlyRegistry reg(store, overrides);
        HackWorld world(reg);
        TForm1& f = world.start();
        EXPECT_EQ(f.JvThreadTimer1->Delay(), 777);
        EXPECT_EQ(f.JvThreadTimer2->Delay(), 5);
        EXPECT_DOUBLE_EQ(f.MaxZoom, 0.25);
        EXPECT_TRUE(f.PlaySounds);
        EXPECT_FALSE(f.UseDesktop);
        ASSERT_TRUE(f.pictureList);
        EXPECT_EQ(*f.pictureList, std::vector<std::string>{"/nowhere/a.bmp"});
        EXPECT_EQ(store.commits, 0);
        EXPECT_FALSE(store.tree.keyExists("Software\\Tarnwick\\New"));
    }
}

} // namespace
} // namespace tarnwick
