// Speed and memory of the network adjustment with every statistic (heights' standard
// deviations, redundancy numbers, w, MDB, loops, sections run twice) on square grids of
// levelled legs, 10³ to 10⁵ points, one benchmark held in a corner; and the drawing of such a
// grid, laid out by Graphviz and written as SVG.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>

#include "network/Adjustment.h"
#include "network/Drawing.h"
#include "network/GamaXml.h"
#include "network/NetworkInput.h"

namespace {

using rendle::network::Observation;

std::vector<Observation> Grid(size_t side) {
    std::mt19937 random(7);
    std::vector<Observation> legs;
    auto name = [&](size_t r, size_t c) { return "P" + std::to_string(r * side + c); };
    auto leg = [&](size_t r1, size_t c1, size_t r2, size_t c2) {
        const double error = (static_cast<double>(random() % 1001) - 500.0) / 1e6;
        legs.push_back(
            {name(r1, c1), name(r2, c2),
             0.01 * static_cast<double>(r2 + c2) - 0.01 * static_cast<double>(r1 + c1) + error, 1.0,
             4, std::nullopt, "leg", std::nullopt, std::nullopt, std::nullopt});
    };
    for (size_t r = 0; r < side; ++r) {
        for (size_t c = 0; c < side; ++c) {
            if (c + 1 < side) leg(r, c, r, c + 1);
            if (r + 1 < side) leg(r, c, r + 1, c);
        }
    }
    return legs;
}

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kB on Linux
}

