// Filling the settings dialog's list with found files: 10,000 names reported by a search, each
// looked up in the list before it is added, and a whole folder search through the dialog.
#include "fakes/fake_registry.h"
#include "fakes/fake_screen.h"
#include "fakes/fake_sound.h"
#include "fakes/fakes.h"
#include "platform/posix/posix_files.h"
#include "settings/dialog/controls.h"
#include "settings/dialog/tes.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QListWidget>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

namespace fsys = std::filesystem;
using namespace tarnwick;

struct BenchPlatform {
    fakes::FakeWindowSystem windows;
    fakes::FakeSaverState saverState;
    fakes::FakeScreen screen;
    fakes::FakeSoundPlayer sound;
    fakes::FakePasswordLibrary password;
    fakes::FakeRegistry registry;
    platform::PosixFileSystem files;
    platform::Platform platform{windows, saverState, screen, sound, password, registry, files};
};

constexpr int kNames = 10000;

void BM_AddFoundFiles(benchmark::State& state) {
    BenchPlatform p;
    std::vector<std::string> names;
    for (int i = 0; i < kNames; ++i)
        names.push_back("/pictures/album" + std::to_string(i % 97) + "/Photo" + std::to_string(i) +
                        ".JPG");
    int listed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto dialog = std::make_unique<TfrmConfig>(p.platform, "/usr/bin/tarnwick");
        state.ResumeTiming();
        for (const std::string& name : names) dialog->JvSearchFiles1FindFile(name);
        // Each name once more in other letter case: every look-up finds it, nothing is added.
        for (const std::string& name : names) {
            std::string lower = name;
            for (char& c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            dialog->JvSearchFiles1FindFile(lower);
        }
        listed = dialog->ListBox1->count();
        state.PauseTiming();
        dialog.reset();
        state.ResumeTiming();
    }
    state.counters["listed"] = listed;
    state.counters["reports"] = 2 * kNames;
}

// A tree of 10,000 picture files (and 5,000 others) in 200 folders, searched through the
// dialog's folder field: busy cursor, repaints, list look-ups and all.
void BM_FolderFieldSearch(benchmark::State& state) {
    std::string tmpl = (fsys::temp_directory_path() / "tarnwick-dlgbench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    const fsys::path root = tmpl;
    for (int i = 0; i < 15000; ++i) {
        const fsys::path folder = root / ("f" + std::to_string(i % 200));
        fsys::create_directories(folder);
        std::ofstream(folder / ("p" + std::to_string(i) + (i % 3 == 2 ? ".txt" : ".jpg")));
    }
    BenchPlatform p;
    int listed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto dialog = std::make_unique<TfrmConfig>(p.platform, "/usr/bin/tarnwick");
        state.ResumeTiming();
        dialog->JvDirectoryEdit1->setText(QString::fromStdString(root.string()));
        listed = dialog->ListBox1->count();
        state.PauseTiming();
        dialog.reset();
        state.ResumeTiming();
    }
    state.counters["listed"] = listed;
    std::error_code ec;
    fsys::remove_all(root, ec);
}

BENCHMARK(BM_AddFoundFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FolderFieldSearch)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
