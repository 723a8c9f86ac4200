#include "platform/x11/x11_form_window.h"

#include "platform/x11/x11_keys.h"

#include <QBackingStore>
#include <QCoreApplication>
#include <QCursor>
#include <QExposeEvent>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <span>

// Xlib last: its macros (Status, None, Bool...) break Qt's headers.
#include <X11/Xatom.h>
#include <X11/extensions/scrnsaver.h>

namespace tarnwick::platform::x11 {

// The Qt window: passes its events to the form window.
class SurfaceWindow : public QWindow {
public:
    explicit SurfaceWindow(X11FormWindow& owner) : owner_(owner) {
        setSurfaceType(QSurface::RasterSurface);
    }

protected:
    void keyPressEvent(QKeyEvent* e) override {
        owner_.onKeyPress(virtualKey(e->key()), shiftState(e->modifiers(), Qt::NoButton));
    }
    void mousePressEvent(QMouseEvent* e) override {
        (void)e;
        owner_.onMousePress(false);
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        (void)e;
        owner_.onMousePress(true);
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        const QPoint p = e->position().toPoint();
        owner_.onMouseMove(shiftState(e->modifiers(), e->buttons()), p.x(), p.y());
    }
    void exposeEvent(QExposeEvent*) override {
        if (isExposed()) owner_.onExposed();
    }
    void closeEvent(QCloseEvent* e) override {
        QWindow::closeEvent(e);
        if (e->isAccepted()) owner_.onClosed();
    }

private:
    X11FormWindow& owner_;
};

namespace {

QRect toQRect(const Rect& r) {
    return QRect(r.left, r.top, r.width(), r.height());
}

QRect virtualDesktop() {
    QRect all;
    for (QScreen* screen : QGuiApplication::screens()) all = all.united(screen->geometry());
    return all;
}

bool is32Bit(const QImage& image) {
    return image.format() == QImage::Format_RGB32 ||
           image.format() == QImage::Format_ARGB32_Premultiplied ||
           image.format() == QImage::Format_ARGB32;
}

} // namespace

X11FormWindow::X11FormWindow() : window_(std::make_unique<SurfaceWindow>(*this)) {
    proc_ = [this](uint32_t msg, uintptr_t wParam, intptr_t lParam) {
        return defaultProc(msg, wParam, lParam);
    };
    display_ = openDisplay();
    if (display_) {
        int errorBase = 0;
        Display* dpy = display_.get();
        if (XScreenSaverQueryExtension(dpy, &saverEventBase_, &errorBase)) {
            XScreenSaverSelectInput(dpy, DefaultRootWindow(dpy), ScreenSaverNotifyMask);
            XFlush(dpy);
        } else {
            saverEventBase_ = -1;
        }
        notifier_ = std::make_unique<QSocketNotifier>(ConnectionNumber(dpy), QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readX11Events(); });
    }
}

X11FormWindow::~X11FormWindow() {
    notifier_.reset();
    store_.reset();
    window_.reset();
    foreign_.reset();
}

void X11FormWindow::setTitle(const std::string& title) {
    window_->setTitle(QString::fromStdString(title));
}

bool X11FormWindow::visible() const {
    return !closed_ && window_->isVisible();
}

void X11FormWindow::show() {
    if (closed_ || parentMissing_) return;
    window_->create();
    watchOwnWindow();
    applySkipTaskbar();
    if (state_ == WindowState::Maximized && !parent_) applyMaximizedGeometry();
    if (state_ == WindowState::Minimized && !parent_)
        window_->showMinimized();
    else
        window_->show();
}

void X11FormWindow::close() {
    if (closed_) return;
    // A top-level window reaches onClosed through its close event; Qt does not close a child
    // window, so the embedded form is closed and destroyed here.
    if (window_->handle() && window_->close()) return;
    onClosed();
    if (window_->handle()) window_->destroy();
}

void X11FormWindow::setWindowState(WindowState state) {
    if (state == state_) return;
    if (state_ == WindowState::Normal) normalGeometry_ = window_->geometry();
    state_ = state;
    if (parent_) return;
    switch (state) {
    case WindowState::Maximized:
        applyMaximizedGeometry();
        break;
    case WindowState::Minimized:
        if (window_->isVisible()) window_->showMinimized();
        break;
    case WindowState::Normal:
        if (window_->isVisible()) window_->showNormal();
        if (normalGeometry_.isValid()) window_->setGeometry(normalGeometry_);
        break;
    }
}

void X11FormWindow::setBorderless() {
    borderless_ = true;
    applyFlags();
}

void X11FormWindow::setStayOnTop() {
    onTop_ = true;
    applyFlags();
}