void BM_AdjustGridNetwork(benchmark::State& state) {
    const auto points = static_cast<size_t>(state.range(0));
    const auto side = static_cast<size_t>(std::lround(std::sqrt(static_cast<double>(points))));
    const std::vector<Observation> legs = Grid(side);
    const std::vector<rendle::network::Benchmark> fixed = {{"P0", 100.0, std::nullopt}};
    for (auto _ : state) {
        const auto result = rendle::network::Adjust(legs, fixed, {}, {});
        benchmark::DoNotOptimize(result.vtpv);
    }
    state.counters["points"] = static_cast<double>(side * side);
    state.counters["observations"] = static_cast<double>(legs.size());
    // The whole process's peak so far: the sizes run from small to large.
    state.counters["peak_MB"] = PeakMegabytes();
}
BENCHMARK(BM_AdjustGridNetwork)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The same grids with their legs booked as correlated blocks of ten (neighbouring legs of a
// line, correlation 0.3 between neighbours, as a recorder's <cov-mat> gives it), weighted by
// the blocks: the cost of the weight matrix's blocks and of the statistics worked out block by
// block. With a few blunders and snooping while the global test fails, each round adjusts
// afresh (a row out of a block changes the weights of the rest).
void BM_AdjustCorrelatedGrid(benchmark::State& state) {
    const auto points = static_cast<size_t>(state.range(0));
    const bool snoop = state.range(1) != 0;
    const auto side = static_cast<size_t>(std::lround(std::sqrt(static_cast<double>(points))));
    std::vector<Observation> legs = Grid(side);
    rendle::network::AdjustmentOptions options;
    options.weighting = rendle::network::Weighting::Sigma;
    constexpr size_t kBlock = 10;
    for (size_t first = 0; first + kBlock <= legs.size(); first += kBlock) {
        rendle::network::CorrelatedBlock block;
        block.covarianceMm2.assign(kBlock, std::vector<double>(kBlock, 0.0));
        for (size_t i = 0; i < kBlock; ++i) {
            block.observations.push_back(first + i);
            block.covarianceMm2[i][i] = 0.09;
            if (i + 1 < kBlock)
                block.covarianceMm2[i][i + 1] = block.covarianceMm2[i + 1][i] = 0.027;
        }
        options.correlated.push_back(std::move(block));
    }
    for (Observation& leg : legs) leg.sigmaMm = 0.3;
    if (snoop) {
        for (size_t b = 0; b < 5; ++b) legs[(b * 7919 + 13) % legs.size()].dh += 0.020;
        options.snoop = rendle::network::Snooping::WhileGlobalTestFails;
    }
    const std::vector<rendle::network::Benchmark> fixed = {{"P0", 100.0, std::nullopt}};
    size_t removed = 0;
    for (auto _ : state) {
        const auto result = rendle::network::Adjust(legs, fixed, {}, options);
        removed = result.snooping.size();
        benchmark::DoNotOptimize(result.vtpv);
    }
    state.counters["blocks"] = static_cast<double>(options.correlated.size());
    state.counters["removed"] = static_cast<double>(removed);
    state.counters["peak_MB"] = PeakMegabytes();
}
BENCHMARK(BM_AdjustCorrelatedGrid)
    ->Args({1000, 0})
    ->Args({4000, 0})
    ->Args({1000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// Data snooping on the same grids with 200 blunders of 20 mm spread over them: every round is a
// rank-one change of one factorization, then the network adjusted once more without them.
void BM_SnoopGridNetwork(benchmark::State& state) {
    const auto points = static_cast<size_t>(state.range(0));
    const auto side = static_cast<size_t>(std::lround(std::sqrt(static_cast<double>(points))));
    std::vector<Observation> legs = Grid(side);
    constexpr size_t kBlunders = 200;
    for (size_t b = 0; b < kBlunders; ++b) legs[(b * 7919 + 13) % legs.size()].dh += 0.020;
    const std::vector<rendle::network::Benchmark> fixed = {{"P0", 100.0, std::nullopt}};
    rendle::network::AdjustmentOptions options;
    options.sigmaKmMm = 0.3;  // the legs' errors, uniform within ±0.5 mm
    options.snoop = rendle::network::Snooping::WhileGlobalTestFails;
    size_t removed = 0;
    for (auto _ : state) {
        const auto result = rendle::network::Adjust(legs, fixed, {}, options);
        removed = result.snooping.size();
        benchmark::DoNotOptimize(result.vtpv);
    }
    state.counters["removed"] = static_cast<double>(removed);
    state.counters["peak_MB"] = PeakMegabytes();
}
BENCHMARK(BM_SnoopGridNetwork)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The drawing of an adjusted grid: Graphviz's schematic layout (neato up to 1,000 points, sfdp
// above), the drawing described and written as SVG. The adjustment is outside the timing.
void BM_DrawGridNetwork(benchmark::State& state) {
    const auto points = static_cast<size_t>(state.range(0));
    const auto side = static_cast<size_t>(std::lround(std::sqrt(static_cast<double>(points))));
    const auto result = rendle::network::Adjust(Grid(side), {{"P0", 100.0, std::nullopt}}, {}, {});
    size_t bytes = 0;
    for (auto _ : state) {
        const auto positions = rendle::network::SchematicLayout(result);
        const std::string svg =
            rendle::network::SvgOf(rendle::network::DrawNetwork(result, positions, {}));
        bytes = svg.size();
        benchmark::DoNotOptimize(svg.data());
    }
    state.counters["svg_MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["peak_MB"] = PeakMegabytes();
}
BENCHMARK(BM_DrawGridNetwork)
    ->Arg(900)
    ->Arg(1024)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// Reading the observations of a grid network as its files hold them: GNU Gama's XML, one <dh>
// a line, and the same observations as CSV. Both take time in proportion to the file.
std::string GamaText(const std::vector<Observation>& legs) {
    std::string text =
        "<?xml version=\"1.0\"?>\n<gama-local>\n<network>\n<points-observations>\n"
        "<point id=\"P0\" z=\"100\" fix=\"z\"/>\n<height-differences>\n";
    for (const Observation& o : legs) {
        text += "<dh from=\"" + o.from + "\" to=\"" + o.to + "\" val=\"" + std::to_string(o.dh) +
                "\" dist=\"1\"/>\n";
    }
    return text + "</height-differences>\n</points-observations>\n</network>\n</gama-local>\n";
}

std::string CsvText(const std::vector<Observation>& legs) {
    std::string text = "from,to,dh,length_km\n";
    for (const Observation& o : legs) {
        text += o.from + "," + o.to + "," + std::to_string(o.dh) + ",1\n";
    }
    return text;
}

void BM_ReadGamaXml(benchmark::State& state) {
    const auto side =
        static_cast<size_t>(std::lround(std::sqrt(static_cast<double>(state.range(0)) / 2)));
    const std::vector<Observation> legs = Grid(side);
    const std::string text = GamaText(legs);
    for (auto _ : state) {
        const auto network = rendle::network::ReadGamaXml(text, "grid.gkf");
        benchmark::DoNotOptimize(network.observations.data());
    }
    state.counters["dh"] = static_cast<double>(legs.size());
}
BENCHMARK(BM_ReadGamaXml)->Arg(12500)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ReadCsvObservations(benchmark::State& state) {
    const auto side =
        static_cast<size_t>(std::lround(std::sqrt(static_cast<double>(state.range(0)) / 2)));
    const std::vector<Observation> legs = Grid(side);
    const std::string text = CsvText(legs);
    for (auto _ : state) {
        std::istringstream in(text);
        const auto observations = rendle::network::ReadObservations(in, "grid.csv");
        benchmark::DoNotOptimize(observations.data());
    }
    state.counters["dh"] = static_cast<double>(legs.size());
}
BENCHMARK(BM_ReadCsvObservations)->Arg(12500)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
