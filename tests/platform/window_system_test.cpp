#include "host/screensaver.h"
#include "platform/posix/posix_password.h"
#include "platform/x11/x11_form_window.h"
#include "platform/x11/x11_window_system.h"
#include "x11_test_support.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <algorithm>

// Xlib last: its macros break Qt's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace tarnwick {
namespace {

using platform::x11::X11WindowSystem;
using testing::OtherClient;

class WindowSystemTest : public ::testing::Test {
protected:
    OtherClient other;
    X11WindowSystem windows{nullptr};
};

TEST_F(WindowSystemTest, FindsTopLevelWindowsByEitherTitleProperty) {
    const auto byWmName = other.createWindow(50, 50, "Display Properties");
    const auto byNetName = other.createWindow(50, 50, "", "Einstellungen für Anzeige");
    // A window manager puts the client inside a frame, and the frame inside a container.
    const auto frame = other.createWindow(60, 60);
    const auto inner = other.createWindow(58, 58, "", "", frame);
    const auto framed = other.createWindow(50, 50, "Framed Client", "", inner);

    EXPECT_EQ(windows.findTopLevelWindow("Display Properties"), byWmName);
    EXPECT_EQ(windows.findTopLevelWindow("Einstellungen für Anzeige"), byNetName);
    EXPECT_EQ(windows.findTopLevelWindow("Framed Client"), framed);
    EXPECT_EQ(windows.findTopLevelWindow("Display"), 0u); // the whole title must match
    EXPECT_EQ(windows.findTopLevelWindow("display properties"), 0u);
    EXPECT_EQ(windows.findTopLevelWindow("No Such Window"), 0u);
    for (auto w : {byWmName, byNetName, frame}) other.destroyWindow(w);
}

TEST_F(WindowSystemTest, NetWmNameWinsOverWmName) {
    const auto w = other.createWindow(50, 50, "Old Name", "New Name");
    EXPECT_EQ(windows.findTopLevelWindow("New Name"), w);
    EXPECT_EQ(windows.findTopLevelWindow("Old Name"), 0u);
    other.destroyWindow(w);
}

TEST_F(WindowSystemTest, ForegroundWithoutWindowManagerRaisesTheWindow) {
    const auto lower = other.createWindow(50, 50, "lower");
    const auto upper = other.createWindow(50, 50, "upper");
    auto top = [&] { return other.children(DefaultRootWindow(other.display())).back(); };
    ASSERT_EQ(top(), upper);
    windows.setForegroundWindow(lower);
    EXPECT_TRUE(testing::pumpUntil([&] { return top() == lower; }));
    windows.setForegroundWindow(0); // no window: nothing happens
    windows.setForegroundWindow(0x7FFFFFF);
    EXPECT_EQ(top(), lower);
    other.destroyWindow(lower);
    other.destroyWindow(upper);
}

// Plays a window manager: announces _NET_ACTIVE_WINDOW and takes the root's redirected requests.
TEST_F(WindowSystemTest, ForegroundAsksTheWindowManagerToActivate) {
    const auto target = other.createWindow(50, 50, "target");
    Display* wm = other.display();
    const Window root = DefaultRootWindow(wm);
    const Atom active = XInternAtom(wm, "_NET_ACTIVE_WINDOW", False);
    XChangeProperty(wm, root, XInternAtom(wm, "_NET_SUPPORTED", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&active), 1);
    XSelectInput(wm, root, SubstructureRedirectMask);
    XSync(wm, False);

    windows.setForegroundWindow(target);

    bool activated = false;
    bool raised = false;
    ASSERT_TRUE(testing::pumpUntil([&] {
        while (XPending(wm)) {
            XEvent e;
            XNextEvent(wm, &e);
            if (e.type == ClientMessage && e.xclient.message_type == active &&
                e.xclient.window == target && e.xclient.data.l[0] == 2)
                activated = true;
            if (e.type == ConfigureRequest && e.xconfigurerequest.window == target &&
                (e.xconfigurerequest.value_mask & CWStackMode) &&
                e.xconfigurerequest.detail == Above)
                raised = true;
        }
        return activated && raised;
    }));
    XSelectInput(wm, root, NoEventMask);
    XDeleteProperty(wm, root, XInternAtom(wm, "_NET_SUPPORTED", False));
    XSync(wm, False);
    other.destroyWindow(target);
}

TEST_F(WindowSystemTest, PasswordRequestFindsNoProviderLibrary) {
    // The system directory gets exactly one separator before the library name.
    const std::string path = PasswordLibraryPath(windows.systemDirectory());
    EXPECT_EQ(path, windows.systemDirectory() + "\\MPR.DLL");
    EXPECT_EQ(std::count(path.begin(), path.end(), '\\'), 1);
    platform::PosixPasswordLibrary library;
    EXPECT_EQ(library.load(path), nullptr);
}

} // namespace
} // namespace tarnwick

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
