// The rise-and-fall reduction of the run in the level sheet, with the misclose spread equally
// over the set-ups.
#pragma once

#include <string>

#include "core/RunState.h"

namespace rendle::grid {
class Grid;
}

namespace rendle::core {

enum class ReductionStatus {
    Reduced,  ///< every step ran: results and the summary block are in the sheet
    Stopped,  ///< a step failed; what was written before it stays, nothing was said
    NoData,   ///< no run in the sheet; the command says "No Data " and closes the main window
};

/// Steps of the reduction, numbered as they run.
enum class ReductionStep : int {
    None = 0,
    MarkerRows = 1,
    ReadObservations = 2,
    RiseFall = 4,
    ReducedLevels = 5,
    ClosingCorrection = 6,
    CorrectionPerSetUp = 7,
    AdjustedRLs = 8,
    PermissibleError = 9,
    Summary = 10,
    Formats = 11,
    Activate = 12,
};

struct ReductionResult {
    ReductionStatus status = ReductionStatus::Reduced;
    std::string reason;                        ///< why, in words, for the tool and for tests
    ReductionStep step = ReductionStep::None;  ///< the step that stopped it
};

/// Working tables hold one entry per sheet row 0..1000 and one correction per set-up 0..1000.
inline constexpr int kReductionTableSize = 1001;

/// Reduces the run in the level sheet: deletes the marker rows inside the data, writes rise/fall,
/// RL and adjusted RL beside the observations and the summary block below them, formats the
/// data rows and leaves (2, 2) active. Takes the RLs and counts from `run` and leaves `run.StartRL`
/// holding the RL of the last data row. A failure ends it where it stands; what was written
/// stays. A sheet with no run gives NoData, for the command to say so.
ReductionResult ReduceLevels(grid::Grid& sheet, RunState& run);

/// A short name of a reduction step, such as "closing correction".
const char* ReductionStepName(ReductionStep step);

}  // namespace rendle::core
