// A network job kept as a small text file: its inputs, benchmarks and options, one a line
// ("input north.gsi", "fix BM1=100.000", "class fgcs-2-1"), read by rendle-net --job and by the
// network window alike. Paths are kept relative to the job file's folder where they lie in or
// below it, so a job moves with its field books.
#pragma once

#include <string>
#include <string_view>

#include "network/NetworkJob.h"

namespace rendle::network {

/// The first line of a job file, and what tells one from any other text.
inline constexpr std::string_view kJobFileHeading = "# Rendle network job";

/// Reads the job file `path` holds as `text` into a job (outputs left empty). A relative path
/// is taken from the job file's folder. Throws NetworkError naming the file, the line and
/// why for anything else: an unknown word, a value out of range, a class Rendle does not know.
NetworkJob ReadJobFile(std::string_view text, const std::string& path);

/// Reads the job file at `path`; throws NetworkError when it cannot be read.
NetworkJob LoadJobFile(const std::string& path);

/// The text of the job file of `job` to be kept at `path`: the inputs, benchmarks and options
/// (no outputs). Throws NetworkError for a name a line cannot hold (a line end in it).
std::string JobFileText(const NetworkJob& job, const std::string& path);

}  // namespace rendle::network
