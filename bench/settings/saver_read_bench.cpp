// The saver's reader over the same store, as configuration mode runs it (no picture is prepared).
#include "bench_store.h"
#include "engine/engine_fixture.h"
#include "host/hack_options.h"

#include <benchmark/benchmark.h>

namespace tarnwick::bench {
namespace {

void BM_SaverRead(benchmark::State& state) {
    testing_support::EngineWorld world;
    {
        ConfigModel m;
        FormStorage storage(world.registry, m, kExe);
        storage.LoadStoredProps();
        m = modelWithList(kListEntries);
        storage.SaveStoredProps();
    }
    TForm1& form = world.start({"/c"});
    FaultCounter faults;
    for (auto _ : state) {
        form.pictureList.reset();
        form.Read_Registry();
        if (form.pictureList->size() != kListEntries) state.SkipWithError("list not read");
    }
    faults.report(state);
}
BENCHMARK(BM_SaverRead)->Unit(benchmark::kMillisecond);

// The hack's reader: the same store seen through the run's overrides, with N list entries.
void BM_HackRead(benchmark::State& state) {
    testing_support::EngineWorld store;
    {
        ConfigModel m;
        FormStorage storage(store.registry, m, kExe);
        storage.LoadStoredProps();
        m = modelWithList(static_cast<int>(state.range(0)));
        storage.SaveStoredProps();
    }
    hack::RunOnlyRegistry layered(store.registry, {});
    testing_support::EngineWorld world(layered);
    TForm1& form = world.start({"/c"});
    for (auto _ : state) {
        form.pictureList.reset();
        form.Read_Registry();
        if (form.pictureList->size() != static_cast<size_t>(state.range(0)))
            state.SkipWithError("list not read");
    }
}
BENCHMARK(BM_HackRead)->Arg(10000)->Arg(40000)->Arg(200000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tarnwick::bench
