// From constructing the saver form full screen ("/s") in desktop mode to its first frame, for each
// desktop setting: the real window, the real screen capture, the store file. Every start-up runs
// in a fresh process, as the saver's own start does; the settings take turns so that a busy
// moment of the machine does not fall on one setting only.
// Usage: bench_startup_frame [RUNS] [--hidden-dialog]   (under scripts/with-xvfb)
//   --hidden-dialog also builds the hidden settings dialog before the message loop, as the
//   program entry does.
#include "saver_rig.h"

#include "imaging/bitmap.h"
#include "settings/dialog/tes.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <QWindow>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace tarnwick;
using bench::Clock;

constexpr std::array<const char*, 6> kSettingNames = {"normal",     "rotate 90", "rotate 180",
                                                      "rotate 270", "warp",      "blur"};

// The times of one start-up, in ms from the start of the form's construction.
struct StartUp {
    double constructed = 0;    // the form's constructor returned (Read_Registry ran inside)
    double loopStarted = 0;    // the message loop was entered (after the hidden dialog, if any)
    double exposed = 0;        // the X server first reported the window exposed
    double firstFrame = 0;     // the first frame was drawn
    double firstTick = 0;      // the refresh tick that drew it, alone
    double constructedCpu = 0; // the main thread's CPU time in the constructor
    double snapshot = 0, snapshotCpu = 0;   // the desktop snapshot again, alone
    double transform = 0, transformCpu = 0; // the desktop setting's transform again, alone
};

class ExposeWatch : public QObject {
public:
    std::optional<Clock::time_point> at;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (!at && event->type() == QEvent::Expose) {
            if (auto* w = qobject_cast<QWindow*>(object); w && w->isExposed()) at = Clock::now();
        }
        return false;
    }
};

int startUpOnce(int argc, char** argv, int setting, bool hiddenDialog) {
    bench::BenchDir dir("startup");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    bench::X11SaverRig rig(dir / "user.reg");
    // A refresh delay of 0, so that the figure is the saver's work; a stored delay adds itself.
    bench::writeSaverStore(rig.registry, {{kUseDesktopValue, "True"},
                                          {kDesktopSettingValue, std::to_string(setting)},
                                          {kRefreshValue, "0"},
                                          {kCameraPathValue, "0"},
                                          {kMaxZoomValue, "0.75"}});
    ExposeWatch watch;
    app.installEventFilter(&watch);
    SaverModule module;
    module.startUp({"/s"});

    StartUp r;
    const auto t0 = Clock::now();
    const double c0 = bench::threadCpuMs();
    TForm1 form(module, rig.services({"/s"}));
    r.constructed = bench::msBetween(t0, Clock::now());
    r.constructedCpu = bench::threadCpuMs() - c0;
    std::unique_ptr<TfrmConfig> hidden;
    if (hiddenDialog) hidden = std::make_unique<TfrmConfig>(rig.platform, argv[0]);

    form.JvThreadTimer2->setOnTimer([&](TJvThreadTimer& t) {
        const long before = rig.window.frames;
        const auto tickStart = Clock::now();
        form.JvThreadTimer2Timer(t);
        if (rig.window.frames == before) return;
        r.firstFrame = bench::msBetween(t0, Clock::now());
        r.firstTick = bench::msBetween(tickStart, Clock::now());
        form.JvThreadTimer2->setActive(false);
        QCoreApplication::exit(0);
    });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(1); });
    r.loopStarted = bench::msBetween(t0, Clock::now());
    if (app.exec() != 0) {
        std::fprintf(stderr, "bench_startup_frame: no frame within 20 s\n");
        return 1;
    }
    // The exposure may come after the first frame; give it a moment to arrive.
    const auto until = Clock::now() + std::chrono::seconds(2);
    while (!watch.at && Clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    r.exposed = watch.at ? bench::msBetween(t0, *watch.at) : -1;

    const bool rotated = setting == 1 || setting == 3;
    const Size screen = rig.window.screenSize();
    const int32_t wantW = rotated ? screen.height : screen.width;
    if (!module.CopyBitmap || module.CopyBitmap->width() != wantW) {
        std::fprintf(stderr, "bench_startup_frame: the picture has the wrong size\n");
        return 1;
    }
    // Each stage again on its own, now that the form is up.
    auto t1 = Clock::now();
    const double c1 = bench::threadCpuMs();
    form.TakeDesktopSnapshot();
    auto t2 = Clock::now();
    const double c2 = bench::threadCpuMs();
    form.ApplyDesktopSetting(setting);
    r.transform = bench::msBetween(t2, Clock::now());
    r.transformCpu = bench::threadCpuMs() - c2;
    r.snapshot = bench::msBetween(t1, t2);
    r.snapshotCpu = c2 - c1;
    form.FormClose();
    std::printf("%d %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %dx%d\n", setting,
                r.constructed, r.constructedCpu, r.loopStarted, r.exposed, r.firstFrame,
                r.firstTick, r.snapshot, r.snapshotCpu, r.transform, r.transformCpu, screen.width,
                screen.height);
    return 0;
}

