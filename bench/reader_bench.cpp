// Reader throughput: each format's read command over a large field book held in memory, through
// the benchmark window and the reduction.
#include <benchmark/benchmark.h>

#include <sstream>

#include "FakeWindowing.h"
#include "FieldBookMaker.h"
#include "commands/ReadCommand.h"
#include "core/LevelSheet.h"
#include "grid/Grid.h"

namespace {

using rendle::readers::FieldBookFormat;

void BM_Read(benchmark::State& state, FieldBookFormat format, const char* m5Method = "BF") {
    const std::string text =
        rendle::bench::MakeFieldBook(format, static_cast<size_t>(state.range(0)) << 20, m5Method);
    for (auto _ : state) {
        std::istringstream in(text);
        rendle::grid::Grid sheet;
        rendle::core::SetUpLevelSheet(sheet);
        rendle::core::RunState run;
        rendle::testing::FakeWindowing windowing;
        windowing.typeStart = "100";
        windowing.typeEnd = "100.01";
        const auto outcome = rendle::commands::RunReadCommand(format, in, sheet, run, windowing);
        if (!outcome.reduction ||
            outcome.reduction->status != rendle::core::ReductionStatus::Reduced) {
            state.SkipWithError(("not reduced: " + outcome.read.reason).c_str());
            break;
        }
        benchmark::DoNotOptimize(sheet.LastUsedRow());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

BENCHMARK_CAPTURE(BM_Read, sdr20, FieldBookFormat::SDR20)
    ->Arg(1)
    ->Arg(50)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Read, sdr33, FieldBookFormat::SDR33)
    ->Arg(1)
    ->Arg(50)
    ->Unit(benchmark::kMillisecond);
// An M5 field book holds at most 32767 lines, about 2.6 MB of these.
BENCHMARK_CAPTURE(BM_Read, m5, FieldBookFormat::M5)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
// The same run as a Leica GSI-16 book, beside SDR33.
BENCHMARK_CAPTURE(BM_Read, gsi, FieldBookFormat::GSI)->Arg(1)->Unit(benchmark::kMillisecond);
// The same run read twice at every set-up (BFFB), beside it.
BENCHMARK_CAPTURE(BM_Read, m5_bffb, FieldBookFormat::M5, "BFFB")
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
