#include "commands/ReduceCommand.h"

namespace rendle::commands {

core::ReductionResult RunReduction(grid::Grid& sheet, core::RunState& run, Windowing& windowing) {
    core::ReductionResult result = core::ReduceLevels(sheet, run);
    if (result.status == core::ReductionStatus::NoData) {
        windowing.ShowMessage("No Data ", "Data", MessageIcon::Critical);
        windowing.CloseMainWindow();
    }
    return result;
}

}  // namespace rendle::commands
