#include "platform/wayland/wayland_form_window.h"

#include "platform/error.h"
#include "platform/wayland/shm_pool.h"
#include "platform/wayland/wayland_keys.h"

#include "layer-shell-client.h"
#include "xdg-shell-client.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <wayland-client.h>

#include <algorithm>
#include <linux/input-event-codes.h>
#include <unistd.h>

namespace tarnwick::platform::wayland {

using Surface = WaylandFormWindow::Surface;
using Buffer = WaylandFormWindow::Buffer;

namespace {

// A frame asked for and not answered within this time is taken as lost (an output switched off
// answers none), so drawing goes on at a slow pace instead of stopping for good.
constexpr std::chrono::milliseconds kFrameWait{500};

Surface& surfaceOf(void* data) {
    return *static_cast<Surface*>(data);
}

void layerConfigure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t width,
                    uint32_t height) {
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    Surface& s = surfaceOf(data);
    s.owner->onConfigured(s, static_cast<int32_t>(width), static_cast<int32_t>(height));
}

void layerClosed(void* data, zwlr_layer_surface_v1*) {
    Surface& s = surfaceOf(data);
    s.owner->onSurfaceClosed(s);
}

const zwlr_layer_surface_v1_listener kLayerListener = {layerConfigure, layerClosed};

void xdgSurfaceConfigure(void* data, xdg_surface* surface, uint32_t serial) {
    xdg_surface_ack_configure(surface, serial);
    Surface& s = surfaceOf(data);
    s.owner->onConfigured(s, s.pendingWidth, s.pendingHeight);
}

const xdg_surface_listener kXdgSurfaceListener = {xdgSurfaceConfigure};

void toplevelConfigure(void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*) {
    Surface& s = surfaceOf(data);
    s.pendingWidth = width;
    s.pendingHeight = height;
}

void toplevelClose(void* data, xdg_toplevel*) {
    Surface& s = surfaceOf(data);
    s.owner->onSurfaceClosed(s);
}

// Events this program never asks for (later versions) stay null.
const xdg_toplevel_listener kToplevelListener = [] {
    xdg_toplevel_listener l{};
    l.configure = toplevelConfigure;
    l.close = toplevelClose;
    return l;
}();

void frameDone(void* data, wl_callback*, uint32_t) {
    Surface& s = surfaceOf(data);
    s.owner->onFrameDone(s);
}

const wl_callback_listener kFrameListener = {frameDone};

void bufferRelease(void* data, wl_buffer*) {
    Buffer& b = *static_cast<Buffer*>(data);
    b.surface->owner->onBufferReleased(b);
}

const wl_buffer_listener kBufferListener = {bufferRelease};

WaylandFormWindow& windowOf(void* data) {
    return *static_cast<WaylandFormWindow*>(data);
}

void keyboardKeymap(void*, wl_keyboard*, uint32_t, int32_t fd, uint32_t) {
    // Any key ends the saver: the keymap is not needed, only its descriptor closed.
    ::close(fd);
}
void keyboardEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void keyboardLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
void keyboardKey(void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t key, uint32_t state) {
    windowOf(data).onKey(key, state == WL_KEYBOARD_KEY_STATE_PRESSED);
}
void keyboardModifiers(void* data, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t, uint32_t,
                       uint32_t) {
    windowOf(data).onModifiers(depressed);
}
// Events this program never asks for (later versions) stay null.
const wl_keyboard_listener kKeyboardListener = [] {
    wl_keyboard_listener l{};
    l.keymap = keyboardKeymap;
    l.enter = keyboardEnter;
    l.leave = keyboardLeave;
    l.key = keyboardKey;
    l.modifiers = keyboardModifiers;
    return l;
}();

void pointerEnter(void* data, wl_pointer*, uint32_t serial, wl_surface* surface, wl_fixed_t x,
                  wl_fixed_t y) {
    windowOf(data).onPointerEnter(surface, serial, wl_fixed_to_double(x), wl_fixed_to_double(y));
}
void pointerLeave(void*, wl_pointer*, uint32_t, wl_surface*) {}
void pointerMotion(void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
    windowOf(data).onPointerMotion(wl_fixed_to_double(x), wl_fixed_to_double(y));
}
void pointerButton(void* data, wl_pointer*, uint32_t, uint32_t, uint32_t button, uint32_t state) {
    (void)button;
    windowOf(data).onButton(state == WL_POINTER_BUTTON_STATE_PRESSED);
}
void pointerAxis(void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {}
// Events this program never asks for (later versions) stay null.
const wl_pointer_listener kPointerListener = [] {
    wl_pointer_listener l{};
    l.enter = pointerEnter;
    l.leave = pointerLeave;
    l.motion = pointerMotion;
    l.button = pointerButton;
    l.axis = pointerAxis;
    return l;
}();

// The output whose removal may explain a surface's closing, carried through a sync.
struct SyncWait {
    WaylandFormWindow* window;
    uint32_t outputName;
};

void syncDone(void* data, wl_callback* callback, uint32_t) {
    std::unique_ptr<SyncWait> wait(static_cast<SyncWait*>(data));
    wl_callback_destroy(callback);
    wait->window->onSyncDone(wait->outputName);
}
const wl_callback_listener kSyncListener = {syncDone};

} // namespace

WaylandFormWindow::WaylandFormWindow(Connection& connection) : connection_(connection) {
    proc_ = [this](uint32_t msg, uintptr_t wParam, intptr_t lParam) {
        return defaultProc(msg, wParam, lParam);
    };
    connection_.outputChanged = [this](Output& o) { onOutputChanged(o); };
    connection_.outputRemoved = [this](Output& o) { onOutputRemoved(o); };
    connection_.connectionLost = [this] { finish(); };
}

WaylandFormWindow::~WaylandFormWindow() {
    connection_.outputChanged = nullptr;
    connection_.outputRemoved = nullptr;
    connection_.connectionLost = nullptr;
    connection_.seatChanged = nullptr;
    for (auto& s : surfaces_) destroySurface(*s);
    surfaces_.clear();
    pool_.reset();
    if (keyboard_) wl_keyboard_destroy(keyboard_);
    if (pointer_) wl_pointer_destroy(pointer_);
    connection_.flush();
}

bool WaylandFormWindow::usesLayerShell() const {
    return connection_.layerShell() != nullptr;
}

std::vector<OutputPlace> WaylandFormWindow::places() const {
    std::vector<OutputPlace> result;
    if (fullScreen_) {
        for (const auto& s : surfaces_) {
            const auto outputs = connection_.outputs();
            auto it = std::find_if(outputs.begin(), outputs.end(),
                                   [&](const Output* o) { return o->name == s->outputName; });
            if (it == outputs.end()) continue;
            const Output& o = **it;
            result.push_back({o.x, o.y, s->configured ? s->width : o.width,
                              s->configured ? s->height : o.height, o.scale});
        }
    } else if (!shown_ && state_ == WindowState::Maximized && onTop_) {
        // Not on screen yet: the form will cover every output.
        for (const Output* o : connection_.outputs())
            result.push_back({o->x, o->y, o->width, o->height, o->scale});
    } else {
        const auto& s = surfaces_;
        const int32_t w = !s.empty() && s[0]->configured ? s[0]->width : geometry_.width();
        const int32_t h = !s.empty() && s[0]->configured ? s[0]->height : geometry_.height();
        result.push_back({0, 0, std::max(1, w), std::max(1, h), 1});
    }
    return result;
}

Rect WaylandFormWindow::geometry() const {
    if (fullScreen_ || (!shown_ && state_ == WindowState::Maximized && onTop_)) {
        const FrameLayout layout = layoutFrame(places());
        const int32_t s = layout.scale;
        return {layout.logical.left * s, layout.logical.top * s,
                layout.logical.left * s + layout.size.width,
                layout.logical.top * s + layout.size.height};
    }
    return geometry_;
}

void WaylandFormWindow::setGeometry(const Rect& r) {
    geometry_ = r;
}

Size WaylandFormWindow::clientSize() const {
    if (!surfaces_.empty() && layout_.size.width > 0) return layout_.size;
    return layoutFrame(places()).size;
}

Size WaylandFormWindow::screenSize() const {
    const auto outputs = connection_.outputs();
    if (outputs.empty()) return {};
    const Output& o = *outputs.front();
    return {o.width * o.scale, o.height * o.scale};
}

WindowId WaylandFormWindow::handle() {
    if (closed_) return 0;
    // Wayland gives clients no window ids: a stand-in, for the calls that only ask for one.
    handleMade_ = true;
    return 1;
}

intptr_t WaylandFormWindow::sendMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    const WindowProc proc = proc_;
    return proc ? proc(msg, wParam, lParam) : 0;
}

