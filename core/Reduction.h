// The rise-and-fall reduction of the run in the level sheet, with the misclose spread equally
// over the set-ups.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/LevelRun.h"
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

/// A data row as the reduction read and wrote it.
struct ReducedRow {
    int32_t row = 0;
    std::optional<SightKind> kind;  ///< nothing for a row typed neither BS, IS nor FS
    std::string station;
    double backsight = 0;     ///< m, as read (text and empty cells read as 0)
    double intermediate = 0;  ///< m
    double foresight = 0;     ///< m
    double distance = 0;      ///< m
    /// Reading and distance cells that hold text, which the reduction reads as 0: column and
    /// text.
    std::vector<std::pair<int32_t, std::string>> texts;
    std::optional<double> riseFall;  ///< as written beside an IS or FS row
    std::optional<double> rl;
    std::optional<double> adjustedRL;
};

/// What a reduction worked out, as far as it got: the data rows, their rises and falls, RLs and
/// adjusted RLs, and the summary block.
struct ReducedRun {
    std::vector<ReducedRow> rows;  ///< the first to the last data row
    bool hasRLs = false;           ///< every data row has its RL
    bool hasSummary = false;       ///< the summary block was written
    double misclose = 0;           ///< m, as the summary block shows it
    double permissibleError = 0;   ///< m
    double length = 0;             ///< m, the length of the run
};

struct ReductionResult {
    ReductionStatus status = ReductionStatus::Reduced;
    std::string reason;                        ///< why, in words, for the tool and for tests
    ReductionStep step = ReductionStep::None;  ///< the step that stopped it
    ReducedRun reduced;                        ///< what it worked out before it ended
    /// The starting RL the reduction was given: the run state's StartRL holds the RL of the
    /// last data row once the reduced levels are written.
    RLValue startRL;
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
