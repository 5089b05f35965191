// rendle-net: adjusts many levelling runs together as a network, by least squares.
#include <unistd.h>

#include <exception>
#include <sstream>
#include <string>

#include "cli/Arguments.h"
#include "cli/NetArguments.h"
#include "cli/OutputModules.h"
#include "cli/Terminal.h"
#include "grid/AtomicFile.h"
#include "network/NetworkJob.h"
#include "report/TextReport.h"

namespace {

using rendle::cli::kOutputFailed;
using rendle::cli::kUsageError;
using rendle::cli::Say;
namespace net = rendle::network;

constexpr int kTestFailed = 1;
constexpr int kBadInput = 2;
constexpr int kInternalError = 70;

/// Puts `text` at `path` whole, in one step; false, said and kept in `output`, when it cannot.
bool WriteWhole(const std::string& path, const std::string& text, net::OutputWritten& output) {
    try {
        rendle::grid::StagedFile staged(path);
        staged.Write(text);
        staged.Commit();
        output.written = true;
        return true;
    } catch (const std::exception& error) {
        Say("rendle-net: cannot write " + path + ": " + error.what());
        output.reason = error.what();
        return false;
    }
}

/// The files asked for, each whole or not at all; a stop asked for by a signal ends the
/// program between two of them. What became of each is kept in `outputs`; false when one
/// could not be written.
bool WriteFiles(const net::NetworkJob& job, const net::JobResult& result,
                net::NetworkOutputs& outputs) {
    bool written = true;
    const auto stopHere = [] {
        if (!rendle::cli::StopRequested()) return;
        Say("rendle-net: stopped by a signal; the files written before it are whole");
        rendle::cli::EndAsSignalled();
    };
    const std::string tooBig = "the network is too big for a workbook";
    for (auto [path, output] :
         {std::pair{&job.savePath, &outputs.workbook}, std::pair{&job.pdfPath, &outputs.pdf},
          std::pair{&job.svgPath, &outputs.svg}, std::pair{&job.gamaXmlPath, &outputs.gamaXml}}) {
        if (!path->empty()) *output = net::OutputWritten{*path, false, tooBig};
    }
    std::vector<const rendle::grid::Grid*> sheets;
    for (const rendle::grid::Grid& sheet : result.sheets) sheets.push_back(&sheet);
    if (!job.savePath.empty() && !sheets.empty()) {
        try {
            rendle::cli::WorkbookModuleWriter writer;
            writer(sheets, job.savePath);
            outputs.workbook->written = true;
        } catch (const std::exception& error) {
            Say("rendle-net: cannot write " + job.savePath + ": " + error.what());
            outputs.workbook->reason = error.what();
            written = false;
        }
    }
    stopHere();
    if (!job.svgPath.empty())
        written = WriteWhole(job.svgPath, result.svg, *outputs.svg) && written;
    stopHere();
    if (!job.gamaXmlPath.empty()) {
        written = WriteWhole(job.gamaXmlPath, result.gamaXml, *outputs.gamaXml) && written;
    }
    stopHere();
    if (!job.pdfPath.empty() && result.drawing && !sheets.empty()) {
        rendle::cli::PdfPrinter printer;
        std::string error;
        if (printer.PrintNetwork(*result.drawing, sheets, job.pdfPath, error)) {
            outputs.pdf->written = true;
        } else {
            Say("rendle-net: cannot write " + job.pdfPath + ": " + error);
            outputs.pdf->reason = error;
            written = false;
        }
    }
    stopHere();
    return written;
}

int Run(int argc, char** argv) {
    net::NetworkJob job;
    bool quiet = false;
    if (const std::optional<int> ended = rendle::cli::ParseNetArguments(argc, argv, job, quiet)) {
        return *ended;
    }
    if (job.classId == "list") {
        if (!rendle::cli::WriteAll(STDOUT_FILENO, rendle::report::ClassList())) {
            Say("rendle-net: standard output could not be written");
            return kOutputFailed;
        }
        return 0;
    }
    job.tellSnooping = isatty(STDERR_FILENO) != 0;
    // Until the outputs are written, Ctrl+C ends the program at once: nothing is written before.
    rendle::cli::EndAtOnceOnStopSignals();
    rendle::cli::ShowProgressOnTerminal(!quiet);
    job.progress = [](const std::string& stage) {
        rendle::cli::Progress("rendle-net: " + stage, true);
    };
    const net::JobResult result = net::RunNetworkJob(job, Say);
    switch (result.status) {
        case net::JobStatus::BadInput:
            rendle::cli::EndProgress();
            return kBadInput;
        case net::JobStatus::BadUsage:
            rendle::cli::EndProgress();
            return kUsageError;
        case net::JobStatus::Passed:
        case net::JobStatus::TestFailed:
            break;
    }
    rendle::cli::CatchStopSignals();
    rendle::cli::Progress("rendle-net: writing", true);
    net::NetworkOutputs outputs;
    const bool written = WriteFiles(job, result, outputs);
    rendle::cli::EndProgress();
    std::string report = result.report;
    if (result.writeJson) {
        // The JSON document says what became of each file, so it is written after them.
        std::ostringstream json;
        result.writeJson(outputs, json);
        report = json.str();
    }
    if (!rendle::cli::WriteAll(STDOUT_FILENO, report)) {
        Say("rendle-net: standard output could not be written");
        return kOutputFailed;
    }
    if (!written || result.saveRefused) return kOutputFailed;
    if (result.status == net::JobStatus::Passed) return 0;
    Say("rendle-net: exit status 1: " + result.failures);
    return kTestFailed;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        Say(std::string("rendle-net: internal error: ") + error.what());
        return kInternalError;
    } catch (...) {
        Say("rendle-net: internal error: an unknown exception");
        return kInternalError;
    }
}
