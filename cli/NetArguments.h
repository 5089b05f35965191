// rendle-net's command line: its options, help and manual page text, parsed into a job.
#pragma once

#include <optional>

#include "network/NetworkJob.h"

namespace rendle::cli {

/// Parses rendle-net's command line into `job`. Nothing when the program goes on; else the
/// status it ends with (after --help or --version, or bad usage said on stderr). `quiet`: no
/// progress line.
std::optional<int> ParseNetArguments(int argc, char** argv, network::NetworkJob& job, bool& quiet);

}  // namespace rendle::cli
