#pragma once
// The program's own connection to the Wayland compositor: the globals it offers, its outputs, and
// its socket read from Qt's event loop.
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct wl_compositor;
struct wl_display;
struct wl_output;
struct wl_registry;
struct wl_seat;
struct wl_shm;
struct xdg_wm_base;
struct zwlr_layer_shell_v1;
struct zwlr_screencopy_manager_v1;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;
class QSocketNotifier;

namespace tarnwick::platform::wayland {

class Connection;

struct Output {
    Connection* owner = nullptr;
    uint32_t name = 0; // the registry's name for it
    wl_output* output = nullptr;
    zxdg_output_v1* xdgOutput = nullptr;
    std::string connector;
    int32_t x = 0, y = 0;          // logical position
    int32_t width = 0, height = 0; // logical size (0 until known)
    int32_t modeWidth = 0, modeHeight = 0;
    int32_t scale = 1;
    int32_t transform = 0;
    bool haveLogical = false; // position and size came from xdg-output
    bool ready = false;       // the compositor has described it completely
};

class Connection final : public QObject {
public:
    // Connects to WAYLAND_DISPLAY; nullptr when there is no compositor to talk to.
    static std::unique_ptr<Connection> open();
    ~Connection() override;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    wl_display* display() const { return display_; }
    wl_compositor* compositor() const { return compositor_; }
    uint32_t compositorVersion() const { return compositorVersion_; }
    wl_shm* shm() const { return shm_; }
    wl_seat* seat() const { return seat_; }
    zwlr_layer_shell_v1* layerShell() const { return layerShell_; }
    xdg_wm_base* wmBase() const { return wmBase_; }
    zwlr_screencopy_manager_v1* screencopy() const { return screencopy_; }

    // The outputs the compositor has fully described, in the order it announced them.
    std::vector<Output*> outputs() const;

    // Sends what is queued and waits until the compositor has answered everything before.
    bool roundtrip();
    void flush();
    // Reads and handles what the compositor sent, waiting at most `timeoutMs`; false when the
    // connection is broken.
    bool dispatchFor(int timeoutMs);
    bool broken() const;

    // Told when an output becomes ready or changes, when one goes away, and when the connection
    // breaks (the compositor ended).
    std::function<void(Output&)> outputChanged;
    std::function<void(Output&)> outputRemoved;
    std::function<void()> connectionLost;
    // The seat's keyboard and pointer (wl_seat capability bits), and who is told of changes.
    uint32_t seatCapabilities() const { return seatCapabilities_; }
    std::function<void(uint32_t)> seatChanged;

    // Called from the protocol listeners.
    void onGlobal(wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
    void onGlobalRemove(uint32_t name);
    void onOutputDone(Output& output);
    void onSeatCapabilities(uint32_t caps);

private:
    explicit Connection(wl_display* display);
    void readEvents();
    void dispatchPending();
    void addXdgOutput(Output& output);
    void lost();

    wl_display* display_;
    wl_registry* registry_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    uint32_t compositorVersion_ = 0;
    wl_shm* shm_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwlr_layer_shell_v1* layerShell_ = nullptr;
    xdg_wm_base* wmBase_ = nullptr;
    zwlr_screencopy_manager_v1* screencopy_ = nullptr;
    zxdg_output_manager_v1* outputManager_ = nullptr;
    std::vector<std::unique_ptr<Output>> outputs_;
    std::unique_ptr<QSocketNotifier> notifier_;
    uint32_t seatCapabilities_ = 0;
    bool lostReported_ = false;
};

} // namespace tarnwick::platform::wayland