intptr_t WaylandFormWindow::defaultProc(uint32_t msg, uintptr_t wParam, intptr_t) {
    // Wayland has no saver of its own to start (SC_SCREENSAVE): only a close request acts.
    if (msg == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) close();
    return 0;
}

void WaylandFormWindow::show() {
    if (closed_ || shown_) return;
    // A minimised form (the password request) has nothing to show.
    if (state_ == WindowState::Minimized) return;
    shown_ = true;
    handleMade_ = true;
    fullScreen_ = state_ == WindowState::Maximized && onTop_;
    connection_.seatChanged = [this](uint32_t caps) { onSeatCapabilities(caps); };
    onSeatCapabilities(connection_.seatCapabilities());
    createSurfaces();
    connection_.flush();
}

void WaylandFormWindow::createSurfaces() {
    if (!fullScreen_) {
        addSurface(nullptr);
        return;
    }
    for (Output* o : connection_.outputs()) addSurface(o);
}

void WaylandFormWindow::addSurface(Output* output) {
    auto s = std::make_unique<Surface>();
    s->owner = this;
    s->outputName = output ? output->name : 0;
    s->output = output ? output->output : nullptr;
    for (Buffer& b : s->buffers) b.surface = s.get();
    s->surface = wl_compositor_create_surface(connection_.compositor());
    if (fullScreen_ && connection_.layerShell()) {
        s->layer =
            zwlr_layer_shell_v1_get_layer_surface(connection_.layerShell(), s->surface, s->output,
                                                  ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "tarnwick");
        zwlr_layer_surface_v1_add_listener(s->layer, &kLayerListener, s.get());
        zwlr_layer_surface_v1_set_anchor(
            s->layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                          ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_size(s->layer, 0, 0);
        // -1: over panels and bars too, not beside them.
        zwlr_layer_surface_v1_set_exclusive_zone(s->layer, -1);
        zwlr_layer_surface_v1_set_keyboard_interactivity(s->layer, 1 /* exclusive */);
    } else if (connection_.wmBase()) {
        s->xdgSurface = xdg_wm_base_get_xdg_surface(connection_.wmBase(), s->surface);
        xdg_surface_add_listener(s->xdgSurface, &kXdgSurfaceListener, s.get());
        s->toplevel = xdg_surface_get_toplevel(s->xdgSurface);
        xdg_toplevel_add_listener(s->toplevel, &kToplevelListener, s.get());
        xdg_toplevel_set_title(s->toplevel, title_.c_str());
        xdg_toplevel_set_app_id(s->toplevel, "tarnwick");
        if (fullScreen_)
            xdg_toplevel_set_fullscreen(s->toplevel, s->output);
        else if (state_ == WindowState::Maximized)
            xdg_toplevel_set_maximized(s->toplevel);
    } else {
        wl_surface_destroy(s->surface);
        throw Error("The Wayland compositor offers no way to show a window");
    }
    // The first commit carries no buffer: the compositor answers with the size to draw.
    wl_surface_commit(s->surface);
    surfaces_.push_back(std::move(s));
    mapped_ = false;
}

void WaylandFormWindow::destroySurface(Surface& s) {
    for (Buffer& b : s.buffers)
        if (b.buffer) {
            wl_buffer_destroy(b.buffer);
            b = Buffer{&s, nullptr, false};
        }
    if (s.frameCallback) wl_callback_destroy(s.frameCallback);
    s.frameCallback = nullptr;
    if (pointerSurface_ == &s) pointerSurface_ = nullptr;
    if (s.layer) zwlr_layer_surface_v1_destroy(s.layer);
    if (s.toplevel) xdg_toplevel_destroy(s.toplevel);
    if (s.xdgSurface) xdg_surface_destroy(s.xdgSurface);
    if (s.surface) wl_surface_destroy(s.surface);
    s.layer = nullptr;
    s.toplevel = nullptr;
    s.xdgSurface = nullptr;
    s.surface = nullptr;
}

void WaylandFormWindow::removeSurface(Surface* s) {
    auto it = std::find_if(surfaces_.begin(), surfaces_.end(),
                           [s](const auto& p) { return p.get() == s; });
    if (it == surfaces_.end()) return;
    destroySurface(**it);
    surfaces_.erase(it);
    relayout();
}

void WaylandFormWindow::onOutputChanged(Output& output) {
    if (!shown_ || closed_ || !fullScreen_) return;
    const bool known = std::any_of(surfaces_.begin(), surfaces_.end(),
                                   [&](const auto& s) { return s->outputName == output.name; });
    if (!known)
        addSurface(&output);
    else
        relayout();
    connection_.flush();
}

void WaylandFormWindow::onOutputRemoved(Output& output) {
    for (auto& s : surfaces_)
        if (s->outputName == output.name) {
            removeSurface(s.get());
            break;
        }
}

void WaylandFormWindow::onConfigured(Surface& s, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) {
        // The compositor leaves the size to us.
        const auto outputs = connection_.outputs();
        auto it = std::find_if(outputs.begin(), outputs.end(),
                               [&](const Output* o) { return o->name == s.outputName; });
        if (fullScreen_ && it != outputs.end()) {
            width = (*it)->width;
            height = (*it)->height;
        } else {
            width = std::max(1, geometry_.width());
            height = std::max(1, geometry_.height());
        }
    }
    const bool changed = !s.configured || width != s.width || height != s.height;
    s.configured = true;
    s.width = width;
    s.height = height;
    if (changed) relayout();
    if (allConfigured() && !mapped_) showFirstFrame();
}

