// What both command-line programs share of the terminal: writing whole, one-line problems on
// stderr, option values that are really options, and a stop asked for by a signal.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

namespace rendle::cli {

/// The program's stderr: a copy of descriptor 2 taken at the first call (made at the start), so
/// that descriptor 2 can be silenced while a library that prints failures of its own writes.
int ProgramStderr();

/// SIGINT, SIGTERM and SIGHUP ask the program to stop (StopRequested() turns true); a second
/// one ends it at once, as the signal would have.
void CatchStopSignals();
const std::atomic<bool>& StopRequested();
/// SIGINT, SIGTERM and SIGHUP end the program at once, as the signal does by default, the
/// progress line cleared first (one the program was started with ignored stays ignored): for
/// work that writes nothing until it ends.
void EndAtOnceOnStopSignals();
/// After a stop asked for by a signal, ends the program as that signal would have ended it.
void EndAsSignalled();

/// Writes all of `bytes` to the descriptor; false with errno when it cannot.
bool WriteAll(int fd, std::string_view bytes);

/// One line on the program's stderr, as valid UTF-8 with control characters escaped (a line of
/// progress on show is cleared first).
void Say(const std::string& line);

/// Progress on one line of stderr that rewrites itself, when stderr is a terminal and `on`
/// (false for --quiet); else nothing is ever shown.
void ShowProgressOnTerminal(bool on);
/// Puts `text` on the progress line (at most ten times a second, the last text of a burst
/// skipped; `now` puts it whatever the time).
void Progress(const std::string& text, bool now = false);
/// Clears the progress line, so that what follows starts on a clean line.
void EndProgress();

/// A value that looks like an option ("--json" after "--end-rl") was never meant as the value:
/// the reason for CLI11's check, or nothing.
std::string NotAnOption(const std::string& value);

}  // namespace rendle::cli
