// The three field-book readers: the lines of an SDR20, SDR33 or Zeiss M5 field book laid out in
// the level sheet, with the run state the reduction needs. A reader knows no windows: what it
// met is in its result, for the read command to show.
#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "readers/LineDecoder.h"

namespace rendle::grid {
class Grid;
}

namespace rendle::core {
struct RunState;
}

namespace rendle::readers {

class LineReader;

enum class FieldBookFormat { SDR20, SDR33, M5, GSI };

enum class ReadStatus {
    Read,              ///< the whole field book was read and the run state set from it
    EndedWithMessage,  ///< stopped on something the user is told (wrong format, data error, ...)
    EndedSilently,     ///< stopped without a word (the file could not be read to its end, ...)
};

/// A value field read by the numeric rule although it holds text that is no number ("NaN",
/// "$1.5", "12.5abc"): read as what the rule gives, and told.
struct ReadWarning {
    size_t line = 0;
    std::string text;  ///< the staff reading "NaN" is no number and was read as 0
};

struct ReadResult {
    ReadStatus status = ReadStatus::Read;
    std::string reason;   ///< why a read stopped, in words
    std::string message;  ///< the message box's text when it ended with a message
    size_t line = 0;      ///< the field-book line it stopped at (0: before the first line)
    std::vector<ReadWarning> warnings;  ///< in the order of the lines
};

/// Reads a field book of `format` into a sheet that holds only its header block: one marker
/// row per set-up and one data row per sighting from row 5 on, the starting RL of a benchmark
/// record, and at the end of the field book the run state (first and last data row, set-up
/// count, starting RL, the ending RL of a run that closes on its first station) and the set-up
/// count beside "No. Stn. :". What was written before a stop stays. A GSI book may hold several
/// levelling lines: `runNumber` (1-based) is the one read; other formats hold one.
ReadResult ReadFieldBook(FieldBookFormat format, LineReader& lines, grid::Grid& sheet,
                         core::RunState& run, int runNumber = 1);
ReadResult ReadFieldBook(FieldBookFormat format, std::istream& fieldBook, grid::Grid& sheet,
                         core::RunState& run, LineDecoder decoder = LineDecoder(),
                         int runNumber = 1);

/// The format of a field book told from its content: line 1 starting "For M5" is M5, a first
/// line of GSI words is GSI; otherwise the first header record naming SDR20 or SDR33. Nothing when
/// neither is found (the reader's Failed() tells an input error).
std::optional<FieldBookFormat> DetectFormat(LineReader& lines);

}  // namespace rendle::readers
