#include "bench_store.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>

namespace tarnwick::bench {
namespace {

// The dialog's load: one read and parse of the file, then every stored property.
void BM_DialogLoad(benchmark::State& state) {
    BenchStore files;
    for (auto _ : state) {
        ConfigModel m;
        FormStorage storage(files.store(), m, kExe);
        storage.LoadStoredProps();
        if (m.ListBox1_Items.size() != kListEntries) state.SkipWithError("list not loaded");
        benchmark::DoNotOptimize(m);
    }
    state.counters["file_bytes"] = static_cast<double>(files.fileSize());
}
BENCHMARK(BM_DialogLoad)->Unit(benchmark::kMillisecond);

// The dialog's save: lock, read, the whole set, temporary file, fsync, rename, folder fsync.
void BM_DialogSave(benchmark::State& state) {
    BenchStore files;
    ConfigModel m;
    FormStorage storage(files.store(), m, kExe);
    storage.LoadStoredProps();
    int flip = 0;
    for (auto _ : state) {
        m.udCycle_Position = 1000 + (flip ^= 1); // a change each time, so every save writes
        storage.SaveStoredProps();
    }
}
BENCHMARK(BM_DialogSave)->Unit(benchmark::kMillisecond);

// The file format alone, without the file system.
void BM_ParseText(benchmark::State& state) {
    BenchStore files;
    std::ifstream in(files.store().path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    for (auto _ : state) benchmark::DoNotOptimize(platform::parseRegistryText(s, "user.reg"));
}
BENCHMARK(BM_ParseText)->Unit(benchmark::kMillisecond);

void BM_FormatText(benchmark::State& state) {
    BenchStore files;
    std::ifstream in(files.store().path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const platform::RegTree tree = platform::parseRegistryText(text.str(), "user.reg");
    for (auto _ : state) benchmark::DoNotOptimize(platform::formatRegistryText(tree));
}
BENCHMARK(BM_FormatText)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tarnwick::bench

BENCHMARK_MAIN();