Rect X11FormWindow::geometry() const {
    const QRect g = window_->geometry();
    return Rect{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
}

void X11FormWindow::setGeometry(const Rect& r) {
    window_->setGeometry(toQRect(r));
    if (state_ == WindowState::Normal) normalGeometry_ = window_->geometry();
}

Size X11FormWindow::clientSize() const {
    const qreal ratio = window_->devicePixelRatio();
    return Size{static_cast<int32_t>(window_->width() * ratio),
                static_cast<int32_t>(window_->height() * ratio)};
}

Size X11FormWindow::screenSize() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return {};
    return Size{screen->geometry().width(), screen->geometry().height()};
}

bool X11FormWindow::hasHandle() const {
    return window_->handle() != nullptr;
}

WindowId X11FormWindow::handle() {
    if (closed_) return 0;
    window_->create();
    watchOwnWindow();
    return static_cast<WindowId>(window_->winId());
}

void X11FormWindow::embedInto(WindowId parent) {
    if (closed_) return;
    parent_ = parent;
    Display* dpy = display_.get();
    const Window id = static_cast<Window>(parent);
    // Watch the parent before checking it, so that it cannot vanish unnoticed in between.
    bool watched = false;
    if (dpy && windowExists(dpy, id)) {
        ErrorTrap trap(dpy);
        XSelectInput(dpy, id, StructureNotifyMask);
        watched = !trap.failed();
    }
    if (!watched || !windowExists(dpy, id)) {
        // Nothing to draw into: the preview ends as soon as the event loop runs.
        parentMissing_ = true;
        QTimer::singleShot(0, this, [this] { windowGone(); });
        return;
    }
    foreign_.reset(QWindow::fromWinId(static_cast<WId>(parent)));
    window_->setFlags(Qt::Widget | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
    window_->setParent(foreign_.get());
    window_->create();
}

intptr_t X11FormWindow::sendMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    // Copied so that a procedure that replaces itself keeps running to its end.
    const WindowProc proc = proc_;
    return proc ? proc(msg, wParam, lParam) : 0;
}

intptr_t X11FormWindow::defaultProc(uint32_t msg, uintptr_t wParam, intptr_t) {
    if (msg != WM_SYSCOMMAND) return 0;
    // The low four bits of a system command are the system's own, as in the default procedure.
    switch (wParam & 0xFFF0) {
    case SC_CLOSE:
        close();
        break;
    case SC_SCREENSAVE:
        saverAllowed_ = true;
        if (display_) {
            XForceScreenSaver(display_.get(), ScreenSaverActive);
            XFlush(display_.get());
        }
        break;
    default:
        break;
    }
    return 0;
}

FrameView X11FormWindow::beginFrame() {
    if (closed_ || !window_->handle() || painting_) return {};
    const Size size = clientSize();
    if (size.width <= 0 || size.height <= 0) return {};
    if (!store_) store_ = std::make_unique<QBackingStore>(window_.get());
    const QSize logical = window_->size();
    if (store_->size() != logical) store_->resize(logical);
    store_->beginPaint(QRegion(QRect(QPoint(0, 0), logical)));
    painting_ = true;
    auto* image = dynamic_cast<QImage*>(store_->paintDevice());
    QImage* target = image;
    if (!image || !is32Bit(*image) || image->width() < size.width ||
        image->height() < size.height) {
        if (!fallback_ || fallback_->size() != QSize(size.width, size.height))
            fallback_ = std::make_unique<QImage>(size.width, size.height, QImage::Format_RGB32);
        target = fallback_.get();
    } else {
        fallback_.reset();
    }
    return FrameView{reinterpret_cast<uint32_t*>(target->bits()), size.width, size.height,
                     static_cast<int32_t>(target->bytesPerLine() / 4)};
}

void X11FormWindow::endFrame() {
    if (!painting_) return;
    painting_ = false;
    QPaintDevice* device = store_->paintDevice();
    if (fallback_) {
        QPainter painter(device);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QRect(QPoint(0, 0), window_->size()), *fallback_);
    }
    // The frame goes out as drawn: its pixels are opaque (see FrameView), so even a backing store
    // with an alpha channel needs no pass over them.
    store_->endPaint();
    store_->flush(QRegion(QRect(QPoint(0, 0), window_->size())));
}

void X11FormWindow::setCursorHidden(bool hidden) {
    cursorHidden_ = hidden;
    if (hidden)
        window_->setCursor(QCursor(Qt::BlankCursor));
    else
        window_->unsetCursor();
}

void X11FormWindow::setSkipTaskbar() {
    skipTaskbar_ = true;
    if (window_->handle()) applySkipTaskbar();
}

void X11FormWindow::onKeyPress(int key, unsigned shift) {
    if (listener_ && !closed_) listener_->keyDown(key, shift);
}

void X11FormWindow::onMousePress(bool doubleClick) {
    if (!listener_ || closed_) return;
    if (doubleClick)
        listener_->doubleClick();
    else
        listener_->click();
}

void X11FormWindow::onMouseMove(unsigned shift, int x, int y) {
    if (listener_ && !closed_) listener_->mouseMove(shift, x, y);
}

