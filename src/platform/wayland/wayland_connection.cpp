#include "platform/wayland/wayland_connection.h"

#include "layer-shell-client.h"
#include "screencopy-client.h"
#include "xdg-output-client.h"
#include "xdg-shell-client.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>

namespace tarnwick::platform::wayland {

namespace {

Connection& owner(void* data) {
    return *static_cast<Connection*>(data);
}

void registryGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                    uint32_t version) {
    owner(data).onGlobal(registry, name, interface, version);
}

void registryGlobalRemove(void* data, wl_registry*, uint32_t name) {
    owner(data).onGlobalRemove(name);
}

const wl_registry_listener kRegistryListener = {registryGlobal, registryGlobalRemove};

void wmBasePing(void*, xdg_wm_base* base, uint32_t serial) {
    xdg_wm_base_pong(base, serial);
}

const xdg_wm_base_listener kWmBaseListener = {wmBasePing};

void seatCapabilities(void* data, wl_seat*, uint32_t caps) {
    owner(data).onSeatCapabilities(caps);
}
void seatName(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeatListener = {seatCapabilities, seatName};

void outputGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t,
                    const char*, const char*, int32_t transform) {
    Output& o = *static_cast<Output*>(data);
    if (!o.haveLogical) {
        o.x = x;
        o.y = y;
    }
    o.transform = transform;
}

void outputMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
    if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
    Output& o = *static_cast<Output*>(data);
    o.modeWidth = width;
    o.modeHeight = height;
}

void outputDone(void* data, wl_output*) {
    auto& o = *static_cast<Output*>(data);
    o.owner->onOutputDone(o);
}

void outputScale(void* data, wl_output*, int32_t factor) {
    static_cast<Output*>(data)->scale = std::max(1, factor);
}

// Events this program never asks for (later versions) stay null.
const wl_output_listener kOutputListener = [] {
    wl_output_listener l{};
    l.geometry = outputGeometry;
    l.mode = outputMode;
    l.done = outputDone;
    l.scale = outputScale;
    return l;
}();

void xdgOutputPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
    Output& o = *static_cast<Output*>(data);
    o.x = x;
    o.y = y;
    o.haveLogical = true;
}

void xdgOutputSize(void* data, zxdg_output_v1*, int32_t width, int32_t height) {
    Output& o = *static_cast<Output*>(data);
    o.width = width;
    o.height = height;
    o.haveLogical = true;
}

void xdgOutputDone(void* data, zxdg_output_v1*) {
    // Versions before 3 end a description here as well as with wl_output.done.
    auto& o = *static_cast<Output*>(data);
    o.owner->onOutputDone(o);
}

void xdgOutputName(void* data, zxdg_output_v1*, const char* name) {
    static_cast<Output*>(data)->connector = name ? name : "";
}

void xdgOutputDescription(void*, zxdg_output_v1*, const char*) {}

const zxdg_output_v1_listener kXdgOutputListener = {xdgOutputPosition, xdgOutputSize, xdgOutputDone,
                                                    xdgOutputName, xdgOutputDescription};

} // namespace

std::unique_ptr<Connection> Connection::open() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return nullptr;
    std::unique_ptr<Connection> c(new Connection(display));
    // The first round brings the globals, the second the outputs' descriptions.
    if (!c->roundtrip() || !c->roundtrip()) return nullptr;
    if (!c->compositor_ || !c->shm_) return nullptr;
    return c;
}

Connection::Connection(wl_display* display) : display_(display) {
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &kRegistryListener, this);
    notifier_ =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(display_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readEvents(); });
    // Events read while waiting for something else (a roundtrip) sit in the queue with the
    // socket drained, and requests wait in the buffer: both are handled before Qt sleeps.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            dispatchPending();
            flush();
        });
}

Connection::~Connection() {
    notifier_.reset();
    for (auto& o : outputs_) {
        if (o->xdgOutput) zxdg_output_v1_destroy(o->xdgOutput);
        if (o->output) wl_output_destroy(o->output);
    }
    if (outputManager_) zxdg_output_manager_v1_destroy(outputManager_);
    if (screencopy_) zwlr_screencopy_manager_v1_destroy(screencopy_);
    if (layerShell_) zwlr_layer_shell_v1_destroy(layerShell_);
    if (wmBase_) xdg_wm_base_destroy(wmBase_);
    if (seat_) wl_seat_destroy(seat_);
    if (shm_) wl_shm_destroy(shm_);
    if (compositor_) wl_compositor_destroy(compositor_);
    if (registry_) wl_registry_destroy(registry_);
    wl_display_flush(display_);
    wl_display_disconnect(display_);
}

