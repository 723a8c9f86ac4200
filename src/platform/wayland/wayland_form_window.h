#pragma once
// The saver form's window on Wayland: full screen, one surface per output (a layer-shell overlay
// where the compositor has one, a fullscreen toplevel elsewhere), each showing its own part of one
// frame drawn straight into memory shared with the compositor; otherwise one plain toplevel.
#include "platform/wayland/frame_layout.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/window.h"

#include <QObject>

#include <array>
#include <chrono>
#include <memory>
#include <vector>

struct wl_buffer;
struct wl_callback;
struct wl_keyboard;
struct wl_pointer;
struct wl_surface;
struct xdg_surface;
struct xdg_toplevel;
struct zwlr_layer_surface_v1;

namespace tarnwick::platform::wayland {

class ShmPool;

class WaylandFormWindow final : public QObject, public FormWindow {
public:
    explicit WaylandFormWindow(Connection& connection);
    ~WaylandFormWindow() override;

    void setListener(InputListener* listener) override { listener_ = listener; }
    void setTitle(const std::string& title) override { title_ = title; }

    bool visible() const override { return shown_ && !closed_; }
    void show() override;
    void close() override;

    WindowState windowState() const override { return state_; }
    void setWindowState(WindowState state) override { state_ = state; }
    // A layer surface or a fullscreen toplevel has no border; a plain window's border is the
    // compositor's.
    void setBorderless() override {}
    // Maximised and on top is the full-screen saver: it covers every output.
    void setStayOnTop() override { onTop_ = true; }
    Rect geometry() const override;
    void setGeometry(const Rect& r) override;
    Size clientSize() const override;
    Size screenSize() const override;

    bool hasHandle() const override { return handleMade_ && !closed_; }
    WindowId handle() override;
    // Wayland gives a client no way to name, let alone enter, another client's window: the form
    // stays a window of its own.
    void embedInto(WindowId) override {}

    WindowProc windowProc() const override { return proc_; }
    void setWindowProc(WindowProc proc) override { proc_ = std::move(proc); }
    intptr_t sendMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

    FrameView beginFrame() override;
    void endFrame() override;

    void setCursorHidden(bool hidden) { cursorHidden_ = hidden; }
    bool cursorHidden() const { return cursorHidden_; }
    void setQuitOnClose(bool quit) { quitOnClose_ = quit; }
    // How many surfaces show the form (one per output when full screen).
    size_t surfaceCount() const { return surfaces_.size(); }
    bool usesLayerShell() const;

    struct Surface;
    struct Buffer {
        Surface* surface = nullptr;
        wl_buffer* buffer = nullptr;
        bool held = false; // attached and not yet released by the compositor
    };
    struct Surface {
        WaylandFormWindow* owner = nullptr;
        uint32_t outputName = 0; // 0 for the plain window
        wl_output* output = nullptr;
        wl_surface* surface = nullptr;
        zwlr_layer_surface_v1* layer = nullptr;
        xdg_surface* xdgSurface = nullptr;
        xdg_toplevel* toplevel = nullptr;
        int32_t width = 0, height = 0;               // configured, logical
        int32_t pendingWidth = 0, pendingHeight = 0; // a toplevel's size before its configure ends
        bool configured = false;
        int32_t bufferScale = 1;
        wl_callback* frameCallback = nullptr;
        std::chrono::steady_clock::time_point frameAsked;
        std::array<Buffer, 2> buffers;
    };

    // Called by the protocol listeners.
    void onConfigured(Surface& s, int32_t width, int32_t height);
    void onSurfaceClosed(Surface& s);
    void onFrameDone(Surface& s);
    void onBufferReleased(Buffer& b);
    void onKey(uint32_t key, bool pressed);
    void onModifiers(uint32_t depressed);
    void onPointerEnter(wl_surface* surface, uint32_t serial, double x, double y);
    void onPointerMotion(double x, double y);
    void onButton(bool pressed);
    void onSeatCapabilities(uint32_t caps);
    void onSyncDone(uint32_t outputName);

private:
    intptr_t defaultProc(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    void createSurfaces();
    void addSurface(Output* output);
    void destroySurface(Surface& s);
    void removeSurface(Surface* s);
    void onOutputChanged(Output& output);
    void onOutputRemoved(Output& output);
    std::vector<OutputPlace> places() const;
    void relayout();
    bool allConfigured() const;
    void destroyBuffers();
    void showFirstFrame();
    void finish();

    Connection& connection_;
    InputListener* listener_ = nullptr;
    WindowProc proc_;
    std::string title_;
    WindowState state_ = WindowState::Normal;
    Rect geometry_{0, 0, 640, 480};
    bool shown_ = false;
    bool closed_ = false;
    bool handleMade_ = false;
    bool fullScreen_ = false;
    bool onTop_ = false;
    bool cursorHidden_ = false;
    bool quitOnClose_ = true;
    bool painting_ = false;
    bool mapped_ = false; // a frame went out since the last change of layout

    std::vector<std::unique_ptr<Surface>> surfaces_;
    FrameLayout layout_;
    std::unique_ptr<ShmPool> pool_;
    size_t frameBytes_ = 0;
    int slot_ = 0; // the slot being drawn or last drawn

    wl_keyboard* keyboard_ = nullptr;
    wl_pointer* pointer_ = nullptr;
    Surface* pointerSurface_ = nullptr;
    unsigned shift_ = 0;
    unsigned buttons_ = 0;
};

} // namespace tarnwick::platform::wayland
