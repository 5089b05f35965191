#include "cli/Terminal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <mutex>

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

/// The progress line: whether it may be shown, whether it is, and when it last was.
struct ProgressLine {
    std::mutex mutex;
    bool enabled = false;
    bool shown = false;
    std::chrono::steady_clock::time_point last;
};

ProgressLine& TheProgressLine() {
    static ProgressLine line;
    return line;
}

constexpr auto kProgressEvery = std::chrono::milliseconds(100);
constexpr std::string_view kClearLine = "\r\033[K";

/// A progress line is on show, for a signal handler to clear.
volatile std::sig_atomic_t progressShown = 0;
int progressFd = STDERR_FILENO;

extern "C" void EndAtOnce(int signal) {
    if (progressShown) {
        const char clear[] = "\r\033[K";
        [[maybe_unused]] const ssize_t ignored = write(progressFd, clear, sizeof clear - 1);
    }
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigaction(signal, &standard, nullptr);
    raise(signal);
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

void EndAtOnceOnStopSignals() {
    progressFd = ProgramStderr();
    struct sigaction stop {};
    stop.sa_handler = EndAtOnce;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the program was started with ignored stays ignored (nohup's SIGHUP).
        struct sigaction was {};
        if (sigaction(signal, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;
        sigaction(signal, &stop, nullptr);
    }
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
    ProgressLine& progress = TheProgressLine();
    const std::lock_guard lock(progress.mutex);
    WriteAll(ProgramStderr(),
             std::string(progress.shown ? kClearLine : "") + grid::EscapedText(line) + "\n");
    progress.shown = false;
    progressShown = 0;
}

void ShowProgressOnTerminal(bool on) {
    ProgressLine& progress = TheProgressLine();
    const std::lock_guard lock(progress.mutex);
    progress.enabled = on && isatty(ProgramStderr()) != 0;
}

void Progress(const std::string& text, bool now) {
    ProgressLine& progress = TheProgressLine();
    const std::lock_guard lock(progress.mutex);
    if (!progress.enabled) return;
    const auto time = std::chrono::steady_clock::now();
    if (!now && progress.shown && time - progress.last < kProgressEvery) return;
    progress.last = time;
    progress.shown = true;
    progressShown = 1;
    WriteAll(ProgramStderr(), std::string(kClearLine) + grid::EscapedText(text));
}

void EndProgress() {
    ProgressLine& progress = TheProgressLine();
    const std::lock_guard lock(progress.mutex);
    if (progress.shown) WriteAll(ProgramStderr(), kClearLine);
    progress.shown = false;
    progressShown = 0;
}

std::string NotAnOption(const std::string& value) {
    if (value.starts_with("--")) return "needs a value, not the option " + value;
    return {};
}

}  // namespace rendle::cli
