#include "network/Adjustment.h"

#include <Eigen/SparseCholesky>
#include <algorithm>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <deque>
#include <map>
#include <numeric>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>

#include "core/Verdict.h"
#include "network/SelectedInverse.h"

namespace rendle::network {

namespace {

constexpr double kNoCheck = 0.001;   // an observation whose redundancy is below this has no check
constexpr size_t kNamedPoints = 10;  // points named in a message, the rest counted
// What levelling can measure and hold: past these an input is a slip, not a measurement.
constexpr double kLargestDh = 10'000;          // m
constexpr double kLongestKm = 10'000;          // km
constexpr double kHighestBenchmark = 100'000;  // m from the datum
constexpr double kLargestSigmaMm = 100'000;    // mm
// Two w-tests the snooping cannot tell apart: correlated at 0.99 or more, or of |w| within 1 %
// and correlated at 0.5 or more.
constexpr double kSameW = 0.01;
constexpr double kCorrelated = 0.99;
constexpr double kTiedAndCorrelated = 0.5;
// Two sections between the same points are one section run twice when the shorter is at least
// this share of the longer.
constexpr double kRunTwiceLengths = 0.8;

std::string PointList(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size() && i < kNamedPoints; ++i) {
        if (i > 0) text += ", ";
        text += names[i];
    }
    if (names.size() > kNamedPoints) {
        text += " and " + std::to_string(names.size() - kNamedPoints) + " more";
    }
    return text;
}

std::string MmText(double mm) {
    std::string text = std::to_string(mm);
    text.erase(text.find_last_not_of('0') + 1);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

/// Which points the sections join into one part of the network (union-find).
class Parts {
  public:
    explicit Parts(size_t points) : parent_(points) {
        std::iota(parent_.begin(), parent_.end(), 0);
    }
    int Root(int p) {
        while (parent_[static_cast<size_t>(p)] != p) {
            p = parent_[static_cast<size_t>(p)] =
                parent_[static_cast<size_t>(parent_[static_cast<size_t>(p)])];
        }
        return p;
    }
    /// Joins the parts of a and b; false when they were one part already.
    bool Join(int a, int b) {
        const int ra = Root(a);
        const int rb = Root(b);
        if (ra == rb) return false;
        parent_[static_cast<size_t>(ra)] = rb;
        return true;
    }

  private:
    std::vector<int> parent_;
};

/// The network as the adjustment sees it: points numbered, each observation with its weight,
/// the benchmarks in it, the parts it falls into, and the unknowns.
class Problem {
  public:
    Problem(const std::vector<Observation>& observations, const std::vector<Benchmark>& benchmarks,
            const AdjustmentOptions& options);

    struct Row {
        int from = -1;  ///< a point; -1 for a benchmark's height
        int to = -1;
        double observed = 0;  ///< dh, or the benchmark's height
        double sigma = 0;     ///< m
        size_t index = 0;     ///< in the result's observations
    };

    struct Solution {
        std::vector<double> heights;
        std::vector<double> heightVariance;  ///< a-priori, m²
        std::vector<double> residual;        ///< per row
        std::vector<double> redundancy;
        std::vector<double> residualVariance;  ///< (Q_vv)ᵢᵢ, m²
        std::vector<double> adjustedVariance;  ///< a Q aᵀ of each row, a-priori, m²
        /// Per row, the largest change in any height that a unit error of it makes.
        std::vector<double> effect;
        double vtpv = 0;
        int redundancyTotal = 0;
    };

    /// The normal equations without the rows marked in `removed` (each row's entries on the
    /// pattern all the same, with a weight of 0), for the unknowns held for the solve.
    void Assemble(const std::vector<bool>& removed, SparseMatrix& normal,
                  Eigen::VectorXd& rhs) const;

    /// The adjustment without the rows marked in `removed`.
    Solution Solve(const std::vector<bool>& removed) const;

    /// The unknowns of a row's two points (-1: held, or a benchmark's height row).
    std::pair<int, int> UnknownsOf(const Row& r) const {
        return {r.from >= 0 ? unknown[static_cast<size_t>(r.from)] : -1,
                unknown[static_cast<size_t>(r.to)]};
    }

    std::vector<std::string> names;
    std::vector<Row> rows;
    std::vector<bool> fixed;
    std::vector<double> fixedHeight;
    /// Each point's benchmark: its height and, for a weighted one, its σ in m.
    std::vector<std::optional<std::pair<double, std::optional<double>>>> benchmark;
    std::vector<int> component;  ///< of each point
    int components = 0;
    bool freeNetwork = false;
    std::vector<bool> datum;  ///< free network: the points the datum is laid over
    std::vector<double> approximate;
    std::vector<int> unknown;  ///< each point's unknown, -1 when fixed or held for the datum
    int unknowns = 0;

  private:
    void Number(const std::vector<Observation>& observations);
    void FindComponents();
    void ApproximateHeights(const AdjustmentOptions& options);
    std::unordered_map<std::string, int> index_;
};

double SigmaOf(const Observation& o, const AdjustmentOptions& options) {
    switch (options.weighting) {
        case Weighting::Length:
            if (!(o.lengthKm > 0)) {
                throw NetworkError(o.source + ": the length is " + MmText(o.lengthKm) +
                                   " km, and weights by length need a length above 0");
            }
            return options.sigmaKmMm * std::sqrt(o.lengthKm) / 1000.0;
        case Weighting::SetUps:
            if (!o.setUps || *o.setUps <= 0) {
                throw NetworkError(o.source + ": no set-ups, and weights by set-ups need them");
            }
            return options.sigmaSetUpMm * std::sqrt(static_cast<double>(*o.setUps)) / 1000.0;
        case Weighting::Sigma:
            if (!o.sigmaMm || !(*o.sigmaMm > 0) || *o.sigmaMm > kLargestSigmaMm) {
                throw NetworkError(o.source +
                                   ": no sigma_mm above 0 and at most 100 m, and --weights sigma "
                                   "needs one");
            }
            return *o.sigmaMm / 1000.0;
    }
    return 0;
}

Problem::Problem(const std::vector<Observation>& observations,
                 const std::vector<Benchmark>& benchmarks, const AdjustmentOptions& options) {
    Number(observations);
    for (size_t i = 0; i < observations.size(); ++i) {
        const Observation& o = observations[i];
        if (o.from == o.to) {
            throw NetworkError(o.source + ": an observation from " + o.from + " to itself");
        }
        if (!std::isfinite(o.dh))
            throw NetworkError(o.source + ": the height difference is no number");
        // Past what levelling can measure: a slip of the unit or of the decimal point.
        if (std::fabs(o.dh) > kLargestDh) {
            throw NetworkError(o.source + ": a height difference of " + MmText(o.dh) +
                               " m, more than levelling measures (10 km)");
        }
        if (!(o.lengthKm >= 0) || o.lengthKm > kLongestKm) {
            throw NetworkError(o.source + ": a length of " + MmText(o.lengthKm) +
                               " km (a length lies between 0 and 10,000 km)");
        }
        rows.push_back({index_.at(o.from), index_.at(o.to), o.dh, SigmaOf(o, options), i});
    }

    const size_t n = names.size();
    fixed.assign(n, false);
    fixedHeight.assign(n, 0.0);
    std::vector<bool> held(n, false);  // by a benchmark, fixed or weighted
    std::map<std::string, bool> seen;
    benchmark.assign(n, std::nullopt);
    for (const Benchmark& b : benchmarks) {
        if (seen[b.name]) throw NetworkError("benchmark " + b.name + " is given twice");
        seen[b.name] = true;
        if (!std::isfinite(b.height) || std::fabs(b.height) > kHighestBenchmark) {
            throw NetworkError("benchmark " + b.name + ": a height of " + MmText(b.height) +
                               " m (heights lie within 100 km of the datum)");
        }
        const auto at = index_.find(b.name);
        if (at == index_.end()) continue;  // a benchmark of the region that this job does not use
        held[static_cast<size_t>(at->second)] = true;
        if (b.sigmaMm) {
            if (!(*b.sigmaMm > 0) || *b.sigmaMm > kLargestSigmaMm) {
                throw NetworkError("benchmark " + b.name +
                                   ": a standard deviation above 0 and at most 100 m is needed");
            }
            rows.push_back({-1, at->second, b.height, *b.sigmaMm / 1000.0, 0});
            benchmark[static_cast<size_t>(at->second)] = {b.height, *b.sigmaMm / 1000.0};
        } else {
            benchmark[static_cast<size_t>(at->second)] = {b.height, std::nullopt};
            fixed[static_cast<size_t>(at->second)] = true;
            fixedHeight[static_cast<size_t>(at->second)] = b.height;
        }
    }
    // A weighted benchmark's row comes after every observation in the result.
    for (size_t k = observations.size(); k < rows.size(); ++k) rows[k].index = k;

    FindComponents();
    freeNetwork = benchmarks.empty();
    datum.assign(n, false);
    if (freeNetwork) {
        if (options.datum.empty()) {
            datum.assign(n, true);
        } else {
            for (const std::string& name : options.datum) {
                const auto at = index_.find(name);
                if (at == index_.end()) {
                    throw NetworkError("datum point " + name + " is no point of the network");
                }
                datum[static_cast<size_t>(at->second)] = true;
            }
        }
    }
    // Every part of the network needs a benchmark, or in a free network a datum point.
    std::vector<bool> reached(static_cast<size_t>(components), false);
    for (size_t p = 0; p < n; ++p) {
        if (freeNetwork ? datum[p] : held[p]) reached[static_cast<size_t>(component[p])] = true;
    }
    std::vector<std::string> unreached;
    for (size_t p = 0; p < n; ++p) {
        if (!reached[static_cast<size_t>(component[p])]) unreached.push_back(names[p]);
    }
    if (!unreached.empty()) {
        throw NetworkError(std::string("no ") + (freeNetwork ? "datum point" : "benchmark") +
                           " reaches the part of the network with " + PointList(unreached));
    }

    // A free network is solved with one datum point of each part held, and laid over its datum
    // points afterwards.
    std::vector<bool> holdsPart(static_cast<size_t>(components), false);
    unknown.assign(n, -1);
    for (size_t p = 0; p < n; ++p) {
        bool isHeld = fixed[p];
        if (freeNetwork && datum[p] && !holdsPart[static_cast<size_t>(component[p])]) {
            holdsPart[static_cast<size_t>(component[p])] = true;
            isHeld = true;
        }
        if (!isHeld) unknown[p] = unknowns++;
    }
    ApproximateHeights(options);
}

void Problem::Number(const std::vector<Observation>& observations) {
    for (const Observation& o : observations) {
        for (const std::string* name : {&o.from, &o.to}) {
            if (index_.emplace(*name, static_cast<int>(names.size())).second) {
                names.push_back(*name);
            }
        }
    }
}

void Problem::FindComponents() {
    Parts parts(names.size());
    for (const Row& r : rows) {
        if (r.from >= 0) parts.Join(r.from, r.to);
    }
    component.assign(names.size(), -1);
    std::unordered_map<int, int> number;
    for (size_t p = 0; p < names.size(); ++p) {
        const auto [at, added] = number.emplace(parts.Root(static_cast<int>(p)), components);
        if (added) ++components;
        component[p] = at->second;
    }
}

void Problem::ApproximateHeights(const AdjustmentOptions& options) {
    const size_t n = names.size();
    approximate.assign(n, 0.0);
    std::vector<bool> known(n, false);
    std::deque<int> queue;
    auto know = [&](int p, double h) {
        if (known[static_cast<size_t>(p)]) return;
        known[static_cast<size_t>(p)] = true;
        approximate[static_cast<size_t>(p)] = h;
        queue.push_back(p);
    };
    for (size_t p = 0; p < n; ++p) {
        if (fixed[p]) know(static_cast<int>(p), fixedHeight[p]);
    }
    for (const Row& r : rows) {
        if (r.from < 0) know(r.to, r.observed);
    }
    for (const auto& [name, height] : options.approx) {
        const auto at = index_.find(name);
        if (at == index_.end())
            throw NetworkError("approximate height for " + name + ", no point of the network");
        know(at->second, height);
    }
    std::vector<std::vector<size_t>> at(n);
    for (size_t k = 0; k < rows.size(); ++k) {
        if (rows[k].from < 0) continue;
        at[static_cast<size_t>(rows[k].from)].push_back(k);
        at[static_cast<size_t>(rows[k].to)].push_back(k);
    }
    // Carried along the lines from what is known, or from the first point of a part at 0.
    for (size_t start = 0; start <= n; ++start) {
        while (!queue.empty()) {
            const int p = queue.front();
            queue.pop_front();
            for (size_t k : at[static_cast<size_t>(p)]) {
                const Row& r = rows[k];
                const double h = approximate[static_cast<size_t>(p)];
                if (r.from == p)
                    know(r.to, h + r.observed);
                else
                    know(r.from, h - r.observed);
            }
        }
        if (start < n && !known[start]) know(static_cast<int>(start), 0.0);
    }
}

void Problem::Assemble(const std::vector<bool>& removed, SparseMatrix& normal,
                       Eigen::VectorXd& rhs) const {
    const auto m = static_cast<Eigen::Index>(unknowns);
    std::vector<Eigen::Triplet<double, int>> entries;
    entries.reserve(rows.size() * 3);
    rhs = Eigen::VectorXd::Zero(m);
    for (size_t k = 0; k < rows.size(); ++k) {
        const Row& r = rows[k];
        const double p = removed[k] ? 0.0 : 1.0 / (r.sigma * r.sigma);
        const auto [a, b] = UnknownsOf(r);
        const double l = r.from >= 0 ? r.observed - (approximate[static_cast<size_t>(r.to)] -
                                                     approximate[static_cast<size_t>(r.from)])
                                     : r.observed - approximate[static_cast<size_t>(r.to)];
        if (b >= 0) {
            entries.emplace_back(b, b, p);
            rhs[b] += p * l;
        }
        if (a >= 0) {
            entries.emplace_back(a, a, p);
            rhs[a] -= p * l;
        }
        if (a >= 0 && b >= 0) entries.emplace_back(std::max(a, b), std::min(a, b), -p);
    }
    normal.resize(m, m);
    normal.setFromTriplets(entries.begin(), entries.end());
}

/// Factors the normal equations; throws when a part of the network is left without a height.
void Factorize(const SparseMatrix& normal, Factor& factor) {
    factor.compute(normal);
    bool singular = factor.info() != Eigen::Success;
    if (!singular) {
        // A pivot lost against its diagonal entry: no weight holds that unknown.
        const Eigen::VectorXd diagonal = factor.permutationP() * Eigen::VectorXd(normal.diagonal());
        const Eigen::VectorXd& d = factor.vectorD();
        for (Eigen::Index i = 0; i < d.size(); ++i) {
            if (!(d[i] > 1e-12 * diagonal[i])) singular = true;
        }
    }
    if (singular) {
        throw NetworkError(
            "the normal equations are singular: the weights leave a part of the network without "
            "a height");
    }
}

Problem::Solution Problem::Solve(const std::vector<bool>& removed) const {
    const size_t n = names.size();
    const auto m = static_cast<Eigen::Index>(unknowns);
    Solution s;
    s.redundancyTotal =
        static_cast<int>(std::count(removed.begin(), removed.end(), false)) - unknowns;
    s.heights = approximate;
    s.heightVariance.assign(n, 0.0);
    for (size_t p = 0; p < n; ++p) {
        if (fixed[p]) s.heights[p] = fixedHeight[p];
    }

    Factor factor;
    std::optional<SelectedInverse> inverse;
    if (m > 0) {
        SparseMatrix normal;
        Eigen::VectorXd rhs;
        Assemble(removed, normal, rhs);
        Factorize(normal, factor);
        const Eigen::VectorXd dx = factor.solve(rhs);
        for (size_t p = 0; p < n; ++p) {
            if (unknown[p] >= 0) s.heights[p] += dx[unknown[p]];
        }
        inverse.emplace(factor);
        for (size_t p = 0; p < n; ++p) {
            if (unknown[p] >= 0) s.heightVariance[p] = (*inverse)(unknown[p], unknown[p]);
        }
    }

    // A free network: each part's shift onto its datum points, per unit of each unknown (y =
    // Q c, c marking the datum points), for the variances and for the effect of an error.
    Eigen::VectorXd y;
    std::vector<double> count(static_cast<size_t>(components), 0.0);
    if (freeNetwork && m > 0) {
        // Laid over the datum points: each part moved so that its datum points' changes from
        // the approximate heights sum to 0, and the variances as that datum gives them.
        std::vector<double> shift(static_cast<size_t>(components), 0.0);
        Eigen::VectorXd c = Eigen::VectorXd::Zero(m);
        for (size_t p = 0; p < n; ++p) {
            if (!datum[p]) continue;
            const auto part = static_cast<size_t>(component[p]);
            shift[part] -= s.heights[p] - approximate[p];
            count[part] += 1;
            if (unknown[p] >= 0) c[unknown[p]] = 1.0;
        }
        y = factor.solve(c);
        std::vector<double> cqc(static_cast<size_t>(components), 0.0);
        for (size_t p = 0; p < n; ++p) {
            if (datum[p] && unknown[p] >= 0)
                cqc[static_cast<size_t>(component[p])] += y[unknown[p]];
        }
        for (size_t p = 0; p < n; ++p) {
            const auto part = static_cast<size_t>(component[p]);
            s.heights[p] += shift[part] / count[part];
            const double yp = unknown[p] >= 0 ? y[unknown[p]] : 0.0;
            s.heightVariance[p] +=
                -2.0 * yp / count[part] + cqc[part] / (count[part] * count[part]);
            s.heightVariance[p] = std::max(0.0, s.heightVariance[p]);
        }
    }

    s.residual.assign(rows.size(), 0.0);
    s.redundancy.assign(rows.size(), 0.0);
    s.residualVariance.assign(rows.size(), 0.0);
    s.adjustedVariance.assign(rows.size(), 0.0);
    s.effect.assign(rows.size(), 0.0);
    for (size_t k = 0; k < rows.size(); ++k) {
        const Row& r = rows[k];
        const double adjusted = r.from >= 0 ? s.heights[static_cast<size_t>(r.to)] -
                                                  s.heights[static_cast<size_t>(r.from)]
                                            : s.heights[static_cast<size_t>(r.to)];
        s.residual[k] = adjusted - r.observed;
        // q = a Q aᵀ of the row, in the datum held for the solve: the same for any datum.
        const auto [a, b] = UnknownsOf(r);
        double q = 0;
        // Q aᵀ at the row's two points: an error of the row moves the heights by Q aᵀ p ∇, and
        // on a levelling network (a weighted graph held at its benchmarks) that is largest at
        // one of its two points, or at a held point, which it leaves where it is.
        double atTo = 0;
        double atFrom = 0;
        if (inverse) {
            if (b >= 0) {
                q += (*inverse)(b, b);
                atTo += (*inverse)(b, b);
                if (a >= 0) atFrom += (*inverse)(a, b);
            }
            if (a >= 0) {
                q += (*inverse)(a, a);
                atFrom -= (*inverse)(a, a);
                if (b >= 0) atTo -= (*inverse)(a, b);
            }
            if (a >= 0 && b >= 0) q -= 2.0 * (*inverse)(a, b);
        }
        double held = 0;  // where the held points go: a free network's shift onto its datum
        if (freeNetwork && y.size() > 0) {
            const auto part = static_cast<size_t>(component[static_cast<size_t>(r.to)]);
            held = -((b >= 0 ? y[b] : 0.0) - (a >= 0 ? y[a] : 0.0)) / count[part];
        }
        s.effect[k] =
            std::max({std::fabs(atTo + held), std::fabs(atFrom + held), std::fabs(held)}) /
            (r.sigma * r.sigma);
        s.adjustedVariance[k] = std::max(0.0, q);
        if (removed[k]) {
            // Out of the adjustment: its whole variance is that of its misfit.
            s.residualVariance[k] = r.sigma * r.sigma + q;
            continue;
        }
        const double variance = r.sigma * r.sigma;
        s.residualVariance[k] = std::max(0.0, variance - q);
        s.redundancy[k] = std::clamp(s.residualVariance[k] / variance, 0.0, 1.0);
        s.vtpv += s.residual[k] * s.residual[k] / variance;
    }
    return s;
}

/// Data snooping on one factorization: each removal is a rank-one change of the normal
/// equations, so the residuals and their variances follow it without factoring again
/// (Sherman–Morrison on the cofactors, Q' = Q + u uᵀ / (Q_vv)ₖₖ with u = Q aₖᵀ).
class Snooper {
  public:
    Snooper(const Problem& problem, const Problem::Solution& first)
        : problem_(problem),
          residual_(first.residual),
          residualVariance_(first.residualVariance),
          vtpv_(first.vtpv),
          dof_(first.redundancyTotal) {
        if (problem.unknowns > 0) {
            SparseMatrix normal;
            Eigen::VectorXd rhs;
            problem.Assemble(std::vector<bool>(problem.rows.size(), false), normal, rhs);
            Factorize(normal, factor_);
        }
    }

    double W(size_t k) const { return residual_[k] / std::sqrt(residualVariance_[k]); }
    bool Checked(size_t k, const std::vector<bool>& removed) const {
        const double variance = problem_.rows[k].sigma * problem_.rows[k].sigma;
        return !removed[k] && residualVariance_[k] / variance >= kNoCheck;
    }
    double Redundancy(size_t k) const {
        const double sigma = problem_.rows[k].sigma;
        return residualVariance_[k] / (sigma * sigma);
    }
    double Residual(size_t k) const { return residual_[k]; }
    double Vtpv() const { return vtpv_; }
    int Dof() const { return dof_; }

    /// u = Q aₖᵀ with the rows removed so far out.
    Eigen::VectorXd Column(size_t k) const {
        const auto m = static_cast<Eigen::Index>(problem_.unknowns);
        Eigen::VectorXd a = Eigen::VectorXd::Zero(m);
        const auto [from, to] = problem_.UnknownsOf(problem_.rows[k]);
        if (to >= 0) a[to] = 1.0;
        if (from >= 0) a[from] = -1.0;
        Eigen::VectorXd u = m > 0 ? Eigen::VectorXd(factor_.solve(a)) : a;
        for (size_t j = 0; j < removedU_.size(); ++j) {
            u += removedU_[j] * (Dot(removedU_[j], k) / removedD_[j]);
        }
        return u;
    }

    /// (Q_vv)ᵢₖ for i ≠ k, given u = Column(k).
    double Covariance(size_t i, const Eigen::VectorXd& u) const { return -Dot(u, i); }

    /// Takes row k out, u = Column(k).
    void Remove(size_t k, Eigen::VectorXd u) {
        const double d = residualVariance_[k];
        const double vk = residual_[k];
        vtpv_ -= vk * vk / d;
        --dof_;
        for (size_t i = 0; i < problem_.rows.size(); ++i) {
            const double t = Dot(u, i);
            if (t == 0) continue;
            residual_[i] += t * vk / d;
            if (i != k) residualVariance_[i] = std::max(0.0, residualVariance_[i] - t * t / d);
        }
        removedU_.push_back(std::move(u));
        removedD_.push_back(d);
    }

  private:
    /// a_i · u for row i.
    double Dot(const Eigen::VectorXd& u, size_t i) const {
        const auto [from, to] = problem_.UnknownsOf(problem_.rows[i]);
        return (to >= 0 ? u[to] : 0.0) - (from >= 0 ? u[from] : 0.0);
    }

    const Problem& problem_;
    Factor factor_;
    std::vector<double> residual_;
    std::vector<double> residualVariance_;
    double vtpv_ = 0;
    int dof_ = 0;
    std::vector<Eigen::VectorXd> removedU_;
    std::vector<double> removedD_;
};

/// The misclose limit C mm √K of `km`, in m.
double LimitOf(double mm, double km) {
    return mm * std::sqrt(std::max(km, 0.0)) / 1000.0;
}

/// A misclosure against its limit, judged as the report prints the two (mm, to the hundredth).
bool WithinLimit(double misclosure, double limit) {
    return core::Within(std::fabs(misclosure) * 1000.0, limit * 1000.0, kMillimetreDecimals);
}

std::string Sources(const std::vector<Observation>& observations, const std::vector<size_t>& runs) {
    std::string text;
    for (size_t k : runs) text += (text.empty() ? "" : "; ") + observations[k].source;
    return text;
}

/// The sections of the network as measured: the observations between the same two points that
/// are one section run twice (of other lines, and of lengths that agree) taken together.
struct Section {
    int a = 0;
    int b = 0;
    double dhSum = 0;  // from a to b
    double lengthSum = 0;
    std::vector<size_t> runs;
    bool holdsRemoved = false;
    double Dh(int from) const {
        const double dh = dhSum / static_cast<double>(runs.size());
        return a == from ? dh : -dh;
    }
    double Length() const { return lengthSum / static_cast<double>(runs.size()); }
    int Other(int p) const { return a == p ? b : a; }
};

std::vector<Section> Sections(const Problem& problem, const std::vector<Observation>& observations,
                              const std::vector<bool>& removed) {
    std::map<std::pair<int, int>, std::vector<size_t>> sectionsOf;
    std::vector<Section> sections;
    for (size_t k = 0; k < observations.size(); ++k) {
        const auto& row = problem.rows[k];
        const Observation& o = observations[k];
        const int a = std::min(row.from, row.to);
        const int b = std::max(row.from, row.to);
        std::vector<size_t>& between = sectionsOf[{a, b}];
        size_t at = sections.size();
        for (size_t i : between) {
            const Observation& first = observations[sections[i].runs.front()];
            const bool oneLine = o.line && first.line && *o.line == *first.line;
            const double shorter = std::min(o.lengthKm, first.lengthKm);
            const double longer = std::max(o.lengthKm, first.lengthKm);
            if (!oneLine && shorter >= kRunTwiceLengths * longer) {
                at = i;
                break;
            }
        }
        if (at == sections.size()) {
            between.push_back(at);
            sections.push_back({a, b, 0, 0, {}, false});
        }
        Section& s = sections[at];
        s.dhSum += row.from == a ? row.observed : -row.observed;
        s.lengthSum += o.lengthKm;
        s.runs.push_back(k);
        s.holdsRemoved = s.holdsRemoved || removed[k];
    }
    return sections;
}

/// The loops of a cycle basis of the network (sections run twice taken at their mean) and the
/// differences of the sections run twice, on the observations as measured.
void CheckClosures(const Problem& problem, const std::vector<Observation>& observations,
                   const std::vector<Section>& sections, const std::vector<bool>& removed,
                   const MiscloseLimits& limits, NetworkResult& result) {
    for (const Section& s : sections) {
        const auto oriented = [&](size_t k) {
            const auto& row = problem.rows[k];
            return row.from == s.a ? row.observed : -row.observed;
        };
        for (size_t j = 1; j < s.runs.size(); ++j) {
            ClosureCheck check;
            check.points = {problem.names[static_cast<size_t>(s.a)],
                            problem.names[static_cast<size_t>(s.b)]};
            check.misclosure = oriented(s.runs[0]) - oriented(s.runs[j]);
            check.lengthKm =
                (observations[s.runs[0]].lengthKm + observations[s.runs[j]].lengthKm) / 2.0;
            check.limit = LimitOf(limits.sectionMm, check.lengthKm);
            check.within = WithinLimit(check.misclosure, check.limit);
            check.source = Sources(observations, {s.runs[0], s.runs[j]});
            check.holdsRemoved = removed[s.runs[0]] || removed[s.runs[j]];
            result.doubleRuns.push_back(std::move(check));
        }
    }

    // The loops of the basis: taken in the order of the sections, one that joins two points
    // already joined by the sections before it closes a loop, with the fewest of them. Each loop
    // holds a section no earlier one holds, so the loops are independent, and they number as
    // many as the network's loops; in a net of levelled blocks each is a block.
    const size_t n = problem.names.size();
    std::vector<std::vector<size_t>> at(n);
    Parts parts(n);
    std::vector<size_t> seen(n, 0);  // the search that reached a point last, 0 none
    std::vector<size_t> via(n, 0);   // the section it was reached by
    size_t search = 0;
    std::deque<size_t> queue;
    for (size_t i = 0; i < sections.size(); ++i) {
        const Section& s = sections[i];
        if (!parts.Join(s.a, s.b)) {
            // The fewest sections from b back to a, breadth first.
            ++search;
            const auto a = static_cast<size_t>(s.a);
            const auto b = static_cast<size_t>(s.b);
            queue.assign(1, b);
            seen[b] = search;
            while (!queue.empty() && seen[a] != search) {
                const size_t p = queue.front();
                queue.pop_front();
                for (size_t k : at[p]) {
                    const auto q = static_cast<size_t>(sections[k].Other(static_cast<int>(p)));
                    if (seen[q] == search) continue;
                    seen[q] = search;
                    via[q] = k;
                    queue.push_back(q);
                }
            }
            // Round the loop: a, b by this section, then back to a along the path found.
            ClosureCheck check;
            check.points = {problem.names[a], problem.names[b]};
            check.misclosure = s.Dh(s.a);
            check.lengthKm = s.Length();
            check.holdsRemoved = s.holdsRemoved;
            std::vector<size_t> runs = s.runs;
            size_t p = a;  // walked from a towards b, the path read backwards
            std::vector<std::string> back;
            while (p != b) {
                const Section& k = sections[via[p]];
                const auto q = static_cast<size_t>(k.Other(static_cast<int>(p)));
                check.misclosure += k.Dh(static_cast<int>(q));
                check.lengthKm += k.Length();
                check.holdsRemoved = check.holdsRemoved || k.holdsRemoved;
                runs.insert(runs.end(), k.runs.begin(), k.runs.end());
                if (q != b) back.push_back(problem.names[q]);
                p = q;
            }
            check.points.insert(check.points.end(), back.rbegin(), back.rend());
            check.points.push_back(problem.names[a]);
            check.limit = LimitOf(limits.loopMm, check.lengthKm);
            check.within = WithinLimit(check.misclosure, check.limit);
            if (check.holdsRemoved) {
                std::vector<size_t> removedRuns;
                for (size_t k : runs) {
                    if (removed[k]) removedRuns.push_back(k);
                }
                check.source = "removed: " + Sources(observations, removedRuns);
            }
            result.loops.push_back(std::move(check));
        }
        at[static_cast<size_t>(s.a)].push_back(i);
        at[static_cast<size_t>(s.b)].push_back(i);
    }
}

void AddLineLoops(const std::vector<LineLoop>& lineLoops, const MiscloseLimits& limits,
                  NetworkResult& result) {
    for (const LineLoop& loop : lineLoops) {
        ClosureCheck check;
        check.points = {loop.point, loop.point};
        check.misclosure = loop.misclosure;
        check.lengthKm = loop.lengthKm;
        check.limit = LimitOf(limits.loopMm, loop.lengthKm);
        check.within = WithinLimit(check.misclosure, check.limit);
        check.source = loop.source;
        result.loops.push_back(std::move(check));
    }
}

/// The lines from one benchmark to another: each chain of sections through points that join
/// nothing else, and each levelling line whose two ends are benchmarks. Observed Σ dh against
/// the benchmarks' known difference; a weighted benchmark widens the limit by twice its σ.
void CheckBenchmarkLines(const Problem& problem, const std::vector<Observation>& observations,
                         const std::vector<Section>& sections, const std::vector<bool>& removed,
                         const MiscloseLimits& limits, NetworkResult& result) {
    const size_t n = problem.names.size();
    std::vector<std::vector<size_t>> at(n);
    for (size_t i = 0; i < sections.size(); ++i) {
        at[static_cast<size_t>(sections[i].a)].push_back(i);
        at[static_cast<size_t>(sections[i].b)].push_back(i);
    }
    std::set<std::vector<size_t>> checked;  // by the observations they are made of
    const auto add = [&](int from, int to, const std::vector<size_t>& runs, double observed,
                         double km, std::vector<std::string> points) {
        std::vector<size_t> key = runs;
        std::sort(key.begin(), key.end());
        if (from == to || !checked.insert(key).second) return;
        const auto& [hFrom, sFrom] = *problem.benchmark[static_cast<size_t>(from)];
        const auto& [hTo, sTo] = *problem.benchmark[static_cast<size_t>(to)];
        ClosureCheck check;
        check.points = std::move(points);
        check.misclosure = observed - (hTo - hFrom);
        check.lengthKm = km;
        const double widen =
            4.0 * (sFrom.value_or(0) * sFrom.value_or(0) + sTo.value_or(0) * sTo.value_or(0));
        check.limit = std::sqrt(std::pow(LimitOf(limits.lineMm, km), 2) + widen);
        check.within = WithinLimit(check.misclosure, check.limit);
        check.source = Sources(observations, runs);
        for (size_t k : runs) check.holdsRemoved = check.holdsRemoved || removed[k];
        result.benchmarkLines.push_back(std::move(check));
    };
    // Chains of sections, walked from each benchmark along each of its sections.
    for (size_t start = 0; start < n; ++start) {
        if (!problem.benchmark[start]) continue;
        for (size_t first : at[start]) {
            auto p = static_cast<int>(start);
            size_t via = first;
            double observed = 0;
            double km = 0;
            std::vector<size_t> runs;
            std::vector<std::string> points = {problem.names[start]};
            while (true) {
                const Section& s = sections[via];
                const int q = s.Other(p);
                observed += s.Dh(p);
                km += s.Length();
                runs.insert(runs.end(), s.runs.begin(), s.runs.end());
                points.push_back(problem.names[static_cast<size_t>(q)]);
                const auto& next = at[static_cast<size_t>(q)];
                if (problem.benchmark[static_cast<size_t>(q)] || next.size() != 2 ||
                    q == static_cast<int>(start)) {
                    if (problem.benchmark[static_cast<size_t>(q)]) {
                        add(static_cast<int>(start), q, runs, observed, km, points);
                    }
                    break;
                }
                via = next[0] == via ? next[1] : next[0];
                p = q;
            }
        }
    }
    // Levelling lines whose two ends are benchmarks: the sections of a line are consecutive.
    for (size_t k = 0; k < observations.size();) {
        size_t end = k + 1;
        while (observations[k].line && end < observations.size() &&
               observations[end].line == observations[k].line) {
            ++end;
        }
        const int from = problem.rows[k].from;
        const int to = problem.rows[end - 1].to;
        if (end - k > 1 && problem.benchmark[static_cast<size_t>(from)] &&
            problem.benchmark[static_cast<size_t>(to)]) {
            std::vector<size_t> runs;
            double observed = 0;
            double km = 0;
            std::vector<std::string> points = {problem.names[static_cast<size_t>(from)]};
            for (size_t i = k; i < end; ++i) {
                runs.push_back(i);
                observed += observations[i].dh;
                km += observations[i].lengthKm;
                points.push_back(observations[i].to);
            }
            add(from, to, runs, observed, km, points);
        }
        k = end;
    }
}

}  // namespace

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
    limits.lineMm = pick(c->lineMm, c->loopMm, "line", "loop");
    limits.sectionMm = pick(c->lineMm, c->loopMm, "section", "loop");
    limits.words = std::string(c->name) + ": loops " + figure(limits.loopMm) +
                   ", lines between benchmarks " + figure(limits.lineMm) + ", sections run twice " +
                   figure(limits.sectionMm) + fallbacks;
    return limits;
}

