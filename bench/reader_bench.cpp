// Reader throughput: each format's read command over a large field book held in memory, through
// the benchmark window and the reduction.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "FakeWindowing.h"
#include "FieldBookMaker.h"
#include "GsiText.h"
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

/// The levelling lines of a GSI book, each three set-ups read twice (BFFB) from A1 back to A1.
std::vector<std::vector<std::string>> GsiLines(int count) {
    std::vector<std::vector<std::string>> lines;
    int block = 1;
    for (int i = 0; i < count; ++i) {
        lines.push_back(rendle::testing::GsiLine(2, "A1", 100.0, rendle::testing::GsiLoop(), true,
                                                 "LINE" + std::to_string(i), &block));
    }
    return lines;
}

/// Reads and reduces every levelling line of each book, each book read into memory once.
void ReduceEveryLine(const std::vector<std::string>& books, benchmark::State& state) {
    const rendle::readers::LineDecoder decoder;
    for (const std::string& text : books) {
        std::istringstream in(text);
        rendle::readers::Book book;
        std::string error;
        rendle::readers::LoadBook(in, std::nullopt, decoder, book, error);
        const size_t lines = std::max<size_t>(book.lines.size(), 1);
        for (size_t k = 1; k <= lines; ++k) {
            rendle::grid::Grid sheet;
            rendle::core::SetUpLevelSheet(sheet);
            rendle::core::RunState run;
            rendle::testing::FakeWindowing windowing;
            const auto outcome = rendle::commands::RunReadCommand(book, static_cast<int>(k), sheet,
                                                                  run, windowing, decoder);
            if (!outcome.reduction) state.SkipWithError(outcome.read.reason.c_str());
            benchmark::DoNotOptimize(sheet.LastUsedRow());
        }
    }
}

// A GSI book of N levelling lines against N books of one line each: the time a line should
// not grow with the lines around it.
void BM_GsiBookOfLines(benchmark::State& state) {
    std::vector<std::string> all;
    for (const auto& line : GsiLines(static_cast<int>(state.range(0)))) {
        all.insert(all.end(), line.begin(), line.end());
    }
    const std::vector<std::string> book = {rendle::testing::GsiBookText(all)};
    for (auto _ : state) ReduceEveryLine(book, state);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
void BM_GsiOneLineBooks(benchmark::State& state) {
    std::vector<std::string> books;
    for (const auto& line : GsiLines(static_cast<int>(state.range(0)))) {
        books.push_back(rendle::testing::GsiBookText(line));
    }
    for (auto _ : state) ReduceEveryLine(books, state);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GsiBookOfLines)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GsiOneLineBooks)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
