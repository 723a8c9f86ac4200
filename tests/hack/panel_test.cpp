// XScreenSaver's side of the hack: the settings panel's description runs what it shows, the
// daemon's image settings, and the frame-rate meter.
#include "fakes/fake_registry.h"
#include "host/fps_overlay.h"
#include "host/hack_options.h"
#include "host/image_prefs.h"
#include "host/xscreensaver_list.h"

#include <QFile>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace tarnwick {
namespace {

constexpr const char* kSection = "Software\\Tarnwick\\TfrmConfig";
constexpr const char* kList = "Software\\Tarnwick\\TfrmConfig.ListBox1_Items";

// One state of one panel control: its label and the arguments the settings program passes.
struct State {
    std::string label;
    std::vector<std::string> args;
};
struct Control {
    std::string id, kind, defaultValue;
    std::vector<State> states; // the first is the one a fresh panel shows
};

std::vector<std::string> words(const QString& s) {
    std::vector<std::string> out;
    std::istringstream in(s.toStdString());
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// The controls as XScreenSaver's settings program reads them: a number at its default and a
// boolean unticked (or ticked, with only arg-unset) pass nothing; a select passes its option's
// arg-set; the first option without default="true" elsewhere is the fresh state.
std::vector<Control> panelControls() {
    QFile file(QStringLiteral(TARNWICK_XML));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    std::vector<Control> controls;
    Control* select = nullptr;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        const auto a = xml.attributes();
        const QString name = xml.name().toString();
        auto value = [&](const char* n) { return a.value(QLatin1String(n)).toString(); };
        if (name == "number") {
            const QString arg = value("arg");
            Control c{value("id").toStdString(), "number", value("default").toStdString(), {}};
            c.states.push_back({"default", {}});
            for (const char* at : {"low", "high", "default"}) {
                QString a2 = arg;
                // XScreenSaver's settings program reads numbers by the user's locale: a
                // fraction would be misread where the decimal mark is a comma.
                EXPECT_TRUE(QRegularExpression("^[0-9]+$").match(value(at)).hasMatch())
                    << c.id << " " << at << " " << value(at).toStdString();
                c.states.push_back({std::string("at ") + at, words(a2.replace('%', value(at)))});
            }
            controls.push_back(c);
        } else if (name == "boolean") {
            Control c{value("id").toStdString(), "boolean", {}, {}};
            if (!value("arg-unset").isEmpty())
                c.states = {{"ticked", {}}, {"unticked", words(value("arg-unset"))}};
            else
                c.states = {{"unticked", {}}, {"ticked", words(value("arg-set"))}};
            controls.push_back(c);
        } else if (name == "select") {
            controls.push_back({value("id").toStdString(), "select", {}, {}});
            select = &controls.back();
        } else if (name == "option" && select) {
            State s{value("_label").toStdString(), words(value("arg-set"))};
            if (value("default") == "true")
                select->states.insert(select->states.begin(), s);
            else
                select->states.push_back(s);
        } else if (name == "file") {
            QString arg = value("arg");
            controls.push_back({value("id").toStdString(),
                                "file",
                                {},
                                {{"empty", {}}, {"chosen", words(arg.replace('%', "pics"))}}});
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return controls;
}

// What the saver reads for `name` when `args` run over `store`.
std::string effective(fakes::FakeRegistry& store, const std::vector<std::string>& args,
                      const char* name) {
    const hack::HackOptions o = hack::parseHackOptions(args);
    hack::RunOnlyRegistry reg(store, {{kSection, hack::sectionOverrides(o)}});
    const auto v = reg.read()->queryValue(kSection, name);
    return v ? v->text() : "<missing>";
}

TEST(Panel, EveryControlRunsWhatItShows) {
    // Two users: one whose "Tarnwick Settings" stored values unlike the defaults, one with none.
    fakes::FakeRegistry saved, fresh;
    for (auto [n, v] : {std::pair{"udCycle_Position", "1250"},
                        {"udRefresh_Position", "20"},
                        {"fEdit_Value", "0.96"},
                        {"cbxPlaySounds_Checked", "True"},
                        {"rgPath_ItemIndex", "2"},
                        {"rgDesktopSettings_ItemIndex", "3"}})
        saved.put(kSection, n, v);

    // The stored value each control governs; the options of the run itself have none.
    const std::map<std::string, const char*> governs{{"cycle", "udCycle_Position"},
                                                     {"delay", "udRefresh_Position"},
                                                     {"zoom", "fEdit_Value"},
                                                     {"path", "rgPath_ItemIndex"},
                                                     {"desktop", "rgDesktopSettings_ItemIndex"},
                                                     {"sounds", "cbxPlaySounds_Checked"},
                                                     {"showfps", nullptr},
                                                     {"verbose", nullptr},
                                                     {"images", nullptr}};

    const auto controls = panelControls();
    ASSERT_GE(controls.size(), governs.size());
    for (const Control& c : controls) {
        SCOPED_TRACE(c.id);
        ASSERT_TRUE(governs.count(c.id)) << "a control the test does not know";
        const char* setting = governs.at(c.id);
        for (const State& s : c.states) {
            SCOPED_TRACE(s.label);
            ASSERT_NO_THROW(hack::parseHackOptions(s.args));
            if (!setting) continue;
            const std::string a = effective(saved, s.args, setting);
            const std::string b = effective(fresh, s.args, setting);
            if (s.label.find("as stored") != std::string::npos) {
                EXPECT_NE(a, b) << "labelled as stored but fixed";
                continue;
            }
            EXPECT_EQ(a, b) << "the stored settings decide what the panel states";
            // The panel leaves the option out at its default: the run must be the same.
            if (c.kind == "number" && s.label == "default") {
                EXPECT_EQ(a, effective(fresh, c.states.back().args, setting));
            }
        }
    }
    // The standard frame-rate switch is there and reaches the run.
    bool fps = false;
    for (const Control& c : controls)
        if (c.id == "showfps") fps = hack::parseHackOptions(c.states.back().args).fps;
    EXPECT_TRUE(fps);
}

TEST(ImagePrefs, ResourceLinesAndTheChoiceOfSource) {
    hack::ImagePrefs p;
    hack::readImagePrefs("*grabDesktopImages:\tFalse\n*chooseRandomImages: False\n", "/h", p);
    EXPECT_FALSE(p.grabDesktopImages);
    // The user's file over the packaged defaults; "~/" is the home folder.
    hack::readImagePrefs("programs: a \\\n  b\nchooseRandomImages:\tTrue\r\n"
                         "imageDirectory:\t~/My Pics\ngrabDesktopImages: bogus\n",
                         "/h", p);
    EXPECT_FALSE(p.grabDesktopImages);
    EXPECT_TRUE(p.chooseRandomImages);
    EXPECT_EQ(p.imageDirectory, "/h/My Pics");

    using S = hack::ImageSource;
    hack::ImagePrefs grab;
    EXPECT_EQ(hack::chooseImageSource(grab, true, false, true), S::AsStored);
    EXPECT_EQ(hack::chooseImageSource(p, false, true, true), S::AsStored); // stored pictures
    EXPECT_EQ(hack::chooseImageSource(p, true, true, true), S::StoredPictures);
    EXPECT_EQ(hack::chooseImageSource(p, true, false, true), S::Folder);
    EXPECT_EQ(hack::chooseImageSource(p, true, false, false), S::Builtin);
    p.chooseRandomImages = false;
    EXPECT_EQ(hack::chooseImageSource(p, true, false, true), S::Builtin);
    EXPECT_EQ(hack::chooseImageSource(p, true, true, true), S::StoredPictures);

    // xsecurelock: a window handed over and the locker's own variables.
    const char* locked[] = {"PATH=/bin", "XSCREENSAVER_WINDOW=0x400001", "XSECURELOCK_SAVER=x",
                            nullptr};
    const char* daemon[] = {"XSCREENSAVER_WINDOW=0x400001", "XSECURELOCKED=1", nullptr};
    const char* shell[] = {"XSECURELOCK_SAVER=x", "XSCREENSAVER_WINDOW=", nullptr};
    EXPECT_TRUE(hack::lockerInFront(locked));
    EXPECT_FALSE(hack::lockerInFront(daemon));
    EXPECT_FALSE(hack::lockerInFront(shell));

    fakes::FakeRegistry store;
    EXPECT_TRUE(hack::readStoredSource(store).desktop);
    store.put(kSection, "cbxUseDesktop_Checked", "False");
    EXPECT_TRUE(hack::readStoredSource(store).desktop); // no pictures: the desktop after all
    store.put(kList, "Item0", "/a.jpg");
    EXPECT_FALSE(hack::readStoredSource(store).desktop);
    EXPECT_TRUE(hack::readStoredSource(store).hasPictures);
    store.put(kSection, "cbxUseDesktop_Checked", "true");
    EXPECT_TRUE(hack::readStoredSource(store).desktop);
}

TEST(ProgramsList, TheHackJoinsTheListOnceAndNothingElseChanges) {
    const std::string head = "# XScreenSaver Preferences File\n"
                             "mode:\t\tone\n"
                             "selected:\t2\n"
                             "programs:\t\t\t\t\\\n"
                             "\t\t  maze -root\t\t\\n\\\n"
                             "- GL: \t\t  superquadrics -root\t\\n\\\n";
    const std::string last = "\t\t  \"Apple ][\"  apple2 -root  \\n";
    const std::string tail = "\nimageDirectory:\t/pics\n";
    const std::string ours = "  \"Tarnwick\"  tarnwick-hack -root  \\n\n";
    const std::string user = head + last + "\n" + tail;

    const hack::ProgramsEdit edit = hack::addToPrograms(user, "");
    EXPECT_TRUE(edit.added);
    EXPECT_EQ(edit.number, 4); // after the three, so "selected:" keeps its hack
    EXPECT_EQ(edit.text, head + last + "\\\n" + ours + tail);
    // A second run adds nothing; neither does a hack already listed, even switched off.
    const hack::ProgramsEdit again = hack::addToPrograms(edit.text, "");
    EXPECT_FALSE(again.added);
    EXPECT_EQ(again.text, edit.text);
    EXPECT_EQ(again.number, 4);
    const std::string off =
        head + "-  \"T\" /usr/libexec/xscreensaver/tarnwick-hack -root\n" + tail;
    EXPECT_EQ(hack::addToPrograms(off, "").text, off);
    EXPECT_EQ(hack::addToPrograms(off, "").number, 3);

    // A list closed by a blank line gets the entry before that line.
    EXPECT_EQ(hack::addToPrograms(std::string("programs:\\\n  a \\n\\\n\nb: 1\n"), "").text,
              "programs:\\\n  a \\n\\\n" + ours.substr(0, ours.size() - 1) + "\\\n\nb: 1\n");

    // No user file: the packaged list, under the user file's resource name, with the hack added.
    const std::string defaults = "*grabDesktopImages: False\n*programs:\t\\\n  maze -root \\n\\\n"
                                 "  apple2 -root \\n\n\n*lock: False\n";
    const hack::ProgramsEdit fresh = hack::addToPrograms(std::nullopt, defaults);
    EXPECT_EQ(fresh.number, 3);
    EXPECT_NE(fresh.text.find("\nprograms:\t\\\n  maze -root \\n\\\n  apple2 -root \\n\\\n" + ours),
              std::string::npos)
        << fresh.text;
    EXPECT_EQ(fresh.text.find("grabDesktopImages"), std::string::npos);
    // A user file without a list keeps its lines and gains the packaged list.
    EXPECT_EQ(hack::addToPrograms(std::string("mode: one"), defaults).text.rfind("mode: one\n", 0),
              0u);
    EXPECT_EQ(hack::addToPrograms(std::string("mode: one"), defaults).number, 3);
    EXPECT_THROW(hack::addToPrograms(std::nullopt, "*lock: False\n"), Error);
}

TEST(FpsMeter, FramesAndLoadOverTheLastSecond) {
    hack::FpsMeter m;
    EXPECT_FALSE(m.frame(100.0, 3.0));
    for (int i = 1; i < 50; ++i) EXPECT_FALSE(m.frame(100.0 + i * 0.02, 3.0 + i * 0.005));
    EXPECT_EQ(m.text(), "");
    EXPECT_TRUE(m.frame(101.0, 3.25));
    EXPECT_EQ(m.text(), "FPS: 50.0  Load: 25%");
    // The next figures count only the frames since.
    for (int i = 1; i <= 10; ++i) m.frame(101.0 + i * 0.2, 3.25 + i * 0.2);
    EXPECT_EQ(m.text(), "FPS: 5.0  Load: 100%");
}

TEST(HackOptions, StandardOptionsOfEveryHack) {
    const hack::HackOptions o = hack::parseHackOptions(
        {"-root", "-display", ":7", "-visual", "default", "-install", "-mono", "-pair", "-fps"});
    EXPECT_EQ(o.display, ":7");
    EXPECT_TRUE(o.fps);
    EXPECT_EQ(o.target, hack::Target::Root);
    EXPECT_FALSE(hack::parseHackOptions({"-fps", "--no-fps"}).fps);
    // -delay is microseconds, rounded to the refresh timer's milliseconds; the last one wins.
    EXPECT_EQ(hack::parseHackOptions({"-delay", "20499"}).refresh, 20);
    EXPECT_EQ(hack::parseHackOptions({"-delay", "20500"}).refresh, 21);
    EXPECT_EQ(hack::parseHackOptions({"-delay", "2000499"}).refresh, 2000);
    EXPECT_EQ(hack::parseHackOptions({"-refresh", "7", "-delay", "0"}).refresh, 0);
    EXPECT_EQ(hack::parseHackOptions({"-delay", "0", "-refresh", "7"}).refresh, 7);
}

} // namespace
} // namespace tarnwick