bool WaylandFormWindow::allConfigured() const {
    return !surfaces_.empty() && std::all_of(surfaces_.begin(), surfaces_.end(),
                                             [](const auto& s) { return s->configured; });
}

void WaylandFormWindow::destroyBuffers() {
    for (auto& s : surfaces_)
        for (Buffer& b : s->buffers)
            if (b.buffer) {
                wl_buffer_destroy(b.buffer);
                b = Buffer{s.get(), nullptr, false};
            }
}

void WaylandFormWindow::relayout() {
    if (painting_) return;
    const std::vector<OutputPlace> p = places();
    FrameLayout layout = layoutFrame(p);
    const bool sameFrame = pool_ && layout.size == layout_.size;
    destroyBuffers();
    layout_ = std::move(layout);
    mapped_ = false;
    if (sameFrame || layout_.size.width <= 0 || layout_.size.height <= 0) return;
    pool_.reset();
    frameBytes_ = size_t(layout_.size.width) * size_t(layout_.size.height) * 4;
    // Two frames: one with the compositor while the next is drawn. The compositor counts a
    // buffer's every row at full stride, so a part at the right edge reaches one row minus its
    // width past its frame.
    pool_ = std::make_unique<ShmPool>(connection_.shm(),
                                      2 * frameBytes_ + size_t(layout_.size.width) * 4);
}

