// The statistics of an adjusted levelling network, worked out once above the solver: heights and
// their variances, residuals, redundancy numbers, the variances of residuals and adjusted
// values, and the effect of an error on the heights.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "network/Problem.h"

namespace rendle::network {

/// The adjustment of `problem` without the rows marked in `removed`, solved by `kind`.
/// `stage` is told as each long step begins ("factoring", "statistics").
Problem::Solution Solve(const Problem& problem, const std::vector<bool>& removed, SolverKind kind,
                        const std::function<void(const std::string&)>& stage = {});

}  // namespace rendle::network
