// The File menu's read commands: from the menu step through the open-file dialog, the field
// book's lines and the benchmark window to the reduction of the run.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <string_view>

#include "commands/BenchmarkRL.h"
#include "commands/Windowing.h"
#include "core/Reduction.h"
#include "core/RunState.h"
#include "readers/FieldBook.h"

namespace rendle::commands {

/// The open-file dialog's filter of each format's read command.
std::string_view FileFilter(readers::FieldBookFormat format);

/// The "Data File" message of a read that ended with one. The menu readers' own messages of
/// SDR and M5 books stay as they are; a refusal of Rendle's own (every GSI refusal, an M5
/// method or unit the menu readers do not know) adds the line and the reason on a second line,
/// as rendle-reduce tells them.
std::string DataFileMessage(const readers::ReadResult& read,
                            std::optional<readers::FieldBookFormat> format);

/// What a read command met: the read, FormRL's boxes as the read filled them, and the
/// reduction when the read reached it.
struct ReadCommandResult {
    bool cleared = false;  ///< the sheet was cleared for the read (not refused before)
    readers::ReadResult read;
    std::optional<RLBoxes> formRL;
    std::optional<core::ReductionResult> reduction;
};

/// The File menu command of a format: empties the ending and entered starting RL, clears the
/// sheet and rewrites its header block, asks for the field book in the open-file dialog, reads
/// it into the level sheet, shows FormRL and reduces the run. A read that stops with a message
/// shows it (title "Data File", critical icon); every other stop is silent.
/// `decoder` turns the field book's lines into text (by default UTF-8 or Windows-1252).
ReadCommandResult RunReadCommand(readers::FieldBookFormat format, grid::Grid& sheet,
                                 core::RunState& run, Windowing& windowing,
                                 readers::LineDecoder decoder = readers::LineDecoder());

/// The same command with `fieldBook` standing for the file the dialog would give; of a book of
/// several levelling lines, `runNumber` is the one read (without it, the user chooses one).
ReadCommandResult RunReadCommand(readers::FieldBookFormat format, std::istream& fieldBook,
                                 grid::Grid& sheet, core::RunState& run, Windowing& windowing,
                                 readers::LineDecoder decoder = readers::LineDecoder(),
                                 std::optional<int> runNumber = std::nullopt);

/// The same command on a book already read into memory (by readers::LoadBook), from the point
/// where the open-file dialog has given it.
ReadCommandResult RunReadCommand(const readers::Book& book, std::optional<int> runNumber,
                                 grid::Grid& sheet, core::RunState& run, Windowing& windowing,
                                 const readers::LineDecoder& decoder);

/// A field book named outside the File menu (on the command line, by a file manager's "Open
/// with", dropped on the main window): its format is told from its content, then the road of
/// that format's command runs from the point where the open-file dialog gives the name. A file
/// that cannot be opened, or holds no field book Rendle reads, is named in a "Data File"
/// message, and the sheet stays as it was. Of a GSI book of several levelling lines the user
/// chooses one first.
ReadCommandResult OpenFieldBook(const std::string& path, grid::Grid& sheet, core::RunState& run,
                                Windowing& windowing,
                                readers::LineDecoder decoder = readers::LineDecoder());

}  // namespace rendle::commands
