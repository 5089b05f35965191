// Data snooping on one factorization of a levelling network's normal equations.
#pragma once

#include <Eigen/Core>
#include <cmath>
#include <memory>
#include <vector>

#include "network/Problem.h"
#include "network/Solver.h"

namespace rendle::network {

/// What a round of data snooping asks of the adjustment as it stands: each row's w-test, the
/// correlation of two rows' tests, and the adjustment with a row taken out.
class SnoopingRounds {
  public:
    virtual ~SnoopingRounds() = default;
    virtual int Dof() const = 0;
    virtual double Vtpv() const = 0;
    /// Not removed, and with a check (redundancy of kNoCheck or more).
    virtual bool Checked(size_t k, const std::vector<bool>& removed) const = 0;
    virtual double W(size_t k) const = 0;
    /// The error row k estimates: observed − true.
    virtual double EstimatedError(size_t k) const = 0;
    /// What the tests of the rows are correlated with row k's by (Column), given to Correlation
    /// and to Remove.
    virtual Eigen::VectorXd Column(size_t k) const = 0;
    /// The correlation of the w-tests of rows i and k, u = Column(k).
    virtual double Correlation(size_t i, size_t k, const Eigen::VectorXd& u) const = 0;
    /// Takes row k out, u = Column(k).
    virtual void Remove(size_t k, Eigen::VectorXd u) = 0;
};

/// Data snooping on one factorization: each removal is a rank-one change of the normal
/// equations, so the residuals and their variances follow it without factoring again
/// (Sherman–Morrison on the cofactors, Q' = Q + u uᵀ / (Q_vv)ₖₖ with u = Q aₖᵀ). For rows
/// whose errors are independent.
class Snooper : public SnoopingRounds {
  public:
    Snooper(const Problem& problem, const Problem::Solution& first, SolverKind kind)
        : problem_(problem),
          solver_(MakeSolver(kind)),
          residual_(first.residual),
          residualVariance_(first.residualVariance),
          vtpv_(first.vtpv),
          dof_(first.redundancyTotal) {
        if (problem.unknowns > 0) {
            SparseMatrix normal;
            Eigen::VectorXd rhs;
            problem.Assemble(std::vector<bool>(problem.rows.size(), false), normal, rhs);
            solver_->Factor(normal, problem.UnknownNames());
        }
    }

    double W(size_t k) const override { return residual_[k] / std::sqrt(residualVariance_[k]); }
    bool Checked(size_t k, const std::vector<bool>& removed) const override {
        const double variance = problem_.rows[k].sigma * problem_.rows[k].sigma;
        return !removed[k] && residualVariance_[k] / variance >= kNoCheck;
    }
    double Redundancy(size_t k) const {
        const double sigma = problem_.rows[k].sigma;
        return residualVariance_[k] / (sigma * sigma);
    }
    double Residual(size_t k) const { return residual_[k]; }
    double EstimatedError(size_t k) const override { return -residual_[k] / Redundancy(k); }
    double Vtpv() const override { return vtpv_; }
    int Dof() const override { return dof_; }

    /// u = Q aₖᵀ with the rows removed so far out.
    Eigen::VectorXd Column(size_t k) const override {
        const auto m = static_cast<Eigen::Index>(problem_.unknowns);
        Eigen::VectorXd a = Eigen::VectorXd::Zero(m);
        const auto [from, to] = problem_.UnknownsOf(problem_.rows[k]);
        if (to >= 0) a[to] = 1.0;
        if (from >= 0) a[from] = -1.0;
        Eigen::VectorXd u = m > 0 ? solver_->Solve(a) : a;
        for (size_t j = 0; j < removedU_.size(); ++j) {
            u += removedU_[j] * (Dot(removedU_[j], k) / removedD_[j]);
        }
        return u;
    }

    /// (Q_vv)ᵢₖ for i ≠ k, given u = Column(k).
    double Covariance(size_t i, const Eigen::VectorXd& u) const { return -Dot(u, i); }

    double Correlation(size_t i, size_t k, const Eigen::VectorXd& u) const override {
        const auto variance = [&](size_t row) {
            return problem_.rows[row].sigma * problem_.rows[row].sigma * Redundancy(row);
        };
        return Covariance(i, u) / std::sqrt(variance(i) * variance(k));
    }

    /// Takes row k out, u = Column(k).
    void Remove(size_t k, Eigen::VectorXd u) override {
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
    std::unique_ptr<Solver> solver_;
    std::vector<double> residual_;
    std::vector<double> residualVariance_;
    double vtpv_ = 0;
    int dof_ = 0;
    std::vector<Eigen::VectorXd> removedU_;
    std::vector<double> removedD_;
};

/// Data snooping where rows are correlated: a row taken out of its block changes the weights
/// of every row kept in it, so each round adjusts afresh. The w-tests are Baarda's general
/// ones, (P v)ᵢ / √(P Q_vv P)ᵢᵢ, and two tests are correlated by (P Q_vv P)ᵢₖ.
class CorrelatedSnooper : public SnoopingRounds {
  public:
    CorrelatedSnooper(const Problem& problem, const Problem::Solution& first, SolverKind kind);

    int Dof() const override { return solution_.redundancyTotal; }
    double Vtpv() const override { return solution_.vtpv; }
    bool Checked(size_t k, const std::vector<bool>& removed) const override {
        return !removed[k] && solution_.redundancy[k] >= kNoCheck;
    }
    double W(size_t k) const override { return Pv(k) / std::sqrt(WVariance(k)); }
    double EstimatedError(size_t k) const override { return -Pv(k) / WVariance(k); }
    /// g = Q Aᵀ P eₖ.
    Eigen::VectorXd Column(size_t k) const override;
    double Correlation(size_t i, size_t k, const Eigen::VectorXd& g) const override;
    void Remove(size_t k, Eigen::VectorXd g) override;

  private:
    double Pv(size_t k) const;
    double WVariance(size_t k) const;
    /// Pᵢₖ of the rows kept: within a block, its weights; a row on its own, 1/σ².
    double Weight(size_t i, size_t k) const;
    void Refactor();

    const Problem& problem_;
    SolverKind kind_;
    std::unique_ptr<Solver> solver_;
    std::vector<bool> removed_;
    Problem::Solution solution_;
    std::vector<Eigen::MatrixXd> weights_;   ///< each block's, its rows kept
    std::vector<std::vector<size_t>> kept_;  ///< each block's rows kept
};

}  // namespace rendle::network
