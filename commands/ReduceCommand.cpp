#include "commands/ReduceCommand.h"

#include "grid/Grid.h"

namespace rendle::commands {

core::ReductionResult RunReduction(grid::Grid& sheet, core::RunState& run, Windowing& windowing) {
    core::ReductionResult result = core::ReduceLevels(sheet, run);
    ShowReduction(sheet, result, windowing);
    return result;
}

void ShowReduction(grid::Grid& sheet, const core::ReductionResult& result, Windowing& windowing) {
    // New RLs may be wider than their columns (1000 m and more): widen them.
    if (windowing.ColumnWidthsSeen()) grid::FitColumnWidths(sheet);
    // A sheet no book was read into has no run to reduce: said, and the sheet, typed by hand
    // perhaps, stays as it is, in a window that stays open.
    if (result.status == core::ReductionStatus::NoData) {
        windowing.ShowMessage("No Data ", "Data", MessageIcon::Critical);
    }
}

}  // namespace rendle::commands
