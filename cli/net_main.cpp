// rendle-net: adjusts many levelling runs together as a network, by least squares.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "cli/Arguments.h"
#include "cli/OutputModules.h"
#include "cli/Terminal.h"
#include "core/ToleranceClasses.h"
#include "grid/Grid.h"
#include "grid/NumberFormat.h"
#include "network/Adjustment.h"
#include "network/NetworkInput.h"
#include "network/NetworkReport.h"
#include "readers/Formats.h"
#include "readers/LineDecoder.h"

namespace {

using rendle::cli::NotAnOption;
using rendle::cli::Say;
using rendle::cli::WriteAll;
namespace net = rendle::network;

constexpr int kTestFailed = 1;
constexpr int kBadInput = 2;
using rendle::cli::kOutputFailed;
using rendle::cli::kUsageError;
constexpr int kInternalError = 70;

const char* kDescription =
    R"(Adjusts levelling runs together as a network, by least squares.

Input: field books of every format Rendle reads (each levelling line of a GSI or DiNi book a
line of its own; the format told from the content) and CSV files of observations (a name
ending .csv: a header row naming from,to,dh,length_km and, if wanted, setups and sigma_mm; dh
in metres). A line's first and last points are points of the network; a point inside a line is
one only when it is a benchmark or named with --point (turning points carry the same names from
line to line and never join lines). Each line gives one observation per section between its
network points: dh = sum of rises - sum of falls, its length (the back and fore sights) and its
set-ups. A line that closes on its own starting point with no network point inside is a loop:
checked by its misclosure, adding no unknown.

Datum: --fix NAME=HEIGHT holds a benchmark fixed; NAME=HEIGHT:SIGMA_MM makes its height a
weighted observation; --benchmarks FILE.csv gives them as name,height[,sigma_mm]. Every part of
the network needs a benchmark. With none, a free network: laid over the --datum points (every
point by default, minimum norm), from approximate heights given with --approx or carried along
the lines from the first point at 0.

Weights (--weights): by length, sigma = --sigma-km mm x sqrt(L km) (the default, 1 mm); by
set-ups, sigma = --sigma-setup mm x sqrt(n); or each CSV row's sigma_mm. A priori sigma0 is 1.

Statistics: sigma0 a posteriori = sqrt(vTPv / r); the two-sided chi-square global test at
--alpha (failing low means the weights are too pessimistic, not a blunder); standard deviations
of the heights (scaled by the a-posteriori sigma0 in the report, both in the JSON); per
observation its residual v, redundancy number r, standardized residual w against the normal
quantile of --alpha0 (3.29 at 0.001), and its minimal detectable bias (power 0.80); "no check"
where r is below 0.001. --snoop removes the observation of the largest |w| beyond the critical
value and adjusts again, until none is left.

Loops (a cycle basis of the network, and the lines closed on themselves) and sections run twice
are checked against the misclose limits of --class (its loop and section figures), else 2 mm x
sqrt(K), as the level sheet uses.

Output: the text report on standard output, or with --json one JSON object (metres
throughout); --save FILE.xlsx also writes a workbook with a sheet of heights and one of
observations. Bad input is told on stderr in one line, naming the file and line, and nothing is
written.)";

const char* kFooter =
    R"(Exit status: 0 adjusted and every test passed; 1 adjusted, but the global test, an
observation's test, a loop or a section run twice failed; 2 bad input, nothing written (a line
that cannot be read, a part of the network no benchmark reaches, a singular system); 4 an output
could not be written; 64 bad usage; 70 an internal error.)";

bool IsCsv(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".csv";
}

std::ifstream OpenInput(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        throw net::NetworkError("cannot read " + path + ": a folder, not a file");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) throw net::NetworkError("cannot open " + path);
    return in;
}

/// The network's inputs read, in the order given.
net::NetworkInput ReadInputs(const std::vector<std::string>& paths, const std::string& encoding,
                             const net::IsNetworkPoint& isNetworkPoint) {
    net::NetworkInput input;
    for (const std::string& path : paths) {
        std::ifstream in = OpenInput(path);
        if (IsCsv(path)) {
            std::vector<net::Observation> read = net::ReadObservations(in, path);
            input.observations.insert(input.observations.end(), read.begin(), read.end());
            continue;
        }
        const rendle::readers::LineDecoder decoder(encoding);
        rendle::readers::Book book;
        std::string error;
        if (!rendle::readers::LoadBook(in, std::nullopt, decoder, book, error)) {
            throw net::NetworkError(
                std::string("cannot read ").append(path).append(": ").append(error));
        }
        if (!book.format) {
            throw net::NetworkError("cannot tell the format of " + path + ": no " +
                                    rendle::readers::FormatNames() +
                                    " field book, and no .csv file of observations");
        }
        net::AddBook(book, path, decoder, isNetworkPoint, input);
    }
    return input;
}

