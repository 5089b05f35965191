// rendle-reduce: reads a field book into the level sheet and reduces the run, without windows.
#include <dlfcn.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "cli/BatchRun.h"
#include "cli/FieldBookInput.h"
#include "commands/Output.h"
#include "core/LevelSheet.h"
#include "core/Reduction.h"
#include "grid/Utf8.h"
#include "readers/LineDecoder.h"
#include "report/PdfModule.h"
#include "report/TextReport.h"

namespace {

constexpr int kUsageError = 64;

const char* kDescription =
    R"(Reduces a levelling run without windows, as the program does from its File menu.

The field book is read by the command of its format, as if chosen in the open-file dialog,
and the benchmark window is confirmed with OK: its boxes hold what the read filled in (the
starting RL from the field book, the ending RL when the run closes on its first station),
except where --start-rl or --end-rl replaces a box's text (an empty TEXT leaves it empty).
The run is then reduced by the rise-and-fall method with the misclose spread over the set-ups.

Without --format the format is told from the content: a first line starting "For M5" is
Zeiss M5; otherwise the first header record naming SDR20 or SDR33 decides.

Text: a line that is valid UTF-8 is read as UTF-8, any other line as Windows-1252 (the code
page of the Windows transfer programs); a UTF-8 byte-order mark is skipped. --encoding NAME
reads every line in that encoding instead (any name iconv knows, such as CP1251). Field
positions count characters. Everything printed is UTF-8.

Problems are told on stderr, one line each: a read that ended with a message as
FIELD-BOOK:LINE: reason, a reduction that stopped early as FIELD-BOOK: the step and reason.

Output: the level sheet as a plain-text level report followed by a short "Checks" block, or
with --json one JSON object with the sheet's cells, the run state, the benchmark window's boxes,
the messages, the outcome and "checks": the arithmetic check (sums of BS, FS, rise and fall,
the three differences and whether they agree), the misclose against the tolerance
(--tolerance MM, else the sheet's 2 mm x sqrt(K)) with its verdict and ratio, and the sight
balance per set-up (imbalance, running sum, flagged beyond --balance-limit A,B, default 5,10);
a run that was not reduced says why instead.
--save writes the level sheet as a workbook (.xlsx) exactly as File > Save does; --pdf prints
the level report to a PDF file exactly as File > Print does. Both may be given together: the
report is printed first, so the workbook keeps the report's print set-up.

Exit status:
  0   reduced: the summary block (misclose, permissible error, length) was written
  1   the read ended without a message (for example the file cannot be opened)
  2   the read ended with a message (wrong format, data error, run too long)
  3   the read reached the reduction but the reduction stopped early (for example an RL
      that is no number)
  4   the workbook or the PDF could not be written, whatever the read gave (the JSON
      "outcome" still tells the read's and the reduction's outcome)
  64  bad usage, or a field book whose format cannot be told)";

constexpr int kOutputFailed = 4;

/// Prints the level report to a PDF through the printer module beside the program, loaded only
/// now: a run without --pdf loads no Qt library.
bool PrintPdf(const rendle::grid::Grid& sheet, const std::string& path, std::string& error) {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::string module = (self.parent_path() / "rendle-pdf.so").string();
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        error = "the PDF printer " + module + " is missing or cannot be loaded (" +
                std::string(dlerror()) + ")";
        return false;
    }
    const auto print = reinterpret_cast<PrintPdfFunction>(dlsym(handle, kPrintPdfSymbol));
    if (!print) {
        error = "the PDF printer " + module + " has no entry point";
        return false;
    }
    char reason[1024] = {};
    // The module stays loaded: Qt's application and fonts live until the process ends.
    if (print(&sheet, path.c_str(), reason, sizeof reason) > 0) return true;
    error = reason;
    return false;
}

/// One line on stderr, as valid UTF-8.
void Say(const std::string& line) {
    std::cerr << rendle::grid::ValidUtf8(line) << "\n";
}