NetworkResult Adjust(const std::vector<Observation>& observations,
                     const std::vector<Benchmark>& benchmarks,
                     const std::vector<LineLoop>& lineLoops, const AdjustmentOptions& options) {
    if (!(options.alpha > 0 && options.alpha < 1) || !(options.alpha0 > 0 && options.alpha0 < 1) ||
        !(options.power > 0 && options.power < 1) ||
        !(options.confidence > 0 && options.confidence < 1)) {
        throw NetworkError("the levels of the tests must lie between 0 and 1");
    }
    if (observations.empty() && lineLoops.empty()) {
        throw NetworkError("no observations: the network is empty");
    }
    NetworkResult result;
    result.confidence = options.confidence;
    result.criticalW = CriticalW(options.alpha0);
    result.lambda0 = Lambda0(options.alpha0, options.power);
    AddLineLoops(lineLoops, options.limits, result);
    // Lines closed on themselves alone: their loops are the whole result.
    if (observations.empty()) return result;
    const Problem problem(observations, benchmarks, options);

    result.freeNetwork = problem.freeNetwork;
    result.points = static_cast<int>(problem.names.size());
    result.fixedPoints =
        static_cast<int>(std::count(problem.fixed.begin(), problem.fixed.end(), true));

    const auto globalTest = [&](double vtpv, int dof) {
        GlobalTest test;
        test.dof = dof;
        test.statistic = vtpv;
        const boost::math::chi_squared chi(dof);
        test.lower = boost::math::quantile(chi, options.alpha / 2.0);
        test.upper = boost::math::quantile(boost::math::complement(chi, options.alpha / 2.0));
        if (test.statistic < test.lower) test.side = "low";
        if (test.statistic > test.upper) test.side = "high";
        test.passed = test.side.empty();
        return test;
    };

    std::vector<bool> removed(problem.rows.size(), false);
    Problem::Solution s = problem.Solve(removed);
    if (options.snoop != Snooping::Off && s.redundancyTotal > 0) {
        Snooper snooper(problem, s);
        while (true) {
            if (snooper.Dof() <= 0) break;
            if (options.snoop == Snooping::WhileGlobalTestFails &&
                globalTest(snooper.Vtpv(), snooper.Dof()).passed) {
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
            const double varianceWorst =
                problem.rows[worst].sigma * problem.rows[worst].sigma * snooper.Redundancy(worst);
            std::vector<size_t> alike;
            for (size_t k = 0; k < problem.rows.size(); ++k) {
                if (k == worst || !snooper.Checked(k, removed)) continue;
                const double variance =
                    problem.rows[k].sigma * problem.rows[k].sigma * snooper.Redundancy(k);
                const double correlation =
                    snooper.Covariance(k, u) / std::sqrt(variance * varianceWorst);
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
                result.snoopingNote =
                    "observations that cannot be told apart: none of them removed";
                break;
            }
            const double w = snooper.W(worst);
            const SnoopingStep step{worst, w, -snooper.Residual(worst) / snooper.Redundancy(worst)};
            result.snooping.push_back(step);
            removed[worst] = true;
            snooper.Remove(worst, std::move(u));
            if (options.onSnoopingStep) options.onSnoopingStep(step, result.snooping.size());
        }
        if (!result.snooping.empty()) s = problem.Solve(removed);
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
        result.globalTest = globalTest(s.vtpv, s.redundancyTotal);
    }
    const double scale = result.sigma0.value_or(1.0);
    // The heights' confidence intervals: Student's t when σ0 is estimated, else the normal.
    const double tail = (1 + options.confidence) / 2;
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
        } else if (!o.noCheck) {
            o.w = o.residual / std::sqrt(s.residualVariance[k]);
            o.mdb = std::sqrt(result.lambda0 / o.redundancy) * row.sigma;
            // v = −rᵢ∇ for an observation off by ∇: the error it was off by, observed − true.
            o.estimatedError = -o.residual / o.redundancy;
            o.externalReliability = s.effect[k] * *o.mdb;
        }
        result.observations.push_back(std::move(o));
    }

    const std::vector<Section> sections = Sections(problem, observations, removed);
    CheckClosures(problem, observations, sections, removed, options.limits, result);
    CheckBenchmarkLines(problem, observations, sections, removed, options.limits, result);
    return result;
}

}  // namespace rendle::network
