#include "cli/ReduceBook.h"

#include <filesystem>
#include <fstream>

#include "cli/BatchRun.h"
#include "cli/FieldBookInput.h"
#include "commands/Output.h"
#include "core/LevelSheet.h"
#include "core/Reduction.h"
#include "grid/Utf8.h"
#include "readers/FieldBookLine.h"
#include "readers/GsiBook.h"
#include "readers/LineDecoder.h"
#include "report/TextReport.h"

namespace rendle::cli {

namespace {

constexpr int kFormatUnknown = 64;
constexpr int kOutputFailed = 4;

}  // namespace

int ReduceBook(const RunOptions& options, const BookPlan& plan, PdfPrinter& printer,
               WorkbookModuleWriter& writer, std::ostream& out, std::ostream& err) {
    // Paths are shown as UTF-8 whatever bytes they hold.
    const std::string shownBook = grid::ValidUtf8(plan.fieldBook);
    // A problem that does not name its field book is named by it when there are many.
    const std::string prefix = options.manyBooks ? shownBook + ": " : "rendle-reduce: ";
    // One line per problem: a message's paragraphs run on, and control characters (of a path)
    // are shown escaped, as in the report's cells.
    auto say = [&err](std::string line) {
        for (size_t at; (at = line.find("\n\n")) != std::string::npos;) line.replace(at, 2, " ");
        err << report::EscapedText(line) << "\n";
    };
    const bool jsonLine = options.manyBooks || options.jsonLines;

    // The program's start state: the level sheet laid out, the run state at its start values.
    grid::Grid sheet;
    core::SetUpLevelSheet(sheet);
    core::RunState run;

    // A book that cannot be opened, or whose format cannot be told, is never read: the JSON
    // object still says so, with the sheet as the program starts.
    const auto notRead = [&](int status, const std::string& reason) {
        say("rendle-reduce: " + reason);
        if (options.asJson) {
            commands::ReadCommandResult outcome;
            outcome.read.status = readers::ReadStatus::EndedSilently;
            outcome.read.reason = reason;
            const core::RunChecks checks = core::CheckRun(sheet, run, std::nullopt, options.limits);
            WriteJsonReport(out, sheet, run, outcome, {}, &checks, jsonLine ? &shownBook : nullptr);
        }
        return status;
    };

    // The field book is opened once; its format is told from what has been read.
    std::string openError;
    FieldBookInput input(plan.fieldBook, openError);
    if (!input.IsOpen() && !options.format) return notRead(1, openError);
    readers::FieldBookFormat format{};
    if (options.format) {
        format = *options.format;
    } else {
        bool failed = false;
        const auto detected = input.DetectFormat(options.encoding, failed);
        if (failed) return notRead(1, "cannot read " + shownBook);
        if (!detected) {
            return notRead(kFormatUnknown, "cannot tell the format of " + shownBook +
                                               "; choose one with --format sdr20|sdr33|m5");
        }
        format = *detected;
    }

    const BookItem& item = plan.item;
    const RunOfBook runOfBook{item.run, item.runsOf, item.runName};
    const RunOfBook* shownRun = item.named ? &runOfBook : nullptr;
    if (format != readers::FieldBookFormat::GSI && item.run != 1) {
        return notRead(2, shownBook + " holds one levelling line; --run " +
                              std::to_string(item.run) + " is not among them");
    }

    // The open-file dialog gives nothing for a field book that could not be opened, so the read
    // ends there, silently, with the sheet cleared as the command leaves it.
    BatchWindowing windowing(input.IsOpen() ? plan.fieldBook : std::string(), options.startRL,
                             options.endRL);
    commands::ReadCommandResult outcome =
        input.IsOpen() ? commands::RunReadCommand(format, input.Stream(), sheet, run, windowing,
                                                  readers::LineDecoder(options.encoding), item.run)
                       : commands::RunReadCommand(format, sheet, run, windowing);
    if (!input.IsOpen()) outcome.read.reason = openError;

    // The output commands act on the sheet as the command left it, as from the File menu:
    // printing first, so that a workbook saved with it carries the level report's print set-up.
    // A book that was not read to its end writes none: a good output of an earlier run stays.
    const bool readWhole = outcome.read.status == readers::ReadStatus::Read;
    bool outputFailed = false;
    if (readWhole && !plan.pdfPath.empty()) {
        windowing.setPrinter([&](const grid::Grid& printed) {
            std::string error;
            if (!printer.Print(printed, plan.pdfPath, error)) {
                windowing.ShowMessage("The level report was not printed: " + error + ".", "Print",
                                      commands::MessageIcon::Critical);
                outputFailed = true;
            }
        });
        commands::PrintLevelReport(sheet, windowing);
    }
    if (readWhole && !plan.savePath.empty()) {
        windowing.setSaveName(plan.savePath);
        const auto saved = commands::SaveLevelSheet(
            sheet, windowing,
            [&writer](const grid::Grid& s, const std::string& path) { writer(s, path); });
        outputFailed = outputFailed || saved.status != commands::SaveStatus::Saved;
    }

    // The checks a surveyor makes before handing in the run; they change nothing in the sheet.
    core::RunChecks checks = core::CheckRun(sheet, run, outcome.reduction, options.limits);
    const bool noEndingRL = outcome.reduction &&
                            outcome.reduction->status == core::ReductionStatus::Stopped &&
                            outcome.reduction->step == core::ReductionStep::ClosingCorrection &&
                            core::RLText(run.EndRL).find_first_not_of(' ') == std::string::npos;
    if (noEndingRL) checks.notReduced += "; no ending RL was given (use --end-rl)";
    for (const readers::ReadWarning& warning : outcome.read.warnings) {
        checks.fieldWarnings.push_back("line " + std::to_string(warning.line) + ": " +
                                       warning.text);
    }
    if (options.asJson) {
        WriteJsonReport(out, sheet, run, outcome, windowing.messages, &checks,
                        jsonLine ? &shownBook : nullptr, jsonLine ? shownRun : nullptr);
    } else {
        out << report::LevelReport(sheet) << report::ChecksReport(checks);
    }
    // Where the read stopped, then what else was said (a failed save or print).
    const readers::ReadResult& read = outcome.read;
    if (read.status != readers::ReadStatus::Read) {
        if (read.line > 0) {
            say(shownBook + ":" + std::to_string(read.line) + ": " + read.reason);
        } else {
            say(prefix + read.reason);
        }
        if (!plan.pdfPath.empty() || !plan.savePath.empty()) {
            say(prefix +
                "no workbook or PDF was written, as the field book was not read to its end");
        }
    } else if (noEndingRL) {
        say(shownBook + ": no ending RL was given (use --end-rl); the reduction stopped at the " +
            core::ReductionStepName(outcome.reduction->step));
    } else if (outcome.reduction && outcome.reduction->status == core::ReductionStatus::Stopped) {
        say(shownBook + ": the reduction stopped at the " +
            core::ReductionStepName(outcome.reduction->step) + ": " + outcome.reduction->reason);
    }
    for (const readers::ReadWarning& warning : read.warnings) {
        say(shownBook + ":" + std::to_string(warning.line) + ": " + warning.text);
    }
    for (const ShownMessage& message : windowing.messages) {
        if (read.status == readers::ReadStatus::EndedWithMessage && message.text == read.message) {
            continue;  // told above, with its line
        }
        say(prefix + message.title + ": " + message.text);
    }
    // A requested output that could not be written is the failure the caller must see first.
    return outputFailed ? kOutputFailed : ExitStatus(outcome);
}

std::vector<BookItem> ExpandRuns(const std::vector<std::string>& fieldBooks,
                                 const std::optional<readers::FieldBookFormat>& format,
                                 const std::optional<int>& runNumber, const std::string& encoding) {
    std::vector<BookItem> items;
    items.reserve(fieldBooks.size());
    for (const std::string& book : fieldBooks) {
        BookItem one{book, runNumber.value_or(1), 1, runNumber.has_value(), {}};
        std::vector<readers::GsiRun> runs;
        std::ifstream file;
        // Only a regular file is looked into: a pipe or FIFO has one pass, the read's.
        std::error_code ec;
        if (book != "-" && std::filesystem::is_regular_file(book, ec) &&
            (!format || *format == readers::FieldBookFormat::GSI)) {
            file.open(book, std::ios::binary);
        }
        if (file) {
            bool gsi = format.has_value();
            if (!gsi) {
                readers::LineReader lines(file, readers::LineDecoder(encoding));
                gsi = readers::DetectFormat(lines) == readers::FieldBookFormat::GSI;
                file.clear();
                file.seekg(0);
            }
            if (gsi) {
                readers::LineReader lines(file, readers::LineDecoder(encoding));
                runs = readers::ListGsiRuns(lines);
            }
        }
        if (runs.size() > 1 && !runNumber) {
            for (const readers::GsiRun& run : runs) {
                items.push_back({book, run.number, static_cast<int>(runs.size()), true, run.name});
            }
            continue;
        }
        if (!runs.empty()) {
            one.runsOf = static_cast<int>(runs.size());
            if (one.run >= 1 && one.run <= one.runsOf) {
                one.runName = runs[static_cast<size_t>(one.run - 1)].name;
            }
        }
        items.push_back(std::move(one));
    }
    return items;
}

}  // namespace rendle::cli
