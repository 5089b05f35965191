#include "commands/ReadCommand.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "commands/ReduceCommand.h"
#include "core/LevelSheet.h"
#include "grid/Grid.h"
#include "readers/FieldBookLine.h"
#include "readers/Formats.h"

namespace rendle::commands {

namespace {

using readers::ReadStatus;

constexpr std::string_view kMessageTitle = "Data File";

/// The menu step, then a cleared sheet with its header block before any file is chosen.
void ClearForRead(grid::Grid& sheet, core::RunState& run) {
    run.EndRL = std::monostate{};
    run.EnteredStartRL = std::monostate{};
    sheet.ClearCells(-1, -1, -1, -1, grid::ClearMode::All);
    // A new run starts from the default column widths: an earlier run's widths do not carry
    // into it, nor into its workbook.
    sheet.ResetColumnWidths();
    core::WriteHeaderBlock(sheet);
}

/// The messages the three readers of the menu give in their own words, which stay as they are.
bool IsMenuReadersMessage(const std::string& message) {
    for (const std::string_view own :
         {readers::kNotSdr20, readers::kNotSdr33, readers::kNotZeiss, readers::kCheckDataFile}) {
        if (message == own) return true;
    }
    return false;
}

/// A book that could not be read to its end (a line past 64 KB): the data-error message, and
/// the line and the reason on a second line.
readers::ReadResult Unreadable(const readers::Book& book) {
    readers::ReadResult read = *book.unreadable;
    read.status = ReadStatus::EndedWithMessage;
    // "Line 9 runs past 64 KB …": the line named once.
    constexpr std::string_view kTheLine = "the line ";
    const std::string line = "Line " + std::to_string(read.line);
    read.message =
        std::string(readers::kCheckDataFile) + "\n" +
        (read.reason.starts_with(kTheLine) ? line + " " + read.reason.substr(kTheLine.size())
                                           : line + ": " + read.reason);
    return read;
}

/// The read of a book held in memory, from the choice of its levelling line to the reduction.
/// The sheet has been cleared for it.
void ReadLoaded(const readers::Book& book, std::optional<int> runNumber, grid::Grid& sheet,
                core::RunState& run, Windowing& windowing, const readers::LineDecoder& decoder,
                ReadCommandResult& result) {
    if (book.unreadable) {
        result.read = Unreadable(book);
        windowing.SetMousePointer(MousePointer::Default);
        windowing.ShowMessage(result.read.message, kMessageTitle, MessageIcon::Critical);
        return;
    }
    // A book of several levelling lines: the user chooses one, or cancels as in the file
    // dialog, which leaves the sheet cleared. Reading them as one run would chain lines that
    // start from other benchmarks.
    if (!runNumber && book.lines.size() > 1) {
        runNumber =
            windowing.ChooseRun(book.lines, book.format.value_or(readers::FieldBookFormat::GSI));
        if (!runNumber) {
            result.read.status = ReadStatus::EndedSilently;
            result.read.reason = "no levelling line was chosen";
            windowing.SetMousePointer(MousePointer::Default);
            return;
        }
    }
    readers::ReducedBook done = readers::ReadAndReduce(
        book, runNumber.value_or(1), decoder, sheet, run, [&](core::RunState& read) {
            result.formRL = PrefillRLBoxes(read);
            if (const std::optional<RLBoxes> confirmed = windowing.ShowFormRL(*result.formRL)) {
                ConfirmFormRL(read, *confirmed);
            }
            windowing.SetMousePointer(MousePointer::Default);
        });
    result.read = std::move(done.read);
    if (result.read.status != ReadStatus::Read) {
        windowing.SetMousePointer(MousePointer::Default);
        if (result.read.status == ReadStatus::EndedWithMessage) {
            windowing.ShowMessage(DataFileMessage(result.read, book.format), kMessageTitle,
                                  MessageIcon::Critical);
        }
        return;
    }
    result.reduction = std::move(done.reduction);
    ShowReduction(sheet, *result.reduction, windowing);
}

ReadCommandResult Read(readers::FieldBookFormat format, std::istream* given, grid::Grid& sheet,
                       core::RunState& run, Windowing& windowing,
                       const readers::LineDecoder& decoder, std::optional<int> runNumber) {
    ClearForRead(sheet, run);

    ReadCommandResult result;
    result.cleared = true;
    windowing.SetMousePointer(MousePointer::Default);
    std::ifstream file;
    std::istream* in = given;
    std::string name;
    if (!in) {
        name = windowing.ShowOpenFileDialog(FileFilter(format), "");
        if (name.empty()) {
            result.read.status = ReadStatus::EndedSilently;
            result.read.reason = "no field book was chosen";
            windowing.SetMousePointer(MousePointer::Default);
            return result;
        }
        file.open(name, std::ios::binary);
        if (!file) {
            result.read.status = ReadStatus::EndedSilently;
            result.read.reason = "cannot open " + name + ": " + std::strerror(errno);
            windowing.SetMousePointer(MousePointer::Default);
            return result;
        }
        in = &file;
    }

    readers::Book book;
    std::string error;
    const bool loaded = readers::LoadBook(*in, format, decoder, book, error);
    // The reader owns the field book only while it reads: closed before any window opens.
    file.close();
    if (!loaded) {
        result.read.status = ReadStatus::EndedSilently;
        result.read.reason =
            (name.empty() ? "the field book" : name) + " could not be read: " + error;
        windowing.SetMousePointer(MousePointer::Default);
        return result;
    }
    ReadLoaded(book, runNumber, sheet, run, windowing, decoder, result);
    return result;
}

}  // namespace

std::string DataFileMessage(const readers::ReadResult& read,
                            std::optional<readers::FieldBookFormat> format) {
    const bool ours =
        format == readers::FieldBookFormat::GSI || !IsMenuReadersMessage(read.message);
    if (!ours || read.reason.empty()) return read.message;
    std::string where = read.line > 0 ? "Line " + std::to_string(read.line) + ": " : std::string();
    return read.message + "\n" + where + read.reason;
}

std::string_view FileFilter(readers::FieldBookFormat format) {
    return readers::InfoOf(format).fileFilter;
}

ReadCommandResult RunReadCommand(readers::FieldBookFormat format, grid::Grid& sheet,
                                 core::RunState& run, Windowing& windowing,
                                 readers::LineDecoder decoder) {
    ReadCommandResult result = Read(format, nullptr, sheet, run, windowing, decoder, std::nullopt);
    // Whatever the read left, no number is cut off; a reduction has fitted them already.
    if (!result.reduction && windowing.ColumnWidthsSeen()) grid::FitColumnWidths(sheet);
    return result;
}

ReadCommandResult RunReadCommand(readers::FieldBookFormat format, std::istream& fieldBook,
                                 grid::Grid& sheet, core::RunState& run, Windowing& windowing,
                                 readers::LineDecoder decoder, std::optional<int> runNumber) {
    ReadCommandResult result = Read(format, &fieldBook, sheet, run, windowing, decoder, runNumber);
    if (!result.reduction && windowing.ColumnWidthsSeen())
        grid::FitColumnWidths(sheet);  // a reduction has fitted them already
    return result;
}

ReadCommandResult RunReadCommand(const readers::Book& book, std::optional<int> runNumber,
                                 grid::Grid& sheet, core::RunState& run, Windowing& windowing,
                                 const readers::LineDecoder& decoder) {
    ClearForRead(sheet, run);
    ReadCommandResult result;
    result.cleared = true;
    windowing.SetMousePointer(MousePointer::Default);
    ReadLoaded(book, runNumber, sheet, run, windowing, decoder, result);
    if (!result.reduction && windowing.ColumnWidthsSeen())
        grid::FitColumnWidths(sheet);  // a reduction has fitted them already
    return result;
}

ReadCommandResult OpenFieldBook(const std::string& path, grid::Grid& sheet, core::RunState& run,
                                Windowing& windowing, readers::LineDecoder decoder) {
    ReadCommandResult result;
    const auto refuse = [&](const std::string& why) {
        result.read.status = ReadStatus::EndedWithMessage;
        result.read.message = why;
        windowing.SetMousePointer(MousePointer::Default);
        windowing.ShowMessage(why, kMessageTitle, MessageIcon::Critical);
        return result;
    };
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        return refuse("Cannot open " + path + ": a folder, not a field book. ");
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) return refuse("Cannot open " + path + ": " + std::strerror(errno) + ". ");
    readers::Book book;
    std::string loadError;
    if (!readers::LoadBook(file, std::nullopt, decoder, book, loadError)) {
        return refuse("Cannot read " + path + ": " + loadError + ". ");
    }
    file.close();
    if (!book.format) {
        return refuse(path + " is no field book that Rendle reads (" + readers::FormatNames() +
                      "). Please Check Your Data File ");
    }
    // A book that cannot be read whole is refused before the sheet is touched.
    if (book.unreadable) {
        const readers::ReadResult read = Unreadable(book);
        refuse(read.message);
        result.read = read;
        return result;
    }
    // A book given by name is chosen from before the sheet is touched: cancelling the list of
    // its levelling lines leaves the sheet as it was.
    std::optional<int> runNumber;
    if (book.lines.size() > 1) {
        runNumber =
            windowing.ChooseRun(book.lines, book.format.value_or(readers::FieldBookFormat::GSI));
        if (!runNumber) {
            result.read.status = ReadStatus::EndedSilently;
            result.read.reason = "no levelling line was chosen";
            windowing.SetMousePointer(MousePointer::Default);
            return result;
        }
    }
    return RunReadCommand(book, runNumber, sheet, run, windowing, decoder);
}

}  // namespace rendle::commands
