// rendle-reduce's command line: its options, help and manual page text, and the run of the
// books it names.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "readers/ReadResult.h"

namespace rendle::cli {

/// What rendle-reduce's command line asks for.
struct ReduceCommand {
    std::vector<std::string> fieldBooks;
    unsigned jobs = 1;
    std::optional<readers::FieldBookFormat> format;
    std::optional<std::string> startRL;
    std::optional<std::string> endRL;
    bool asJson = false;
    bool jsonLines = false;
    std::string savePath;
    std::string pdfPath;
    std::string encoding;
    std::optional<double> toleranceMm;
    std::vector<double> balanceLimits;
    std::optional<double> stationLimitMm;
    std::optional<int> runNumber;
    std::string classId;
    std::string classFile;  ///< a surveyor's own class, as JSON
    /// Corrections of the readings: the staff table and the staffs, their temperature, and K
    /// for curvature and refraction.
    std::string staffsFile;
    std::vector<std::string> staffs;
    std::optional<double> temperature;
    std::optional<double> refraction;
    bool quiet = false;  ///< no progress line
};

/// Parses rendle-reduce's command line into `command`. Nothing when the program goes on; else
/// the status it ends with (after --help or --version, or bad usage said on stderr).
std::optional<int> ParseReduceArguments(int argc, char** argv, ReduceCommand& command);

/// Reduces the books `command` names (or prints the class list), their output on standard
/// output in the order given; `stop` set by a signal starts no further book. The exit status.
int RunReduceCommand(const ReduceCommand& command, const std::atomic<bool>& stop);

}  // namespace rendle::cli
