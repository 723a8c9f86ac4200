// Runs the full-screen saver (real window, real timers, the desktop snapshot as picture) at a
// refresh delay of 0 for a few seconds and prints the frames shown per second.
#include "saver_rig.h"

#include <QGuiApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    using namespace tarnwick;
    using bench::Clock;
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    bench::BenchDir dir("fps");

    QGuiApplication app(argc, argv);
    bench::X11SaverRig rig(dir / "user.reg");
    bench::writeSaverStore(rig.registry, {{kRefreshValue, "0"},
                                          {kUseDesktopValue, "True"},
                                          {kCameraPathValue, "2"},
                                          {kMaxZoomValue, "1"}});
    SaverModule module;
    module.startUp({"/s"});
    TForm1 form(module, rig.services({"/s"}));

    long startFrames = 0;
    auto t0 = Clock::now();
    QTimer::singleShot(1000, [&] { // let the window settle first
        startFrames = rig.window.frames;
        t0 = Clock::now();
    });
    QTimer::singleShot(1000 + seconds * 1000, [&] {
        const double s = bench::msBetween(t0, Clock::now()) / 1000;
        const Size c = rig.window.clientSize();
        std::printf("%dx%d: %ld frames in %.2f s = %.0f frames/s\n", c.width, c.height,
                    rig.window.frames - startFrames, s,
                    static_cast<double>(rig.window.frames - startFrames) / s);
        form.FormClose();
        QCoreApplication::exit(0);
    });
    return app.exec();
}
