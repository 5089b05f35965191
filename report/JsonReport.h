// The run as one JSON document: the level sheet's cells, the run state, the benchmark window's
// boxes, the messages, the outcome and the checks, as rendle-reduce prints it with --json.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "commands/ReadCommand.h"
#include "commands/Windowing.h"
#include "core/Checks.h"
#include "core/RunState.h"
#include "grid/Grid.h"
#include "grid/JsonWriter.h"

namespace rendle::report {

/// Which levelling line of a book of several a report is of.
struct RunOfBook {
    int number = 1;
    int of = 1;
    std::string name;  ///< empty when the book names none
};

using grid::OutputWritten;

/// The outputs asked for (--save, --pdf), each when it was.
struct ReportOutputs {
    std::optional<OutputWritten> workbook;
    std::optional<OutputWritten> pdf;
};

/// What the document says beside the run: its field book (null without one), which line of the
/// book it is (1 of 1 without one), the outputs asked for, and whether it is one line of JSON
/// Lines.
struct JsonContext {
    const std::string* fieldBook = nullptr;
    const RunOfBook* runOfBook = nullptr;
    const ReportOutputs* outputs = nullptr;
    bool oneLine = false;
};

/// The level sheet, the run state, FormRL's boxes, the messages, the outcome and (when given)
/// the checks of the run as one JSON object, written to `out` as it goes; every key is always
/// there (null, or an empty list, when it holds nothing), as docs/rendle-reduce.schema.json
/// says. Every number reads back to the double it stands for; one that is not finite is null.
void WriteJsonReport(std::ostream& out, const grid::Grid& sheet, const core::RunState& run,
                     const commands::ReadCommandResult& outcome,
                     const std::vector<commands::ShownMessage>& messages,
                     const core::RunChecks* checks = nullptr, const JsonContext& context = {});

/// The same object as a string.
std::string JsonReport(const grid::Grid& sheet, const core::RunState& run,
                       const commands::ReadCommandResult& outcome,
                       const std::vector<commands::ShownMessage>& messages,
                       const core::RunChecks* checks = nullptr, const JsonContext& context = {});

/// "reduced", "reduction-stopped", "read-failed" or "no-data".
std::string OutcomeName(const commands::ReadCommandResult& outcome);

}  // namespace rendle::report
