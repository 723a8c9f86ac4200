// Configuration and password requests under a window manager: the saver form, which has
// nothing to show in these modes, never reaches the screen.
#include "e2e_support.h"
#include "x11_test_support.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <map>
#include <set>

// Xlib last: its macros (None, Bool...) clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace tarnwick::e2e {
namespace {

using testing::OtherClient;
using testing::pumpUntil;
using testing::runTool;

// Watches every top-level window created on the server from now on: its title, its process,
// and whether it was ever mapped, itself or in the frame the window manager put it in.
class MapWatcher {
public:
    // Windows may be gone by the time they are asked about: such errors are expected.
    explicit MapWatcher(OtherClient& x)
        : x_(x), oldHandler_(XSetErrorHandler([](Display*, XErrorEvent*) { return 0; })) {
        XSelectInput(x_.display(), x_.root(), SubstructureNotifyMask);
        XSync(x_.display(), False);
    }
    ~MapWatcher() { XSetErrorHandler(oldHandler_); }
    MapWatcher(const MapWatcher&) = delete;
    MapWatcher& operator=(const MapWatcher&) = delete;
    void poll() {
        Display* d = x_.display();
        while (XPending(d) > 0) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type == CreateNotify && e.xcreatewindow.parent == x_.root()) {
                XSelectInput(d, e.xcreatewindow.window, StructureNotifyMask | PropertyChangeMask);
                readInfo(e.xcreatewindow.window);
            } else if (e.type == PropertyNotify) {
                readInfo(e.xproperty.window);
            } else if (e.type == ReparentNotify) {
                // The manager frames a client when it asks to be mapped; the frame maps then.
                readInfo(e.xreparent.window);
                frames_[e.xreparent.window] = e.xreparent.parent;
            } else if (e.type == MapNotify) {
                readInfo(e.xmap.window);
                mapped_.insert(e.xmap.window);
            }
        }
    }
    // The title of every window of process `pid` mapped so far ("?" when it was gone before
    // it could be read); a frame stands for the client in it.
    std::set<std::string> mappedTitles(long pid) const {
        std::map<unsigned long, unsigned long> clientOf;
        for (const auto& [client, frame] : frames_) clientOf[frame] = client;
        std::set<std::string> result;
        for (unsigned long w : mapped_) {
            const auto c = clientOf.find(w);
            const unsigned long client = c == clientOf.end() ? w : c->second;
            const auto owner = pids_.find(client);
            if (owner == pids_.end() || owner->second != pid) continue;
            const auto t = titles_.find(client);
            result.insert(t == titles_.end() ? "?" : t->second);
        }
        return result;
    }

private:
    void readInfo(unsigned long w) {
        XTextProperty text{};
        if (XGetWMName(x_.display(), w, &text) != 0 && text.value != nullptr) {
            titles_[w] = std::string(reinterpret_cast<const char*>(text.value), text.nitems);
            XFree(text.value);
        }
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        const Atom pidAtom = XInternAtom(x_.display(), "_NET_WM_PID", False);
        if (XGetWindowProperty(x_.display(), w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                               &count, &after, &data) == Success &&
            data != nullptr) {
            if (format == 32 && count == 1) pids_[w] = *reinterpret_cast<const long*>(data);
            XFree(data);
        }
    }

    OtherClient& x_;
    XErrorHandler oldHandler_;
    std::map<unsigned long, std::string> titles_;
    std::map<unsigned long, long> pids_;
    std::set<unsigned long> mapped_;
    std::map<unsigned long, unsigned long> frames_; // client -> the manager's frame
};

class HiddenFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<XServer>();
        wm.start("openbox", {"--sm-disable"});
        ASSERT_TRUE(wm.waitForStarted());
        other = std::make_unique<OtherClient>();
        ASSERT_TRUE(pumpUntil(
            [&] { return !other->atomList(other->root(), "_NET_SUPPORTED").empty(); }, 5000));
        watcher = std::make_unique<MapWatcher>(*other);
    }
    void TearDown() override {
        watcher.reset();
        other.reset();
        wm.terminate();
        wm.waitForFinished(3000);
        server.reset();
    }

    // Records the maps until the program has ended, the last ones included.
    bool watchUntilEnded(Saver& saver) {
        const bool ended = pumpUntil(
            [&] {
                watcher->poll();
                return !saver.running();
            },
            10000);
        watcher->poll();
        return ended;
    }

    std::unique_ptr<XServer> server;
    QProcess wm;
    std::unique_ptr<OtherClient> other;
    std::unique_ptr<MapWatcher> watcher;
};

TEST_F(HiddenFormTest, ConfigurationShowsTheDialogOnly) {
    const Profile profile(16, 16, [](int, int) { return 0x102030u; });
    Saver saver(profile, {"/c"});
    const long pid = saver.processId();
    ASSERT_TRUE(pumpUntil(
        [&] {
            watcher->poll();
            return watcher->mappedTitles(pid).count("Tarnwick Settings") > 0;
        },
        10000))
        << saver.errorOutput();
    // Ok (Enter) closes the dialog; the program then ends.
    runTool("xdotool", {"search", "--onlyvisible", "--name", "^Tarnwick Settings$",
                        "windowactivate", "--sync", "key", "Return"});
    ASSERT_TRUE(watchUntilEnded(saver));
    EXPECT_EQ(saver.exitCode(), 0) << saver.errorOutput();
    // Only the dialog: the form, mapped even for a moment, would be a second title here.
    EXPECT_EQ(watcher->mappedTitles(pid), std::set<std::string>{"Tarnwick Settings"});
}

TEST_F(HiddenFormTest, PasswordRequestShowsNothing) {
    const Profile profile(16, 16, [](int, int) { return 0x102030u; });
    Saver saver(profile, {"/a", "0"});
    const long pid = saver.processId();
    ASSERT_TRUE(watchUntilEnded(saver));
    EXPECT_EQ(saver.exitCode(), 0) << saver.errorOutput();
    EXPECT_TRUE(watcher->mappedTitles(pid).empty());
}

} // namespace
} // namespace tarnwick::e2e

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
