// The level sheet as a plain-text level report, for rendle-reduce.
#pragma once

#include <string>
#include <string_view>

#include "grid/Utf8.h"

namespace rendle::grid {
class Grid;
}

namespace rendle::core {
struct RunChecks;
struct ClassChecks;
}  // namespace rendle::core

namespace rendle::report {

/// Rows 1 to the last used row, the shown columns, every value as displayed: numbers on the
/// right of their column, texts on the left, running on over empty cells as on a spreadsheet.
/// The report is UTF-8: a byte of a cell that is no UTF-8 is shown as U+FFFD.
std::string LevelReport(const grid::Grid& sheet);

/// (grid::EscapedText, where both programs' terminal words are escaped too.)
using grid::EscapedText;

/// The "Checks" block that follows the level report: the arithmetic check, the misclose against
/// the tolerance and the sight balance, with the set-ups flagged; or why the run was not
/// reduced. Numbers are shown as the sheet shows them, whatever the locale.
std::string ChecksReport(const core::RunChecks& checks);

/// The Corrections block after the checks, when corrections were asked for: what was corrected
/// with what, each total, the misclose with them, and the corrected RL of each named point.
std::string CorrectionsReport(const core::RunChecks& checks);

/// What a tolerance class adds to the Checks block: each figure it sets against the run.
std::string ClassReport(const core::ClassChecks& byClass);

/// Every tolerance class, its figures and their source, for `rendle-reduce --class list`.
std::string ClassList();

}  // namespace rendle::report
