#include "network/Statistics.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "network/Solver.h"

namespace rendle::network {

namespace {

/// The statistics of a block of correlated rows kept in the adjustment: Q_vv = C − A Q Aᵀ over
/// the block, vᵀPv, the redundancy numbers (Q_vv P)ᵢᵢ, the residuals' variances, the w-tests'
/// figures (P v)ᵢ and (P Q_vv P)ᵢᵢ, and the effect on the heights of a unit error of each row
/// (Q Aᵀ P eᵢ, solved for). `y` and `count`: a free network's datum, as Solve has them.
void CorrelatedStatistics(const Problem& problem, size_t b, const std::vector<bool>& removed,
                          const Solver& solver, const Eigen::VectorXd& y,
                          const std::vector<double>& count, Problem::Solution& s) {
    std::vector<size_t> kept;
    const Eigen::MatrixXd p = problem.BlockWeights(b, removed, kept);
    const auto n = static_cast<Eigen::Index>(kept.size());
    if (n == 0) return;
    const auto m = static_cast<Eigen::Index>(problem.unknowns);
    const auto rowAt = [&](Eigen::Index i) { return problem.rows[kept[static_cast<size_t>(i)]]; };
    Eigen::MatrixXd qvv(n, n);
    Eigen::VectorXd v(n);
    const Problem::Block& block = problem.blocks[b];
    for (Eigen::Index i = 0; i < n; ++i) {
        v[i] = s.residual[kept[static_cast<size_t>(i)]];
        const auto at = static_cast<Eigen::Index>(
            std::find(block.rows.begin(), block.rows.end(), kept[static_cast<size_t>(i)]) -
            block.rows.begin());
        for (Eigen::Index j = 0; j < n; ++j) {
            const auto to = static_cast<Eigen::Index>(
                std::find(block.rows.begin(), block.rows.end(), kept[static_cast<size_t>(j)]) -
                block.rows.begin());
            double aqa = 0;
            if (m > 0) {
                for (const auto& [ui, si] : problem.Terms(rowAt(i))) {
                    for (const auto& [uj, sj] : problem.Terms(rowAt(j))) {
                        aqa += si * sj * solver.Cofactor(ui, uj);
                    }
                }
            }
            qvv(i, j) = block.covariance(at, to) - aqa;
        }
    }
    const Eigen::VectorXd pv = p * v;
    const Eigen::MatrixXd qvvP = qvv * p;
    const Eigen::MatrixXd pqvvp = p * qvvP;
    s.vtpv += v.dot(pv);
    for (Eigen::Index i = 0; i < n; ++i) {
        const size_t k = kept[static_cast<size_t>(i)];
        s.correlated[k] = true;
        s.pv[k] = pv[i];
        s.wVariance[k] = std::max(0.0, pqvvp(i, i));
        s.residualVariance[k] = std::max(0.0, qvv(i, i));
        s.redundancy[k] = std::clamp(qvvP(i, i), 0.0, 1.0);
        // Q Aᵀ P eᵢ: how the heights move for a unit error of this row.
        if (m == 0) continue;
        Eigen::VectorXd column = Eigen::VectorXd::Zero(m);
        for (Eigen::Index j = 0; j < n; ++j) {
            for (const auto& [uj, sj] : problem.Terms(rowAt(j))) column[uj] += sj * p(j, i);
        }
        const Eigen::VectorXd moved = solver.Solve(column);
        double largest = 0;
        std::vector<double> datumShift(count.size(), 0.0);
        if (problem.freeNetwork && y.size() > 0) {
            for (size_t q = 0; q < problem.names.size(); ++q) {
                if (problem.datum[q] && problem.unknown[q] >= 0) {
                    datumShift[static_cast<size_t>(problem.component[q])] +=
                        moved[problem.unknown[q]];
                }
            }
        }
        for (size_t q = 0; q < problem.names.size(); ++q) {
            const double own = problem.unknown[q] >= 0 ? moved[problem.unknown[q]] : 0.0;
            const auto part = static_cast<size_t>(problem.component[q]);
            const double shift =
                problem.freeNetwork && count[part] > 0 ? datumShift[part] / count[part] : 0.0;
            largest = std::max(largest, std::fabs(own - shift));
        }
        s.effect[k] = largest;
    }
}

}  // namespace

Problem::Solution Solve(const Problem& problem, const std::vector<bool>& removed, SolverKind kind,
                        const std::function<void(const std::string&)>& stage) {
    const std::vector<std::string>& names = problem.names;
    const std::vector<Problem::Row>& rows = problem.rows;
    const std::vector<bool>& fixed = problem.fixed;
    const std::vector<double>& fixedHeight = problem.fixedHeight;
    const std::vector<int>& component = problem.component;
    const int components = problem.components;
    const bool freeNetwork = problem.freeNetwork;
    const std::vector<bool>& datum = problem.datum;
    const std::vector<double>& approximate = problem.approximate;
    const std::vector<int>& unknown = problem.unknown;
    const int unknowns = problem.unknowns;
    const size_t n = names.size();
    const auto m = static_cast<Eigen::Index>(unknowns);
    Problem::Solution s;
    s.redundancyTotal =
        static_cast<int>(std::count(removed.begin(), removed.end(), false)) - unknowns;
    s.heights = approximate;
    s.heightVariance.assign(n, 0.0);
    for (size_t p = 0; p < n; ++p) {
        if (fixed[p]) s.heights[p] = fixedHeight[p];
    }

    const std::unique_ptr<Solver> solver = MakeSolver(kind);
    if (m > 0) {
        SparseMatrix normal;
        Eigen::VectorXd rhs;
        problem.Assemble(removed, normal, rhs);
        if (stage) stage("factoring");
        solver->Factor(normal, problem.UnknownNames());
        if (stage) stage("statistics");
        const Eigen::VectorXd dx = solver->Solve(rhs);
        for (size_t p = 0; p < n; ++p) {
            if (unknown[p] >= 0) s.heights[p] += dx[unknown[p]];
        }
        for (size_t p = 0; p < n; ++p) {
            if (unknown[p] >= 0) s.heightVariance[p] = solver->Cofactor(unknown[p], unknown[p]);
        }
    }
    const auto cofactor = [&solver](int i, int j) { return solver->Cofactor(i, j); };

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
        y = solver->Solve(c);
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

    s.correlated.assign(rows.size(), false);
    s.pv.assign(rows.size(), 0.0);
    s.wVariance.assign(rows.size(), 0.0);
    s.residual.assign(rows.size(), 0.0);
    s.redundancy.assign(rows.size(), 0.0);
    s.residualVariance.assign(rows.size(), 0.0);
    s.adjustedVariance.assign(rows.size(), 0.0);
    s.effect.assign(rows.size(), 0.0);
    for (size_t k = 0; k < rows.size(); ++k) {
        const Problem::Row& r = rows[k];
        const double adjusted = r.from >= 0 ? s.heights[static_cast<size_t>(r.to)] -
                                                  s.heights[static_cast<size_t>(r.from)]
                                            : s.heights[static_cast<size_t>(r.to)];
        s.residual[k] = adjusted - r.observed;
        // q = a Q aᵀ of the row, in the datum held for the solve: the same for any datum.
        const auto [a, b] = problem.UnknownsOf(r);
        double q = 0;
        // Q aᵀ at the row's two points: an error of the row moves the heights by Q aᵀ p ∇, and
        // on a levelling network (a weighted graph held at its benchmarks) that is largest at
        // one of its two points, or at a held point, which it leaves where it is.
        double atTo = 0;
        double atFrom = 0;
        if (m > 0) {
            if (b >= 0) {
                q += cofactor(b, b);
                atTo += cofactor(b, b);
                if (a >= 0) atFrom += cofactor(a, b);
            }
            if (a >= 0) {
                q += cofactor(a, a);
                atFrom -= cofactor(a, a);
                if (b >= 0) atTo -= cofactor(a, b);
            }
            if (a >= 0 && b >= 0) q -= 2.0 * cofactor(a, b);
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
        if (k < problem.blockOf.size() && problem.blockOf[k] >= 0) continue;  // below
        const double variance = r.sigma * r.sigma;
        s.residualVariance[k] = std::max(0.0, variance - q);
        s.redundancy[k] = std::clamp(s.residualVariance[k] / variance, 0.0, 1.0);
        s.vtpv += s.residual[k] * s.residual[k] / variance;
    }
    for (size_t b = 0; b < problem.blocks.size(); ++b) {
        CorrelatedStatistics(problem, b, removed, *solver, y, count, s);
    }
    return s;
}

}  // namespace rendle::network
