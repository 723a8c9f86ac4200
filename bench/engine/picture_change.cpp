// The saver full screen (real window, screen, store file and thread timers) while the picture
// changes, with the next picture decoded ahead on the worker and, as the anchor in the same run,
// decoded by the cycle tick itself (the file stamps hidden, so nothing is prepared):
//  1. the frames' timestamps from the window around each picture change (a 12-megapixel JPEG);
//  2. a key press (sent by xdotool) while a large JPEG is being prepared: from the key event to
//     the closed window, and to the form's end (which stops the preparation).
// Usage: bench_picture_change [CHANGES] [LARGE_SIDE] [progressive]   (under scripts/with-xvfb;
// needs cjpeg and xdotool). bench_picture_change --make-jpeg W H baseline|progressive FILE only
// writes a large test picture.
#include "photo_jpeg.h"
#include "saver_rig.h"

#include <QGuiApplication>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using namespace tarnwick;
using bench::Clock;

// The files as the program sees them, but without stamps: nothing is decoded ahead.
class StamplessFiles final : public platform::FileSystem {
public:
    explicit StamplessFiles(platform::FileSystem& inner) : inner_(inner) {}
    bool fileExists(const std::string& p) override { return inner_.fileExists(p); }
    std::optional<platform::FileStamp> fileStamp(const std::string&) override {
        return std::nullopt;
    }
    bool folderExists(const std::string& p) override { return inner_.folderExists(p); }
    std::unique_ptr<platform::FolderEnumeration> openFolder(const std::string& p) override {
        return inner_.openFolder(p);
    }

private:
    platform::FileSystem& inner_;
};

// The real window with the time of every frame shown, of the key event and of the close.
class TimedWindow final : public platform::FormWindowProxy, private platform::InputListener {
public:
    using FormWindowProxy::FormWindowProxy;
    std::vector<Clock::time_point> frames;
    std::optional<Clock::time_point> keyAt, closedAt;

    void endFrame() override {
        inner_.endFrame();
        frames.push_back(Clock::now());
    }
    void close() override {
        if (!closedAt) closedAt = Clock::now();
        inner_.close();
    }
    void setListener(platform::InputListener* l) override {
        form_ = l;
        inner_.setListener(l ? this : nullptr);
    }

private:
    void keyDown(int key, unsigned shift) override {
        if (!keyAt) keyAt = Clock::now();
        form_->keyDown(key, shift);
    }
    void click() override { form_->click(); }
    void doubleClick() override { form_->doubleClick(); }
    void mouseMove(unsigned s, int x, int y) override { form_->mouseMove(s, x, y); }
    void closed() override { form_->closed(); }
    platform::InputListener* form_ = nullptr;
};

struct Run {
    std::unique_ptr<platform::FormWindow> real = platform::createFormWindow();
    TimedWindow window{*real};
    std::unique_ptr<platform::WindowSystem> windows = platform::createWindowSystem(*real);
    std::unique_ptr<platform::SystemSaverState> saverState = platform::createSystemSaverState();
    platform::x11::X11Screen screen;
    fakes::FakeSoundPlayer sound;
    fakes::FakePasswordLibrary passwords;
    platform::FileRegistry registry;
    platform::PosixFileSystem posixFiles;
    StamplessFiles stamplessFiles{posixFiles};
    std::unique_ptr<platform::Platform> platform;

    Run(const std::string& store, bool ahead) : registry(store) {
        platform::FileSystem& files =
            ahead ? static_cast<platform::FileSystem&>(posixFiles) : stamplessFiles;
        platform = std::make_unique<platform::Platform>(
            platform::Platform{*windows, *saverState, screen, sound, passwords, registry, files});
    }
    FormServices services() {
        return FormServices{*platform, window, {"/s"}, [] { QCoreApplication::exit(0); }, {}, {}};
    }
};

struct GapStats {
    double normal = 0;           // median of all frame intervals
    std::vector<double> longest; // per picture change
    std::vector<double> between; // the same window half a cycle later, far from any change
    std::vector<double> tickCpu; // the cycle tick's CPU time on the main thread
};

