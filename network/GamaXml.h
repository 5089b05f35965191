// GNU Gama's XML for levelling networks (gama-local): a job written as its input, and such an
// input read as a network of height differences.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "network/Network.h"

namespace rendle::network {

/// What a gama-local input holds of a levelling network.
struct GamaNetwork {
    std::vector<Observation> observations;  ///< its <dh>, with their stdev (mm) and dist (km)
    std::vector<Benchmark> benchmarks;      ///< points fix="z"; weighted ones from <coordinates>
    std::vector<std::string> datum;         ///< points adj="Z": a free network's datum
    std::optional<double> confidence;       ///< conf-pr
};

/// Reads a gama-local document named `name` (in messages); throws NetworkError naming the
/// file, the line and what is wrong: not XML, not gama-local, an observation kind that is not
/// a height difference (named), a value that is not a number or past plausibility.
GamaNetwork ReadGamaXml(std::string_view text, const std::string& name);

/// The job as a gama-local input: every observation (those data snooping removed too) with the
/// standard deviation the adjustment gave it, held benchmarks fix="z", weighted ones observed
/// in <coordinates>, a free network's datum points adj="Z" and the rest adj="z"; points in the
/// order of `result.heights`.
std::string GamaXmlOf(const NetworkResult& result, const std::vector<std::string>& datum,
                      const std::string& description);

}  // namespace rendle::network
