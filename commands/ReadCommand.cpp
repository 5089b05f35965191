#include "commands/ReadCommand.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "commands/ReduceCommand.h"
#include "core/LevelSheet.h"
#include "grid/Grid.h"
#include "readers/FieldBookLine.h"
#include "readers/GsiBook.h"

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

ReadCommandResult Read(readers::FieldBookFormat format, std::istream* given, grid::Grid& sheet,
                       core::RunState& run, Windowing& windowing, readers::LineDecoder decoder,
                       int runNumber = 1) {
    ClearForRead(sheet, run);

    ReadCommandResult result;
    result.cleared = true;
    windowing.SetMousePointer(MousePointer::Default);
    std::ifstream file;
    std::istream* in = given;
    if (!in) {
        const std::string name = windowing.ShowOpenFileDialog(FileFilter(format), "");
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

    result.read = readers::ReadFieldBook(format, *in, sheet, run, std::move(decoder), runNumber);
    // The reader owns the field book only while it reads: closed before any window opens.
    file.close();
    if (result.read.status != ReadStatus::Read) {
        windowing.SetMousePointer(MousePointer::Default);
        if (result.read.status == ReadStatus::EndedWithMessage) {
            windowing.ShowMessage(result.read.message, kMessageTitle, MessageIcon::Critical);
        }
        return result;
    }

    result.formRL = PrefillRLBoxes(run);
    if (const std::optional<RLBoxes> confirmed = windowing.ShowFormRL(*result.formRL)) {
        ConfirmFormRL(run, *confirmed);
    }
    windowing.SetMousePointer(MousePointer::Default);
    result.reduction = RunReduction(sheet, run, windowing);
    return result;
}

}  // namespace

std::string_view FileFilter(readers::FieldBookFormat format) {
    switch (format) {
        case readers::FieldBookFormat::SDR20:
            return "SDR20 files (*.SDR)|*.SDR|All files(*.*)|*.*";
        case readers::FieldBookFormat::SDR33:
            return "SDR33 files (*.SDR)|*.SDR|All files(*.*)|*.*";
        case readers::FieldBookFormat::GSI:
            return "Leica GSI files (*.GSI)|*.GSI|All files(*.*)|*.*";
        case readers::FieldBookFormat::M5:
            break;
    }
    return "Zeiss files (*.DAT)|*.DAT|All files(*.*)|*.*";
}

ReadCommandResult RunReadCommand(readers::FieldBookFormat format, grid::Grid& sheet,
                                 core::RunState& run, Windowing& windowing,
                                 readers::LineDecoder decoder) {
    ReadCommandResult result = Read(format, nullptr, sheet, run, windowing, std::move(decoder));
    // Whatever the read left, no number is cut off; a reduction has fitted them already.
    if (!result.reduction) grid::FitColumnWidths(sheet);
    return result;
}

ReadCommandResult RunReadCommand(readers::FieldBookFormat format, std::istream& fieldBook,
                                 grid::Grid& sheet, core::RunState& run, Windowing& windowing,
                                 readers::LineDecoder decoder, int runNumber) {
    ReadCommandResult result =
        Read(format, &fieldBook, sheet, run, windowing, std::move(decoder), runNumber);
    if (!result.reduction) grid::FitColumnWidths(sheet);  // a reduction has fitted them already
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
    std::ifstream file(path, std::ios::binary);
    if (!file) return refuse("Cannot open " + path + ": " + std::strerror(errno) + ". ");
    std::optional<readers::FieldBookFormat> format;
    {
        readers::LineReader lines(file);
        format = readers::DetectFormat(lines);
        if (!format && lines.Failed()) {
            return refuse("Cannot read " + path + ": it is no text file. ");
        }
    }
    if (!format) {
        return refuse(path +
                      " is no field book that Rendle reads (SDR20, SDR33 or Zeiss M5). "
                      "Please Check Your Data File ");
    }
    file.clear();
    file.seekg(0);
    if (!file) return refuse("Cannot read " + path + " from its start. ");
    int runNumber = 1;
    if (*format == readers::FieldBookFormat::GSI) {
        // A book of several levelling lines: the user chooses one, or cancels as in the file
        // dialog, which leaves the sheet cleared.
        std::vector<readers::GsiRun> runs;
        {
            readers::LineReader lines(file);
            runs = readers::ListGsiRuns(lines);
        }
        file.clear();
        file.seekg(0);
        if (runs.size() > 1) {
            const std::optional<int> chosen = windowing.ChooseRun(runs);
            if (!chosen) {
                ClearForRead(sheet, run);
                result.cleared = true;
                result.read.status = ReadStatus::EndedSilently;
                result.read.reason = "no levelling line was chosen";
                windowing.SetMousePointer(MousePointer::Default);
                return result;
            }
            runNumber = *chosen;
        }
    }
    result = Read(*format, &file, sheet, run, windowing, std::move(decoder), runNumber);
    if (!result.reduction) grid::FitColumnWidths(sheet);  // a reduction has fitted them already
    return result;
}

}  // namespace rendle::commands
