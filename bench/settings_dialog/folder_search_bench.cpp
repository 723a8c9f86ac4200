// The picture folder search over a generated tree of 100,000 files in 2,000 folders, and
// find(1) with the same three masks over the same tree, in one run.
#include "platform/posix/posix_files.h"
#include "settings/folder_search.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

namespace fsys = std::filesystem;

constexpr int kTopFolders = 40;
constexpr int kSubFolders = 49; // 40 + 40 * 49 = 2,000 folders below the root
constexpr int kFiles = 100000;
constexpr const char* kExtensions[] = {".jpg", ".JPG", ".jpeg", ".bmp", ".png", ".txt"};

// The tree lives for the whole run; every file is empty (the search reads no file).
class Tree {
public:
    Tree() {
        std::string tmpl = (fsys::temp_directory_path() / "tarnwick-bench-XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = tmpl;
        std::vector<fsys::path> folders;
        for (int t = 0; t < kTopFolders; ++t) {
            const fsys::path top = root_ / ("album" + std::to_string(t));
            folders.push_back(top);
            for (int s = 0; s < kSubFolders; ++s)
                folders.push_back(top / ("day" + std::to_string(s)));
        }
        for (const fsys::path& f : folders) fsys::create_directories(f);
        for (int i = 0; i < kFiles; ++i) {
            const fsys::path& folder = folders[static_cast<size_t>(i) % folders.size()];
            std::ofstream(folder / ("img" + std::to_string(i) + kExtensions[i % 6]));
        }
        folderCount_ = static_cast<int>(folders.size());
    }
    ~Tree() {
        std::error_code ec;
        fsys::remove_all(root_, ec);
    }
    std::string root() const { return root_.string(); }
    int folders() const { return folderCount_; }

private:
    fsys::path root_;
    int folderCount_ = 0;
};

Tree& tree() {
    static Tree t;
    return t;
}

void BM_FolderSearch(benchmark::State& state) {
    tarnwick::platform::PosixFileSystem files;
    tarnwick::TJvSearchFiles search(files);
    search.rootDirectory = tree().root();
    size_t found = 0, bytes = 0;
    search.onFindFile = [&](const std::string& name) {
        ++found;
        bytes += name.size();
    };
    for (auto _ : state) {
        found = 0;
        if (!search.Search()) state.SkipWithError("search failed");
    }
    benchmark::DoNotOptimize(bytes);
    state.counters["found"] = static_cast<double>(found);
    state.counters["folders"] = tree().folders();
}

void BM_FindCommand(benchmark::State& state) {
    const std::string command = "find '" + tree().root() +
                                "' -type f \\( -iname '*.bmp' -o -iname '*.jpg' -o -iname "
                                "'*.jpeg' \\)";
    size_t found = 0;
    for (auto _ : state) {
        found = 0;
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) {
            state.SkipWithError("popen failed");
            break;
        }
        char line[4096];
        while (std::fgets(line, sizeof line, pipe) != nullptr) ++found;
        pclose(pipe);
    }
    state.counters["found"] = static_cast<double>(found);
}

BENCHMARK(BM_FolderSearch)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FindCommand)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
