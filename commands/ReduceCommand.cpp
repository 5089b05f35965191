#include "commands/ReduceCommand.h"

#include "grid/Grid.h"

namespace rendle::commands {

core::ReductionResult RunReduction(grid::Grid& sheet, core::RunState& run, Windowing& windowing) {
    core::ReductionResult result = core::ReduceLevels(sheet, run);
    // New RLs may be wider than their columns (1000 m and more): widen them.
    grid::FitColumnWidths(sheet);
    if (result.status == core::ReductionStatus::NoData) {
        windowing.ShowMessage("No Data ", "Data", MessageIcon::Critical);
        windowing.CloseMainWindow();
    }
    return result;
}

}  // namespace rendle::commands
