#pragma once
// The in-memory window system: it records what the program asked of it.
#include "platform/password.h"
#include "platform/window.h"

#include <string>
#include <vector>

namespace tarnwick::fakes {

// A call as "name" or "name:argument", in the order made.
using CallLog = std::vector<std::string>;

class FakeFormWindow : public platform::FormWindow {
public:
    explicit FakeFormWindow(CallLog* log = nullptr);

    void setListener(platform::InputListener* listener) override { listener_ = listener; }
    void setTitle(const std::string& title) override { title_ = title; }
    bool visible() const override { return visible_; }
    void show() override;
    void close() override;
    platform::WindowState windowState() const override { return state_; }
    void setWindowState(platform::WindowState state) override;
    void setBorderless() override;
    void setStayOnTop() override;
    Rect geometry() const override { return geometry_; }
    void setGeometry(const Rect& r) override;
    Size clientSize() const override { return {geometry_.width(), geometry_.height()}; }
    Size screenSize() const override { return screen_; }
    bool hasHandle() const override { return handle_ != 0; }
    platform::WindowId handle() override;
    void embedInto(platform::WindowId parent) override;
    platform::WindowProc windowProc() const override { return proc_; }
    void setWindowProc(platform::WindowProc proc) override;
    intptr_t sendMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
    FrameView beginFrame() override;
    void endFrame() override { ++framesShown; }

    // Input as the user would give it.
    void pressKey(int key, unsigned shift = 0);
    void clickMouse();
    void moveMouse(int x, int y);
    void destroyHandle() { handle_ = 0; }

    platform::InputListener* listener_ = nullptr;
    std::string title_;
    bool visible_ = false;
    bool closed_ = false;
    platform::WindowState state_ = platform::WindowState::Normal;
    Rect geometry_{0, 0, 640, 480};
    Size screen_{1920, 1080};
    platform::WindowId handle_ = 0;
    platform::WindowId embeddedIn = 0;
    platform::WindowProc proc_;
    std::vector<uint32_t> frame;
    int framesShown = 0;
    // Messages that reached the window's own (default) procedure.
    std::vector<std::pair<uint32_t, uintptr_t>> defaultProcMessages;

private:
    CallLog* log_;
    void note(const std::string& call) {
        if (log_) log_->push_back(call);
    }
};

class FakeWindowSystem : public platform::WindowSystem {
public:
    explicit FakeWindowSystem(CallLog* log = nullptr) : log_(log) {}

    platform::WindowId findTopLevelWindow(const std::string& caption) override;
    void enableWindow(platform::WindowId window, bool enable) override;
    void setForegroundWindow(platform::WindowId window) override;
    void hideApplicationWindow(const std::string& title) override;
    void setApplicationExStyle(uint32_t exStyle) override;
    void showCursor(bool show) override;
    void messageBeep() override { note("beep"); }
    std::string systemDirectory() override { return systemDirectory_; }

    // Top-level windows by caption, with their enabled state.
    struct Window {
        std::string caption;
        platform::WindowId id;
        bool enabled = true;
    };
    std::vector<Window> windows;
    int cursorCount = 0; // shown while >= 0
    uint32_t appExStyle = 0;
    bool appWindowHidden = false;
    platform::WindowId foreground = 0;
    std::string systemDirectory_ = "C:\\WINDOWS\\SYSTEM";

    Window* byId(platform::WindowId id);

private:
    CallLog* log_;
    void note(const std::string& call) {
        if (log_) log_->push_back(call);
    }
};

class FakeSaverState : public platform::SystemSaverState {
public:
    explicit FakeSaverState(CallLog* log = nullptr) : log_(log) {}
    bool setScreenSaverRunning(bool running) override {
        if (log_) log_->push_back(running ? "saverRunning:1" : "saverRunning:0");
        const bool previous = running_;
        running_ = running;
        return previous;
    }
    bool running_ = false;

private:
    CallLog* log_;
};

// A password library that is there or not, with or without its function.
class FakePasswordLibrary : public platform::PasswordLibrary {
public:
    explicit FakePasswordLibrary(CallLog* log = nullptr) : log_(log) {}
    Handle load(const std::string& path) override;
    platform::PwdChangePasswordFn find(Handle library, const std::string& name) override;
    void free(Handle library) override;

    bool libraryPresent = false;
    bool functionPresent = false;
    std::string loadedPath;
    static inline std::vector<std::string> calls; // what the password function received

private:
    CallLog* log_;
    int token_ = 0;
};

} // namespace tarnwick::fakes