// Frame intervals: the longest one from 100 ms before to 300 ms after each change.
GapStats frameGaps(const std::vector<Clock::time_point>& frames,
                   const std::vector<Clock::time_point>& changes) {
    GapStats s;
    std::vector<double> all;
    for (size_t i = 1; i < frames.size(); ++i)
        all.push_back(bench::msBetween(frames[i - 1], frames[i]));
    s.normal = bench::spreadOf(all).median;
    for (const auto& c : changes) {
        double worst = 0;
        for (size_t i = 1; i < frames.size(); ++i)
            if (frames[i] > c - std::chrono::milliseconds(100) &&
                frames[i - 1] < c + std::chrono::milliseconds(300))
                worst = std::max(worst, bench::msBetween(frames[i - 1], frames[i]));
        s.longest.push_back(worst);
    }
    return s;
}

GapStats measureChanges(bench::BenchDir& dir, const std::vector<std::string>& pictures, int changes,
                        bool ahead) {
    Run run(dir / (ahead ? "ahead.reg" : "tick.reg"), ahead);
    bench::writeSaverStore(run.registry,
                           {{kUseDesktopValue, "False"},
                            {kCycleValue, "1000"},
                            {kRefreshValue, "16"},
                            {kCameraPathValue, "0"},
                            {kMaxZoomValue, "0.75"}},
                           pictures);
    SaverModule module;
    module.startUp({"/s"});
    TForm1 form(module, run.services());
    std::vector<Clock::time_point> ticks;
    std::vector<double> cpu;
    form.JvThreadTimer1->setOnTimer([&](TJvThreadTimer& t) {
        ticks.push_back(Clock::now());
        const double c0 = bench::threadCpuMs();
        form.JvThreadTimer1Timer(t);
        cpu.push_back(bench::threadCpuMs() - c0);
        if (static_cast<int>(ticks.size()) > changes) {
            QTimer::singleShot(900, [&] { // past the last window between changes
                form.FormClose();
                QCoreApplication::exit(0);
            });
        }
    });
    QCoreApplication::exec();
    ticks.erase(ticks.begin()); // the first change warms up
    cpu.erase(cpu.begin());
    if (static_cast<int>(ticks.size()) > changes) ticks.resize(static_cast<size_t>(changes));
    GapStats s = frameGaps(run.window.frames, ticks);
    // The control: the frames' own unevenness, in windows of the same length where nothing
    // changes and nothing is decoded.
    std::vector<Clock::time_point> halfway;
    for (const auto& t : ticks) halfway.push_back(t + std::chrono::milliseconds(500));
    s.between = frameGaps(run.window.frames, halfway).longest;
    s.tickCpu = cpu;
    return s;
}

struct KeyTimes {
    double keyToClose = 0, keyToEnd = 0, spawnToClose = 0;
};

