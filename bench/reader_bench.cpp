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

namespace {

/// Lists the lines of a book and reads and reduces its first, bytes per second beside the
/// books above: a hostile shape should cost no more a byte than a real book.
void ReadHostile(benchmark::State& state, const std::string& text, FieldBookFormat format) {
    const rendle::readers::LineDecoder decoder;
    for (auto _ : state) {
        std::istringstream in(text);
        rendle::readers::Book book;
        std::string error;
        if (!rendle::readers::LoadBook(in, format, decoder, book, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        rendle::grid::Grid sheet;
        rendle::core::SetUpLevelSheet(sheet);
        rendle::core::RunState run;
        rendle::testing::FakeWindowing windowing;
        const auto outcome =
            rendle::commands::RunReadCommand(book, 1, sheet, run, windowing, decoder);
        benchmark::DoNotOptimize(outcome.read.status);
        benchmark::DoNotOptimize(book.lines.size());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// 10^5 Cont-Lines taking up again the 1,000 lines the book started, a set-up each.
void BM_M5ContLines(benchmark::State& state) {
    std::string text = "For M5|Adr     1|TO  CONT.DAT\r\n";
    const auto sighting = [](const char* code, const std::string& point, const char* value) {
        std::string line = "For M5|Adr     9|KD1 ";
        line.resize(120, ' ');
        line.replace(21, 8, std::string(8 - std::min<size_t>(8, point.size()), ' ') + point);
        line.replace(49, 2, code);
        line.replace(60, 6, value);
        line.replace(83, 6, "20.000");
        while (line.back() == ' ') line.pop_back();
        return line + "\r\n";
    };
    for (int n = 1; n <= 1000; ++n) {
        text += "For M5|Adr     2|TO  Start-Line         BF  " + std::to_string(n) + "\r\n";
    }
    for (int k = 0; k < static_cast<int>(state.range(0)); ++k) {
        text += "For M5|Adr     2|TO  Cont-Line          " + std::to_string(1 + (k * 7919) % 1000) +
                "\r\n";
        text += sighting("Rb", "P" + std::to_string(k), "1.2345");
        text += sighting("Rf", "P" + std::to_string(k + 1), "1.1234");
    }
    ReadHostile(state, text, FieldBookFormat::M5);
}
BENCHMARK(BM_M5ContLines)->Arg(100000)->Unit(benchmark::kMillisecond);

// A GSI line whose remarks hold runs of 30,000 blanks, about 1 MB.
void BM_GsiBlankRuns(benchmark::State& state) {
    std::vector<std::string> lines =
        rendle::testing::GsiLine(2, "A1", 100.0, rendle::testing::GsiLoop(), true);
    const std::string remark =
        "*110099+000000000000NOTE 71....+" + std::string(30000, ' ') + "0000000000000001 ";
    std::vector<std::string> book;
    for (int i = 0; i < 32; ++i) book.push_back(remark);
    book.insert(book.end(), lines.begin() + 1, lines.end());
    book.insert(book.begin(), lines.front());
    ReadHostile(state, rendle::testing::GsiBookText(book), FieldBookFormat::GSI);
}
BENCHMARK(BM_GsiBlankRuns)->Unit(benchmark::kMillisecond);

}  // namespace