/// The inputs and the workbook are never the same file.
void CheckSaveTarget(const std::string& save, const std::vector<std::string>& inputs) {
    std::error_code error;
    for (const std::string& input : inputs) {
        if (std::filesystem::equivalent(save, input, error)) {
            throw net::NetworkError(std::string("--save ")
                                        .append(save)
                                        .append(" would replace the input ")
                                        .append(input));
        }
    }
    if (std::filesystem::is_directory(save, error)) {
        throw net::NetworkError("--save " + save + " is a folder; name the workbook");
    }
}

int Run(int argc, char** argv) {
    CLI::App app(kDescription, "rendle-net");
    app.footer(kFooter);
    app.get_formatter()->column_width(34);
    std::vector<std::string> inputs;
    std::vector<std::string> fixes;
    std::string benchmarksFile;
    std::vector<std::string> points;
    std::vector<std::string> datum;
    std::vector<std::string> approx;
    std::string weights = "length";
    net::AdjustmentOptions options;
    std::string classId;
    std::string savePath;
    std::string encoding;
    bool asJson = false;

    app.set_version_flag("--version", std::string("rendle-net ") + RENDLE_VERSION);
    app.add_option("--fix", fixes,
                   "A benchmark: NAME=HEIGHT held fixed, or NAME=HEIGHT:SIGMA_MM weighted "
                   "(repeat for more)")
        ->type_name("NAME=HEIGHT[:SIGMA_MM]")
        ->allow_extra_args(false)
        ->check(NotAnOption);
    app.add_option("--benchmarks", benchmarksFile,
                   "Benchmarks from a CSV file: name,height[,sigma_mm]")
        ->type_name("FILE.csv")
        ->check(NotAnOption);
    app.add_option("--point", points,
                   "A point inside a line that is a point of the network (a junction); repeat "
                   "or give A,B,...")
        ->delimiter(',')
        ->type_name("NAME")
        ->allow_extra_args(false)
        ->check(NotAnOption);
    app.add_option("--datum", datum,
                   "Free network: lay the datum over these points (default every point)")
        ->delimiter(',')
        ->type_name("A,B,...")
        ->allow_extra_args(false)
        ->check(NotAnOption);
    app.add_option("--approx", approx, "Free network: an approximate height, NAME=HEIGHT")
        ->type_name("NAME=HEIGHT")
        ->allow_extra_args(false)
        ->check(NotAnOption);
    app.add_option("--weights", weights, "Weights by length (default), setups or sigma")
        ->check(CLI::IsMember({"length", "setups", "sigma"}))
        ->type_name("KIND");
    app.add_option("--sigma-km", options.sigmaKmMm, "sigma of 1 km of levelling, mm (default 1)")
        ->type_name("MM")
        ->check(CLI::Range(0.001, 1000.0));
    app.add_option("--sigma-setup", options.sigmaSetUpMm, "sigma of one set-up, mm (default 1)")
        ->type_name("MM")
        ->check(CLI::Range(0.001, 1000.0));
    app.add_option("--alpha", options.alpha, "Level of the global test (default 0.05)")
        ->check(CLI::Range(1e-9, 0.5));
    app.add_option("--alpha0", options.alpha0,
                   "Level of each observation's test (default 0.001: |w| against 3.29)")
        ->check(CLI::Range(1e-9, 0.5));
    app.add_flag("--snoop", options.snoop,
                 "Data snooping: remove the worst observation beyond the critical value and "
                 "adjust again, until none is left");
    app.add_option("--class", classId,
                   "Misclose limits of a tolerance class (rendle-reduce --class list names them)")
        ->type_name("ID")
        ->check([](const std::string& id) -> std::string {
            if (rendle::core::FindToleranceClass(id)) return {};
            return "is no class Rendle knows (rendle-reduce --class list names them): " + id;
        });
    app.add_flag("--json", asJson, "Print one JSON object instead of the text report");
    app.add_option("--save", savePath,
                   "Also write a workbook (.xlsx) with a sheet of heights and one of observations")
        ->type_name("FILE.xlsx")
        ->check(NotAnOption);
    app.add_option("--encoding", encoding,
                   "Read every field-book line in this encoding (an iconv name such as CP1251)")
        ->check(NotAnOption);
    app.add_option("INPUT", inputs, "Field books and CSV files of observations")->required();

    if (const std::optional<int> ended = rendle::cli::ParseArguments(app, argc, argv)) {
        return *ended;
    }

    options.weighting = weights == "setups"  ? net::Weighting::SetUps
                        : weights == "sigma" ? net::Weighting::Sigma
                                             : net::Weighting::Length;
    net::ReportSettings settings;
    settings.alpha = options.alpha;
    settings.alpha0 = options.alpha0;
    settings.power = options.power;
    settings.weights =
        weights == "setups"
            ? "by set-ups, " + rendle::grid::GeneralNumberText(options.sigmaSetUpMm) +
                  " mm x sqrt(n)"
        : weights == "sigma" ? "by each observation's sigma_mm"
                             : "by length, " + rendle::grid::GeneralNumberText(options.sigmaKmMm) +
                                   " mm x sqrt(L km)";
    settings.tolerance = "2 mm x sqrt(K) for loops and sections run twice";
    if (!classId.empty()) {
        const rendle::core::ToleranceClass* c = rendle::core::FindToleranceClass(classId);
        options.loopMm = c->loopMm;
        options.sectionMm = c->lineMm;
        auto figure = [](std::optional<double> mm) {
            return mm ? rendle::grid::GeneralNumberText(*mm) + " mm x sqrt(K)"
                      : std::string("none");
        };
        settings.tolerance = std::string(c->name) + ": loops " + figure(c->loopMm) +
                             ", sections run twice " + figure(c->lineMm);
    }

    net::NetworkResult result;
    try {
        std::vector<net::Benchmark> benchmarks;
        if (!benchmarksFile.empty()) {
            std::ifstream in = OpenInput(benchmarksFile);
            benchmarks = net::ReadBenchmarks(in, benchmarksFile);
        }
        for (const std::string& fix : fixes) benchmarks.push_back(net::ParseBenchmark(fix));
        for (const std::string& a : approx) {
            const net::Benchmark b = net::ParseBenchmark(a);
            if (b.sigmaMm) throw net::NetworkError("--approx " + a + ": not NAME=HEIGHT");
            options.approx.emplace_back(b.name, b.height);
        }
        options.datum = datum;
        if (!savePath.empty()) {
            std::vector<std::string> all = inputs;
            if (!benchmarksFile.empty()) all.push_back(benchmarksFile);
            CheckSaveTarget(savePath, all);
        }

        std::set<std::string, std::less<>> networkPoints(points.begin(), points.end());
        for (const net::Benchmark& b : benchmarks) networkPoints.insert(b.name);
        const net::NetworkInput input = ReadInputs(
            inputs, encoding, [&](std::string_view name) { return networkPoints.contains(name); });
        for (const std::string& warning : input.warnings) Say(warning);
        result = net::Adjust(input.observations, benchmarks, input.lineLoops, options);
    } catch (const net::NetworkError& error) {
        Say(std::string("rendle-net: ") + error.what());
        return kBadInput;
    } catch (const std::invalid_argument& error) {  // an encoding iconv does not know
        Say(std::string("rendle-net: ") + error.what());
        return kUsageError;
    }

    std::ostringstream report;
    if (asJson) {
        net::WriteJsonReport(result, settings, report);
    } else {
        net::WriteTextReport(result, settings, report);
    }
    if (!savePath.empty()) {
        try {
            const rendle::grid::Grid heights = net::HeightsSheet(result);
            const rendle::grid::Grid observations = net::ObservationsSheet(result);
            rendle::cli::WorkbookModuleWriter writer;
            writer({&heights, &observations}, savePath);
        } catch (const std::exception& error) {
            Say("rendle-net: cannot write " + savePath + ": " + error.what());
            return kOutputFailed;
        }
    }
    if (!WriteAll(STDOUT_FILENO, report.str())) {
        Say("rendle-net: standard output could not be written");
        return kOutputFailed;
    }
    return net::AllPassed(result) ? 0 : kTestFailed;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        Say(std::string("rendle-net: internal error: ") + error.what());
        return kInternalError;
    }
}
