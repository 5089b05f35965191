// rendle-net's command line: its options, help and manual page text, parsed into a job.
#pragma once

#include <optional>

#include "network/NetworkJob.h"

namespace rendle::cli {

/// Which program parses: rendle-net, or the network window taking the same options.
struct NetProgram {
    const char* name = "rendle-net";
    const char* description = nullptr;  ///< --help's text; nothing: rendle-net's
    const char* footer = nullptr;       ///< nothing: rendle-net's exit statuses
    bool inputsRequired = true;
};

/// Parses rendle-net's command line into `job`. Nothing when the program goes on; else the
/// status it ends with (after --help or --version, or bad usage said on stderr). `quiet`: no
/// progress line.
std::optional<int> ParseNetArguments(int argc, char** argv, network::NetworkJob& job, bool& quiet,
                                     const NetProgram& program = {});

}  // namespace rendle::cli