std::string spreadText(const std::vector<double>& ms) {
    const bench::Spread s = bench::spreadOf(ms);
    char text[64];
    std::snprintf(text, sizeof text, "%.1f (%.1f-%.1f)", s.median, s.min, s.max);
    return text;
}

int runAll(int runs, bool hiddenDialog) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::array<std::vector<StartUp>, kSettingNames.size()> results;
    std::string screenSize;
    for (int run = 0; run < runs; ++run) {
        for (int setting = 0; setting < static_cast<int>(kSettingNames.size()); ++setting) {
            const std::string command = "'" + self + "' --once " + std::to_string(setting) +
                                        (hiddenDialog ? " --hidden-dialog" : "");
            FILE* child = popen(command.c_str(), "r");
            if (!child) return 1;
            StartUp r;
            int got = -1;
            char size[32] = {};
            const int fields = std::fscanf(child, "%d %lf %lf %lf %lf %lf %lf %lf %lf %lf %lf %31s",
                                           &got, &r.constructed, &r.constructedCpu, &r.loopStarted,
                                           &r.exposed, &r.firstFrame, &r.firstTick, &r.snapshot,
                                           &r.snapshotCpu, &r.transform, &r.transformCpu, size);
            if (pclose(child) != 0 || fields != 12 || got != setting) {
                std::fprintf(stderr, "bench_startup_frame: run %d of setting %d failed\n", run,
                             setting);
                return 1;
            }
            screenSize = size;
            results[static_cast<size_t>(setting)].push_back(r);
        }
    }
    std::printf("screen %s, %d fresh processes per setting%s; median (min-max) in ms\n",
                screenSize.c_str(), runs, hiddenDialog ? ", hidden settings dialog built" : "");
    // Wall times with their spread; the CPU columns are the main thread's medians.
    std::printf("%-11s %-19s %-6s %-19s %-19s %-19s %-19s %-19s %-6s %-19s %-6s\n", "setting",
                "form constructed", "CPU", "loop started", "window exposed", "first frame",
                "its refresh tick", "snapshot alone", "CPU", "transform alone", "CPU");
    for (size_t s = 0; s < results.size(); ++s) {
        std::vector<double> c, cc, l, e, f, ft, sn, snc, tr, trc;
        for (const StartUp& r : results[s]) {
            c.push_back(r.constructed);
            cc.push_back(r.constructedCpu);
            l.push_back(r.loopStarted);
            e.push_back(r.exposed);
            f.push_back(r.firstFrame);
            ft.push_back(r.firstTick);
            sn.push_back(r.snapshot);
            snc.push_back(r.snapshotCpu);
            tr.push_back(r.transform);
            trc.push_back(r.transformCpu);
        }
        auto median = [](const std::vector<double>& v) { return bench::spreadOf(v).median; };
        std::printf("%-11s %-19s %-6.1f %-19s %-19s %-19s %-19s %-19s %-6.1f %-19s %-6.1f\n",
                    kSettingNames[s], spreadText(c).c_str(), median(cc), spreadText(l).c_str(),
                    spreadText(e).c_str(), spreadText(f).c_str(), spreadText(ft).c_str(),
                    spreadText(sn).c_str(), median(snc), spreadText(tr).c_str(), median(trc));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    bool hiddenDialog = false;
    int once = -1;
    int runs = 7;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hidden-dialog") == 0)
            hiddenDialog = true;
        else if (std::strcmp(argv[i], "--once") == 0 && i + 1 < argc)
            once = std::atoi(argv[++i]);
        else
            runs = std::max(1, std::atoi(argv[i]));
    }
    if (once >= 0 && once < static_cast<int>(kSettingNames.size()))
        return startUpOnce(argc, argv, once, hiddenDialog);
    return runAll(runs, hiddenDialog);
}