int Run(int argc, char** argv) {
    using rendle::readers::FieldBookFormat;

    CLI::App app(kDescription, "rendle-reduce");
    std::string fieldBook;
    std::optional<std::string> formatName;
    std::optional<std::string> startRL;
    std::optional<std::string> endRL;
    bool asJson = false;
    std::string savePath;
    std::string pdfPath;
    std::string encoding;
    std::optional<double> toleranceMm;
    std::string balanceLimits;
    const std::map<std::string, FieldBookFormat> formats = {{"sdr20", FieldBookFormat::SDR20},
                                                            {"sdr33", FieldBookFormat::SDR33},
                                                            {"m5", FieldBookFormat::M5}};

    app.add_option("--format", formatName, "Field-book format: sdr20, sdr33 or m5")
        ->check(CLI::IsMember({"sdr20", "sdr33", "m5"}));
    app.add_option("--start-rl", startRL, "Text for the starting benchmark RL box")->expected(1);
    app.add_option("--end-rl", endRL, "Text for the ending benchmark RL box")->expected(1);
    app.add_flag("--json", asJson, "Print one JSON object instead of the level report");
    app.add_option("--save", savePath, "Also write the level sheet as a workbook (.xlsx)");
    app.add_option("--pdf", pdfPath, "Also print the level report to this PDF file");
    app.add_option("--tolerance", toleranceMm,
                   "Judge the misclose against MM mm x sqrt(K) instead of the sheet's 2 mm x "
                   "sqrt(K) (common classes: 2, 3, 5, 8, 12)")
        ->check(CLI::PositiveNumber);
    app.add_option("--balance-limit", balanceLimits,
                   "Flag a set-up whose sight lengths differ by more than A m, or a running sum "
                   "past B m (default 5,10)");
    app.add_option("--encoding", encoding,
                   "Read every line in this encoding (an iconv name such as CP1251)");
    app.add_option("FIELD-BOOK", fieldBook, "The field book to read; - reads standard input")
        ->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kUsageError;
    }

    rendle::core::CheckLimits limits;
    limits.toleranceMm = toleranceMm;
    if (!balanceLimits.empty()) {
        char comma = 0;
        std::istringstream in(balanceLimits);
        if (!(in >> limits.imbalanceLimit >> comma >> limits.runningLimit) || comma != ',' ||
            !in.eof() || limits.imbalanceLimit < 0 || limits.runningLimit < 0) {
            Say("rendle-reduce: --balance-limit takes two lengths in metres, such as 5,10");
            return kUsageError;
        }
    }

    // Paths and arguments are shown as UTF-8 whatever bytes they hold.
    const std::string shownBook = rendle::grid::ValidUtf8(fieldBook);
    try {
        rendle::readers::LineDecoder{encoding};
    } catch (const std::invalid_argument& error) {
        Say(std::string("rendle-reduce: ") + error.what());
        return kUsageError;
    }

    // No output may take the place of the field book or of the other output.
    const std::string bookForComparison = fieldBook == "-" ? "/dev/stdin" : fieldBook;
    const std::string workbookPath =
        savePath.empty() ? std::string() : rendle::commands::WorkbookPath(savePath);
    const std::pair<std::string, const char*> outputs[] = {{workbookPath, "--save"},
                                                           {pdfPath, "--pdf"}};
    for (const auto& [output, option] : outputs) {
        if (!output.empty() && rendle::cli::SameFile(bookForComparison, output)) {
            Say(std::string("rendle-reduce: ") + option + " " + rendle::grid::ValidUtf8(output) +
                " is the field book itself; it is never written over");
            return kUsageError;
        }
    }
    if (!workbookPath.empty() && !pdfPath.empty() && rendle::cli::SameFile(workbookPath, pdfPath)) {
        Say("rendle-reduce: --save and --pdf name the same file " +
            rendle::grid::ValidUtf8(pdfPath) + "; one would replace the other");
        return kUsageError;
    }

    // The field book is opened once; its format is told from what has been read.
    std::string openError;
    rendle::cli::FieldBookInput input(fieldBook, openError);
    if (!input.IsOpen() && !formatName) {
        Say("rendle-reduce: " + openError);
        return 1;
    }
    FieldBookFormat format;
    if (formatName) {
        format = formats.at(*formatName);
    } else {
        bool failed = false;
        const auto detected = input.DetectFormat(encoding, failed);
        if (failed) {
            Say("rendle-reduce: cannot read " + shownBook);
            return 1;
        }
        if (!detected) {
            Say("rendle-reduce: cannot tell the format of " + shownBook +
                "; choose one with --format sdr20|sdr33|m5");
            return kUsageError;
        }
        format = *detected;
    }

    // The program's start state: the level sheet laid out, the run state at its start values.
    rendle::grid::Grid sheet;
    rendle::core::SetUpLevelSheet(sheet);
    rendle::core::RunState run;
    // The open-file dialog gives nothing for a field book that could not be opened, so the read
    // ends there, silently, with the sheet cleared as the command leaves it.
    rendle::cli::BatchWindowing windowing(input.IsOpen() ? fieldBook : std::string(), startRL,
                                          endRL);

    // The outputs still show the sheet as a read that could not open its file leaves it.
    rendle::commands::ReadCommandResult outcome =
        input.IsOpen()
            ? rendle::commands::RunReadCommand(format, input.Stream(), sheet, run, windowing,
                                               rendle::readers::LineDecoder(encoding))
            : rendle::commands::RunReadCommand(format, sheet, run, windowing);
    if (!input.IsOpen()) outcome.read.reason = openError;

    // The output commands act on the sheet as the command left it, as from the File menu:
    // printing first, so that a workbook saved with it carries the level report's print set-up.
    bool outputFailed = false;
    if (!pdfPath.empty()) {
        windowing.setPrinter([&](const rendle::grid::Grid& printed) {
            std::string error;
            if (!PrintPdf(printed, pdfPath, error)) {
                windowing.ShowMessage("The level report was not printed: " + error + ".", "Print",
                                      rendle::commands::MessageIcon::Critical);
                outputFailed = true;
            }
        });
        rendle::commands::PrintLevelReport(sheet, windowing);
    }
    if (!savePath.empty()) {
        windowing.setSaveName(savePath);
        const auto saved = rendle::commands::SaveLevelSheet(sheet, windowing);
        outputFailed = outputFailed || saved.status != rendle::commands::SaveStatus::Saved;
    }

    // The checks a surveyor makes before handing in the run; they change nothing in the sheet.
    const rendle::core::RunChecks checks =
        rendle::core::CheckRun(sheet, run, outcome.reduction, limits);
    if (asJson) {
        rendle::cli::WriteJsonReport(std::cout, sheet, run, outcome, windowing.messages, &checks);
    } else {
        std::cout << rendle::report::LevelReport(sheet) << rendle::cli::ChecksReport(checks);
    }
    // Where the read stopped, then what else was said (a failed save or print).
    const rendle::readers::ReadResult& read = outcome.read;
    if (read.status != rendle::readers::ReadStatus::Read) {
        if (read.line > 0) {
            Say(shownBook + ":" + std::to_string(read.line) + ": " + read.reason);
        } else {
            Say("rendle-reduce: " + read.reason);
        }
    } else if (outcome.reduction &&
               outcome.reduction->status == rendle::core::ReductionStatus::Stopped) {
        Say(shownBook + ": the reduction stopped at the " +
            rendle::core::ReductionStepName(outcome.reduction->step) + ": " +
            outcome.reduction->reason);
    }
    for (const rendle::cli::ShownMessage& message : windowing.messages) {
        if (read.status == rendle::readers::ReadStatus::EndedWithMessage &&
            message.text == read.message) {
            continue;  // told above, with its line
        }
        Say("rendle-reduce: " + message.title + ": " + message.text);
    }
    // A requested output that could not be written is the failure the caller must see first.
    return outputFailed ? kOutputFailed : rendle::cli::ExitStatus(outcome);
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit makes --save and --pdf fail with EFBIG, reported like a full disk,
    // instead of killing the run.
    std::signal(SIGXFSZ, SIG_IGN);
    // Whatever escapes the run (memory, a library's own exception) ends it with one line and a
    // failure status, never an abort.
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fputs(("rendle-reduce: " + std::string(error.what()) + "\n").c_str(), stderr);
    } catch (...) {
        std::fputs("rendle-reduce: an unexpected error ended the run\n", stderr);
    }
    return 1;
}
