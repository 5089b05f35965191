#include "network/Adjustment.h"

#include <algorithm>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <deque>
#include <map>
#include <memory>
#include <numeric>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>

#include "core/Verdict.h"
#include "network/Closures.h"
#include "network/Problem.h"
#include "network/Snooper.h"
#include "network/Statistics.h"

namespace rendle::network {

double CriticalW(double alpha0) {
    const boost::math::normal normal;
    return boost::math::quantile(boost::math::complement(normal, alpha0 / 2.0));
}

double Lambda0(double alpha0, double power) {
    const boost::math::normal normal;
    const double sum = CriticalW(alpha0) + boost::math::quantile(normal, power);
    return sum * sum;
}

MiscloseLimits LimitsOfClass(const core::ToleranceClass* c) {
    MiscloseLimits limits;
    if (!c) return limits;
    const auto figure = [](double mm) {
        return core::FixedText(mm, core::DecimalsOf(mm, 3)) + " mm x sqrt(K)";
    };
    std::string fallbacks;
    // A kind of misclosure the class sets no figure for takes the nearest kind it does set.
    const auto pick = [&](std::optional<double> own, std::optional<double> nearest,
                          const char* kind, const char* nearestKind) {
        if (own) return *own;
        if (nearest) {
            fallbacks += std::string("; the class sets no ") + kind + " figure: its " +
                         nearestKind + " figure, " + figure(*nearest);
            return *nearest;
        }
        fallbacks += std::string("; the class sets no ") + kind + " figure: 2 mm x sqrt(K)";
        return 2.0;
    };
    limits.loopMm = pick(c->loopMm, c->lineMm, "loop", "line");
    limits.benchmarkLineMm = pick(c->lineMm, c->loopMm, "line", "loop");
    // A section run twice by the class's round-trip figure where it sets one.
    limits.sectionDifferenceMm =
        c->roundTripMm ? *c->roundTripMm : pick(c->lineMm, c->loopMm, "section", "loop");
    limits.words = std::string(c->name) + ": loops " + figure(limits.loopMm) +
                   ", lines between benchmarks " + figure(limits.benchmarkLineMm) +
                   ", sections run twice " + figure(limits.sectionDifferenceMm) + fallbacks;
    return limits;
}

namespace {

void CheckLevels(const AdjustmentOptions& options) {
    if (!(options.alpha > 0 && options.alpha < 1) || !(options.alpha0 > 0 && options.alpha0 < 1) ||
        !(options.power > 0 && options.power < 1) ||
        !(options.confidence > 0 && options.confidence < 1)) {
        throw NetworkError("the levels of the tests must lie between 0 and 1");
    }
}

/// The two-sided χ² test of vᵀP v against its degrees of freedom at level `alpha`.
GlobalTest GlobalTestOf(double vtpv, int dof, double alpha) {
    GlobalTest test;
    test.dof = dof;
    test.statistic = vtpv;
    const boost::math::chi_squared chi(dof);
    test.lower = boost::math::quantile(chi, alpha / 2.0);
    test.upper = boost::math::quantile(boost::math::complement(chi, alpha / 2.0));
    if (test.statistic < test.lower) test.side = "low";
    if (test.statistic > test.upper) test.side = "high";
    test.passed = test.side.empty();
    return test;
}

/// What the problem is before it is solved: its points, parts and correlated blocks.
void DescribeProblem(const Problem& problem, NetworkResult& result) {
    result.freeNetwork = problem.freeNetwork;
    // The blocks as the result's rows: a benchmark's by its place among the observations.
    for (const Problem::Block& block : problem.blocks) {
        CorrelatedBlock taken;
        taken.observations = block.rows;
        taken.covarianceMm2 = block.givenMm2;
        result.correlated.push_back(std::move(taken));
    }
    result.parts = problem.components;
    result.partPoints.assign(static_cast<size_t>(problem.components), std::string());
    for (size_t p = 0; p < problem.names.size(); ++p) {
        std::string& first = result.partPoints[static_cast<size_t>(problem.component[p])];
        if (first.empty()) first = problem.names[p];
    }
    result.points = static_cast<int>(problem.names.size());
    result.fixedPoints =
        static_cast<int>(std::count(problem.fixed.begin(), problem.fixed.end(), true));
}

/// Data snooping: removes the observation of the largest |w| beyond the critical value, round
/// after round, while the options ask for it; `removed` marks those taken out, the result's log
/// says each round and why it stopped. True when any was removed.
bool Snoop(const Problem& problem, const AdjustmentOptions& options, const Problem::Solution& s,
           std::vector<bool>& removed, NetworkResult& result) {
    std::unique_ptr<SnoopingRounds> rounds;
    if (problem.blocks.empty()) {
        rounds = std::make_unique<Snooper>(problem, s, options.solver);
    } else {
        rounds = std::make_unique<CorrelatedSnooper>(problem, s, options.solver);
    }
    SnoopingRounds& snooper = *rounds;
    while (true) {
        if (snooper.Dof() <= 0) break;
        if (options.onStage) {
            options.onStage("snooping round " + std::to_string(result.snooping.size() + 1));
        }
        if (options.snoop == Snooping::WhileGlobalTestFails &&
            GlobalTestOf(snooper.Vtpv(), snooper.Dof(), options.alpha).passed) {
            result.snoopingNote =
                result.snooping.empty()
                    ? "the global test passes: no observation removed"
                    : "the global test passes after these removals: no more removed";
            break;
        }
        size_t worst = problem.rows.size();
        double largest = result.criticalW;
        for (size_t k = 0; k < problem.rows.size(); ++k) {
            if (!snooper.Checked(k, removed)) continue;
            const double w = std::fabs(snooper.W(k));
            if (w > largest) {
                largest = w;
                worst = k;
            }
        }
        if (worst == problem.rows.size()) {
            result.snoopingNote = "no observation is left beyond the critical value";
            break;
        }
        // An observation is removed only when it stands out: another of the same |w|, or
        // whose test moves with its own, may be the blunder as well.
        Eigen::VectorXd u = snooper.Column(worst);
        std::vector<size_t> alike;
        for (size_t k = 0; k < problem.rows.size(); ++k) {
            if (k == worst || !snooper.Checked(k, removed)) continue;
            const double correlation = snooper.Correlation(k, worst, u);
            // A tie of tests that do not move together is no doubt: taking out one leaves
            // the other's w as it was, and the next round takes it.
            const bool tied = std::fabs(snooper.W(k)) >= (1 - kSameW) * largest &&
                              std::fabs(correlation) >= kTiedAndCorrelated;
            if (tied || std::fabs(correlation) >= kCorrelated) {
                alike.push_back(k);
            }
        }
        if (!alike.empty()) {
            result.inseparable = {worst};
            result.inseparable.insert(result.inseparable.end(), alike.begin(), alike.end());
            result.snoopingNote = "observations that cannot be told apart: none of them removed";
            break;
        }
        const double w = snooper.W(worst);
        const SnoopingStep step{worst, w, snooper.EstimatedError(worst)};
        result.snooping.push_back(step);
        removed[worst] = true;
        snooper.Remove(worst, std::move(u));
        if (options.onSnoopingStep) options.onSnoopingStep(step, result.snooping.size());
    }
    return !result.snooping.empty();
}

/// The heights, their standard deviations (scaled by σ0 a posteriori where there is one) and
/// their confidence intervals: Student's t when σ0 is estimated, else the normal.
void AdjustedHeights(const Problem& problem, const Problem::Solution& s, double confidence,
                     NetworkResult& result) {
    const double scale = result.sigma0.value_or(1.0);
    const double tail = (1 + confidence) / 2;
    const double quantile =
        result.sigma0 ? boost::math::quantile(boost::math::students_t(s.redundancyTotal), tail)
                      : boost::math::quantile(boost::math::normal(), tail);
    for (size_t p = 0; p < problem.names.size(); ++p) {
        AdjustedHeight h;
        h.point = problem.names[p];
        h.height = s.heights[p];
        h.fixed = problem.fixed[p];
        h.sigmaApriori = std::sqrt(s.heightVariance[p]);
        h.sigma = scale * h.sigmaApriori;
        h.interval = quantile * h.sigma;
        result.heights.push_back(std::move(h));
    }
}

/// Each observation adjusted, with its residual, redundancy number and tests.
void AdjustedObservations(const Problem& problem, const std::vector<Observation>& observations,
                          const Problem::Solution& s, const std::vector<bool>& removed,
                          NetworkResult& result) {
    const double scale = result.sigma0.value_or(1.0);
    for (size_t k = 0; k < problem.rows.size(); ++k) {
        const Problem::Row& row = problem.rows[k];
        AdjustedObservation o;
        if (row.from >= 0) {
            o.observation = observations[k];
        } else {
            o.benchmark = true;
            o.observation.to = problem.names[static_cast<size_t>(row.to)];
            o.observation.dh = row.observed;
            o.observation.sigmaMm = row.sigma * 1000.0;
            o.observation.source = "benchmark " + o.observation.to;
        }
        o.sigma = row.sigma;
        o.residual = s.residual[k];
        o.adjusted = row.observed + o.residual;
        o.redundancy = s.redundancy[k];
        o.removed = removed[k];
        o.noCheck = !o.removed && o.redundancy < kNoCheck;
        o.sigmaAdjusted = scale * std::sqrt(s.adjustedVariance[k]);
        if (o.removed) {
            o.w = o.residual / std::sqrt(s.residualVariance[k]);
        } else if (!o.noCheck && s.correlated[k]) {
            // Baarda's w-test of an observation of a correlated block: w = eᵀPv / √(eᵀPQ_vvPe),
            // its MDB √(λ0 / eᵀPQ_vvPe), and the error it estimates −eᵀPv / eᵀPQ_vvPe.
            o.w = s.pv[k] / std::sqrt(s.wVariance[k]);
            o.mdb = std::sqrt(result.lambda0 / s.wVariance[k]);
            o.estimatedError = -s.pv[k] / s.wVariance[k];
            o.externalReliability = s.effect[k] * *o.mdb;
        } else if (!o.noCheck) {
            o.w = o.residual / std::sqrt(s.residualVariance[k]);
            o.mdb = std::sqrt(result.lambda0 / o.redundancy) * row.sigma;
            // v = −rᵢ∇ for an observation off by ∇: the error it was off by, observed − true.
            o.estimatedError = -o.residual / o.redundancy;
            o.externalReliability = s.effect[k] * *o.mdb;
        }
        result.observations.push_back(std::move(o));
    }
}

}  // namespace

NetworkResult Adjust(const std::vector<Observation>& observations,
                     const std::vector<Benchmark>& benchmarks,
                     const std::vector<LineLoop>& lineLoops, const AdjustmentOptions& options) {
    CheckLevels(options);
    if (observations.empty() && lineLoops.empty()) {
        throw NetworkError("no observations: the network is empty");
    }
    NetworkResult result;
    result.confidence = options.confidence;
    result.criticalW = CriticalW(options.alpha0);
    result.lambda0 = Lambda0(options.alpha0, options.power);
    AddLineLoops(lineLoops, options.limits, result);
    // Lines closed on themselves alone: their loops are the whole result.
    if (observations.empty()) {
        NameChecks(result);
        return result;
    }
    const Problem problem(observations, benchmarks, options);
    DescribeProblem(problem, result);

    std::vector<bool> removed(problem.rows.size(), false);
    Problem::Solution s = Solve(problem, removed, options.solver, options.onStage);
    if (options.snoop != Snooping::Off && s.redundancyTotal > 0 &&
        Snoop(problem, options, s, removed, result)) {
        s = Solve(problem, removed, options.solver, options.onStage);
    }

    result.unknowns = problem.unknowns + (problem.freeNetwork ? problem.components : 0);
    result.redundancy = s.redundancyTotal;
    result.vtpv = s.vtpv;
    if (!std::isfinite(s.vtpv) || std::any_of(s.heights.begin(), s.heights.end(),
                                              [](double h) { return !std::isfinite(h); })) {
        throw NetworkError(
            "the adjustment gives no finite heights: the height differences are past what "
            "doubles hold");
    }
    if (s.redundancyTotal > 0) {
        result.sigma0 = std::sqrt(s.vtpv / s.redundancyTotal);
        result.globalTest = GlobalTestOf(s.vtpv, s.redundancyTotal, options.alpha);
    }
    AdjustedHeights(problem, s, options.confidence, result);
    AdjustedObservations(problem, observations, s, removed, result);

    const std::vector<Section> sections = Sections(problem, observations, removed);
    CheckClosures(problem, observations, sections, removed, options.limits, result.criticalW,
                  result);
    CheckBenchmarkLines(problem, observations, sections, removed, options.limits, result.criticalW,
                        result);
    NameChecks(result);
    return result;
}

}  // namespace rendle::network
