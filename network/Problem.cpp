#include "network/Problem.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <set>

namespace rendle::network {

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
namespace {

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

}  // namespace

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
    TakeCorrelated(observations, options);

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

void Problem::TakeCorrelated(const std::vector<Observation>& observations,
                             const AdjustmentOptions& options) {
    blockOf.assign(rows.size(), -1);
    for (const CorrelatedBlock& given : options.correlated) {
        // Height differences weighted otherwise would mix two models; observed heights are
        // weighted by their own σ whatever the rest.
        if (!given.observations.empty() && options.weighting != Weighting::Sigma) {
            throw NetworkError(
                "correlated observations are weighted by their covariances: weight them by "
                "sigma");
        }
        // Its rows: observations by their place, or weighted benchmarks by name.
        std::vector<size_t> members;
        std::string first = "a block";
        bool known = true;
        for (const size_t k : given.observations) {
            known = known && k < observations.size();
            members.push_back(k);
        }
        if (!given.observations.empty() && known) first = observations[members[0]].source;
        for (const std::string& name : given.benchmarks) {
            const auto at = index_.find(name);
            size_t row = rows.size();
            for (size_t k = observations.size(); at != index_.end() && k < rows.size(); ++k) {
                if (rows[k].to == at->second) row = k;
            }
            if (row == rows.size()) {
                throw NetworkError("benchmark " + name +
                                   ": a correlated observed height of a point that is no "
                                   "weighted benchmark of the network");
            }
            members.push_back(row);
            if (first == "a block") first = "benchmark " + name;
        }
        const size_t n = members.size();
        if (n > kLargestCorrelatedBlock) {
            throw NetworkError(first + ": a correlated block of " + std::to_string(n) +
                               " observations; at most " + std::to_string(kLargestCorrelatedBlock) +
                               " are adjusted");
        }
        bool square = given.covarianceMm2.size() == n && n > 0;
        for (const std::vector<double>& row : given.covarianceMm2)
            square = square && row.size() == n;
        if (!square) {
            throw NetworkError(first + ": the covariance matrix of a correlated block is not " +
                               std::to_string(n) + " by " + std::to_string(n));
        }
        Block block;
        block.givenMm2 = given.covarianceMm2;
        block.covariance.resize(static_cast<Eigen::Index>(n), static_cast<Eigen::Index>(n));
        for (size_t i = 0; i < n; ++i) {
            const size_t k = members[i];
            if (k >= rows.size() || blockOf[k] >= 0) {
                throw NetworkError(first +
                                   ": a correlated block names an observation twice or "
                                   "one that is not there");
            }
            blockOf[k] = static_cast<int>(blocks.size());
            block.rows.push_back(k);
            for (size_t j = 0; j < n; ++j) {
                const double c = given.covarianceMm2[i][j];
                if (!std::isfinite(c) || c != given.covarianceMm2[j][i]) {
                    throw NetworkError(first +
                                       ": the covariance matrix of a correlated block is "
                                       "not symmetric");
                }
                block.covariance(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j)) =
                    c / 1e6;
            }
            // The row's σ is the root of its variance.
            rows[k].sigma = std::sqrt(given.covarianceMm2[i][i]) / 1000.0;
        }
        // Variances no covariance can exceed: otherwise no set of errors has them.
        const Eigen::LLT<Eigen::MatrixXd> llt(block.covariance);
        if (llt.info() != Eigen::Success) {
            throw NetworkError(first +
                               ": the covariance matrix of its correlated block is not "
                               "positive definite");
        }
        blocks.push_back(std::move(block));
    }
}

Eigen::MatrixXd Problem::BlockWeights(size_t b, const std::vector<bool>& removed,
                                      std::vector<size_t>& kept) const {
    const Block& block = blocks[b];
    kept.clear();
    std::vector<Eigen::Index> at;
    for (size_t i = 0; i < block.rows.size(); ++i) {
        if (removed[block.rows[i]]) continue;
        kept.push_back(block.rows[i]);
        at.push_back(static_cast<Eigen::Index>(i));
    }
    const auto n = static_cast<Eigen::Index>(at.size());
    Eigen::MatrixXd c(n, n);
    for (Eigen::Index i = 0; i < n; ++i) {
        for (Eigen::Index j = 0; j < n; ++j) c(i, j) = block.covariance(at[i], at[j]);
    }
    return n == 0 ? c : Eigen::MatrixXd(c.llt().solve(Eigen::MatrixXd::Identity(n, n)));
}

