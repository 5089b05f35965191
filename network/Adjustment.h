// The adjustment of a levelling network by least squares: observation equations of the height
// differences (and of the benchmarks given with a standard deviation), normal equations
// factored sparse, and the statistics a surveyor signs off on.
#pragma once

#include <vector>

#include "core/ToleranceClasses.h"
#include "network/Network.h"

namespace rendle::network {

/// Adjusts the network of `observations` on `benchmarks` (none: a free network over
/// options.datum), with data snooping when asked, and checks its loops and the sections run
/// twice, together with `lineLoops`. Throws NetworkError naming what cannot be adjusted: an
/// observation from a point to itself, a weight that cannot be had (a length of 0 or less by
/// length, no set-ups, no σ), a part of the network no benchmark or datum point reaches, a
/// singular system.
NetworkResult Adjust(const std::vector<Observation>& observations,
                     const std::vector<Benchmark>& benchmarks,
                     const std::vector<LineLoop>& lineLoops, const AdjustmentOptions& options);

/// The two-sided critical value of the standardized residual at level `alpha0` (3.29 at 0.001)
/// and the non-centrality λ0 of that test at `power` (17.07 at 0.001 and 0.80).
double CriticalW(double alpha0);
double Lambda0(double alpha0, double power);

/// The misclose limits of a tolerance class (the job's default 2 mm √K without one): each kind
/// of misclosure the class sets no figure for takes the nearest kind it does set, and the words
/// say so.
MiscloseLimits LimitsOfClass(const core::ToleranceClass* toleranceClass);

}  // namespace rendle::network
