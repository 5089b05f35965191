// One job of the network adjustment as the command line gives it: its inputs read, its names
// checked, the network adjusted, and the report and workbook sheets made; what the program
// only writes out.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "grid/Grid.h"
#include "network/Adjustment.h"
#include "network/Drawing.h"
#include "network/NetworkReport.h"
#include "network/NormalOrthometric.h"

namespace rendle::network {

struct NetworkJob {
    std::vector<std::string> inputs;  ///< field books and CSV files of observations
    std::vector<std::string> fixes;   ///< NAME=HEIGHT[:SIGMA_MM]
    std::string benchmarksFile;
    std::vector<std::string> points;
    std::vector<std::string> datum;
    std::vector<std::string> approx;  ///< NAME=HEIGHT
    std::string weights;              ///< length, setups or sigma; empty: not given
    std::string svgPath;              ///< the drawing, as SVG
    std::string pdfPath;              ///< the drawing and the paged report
    std::string gamaXmlPath;          ///< the job as GNU Gama's input
    std::string coordinatesFile;      ///< name,east,north of the points, for the drawing
    std::string colourBy = "w";       ///< sections coloured by "w" or "redundancy"
    std::string order = "natural";    ///< points "natural" (BM2 before BM10) or as "input"
    bool confidenceGiven = false;     ///< --confidence given: a Gama input's conf-pr yields
    std::string snoop;                ///< "", "while" or "always"
    std::string classId;
    std::string classFile;  ///< a surveyor's own class, as JSON
    std::string savePath;
    std::string encoding;
    /// Staff corrections: the staff table, and the staffs of the runs (one, or two that
    /// leapfrog from the first backsight); the staffs' temperature, °C.
    std::string staffsFile;
    std::vector<std::string> staffs;
    std::optional<double> temperature;
    /// Curvature and refraction corrected over each set-up's own sights, with this K.
    std::optional<double> refraction;
    /// The normal-orthometric correction of every height difference, the points' latitudes
    /// from `positionsFile` (name,latitude,longitude), their northward part as
    /// `normalOrthometricForm`.
    bool normalOrthometric = false;
    NormalOrthometricForm normalOrthometricForm = NormalOrthometricForm::Latitude;
    std::string positionsFile;
    bool asJson = false;
    /// Each snooping round told as it ends (on a terminal).
    bool tellSnooping = false;
    /// Where the work is, for a progress line ("reading north.gsi (1 of 2)", "factoring").
    /// A window's Cancel throws from here: the job ends where it stands, nothing kept.
    std::function<void(const std::string&)> progress;
    AdjustmentOptions options;
    /// Make every output's content (sheets, drawing, SVG, Gama's XML) whatever paths are named:
    /// a window writes them later, when asked.
    bool makeEveryOutput = false;
};

enum class JobStatus {
    Passed,      ///< adjusted, every test passed
    TestFailed,  ///< adjusted, but a test failed (`failures` says which)
    BadInput,    ///< nothing adjusted
    BadUsage,    ///< options that do not go together
};

struct JobResult {
    JobStatus status = JobStatus::Passed;
    std::string report;  ///< the text report; empty when the JSON document is asked for
    /// The JSON document, written once the files asked for are (or are not) written.
    std::function<void(const NetworkOutputs& outputs, std::ostream& out)> writeJson;
    /// The workbook's sheets (summary, heights, observations, loops, lines between benchmarks,
    /// sections run twice, snooping), when a workbook or a PDF is asked for and can be written.
    std::vector<grid::Grid> sheets;
    /// The drawing, when an SVG or a PDF is asked for; `svg` its SVG text.
    std::optional<Drawing> drawing;
    std::string svg;
    std::string gamaXml;       ///< the job as GNU Gama's input, when asked for
    bool saveRefused = false;  ///< asked for, but too big for a workbook (said)
    std::string failures;      ///< why the status is TestFailed, in one line
    /// The adjustment itself and how it was set up, for a window's tables and summary.
    std::shared_ptr<const NetworkResult> adjustment;
    ReportSettings settings;
};

/// One input as a window lists it before adjusting: its levelling lines cut into sections at
/// the line ends and the given network points, or why it cannot be read.
struct InputOutline {
    std::vector<Observation> sections;  ///< each with its line, numbered in this input
    std::vector<LineLoop> loops;
    size_t lines = 0;
    std::string error;       ///< why it cannot be read, in one line; empty when read
    bool recognised = true;  ///< a field book, a file of observations or a Gama input at all
};

/// Reads `path` alone as the job would (GNU Gama's held points and the `networkPoints` cut its
/// lines); never throws for bad input.
InputOutline OutlineInput(const std::string& path, const std::string& encoding,
                          const std::vector<std::string>& networkPoints);

/// Runs the job; what it says on the way (warnings, refusals, snooping rounds) goes to `say`,
/// one line each, already headed "rendle-net: " where it is the program's own.
JobResult RunNetworkJob(NetworkJob job, const std::function<void(const std::string&)>& say);

}  // namespace rendle::network
