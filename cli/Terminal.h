// What both command-line programs share of the terminal: writing whole, one-line problems on
// stderr, and option values that are really options.
#pragma once

#include <string>
#include <string_view>

namespace rendle::cli {

/// Writes all of `bytes` to the descriptor; false with errno when it cannot.
bool WriteAll(int fd, std::string_view bytes);

/// One line on the program's stderr, as valid UTF-8 with control characters escaped.
void Say(const std::string& line);

/// A value that looks like an option ("--json" after "--end-rl") was never meant as the value:
/// the reason for CLI11's check, or nothing.
std::string NotAnOption(const std::string& value);

}  // namespace rendle::cli
