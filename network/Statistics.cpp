#include "network/Statistics.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "network/Solver.h"

namespace rendle::network {

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
        const double variance = r.sigma * r.sigma;
        s.residualVariance[k] = std::max(0.0, variance - q);
        s.redundancy[k] = std::clamp(s.residualVariance[k] / variance, 0.0, 1.0);
        s.vtpv += s.residual[k] * s.residual[k] / variance;
    }
    return s;
}

}  // namespace rendle::network
