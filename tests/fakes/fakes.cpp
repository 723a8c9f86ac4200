#include "fakes/fakes.h"

#include <algorithm>

namespace tarnwick::fakes {

using platform::WindowId;

FakeFormWindow::FakeFormWindow(CallLog* log) : log_(log) {
    // The window's own procedure: it closes on SC_CLOSE and otherwise only notes the message.
    proc_ = [this](uint32_t msg, uintptr_t wParam, intptr_t) -> intptr_t {
        defaultProcMessages.emplace_back(msg, wParam);
        if (msg == platform::WM_SYSCOMMAND && wParam == platform::SC_CLOSE) close();
        return 1;
    };
}

void FakeFormWindow::show() {
    note("show");
    visible_ = true;
    handle();
}

void FakeFormWindow::close() {
    note("close");
    if (closed_) return;
    closed_ = true;
    visible_ = false;
    if (listener_) listener_->closed();
}

void FakeFormWindow::setWindowState(platform::WindowState state) {
    static const char* names[] = {"normal", "minimized", "maximized"};
    note(std::string("state:") + names[static_cast<int>(state)]);
    state_ = state;
    if (state == platform::WindowState::Maximized)
        geometry_ = {0, 0, screen_.width, screen_.height};
}

void FakeFormWindow::setBorderless() {
    note("borderless");
}
void FakeFormWindow::setStayOnTop() {
    note("onTop");
}

void FakeFormWindow::setGeometry(const Rect& r) {
    note("geometry:" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
         std::to_string(r.width()) + "x" + std::to_string(r.height()));
    geometry_ = r;
}

WindowId FakeFormWindow::handle() {
    if (!handle_) {
        note("createHandle");
        handle_ = 0x100;
    }
    return handle_;
}

void FakeFormWindow::embedInto(WindowId parent) {
    note("embed:" + std::to_string(parent));
    embeddedIn = parent;
}

void FakeFormWindow::setWindowProc(platform::WindowProc proc) {
    note("setWindowProc");
    proc_ = std::move(proc);
}

intptr_t FakeFormWindow::sendMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    return proc_ ? proc_(msg, wParam, lParam) : 0;
}

FrameView FakeFormWindow::beginFrame() {
    const Size s = clientSize();
    frame.assign(static_cast<size_t>(std::max(0, s.width) * std::max(0, s.height)), 0xDEADBEEF);
    return {frame.data(), s.width, s.height, s.width};
}

void FakeFormWindow::pressKey(int key, unsigned shift) {
    if (listener_) listener_->keyDown(key, shift);
}
void FakeFormWindow::clickMouse() {
    if (listener_) listener_->click();
}
void FakeFormWindow::moveMouse(int x, int y) {
    if (listener_) listener_->mouseMove(0, x, y);
}

FakeWindowSystem::Window* FakeWindowSystem::byId(WindowId id) {
    auto it =
        std::find_if(windows.begin(), windows.end(), [&](const Window& w) { return w.id == id; });
    return it == windows.end() ? nullptr : &*it;
}

WindowId FakeWindowSystem::findTopLevelWindow(const std::string& caption) {
    for (const auto& w : windows)
        if (w.caption == caption) return w.id;
    return 0;
}

void FakeWindowSystem::enableWindow(WindowId window, bool enable) {
    note(std::string(enable ? "enable:" : "disable:") + std::to_string(window));
    if (auto* w = byId(window)) w->enabled = enable;
}

void FakeWindowSystem::setForegroundWindow(WindowId window) {
    note("foreground:" + std::to_string(window));
    if (byId(window)) foreground = window;
}

void FakeWindowSystem::hideApplicationWindow(const std::string& title) {
    note("hideAppWindow:" + title);
    appWindowHidden = true;
}

void FakeWindowSystem::setApplicationExStyle(uint32_t exStyle) {
    note("appExStyle:" + std::to_string(exStyle));
    appExStyle = exStyle;
}

void FakeWindowSystem::showCursor(bool show) {
    note(show ? "showCursor:1" : "showCursor:0");
    cursorCount += show ? 1 : -1;
}

namespace {
uint32_t fakeChangePassword(const char* provider, uint64_t parent, uint32_t r1, uint32_t r2) {
    FakePasswordLibrary::calls.push_back(std::string(provider) + "," + std::to_string(parent) +
                                         "," + std::to_string(r1) + "," + std::to_string(r2));
    return 1;
}
} // namespace

platform::PasswordLibrary::Handle FakePasswordLibrary::load(const std::string& path) {
    if (log_) log_->push_back("loadLibrary:" + path);
    loadedPath = path;
    return libraryPresent ? &token_ : nullptr;
}

platform::PwdChangePasswordFn FakePasswordLibrary::find(Handle, const std::string& name) {
    if (log_) log_->push_back("getProc:" + name);
    return functionPresent && name == "PwdChangePasswordA" ? &fakeChangePassword : nullptr;
}

void FakePasswordLibrary::free(Handle) {
    if (log_) log_->push_back("freeLibrary");
}

} // namespace tarnwick::fakes
