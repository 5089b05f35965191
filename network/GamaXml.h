// GNU Gama's XML for levelling networks (gama-local): a job written as its input, and such an
// input read as a network of height differences.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "network/Network.h"

namespace rendle::network {

/// What a gama-local input holds of a levelling network.
struct GamaNetwork {
    std::vector<Observation> observations;  ///< its <dh>, with their stdev (mm) and dist (km)
    std::vector<Benchmark> benchmarks;      ///< points fix="z"; weighted ones from <coordinates>
    std::vector<std::string> datum;         ///< points adj="Z": a free network's datum
    /// The z of adjusted points: their approximate heights, over which a free network's datum
    /// is laid (as gama-local lays it).
    std::vector<std::pair<std::string, double>> approx;
    std::optional<double> confidence;  ///< conf-pr
    /// <height-differences> blocks whose <cov-mat> has covariances, their observations by
    /// their place in `observations`.
    std::vector<CorrelatedBlock> correlated;
};

/// Reads a gama-local document named `name` (in messages); throws NetworkError naming the
/// file, the line and what is wrong: not XML, not gama-local, an observation kind that is not
/// a height difference (named), a value that is not a number or past plausibility.
GamaNetwork ReadGamaXml(std::string_view text, const std::string& name);

/// The job as a gama-local input: every observation (those data snooping removed too) with the
/// standard deviation the adjustment gave it, held benchmarks fix="z", weighted ones observed
/// in <coordinates>, a free network's datum points adj="Z" and the rest adj="z", each adjusted
/// point with its adjusted height as z (so that gama-local lays a free network's datum where
/// the job laid it); points in the
/// order of `result.heights`.
std::string GamaXmlOf(const NetworkResult& result, const std::vector<std::string>& datum,
                      const std::string& description);

}  // namespace rendle::network
