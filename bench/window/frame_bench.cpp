// Cost of one full-screen frame through the form window: the backing store's surface, a write of
// every pixel, and the flush to the X server.
#include "platform/x11/x11_form_window.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

namespace {

using tarnwick::FrameView;
using tarnwick::platform::WindowState;
using tarnwick::platform::x11::X11FormWindow;

std::unique_ptr<X11FormWindow> fullScreenForm() {
    auto form = std::make_unique<X11FormWindow>();
    form->setQuitOnClose(false);
    form->setWindowState(WindowState::Maximized);
    form->setBorderless();
    form->show();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1000) QCoreApplication::processEvents();
    return form;
}

void BM_FrameWriteAndFlush(benchmark::State& state) {
    auto form = fullScreenForm();
    uint32_t colour = 0;
    for (auto _ : state) {
        const FrameView f = form->beginFrame();
        if (!f.pixels) {
            state.SkipWithError("no frame surface");
            break;
        }
        ++colour;
        for (int32_t y = 0; y < f.height; ++y) {
            uint32_t* row = f.pixels + static_cast<ptrdiff_t>(y) * f.stride;
            for (int32_t x = 0; x < f.width; ++x) row[x] = 0xFF000000u | (colour + x);
        }
        form->endFrame();
        QCoreApplication::processEvents();
    }
    const auto size = form->clientSize();
    state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height));
}
BENCHMARK(BM_FrameWriteAndFlush)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_FlushOnly(benchmark::State& state) {
    auto form = fullScreenForm();
    for (auto _ : state) {
        benchmark::DoNotOptimize(form->beginFrame().pixels);
        form->endFrame();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_FlushOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
