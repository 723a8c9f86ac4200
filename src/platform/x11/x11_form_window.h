#pragma once
// The saver form's window on X11: a raster QWindow whose backing store is the frame surface.
#include "platform/window.h"
#include "platform/x11/x11_display.h"

#include <QObject>
#include <QRect>

#include <memory>

class QBackingStore;
class QImage;
class QSocketNotifier;
class QWindow;

namespace tarnwick::platform::x11 {

class SurfaceWindow;

class X11FormWindow final : public QObject, public FormWindow {
public:
    X11FormWindow();
    ~X11FormWindow() override;

    void setListener(InputListener* listener) override { listener_ = listener; }
    void setTitle(const std::string& title) override;

    bool visible() const override;
    void show() override;
    void close() override;

    WindowState windowState() const override { return state_; }
    void setWindowState(WindowState state) override;
    void setBorderless() override;
    void setStayOnTop() override;
    Rect geometry() const override;
    void setGeometry(const Rect& r) override;
    Size clientSize() const override;
    Size screenSize() const override;

    bool hasHandle() const override;
    WindowId handle() override;
    void embedInto(WindowId parent) override;

    WindowProc windowProc() const override { return proc_; }
    void setWindowProc(WindowProc proc) override { proc_ = std::move(proc); }
    intptr_t sendMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

    FrameView beginFrame() override;
    void endFrame() override;

    // What the window system applies to the form, the one window of this application.
    void setCursorHidden(bool hidden);
    bool cursorHidden() const { return cursorHidden_; }
    void setSkipTaskbar();
    // Whether the full-screen form holds the keyboard and the pointer.
    bool inputGrabbed() const { return grabbed_; }
    // Whether closing ends the application's event loop (the main window's behaviour).
    void setQuitOnClose(bool quit) { quitOnClose_ = quit; }
    // The window the form is embedded in; 0 when it is a top-level window.
    WindowId embeddedParent() const { return parent_; }

    // Called by the Qt window.
    void onKeyPress(int key, unsigned shift);
    void onMousePress(bool doubleClick);
    void onMouseMove(unsigned shift, int x, int y);
    void onExposed();
    void onClosed();

private:
    intptr_t defaultProc(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    void applyFlags();
    void applyMaximizedGeometry();
    void applySkipTaskbar();
    void grabInput();
    void readX11Events();
    void onScreenSaverActivated();
    void watchOwnWindow();
    void windowGone();

    std::unique_ptr<QWindow> foreign_; // the preview parent; outlives the window
    std::unique_ptr<SurfaceWindow> window_;
    std::unique_ptr<QBackingStore> store_;
    std::unique_ptr<QImage> fallback_; // used when the backing store is not 32-bit
    DisplayPtr display_;
    std::unique_ptr<QSocketNotifier> notifier_;
    int saverEventBase_ = -1;

    InputListener* listener_ = nullptr;
    WindowProc proc_;
    WindowState state_ = WindowState::Normal;
    QRect normalGeometry_;
    bool borderless_ = false;
    bool onTop_ = false;
    bool cursorHidden_ = false;
    bool skipTaskbar_ = false;
    bool quitOnClose_ = true;
    bool painting_ = false;
    bool closed_ = false;
    bool parentMissing_ = false;
    bool saverAllowed_ = false;
    bool saverActive_ = false;
    bool grabbed_ = false;
    WindowId parent_ = 0;
    unsigned long watched_ = 0; // our own window, watched for destruction
};

} // namespace tarnwick::platform::x11