double Problem::CombinedVariance(const std::vector<std::pair<size_t, double>>& terms) const {
    double variance = 0;
    for (const auto& [i, ci] : terms) {
        for (const auto& [j, cj] : terms) {
            double covariance = 0;
            const int bi = i < blockOf.size() ? blockOf[i] : -1;
            if (i == j) {
                covariance = rows[i].sigma * rows[i].sigma;
            } else if (bi >= 0 && j < blockOf.size() && blockOf[j] == bi) {
                const Block& block = blocks[static_cast<size_t>(bi)];
                const auto place = [&](size_t row) {
                    return static_cast<Eigen::Index>(
                        std::find(block.rows.begin(), block.rows.end(), row) - block.rows.begin());
                };
                covariance = block.covariance(place(i), place(j));
            }
            variance += ci * cj * covariance;
        }
    }
    return variance;
}

std::vector<std::pair<int, double>> Problem::Terms(const Row& r) const {
    const auto [a, b] = UnknownsOf(r);
    std::vector<std::pair<int, double>> terms;
    if (b >= 0) terms.emplace_back(b, 1.0);
    if (a >= 0) terms.emplace_back(a, -1.0);
    return terms;
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
    PointSets joined(names.size());
    for (const Row& r : rows) {
        if (r.from >= 0) joined.Join(r.from, r.to);
    }
    component.assign(names.size(), -1);
    std::unordered_map<int, int> number;
    for (size_t p = 0; p < names.size(); ++p) {
        const auto [at, added] = number.emplace(joined.Root(static_cast<int>(p)), components);
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
    const auto misfit = [&](const Row& r) {
        return r.from >= 0 ? r.observed - (approximate[static_cast<size_t>(r.to)] -
                                           approximate[static_cast<size_t>(r.from)])
                           : r.observed - approximate[static_cast<size_t>(r.to)];
    };
    // A correlated block: aᵢᵀ Pᵢⱼ aⱼ over every pair of its rows kept, every entry on the
    // pattern, with a weight of 0 or not.
    for (size_t bk = 0; bk < blocks.size(); ++bk) {
        std::vector<size_t> kept;
        const Eigen::MatrixXd weights = BlockWeights(bk, removed, kept);
        for (const size_t k : blocks[bk].rows) {
            for (const size_t j : blocks[bk].rows) {
                for (const auto& [ui, si] : Terms(rows[k])) {
                    for (const auto& [uj, sj] : Terms(rows[j])) {
                        if (ui >= uj) entries.emplace_back(ui, uj, 0.0);
                    }
                }
            }
        }
        for (size_t i = 0; i < kept.size(); ++i) {
            for (size_t j = 0; j < kept.size(); ++j) {
                const double p =
                    weights(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j));
                for (const auto& [ui, si] : Terms(rows[kept[i]])) {
                    rhs[ui] += si * p * misfit(rows[kept[j]]);
                    for (const auto& [uj, sj] : Terms(rows[kept[j]])) {
                        if (ui >= uj) entries.emplace_back(ui, uj, si * sj * p);
                    }
                }
            }
        }
    }
    for (size_t k = 0; k < rows.size(); ++k) {
        const Row& r = rows[k];
        if (k < blockOf.size() && blockOf[k] >= 0) continue;
        const double p = removed[k] ? 0.0 : 1.0 / (r.sigma * r.sigma);
        const auto [a, b] = UnknownsOf(r);
        const double l = misfit(r);
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

std::vector<std::string> Problem::UnknownNames() const {
    std::vector<std::string> named(static_cast<size_t>(unknowns));
    for (size_t p = 0; p < names.size(); ++p) {
        if (unknown[p] >= 0) named[static_cast<size_t>(unknown[p])] = names[p];
    }
    return named;
}

}  // namespace rendle::network
