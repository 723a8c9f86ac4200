#pragma once
// Helpers for tests that talk to a real X server next to the Qt application under test.
#include "platform/window.h"
#include "platform/x11/x11_display.h"

#include <functional>
#include <string>
#include <vector>

namespace tarnwick::testing {

// Runs Qt's event loop until `done` holds or `timeoutMs` has passed; tells whether it held.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 3000);
void pump(int ms);

// Records what the form window reported.
struct RecordingListener : platform::InputListener {
    struct Key {
        int key;
        unsigned shift;
    };
    std::vector<Key> keys;
    int clicks = 0;
    int doubleClicks = 0;
    std::vector<std::pair<int, int>> moves;
    int closes = 0;

    void keyDown(int key, unsigned shift) override { keys.push_back({key, shift}); }
    void click() override { ++clicks; }
    void doubleClick() override { ++doubleClicks; }
    void mouseMove(unsigned, int x, int y) override { moves.emplace_back(x, y); }
    void closed() override { ++closes; }
};

// A client of the test's own, standing for other programs on the desktop.
class OtherClient {
public:
    OtherClient();
    Display* display() const { return display_.get(); }
    unsigned long root();

    // A mapped top-level window; `title` goes into WM_NAME and/or _NET_WM_NAME.
    unsigned long createWindow(int width, int height, const std::string& wmName = {},
                               const std::string& netWmName = {}, unsigned long parent = 0);
    void destroyWindow(unsigned long window);
    void focus(unsigned long window);
    // Asks the window's owner to close it, as a window manager's close button does.
    void requestClose(unsigned long window);
    bool isViewable(unsigned long window);
    std::vector<unsigned long> children(unsigned long window);
    // Position relative to the parent, and size.
    struct Geometry {
        int x, y, width, height;
    };
    Geometry geometry(unsigned long window);
    // The atom names of an atom-list property.
    std::vector<std::string> atomList(unsigned long window, const char* property);
    // The server's 0xRRGGBB pixel at x, y of the screen.
    uint32_t screenPixel(int x, int y);
    // The 0xRRGGBB pixels of a window, row by row.
    std::vector<uint32_t> windowPixels(unsigned long window);
    // The X server's own screen saver: its state (ScreenSaverOn, Off or Disabled) and timeout.
    int serverSaverState();
    void setServerSaverTimeout(int seconds);
    void forceServerSaver(bool on);
    // True when the pointer's current cursor image has no visible pixel.
    bool cursorInvisible();
    int screenWidth();
    int screenHeight();

private:
    platform::x11::DisplayPtr display_;
};

// Runs a command-line tool to its end and returns its standard output.
std::string runTool(const std::string& program, const std::vector<std::string>& args,
                    int* exitCode = nullptr);

} // namespace tarnwick::testing
