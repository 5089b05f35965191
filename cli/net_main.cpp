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
observation's test, a loop, a line between benchmarks or a section run twice failed, or
snooping could not tell two observations apart (stderr says which in one line); 2 bad input,
nothing written (a line that cannot be read, a point named that no input has, a value past
plausibility, a part of the network no benchmark reaches, a singular system); 4 an output could
not be written; 64 bad usage (the same input given twice, --approx or --datum beside
benchmarks); 70 an internal error.)";

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

/// The same file given twice (by one name, two names or a link): "" when none is.
std::string SameInputTwice(const std::vector<std::string>& inputs, const std::string& benchmarks) {
    std::vector<std::string> all = inputs;
    if (!benchmarks.empty()) all.push_back(benchmarks);
    for (size_t i = 0; i < all.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            std::error_code error;
            if (all[i] == all[j]) return all[i] + " is given twice; it would be adjusted twice";
            if (std::filesystem::equivalent(all[i], all[j], error)) {
                return all[j] + " and " + all[i] + " are the same file; it would be adjusted twice";
            }
        }
    }
    return {};
}

/// Every point named on the command line is a point of some input; benchmarks of a file that no
/// input has are a register's, named once on stderr.
void CheckNames(const net::NetworkInput& input, const std::vector<net::Benchmark>& benchmarks,
                size_t fixes, const std::vector<std::string>& points,
                const net::AdjustmentOptions& options) {
    std::set<std::string, std::less<>> known;
    for (const net::Observation& o : input.observations) {
        known.insert(o.from);
        known.insert(o.to);
    }
    for (const net::LineLoop& loop : input.lineLoops) known.insert(loop.point);
    const auto check = [&](const std::string& name, const char* option) {
        if (!known.contains(name)) {
            throw net::NetworkError(std::string(option) + " " + name +
                                    ": no input has a point of that name");
        }
    };
    // The --fix benchmarks come after the file's.
    const size_t fromFile = benchmarks.size() - fixes;
    for (size_t i = fromFile; i < benchmarks.size(); ++i) check(benchmarks[i].name, "--fix");
    for (const std::string& p : points) check(p, "--point");
    for (const auto& [name, height] : options.approx) check(name, "--approx");
    for (const std::string& p : options.datum) check(p, "--datum");
    std::vector<std::string> unused;
    for (size_t i = 0; i < fromFile; ++i) {
        if (!known.contains(benchmarks[i].name)) unused.push_back(benchmarks[i].name);
    }
    if (!unused.empty()) {
        std::string names;
        for (size_t i = 0; i < unused.size() && i < 10; ++i) names += (i ? ", " : "") + unused[i];
        if (unused.size() > 10) names += " and " + std::to_string(unused.size() - 10) + " more";
        Say("rendle-net: benchmarks of the file that no input has (not used): " + names);
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
    std::string snoop;
    app.add_flag("--snoop{while}", snoop,
                 "Data snooping while the global test fails: remove the observation of the "
                 "largest |w| beyond the critical value and adjust again, never one it cannot "
                 "tell from another; --snoop always: while any |w| is beyond")
        ->type_name("[always]")
        ->check(CLI::IsMember({"while", "always"}));
    app.add_option("--confidence", options.confidence,
                   "Confidence of the heights' intervals (default 0.95)")
        ->type_name("P")
        ->check(CLI::Range(0.5, 0.9999));
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

    // "--snoop always" is "--snoop=always": the word is the option's, never an input's.
    std::vector<std::string> words(argv, argv + argc);
    for (size_t i = 1; i + 1 < words.size() && words[i] != "--"; ++i) {
        if (words[i] == "--snoop" && words[i + 1] == "always") {
            words[i] = "--snoop=always";
            words.erase(words.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        }
    }
    std::vector<char*> args(words.size());
    std::transform(words.begin(), words.end(), args.begin(),
                   [](std::string& word) { return word.data(); });
    if (const std::optional<int> ended =
            rendle::cli::ParseArguments(app, static_cast<int>(args.size()), args.data())) {
        return *ended;
    }
    if ((!approx.empty() || !datum.empty()) && (!fixes.empty() || !benchmarksFile.empty())) {
        Say(std::string("rendle-net: --") + (approx.empty() ? "datum" : "approx") +
            " applies to a free network only, and benchmarks are given");
        return kUsageError;
    }
    if (const std::string clash = SameInputTwice(inputs, benchmarksFile); !clash.empty()) {
        Say("rendle-net: " + clash);
        return kUsageError;
    }
    options.snoop = snoop == "always"  ? net::Snooping::Always
                    : snoop == "while" ? net::Snooping::WhileGlobalTestFails
                                       : net::Snooping::Off;

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
    options.limits =
        net::LimitsOfClass(classId.empty() ? nullptr : rendle::core::FindToleranceClass(classId));
    settings.tolerance = options.limits.words;
    settings.snooping = options.snoop == net::Snooping::Always ? "always"
                        : options.snoop == net::Snooping::Off  ? "off"
                                                               : "while the global test fails";
    // Each snooping round told as it ends, on a terminal.
    if (options.snoop != net::Snooping::Off && isatty(STDERR_FILENO) != 0) {
        options.onSnoopingStep = [](const net::SnoopingStep& step, size_t round) {
            Say("rendle-net: snooping round " + std::to_string(round) + ": removed observation " +
                std::to_string(step.observation + 1) + ", w " +
                rendle::grid::FormatNumber(step.w, "0.00"));
        };
    }
    bool saveRefused = false;

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
        CheckNames(input, benchmarks, fixes.size(), points, options);
        if (!savePath.empty()) {
            // Known before the adjustment: the workbook is refused, the report still printed.
            try {
                std::set<std::string_view> names;
                for (const net::Observation& o : input.observations) {
                    names.insert(o.from);
                    names.insert(o.to);
                }
                net::CheckWorkbookRows(names.size(), input.observations.size() + benchmarks.size());
            } catch (const net::NetworkError& error) {
                Say("rendle-net: cannot write " + savePath + ": " + error.what());
                saveRefused = true;
            }
        }
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
    if (!savePath.empty() && !saveRefused) {
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
    if (saveRefused) return kOutputFailed;
    const std::vector<std::string> failures = net::Failures(result);
    if (failures.empty()) return 0;
    std::string why;
    for (const std::string& f : failures) why += (why.empty() ? "" : "; ") + f;
    Say("rendle-net: exit status 1: " + why);
    return kTestFailed;
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
