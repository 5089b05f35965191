// The three field-book readers: from the File menu command through the open-file dialog, the
// field book's lines, the benchmark window, to the reduction of the run.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <string_view>

#include "core/BenchmarkRL.h"
#include "core/Reduction.h"
#include "core/RunState.h"
#include "core/Windowing.h"

namespace rendle::grid {
class Grid;
}

namespace rendle::readers {

enum class FieldBookFormat { SDR20, SDR33, M5 };

/// The open-file dialog's filter of each format's read command.
std::string_view FileFilter(FieldBookFormat format);

/// How a read ended.
enum class ReadEnd {
    ReachedReduction,  ///< the whole file was read, FormRL shown and the reduction run
    EndedWithMessage,  ///< stopped with a message box (wrong format, data error, limits)
    EndedSilently,     ///< stopped without a word (dialog cancelled, file not readable, ...)
};

struct ReadOutcome {
    ReadEnd end = ReadEnd::ReachedReduction;
    std::string reason;                               ///< why a read stopped, in words
    std::optional<core::RLBoxes> formRL;              ///< FormRL's boxes as the read filled them
    std::optional<core::ReductionOutcome> reduction;  ///< when the reduction ran
};

/// The File menu command of a format: empties the ending and entered starting RL, clears the
/// sheet and rewrites its header block, asks for the field book in the open-file dialog, reads
/// it into the level sheet, shows FormRL and reduces the run.
ReadOutcome RunReadCommand(FieldBookFormat format, grid::Grid& sheet, core::RunState& run,
                           core::Windowing& windowing);

/// The same command with `fieldBook` standing for the file the dialog would give.
ReadOutcome RunReadCommand(FieldBookFormat format, std::istream& fieldBook, grid::Grid& sheet,
                           core::RunState& run, core::Windowing& windowing);

}  // namespace rendle::readers