void WaylandFormWindow::showFirstFrame() {
    // Until the first tick the form shows black (new shared memory is zero-filled).
    if (const FrameView f = beginFrame(); f.pixels) {
        for (int32_t y = 0; y < f.height; ++y)
            std::fill_n(f.pixels + std::ptrdiff_t{y} * f.stride, f.width, 0xFF000000u);
        endFrame();
    }
}

FrameView WaylandFormWindow::beginFrame() {
    if (closed_ || !shown_ || painting_ || !pool_ || !allConfigured()) return {};
    if (surfaces_.size() != layout_.parts.size()) return {};
    const auto now = std::chrono::steady_clock::now();
    // Paced by the compositor: while it has not shown the last frame, a new one would be wasted.
    for (const auto& s : surfaces_)
        if (s->frameCallback && now - s->frameAsked < kFrameWait) return {};
    // The slot not drawn last, unless the compositor still reads it.
    const auto slotFree = [&](int slot) {
        return std::none_of(surfaces_.begin(), surfaces_.end(), [&](const auto& s) {
            return s->buffers[static_cast<size_t>(slot)].held;
        });
    };
    int slot = 1 - slot_;
    if (!slotFree(slot)) {
        if (!slotFree(slot_)) return {};
        slot = slot_;
    }
    slot_ = slot;
    painting_ = true;
    auto* pixels = reinterpret_cast<uint32_t*>(pool_->data() + size_t(slot) * frameBytes_);
    return FrameView{pixels, layout_.size.width, layout_.size.height, layout_.size.width};
}

