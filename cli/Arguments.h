// The command line of both command-line programs, parsed by CLI11 alike.
#pragma once

#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>
#include <string>

#include "cli/Terminal.h"

namespace rendle::cli {

inline constexpr int kOutputFailed = 4;
inline constexpr int kUsageError = 64;

/// Parses the command line. Nothing when the program goes on; else the status it ends with:
/// 0 after --help or --version (4 when standard output could not take them), 64 for bad usage,
/// said on stderr by CLI11.
inline std::optional<int> ParseArguments(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& done) {  // --help, --version
        const int status = app.exit(done);
        std::cout.flush();
        if (!std::cout) {
            Say(app.get_name() + ": standard output could not be written");
            return kOutputFailed;
        }
        return status;
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kUsageError;
    }
    return std::nullopt;
}

}  // namespace rendle::cli
