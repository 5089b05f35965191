// The run as one JSON document: the level sheet's cells, the run state, the benchmark window's
// boxes, the messages, the outcome and the checks, as rendle-reduce prints it with --json.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "commands/ReadCommand.h"
#include "commands/Windowing.h"
#include "core/Checks.h"
#include "core/RunState.h"
#include "grid/Grid.h"

namespace rendle::report {

/// Which levelling line of a book of several a report is of.
struct RunOfBook {
    int number = 1;
    int of = 1;
    std::string name;  ///< empty when the book names none
};

/// The level sheet, the run state, FormRL's boxes, the messages, the outcome and (when given)
/// the checks of the run as one JSON object, written to `out` as it goes. With `fieldBook` the
/// object is one line of JSON Lines, naming the field book it comes from. Every number reads
/// back to the double it stands for; one that is not finite is null.
void WriteJsonReport(std::ostream& out, const grid::Grid& sheet, const core::RunState& run,
                     const commands::ReadCommandResult& outcome,
                     const std::vector<commands::ShownMessage>& messages,
                     const core::RunChecks* checks = nullptr,
                     const std::string* fieldBook = nullptr, const RunOfBook* runOfBook = nullptr);

/// The same object as a string.
std::string JsonReport(const grid::Grid& sheet, const core::RunState& run,
                       const commands::ReadCommandResult& outcome,
                       const std::vector<commands::ShownMessage>& messages,
                       const core::RunChecks* checks = nullptr,
                       const std::string* fieldBook = nullptr);

/// "reduced", "reduction-stopped", "read-failed" or "no-data".
std::string OutcomeName(const commands::ReadCommandResult& outcome);

}  // namespace rendle::report