void WaylandFormWindow::endFrame() {
    if (!painting_) return;
    painting_ = false;
    const int32_t stride = layout_.size.width * 4;
    const auto now = std::chrono::steady_clock::now();
    for (size_t i = 0; i < surfaces_.size(); ++i) {
        Surface& s = *surfaces_[i];
        const Rect& part = layout_.parts[i];
        Buffer& b = s.buffers[static_cast<size_t>(slot_)];
        if (!b.buffer) {
            const size_t offset =
                size_t(slot_) * frameBytes_ +
                (size_t(part.top) * size_t(layout_.size.width) + size_t(part.left)) * 4;
            b.buffer = pool_->createBuffer(offset, part.width(), part.height(), stride);
            wl_buffer_add_listener(b.buffer, &kBufferListener, &b);
        }
        if (s.bufferScale != layout_.scale && connection_.compositorVersion() >= 3) {
            wl_surface_set_buffer_scale(s.surface, layout_.scale);
            s.bufferScale = layout_.scale;
        }
        wl_surface_attach(s.surface, b.buffer, 0, 0);
        if (connection_.compositorVersion() >= 4)
            wl_surface_damage_buffer(s.surface, 0, 0, part.width(), part.height());
        else
            wl_surface_damage(s.surface, 0, 0, s.width, s.height);
        if (s.frameCallback) wl_callback_destroy(s.frameCallback);
        s.frameCallback = wl_surface_frame(s.surface);
        wl_callback_add_listener(s.frameCallback, &kFrameListener, &s);
        s.frameAsked = now;
        wl_surface_commit(s.surface);
        b.held = true;
    }
    mapped_ = true;
    connection_.flush();
}

void WaylandFormWindow::onFrameDone(Surface& s) {
    if (s.frameCallback) wl_callback_destroy(s.frameCallback);
    s.frameCallback = nullptr;
}

void WaylandFormWindow::onBufferReleased(Buffer& b) {
    b.held = false;
}

