#pragma once
// The XScreenSaver hack's command line, and the settings it overrides for one run.
//
// The daemon's conventions: -root (its window from XSCREENSAVER_WINDOW, else the root window),
// -window-id ID, -window (a window of our own), and the options every hack takes (-display,
// -geometry, -visual, -install, -mono, -pair, -fps, -no-fps, -delay). Options may be written with
// two dashes.
//
// The three numbers the settings panel shows as sliders, and its sounds switch, run at the
// panel's defaults when left out, because the panel leaves a control's option out at its default;
// everything else left out comes from the stored settings.
#include "platform/error.h"
#include "platform/registry.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick::hack {

// A bad command line; the message says which option and why.
class OptionError : public Error {
public:
    using Error::Error;
};

enum class Target { Window, Root, WindowId };

// What a run uses when the option is left out, as in the panel's description: the saver's
// first-run cycle and zoom, the dialog's own refresh (as smooth as the daemon's other hacks)
// and no sounds (none of the other hacks makes a noise).
constexpr int32_t kDefaultCycle = 9000;
constexpr int32_t kDefaultRefresh = 20;
constexpr double kDefaultZoom = 0.75;
constexpr bool kDefaultSounds = false;

// X11's geometry form, [=][WxH][{+-}X{+-}Y]: a size, a position, or both. A negative side counts
// from the right or bottom edge of the screen.
struct WindowGeometry {
    std::optional<int32_t> width, height;
    std::optional<int32_t> x, y;
    bool fromRight = false, fromBottom = false;
    bool operator==(const WindowGeometry&) const = default;
};
std::optional<WindowGeometry> parseGeometry(std::string_view text);

struct HackOptions {
    Target target = Target::Window;
    uint64_t windowId = 0; // with Target::WindowId
    bool verbose = false;
    bool help = false;
    bool addToXScreenSaver = false;         // add the hack to ~/.xscreensaver's list, and stop
    std::optional<WindowGeometry> geometry; // of the window of -window
    bool fps = false;                       // draw the frame-rate overlay
    std::optional<std::string> display;     // X display name
    std::optional<int32_t> cycle;           // milliseconds
    std::optional<int32_t> refresh;         // milliseconds (also from -delay in microseconds)
    std::optional<double> zoom;             // 0.01 to 1 (also from -zoom-percent)
    std::optional<int32_t> path;            // index of sine, zigzag, average, drunken
    std::optional<bool> sounds;
    std::optional<int32_t> desktop; // index of normal, rotate90, ..., blur
    std::optional<std::string> images;
};

// Arguments after the program path. Throws OptionError.
HackOptions parseHackOptions(const std::vector<std::string>& args);

// An X window id: decimal or 0x-hexadecimal, nonzero, at most 32 bits.
std::optional<uint64_t> parseWindowId(std::string_view text);

// The usage text printed for -help and after an option error.
std::string usageText(const char* program);

// Stored values (name, text) of the settings section that the options replace: always the three
// numbers, the rest when given. The picture list is not among them: it comes from a folder search
// (see pictureListOverrides).
std::vector<std::pair<std::string, std::string>> sectionOverrides(const HackOptions& options);
// The values (Count, Item0, ...) of the picture list key for `pictures`.
std::vector<std::pair<std::string, std::string>>
pictureListOverrides(const std::vector<std::string>& pictures);

// A store for one run: reads see `overrides` over the values written during the run, over the
// real store; writes stay in memory for the run and never reach the real store.
class RunOnlyRegistry : public platform::Registry {
public:
    // Key paths as in platform::Registry; value texts become REG_SZ values.
    using Values = std::map<std::string, std::vector<std::pair<std::string, std::string>>>;
    RunOnlyRegistry(platform::Registry& store, const Values& overrides);

    std::unique_ptr<platform::RegistryReader> read() override;
    std::unique_ptr<platform::RegistryWriter> write() override;

    // A layer of keys and values, addressed by upper-cased normalised paths and names.
    struct Layer {
        std::map<std::string, std::string> keys; // normalised path -> path as written
        std::map<std::pair<std::string, std::string>, std::pair<std::string, platform::RegValue>>
            values; // (path, NAME) -> (name as written, value)
        void addKey(std::string_view path);
        bool hasKey(const std::string& normalised) const;
    };

private:
    platform::Registry& store_;
    Layer overrides_;
    Layer session_; // what the run wrote
};

} // namespace tarnwick::hack
