#include "network/Adjustment.h"

#include <Eigen/SparseCholesky>
#include <algorithm>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/normal.hpp>
#include <cmath>
#include <deque>
#include <map>
#include <numeric>
#include <string>
#include <unordered_map>
#include <utility>

#include "network/SelectedInverse.h"

namespace rendle::network {

namespace {

constexpr double kNoCheck = 0.001;   // an observation whose redundancy is below this has no check
constexpr size_t kNamedPoints = 10;  // points named in a message, the rest counted

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
        double vtpv = 0;
        int redundancyTotal = 0;
    };

    /// The adjustment without the rows marked in `removed`.
    Solution Solve(const std::vector<bool>& removed) const;

    std::vector<std::string> names;
    std::vector<Row> rows;
    std::vector<bool> fixed;
    std::vector<double> fixedHeight;
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
            if (!o.sigmaMm || !(*o.sigmaMm > 0)) {
                throw NetworkError(o.source +
                                   ": no sigma_mm above 0, and --weights sigma needs one");
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
        rows.push_back({index_.at(o.from), index_.at(o.to), o.dh, SigmaOf(o, options), i});
    }

    const size_t n = names.size();
    fixed.assign(n, false);
    fixedHeight.assign(n, 0.0);
    std::vector<bool> held(n, false);  // by a benchmark, fixed or weighted
    std::map<std::string, bool> seen;
    for (const Benchmark& b : benchmarks) {
        if (seen[b.name]) throw NetworkError("benchmark " + b.name + " is given twice");
        seen[b.name] = true;
        const auto at = index_.find(b.name);
        if (at == index_.end()) continue;  // a benchmark of the region that this job does not use
        held[static_cast<size_t>(at->second)] = true;
        if (b.sigmaMm) {
            if (!(*b.sigmaMm > 0)) {
                throw NetworkError("benchmark " + b.name +
                                   ": a standard deviation above 0 is needed");
            }
            rows.push_back({-1, at->second, b.height, *b.sigmaMm / 1000.0, 0});
        } else {
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

Problem::Solution Problem::Solve(const std::vector<bool>& removed) const {
    const size_t n = names.size();
    const auto m = static_cast<Eigen::Index>(unknowns);
    std::vector<Eigen::Triplet<double, int>> entries;
    entries.reserve(rows.size() * 3);
    Eigen::VectorXd rhs = Eigen::VectorXd::Zero(m);
    int used = 0;
    for (size_t k = 0; k < rows.size(); ++k) {
        if (removed[k]) continue;
        ++used;
        const Row& r = rows[k];
        const double p = 1.0 / (r.sigma * r.sigma);
        const int b = unknown[static_cast<size_t>(r.to)];
        const int a = r.from >= 0 ? unknown[static_cast<size_t>(r.from)] : -1;
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
    Solution s;
    s.redundancyTotal = used - unknowns;
    s.heights = approximate;
    s.heightVariance.assign(n, 0.0);
    for (size_t p = 0; p < n; ++p) {
        if (fixed[p]) s.heights[p] = fixedHeight[p];
    }

    std::optional<Factor> factor;
    std::optional<SelectedInverse> inverse;
    if (m > 0) {
        SparseMatrix normal(m, m);
        normal.setFromTriplets(entries.begin(), entries.end());
        factor.emplace(normal);
        bool singular = factor->info() != Eigen::Success;
        if (!singular) {
            // A pivot lost against its diagonal entry: no weight holds that unknown.
            const Eigen::VectorXd diagonal =
                factor->permutationP() * Eigen::VectorXd(normal.diagonal());
            const Eigen::VectorXd& d = factor->vectorD();
            for (Eigen::Index i = 0; i < m; ++i) {
                if (!(d[i] > 1e-12 * diagonal[i])) singular = true;
            }
        }
        if (singular) {
            throw NetworkError(
                "the normal equations are singular: the weights leave a part of the "
                "network without a height");
        }
        const Eigen::VectorXd dx = factor->solve(rhs);
        for (size_t p = 0; p < n; ++p) {
            if (unknown[p] >= 0) s.heights[p] += dx[unknown[p]];
        }
        inverse.emplace(*factor);
        for (size_t p = 0; p < n; ++p) {
            if (unknown[p] >= 0) s.heightVariance[p] = (*inverse)(unknown[p], unknown[p]);
        }
    }

    if (freeNetwork && m > 0) {
        // Laid over the datum points: each part moved so that its datum points' changes from
        // the approximate heights sum to 0, and the variances as that datum gives them.
        std::vector<double> shift(static_cast<size_t>(components), 0.0);
        std::vector<double> count(static_cast<size_t>(components), 0.0);
        Eigen::VectorXd c = Eigen::VectorXd::Zero(m);
        for (size_t p = 0; p < n; ++p) {
            if (!datum[p]) continue;
            const auto part = static_cast<size_t>(component[p]);
            shift[part] -= s.heights[p] - approximate[p];
            count[part] += 1;
            if (unknown[p] >= 0) c[unknown[p]] = 1.0;
        }
        const Eigen::VectorXd y = factor->solve(c);
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
    for (size_t k = 0; k < rows.size(); ++k) {
        const Row& r = rows[k];
        const double adjusted = r.from >= 0 ? s.heights[static_cast<size_t>(r.to)] -
                                                  s.heights[static_cast<size_t>(r.from)]
                                            : s.heights[static_cast<size_t>(r.to)];
        s.residual[k] = adjusted - r.observed;
        // q = a Q aᵀ of the row, in the datum held for the solve: the same for any datum.
        const int b = unknown[static_cast<size_t>(r.to)];
        const int a = r.from >= 0 ? unknown[static_cast<size_t>(r.from)] : -1;
        double q = 0;
        if (inverse) {
            if (b >= 0) q += (*inverse)(b, b);
            if (a >= 0) q += (*inverse)(a, a);
            if (a >= 0 && b >= 0) q -= 2.0 * (*inverse)(a, b);
        }
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

/// The misclose limit C mm √K of a loop or section of `km`, in m; nothing without a figure.
std::optional<double> LimitOf(std::optional<double> mm, double km) {
    if (!mm) return std::nullopt;
    return *mm * std::sqrt(std::max(km, 0.0)) / 1000.0;
}

/// The loops of a cycle basis of the network (sections run more than once taken at their mean)
/// and the differences of the sections run twice.
void CheckClosures(const Problem& problem, const std::vector<Observation>& observations,
                   const std::vector<bool>& removed, const AdjustmentOptions& options,
                   NetworkResult& result) {
    struct Section {
        int a = 0;
        int b = 0;
        double dhSum = 0;  // from a to b
        double lengthSum = 0;
        std::vector<size_t> runs;
    };
    std::map<std::pair<int, int>, size_t> sectionOf;
    std::vector<Section> sections;
    for (size_t k = 0; k < observations.size(); ++k) {
        if (removed[k]) continue;
        const auto& row = problem.rows[k];
        const int a = std::min(row.from, row.to);
        const int b = std::max(row.from, row.to);
        const auto [at, added] = sectionOf.emplace(std::make_pair(a, b), sections.size());
        if (added) sections.push_back({a, b, 0, 0, {}});
        Section& s = sections[at->second];
        s.dhSum += row.from == a ? row.observed : -row.observed;
        s.lengthSum += observations[k].lengthKm;
        s.runs.push_back(k);
    }

    auto oriented = [&](size_t k, int a) {
        const auto& row = problem.rows[k];
        return row.from == a ? row.observed : -row.observed;
    };
    for (const Section& s : sections) {
        for (size_t j = 1; j < s.runs.size(); ++j) {
            ClosureCheck check;
            check.points = {problem.names[static_cast<size_t>(s.a)],
                            problem.names[static_cast<size_t>(s.b)]};
            check.misclosure = oriented(s.runs[0], s.a) - oriented(s.runs[j], s.a);
            check.lengthKm =
                (observations[s.runs[0]].lengthKm + observations[s.runs[j]].lengthKm) / 2.0;
            check.limit = LimitOf(options.sectionMm, check.lengthKm);
            check.within = !check.limit || std::abs(check.misclosure) <= *check.limit;
            check.source = observations[s.runs[0]].source + "; " + observations[s.runs[j]].source;
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
    auto mean = [&](size_t i, int from) {
        const Section& s = sections[i];
        const double dh = s.dhSum / static_cast<double>(s.runs.size());
        return s.a == from ? dh : -dh;
    };
    auto lengthOf = [&](size_t i) {
        return sections[i].lengthSum / static_cast<double>(sections[i].runs.size());
    };
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
                    const auto q = static_cast<size_t>(
                        sections[k].a == static_cast<int>(p) ? sections[k].b : sections[k].a);
                    if (seen[q] == search) continue;
                    seen[q] = search;
                    via[q] = k;
                    queue.push_back(q);
                }
            }
            // Round the loop: a, b by this section, then back to a along the path found.
            ClosureCheck check;
            check.points = {problem.names[a], problem.names[b]};
            check.misclosure = mean(i, s.a);
            check.lengthKm = lengthOf(i);
            size_t p = a;  // walked from a towards b, the path read backwards
            std::vector<std::string> back;
            while (p != b) {
                const Section& k = sections[via[p]];
                const auto q = static_cast<size_t>(k.a == static_cast<int>(p) ? k.b : k.a);
                check.misclosure += mean(via[p], static_cast<int>(q));
                check.lengthKm += lengthOf(via[p]);
                if (q != b) back.push_back(problem.names[q]);
                p = q;
            }
            check.points.insert(check.points.end(), back.rbegin(), back.rend());
            check.points.push_back(problem.names[a]);
            check.limit = LimitOf(options.loopMm, check.lengthKm);
            check.within = !check.limit || std::abs(check.misclosure) <= *check.limit;
            result.loops.push_back(std::move(check));
        }
        at[static_cast<size_t>(s.a)].push_back(i);
        at[static_cast<size_t>(s.b)].push_back(i);
    }
}

void AddLineLoops(const std::vector<LineLoop>& lineLoops, const AdjustmentOptions& options,
                  NetworkResult& result) {
    for (const LineLoop& loop : lineLoops) {
        ClosureCheck check;
        check.points = {loop.point, loop.point};
        check.misclosure = loop.misclosure;
        check.lengthKm = loop.lengthKm;
        check.limit = LimitOf(options.loopMm, loop.lengthKm);
        check.within = !check.limit || std::abs(check.misclosure) <= *check.limit;
        check.source = loop.source;
        result.loops.push_back(std::move(check));
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

NetworkResult Adjust(const std::vector<Observation>& observations,
                     const std::vector<Benchmark>& benchmarks,
                     const std::vector<LineLoop>& lineLoops, const AdjustmentOptions& options) {
    if (!(options.alpha > 0 && options.alpha < 1) || !(options.alpha0 > 0 && options.alpha0 < 1) ||
        !(options.power > 0 && options.power < 1)) {
        throw NetworkError("the levels of the tests must lie between 0 and 1");
    }
    if (observations.empty() && lineLoops.empty()) {
        throw NetworkError("no observations: the network is empty");
    }
    NetworkResult result;
    result.criticalW = CriticalW(options.alpha0);
    result.lambda0 = Lambda0(options.alpha0, options.power);
    AddLineLoops(lineLoops, options, result);
    // Lines closed on themselves alone: their loops are the whole result.
    if (observations.empty()) return result;
    const Problem problem(observations, benchmarks, options);

    result.freeNetwork = problem.freeNetwork;
    result.points = static_cast<int>(problem.names.size());
    result.fixedPoints =
        static_cast<int>(std::count(problem.fixed.begin(), problem.fixed.end(), true));

    std::vector<bool> removed(problem.rows.size(), false);
    Problem::Solution s = problem.Solve(removed);
    auto wOf = [&](const Problem::Solution& sol, size_t k) -> std::optional<double> {
        if (removed[k] || sol.redundancy[k] < kNoCheck) return std::nullopt;
        return sol.residual[k] / std::sqrt(sol.residualVariance[k]);
    };
    while (options.snoop && s.redundancyTotal > 0) {
        size_t worst = problem.rows.size();
        double largest = result.criticalW;
        for (size_t k = 0; k < problem.rows.size(); ++k) {
            const std::optional<double> w = wOf(s, k);
            if (w && std::abs(*w) > largest) {
                largest = std::abs(*w);
                worst = k;
            }
        }
        if (worst == problem.rows.size()) break;
        // v = −rᵢ∇ for an observation off by ∇: the error it was off by, observed − true.
        result.snooping.push_back(
            {worst, *wOf(s, worst), -s.residual[worst] / s.redundancy[worst]});
        removed[worst] = true;
        s = problem.Solve(removed);
    }

    result.unknowns = problem.unknowns + (problem.freeNetwork ? problem.components : 0);
    result.redundancy = s.redundancyTotal;
    result.vtpv = s.vtpv;
    if (s.redundancyTotal > 0) {
        result.sigma0 = std::sqrt(s.vtpv / s.redundancyTotal);
        const boost::math::chi_squared chi(s.redundancyTotal);
        GlobalTest test;
        test.dof = s.redundancyTotal;
        test.statistic = s.vtpv;
        test.lower = boost::math::quantile(chi, options.alpha / 2.0);
        test.upper = boost::math::quantile(boost::math::complement(chi, options.alpha / 2.0));
        if (test.statistic < test.lower) test.side = "low";
        if (test.statistic > test.upper) test.side = "high";
        test.passed = test.side.empty();
        result.globalTest = test;
    }
    const double scale = result.sigma0.value_or(1.0);
    for (size_t p = 0; p < problem.names.size(); ++p) {
        AdjustedHeight h;
        h.point = problem.names[p];
        h.height = s.heights[p];
        h.fixed = problem.fixed[p];
        h.sigmaApriori = std::sqrt(s.heightVariance[p]);
        h.sigma = scale * h.sigmaApriori;
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
        o.w = wOf(s, k);
        if (o.removed) {
            o.w = o.residual / std::sqrt(s.residualVariance[k]);
        } else if (o.w) {
            o.mdb = std::sqrt(result.lambda0 / o.redundancy) * row.sigma;
        }
        result.observations.push_back(std::move(o));
    }

    CheckClosures(problem, observations, removed, options, result);
    return result;
}

}  // namespace rendle::network
