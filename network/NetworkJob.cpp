#include "network/NetworkJob.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "core/ToleranceClasses.h"
#include "grid/NumberFormat.h"
#include "network/GamaXml.h"
#include "network/NaturalOrder.h"
#include "network/NetworkInput.h"
#include "network/NetworkReport.h"
#include "network/NormalOrthometric.h"
#include "network/Problem.h"
#include "readers/FieldBook.h"
#include "readers/Formats.h"
#include "readers/LineDecoder.h"

namespace rendle::network {

namespace {

JobResult Ended(JobStatus status) {
    JobResult ended;
    ended.status = status;
    return ended;
}

std::string ExtensionOf(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

bool IsCsv(const std::string& path) {
    return ExtensionOf(path) == ".csv";
}

/// GNU Gama's input: a .gkf file, or .xml.
bool IsGama(const std::string& path) {
    const std::string extension = ExtensionOf(path);
    return extension == ".gkf" || extension == ".xml";
}

std::string Slurp(const std::string& path);

std::ifstream OpenInput(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        throw NetworkError("cannot read " + path + ": a folder, not a file");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) throw NetworkError("cannot open " + path);
    return in;
}

std::string Slurp(const std::string& path) {
    std::ifstream in = OpenInput(path);
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw NetworkError("cannot read " + path);
    return text.str();
}

/// Height differences given as rows of a file: no readings and no sights, so the staff's scale
/// alone is corrected, dh × (scale + α (T − T0)), one staff, at the row's temperature or the
/// job's; curvature and refraction cannot be, and that is said once.
void CorrectRowsOfFile(std::vector<Observation>& rows, const core::ReadingCorrections& c,
                       const std::string& path, NetworkInput& input) {
    if (!c.staffs.empty() && c.staffs.size() != 1) {
        throw NetworkError(path +
                           ": its rows give height differences, not readings: they are "
                           "corrected for one staff only (--staff S)");
    }
    if (c.refraction && !rows.empty()) {
        input.warnings.push_back(path +
                                 ": rows of height differences have no sights: curvature and "
                                 "refraction not corrected in them");
    }
    for (Observation& o : rows) {
        DhCorrections corrected;
        if (!c.staffs.empty()) {
            corrected.staff = o.dh * core::ScaleOf(c.staffs.front(),
                                                   o.temperature ? o.temperature : c.temperature);
            if (o.temperature) ++input.rowsAtOwnTemperature;
        }
        o.dh += corrected.Total();
        o.corrections = corrected;
    }
}

/// The network's inputs read, in the order given (GNU Gama's inputs read before, in `gama`).
NetworkInput ReadInputs(const std::vector<std::string>& paths, const std::string& encoding,
                        const IsNetworkPoint& isNetworkPoint,
                        std::map<std::string, GamaNetwork>& gama,
                        const std::function<void(const std::string&)>& progress,
                        const core::ReadingCorrections* corrections = nullptr) {
    NetworkInput input;
    size_t done = 0;
    for (const std::string& path : paths) {
        if (progress) {
            progress("reading " + path + " (" + std::to_string(++done) + " of " +
                     std::to_string(paths.size()) + ")");
        }
        if (IsGama(path)) {
            GamaNetwork& net = gama.at(path);
            if (corrections && corrections->Any() && !net.observations.empty()) {
                input.warnings.push_back(path +
                                         ": GNU Gama's height differences are taken as "
                                         "given: not corrected");
            }
            const size_t offset = input.observations.size();
            for (CorrelatedBlock block : net.correlated) {
                for (size_t& k : block.observations) k += offset;
                input.correlated.push_back(std::move(block));
            }
            std::vector<Observation>& read = net.observations;
            std::move(read.begin(), read.end(), std::back_inserter(input.observations));
            continue;
        }
        std::ifstream in = OpenInput(path);
        if (IsCsv(path)) {
            std::vector<Observation> read = ReadObservations(in, path);
            if (corrections) CorrectRowsOfFile(read, *corrections, path, input);
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
        AddBook(book, path, decoder, isNetworkPoint, input, corrections);
    }
    return input;
}

/// An output never replaces an input, another output or a folder.
void CheckOutputs(const std::vector<std::pair<const char*, std::string>>& outputs,
                  const std::vector<std::string>& inputs) {
    std::error_code error;
    for (size_t i = 0; i < outputs.size(); ++i) {
        const auto& [option, path] = outputs[i];
        if (path.empty()) continue;
        for (const std::string& input : inputs) {
            if (path == input || std::filesystem::equivalent(path, input, error)) {
                throw NetworkError(std::string(option)
                                       .append(" ")
                                       .append(path)
                                       .append(" would replace the input ")
                                       .append(input));
            }
        }
        if (std::filesystem::is_directory(path, error)) {
            throw NetworkError(std::string(option) + " " + path + " is a folder; name the file");
        }
        for (size_t j = 0; j < i; ++j) {
            const auto& [other, otherPath] = outputs[j];
            if (!otherPath.empty() &&
                (path == otherPath || std::filesystem::equivalent(path, otherPath, error))) {
                throw NetworkError(std::string(option) + " " + path + " is the file of " + other +
                                   " as well");
            }
        }
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
    // Names that differ only in letter case or blanks (BM1, bm1, "BM 1") are two points to the
    // adjustment: likely one point booked two ways, which would split the network there.
    std::map<std::string, std::string, std::less<>> folded;
    size_t alike = 0;
    for (const std::string& name : known) {
        std::string key;
        for (const char c : name) {
            if (c != ' ' && c != '\t')
                key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        const auto [first, added] = folded.emplace(key, name);
        if (added) continue;
        if (++alike <= 10) {
            say("rendle-net: the points " + first->second + " and " + name +
                " differ only in letter case or blanks; they are adjusted as two points");
        }
    }
    if (alike > 10) {
        say("rendle-net: and " + std::to_string(alike - 10) +
            " more pairs of points that differ only in letter case or blanks");
    }
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

namespace {

std::string PartsWarning(const NetworkResult& result) {
    // A free network's parts each lie on their own datum points: a height of one part says
    // nothing about a height of another, though the report lists them side by side.
    std::string parts;
    const size_t named = std::min(result.partPoints.size(), kNamedPoints);
    for (size_t i = 0; i < named; ++i) {
        parts += (i == 0 ? "" : ", ") + result.partPoints[i];
    }
    if (result.partPoints.size() > named) {
        parts += " and " + std::to_string(result.partPoints.size() - named) + " more";
    }
    return "rendle-net: the free network falls into " + std::to_string(result.parts) +
           " parts that share no point (the parts of " + parts +
           "): each part's heights lie on its own datum points, unrelated to the other parts'";
}

}  // namespace

namespace {

using Say = std::function<void(const std::string&)>;

/// Options that do not go together, and outputs that could only fail: said, and the job ends
/// before any input is read.
bool UsageIsSound(const NetworkJob& job, const Say& say) {
    if ((!job.approx.empty() || !job.datum.empty()) &&
        (!job.fixes.empty() || !job.benchmarksFile.empty())) {
        say(std::string("rendle-net: --") + (job.approx.empty() ? "datum" : "approx") +
            " applies to a free network only, and benchmarks are given");
        return false;
    }
    switch (core::StaffsGapOf(job.staffsFile, job.staffs, job.temperature.has_value())) {
        case core::StaffsGap::None:
            break;
        case core::StaffsGap::NoTable:
            say("rendle-net: --staff names staffs of a staff table: give the table with --staffs");
            return false;
        case core::StaffsGap::NoStaffs:
            say("rendle-net: --staffs " + job.staffsFile +
                ": name the staffs of the runs with --staff");
            return false;
        case core::StaffsGap::TemperatureWithoutStaffs:
            say("rendle-net: --temperature is the staffs' temperature: give the staffs too "
                "(--staffs, --staff)");
            return false;
    }
    if (!job.classFile.empty() && !job.classId.empty()) {
        say("rendle-net: --class and --class-file name two classes; give one");
        return false;
    }
    if (job.normalOrthometric != !job.positionsFile.empty()) {
        say(job.normalOrthometric
                ? "rendle-net: --normal-orthometric needs the points' latitudes: give --positions "
                  "FILE.csv (name,latitude,longitude)"
                : "rendle-net: --positions is for --normal-orthometric");
        return false;
    }
    if (const std::string clash = SameInputTwice(job.inputs, job.benchmarksFile); !clash.empty()) {
        say("rendle-net: " + clash);
        return false;
    }
    // An output in a folder that does not exist is known before any input is read: nothing
    // is adjusted only to be thrown away, as rendle-reduce refuses it.
    for (const auto& [option, path] :
         {std::pair{"--save", &job.savePath}, std::pair{"--svg", &job.svgPath},
          std::pair{"--pdf", &job.pdfPath}, std::pair{"--gama-xml", &job.gamaXmlPath}}) {
        if (path->empty()) continue;
        std::error_code error;
        const std::filesystem::path folder = std::filesystem::path(*path).parent_path();
        if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
            say("rendle-net: " + std::string(option) + " " + *path +
                " is in a folder that does not exist");
            return false;
        }
    }
    return true;
}

/// The adjustment's options from the job's words (weights, snooping, class), and how the
/// report names them.
ReportSettings SetUpOptions(NetworkJob& job, const Say& say) {
    AdjustmentOptions& options = job.options;
    options.snoop = job.snoop == "always"  ? Snooping::Always
                    : job.snoop == "while" ? Snooping::WhileGlobalTestFails
                                           : Snooping::Off;
    // GNU Gama's inputs carry each height difference's standard deviation: weighted by it,
    // unless told otherwise.
    if (job.weights.empty()) {
        const bool allGama = std::all_of(job.inputs.begin(), job.inputs.end(), IsGama);
        job.weights = allGama ? "sigma" : "length";
    }
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
    const core::ToleranceClass* byClass =
        job.classId.empty() ? nullptr : core::FindToleranceClass(job.classId);
    if (!job.classFile.empty()) byClass = &core::LoadClassFile(job.classFile);
    options.limits = LimitsOfClass(byClass);
    settings.tolerance = options.limits.words;
    settings.snooping = options.snoop == Snooping::Always ? "always"
                        : options.snoop == Snooping::Off  ? "off"
                                                          : "while the global test fails";
    // Each snooping round told as it ends, on a terminal.
    if (options.snoop != Snooping::Off && job.tellSnooping) {
        options.onSnoopingStep = [say](const SnoopingStep& step, size_t round) {
            say("rendle-net: snooping round " + std::to_string(round) + ": removed observation " +
                std::to_string(step.observation + 1) + ", w " + grid::FormatNumber(step.w, "0.00"));
        };
    }
    if (job.progress) options.onStage = job.progress;
    return settings;
}

/// What the inputs give the adjustment: benchmarks (a file's first, then --fix), the datum and
/// approximate heights of a free network, and the points' coordinates for the drawing.
struct JobData {
    core::ReadingCorrections corrections;
    std::vector<Benchmark> benchmarks;
    std::vector<CorrelatedBlock> correlatedBenchmarks;
    std::map<std::string, GamaNetwork> gama;
    Positions coordinates;
    size_t rowsAtOwnTemperature = 0;  ///< as NetworkInput counts them
};

/// The corrections the job asks for, the staff table read; and how the report says them.
core::ReadingCorrections ReadingCorrectionsOf(const NetworkJob& job, std::string& words) {
    core::ReadingCorrections c;
    if (!job.staffsFile.empty()) {
        try {
            c.staffs = core::LoadStaffs(job.staffsFile, job.staffs);
        } catch (const core::CorrectionError& error) {
            throw NetworkError(error.what());
        }
        c.temperature = job.temperature;
    }
    c.refraction = job.refraction;
    words = core::CorrectionWords(c, job.staffsFile);
    return c;
}

JobData ReadBenchmarksAndGama(const NetworkJob& job, AdjustmentOptions& options) {
    JobData data;
    std::vector<Benchmark>& benchmarks = data.benchmarks;
    if (!job.benchmarksFile.empty()) {
        std::ifstream in = OpenInput(job.benchmarksFile);
        benchmarks = ReadBenchmarks(in, job.benchmarksFile, &data.correlatedBenchmarks);
    }
    // GNU Gama's inputs first: their held points are benchmarks the field books are cut at.
    std::vector<std::string> gamaDatum;
    for (const std::string& path : job.inputs) {
        if (!IsGama(path)) continue;
        GamaNetwork& net = data.gama[path] = ReadGamaXml(Slurp(path), path);
        benchmarks.insert(benchmarks.end(), net.benchmarks.begin(), net.benchmarks.end());
        gamaDatum.insert(gamaDatum.end(), net.datum.begin(), net.datum.end());
        if (net.confidence && !job.confidenceGiven) options.confidence = *net.confidence;
    }
    for (const std::string& fix : job.fixes) benchmarks.push_back(ParseBenchmark(fix));
    for (const std::string& a : job.approx) {
        const Benchmark b = ParseBenchmark(a);
        if (b.sigmaMm) throw NetworkError("--approx " + a + ": not NAME=HEIGHT");
        options.approx.emplace_back(b.name, b.height);
    }
    // A free network of Gama inputs is laid over the z of their adjusted points, as
    // gama-local lays it, where --approx gives a point none of its own; a point no <dh>
    // reaches has no height to lay.
    for (const auto& [path, net] : data.gama) {
        if (!benchmarks.empty()) break;
        std::set<std::string, std::less<>> observed;
        for (const Observation& o : net.observations) {
            observed.insert(o.from);
            observed.insert(o.to);
        }
        for (const std::pair<std::string, double>& point : net.approx) {
            const bool given =
                std::any_of(options.approx.begin(), options.approx.end(),
                            [&point](const auto& a) { return a.first == point.first; });
            if (!given && observed.contains(point.first)) options.approx.push_back(point);
        }
    }
    options.datum = job.datum;
    // A free network of a Gama input is laid over the points it constrains (adj="Z").
    if (options.datum.empty() && benchmarks.empty()) options.datum = gamaDatum;
    return data;
}

void CheckCoordinates(const NetworkJob& job, const NetworkInput& input,
                      const Positions& coordinates) {
    std::set<std::string, std::less<>> missing;
    for (const Observation& o : input.observations) {
        for (const std::string* p : {&o.from, &o.to}) {
            if (!coordinates.contains(*p)) missing.insert(*p);
        }
    }
    if (!missing.empty()) {
        throw NetworkError(job.coordinatesFile + " has no coordinates for " +
                           PointList({missing.begin(), missing.end()}));
    }
}

/// Whether the workbook's sheets can hold the network, known before the adjustment: when
/// they cannot, the workbook is refused, the report still printed.
bool WorkbookHolds(const NetworkJob& job, const NetworkInput& input, size_t benchmarks,
                   const Say& say) {
    try {
        std::set<std::string_view> names;
        for (const Observation& o : input.observations) {
            names.insert(o.from);
            names.insert(o.to);
        }
        CheckWorkbookRows(names.size(), input.observations.size() + benchmarks);
        return true;
    } catch (const NetworkError& error) {
        for (const std::string* path : {&job.savePath, &job.pdfPath}) {
            if (!path->empty()) say("rendle-net: cannot write " + *path + ": " + error.what());
        }
        if (job.makeEveryOutput && job.savePath.empty() && job.pdfPath.empty()) {
            say(std::string("rendle-net: no workbook or report can be made: ") + error.what());
        }
        return false;
    }
}

/// The normal-orthometric correction of every height difference: the heights it takes are those
/// of an adjustment without it (to the millimetre, where the correction needs a metre).
void CorrectNormalOrthometric(const NetworkJob& job, std::vector<Observation>& observations,
                              const std::vector<Benchmark>& benchmarks,
                              const std::vector<LineLoop>& lineLoops,
                              const AdjustmentOptions& options) {
    std::ifstream in = OpenInput(job.positionsFile);
    const GeographicPositions positions = ReadGeographicPositions(in, job.positionsFile);
    std::set<std::string, std::less<>> missing;
    for (const Observation& o : observations) {
        for (const std::string* p : {&o.from, &o.to}) {
            if (!positions.contains(*p)) missing.insert(*p);
        }
    }
    if (!missing.empty()) {
        throw NetworkError(job.positionsFile + " has no latitude for " +
                           PointList({missing.begin(), missing.end()}) +
                           ": the normal-orthometric correction needs every point's");
    }
    AdjustmentOptions first = options;
    first.snoop = Snooping::Off;
    first.onSnoopingStep = nullptr;
    std::map<std::string, double, std::less<>> heights;
    for (const AdjustedHeight& h : Adjust(observations, benchmarks, lineLoops, first).heights) {
        heights[h.point] = h.height;
    }
    for (Observation& o : observations) {
        const double correction = NormalOrthometricCorrection(
            positions.find(o.from)->second, heights[o.from], positions.find(o.to)->second,
            heights[o.to], job.normalOrthometricForm);
        if (!o.corrections) o.corrections = DhCorrections{};
        o.corrections->normalOrthometric = correction;
        o.dh += correction;
    }
}

/// Reads the inputs, checks their names and adjusts; throws NetworkError for bad input.
NetworkResult AdjustJob(const NetworkJob& job, AdjustmentOptions& options,
                        const ReportSettings& settings, const Say& say, JobData& data,
                        bool& saveRefused) {
    {
        std::vector<std::string> all = job.inputs;
        if (!job.benchmarksFile.empty()) all.push_back(job.benchmarksFile);
        if (!job.coordinatesFile.empty()) all.push_back(job.coordinatesFile);
        if (!job.positionsFile.empty()) all.push_back(job.positionsFile);
        if (!job.staffsFile.empty()) all.push_back(job.staffsFile);
        CheckOutputs({{"--save", job.savePath},
                      {"--svg", job.svgPath},
                      {"--pdf", job.pdfPath},
                      {"--gama-xml", job.gamaXmlPath}},
                     all);
    }
    if (!job.coordinatesFile.empty()) {
        std::ifstream in = OpenInput(job.coordinatesFile);
        data.coordinates = ReadCoordinates(in, job.coordinatesFile);
    }
    std::set<std::string, std::less<>> networkPoints(job.points.begin(), job.points.end());
    for (const Benchmark& b : data.benchmarks) networkPoints.insert(b.name);
    const NetworkInput input = ReadInputs(
        job.inputs, job.encoding,
        [&](std::string_view name) { return networkPoints.contains(name); }, data.gama,
        job.progress, data.corrections.Any() ? &data.corrections : nullptr);
    for (const std::string& warning : input.warnings) say(warning);
    data.rowsAtOwnTemperature = input.rowsAtOwnTemperature;
    CheckNames(input, data.benchmarks, job.fixes.size(), job.points, options, say);
    if (!job.coordinatesFile.empty()) CheckCoordinates(job, input, data.coordinates);
    if (!job.savePath.empty() || !job.pdfPath.empty() || job.makeEveryOutput) {
        saveRefused = !WorkbookHolds(job, input, data.benchmarks.size(), say);
    }
    // Correlated blocks weigh by their covariances: with weights of another kind they
    // would mix two models, and are left out, saying so.
    // Observed heights are weighted by their own σ, whatever the weights of the rest: their
    // covariances always count.
    options.correlated = data.correlatedBenchmarks;
    if (options.weighting == Weighting::Sigma) {
        options.correlated.insert(options.correlated.end(), input.correlated.begin(),
                                  input.correlated.end());
    } else if (!input.correlated.empty()) {
        say("rendle-net: the covariances of " + std::to_string(input.correlated.size()) +
            " correlated block" + (input.correlated.size() == 1 ? "" : "s") +
            " of height differences are not used: the observations are weighted " +
            settings.weights);
    }
    std::vector<Observation> observations = input.observations;
    if (job.normalOrthometric) {
        CorrectNormalOrthometric(job, observations, data.benchmarks, input.lineLoops, options);
    }
    NetworkResult result = Adjust(observations, data.benchmarks, input.lineLoops, options);
    if (job.order != "input") SortHeightsNaturally(result);
    if (result.freeNetwork && result.parts > 1) say(PartsWarning(result));
    return result;
}

/// The drawing of the adjusted network: where the coordinates put the points, else laid out.
Drawing DrawJob(const NetworkJob& job, const NetworkResult& result, const Positions& coordinates) {
    DrawingOptions drawing;
    drawing.colourBy = job.colourBy == "redundancy" ? ColourBy::Redundancy : ColourBy::W;
    drawing.datum = job.options.datum;
    drawing.schematic = job.coordinatesFile.empty();
    if (drawing.schematic && job.progress) job.progress("laying the network out");
    return DrawNetwork(result, drawing.schematic ? SchematicLayout(result) : coordinates, drawing);
}

}  // namespace

InputOutline OutlineInput(const std::string& path, const std::string& encoding,
                          const std::vector<std::string>& networkPoints) {
    InputOutline outline;
    try {
        std::set<std::string, std::less<>> points(networkPoints.begin(), networkPoints.end());
        std::map<std::string, GamaNetwork> gama;
        if (IsGama(path)) {
            gama[path] = ReadGamaXml(Slurp(path), path);
        } else if (!IsCsv(path)) {
            std::ifstream in = OpenInput(path);
            const readers::LineDecoder decoder(encoding);
            readers::Book book;
            std::string error;
            if (!readers::LoadBook(in, std::nullopt, decoder, book, error) || !book.format) {
                outline.recognised = false;
            }
        }
        NetworkInput input =
            ReadInputs({path}, encoding,
                       [&](std::string_view name) { return points.contains(name); }, gama, {});
        outline.sections = std::move(input.observations);
        outline.loops = std::move(input.lineLoops);
        outline.lines = input.lines;
    } catch (const NetworkError& error) {
        outline.error = error.what();
    } catch (const std::invalid_argument& error) {
        outline.error = error.what();
    }
    return outline;
}

JobResult RunNetworkJob(NetworkJob job, const std::function<void(const std::string&)>& say) {
    if (!UsageIsSound(job, say)) return Ended(JobStatus::BadUsage);
    ReportSettings settings;
    try {
        settings = SetUpOptions(job, say);
    } catch (const core::ClassFileError& error) {
        say(std::string("rendle-net: ") + error.what());
        return Ended(JobStatus::BadUsage);
    }
    AdjustmentOptions& options = job.options;
    bool saveRefused = false;
    auto result = std::make_shared<NetworkResult>();
    JobData data;
    try {
        data = ReadBenchmarksAndGama(job, options);
        data.corrections = ReadingCorrectionsOf(job, settings.corrections);
        if (job.normalOrthometric) {
            settings.corrections += std::string(settings.corrections.empty() ? "" : "; ") +
                                    "normal-orthometric (latitudes of " + job.positionsFile +
                                    ", GRS80 f* 0.005302440112" +
                                    (job.normalOrthometricForm == NormalOrthometricForm::Geodesic
                                         ? ", along the geodesic)"
                                         : ")");
        }
        *result = AdjustJob(job, options, settings, say, data, saveRefused);
        if (const size_t rows = data.rowsAtOwnTemperature; rows > 0) {
            settings.corrections += "; " + std::to_string(rows) +
                                    (rows == 1 ? " row at its own" : " rows at their own") +
                                    " temperature_c";
        }
    } catch (const NetworkError& error) {
        say(std::string("rendle-net: ") + error.what());
        return Ended(JobStatus::BadInput);
    } catch (const std::invalid_argument& error) {  // an encoding iconv does not know
        say(std::string("rendle-net: ") + error.what());
        return Ended(JobStatus::BadUsage);
    }

    const bool every = job.makeEveryOutput;
    JobResult done;
    if (!job.asJson) {
        std::ostringstream report;
        WriteTextReport(*result, settings, report);
        done.report = report.str();
    }
    done.saveRefused = saveRefused;
    if ((every || !job.savePath.empty() || !job.pdfPath.empty()) && !saveRefused) {
        done.sheets = WorkbookSheets(*result, settings);
    }
    if (every || !job.svgPath.empty() || !job.pdfPath.empty()) {
        try {
            done.drawing = DrawJob(job, *result, data.coordinates);
        } catch (const NetworkError& error) {
            say(std::string("rendle-net: ") + error.what());
            return Ended(JobStatus::BadInput);
        }
        if (every || !job.svgPath.empty()) done.svg = SvgOf(*done.drawing);
    }
    if (every || !job.gamaXmlPath.empty()) {
        std::string description = "Levelling network of";
        for (const std::string& input : job.inputs) description += " " + input;
        if (!settings.corrections.empty()) {
            description += "; height differences corrected for " + settings.corrections;
        }
        done.gamaXml = GamaXmlOf(*result, options.datum, description);
    }
    if (job.asJson) {
        done.writeJson = [adjusted = result, settings](const NetworkOutputs& outputs,
                                                       std::ostream& out) {
            WriteJsonReport(*adjusted, settings, out, outputs);
        };
    }
    const std::vector<std::string> failures = Failures(*result);
    for (const std::string& f : failures) {
        done.failures += (done.failures.empty() ? "" : "; ") + f;
    }
    done.status = failures.empty() ? JobStatus::Passed : JobStatus::TestFailed;
    done.adjustment = std::move(result);
    done.settings = settings;
    return done;
}

}  // namespace rendle::network
