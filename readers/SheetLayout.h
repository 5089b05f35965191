// A levelling run laid out as the level sheet, as the File menu's readers lay it out.
#pragma once

#include <string_view>

#include "core/LevelRun.h"
#include "core/RunState.h"

namespace rendle::grid {
class Grid;
}

namespace rendle::readers::parts {

/// A sight is laid out only while the line counter is at most this.
inline constexpr int32_t kCapacity = 1000;

constexpr std::string_view kTooManyRows =
    "The run is longer than the 1000 rows a level sheet holds. The readings before the first one "
    "past it stay in the sheet, with that reading's station name; the run was not reduced.";

/// Watches a run as a reader gives it: once the line counter at its last sight passes the
/// capacity, the layout refuses the run at that sight or before it, so the reader reads no
/// further, and a run of any length costs what one sheet does.
class CapacityWatch {
  public:
    bool Passed(const core::LevelRun& run);

  private:
    size_t counted_ = 0;  ///< set-ups whose rows are in rows_: all but the one still read
    int64_t rows_ = 0;
    int64_t markers_ = 0;  ///< marker rows among rows_
};

/// Lays `levelRun` out into a sheet that holds only its header block: one marker row per set-up
/// and one data row per sight from row 5 on; then the run state (first and last data row, set-up
/// count, starting RL, the ending RL of a run that closes on its first station, the
/// instrument's heights by data row and station differences by set-up) and the set-up count
/// beside "No. Stn. :". A row is stored only while the line counter (the book's lines before the
/// run, then one a row) is at most 1000; a run whose data rows pass row 1000 once the marker
/// rows are gone is refused. A stop (a Stop naming its line) leaves what was laid out before it.
/// A run the read stopped inside (`whole` false) is laid out as far as it was read, and no more.
void LayOutRun(const core::LevelRun& levelRun, grid::Grid& sheet, core::RunState& run, bool whole);

}  // namespace rendle::readers::parts
