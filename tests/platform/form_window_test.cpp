#include "platform/x11/x11_form_window.h"
#include "platform/x11/x11_platform.h"
#include "platform/x11/x11_window_system.h"
#include "x11_test_support.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace tarnwick {
namespace {

using platform::SC_CLOSE;
using platform::SC_SCREENSAVE;
using platform::WindowState;
using platform::WM_SYSCOMMAND;
using platform::x11::X11FormWindow;
using testing::OtherClient;
using testing::pumpUntil;
using testing::RecordingListener;

// Matches the X screen saver extension's state values without pulling in Xlib here.
constexpr int kServerSaverOff = 0;
constexpr int kServerSaverOn = 1;

class FormWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<X11FormWindow>();
        form->setQuitOnClose(false);
        form->setListener(&listener);
    }
    void TearDown() override {
        form.reset();
        xdotool({"mousemove", "0", "0"}); // leave the pointer where the next test expects it
    }

    void showFullScreen() {
        form->setWindowState(WindowState::Maximized);
        form->setBorderless();
        form->setStayOnTop();
        form->show();
        ASSERT_TRUE(pumpUntil([&] { return other.isViewable(form->handle()); }));
    }

    static void xdotool(const std::vector<std::string>& args) {
        int rc = -1;
        testing::runTool("xdotool", args, &rc);
        ASSERT_EQ(rc, 0);
    }

    OtherClient other;
    RecordingListener listener;
    std::unique_ptr<X11FormWindow> form;
};

TEST_F(FormWindowTest, MaximisedFormCoversTheWholeScreenAboveOthers) {
    showFullScreen();
    const auto g = other.geometry(form->handle());
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, 0);
    EXPECT_EQ(g.width, other.screenWidth());
    EXPECT_EQ(g.height, other.screenHeight());
    EXPECT_EQ(form->clientSize(), (Size{other.screenWidth(), other.screenHeight()}));
    EXPECT_EQ(form->geometry(), (Rect{0, 0, other.screenWidth(), other.screenHeight()}));
    const auto state = other.atomList(form->handle(), "_NET_WM_STATE");
    EXPECT_NE(std::find(state.begin(), state.end(), "_NET_WM_STATE_ABOVE"), state.end());
    EXPECT_TRUE(form->visible());
}

TEST_F(FormWindowTest, FramesReachTheScreen) {
    showFullScreen();
    // Two frames in a row, so that a surface that is not flushed, or flushed only once, shows.
    for (uint32_t base : {0x00102030u, 0x00C08040u}) {
        const FrameView f = form->beginFrame();
        ASSERT_NE(f.pixels, nullptr);
        ASSERT_EQ(f.width, other.screenWidth());
        ASSERT_EQ(f.height, other.screenHeight());
        ASSERT_GE(f.stride, f.width);
        for (int32_t y = 0; y < f.height; ++y)
            for (int32_t x = 0; x < f.width; ++x)
                f.pixels[y * f.stride + x] =
                    0xFF000000u | (base + static_cast<uint32_t>((x & 0x0F) | ((y & 0x0F) << 8)));
        form->endFrame();
        struct Probe {
            int x, y;
        };
        for (const Probe p : {Probe{0, 0}, Probe{5, 7}, Probe{f.width - 1, f.height - 1},
                              Probe{f.width / 2 + 3, f.height / 3 + 9}}) {
            const uint32_t expected =
                base + static_cast<uint32_t>((p.x & 0x0F) | ((p.y & 0x0F) << 8));
            EXPECT_TRUE(pumpUntil([&] { return other.screenPixel(p.x, p.y) == expected; }, 2000))
                << std::hex << "at " << std::dec << p.x << "," << p.y << " got " << std::hex
                << other.screenPixel(p.x, p.y) << " expected " << expected;
        }
    }
}

TEST_F(FormWindowTest, NoFrameWithoutAWindow) {
    EXPECT_EQ(form->beginFrame().pixels, nullptr);
    form->endFrame(); // harmless without a frame
}

TEST_F(FormWindowTest, KeysAndButtonsReachTheListener) {
    showFullScreen();
    // The full-screen form holds the keyboard even when another window gets the focus.
    ASSERT_TRUE(pumpUntil([&] { return form->inputGrabbed(); }));
    const auto elsewhere = other.createWindow(50, 50, "elsewhere");
    other.focus(elsewhere);
    xdotool({"key", "a"});
    xdotool({"key", "shift"}); // a modifier alone is a key press too
    xdotool({"key", "Escape"});
    ASSERT_TRUE(pumpUntil([&] { return listener.keys.size() >= 3; }));
    EXPECT_EQ(listener.keys[0].key, 'A');
    EXPECT_EQ(listener.keys[1].key, 0x10);
    EXPECT_EQ(listener.keys[2].key, 0x1B);

    xdotool({"mousemove", "100", "200"});
    ASSERT_TRUE(pumpUntil([&] {
        return std::find(listener.moves.begin(), listener.moves.end(), std::pair{100, 200}) !=
               listener.moves.end();
    }));

    xdotool({"click", "1"});
    ASSERT_TRUE(pumpUntil([&] { return listener.clicks == 1; }));
    xdotool({"click", "--repeat", "2", "--delay", "50", "1"});
    ASSERT_TRUE(pumpUntil([&] { return listener.doubleClicks == 1; }));
    EXPECT_EQ(listener.closes, 0);
    other.destroyWindow(elsewhere);
}

