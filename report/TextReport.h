// The level sheet as a plain-text level report, for rendle-reduce.
#pragma once

#include <string>

namespace rendle::grid {
class Grid;
}

namespace rendle::report {

/// Rows 1 to the last used row, the shown columns, every value as displayed: numbers on the
/// right of their column, texts on the left, running on over empty cells as on a spreadsheet.
/// The report is UTF-8: a byte of a cell that is no UTF-8 is shown as U+FFFD.
std::string LevelReport(const grid::Grid& sheet);

}  // namespace rendle::report
