#include "cli/ReduceBook.h"

#include <algorithm>
#include <filesystem>

#include "cli/BatchRun.h"
#include "cli/FieldBookInput.h"
#include "cli/OrderedRun.h"
#include "cli/OutputPlan.h"
#include "commands/Output.h"
#include "core/LevelSheet.h"
#include "core/Reduction.h"
#include "grid/Utf8.h"
#include "readers/FieldBookLine.h"
#include "readers/Formats.h"
#include "readers/LineDecoder.h"
#include "report/JsonReport.h"
#include "report/TextReport.h"

namespace rendle::cli {

namespace {

/// Field books of this size and more are mapped rather than read.
constexpr size_t kMapFromBytes = size_t{1} << 20;

/// A message box's text on one line: its line breaks become blanks.
std::string OneLine(const std::string& text) {
    std::string line;
    for (const char c : text) {
        if (c != '\n') {
            line += c;
        } else if (!line.empty() && line.back() != ' ') {
            line += ' ';
        }
    }
    return line;
}

constexpr int kFormatUnknown = 64;
constexpr int kUsageError = 64;
constexpr int kOutputFailed = 4;

/// One levelling line of a field book: what it is reduced as and where its outputs go.
struct LineJob {
    std::optional<int> run;                    ///< nothing: the book is one run
    const report::RunOfBook* shown = nullptr;  ///< reports say which line
    std::string savePath;
    std::string pdfPath;
    bool manyBooks = false;  ///< JSON Lines naming the book, problems named by it
};

/// Reduces one levelling line of `book` (nothing: a book that could not be opened, whose read
/// ends as a cancelled file dialog's) from the program's start state, as the File menu does.
int ReduceLine(const RunOptions& options, const std::string& fieldBook, const readers::Book* book,
               const std::string& openError, const LineJob& job, PdfPrinter& printer,
               WorkbookModuleWriter& writer, std::ostream& out, std::ostream& err) {
    // Paths are shown as UTF-8 whatever bytes they hold.
    const std::string shownBook = grid::ValidUtf8(fieldBook);
    // A problem that does not name its field book is named by it when there are many.
    const std::string prefix = job.manyBooks ? shownBook + ": " : "rendle-reduce: ";
    auto say = [&err](const std::string& line) { err << report::EscapedText(line) << "\n"; };
    const bool jsonLine = job.manyBooks || options.jsonLines;
    // Problems on stderr name the levelling line of a book of several.
    const std::string shownWhere = job.shown
                                       ? shownBook + " (run " + std::to_string(job.shown->number) +
                                             " of " + std::to_string(job.shown->of) + ")"
                                       : shownBook;

    grid::Grid sheet;
    core::SetUpLevelSheet(sheet);
    core::RunState run;

    // The open-file dialog gives nothing for a field book that could not be opened, so the read
    // ends there, silently, with the sheet cleared as the command leaves it.
    BatchWindowing windowing(book ? fieldBook : std::string(), options.startRL, options.endRL);
    // A report in words or JSON alone never shows the columns: their widths are left unfitted.
    windowing.setColumnWidthsSeen(!job.pdfPath.empty() || !job.savePath.empty());
    const readers::LineDecoder decoder(options.encoding);
    commands::ReadCommandResult outcome =
        book ? commands::RunReadCommand(*book, job.run.value_or(1), sheet, run, windowing, decoder)
             : commands::RunReadCommand(*options.format, sheet, run, windowing);
    if (!book) outcome.read.reason = openError;

    // The output commands act on the sheet as the command left it, as from the File menu:
    // printing first, so that a workbook saved with it carries the level report's print set-up.
    // A book that was not read to its end writes none: a good output of an earlier run stays.
    const bool readWhole = outcome.read.status == readers::ReadStatus::Read;
    bool outputFailed = false;
    // What became of each output asked for, for the JSON document.
    report::ReportOutputs outputs;
    const std::string notRead = "the field book was not read to its end";
    if (!job.pdfPath.empty()) {
        outputs.pdf = report::OutputWritten{grid::ValidUtf8(job.pdfPath), false, notRead};
    }
    if (!job.savePath.empty()) {
        outputs.workbook = report::OutputWritten{grid::ValidUtf8(job.savePath), false, notRead};
    }
    if (readWhole && !job.pdfPath.empty()) {
        outputs.pdf->written = true;
        windowing.setPrinter([&](const grid::Grid& printed) {
            std::string error;
            if (!printer.Print(printed, job.pdfPath, error)) {
                windowing.ShowMessage("The level report was not printed: " + error + ".", "Print",
                                      commands::MessageIcon::Critical);
                outputFailed = true;
                outputs.pdf->written = false;
                outputs.pdf->reason = error;
            }
        });
        commands::PrintLevelReport(sheet, windowing);
    }
    if (readWhole && !job.savePath.empty()) {
        windowing.setSaveName(job.savePath);
        const auto saved = commands::SaveLevelSheet(
            sheet, windowing,
            [&writer](const grid::Grid& s, const std::string& path) { writer(s, path); });
        outputFailed = outputFailed || saved.status != commands::SaveStatus::Saved;
        outputs.workbook->written = saved.status == commands::SaveStatus::Saved;
        outputs.workbook->reason = saved.reason;
    }

    // The checks a surveyor makes before handing in the run; they change nothing in the sheet.
    core::RunChecks checks = core::CheckRun(run, outcome.reduction, options.limits);
    const bool noEndingRL = outcome.reduction &&
                            outcome.reduction->status == core::ReductionStatus::Stopped &&
                            outcome.reduction->step == core::ReductionStep::ClosingCorrection &&
                            core::IsEmptyRL(run.EndRL);
    if (noEndingRL) checks.notReduced += " (give one with --end-rl)";
    if (options.corrections.Any() && outcome.reduction && checks.hasRLs) {
        checks.corrections = core::CorrectRun(outcome.reduction->reduced, options.corrections,
                                              options.correctionWords);
    }
    const readers::ReadWarnings& warnings = outcome.read.warnings;
    const std::string untold =
        warnings.More() > 0 ? "and " + std::to_string(warnings.More()) + " more" : "";
    for (const readers::ReadWarning& warning : warnings.Told()) {
        checks.fieldWarnings.push_back("line " + std::to_string(warning.line) + ": " +
                                       warning.text);
    }
    if (!untold.empty()) checks.fieldWarnings.push_back(untold);
    if (options.asJson) {
        // A line of a book of several names its book and itself, --run K's too.
        report::WriteJsonReport(out, sheet, run, outcome, windowing.messages, &checks,
                                {&shownBook, job.shown, &outputs, jsonLine || job.shown});
    } else {
        out << report::LevelReport(sheet) << report::ChecksReport(checks)
            << report::CorrectionsReport(checks);
    }
    // Where the read stopped, then what else was said (a failed save or print).
    const readers::ReadResult& read = outcome.read;
    if (read.status != readers::ReadStatus::Read) {
        if (read.line > 0) {
            say(shownWhere + ":" + std::to_string(read.line) + ": " + read.reason);
        } else {
            say(prefix + read.reason);
        }
        if (!job.pdfPath.empty() || !job.savePath.empty()) {
            say(prefix +
                "no workbook or PDF was written, as the field book was not read to its end");
        }
    } else if (noEndingRL) {
        say(shownWhere + ": no ending RL was given (use --end-rl); the reduction stopped at the " +
            core::ReductionStepName(outcome.reduction->step));
    } else if (outcome.reduction && outcome.reduction->status == core::ReductionStatus::Stopped) {
        say(shownWhere + ": the reduction stopped at the " +
            core::ReductionStepName(outcome.reduction->step) + ": " + outcome.reduction->reason);
    }
    for (const readers::ReadWarning& warning : read.warnings.Told()) {
        say(shownWhere + ":" + std::to_string(warning.line) + ": " + warning.text);
    }
    if (!untold.empty()) say(shownWhere + ": " + untold + " warnings");
    for (const ShownMessage& message : windowing.messages) {
        if (read.status == readers::ReadStatus::EndedWithMessage && !read.message.empty() &&
            message.text.starts_with(read.message)) {
            continue;  // told above, with its line
        }
        say(prefix + message.title + ": " + OneLine(message.text));
    }
    // A requested output that could not be written is the failure the caller must see first.
    return outputFailed ? kOutputFailed : ExitStatus(outcome);
}

/// The heading of a report among several, or of a line of a book of several: "==> BOOK <==",
/// with the levelling line, "==> BOOK (run 2 of 3, NAME) <==" (--run 2 too).
void Heading(const RunOptions& options, const BookPlan& plan, const report::RunOfBook* shown,
             bool afterAnother, std::ostream& out) {
    const bool lineOfSeveral = shown != nullptr && shown->of > 1;
    if (options.asJson || (!options.manyBooks && !afterAnother && !lineOfSeveral)) return;
    const bool first =
        plan.index == 0 && (shown == nullptr || shown->number == 1 || plan.item.run.has_value());
    out << (first ? "" : "\n") << "==> " << report::EscapedText(plan.fieldBook);
    if (shown) {
        out << " (run " << shown->number << " of " << shown->of
            << (shown->name.empty() ? "" : ", " + report::EscapedText(shown->name)) << ")";
    }
    out << " <==\n";
}

}  // namespace

int ReduceBook(const RunOptions& options, const BookPlan& plan, PdfPrinter& printer,
               WorkbookModuleWriter& writer, std::ostream& out, std::ostream& err) {
    const std::string shownBook = grid::ValidUtf8(plan.fieldBook);
    LineJob job{plan.item.run, nullptr, plan.savePath, plan.pdfPath, options.manyBooks};

    // A book that cannot be opened, or whose format cannot be told, is never read: the JSON
    // object still says so, with the sheet as the program starts.
    const auto notRead = [&](int status, const std::string& reason) {
        Heading(options, plan, nullptr, false, out);
        err << report::EscapedText("rendle-reduce: " + reason) << "\n";
        if (options.asJson) {
            grid::Grid sheet;
            core::SetUpLevelSheet(sheet);
            core::RunState run;
            commands::ReadCommandResult outcome;
            outcome.read.status = readers::ReadStatus::EndedSilently;
            outcome.read.reason = reason;
            const core::RunChecks checks = core::CheckRun(run, std::nullopt, options.limits);
            const bool jsonLine = options.manyBooks || options.jsonLines;
            report::ReportOutputs outputs;
            if (!plan.pdfPath.empty()) {
                outputs.pdf = report::OutputWritten{grid::ValidUtf8(plan.pdfPath), false, reason};
            }
            if (!plan.savePath.empty()) {
                outputs.workbook =
                    report::OutputWritten{grid::ValidUtf8(plan.savePath), false, reason};
            }
            report::WriteJsonReport(out, sheet, run, outcome, {}, &checks,
                                    {&shownBook, nullptr, &outputs, jsonLine});
        }
        return status;
    };

    // The field book is read once, into memory; its format and its levelling lines are told
    // from those bytes.
    std::string openError;
    FieldBookInput input(plan.fieldBook, openError, options.stop);
    if (!input.IsOpen()) {
        if (!options.format) return notRead(1, openError);
        Heading(options, plan, nullptr, false, out);
        return ReduceLine(options, plan.fieldBook, nullptr, openError, job, printer, writer, out,
                          err);
    }
    readers::Book book;
    std::string loadError;
    // A large regular file is mapped, not copied; anything else is read once into memory (for a
    // small book, mapping costs more than the copy it saves).
    const readers::LineDecoder decoder(options.encoding);
    const int file = input.RegularFile(kMapFromBytes);
    const bool loaded =
        (file >= 0 && readers::LoadMappedBook(file, options.format, decoder, book, loadError)) ||
        readers::LoadBook(input.Stream(), options.format, decoder, book, loadError);
    if (!loaded) {
        return notRead(1, "cannot read " + shownBook + ": " + loadError);
    }
    if (!book.format) {
        return notRead(kFormatUnknown, "cannot tell the format of " + shownBook +
                                           "; choose one with --format " +
                                           readers::FormatOptions("|"));
    }
    if (options.corrections.refraction) {
        if (const std::optional<size_t> line = readers::CurvatureAppliedAt(book)) {
            return notRead(2, shownBook + ":" + std::to_string(*line) +
                                  ": the instrument corrected this book for curvature or "
                                  "refraction already: it is not corrected twice (leave out "
                                  "--curvature-refraction)");
        }
    }

    const int lines = static_cast<int>(std::max<size_t>(book.lines.size(), 1));
    const auto nameOf = [&](int number) {
        return book.lines.empty() ? std::string()
                                  : book.lines[static_cast<size_t>(number - 1)].name;
    };
    if (plan.item.run) {
        const int number = *plan.item.run;
        if (number > lines) {
            if (book.lines.empty()) {
                return notRead(2, shownBook + " holds one levelling line; --run " +
                                      std::to_string(number) + " is not among them");
            }
            Heading(options, plan, nullptr, false, out);
            return ReduceLine(options, plan.fieldBook, &book, {}, job, printer, writer, out, err);
        }
        const report::RunOfBook shown{number, lines, nameOf(number)};
        job.shown = &shown;
        job.savePath = LineOutput(plan.savePath, plan.saveInFolder, number, lines);
        job.pdfPath = LineOutput(plan.pdfPath, plan.pdfInFolder, number, lines);
        Heading(options, plan, &shown, false, out);
        return ReduceLine(options, plan.fieldBook, &book, {}, job, printer, writer, out, err);
    }
    if (lines == 1) {
        Heading(options, plan, nullptr, false, out);
        return ReduceLine(options, plan.fieldBook, &book, {}, job, printer, writer, out, err);
    }
    // Several levelling lines: each a book of its own. One output file cannot hold them.
    if ((!plan.savePath.empty() && !plan.saveInFolder) ||
        (!plan.pdfPath.empty() && !plan.pdfInFolder)) {
        err << report::EscapedText("rendle-reduce: " + shownBook + " holds " +
                                   std::to_string(lines) +
                                   " levelling lines: --save and --pdf must name a folder (or "
                                   "choose one with --run)")
            << "\n";
        return kUsageError;
    }
    job.manyBooks = true;
    int status = 0;
    for (int number = 1; number <= lines; ++number) {
        // A stop asked for (Ctrl+C) ends the book between two lines; the lines done are whole.
        if (options.stop != nullptr && options.stop->load()) {
            err << report::EscapedText("rendle-reduce: " + shownBook +
                                       ": stopped by a signal after " + std::to_string(number - 1) +
                                       " of " + std::to_string(lines) + " levelling lines")
                << "\n";
            return WorseStatus(status, 2);
        }
        const report::RunOfBook shown{number, lines, nameOf(number)};
        job.run = number;
        job.shown = &shown;
        job.savePath = LineOutput(plan.savePath, plan.saveInFolder, number, lines);
        job.pdfPath = LineOutput(plan.pdfPath, plan.pdfInFolder, number, lines);
        Heading(options, plan, &shown, true, out);
        status = WorseStatus(
            status, ReduceLine(options, plan.fieldBook, &book, {}, job, printer, writer, out, err));
        // Each line's report goes out as soon as it is done; one that cannot ends the book.
        if (!out.flush()) break;
    }
    return status;
}

}  // namespace rendle::cli