TEST_F(FormWindowTest, EachWayOfClosingReportsOnce) {
    struct Case {
        const char* name;
        std::function<void(X11FormWindow&, OtherClient&)> close;
    };
    const std::vector<Case> cases = {
        {"close()", [](X11FormWindow& w, OtherClient&) { w.close(); }},
        {"SC_CLOSE",
         [](X11FormWindow& w, OtherClient&) { w.sendMessage(WM_SYSCOMMAND, SC_CLOSE, 0); }},
        // The default procedure ignores the low four bits of a system command.
        {"SC_CLOSE|3",
         [](X11FormWindow& w, OtherClient&) { w.sendMessage(WM_SYSCOMMAND, SC_CLOSE | 3, 0); }},
        {"window manager", [](X11FormWindow& w, OtherClient& o) { o.requestClose(w.handle()); }},
        {"destroyed by another client",
         [](X11FormWindow& w, OtherClient& o) { o.destroyWindow(w.handle()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingListener l;
        auto w = std::make_unique<X11FormWindow>();
        w->setQuitOnClose(false);
        w->setListener(&l);
        w->setGeometry({10, 10, 210, 110});
        w->show();
        ASSERT_TRUE(pumpUntil([&] { return other.isViewable(w->handle()); }));
        const auto id = w->handle();
        c.close(*w, other);
        ASSERT_TRUE(pumpUntil([&] { return l.closes > 0; }));
        w->close();
        testing::pump(100);
        EXPECT_EQ(l.closes, 1);
        EXPECT_FALSE(w->visible());
        EXPECT_FALSE(w->hasHandle());
        EXPECT_FALSE(other.isViewable(id));
    }
}

TEST_F(FormWindowTest, DefaultProcedureAnswersZeroAndLeavesOtherMessagesAlone) {
    form->setGeometry({0, 0, 100, 100});
    form->show();
    ASSERT_TRUE(pumpUntil([&] { return other.isViewable(form->handle()); }));
    EXPECT_EQ(form->sendMessage(platform::WM_NULL, 0, 0), 0);
    EXPECT_EQ(form->sendMessage(platform::WM_ERASEBKGND, 1, 2), 0);
    EXPECT_EQ(form->sendMessage(WM_SYSCOMMAND, 0xF020 /* minimise */, 0), 0);
    testing::pump(100);
    EXPECT_EQ(listener.closes, 0);
    EXPECT_TRUE(form->visible());
}

TEST_F(FormWindowTest, ReplacedProcedureSeesMessagesAndCanPassThemOn) {
    std::vector<std::tuple<uint32_t, uintptr_t, intptr_t>> seen;
    const platform::WindowProc saved = form->windowProc();
    form->setWindowProc([&](uint32_t msg, uintptr_t w, intptr_t l) -> intptr_t {
        seen.emplace_back(msg, w, l);
        if (msg == platform::WM_NULL) return 7;
        return saved(msg, w, l);
    });
    EXPECT_EQ(form->sendMessage(platform::WM_NULL, 1, -2), 7);
    form->setGeometry({0, 0, 100, 100});
    form->show();
    ASSERT_TRUE(pumpUntil([&] { return other.isViewable(form->handle()); }));
    EXPECT_EQ(form->sendMessage(WM_SYSCOMMAND, SC_CLOSE, 0), 0);
    ASSERT_TRUE(pumpUntil([&] { return listener.closes == 1; }));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_tuple(platform::WM_NULL, uintptr_t{1}, intptr_t{-2}));
    EXPECT_EQ(seen[1], std::make_tuple(WM_SYSCOMMAND, uintptr_t{SC_CLOSE}, intptr_t{0}));
}

TEST_F(FormWindowTest, ServerSaverRequestIsRefusedByAProcedureThatSwallowsIt) {
    int requests = 0;
    const platform::WindowProc saved = form->windowProc();
    form->setWindowProc([&](uint32_t msg, uintptr_t w, intptr_t l) -> intptr_t {
        if (msg == WM_SYSCOMMAND && w == SC_SCREENSAVE) {
            ++requests;
            return 0;
        }
        return saved(msg, w, l);
    });
    showFullScreen();
    other.forceServerSaver(true);
    ASSERT_TRUE(pumpUntil([&] { return requests == 1; }));
    EXPECT_TRUE(pumpUntil([&] { return other.serverSaverState() == kServerSaverOff; }));
    testing::pump(300);
    EXPECT_EQ(other.serverSaverState(), kServerSaverOff);
}

TEST_F(FormWindowTest, ServerSaverRequestReachingTheDefaultProcedureIsLetThrough) {
    showFullScreen();
    other.forceServerSaver(true);
    testing::pump(500);
    EXPECT_EQ(other.serverSaverState(), kServerSaverOn);
    other.forceServerSaver(false);
    EXPECT_EQ(other.serverSaverState(), kServerSaverOff);
}

TEST_F(FormWindowTest, EmbeddedFormIsAPreviewSizedChildOfTheForeignWindow) {
    const auto parent = other.createWindow(400, 300, "preview area");
    form->handle(); // the host asks for the window before embedding it
    form->embedInto(parent);
    form->setGeometry({0, 0, 152, 112});
    form->show();
    ASSERT_TRUE(pumpUntil([&] { return other.isViewable(form->handle()); }));
    const auto kids = other.children(parent);
    ASSERT_EQ(kids.size(), 1u);
    EXPECT_EQ(kids[0], form->handle());
    const auto g = other.geometry(form->handle());
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, 0);
    EXPECT_EQ(g.width, 152);
    EXPECT_EQ(g.height, 112);
    EXPECT_EQ(form->clientSize(), (Size{152, 112}));
    EXPECT_EQ(form->embeddedParent(), parent);

    const FrameView f = form->beginFrame();
    ASSERT_NE(f.pixels, nullptr);
    EXPECT_EQ(f.width, 152);
    EXPECT_EQ(f.height, 112);
    for (int32_t y = 0; y < f.height; ++y)
        std::fill_n(f.pixels + y * f.stride, f.width, 0xFF3366CCu);
    form->endFrame();
    EXPECT_TRUE(pumpUntil([&] { return other.screenPixel(151, 111) == 0x3366CCu; }));
    EXPECT_EQ(other.screenPixel(152, 112), 0x808080u); // the parent's own background

    // A click on the preview goes to the foreign window, not to the form.
    testing::runTool("xdotool", {"mousemove", "20", "20", "click", "1"});
    testing::pump(200);
    EXPECT_EQ(listener.clicks, 0);

    other.destroyWindow(parent);
    ASSERT_TRUE(pumpUntil([&] { return listener.closes == 1; }));
    EXPECT_FALSE(form->visible());
    EXPECT_FALSE(form->hasHandle());
    testing::pump(100);
    EXPECT_EQ(listener.closes, 1);
}

TEST_F(FormWindowTest, EmbeddingIntoNoWindowClosesTheFormWithoutShowingIt) {
    const auto gone = other.createWindow(50, 50);
    other.destroyWindow(gone);
    form->handle();
    form->embedInto(gone);
    form->setGeometry({0, 0, 152, 112});
    form->show();
    EXPECT_EQ(listener.closes, 0); // not inside the mode's set-up: once the event loop runs
    ASSERT_TRUE(pumpUntil([&] { return listener.closes == 1; }));
    EXPECT_FALSE(form->visible());
}

TEST_F(FormWindowTest, ApplicationWindowRequestsReachTheForm) {
    auto windows = platform::createWindowSystem(*form);
    windows->hideApplicationWindow("Tarnwick Screensaver");
    showFullScreen();
    const auto state = other.atomList(form->handle(), "_NET_WM_STATE");
    for (const char* wanted :
         {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_ABOVE"})
        EXPECT_NE(std::find(state.begin(), state.end(), wanted), state.end()) << wanted;
}

TEST_F(FormWindowTest, ToolWindowStyleKeepsAShownFormOutOfTheTaskbar) {
    auto windows = platform::createWindowSystem(*form);
    form->setGeometry({0, 0, 100, 100});
    form->show();
    ASSERT_TRUE(pumpUntil([&] { return other.isViewable(form->handle()); }));
    windows->setApplicationExStyle(platform::WS_EX_TOOLWINDOW | platform::WS_EX_TOPMOST);
    const auto state = other.atomList(form->handle(), "_NET_WM_STATE");
    EXPECT_NE(std::find(state.begin(), state.end(), "_NET_WM_STATE_SKIP_TASKBAR"), state.end());
}

TEST_F(FormWindowTest, CursorHidesWhileTheShowCountIsNegative) {
    auto windows = platform::createWindowSystem(*form);
    showFullScreen();
    xdotool({"mousemove", "300", "300"});
    ASSERT_TRUE(pumpUntil([&] { return !other.cursorInvisible(); }));
    struct Step {
        bool show;
        bool hiddenAfter;
    };
    for (const Step s : {Step{false, true}, Step{false, true}, Step{true, true}, Step{true, false},
                         Step{true, false}, Step{false, false}, Step{false, true}}) {
        windows->showCursor(s.show);
        EXPECT_EQ(form->cursorHidden(), s.hiddenAfter);
        EXPECT_TRUE(pumpUntil([&] { return other.cursorInvisible() == s.hiddenAfter; }));
    }
}

} // namespace
} // namespace tarnwick

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
