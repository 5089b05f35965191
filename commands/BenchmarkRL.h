// The benchmark RL windows' logic: what fills their two boxes and what their OK stores.
#pragma once

#include <string>

#include "core/Reduction.h"
#include "core/RunState.h"

namespace rendle::grid {
class Grid;
}

namespace rendle::commands {

class Windowing;

/// The two boxes of the benchmark windows: RL of the starting and of the ending benchmark.
struct RLBoxes {
    std::string start;
    std::string end;
    bool operator==(const RLBoxes&) const = default;
};

/// The boxes of FormRL after a read, and of FormChangeRL: the entered starting RL and the
/// ending RL in force.
RLBoxes PrefillRLBoxes(const core::RunState& run);

/// OK of FormRL: the texts as typed become the entered and the starting RL, and the ending RL.
void ConfirmFormRL(core::RunState& run, const RLBoxes& boxes);

/// OK of FormChangeRL: the texts become the starting and ending RL; the entered starting RL
/// stays as the field book gave it or as last confirmed in FormRL. The caller then reduces.
void ConfirmFormChangeRL(core::RunState& run, const RLBoxes& boxes);

/// OK of FormChangeRL as the Level Parameters command runs it: the new RLs stored, then the run
/// reduced again on the sheet's current contents. Gives how the reduction ended.
core::ReductionResult LevelParametersOK(grid::Grid& sheet, core::RunState& run,
                                        const RLBoxes& boxes, Windowing& windowing);

}  // namespace rendle::commands
