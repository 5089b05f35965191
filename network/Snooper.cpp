#include "network/Snooper.h"

#include <algorithm>

#include "network/Statistics.h"

namespace rendle::network {

CorrelatedSnooper::CorrelatedSnooper(const Problem& problem, const Problem::Solution& first,
                                     SolverKind kind)
    : problem_(problem),
      kind_(kind),
      solver_(MakeSolver(kind)),
      removed_(problem.rows.size(), false),
      solution_(first) {
    Refactor();
}

void CorrelatedSnooper::Refactor() {
    weights_.clear();
    kept_.clear();
    for (size_t b = 0; b < problem_.blocks.size(); ++b) {
        std::vector<size_t> kept;
        weights_.push_back(problem_.BlockWeights(b, removed_, kept));
        kept_.push_back(std::move(kept));
    }
    if (problem_.unknowns > 0) {
        SparseMatrix normal;
        Eigen::VectorXd rhs;
        problem_.Assemble(removed_, normal, rhs);
        solver_->Factor(normal, problem_.UnknownNames());
    }
}

double CorrelatedSnooper::Weight(size_t i, size_t k) const {
    if (removed_[i] || removed_[k]) return 0.0;
    const int bi = i < problem_.blockOf.size() ? problem_.blockOf[i] : -1;
    const int bk = k < problem_.blockOf.size() ? problem_.blockOf[k] : -1;
    if (bi < 0 || bk < 0) {
        const double sigma = problem_.rows[i].sigma;
        return i == k ? 1.0 / (sigma * sigma) : 0.0;
    }
    if (bi != bk) return 0.0;
    const std::vector<size_t>& kept = kept_[static_cast<size_t>(bi)];
    const auto place = [&](size_t row) {
        return static_cast<Eigen::Index>(std::find(kept.begin(), kept.end(), row) - kept.begin());
    };
    return weights_[static_cast<size_t>(bi)](place(i), place(k));
}

double CorrelatedSnooper::Pv(size_t k) const {
    if (solution_.correlated[k]) return solution_.pv[k];
    const double sigma = problem_.rows[k].sigma;
    return solution_.residual[k] / (sigma * sigma);
}

double CorrelatedSnooper::WVariance(size_t k) const {
    if (solution_.correlated[k]) return solution_.wVariance[k];
    const double variance = problem_.rows[k].sigma * problem_.rows[k].sigma;
    return solution_.residualVariance[k] / (variance * variance);
}

Eigen::VectorXd CorrelatedSnooper::Column(size_t k) const {
    const auto m = static_cast<Eigen::Index>(problem_.unknowns);
    Eigen::VectorXd atp = Eigen::VectorXd::Zero(m);
    const int block = k < problem_.blockOf.size() ? problem_.blockOf[k] : -1;
    const std::vector<size_t> own{k};
    for (const size_t j : block >= 0 ? kept_[static_cast<size_t>(block)] : own) {
        const double p = Weight(j, k);
        for (const auto& [u, sign] : problem_.Terms(problem_.rows[j])) atp[u] += sign * p;
    }
    return m > 0 ? solver_->Solve(atp) : atp;
}

double CorrelatedSnooper::Correlation(size_t i, size_t k, const Eigen::VectorXd& g) const {
    // (P Q_vv P)ᵢₖ = Pᵢₖ − (P A g)ᵢ, g = Q Aᵀ P eₖ.
    const auto along = [&](size_t j) {
        double sum = 0;
        for (const auto& [u, sign] : problem_.Terms(problem_.rows[j])) sum += sign * g[u];
        return sum;
    };
    const int block = i < problem_.blockOf.size() ? problem_.blockOf[i] : -1;
    double pag = 0;
    if (block >= 0) {
        for (const size_t j : kept_[static_cast<size_t>(block)]) pag += Weight(i, j) * along(j);
    } else {
        pag = Weight(i, i) * along(i);
    }
    const double covariance = Weight(i, k) - pag;
    return covariance / std::sqrt(WVariance(i) * WVariance(k));
}

void CorrelatedSnooper::Remove(size_t k, Eigen::VectorXd /*g*/) {
    removed_[k] = true;
    solution_ = Solve(problem_, removed_, kind_);
    Refactor();
}

}  // namespace rendle::network