void WaylandFormWindow::onSurfaceClosed(Surface& s) {
    if (closed_) return;
    if (s.toplevel || !s.outputName) {
        // The user or the compositor closed the window.
        close();
        return;
    }
    // A layer surface is also closed when its output goes: only when the output stays was the
    // surface closed on purpose. Whether it stays is known once the compositor answers a sync.
    const uint32_t name = s.outputName;
    removeSurface(&s);
    wl_callback* sync = wl_display_sync(connection_.display());
    wl_callback_add_listener(sync, &kSyncListener, new SyncWait{this, name});
    connection_.flush();
}

void WaylandFormWindow::onSyncDone(uint32_t outputName) {
    const auto outputs = connection_.outputs();
    if (std::any_of(outputs.begin(), outputs.end(),
                    [&](const Output* o) { return o->name == outputName; }))
        close();
}

void WaylandFormWindow::onSeatCapabilities(uint32_t caps) {
    wl_seat* seat = connection_.seat();
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && !keyboard_) {
        keyboard_ = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(keyboard_, &kKeyboardListener, this);
    } else if (!(caps & WL_SEAT_CAPABILITY_KEYBOARD) && keyboard_) {
        wl_keyboard_destroy(keyboard_);
        keyboard_ = nullptr;
    }
    if ((caps & WL_SEAT_CAPABILITY_POINTER) && !pointer_) {
        pointer_ = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(pointer_, &kPointerListener, this);
    } else if (!(caps & WL_SEAT_CAPABILITY_POINTER) && pointer_) {
        wl_pointer_destroy(pointer_);
        pointer_ = nullptr;
        pointerSurface_ = nullptr;
    }
}

void WaylandFormWindow::onKey(uint32_t key, bool pressed) {
    if (!pressed || closed_ || !listener_) return;
    listener_->keyDown(virtualKeyOf(key), shift_ | buttons_);
}

void WaylandFormWindow::onModifiers(uint32_t depressed) {
    // The usual keymaps' modifier bits: Shift, Control (third), Mod1 (Alt, fourth).
    shift_ = 0;
    if (depressed & 1) shift_ |= ssShift;
    if (depressed & 4) shift_ |= ssCtrl;
    if (depressed & 8) shift_ |= ssAlt;
}

void WaylandFormWindow::onPointerEnter(wl_surface* surface, uint32_t serial, double x, double y) {
    pointerSurface_ = nullptr;
    for (auto& s : surfaces_)
        if (s->surface == surface) pointerSurface_ = s.get();
    if (!pointerSurface_) return;
    // No cursor image on our surfaces hides the cursor.
    if (cursorHidden_ && pointer_) wl_pointer_set_cursor(pointer_, serial, nullptr, 0, 0);
    onPointerMotion(x, y);
}

void WaylandFormWindow::onPointerMotion(double x, double y) {
    if (!pointerSurface_ || closed_ || !listener_) return;
    // Surface coordinates are logical: into the frame's pixels, offset by the output's part.
    size_t index = 0;
    while (index < surfaces_.size() && surfaces_[index].get() != pointerSurface_) ++index;
    if (index >= layout_.parts.size()) return;
    const Rect& part = layout_.parts[index];
    listener_->mouseMove(shift_ | buttons_, part.left + static_cast<int32_t>(x * layout_.scale),
                         part.top + static_cast<int32_t>(y * layout_.scale));
}

void WaylandFormWindow::onButton(bool pressed) {
    if (!pressed || closed_ || !listener_) return;
    listener_->click();
}

void WaylandFormWindow::close() {
    if (closed_) return;
    finish();
}

void WaylandFormWindow::finish() {
    if (closed_) return;
    closed_ = true;
    painting_ = false;
    for (auto& s : surfaces_) destroySurface(*s);
    surfaces_.clear();
    if (!connection_.broken()) connection_.flush();
    if (listener_) listener_->closed();
    if (quitOnClose_) {
        // Queued, so that a close before the event loop runs still ends it once it starts.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    }
}

} // namespace tarnwick::platform::wayland
