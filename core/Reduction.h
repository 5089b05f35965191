// The rise-and-fall reduction of the run in the level sheet, with the misclose spread equally
// over the set-ups.
#pragma once

#include <string>

#include "core/RunState.h"
#include "core/Windowing.h"

namespace rendle::grid {
class Grid;
}

namespace rendle::core {

enum class ReductionStatus {
    Reduced,  ///< every step ran: results and the summary block are in the sheet
    Stopped,  ///< a step failed; what was written before it stays, nothing was said
    NoData,   ///< no run in the sheet: "No Data " was shown and the main window closed
};

/// Steps of the reduction, numbered as they run.
enum ReductionStep : int {
    kStepMarkerRows = 1,
    kStepReadObservations = 2,
    kStepStart = 3,
    kStepRiseFall = 4,
    kStepReducedLevels = 5,
    kStepClosingCorrection = 6,
    kStepCorrectionPerSetUp = 7,
    kStepAdjustedRLs = 8,
    kStepPermissibleError = 9,
    kStepSummary = 10,
    kStepFormats = 11,
    kStepActivate = 12,
};

struct ReductionOutcome {
    ReductionStatus status = ReductionStatus::Reduced;
    int step = 0;        ///< the step that stopped it
    std::string reason;  ///< why, in words, for the command-line tool and for tests
};

/// Working tables hold one entry per sheet row 0..1000 and one correction per set-up 0..1000.
inline constexpr int kReductionTableSize = 1001;

/// Reduces the run in the level sheet: deletes the marker rows inside the data, writes rise/fall,
/// RL and adjusted RL beside the observations and the summary block below them, formats the
/// data rows and leaves (2, 2) active. Takes the RLs and counts from `run` and leaves `run.StartRL`
/// holding the RL of the last data row. A failure ends it where it stands, silently, except a
/// sheet with no run, which shows "No Data " and closes the main window.
ReductionOutcome ReduceLevels(grid::Grid& sheet, RunState& run, Windowing& windowing);

/// A short name of a reduction step, such as "closing correction".
const char* ReductionStepName(int step);

}  // namespace rendle::core