void Connection::onGlobal(wl_registry* registry, uint32_t name, const char* interface,
                          uint32_t version) {
    const auto bind = [&](const wl_interface* iface, uint32_t highest) {
        return wl_registry_bind(registry, name, iface, std::min(version, highest));
    };
    if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        compositorVersion_ = std::min(version, 4u);
        compositor_ = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        shm_ = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !seat_) {
        seat_ = static_cast<wl_seat*>(bind(&wl_seat_interface, 3));
        wl_seat_add_listener(seat_, &kSeatListener, this);
    } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
        layerShell_ = static_cast<zwlr_layer_shell_v1*>(bind(&zwlr_layer_shell_v1_interface, 3));
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
        wmBase_ = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, 1));
        xdg_wm_base_add_listener(wmBase_, &kWmBaseListener, this);
    } else if (std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) == 0) {
        screencopy_ = static_cast<zwlr_screencopy_manager_v1*>(
            bind(&zwlr_screencopy_manager_v1_interface, 1));
    } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0) {
        outputManager_ =
            static_cast<zxdg_output_manager_v1*>(bind(&zxdg_output_manager_v1_interface, 3));
        for (auto& o : outputs_) addXdgOutput(*o);
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto o = std::make_unique<Output>();
        o->name = name;
        o->owner = this;
        o->output = static_cast<wl_output*>(bind(&wl_output_interface, 3));
        wl_output_add_listener(o->output, &kOutputListener, o.get());
        addXdgOutput(*o);
        outputs_.push_back(std::move(o));
    }
}

void Connection::addXdgOutput(Output& o) {
    if (!outputManager_ || o.xdgOutput) return;
    o.xdgOutput = zxdg_output_manager_v1_get_xdg_output(outputManager_, o.output);
    zxdg_output_v1_add_listener(o.xdgOutput, &kXdgOutputListener, &o);
}

void Connection::onGlobalRemove(uint32_t name) {
    auto it = std::find_if(outputs_.begin(), outputs_.end(),
                           [name](const auto& o) { return o->name == name; });
    if (it == outputs_.end()) return;
    std::unique_ptr<Output> gone = std::move(*it);
    outputs_.erase(it);
    if (gone->ready && outputRemoved) outputRemoved(*gone);
    if (gone->xdgOutput) zxdg_output_v1_destroy(gone->xdgOutput);
    wl_output_destroy(gone->output);
}

void Connection::onOutputDone(Output& o) {
    if (!o.haveLogical) {
        // Without xdg-output the logical size follows from the mode, the transform and the scale.
        const bool sideways = (o.transform & 1) != 0;
        o.width = (sideways ? o.modeHeight : o.modeWidth) / std::max(1, o.scale);
        o.height = (sideways ? o.modeWidth : o.modeHeight) / std::max(1, o.scale);
    }
    if (o.width <= 0 || o.height <= 0) return;
    o.ready = true;
    if (outputChanged) outputChanged(o);
}

void Connection::onSeatCapabilities(uint32_t caps) {
    seatCapabilities_ = caps;
    if (seatChanged) seatChanged(caps);
}

std::vector<Output*> Connection::outputs() const {
    std::vector<Output*> ready;
    for (const auto& o : outputs_)
        if (o->ready) ready.push_back(o.get());
    return ready;
}

bool Connection::roundtrip() {
    if (wl_display_roundtrip(display_) < 0) {
        lost();
        return false;
    }
    return true;
}

void Connection::flush() {
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) lost();
}

bool Connection::broken() const {
    return wl_display_get_error(display_) != 0;
}

bool Connection::dispatchFor(int timeoutMs) {
    flush();
    if (wl_display_dispatch_pending(display_) < 0) {
        lost();
        return false;
    }
    while (wl_display_prepare_read(display_) != 0)
        if (wl_display_dispatch_pending(display_) < 0) {
            lost();
            return false;
        }
    pollfd fd{wl_display_get_fd(display_), POLLIN, 0};
    const int ready = poll(&fd, 1, timeoutMs);
    if (ready > 0) {
        if (wl_display_read_events(display_) < 0) {
            lost();
            return false;
        }
    } else {
        wl_display_cancel_read(display_);
    }
    if (wl_display_dispatch_pending(display_) < 0) {
        lost();
        return false;
    }
    return true;
}

void Connection::readEvents() {
    if (wl_display_prepare_read(display_) == 0) {
        if (wl_display_read_events(display_) < 0) {
            lost();
            return;
        }
    }
    dispatchPending();
}

void Connection::dispatchPending() {
    if (lostReported_) return;
    if (wl_display_dispatch_pending(display_) < 0) lost();
}

void Connection::lost() {
    if (lostReported_) return;
    lostReported_ = true;
    notifier_->setEnabled(false);
    if (connectionLost) connectionLost();
}

} // namespace tarnwick::platform::wayland
