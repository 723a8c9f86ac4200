#pragma once
// A store file holding a saved dialog set with a long picture list, in a temporary folder.
#include "platform/posix/file_registry.h"
#include "settings/stored_props.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/resource.h>

namespace tarnwick::bench {

constexpr int kListEntries = 10000;
constexpr const char* kExe = "/usr/lib/tarnwick/Tarnwick.scr";

inline ConfigModel modelWithList(int entries) {
    ConfigModel m;
    m.cbxUseDesktop_Checked = false;
    for (int i = 0; i < entries; ++i) {
        char name[96];
        std::snprintf(name, sizeof name, "/home/someone/Pictures/Holidays %d/IMG_%05d.JPG",
                      2000 + i % 25, i);
        m.ListBox1_Items.push_back(name);
    }
    return m;
}

// Minor page faults per iteration, the cost of fresh heap memory that a CPU profile misses.
class FaultCounter {
public:
    FaultCounter() : start_(now()) {}
    void report(benchmark::State& state) const {
        state.counters["faults"] = benchmark::Counter(static_cast<double>(now() - start_),
                                                      benchmark::Counter::kAvgIterations);
    }

private:
    static long now() {
        rusage u{};
        ::getrusage(RUSAGE_SELF, &u);
        return u.ru_minflt;
    }
    long start_;
};

class BenchStore {
public:
    BenchStore() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tarnwick-bench-XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
        store_ = std::make_unique<platform::FileRegistry>(dir_ + "/user.reg");
        ConfigModel m;
        FormStorage storage(*store_, m, kExe);
        storage.LoadStoredProps();
        m = modelWithList(kListEntries);
        storage.SaveStoredProps();
    }
    ~BenchStore() { std::filesystem::remove_all(dir_); }
    platform::FileRegistry& store() { return *store_; }
    size_t fileSize() const { return std::filesystem::file_size(dir_ + "/user.reg"); }

private:
    std::string dir_;
    std::unique_ptr<platform::FileRegistry> store_;
};

} // namespace tarnwick::bench
