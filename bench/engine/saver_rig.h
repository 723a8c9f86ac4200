#pragma once
// What the saver benchmarks on a real X server share: the program's platform with the real window,
// screen and store file (sound and password library faked), a frame counter on the window, a store
// written through the settings code, and the spread of repeated timings.
#include "engine/scrsavermain.h"
#include "fakes/fake_sound.h"
#include "fakes/fakes.h"
#include "platform/form_window_proxy.h"
#include "platform/posix/file_registry.h"
#include "platform/posix/posix_files.h"
#include "platform/x11/x11_platform.h"
#include "platform/x11/x11_screen.h"
#include "settings/reg_access.h"
#include "settings/settings_names.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <time.h>
#include <utility>
#include <vector>

namespace tarnwick::bench {

using Clock = std::chrono::steady_clock;

inline double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The calling thread's CPU time: what a stage cost when other programs share the cores.
inline double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Passes everything to the real window and counts the frames it shows.
class CountingWindow : public platform::FormWindowProxy {
public:
    using FormWindowProxy::FormWindowProxy;
    long frames = 0;
    void endFrame() override {
        inner_.endFrame();
        ++frames;
    }
};

// A fresh folder under /tmp, removed with everything in it.
class BenchDir {
public:
    explicit BenchDir(const std::string& tag) {
        std::string pattern = "/tmp/tarnwick-" + tag + "-XXXXXX";
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create " + pattern);
        path_ = pattern;
    }
    ~BenchDir() { std::filesystem::remove_all(path_); }
    BenchDir(const BenchDir&) = delete;
    BenchDir& operator=(const BenchDir&) = delete;
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The saver's settings section with `values`, and the picture list when `pictures` is not empty,
// in one replacement of the store.
inline void writeSaverStore(platform::Registry& store,
                            const std::vector<std::pair<const char*, std::string>>& values,
                            const std::vector<std::string>& pictures = {}) {
    const std::string root = std::string("\\") + kSaverSettingsKey;
    RegistryAccess reg(store);
    RegistryUpdate update(reg);
    reg.createKey(root + "\\" + kSettingsSection);
    reg.openKey(root + "\\" + kSettingsSection, false);
    for (const auto& [name, value] : values) reg.writeString(name, value);
    if (!pictures.empty()) {
        reg.createKey(root + "\\" + kPictureListKey);
        reg.openKey(root + "\\" + kPictureListKey, false);
        reg.writeString(kListCountValue, std::to_string(pictures.size()));
        for (size_t i = 0; i < pictures.size(); ++i)
            reg.writeString(kListItemPrefix + std::to_string(i), pictures[i]);
    }
    update.commit();
}

// The program entry's platform on the X server of $DISPLAY. A Qt application object must exist
// first and outlive the rig.
struct X11SaverRig {
    explicit X11SaverRig(const std::string& storePath)
        : real(platform::createFormWindow()), window(*real),
          windows(platform::createWindowSystem(*real)),
          saverState(platform::createSystemSaverState()), registry(storePath) {}

    FormServices services(std::vector<std::string> args) {
        return FormServices{platform, window, std::move(args), [] {}, {}, {}};
    }

    std::unique_ptr<platform::FormWindow> real;
    CountingWindow window;
    std::unique_ptr<platform::WindowSystem> windows;
    std::unique_ptr<platform::SystemSaverState> saverState;
    platform::x11::X11Screen screen;
    fakes::FakeSoundPlayer sound;
    fakes::FakePasswordLibrary passwords;
    platform::FileRegistry registry;
    platform::PosixFileSystem files;
    platform::Platform platform{*windows, *saverState, screen, sound, passwords, registry, files};
};

struct Spread {
    double median = 0, min = 0, max = 0;
};

inline Spread spreadOf(std::vector<double> v) {
    if (v.empty()) return {};
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    const double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    return {median, v.front(), v.back()};
}

} // namespace tarnwick::bench
