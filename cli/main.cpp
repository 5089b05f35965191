// rendle-reduce: reads a field book into the level sheet and reduces the run, without windows.
#include <malloc.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

#include "cli/ReduceCommand.h"
#include "cli/Terminal.h"

namespace {

constexpr int kInternalError = 70;

int Run(int argc, char** argv) {
    rendle::cli::ReduceCommand command;
    if (const std::optional<int> ended = rendle::cli::ParseReduceArguments(argc, argv, command)) {
        return *ended;
    }
    return rendle::cli::RunReduceCommand(command, rendle::cli::StopRequested());
}

}  // namespace

int main(int argc, char** argv) {
    rendle::cli::ProgramStderr();  // kept before any library may silence descriptor 2
    // A closed pipe is a failed write, said and ended with status 4, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    // SIGINT, SIGTERM and SIGHUP: no further book is started.
    rendle::cli::CatchStopSignals();
    // Book after book allocates and frees the same few megabytes: freed memory is kept for the
    // next book (up to 32 MB) instead of being handed back and faulted in again.
    mallopt(M_TRIM_THRESHOLD, 32 << 20);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    // A file-size limit makes --save and --pdf fail with EFBIG, reported like a full disk,
    // instead of killing the run.
    std::signal(SIGXFSZ, SIG_IGN);
    // Whatever escapes the run (memory, a library's own exception) ends it with one line and a
    // failure status, never an abort.
    try {
        const int status = Run(argc, argv);
        rendle::cli::EndAsSignalled();
        return status;
    } catch (const std::exception& error) {
        std::fputs(("rendle-reduce: " + std::string(error.what()) + "\n").c_str(), stderr);
    } catch (...) {
        std::fputs("rendle-reduce: an unexpected error ended the run\n", stderr);
    }
    return kInternalError;
}