// The saver shows a small picture and prepares the large one; a key press ends it.
KeyTimes measureKey(bench::BenchDir& dir, const std::vector<std::string>& pictures, int waitMs) {
    Run run(dir / "key.reg", true);
    bench::writeSaverStore(
        run.registry, {{kUseDesktopValue, "False"}, {kCycleValue, "60000"}, {kRefreshValue, "16"}},
        pictures);
    std::optional<Clock::time_point> spawned, ended;
    {
        SaverModule module;
        module.startUp({"/s"});
        TForm1 form(module, run.services());
        // Once the window has drawn (and so holds the keyboard), plus `waitMs`.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (run.window.frames.size() < 5) return;
            poll.stop();
            QTimer::singleShot(waitMs, [&] {
                spawned = Clock::now();
                std::vector<std::string> args{"xdotool", "key", "space"};
                std::vector<char*> argv;
                for (auto& a : args) argv.push_back(a.data());
                argv.push_back(nullptr);
                pid_t pid = -1;
                if (posix_spawnp(&pid, "xdotool", nullptr, nullptr, argv.data(), environ) == 0)
                    QTimer::singleShot(5000, [pid] { waitpid(pid, nullptr, 0); });
            });
        });
        poll.start(5);
        QTimer::singleShot(waitMs + 5000, [] { QCoreApplication::exit(1); });
        QCoreApplication::exec();
        form.FormClose();
    }
    ended = Clock::now();
    KeyTimes k;
    if (!run.window.keyAt || !run.window.closedAt || !spawned) return {-1, -1, -1};
    k.keyToClose = bench::msBetween(*run.window.keyAt, *run.window.closedAt);
    k.keyToEnd = bench::msBetween(*run.window.keyAt, *ended);
    k.spawnToClose = bench::msBetween(*spawned, *run.window.closedAt);
    return k;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::string(argv[1]) == "--make-jpeg") {
        bench::makeLargeJpeg(argv[5], std::atoi(argv[2]), std::atoi(argv[3]),
                             std::string(argv[4]) == "progressive");
        return 0;
    }
    const int changes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int largeSide = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10000;
    const bool progressive = argc > 3 && std::string(argv[3]) == "progressive";
    bench::BenchDir dir("change");
    const std::string photo = dir / "photo.jpg", photo2 = dir / "photo2.jpg";
    const std::string large = dir / "large.jpg", small = dir / "small.jpg";
    try {
        bench::makePhotoJpeg(photo, dir / "photo.ppm", 4000, 3000);
        std::filesystem::copy_file(photo, photo2);
        bench::makeLargeJpeg(large, largeSide, largeSide, progressive);
        bench::makeLargeJpeg(small, 640, 480, false);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_picture_change: %s\n", e.what());
        return 1;
    }
    QGuiApplication app(argc, argv);

    const GapStats ahead = measureChanges(dir, {photo, photo2}, changes, true);
    const GapStats tick = measureChanges(dir, {photo, photo2}, changes, false);
    auto print = [](const char* what, const GapStats& s) {
        const bench::Spread l = bench::spreadOf(s.longest);
        const bench::Spread b = bench::spreadOf(s.between);
        std::printf("%-34s normal interval %5.1f ms; longest around a change: median %5.1f ms "
                    "(min %5.1f, max %5.1f), %+5.1f ms over normal; tick CPU %5.1f ms\n",
                    what, s.normal, l.median, l.min, l.max, l.median - s.normal,
                    bench::spreadOf(s.tickCpu).median);
        std::printf("%-34s longest between changes: median %5.1f ms (min %5.1f, max %5.1f); "
                    "the change adds %+5.1f ms\n",
                    "", b.median, b.min, b.max, l.median - b.median);
        // A stall: more than two frames missed at once. Medians of 10 do not show a rare one.
        const double stall = 2.5 * s.normal;
        auto stalls = [&](const std::vector<double>& v) {
            return std::count_if(v.begin(), v.end(), [&](double g) { return g > stall; });
        };
        std::printf("%-34s stalls over %.0f ms: %td of %zu around a change, %td of %zu between\n",
                    "", stall, stalls(s.longest), s.longest.size(), stalls(s.between),
                    s.between.size());
    };
    std::printf("4000x3000 JPEG, refresh 16 ms, %d changes each\n", changes);
    print("decoded ahead (worker)", ahead);
    print("anchor: decoded by the tick", tick);

    std::vector<KeyTimes> keys;
    for (int i = 0; i < 5; ++i) keys.push_back(measureKey(dir, {large, small}, 200));
    std::printf("key while a %dx%d %s JPEG is being prepared (5 runs; -1: the key did not reach "
                "the window):\n",
                largeSide, largeSide, progressive ? "progressive" : "baseline");
    for (const KeyTimes& k : keys)
        std::printf("  key event -> window closed %6.1f ms; -> form ended %6.1f ms; "
                    "xdotool started -> window closed %6.1f ms\n",
                    k.keyToClose, k.keyToEnd, k.spawnToClose);
    std::vector<KeyTimes> idle;
    for (int i = 0; i < 5; ++i) idle.push_back(measureKey(dir, {small, small}, 200));
    std::printf("anchor: key with nothing being prepared (5 runs; -1: the key did not reach the "
                "window):\n");
    for (const KeyTimes& k : idle)
        std::printf("  key event -> window closed %6.1f ms; -> form ended %6.1f ms; "
                    "xdotool started -> window closed %6.1f ms\n",
                    k.keyToClose, k.keyToEnd, k.spawnToClose);
    return 0;
}
