#include "bench_store.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::bench {
namespace {

// The dialog's load: one read and parse of the file, then every stored property.
void BM_DialogLoad(benchmark::State& state) {
    BenchStore files;
    FaultCounter faults;
    for (auto _ : state) {
        ConfigModel m;
        FormStorage storage(files.store(), m, kExe);
        storage.LoadStoredProps();
        if (m.ListBox1_Items.size() != kListEntries) state.SkipWithError("list not loaded");
        benchmark::DoNotOptimize(m);
    }
    faults.report(state);
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
    FaultCounter faults;
    for (auto _ : state) {
        m.udCycle_Position = 1000 + (flip ^= 1); // a change each time, so every save writes
        storage.SaveStoredProps();
    }
    faults.report(state);
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

// Anchor for the load: the same file read whole into a reused buffer and split into lines, with
// nothing kept.
void BM_AnchorReadSplit(benchmark::State& state) {
    BenchStore files;
    const std::string path = files.store().path();
    std::string buffer;
    for (auto _ : state) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        ::fstat(fd, &st);
        buffer.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < buffer.size()) {
            ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        ::close(fd);
        size_t lines = 0;
        for (size_t at = buffer.find('\n'); at != std::string::npos; at = buffer.find('\n', at + 1))
            ++lines;
        benchmark::DoNotOptimize(lines);
    }
}
BENCHMARK(BM_AnchorReadSplit)->Unit(benchmark::kMillisecond);

// Anchor for the save: the same bytes written to a temporary file, fsync, rename over the store,
// fsync of the folder.
void BM_AnchorWriteRename(benchmark::State& state) {
    BenchStore files;
    const std::string path = files.store().path();
    const std::string dir = path.substr(0, path.rfind('/'));
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string bytes = text.str();
    const std::string temp = path + ".anchor";
    for (auto _ : state) {
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            state.SkipWithError("short write");
        ::fsync(fd);
        ::close(fd);
        ::rename(temp.c_str(), path.c_str());
        int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::fsync(dfd);
        ::close(dfd);
    }
}
BENCHMARK(BM_AnchorWriteRename)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tarnwick::bench

BENCHMARK_MAIN();
