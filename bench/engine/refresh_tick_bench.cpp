// One whole refresh tick without the flush: the source rectangle and the stretch onto a frame of
// the window's size, for a desktop-sized picture.
#include "engine/scrsavermain.h"
#include "fakes/fake_sound.h"
#include "fakes/fakes.h"
#include "imaging/bitmap.h"
#include "platform/posix/file_registry.h"
#include "platform/posix/posix_files.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

using namespace tarnwick;

class NoScreen : public platform::Screen {
public:
    Rect virtualDesktop() override { return {0, 0, 0, 0}; }
    void capture(const Rect&, int32_t, int32_t, uint8_t*, std::ptrdiff_t) override {}
};

void refreshTick(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    char dir[] = "/tmp/tarnwick-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    fakes::FakeFormWindow window;
    fakes::FakeWindowSystem windows;
    fakes::FakeSaverState saverState;
    NoScreen screen;
    fakes::FakeSoundPlayer sound;
    fakes::FakePasswordLibrary passwords;
    platform::FileRegistry registry(std::string(dir) + "/user.reg");
    platform::PosixFileSystem files;
    platform::Platform platform{windows, saverState, screen, sound, passwords, registry, files};
    SaverModule module;
    module.startUp({"/p"});
    TForm1 form(module, FormServices{platform, window, {"/p"}, [] {}, {}, {}});
    form.JvThreadTimer2->setActive(false);

    module.CopyBitmap = NewWorkBitmap();
    SetBitmapSize(*module.CopyBitmap, w, h);
    for (int y = 0; y < h; ++y) {
        auto row = module.CopyBitmap->scanLine(y);
        for (size_t i = 0; i < row.size(); ++i)
            row[i] = static_cast<uint8_t>(i * 7 + static_cast<size_t>(y));
    }
    window.geometry_ = {0, 0, w, h};
    form.MaxZoom = 1;
    form.BuildZooms(2);
    std::vector<uint32_t> frame(static_cast<size_t>(w) * static_cast<size_t>(h));
    const FrameView view{frame.data(), w, h, w};
    for (auto _ : state) {
        form.RenderFrame(form.CalcSourceRect(), view);
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    std::filesystem::remove_all(dir);
}

BENCHMARK(refreshTick)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
