// rendle-net: adjusts many levelling runs together as a network, by least squares.
#include <unistd.h>

#include <exception>
#include <string>

#include "cli/Arguments.h"
#include "cli/NetArguments.h"
#include "cli/OutputModules.h"
#include "cli/Terminal.h"
#include "network/NetworkJob.h"

namespace {

using rendle::cli::kOutputFailed;
using rendle::cli::kUsageError;
using rendle::cli::Say;
namespace net = rendle::network;

constexpr int kTestFailed = 1;
constexpr int kBadInput = 2;
constexpr int kInternalError = 70;

int Run(int argc, char** argv) {
    net::NetworkJob job;
    if (const std::optional<int> ended = rendle::cli::ParseNetArguments(argc, argv, job)) {
        return *ended;
    }
    job.tellSnooping = isatty(STDERR_FILENO) != 0;
    const net::JobResult result = net::RunNetworkJob(job, Say);
    switch (result.status) {
        case net::JobStatus::BadInput:
            return kBadInput;
        case net::JobStatus::BadUsage:
            return kUsageError;
        case net::JobStatus::Passed:
        case net::JobStatus::TestFailed:
            break;
    }
    if (!result.sheets.empty()) {
        try {
            rendle::cli::WorkbookModuleWriter writer;
            writer({&result.sheets[0], &result.sheets[1]}, job.savePath);
        } catch (const std::exception& error) {
            Say("rendle-net: cannot write " + job.savePath + ": " + error.what());
            return kOutputFailed;
        }
    }
    if (!rendle::cli::WriteAll(STDOUT_FILENO, result.report)) {
        Say("rendle-net: standard output could not be written");
        return kOutputFailed;
    }
    if (result.saveRefused) return kOutputFailed;
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
