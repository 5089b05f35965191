// One job of the network adjustment as the command line gives it: its inputs read, its names
// checked, the network adjusted, and the report and workbook sheets made; what the program
// only writes out.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "grid/Grid.h"
#include "network/Adjustment.h"

namespace rendle::network {

struct NetworkJob {
    std::vector<std::string> inputs;  ///< field books and CSV files of observations
    std::vector<std::string> fixes;   ///< NAME=HEIGHT[:SIGMA_MM]
    std::string benchmarksFile;
    std::vector<std::string> points;
    std::vector<std::string> datum;
    std::vector<std::string> approx;  ///< NAME=HEIGHT
    std::string weights = "length";   ///< length, setups or sigma
    std::string snoop;                ///< "", "while" or "always"
    std::string classId;
    std::string savePath;
    std::string encoding;
    bool asJson = false;
    /// Each snooping round told as it ends (on a terminal).
    bool tellSnooping = false;
    AdjustmentOptions options;
};

enum class JobStatus {
    Passed,      ///< adjusted, every test passed
    TestFailed,  ///< adjusted, but a test failed (`failures` says which)
    BadInput,    ///< nothing adjusted
    BadUsage,    ///< options that do not go together
};

struct JobResult {
    JobStatus status = JobStatus::Passed;
    std::string report;  ///< the text report or the JSON document
    /// The workbook's sheets, when one is asked for and can be written.
    std::vector<grid::Grid> sheets;
    bool saveRefused = false;  ///< asked for, but too big for a workbook (said)
    std::string failures;      ///< why the status is TestFailed, in one line
};

/// Runs the job; what it says on the way (warnings, refusals, snooping rounds) goes to `say`,
/// one line each, already headed "rendle-net: " where it is the program's own.
JobResult RunNetworkJob(NetworkJob job, const std::function<void(const std::string&)>& say);

}  // namespace rendle::network
