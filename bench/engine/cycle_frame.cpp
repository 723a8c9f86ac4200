// From the picture-cycle tick to the next frame on the screen, for a 12-megapixel JPEG: the saver
// full screen with the real window, screen, store file and thread timers, the picture list holding
// one generated 4000x3000 photo-like JPEG. Also times reading and decoding that file alone.
// Usage: bench_cycle_frame [CYCLES]   (under scripts/with-xvfb; needs cjpeg)
#include "photo_jpeg.h"
#include "saver_rig.h"

#include "imaging/bitmap.h"
#include "imaging/jpeg_decoder.h"
#include "imaging/picture_loader.h"

#include <QGuiApplication>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace tarnwick;
using bench::Clock;

constexpr int kWidth = 4000, kHeight = 3000;

// Wall times with their spread, and the median of the main thread's CPU time beside them.
void printSpread(const char* what, const std::vector<double>& ms,
                 const std::vector<double>& cpuMs = {}) {
    const bench::Spread s = bench::spreadOf(ms);
    std::printf("%-44s %7.1f ms  (min %6.1f, max %6.1f)", what, s.median, s.min, s.max);
    if (!cpuMs.empty()) std::printf("  CPU %6.1f ms", bench::spreadOf(cpuMs).median);
    std::printf("\n");
}

// Wall and main-thread CPU times of repeated runs of one stage.
struct Stage {
    std::vector<double> wall, cpu;
    template <typename F> void run(F&& stage) {
        const auto t0 = Clock::now();
        const double c0 = bench::threadCpuMs();
        stage();
        wall.push_back(bench::msBetween(t0, Clock::now()));
        cpu.push_back(bench::threadCpuMs() - c0);
    }
};

// One cycle as the main thread saw it.
struct Cycle {
    Clock::time_point tickStart, tickEnd, frameStart, frameEnd;
    double tickCpu = 0, frameCpu = 0;
};

} // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    bench::BenchDir dir("cycle");
    const std::string photo = dir / "photo.jpg";
    try {
        bench::makePhotoJpeg(photo, dir / "photo.ppm", kWidth, kHeight);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_cycle_frame: %s\n", e.what());
        return 1;
    }

    // The tick's stages alone, with nothing else running: the file as LoadNextPicture reads it,
    // the decoder on bytes already in memory, the release of the previous picture, and the first
    // writes to a fresh block of the bitmap's size (the decoder's destination is always new).
    std::ifstream in(photo, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    Stage load, decode, release, firstTouch;
    const size_t bitmapBytes = static_cast<size_t>(WorkBitmap::strideFor(kWidth)) * kHeight;
    volatile uint8_t sink = 0;
    for (int i = 0; i < cycles; ++i) {
        std::unique_ptr<WorkBitmap> loaded;
        load.run([&] { loaded = LoadPicture(photo); });
        release.run([&] { loaded.reset(); });
        decode.run([&] { sink = DecodeJpeg(bytes)->data()[0]; });
        firstTouch.run([&] {
            auto block = std::make_unique_for_overwrite<uint8_t[]>(bitmapBytes);
            std::memset(block.get(), 0x80, bitmapBytes);
            sink = block[bitmapBytes / 2];
        });
    }

    QGuiApplication app(argc, argv);
    bench::X11SaverRig rig(dir / "user.reg");
    // The cycle's delay only spaces the measured ticks; 20 ms is the form's refresh delay.
    bench::writeSaverStore(rig.registry,
                           {{kUseDesktopValue, "False"},
                            {kCycleValue, "400"},
                            {kRefreshValue, std::to_string(TForm1::kRefreshDesignDelay)},
                            {kCameraPathValue, "0"},
                            {kMaxZoomValue, "0.75"}},
                           {photo});
    SaverModule module;
    module.startUp({"/s"});
    TForm1 form(module, rig.services({"/s"}));
    if (!module.CopyBitmap || module.CopyBitmap->width() != kWidth) {
        std::fprintf(stderr, "bench_cycle_frame: the picture did not load\n");
        return 1;
    }

    // The first cycle warms up; the handlers are wrapped to take the times on the main thread.
    std::vector<Cycle> done;
    std::optional<Cycle> pending;
    bool missedLoad = false;
    form.JvThreadTimer1->setOnTimer([&](TJvThreadTimer& t) {
        // A loaded picture brings new pixels while the old ones still live: a tick that leaves
        // the same buffer loaded nothing.
        const uint8_t* old = module.CopyBitmap ? module.CopyBitmap->data() : nullptr;
        Cycle c;
        c.tickStart = Clock::now();
        const double c0 = bench::threadCpuMs();
        form.JvThreadTimer1Timer(t);
        c.tickEnd = Clock::now();
        c.tickCpu = bench::threadCpuMs() - c0;
        if (!module.CopyBitmap || module.CopyBitmap->data() == old) missedLoad = true;
        pending = c;
    });
    form.JvThreadTimer2->setOnTimer([&](TJvThreadTimer& t) {
        const auto start = Clock::now();
        const double c0 = bench::threadCpuMs();
        const long before = rig.window.frames;
        form.JvThreadTimer2Timer(t);
        if (!pending || rig.window.frames == before) return;
        pending->frameStart = start;
        pending->frameEnd = Clock::now();
        pending->frameCpu = bench::threadCpuMs() - c0;
        done.push_back(*pending);
        pending.reset();
        if (static_cast<int>(done.size()) > cycles || missedLoad) {
            form.FormClose();
            QCoreApplication::exit(missedLoad ? 1 : 0);
        }
    });
    QTimer::singleShot((cycles + 1) * 2000 + 10000, [] {
        std::fprintf(stderr, "bench_cycle_frame: timed out\n");
        QCoreApplication::exit(1);
    });
    const Size client = rig.window.clientSize();
    if (app.exec() != 0) {
        if (missedLoad) std::fprintf(stderr, "bench_cycle_frame: a cycle tick loaded no picture\n");
        return 1;
    }

    std::vector<double> ticks, tickCpu, waits, refreshes, refreshCpu, totals;
    for (size_t i = 1; i < done.size(); ++i) {
        const Cycle& c = done[i];
        ticks.push_back(bench::msBetween(c.tickStart, c.tickEnd));
        tickCpu.push_back(c.tickCpu);
        waits.push_back(bench::msBetween(c.tickEnd, c.frameStart));
        refreshes.push_back(bench::msBetween(c.frameStart, c.frameEnd));
        refreshCpu.push_back(c.frameCpu);
        totals.push_back(bench::msBetween(c.tickStart, c.frameEnd));
    }
    std::printf("picture %dx%d JPEG, %.2f MB; window %dx%d; %d runs each\n", kWidth, kHeight,
                static_cast<double>(bytes.size()) / 1e6, client.width, client.height, cycles);
    printSpread("LoadPicture alone (read + decode)", load.wall, load.cpu);
    printSpread("DecodeJpeg alone (bytes in memory)", decode.wall, decode.cpu);
    printSpread("first writes to a fresh bitmap-sized block", firstTouch.wall, firstTouch.cpu);
    printSpread("release of a decoded picture", release.wall, release.cpu);
    printSpread("cycle tick (JvThreadTimer1Timer)", ticks, tickCpu);
    printSpread("cycle tick end to refresh tick start", waits);
    printSpread("refresh tick (JvThreadTimer2Timer)", refreshes, refreshCpu);
    printSpread("cycle tick start to frame drawn", totals);
    return 0;
}
