#include "cli/NetArguments.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "cli/Arguments.h"
#include "cli/Terminal.h"
#include "core/ToleranceClasses.h"
#include "network/JobFile.h"

namespace rendle::cli {

namespace {

namespace net = rendle::network;

/// A job file that cannot be read is bad input, as a field book that cannot be.
constexpr int kBadJobFile = 2;

const char* kDescription =
    R"(Adjusts levelling runs together as a network, by least squares.

Input: field books of every format Rendle reads (each levelling line of a GSI or DiNi book a
line of its own; the format told from the content), CSV files of observations (a name
ending .csv: a header row naming from,to,dh,length_km and, if wanted, setups and sigma_mm; dh
in metres) and GNU Gama's inputs (a name ending .gkf or .xml: points fix="z" held, adj="Z" the
datum of a free network, <height-differences> of <dh from to val stdev dist>, a <cov-mat> with
covariances making its block one correlated block of the weight matrix, observed heights in
<coordinates> weighted, correlated too where their <cov-mat> has a band; other observation
kinds are refused by name). A line's first and last points are points of the network; a point inside a line is
one only when it is a benchmark or named with --point (turning points carry the same names from
line to line and never join lines). Each line gives one observation per section between its
network points: dh = sum of rises - sum of falls, its length (the back and fore sights) and its
set-ups. A line that closes on its own starting point with no network point inside is a loop:
checked by its misclosure, adding no unknown.

Datum: --fix NAME=HEIGHT holds a benchmark fixed; NAME=HEIGHT:SIGMA_MM makes its height a
weighted observation; --benchmarks FILE.csv gives them as name,height[,sigma_mm] (a header may
add cov_NAME columns: covariances in mm² with benchmark NAME, making a correlated block). Every part of
the network needs a benchmark. With none, a free network: laid over the --datum points (every
point by default, minimum norm), from approximate heights given with --approx or carried along
the lines from the first point at 0; one in parts that share no point is said so.

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
are checked against the misclose limits of --class (its loop and section figures; --class list
names the classes), else 2 mm x sqrt(K), as the level sheet uses; one without a length by the
sigma of its misclosure. Each is named L1, D1, B1... alike in the report, the JSON, the workbook
and the drawing.

Output: the text report on standard output, or with --json one JSON object (metres
throughout, to a nanometre in their shortest form; w, r and test statistics in their shortest
round-trip form; every key always there, "outputs" saying of each file asked for its path and
whether it was written; docs/rendle-net.schema.json is its JSON Schema); points in natural order (BM2 before BM10) unless --order input. --save FILE.xlsx
also writes a workbook (summary, heights, observations, loops, lines between benchmarks,
sections run twice, the snooping log); --svg FILE.svg a drawing of the network (held
benchmarks as triangles, weighted benchmarks and datum points as hexagons, adjusted points as
circles with error bars of one sigma; one line per section in the direction of levelling,
coloured by |w| or, with --colour-by redundancy, by r; removed ones dashed red, those without
check dotted; each loop's misclosure against its limit), placed by --coordinates or, without,
by a schematic layout; --pdf FILE.pdf the drawing and the sheets as a paged report;
--gama-xml FILE.gkf the job as GNU Gama's input. Every file is written whole or not at all.
On a terminal a progress line says where long work is (--quiet: none); Ctrl+C ends the program
at once, writing nothing. Bad input is told on stderr in one line, naming the file and line,
and nothing is written.)";

const char* kFooter =
    R"(Exit status: 0 adjusted and every test passed; 1 adjusted, but the global test, an
observation's test, a loop, a line between benchmarks or a section run twice failed, or
snooping could not tell two observations apart (stderr says which in one line); 2 bad input,
nothing written (a line that cannot be read, a point named that no input has, a value past
plausibility, a part of the network no benchmark reaches, a singular system); 4 an output could
not be written; 64 bad usage (the same input given twice, an output in a folder that does not
exist, --approx or --datum beside benchmarks); 70 an internal error.)";

}  // namespace

