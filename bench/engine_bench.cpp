// Speed of the level sheet engine: the sheet set-up and the reduction of a full 1000-row run.
#include <benchmark/benchmark.h>

#include <chrono>

#include "LevelRun.h"
#include "core/LevelSheet.h"
#include "core/Reduction.h"
#include "grid/Grid.h"

namespace {

using rendle::testing::Record;

// 250 set-ups of BS, one or two IS and FS with their marker rows: rows 5..1249 before the
// markers go, data rows 6..1000 after.
std::vector<Record> FullRun() {
    std::vector<Record> records;
    for (int i = 0; i < 250; ++i) {
        records.push_back({"CP"});
        records.push_back({"BS", "P" + std::to_string(i), 1.5 + 0.001 * i, 30});
        records.push_back({"IS", "I" + std::to_string(i), 1.4, 10});
        if (i < 245) records.push_back({"IS", "J" + std::to_string(i), 1.3, 10});
        records.push_back({"FS", "P" + std::to_string(i + 1), 1.2, 30});
    }
    return records;
}

// Times the reduction alone: filling the sheet and freeing it stay outside the clock.
void BM_ReduceFullRun(benchmark::State& state) {
    const std::vector<Record> records = FullRun();
    for (auto _ : state) {
        rendle::grid::Grid sheet;
        rendle::core::RunState run;
        rendle::testing::FillRun(sheet, run, records);
        run.StartRL = std::string("100.000");
        run.EndRL = std::string("100.010");
        const auto start = std::chrono::steady_clock::now();
        const auto outcome = rendle::core::ReduceLevels(sheet, run);
        const auto stop = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
        if (outcome.status != rendle::core::ReductionStatus::Reduced) {
            state.SkipWithError(outcome.reason.c_str());
        }
    }
}
BENCHMARK(BM_ReduceFullRun)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_ReduceAgainInPlace(benchmark::State& state) {
    rendle::grid::Grid sheet;
    rendle::core::RunState run;
    rendle::testing::FillRun(sheet, run, FullRun());
    run.StartRL = 100.0;
    run.EndRL = 100.01;
    rendle::core::ReduceLevels(sheet, run);
    for (auto _ : state) {
        run.StartRL = 100.0;
        benchmark::DoNotOptimize(rendle::core::ReduceLevels(sheet, run));
    }
}
BENCHMARK(BM_ReduceAgainInPlace)->Unit(benchmark::kMicrosecond);

void BM_SetUpLevelSheet(benchmark::State& state) {
    for (auto _ : state) {
        rendle::grid::Grid sheet;
        rendle::core::SetUpLevelSheet(sheet);
        benchmark::DoNotOptimize(sheet.LastUsedRow());
    }
}
BENCHMARK(BM_SetUpLevelSheet);

}  // namespace
