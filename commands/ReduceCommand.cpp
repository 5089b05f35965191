#include "commands/ReduceCommand.h"

#include "grid/Grid.h"

namespace rendle::commands {

core::ReductionResult RunReduction(grid::Grid& sheet, core::RunState& run, Windowing& windowing) {
    core::ReductionResult result = core::ReduceLevels(sheet, run);
    // New RLs may be wider than their columns (1000 m and more): widen them.
    grid::FitColumnWidths(sheet);
    // A sheet no book was read into has no run to reduce: said, and the sheet, typed by hand
    // perhaps, stays as it is, in a window that stays open.
    if (result.status == core::ReductionStatus::NoData) {
        windowing.ShowMessage("No Data ", "Data", MessageIcon::Critical);
    }
    return result;
}

}  // namespace rendle::commands