std::optional<int> ParseNetArguments(int argc, char** argv, network::NetworkJob& job, bool& quiet,
                                     const NetProgram& program) {
    const std::string name = program.name;
    CLI::App app(program.description ? program.description : kDescription, name);
    app.footer(program.footer ? program.footer : kFooter);
    app.get_formatter()->column_width(34);
    net::AdjustmentOptions& options = job.options;

    app.set_version_flag("--version", name + " " + RENDLE_VERSION);
    app.add_option("--fix", job.fixes,
                   "A benchmark: NAME=HEIGHT held fixed, or NAME=HEIGHT:SIGMA_MM weighted "
                   "(repeat for more)")
        ->type_name("NAME=HEIGHT[:SIGMA_MM]")
        ->allow_extra_args(false)
        ->check(NotAnOption);
    app.add_option("--benchmarks", job.benchmarksFile,
                   "Benchmarks from a CSV file: name,height[,sigma_mm]")
        ->type_name("FILE.csv")
        ->check(NotAnOption);
    app.add_option("--point", job.points,
                   "A point inside a line that is a point of the network (a junction); repeat "
                   "or give A,B,...")
        ->delimiter(',')
        ->type_name("NAME")
        ->allow_extra_args(false)
        ->check(NotAnOption);
    app.add_option("--datum", job.datum,
                   "Free network: lay the datum over these points (default every point)")
        ->delimiter(',')
        ->type_name("A,B,...")
        ->allow_extra_args(false)
        ->check(NotAnOption);
    app.add_option("--approx", job.approx, "Free network: an approximate height, NAME=HEIGHT")
        ->type_name("NAME=HEIGHT")
        ->allow_extra_args(false)
        ->check(NotAnOption);
    app.add_option("--weights", job.weights,
                   "Weights by length (default), setups or sigma (the default when every input "
                   "is GNU Gama's)")
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
    app.add_flag("--snoop{while}", job.snoop,
                 "Data snooping while the global test fails: remove the observation of the "
                 "largest |w| beyond the critical value and adjust again, never one it cannot "
                 "tell from another; --snoop always: while any |w| is beyond")
        ->type_name("[always]")
        ->check(CLI::IsMember({"while", "always"}));
    std::string normalOrthometric;  // the form asked for, empty when not
    CLI::Option* confidence = app.add_option("--confidence", options.confidence,
                                             "Confidence of the heights' intervals (default 0.95)")
                                  ->type_name("P")
                                  ->check(CLI::Range(0.5, 0.9999));
    app.add_option("--class", job.classId,
                   "Misclose limits of a tolerance class; --class list names them")
        ->type_name("ID")
        ->check([](const std::string& id) -> std::string {
            if (id == "list" || core::FindToleranceClass(id)) return {};
            return "is no class Rendle knows (--class list names them): " + id;
        });
    AddCorrectionOptions(app, job.staffsFile, job.staffs, job.temperature, job.refraction, "runs");
    app.add_flag("--normal-orthometric{latitude}", normalOrthometric,
                 "Correct every height difference by -f* x H x sin 2phi x dphi (GRS80's f*, H and "
                 "phi the means at its ends, H from a first adjustment; dphi the difference of "
                 "the latitudes, or with =geodesic s x cos(azimuth) / R along the GRS80 "
                 "geodesic); needs --positions")
        ->type_name("[=latitude|geodesic]")
        ->check(CLI::IsMember({"latitude", "geodesic"}));
    app.add_option("--positions", job.positionsFile,
                   "The points' latitudes and longitudes for --normal-orthometric: "
                   "name,latitude,longitude in decimal degrees")
        ->type_name("FILE.csv")
        ->check(NotAnOption);
    app.add_option("--class-file", job.classFile,
                   "Misclose limits of a surveyor's own class, a JSON object of its figures "
                   "(id, name, source, miscloseMm, loopMm, roundTripMm, ...; each optional but "
                   "the id)")
        ->type_name("FILE.json")
        ->check(NotAnOption);
    app.add_flag("--json", job.asJson, "Print one JSON object instead of the text report");
    app.add_option("--save", job.savePath,
                   "Also write a workbook (.xlsx): summary, heights, observations, loops, lines "
                   "between benchmarks, sections run twice, snooping")
        ->type_name("FILE.xlsx")
        ->check(NotAnOption);
    app.add_option("--svg", job.svgPath,
                   "Also draw the network as SVG: points by kind with error bars, sections "
                   "coloured, loops labelled; each element's figures on hover")
        ->type_name("FILE.svg")
        ->check(NotAnOption);
    app.add_option("--pdf", job.pdfPath,
                   "Also print a paged report to PDF: the drawing, then the workbook's sheets")
        ->type_name("FILE.pdf")
        ->check(NotAnOption);
    app.add_option("--gama-xml", job.gamaXmlPath,
                   "Also write the job as GNU Gama's input (gama-local XML)")
        ->type_name("FILE.gkf")
        ->check(NotAnOption);
    app.add_option("--coordinates", job.coordinatesFile,
                   "Draw the points where they lie: a CSV file of name,east,north in metres "
                   "(else a schematic layout)")
        ->type_name("FILE.csv")
        ->check(NotAnOption);
    app.add_option("--colour-by", job.colourBy,
                   "Colour the drawing's sections by |w| (default) or by the redundancy number")
        ->type_name("w|redundancy")
        ->check(CLI::IsMember({"w", "redundancy"}));
    app.add_option("--order", job.order,
                   "Points in natural order, BM2 before BM10 (default), or in the order of the "
                   "inputs")
        ->type_name("natural|input")
        ->check(CLI::IsMember({"natural", "input"}));
    std::string jobFile;
    app.add_option("--job", jobFile,
                   "Take the inputs, benchmarks and options from a job file (as the network "
                   "window saves it); inputs, --fix, --point, --datum and --approx given here "
                   "are added to the file's, other options given here replace the file's")
        ->type_name("FILE")
        ->check(NotAnOption);
    app.add_flag("--quiet", quiet, "No progress line on a terminal");
    app.add_option("--encoding", job.encoding,
                   "Read every field-book line in this encoding (an iconv name such as CP1251)")
        ->check(NotAnOption);
    app.add_option("INPUT", job.inputs, "Field books and CSV files of observations");

    // "--snoop always" is "--snoop=always": the word is the option's, never an input's.
    std::vector<std::string> words(argv, argv + argc);
    for (size_t i = 1; i + 1 < words.size() && words[i] != "--"; ++i) {
        if (words[i] == "--snoop" && words[i + 1] == "always") {
            words[i] = "--snoop=always";
            words.erase(words.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        }
    }
    // The job file first: what the command line gives is then laid over it.
    for (size_t i = 1; i < words.size() && words[i] != "--"; ++i) {
        std::string path;
        if (words[i] == "--job" && i + 1 < words.size()) path = words[i + 1];
        if (words[i].starts_with("--job=")) path = words[i].substr(6);
        if (path.empty()) continue;
        try {
            job = network::LoadJobFile(path);
        } catch (const network::NetworkError& error) {
            Say(name + ": " + error.what());
            return kBadJobFile;
        }
        break;
    }
    const network::NetworkJob fromFile = job;
    std::vector<char*> args(words.size());
    std::transform(words.begin(), words.end(), args.begin(),
                   [](std::string& word) { return word.data(); });
    if (const std::optional<int> ended =
            ParseArguments(app, static_cast<int>(args.size()), args.data())) {
        return *ended;
    }
    job.confidenceGiven = fromFile.confidenceGiven || confidence->count() > 0;
    if (!normalOrthometric.empty()) {
        job.normalOrthometric = true;
        job.normalOrthometricForm = normalOrthometric == "geodesic"
                                        ? network::NormalOrthometricForm::Geodesic
                                        : network::NormalOrthometricForm::Latitude;
    }
    // Lists given on the command line add to the job file's.
    const auto addToFile = [&app](const char* option, const std::vector<std::string>& file,
                                  std::vector<std::string>& mine) {
        if (app.count(option) == 0 || file.empty()) return;
        std::vector<std::string> both = file;
        both.insert(both.end(), mine.begin(), mine.end());
        mine = std::move(both);
    };
    addToFile("INPUT", fromFile.inputs, job.inputs);
    addToFile("--fix", fromFile.fixes, job.fixes);
    addToFile("--point", fromFile.points, job.points);
    addToFile("--datum", fromFile.datum, job.datum);
    addToFile("--approx", fromFile.approx, job.approx);
    // --class list prints the classes and adjusts nothing; anything else needs its inputs.
    if (job.classId == "list" && !job.inputs.empty()) {
        Say(name +
            ": --class list prints the classes and adjusts no network; give it alone "
            "(run with --help for more information)");
        return kUsageError;
    }
    if (job.classId != "list" && job.inputs.empty() && program.inputsRequired) {
        Say(name + ": INPUT is required (run with --help for more information)");
        return kUsageError;
    }
    return std::nullopt;
}

}  // namespace rendle::cli
