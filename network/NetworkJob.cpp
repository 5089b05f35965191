#include "network/NetworkJob.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "core/ToleranceClasses.h"
#include "grid/NumberFormat.h"
#include "network/NetworkInput.h"
#include "network/NetworkReport.h"
#include "readers/FieldBook.h"
#include "readers/Formats.h"
#include "readers/LineDecoder.h"

namespace rendle::network {

namespace {

bool IsCsv(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".csv";
}

std::ifstream OpenInput(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        throw NetworkError("cannot read " + path + ": a folder, not a file");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) throw NetworkError("cannot open " + path);
    return in;
}

/// The network's inputs read, in the order given.
NetworkInput ReadInputs(const std::vector<std::string>& paths, const std::string& encoding,
                        const IsNetworkPoint& isNetworkPoint) {
    NetworkInput input;
    for (const std::string& path : paths) {
        std::ifstream in = OpenInput(path);
        if (IsCsv(path)) {
            std::vector<Observation> read = ReadObservations(in, path);
            input.observations.insert(input.observations.end(), read.begin(), read.end());
            continue;
        }
        const readers::LineDecoder decoder(encoding);
        readers::Book book;
        std::string error;
        if (!readers::LoadBook(in, std::nullopt, decoder, book, error)) {
            throw NetworkError(std::string("cannot read ").append(path).append(": ").append(error));
        }
        if (!book.format) {
            throw NetworkError("cannot tell the format of " + path + ": no " +
                               readers::FormatNames() +
                               " field book, and no .csv file of observations");
        }
        AddBook(book, path, decoder, isNetworkPoint, input);
    }
    return input;
}

/// The inputs and the workbook are never the same file.
void CheckSaveTarget(const std::string& save, const std::vector<std::string>& inputs) {
    std::error_code error;
    for (const std::string& input : inputs) {
        if (std::filesystem::equivalent(save, input, error)) {
            throw NetworkError(std::string("--save ")
                                   .append(save)
                                   .append(" would replace the input ")
                                   .append(input));
        }
    }
    if (std::filesystem::is_directory(save, error)) {
        throw NetworkError("--save " + save + " is a folder; name the workbook");
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
void CheckNames(const NetworkInput& input, const std::vector<Benchmark>& benchmarks, size_t fixes,
                const std::vector<std::string>& points, const AdjustmentOptions& options,
                const std::function<void(const std::string&)>& say) {
    std::set<std::string, std::less<>> known;
    for (const Observation& o : input.observations) {
        known.insert(o.from);
        known.insert(o.to);
    }
    for (const LineLoop& loop : input.lineLoops) known.insert(loop.point);
    const auto check = [&](const std::string& name, const char* option) {
        if (!known.contains(name)) {
            throw NetworkError(std::string(option) + " " + name +
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
        say("rendle-net: benchmarks of the file that no input has (not used): " + names);
    }
}

}  // namespace

JobResult RunNetworkJob(NetworkJob job, const std::function<void(const std::string&)>& say) {
    AdjustmentOptions& options = job.options;
    if ((!job.approx.empty() || !job.datum.empty()) &&
        (!job.fixes.empty() || !job.benchmarksFile.empty())) {
        say(std::string("rendle-net: --") + (job.approx.empty() ? "datum" : "approx") +
            " applies to a free network only, and benchmarks are given");
        return {JobStatus::BadUsage, {}, {}, false, {}};
    }
    if (const std::string clash = SameInputTwice(job.inputs, job.benchmarksFile); !clash.empty()) {
        say("rendle-net: " + clash);
        return {JobStatus::BadUsage, {}, {}, false, {}};
    }
    options.snoop = job.snoop == "always"  ? Snooping::Always
                    : job.snoop == "while" ? Snooping::WhileGlobalTestFails
                                           : Snooping::Off;

    options.weighting = job.weights == "setups"  ? Weighting::SetUps
                        : job.weights == "sigma" ? Weighting::Sigma
                                                 : Weighting::Length;
    ReportSettings settings;
    settings.alpha = options.alpha;
    settings.alpha0 = options.alpha0;
    settings.power = options.power;
    settings.weights =
        job.weights == "setups"
            ? "by set-ups, " + grid::GeneralNumberText(options.sigmaSetUpMm) + " mm x sqrt(n)"
        : job.weights == "sigma"
            ? "by each observation's sigma_mm"
            : "by length, " + grid::GeneralNumberText(options.sigmaKmMm) + " mm x sqrt(L km)";
    options.limits =
        LimitsOfClass(job.classId.empty() ? nullptr : core::FindToleranceClass(job.classId));
    settings.tolerance = options.limits.words;
    settings.snooping = options.snoop == Snooping::Always ? "always"
                        : options.snoop == Snooping::Off  ? "off"
                                                          : "while the global test fails";
    // Each snooping round told as it ends, on a terminal.
    if (options.snoop != Snooping::Off && job.tellSnooping) {
        options.onSnoopingStep = [&say](const SnoopingStep& step, size_t round) {
            say("rendle-net: snooping round " + std::to_string(round) + ": removed observation " +
                std::to_string(step.observation + 1) + ", w " + grid::FormatNumber(step.w, "0.00"));
        };
    }
    bool saveRefused = false;

    NetworkResult result;
    try {
        std::vector<Benchmark> benchmarks;
        if (!job.benchmarksFile.empty()) {
            std::ifstream in = OpenInput(job.benchmarksFile);
            benchmarks = ReadBenchmarks(in, job.benchmarksFile);
        }
        for (const std::string& fix : job.fixes) benchmarks.push_back(ParseBenchmark(fix));
        for (const std::string& a : job.approx) {
            const Benchmark b = ParseBenchmark(a);
            if (b.sigmaMm) throw NetworkError("--approx " + a + ": not NAME=HEIGHT");
            options.approx.emplace_back(b.name, b.height);
        }
        options.datum = job.datum;
        if (!job.savePath.empty()) {
            std::vector<std::string> all = job.inputs;
            if (!job.benchmarksFile.empty()) all.push_back(job.benchmarksFile);
            CheckSaveTarget(job.savePath, all);
        }

        std::set<std::string, std::less<>> networkPoints(job.points.begin(), job.points.end());
        for (const Benchmark& b : benchmarks) networkPoints.insert(b.name);
        const NetworkInput input = ReadInputs(job.inputs, job.encoding, [&](std::string_view name) {
            return networkPoints.contains(name);
        });
        for (const std::string& warning : input.warnings) say(warning);
        CheckNames(input, benchmarks, job.fixes.size(), job.points, options, say);
        if (!job.savePath.empty()) {
            // Known before the adjustment: the workbook is refused, the report still printed.
            try {
                std::set<std::string_view> names;
                for (const Observation& o : input.observations) {
                    names.insert(o.from);
                    names.insert(o.to);
                }
                CheckWorkbookRows(names.size(), input.observations.size() + benchmarks.size());
            } catch (const NetworkError& error) {
                say("rendle-net: cannot write " + job.savePath + ": " + error.what());
                saveRefused = true;
            }
        }
        result = Adjust(input.observations, benchmarks, input.lineLoops, options);
    } catch (const NetworkError& error) {
        say(std::string("rendle-net: ") + error.what());
        return {JobStatus::BadInput, {}, {}, false, {}};
    } catch (const std::invalid_argument& error) {  // an encoding iconv does not know
        say(std::string("rendle-net: ") + error.what());
        return {JobStatus::BadUsage, {}, {}, false, {}};
    }

    JobResult done;
    std::ostringstream report;
    if (job.asJson) {
        WriteJsonReport(result, settings, report);
    } else {
        WriteTextReport(result, settings, report);
    }
    done.report = report.str();
    done.saveRefused = saveRefused;
    if (!job.savePath.empty() && !saveRefused) {
        done.sheets.push_back(HeightsSheet(result));
        done.sheets.push_back(ObservationsSheet(result));
    }
    const std::vector<std::string> failures = Failures(result);
    for (const std::string& f : failures) {
        done.failures += (done.failures.empty() ? "" : "; ") + f;
    }
    done.status = failures.empty() ? JobStatus::Passed : JobStatus::TestFailed;
    return done;
}

}  // namespace rendle::network
