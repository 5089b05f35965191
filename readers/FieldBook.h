// A field book read into memory once, and its dispatch: the format told from its content, the
// levelling lines it holds, and each line read into the level sheet by its format's reader. A
// reader knows no windows: what it met is in its result, for the read command to show.
#pragma once

#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Reduction.h"
#include "readers/LineDecoder.h"
#include "readers/ReadResult.h"

namespace rendle::grid {
class Grid;
}

namespace rendle::core {
struct RunState;
struct LevelRun;
}  // namespace rendle::core

namespace rendle::readers {

class LineReader;

/// A field book read into memory once, whatever it came from (a file, standard input, a pipe, a
/// FIFO): telling its format, listing its levelling lines and reading each of them work on
/// these bytes.
struct Book {
    /// The book's bytes: those read from a stream, or a regular file mapped as it is.
    std::string_view Bytes() const {
        return mapping ? std::string_view(static_cast<const char*>(mapping.get()), mappedSize)
                       : std::string_view(bytes);
    }
    std::string bytes;
    std::shared_ptr<const void> mapping;  ///< the file's pages, unmapped with the last holder
    size_t mappedSize = 0;
    std::optional<FieldBookFormat> format;  ///< nothing when it could not be told
    /// Empty: the book is read whole, as one run (an SDR book, an M5 book with at most one
    /// "Start-Line", a GSI book without readings).
    std::vector<LevellingLine> lines;
    /// Why no line of it can be read, when the listing could not read it to its end (a line
    /// past 64 KB): said for the whole book, never fewer lines silently.
    std::optional<ReadResult> unreadable;
};

/// The first line (1-based) of the book saying that the instrument corrected the readings for
/// the earth's curvature or for refraction itself ("Curva ON", "Refract ON" in an M5 book's
/// text), so that no program corrects them twice; nothing when no line says so.
std::optional<size_t> CurvatureAppliedAt(const Book& book);

/// Reads the book from `in` to its end (at most kMaxBookBytes), tells its format unless
/// `format` names it, and lists its levelling lines. False, with the reason in `error`, when
/// it cannot be read; a format that cannot be told leaves `book.format` empty.
bool LoadBook(std::istream& in, const std::optional<FieldBookFormat>& format,
              const LineDecoder& decoder, Book& book, std::string& error);

/// The same of a regular file open on `fd`, mapped rather than copied; false, with the reason,
/// when it cannot be mapped (the caller may read it as a stream instead) or is too large.
bool LoadMappedBook(int fd, const std::optional<FieldBookFormat>& format,
                    const LineDecoder& decoder, Book& book, std::string& error);

/// The format of a field book told from its content: line 1 starting "For M5" is M5, a first
/// line of GSI words is GSI; otherwise the first header record naming SDR20 or SDR33. Nothing when
/// neither is found (the reader's Failed() tells an input error).
std::optional<FieldBookFormat> DetectFormat(LineReader& lines);

/// Reads levelling line `runNumber` (1-based) of a book loaded by LoadBook (a book that lists
/// no lines is one run) into a sheet that holds only its header block: one marker row per
/// set-up and one data row per sighting from row 5 on, the starting RL, and at the end the run
/// state (first and last data row, set-up count, starting RL, the ending RL of a run that
/// closes on its first station) and the set-up count beside "No. Stn. :". What was written
/// before a stop stays. A book that could not be read to its end reads no line.
ReadResult ReadFieldBook(const Book& book, int runNumber, grid::Grid& sheet, core::RunState& run,
                         const LineDecoder& decoder);

/// Reads levelling line `runNumber` of a book loaded by LoadBook as a typed run, laying out
/// nothing: its set-ups and sights with their lines, the starting RL and the instrument's
/// figures. A read that stops keeps what it read before the stop, and says why.
ReadResult ReadLevelRun(const Book& book, int runNumber, const LineDecoder& decoder,
                        core::LevelRun& levelRun);

/// A levelling line read, laid out and reduced.
struct ReducedBook {
    ReadResult read;
    /// How the reduction ended; nothing when the read did not end normally.
    std::optional<core::ReductionResult> reduction;
};

/// Reads levelling line `runNumber` of `book` into a sheet that holds only its header block, as
/// ReadFieldBook does; when the read ends normally, hands the run state to `benchmarks` (the
/// benchmark window, or a job's own RLs) and reduces the run in the sheet. The one road from a
/// field book to a reduced run of the desktop, rendle-reduce and rendle-net.
ReducedBook ReadAndReduce(const Book& book, int runNumber, const LineDecoder& decoder,
                          grid::Grid& sheet, core::RunState& run,
                          const std::function<void(core::RunState&)>& benchmarks);

/// The same for a field book read from `fieldBook` to its end first.
ReadResult ReadFieldBook(FieldBookFormat format, std::istream& fieldBook, grid::Grid& sheet,
                         core::RunState& run, LineDecoder decoder = LineDecoder(),
                         int runNumber = 1);

}  // namespace rendle::readers
