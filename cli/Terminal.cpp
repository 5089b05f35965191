#include "cli/Terminal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "grid/Utf8.h"

namespace rendle::cli {

namespace {

/// Set by SIGINT, SIGTERM or SIGHUP.
std::atomic<bool> stopRequested{false};
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void RequestStop(int signal) {
    if (stopRequested) {
        // Asked a second time: end at once, as the signal would have ended the program.
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        sigaction(signal, &standard, nullptr);
        raise(signal);
        return;
    }
    stopSignal = signal;
    stopRequested = true;
}

}  // namespace

int ProgramStderr() {
    static const int saved = [] {
        const int fd = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        return fd >= 0 ? fd : STDERR_FILENO;
    }();
    return saved;
}

void CatchStopSignals() {
    struct sigaction stop {};
    stop.sa_handler = RequestStop;
    stop.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &stop, nullptr);
}

const std::atomic<bool>& StopRequested() {
    return stopRequested;
}

void EndAsSignalled() {
    if (stopSignal == 0) return;
    std::signal(stopSignal, SIG_DFL);
    std::raise(stopSignal);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

void Say(const std::string& line) {
    WriteAll(ProgramStderr(), grid::EscapedText(line) + "\n");
}

std::string NotAnOption(const std::string& value) {
    if (value.starts_with("--")) return "needs a value, not the option " + value;
    return {};
}

}  // namespace rendle::cli
