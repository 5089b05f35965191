#include "cli/ReduceCommand.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "cli/Arguments.h"
#include "cli/OrderedRun.h"
#include "cli/OutputModules.h"
#include "cli/OutputPlan.h"
#include "cli/ReduceBook.h"
#include "cli/Terminal.h"
#include "core/ToleranceClasses.h"
#include "grid/AtomicFile.h"
#include "readers/FieldBook.h"
#include "readers/LineDecoder.h"
#include "report/TextReport.h"

namespace rendle::cli {

int RunReduceCommand(const ReduceCommand& command, const std::atomic<bool>& stop) {
    if (command.classId == "list" && !command.fieldBooks.empty()) {
        Say("rendle-reduce: --class list prints the classes and reduces no field book; give it "
            "alone (run with --help for more information)");
        return kUsageError;
    }
    if (command.classId == "list") {
        const std::string list = report::ClassList();
        if (!WriteAll(STDOUT_FILENO, list)) {
            Say("rendle-reduce: standard output could not be written");
            return kOutputFailed;
        }
        return 0;
    }
    if (command.fieldBooks.empty()) {
        Say("rendle-reduce: FIELD-BOOK is required (run with --help for more information)");
        return kUsageError;
    }

    core::CheckLimits limits;
    limits.toleranceMm = command.toleranceMm;
    limits.stationLimitMm = command.stationLimitMm;
    if (command.balanceLimits.size() == 2) {
        limits.imbalanceLimit = command.balanceLimits[0];
        limits.runningLimit = command.balanceLimits[1];
        limits.balanceGiven = true;
    }
    if (!command.classId.empty()) limits.toleranceClass = core::FindToleranceClass(command.classId);
    if (!command.classFile.empty()) {
        try {
            limits.toleranceClass = &core::LoadClassFile(command.classFile);
        } catch (const core::ClassFileError& error) {
            Say(std::string("rendle-reduce: ") + error.what());
            return kUsageError;
        }
        if (!command.classId.empty() && command.classId != limits.toleranceClass->id) {
            Say("rendle-reduce: --class " + command.classId + " and --class-file " +
                command.classFile + " name two classes; give one");
            return kUsageError;
        }
    }

    try {
        readers::LineDecoder{command.encoding};
    } catch (const std::invalid_argument& error) {
        Say(std::string("rendle-reduce: ") + error.what());
        return kUsageError;
    }

    RunOptions options;
    if (!command.staffs.empty() || !command.staffsFile.empty() || command.temperature) {
        if (core::StaffsGapOf(command.staffsFile, command.staffs,
                              command.temperature.has_value()) != core::StaffsGap::None) {
            Say("rendle-reduce: staff corrections need the staff table and the staffs of the run "
                "(--staffs FILE.csv --staff S[,S2]); --temperature is the staffs'");
            return kUsageError;
        }
        try {
            options.corrections.staffs = core::LoadStaffs(command.staffsFile, command.staffs);
        } catch (const core::CorrectionError& error) {
            Say(std::string("rendle-reduce: ") + error.what());
            return kUsageError;
        }
        options.corrections.temperature = command.temperature;
    }
    options.corrections.refraction = command.refraction;
    options.correctionWords = core::CorrectionWords(options.corrections, command.staffsFile);
    options.format = command.format;
    options.startRL = command.startRL;
    options.endRL = command.endRL;
    options.asJson = command.asJson || command.jsonLines;
    options.jsonLines = command.jsonLines;
    options.encoding = command.encoding;
    options.limits = limits;
    options.stop = &stop;
    // Each book is read once, when its turn comes; a book of several levelling lines is then
    // reduced line by line, each as a book of its own.
    std::vector<BookItem> items;
    items.reserve(command.fieldBooks.size());
    for (const std::string& book : command.fieldBooks) items.push_back({book, command.runNumber});
    options.manyBooks = items.size() > 1;

    std::vector<BookPlan> plans;
    std::string refusal;
    const auto countLines = [&command](const std::string& fieldBook) -> std::optional<int> {
        std::error_code ec;
        if (fieldBook == "-" || !std::filesystem::is_regular_file(fieldBook, ec)) {
            return std::nullopt;
        }
        std::ifstream in(fieldBook, std::ios::binary);
        readers::Book book;
        std::string error;
        if (!in || !readers::LoadBook(in, command.format, readers::LineDecoder(command.encoding),
                                      book, error)) {
            return 1;  // a book that cannot be read writes nothing; its name is kept for it
        }
        return static_cast<int>(book.lines.size());
    };
    if (!PlanOutputs(items, command.savePath, command.pdfPath, countLines, plans, refusal)) {
        Say("rendle-reduce: " + refusal);
        return kUsageError;
    }

    // The report printer is started on this thread before any book is read.
    PdfPrinter printer;
    WorkbookModuleWriter writer;
    if (!command.pdfPath.empty()) {
        std::string notLoaded;  // told by each book that asks for a PDF
        printer.Open(notLoaded);
    }
    const auto work = [&](size_t index, std::ostream& out, std::ostream& err) {
        return ReduceBook(options, plans[index], printer, writer, out, err);
    };
    // Each book's report goes out whole, and a failed write to standard output (a full disk, a
    // closed pipe) ends the run as a failure.
    std::string outputError;
    size_t delivered = 0;
    // Books done of all, on a terminal whose screen the reports do not go to.
    ShowProgressOnTerminal(!command.quiet && plans.size() > 1 && isatty(STDOUT_FILENO) == 0);
    const std::string all = " of " + std::to_string(plans.size()) + " field books";
    const auto deliver = [&outputError, &delivered, &all](const ItemOutput& item) {
        if (!item.err.empty()) EndProgress();
        if (!WriteAll(STDOUT_FILENO, item.out)) {
            outputError = grid::WriteErrorText(errno);
            WriteAll(ProgramStderr(), item.err);
            return false;
        }
        WriteAll(ProgramStderr(), item.err);
        delivered += item.whole ? 1 : 0;
        Progress("rendle-reduce: " + std::to_string(delivered) + all);
        return true;
    };
    const int status = RunInOrder(plans.size(), command.jobs, work, deliver, stop);
    EndProgress();
    if (!outputError.empty()) {
        Say("rendle-reduce: standard output could not be written (" + outputError +
            "); the books after it were not reduced");
        return WorseStatus(status, kOutputFailed);
    }
    if (stop && delivered < plans.size()) {
        // The program's own stop, told: what was done is whole, the rest was not started.
        Say("rendle-reduce: stopped by a signal after " + std::to_string(delivered) + " of " +
            std::to_string(plans.size()) + " field books; the others were not reduced");
    }
    return status;
}

}  // namespace rendle::cli
