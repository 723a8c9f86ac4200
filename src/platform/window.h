#pragma once
// The window system: the saver form's own window and what the host does to other windows.
#include "platform/geometry.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tarnwick::platform {

using WindowId = uint64_t; // 0 names no window

enum class WindowState { Normal, Minimized, Maximized };

// Window messages keep their classic numbers so the hook's filter reads as the contract states it.
constexpr uint32_t WM_NULL = 0x0000;
constexpr uint32_t WM_ERASEBKGND = 0x0014;
constexpr uint32_t WM_SYSCOMMAND = 0x0112;
constexpr uintptr_t SC_SCREENSAVE = 0xF140;
constexpr uintptr_t SC_CLOSE = 0xF060;
constexpr uint32_t WS_EX_TOPMOST = 0x08;
constexpr uint32_t WS_EX_TOOLWINDOW = 0x80;

using WindowProc = std::function<intptr_t(uint32_t msg, uintptr_t wParam, intptr_t lParam)>;

// Shift state bits of key and mouse events.
enum ShiftState : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32 };

class InputListener {
public:
    virtual ~InputListener() = default;
    virtual void keyDown(int key, unsigned shift) = 0;
    virtual void click() = 0;
    virtual void doubleClick() = 0;
    virtual void mouseMove(unsigned shift, int x, int y) = 0;
    virtual void closed() = 0; // the window was closed by any means
};

// The saver form's window. Geometry is in screen pixels; the client area is the whole window.
class FormWindow {
public:
    virtual ~FormWindow() = default;

    virtual void setListener(InputListener* listener) = 0;
    virtual void setTitle(const std::string& title) = 0;

    virtual bool visible() const = 0;
    virtual void show() = 0;
    virtual void close() = 0; // ends with InputListener::closed

    virtual WindowState windowState() const = 0;
    virtual void setWindowState(WindowState state) = 0;
    virtual void setBorderless() = 0;
    virtual void setStayOnTop() = 0;
    virtual Rect geometry() const = 0;
    virtual void setGeometry(const Rect& r) = 0;
    virtual Size clientSize() const = 0;
    virtual Size screenSize() const = 0;

    // The native window; handle() creates it when it does not exist yet.
    virtual bool hasHandle() const = 0;
    virtual WindowId handle() = 0;
    // Make the window a child of a foreign window that takes no input (a preview area).
    virtual void embedInto(WindowId parent) = 0;

    // The window procedure slot: messages reach the current procedure, which may be replaced.
    virtual WindowProc windowProc() const = 0;
    virtual void setWindowProc(WindowProc proc) = 0;
    virtual intptr_t sendMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) = 0;

    // Drawing: the 32-bit surface of the client area, then shown on screen.
    virtual FrameView beginFrame() = 0;
    virtual void endFrame() = 0;
};

// Operations on windows other than the form, and on the session.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    virtual WindowId findTopLevelWindow(const std::string& caption) = 0;
    virtual void enableWindow(WindowId window, bool enable) = 0;
    virtual void setForegroundWindow(WindowId window) = 0;
    // Remove the application's taskbar (and pager) entry; `title` names the application window.
    virtual void hideApplicationWindow(const std::string& title) = 0;
    virtual void setApplicationExStyle(uint32_t exStyle) = 0;
    virtual void showCursor(bool show) = 0;
    virtual void messageBeep() = 0;
    virtual std::string systemDirectory() = 0;
};

// The system's "a screen saver runs" flag. Returns the previous state.
class SystemSaverState {
public:
    virtual ~SystemSaverState() = default;
    virtual bool setScreenSaverRunning(bool running) = 0;
};

} // namespace tarnwick::platform