void X11FormWindow::onExposed() {
    if (closed_) return;
    if (!store_) {
        // Until the first frame the form shows its black background.
        if (FrameView f = beginFrame(); f.pixels) {
            for (int32_t y = 0; y < f.height; ++y) {
                std::span<uint32_t> row(f.pixels + static_cast<ptrdiff_t>(y) * f.stride,
                                        static_cast<size_t>(f.width));
                std::fill(row.begin(), row.end(), 0xFF000000u);
            }
            endFrame();
        }
    } else if (!painting_) {
        store_->flush(QRegion(QRect(QPoint(0, 0), window_->size())));
    }
    grabInput();
}

void X11FormWindow::onClosed() {
    if (closed_) return;
    closed_ = true;
    painting_ = false;
    store_.reset();
    if (listener_) listener_->closed();
    if (quitOnClose_) {
        // Queued, so that a close before the event loop runs still ends it once it starts.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    }
}

void X11FormWindow::applyFlags() {
    if (parent_) return;
    Qt::WindowFlags flags = Qt::Window;
    if (borderless_) flags |= Qt::FramelessWindowHint;
    if (onTop_) flags |= Qt::WindowStaysOnTopHint;
    window_->setFlags(flags);
}

void X11FormWindow::applyMaximizedGeometry() {
    const QRect all = virtualDesktop();
    if (all.isValid()) window_->setGeometry(all);
}

void X11FormWindow::applySkipTaskbar() {
    Display* dpy = display_.get();
    if (!skipTaskbar_ || !dpy || !window_->handle()) return;
    const Window id = static_cast<Window>(window_->winId());
    const Atom taskbar = atom(dpy, "_NET_WM_STATE_SKIP_TASKBAR");
    const Atom pager = atom(dpy, "_NET_WM_STATE_SKIP_PAGER");
    if (window_->isVisible() && wmSupports(dpy, "_NET_WM_STATE")) {
        // A mapped window's state belongs to the window manager: ask it.
        sendRootMessage(dpy, id, "_NET_WM_STATE", 1, static_cast<long>(taskbar),
                        static_cast<long>(pager), 1);
    } else {
        // Before mapping the window manager reads the property (Qt keeps what is there).
        ErrorTrap trap(dpy);
        const Atom atoms[] = {taskbar, pager};
        XChangeProperty(dpy, id, atom(dpy, "_NET_WM_STATE"), XA_ATOM, 32, PropModeAppend,
                        reinterpret_cast<const unsigned char*>(atoms), 2);
    }
}

void X11FormWindow::grabInput() {
    // The full-screen saver (maximised and on top) takes all keyboard and pointer input.
    if (grabbed_ || parent_ || !onTop_ || state_ != WindowState::Maximized || !window_->isVisible())
        return;
    const bool keyboard = window_->setKeyboardGrabEnabled(true);
    const bool mouse = window_->setMouseGrabEnabled(true);
    grabbed_ = keyboard && mouse;
    if (!grabbed_) QTimer::singleShot(100, this, [this] { grabInput(); });
}

void X11FormWindow::readX11Events() {
    Display* dpy = display_.get();
    if (!dpy) return;
    while (XPending(dpy) > 0) {
        XEvent event;
        XNextEvent(dpy, &event);
        if (event.type == DestroyNotify &&
            ((parent_ && event.xdestroywindow.window == static_cast<Window>(parent_)) ||
             event.xdestroywindow.window == watched_)) {
            windowGone();
        } else if (saverEventBase_ >= 0 && event.type == saverEventBase_ + ScreenSaverNotify) {
            const auto& notify = reinterpret_cast<const XScreenSaverNotifyEvent&>(event);
            if (notify.state == ScreenSaverOn && !saverActive_)
                onScreenSaverActivated();
            else if (notify.state != ScreenSaverOn)
                saverActive_ = false;
        }
    }
}

void X11FormWindow::onScreenSaverActivated() {
    // The server's saver wants to start: ask the window procedure, as the system asks a window.
    if (closed_) return;
    saverAllowed_ = false;
    sendMessage(WM_SYSCOMMAND, SC_SCREENSAVE, 0);
    saverActive_ = saverAllowed_;
    if (!saverAllowed_ && display_) {
        XResetScreenSaver(display_.get());
        XFlush(display_.get());
    }
}

void X11FormWindow::watchOwnWindow() {
    // Another client may destroy the window (xkill does): that closes the form too.
    const auto id = static_cast<unsigned long>(window_->winId());
    if (!display_ || id == watched_) return;
    ErrorTrap trap(display_.get());
    XSelectInput(display_.get(), id, StructureNotifyMask);
    watched_ = id;
}

void X11FormWindow::windowGone() {
    if (closed_) return;
    // Our window is gone (with its parent, or destroyed by another client); Qt's requests on it can
    // only fail now, and say so loudly.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.qpa.xcb=false"));
    onClosed();
    if (window_->handle()) window_->destroy();
}

} // namespace tarnwick::platform::x11
