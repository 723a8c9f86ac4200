// The saver's reader over the same store, as configuration mode runs it (no picture is prepared).
#include "bench_store.h"
#include "engine/engine_fixture.h"

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

} // namespace
} // namespace tarnwick::bench
