// The reduction as a command runs it: after a read's FormRL and after OK of FormChangeRL.
#pragma once

#include "commands/Windowing.h"
#include "core/Reduction.h"
#include "core/RunState.h"

namespace rendle::commands {

/// Reduces the run in the level sheet. A sheet with no run is met with "No Data " (title
/// "Data", critical icon), after which the main window closes; every other stop is silent.
core::ReductionResult RunReduction(grid::Grid& sheet, core::RunState& run, Windowing& windowing);

/// What follows a reduction on screen: the columns widened to the new RLs, and "No Data " said
/// of a sheet no book was read into.
void ShowReduction(grid::Grid& sheet, const core::ReductionResult& result, Windowing& windowing);

}  // namespace rendle::commands
