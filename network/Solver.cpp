#include "network/Solver.h"

#include <Eigen/Dense>
#include <optional>

namespace rendle::network {

namespace {

/// A pivot below this share of its diagonal entry is lost: no weight holds its unknown.
constexpr double kLostPivot = 1e-12;

/// The largest network whose singular system the sparse solver names points of by a dense
/// factoring, when its own stops at a pivot of 0.
constexpr Eigen::Index kNamedDense = 2000;

class DenseSolver final : public Solver {
  public:
    Eigen::VectorXd Solve(const Eigen::VectorXd& rhs) const override { return inverse_ * rhs; }
    double Cofactor(int i, int j) const override { return inverse_(i, j); }

    /// The unknowns whose pivot an LDLᵀ in their own order loses.
    static std::vector<int> LostPivots(const Eigen::MatrixXd& n) {
        std::vector<int> dependent;
        const Eigen::Index m = n.rows();
        Eigen::MatrixXd l = Eigen::MatrixXd::Identity(m, m);
        Eigen::VectorXd d = Eigen::VectorXd::Zero(m);
        for (Eigen::Index j = 0; j < m; ++j) {
            double pivot = n(j, j);
            for (Eigen::Index k = 0; k < j; ++k) pivot -= l(j, k) * l(j, k) * d[k];
            if (!(pivot > kLostPivot * n(j, j))) {
                dependent.push_back(static_cast<int>(j));
                continue;
            }
            d[j] = pivot;
            for (Eigen::Index i = j + 1; i < m; ++i) {
                double sum = n(i, j);
                for (Eigen::Index k = 0; k < j; ++k) sum -= l(i, k) * l(j, k) * d[k];
                l(i, j) = sum / pivot;
            }
        }
        return dependent;
    }

  protected:
    bool Decompose(const SparseMatrix& normal, std::vector<int>& dependent) override {
        const Eigen::MatrixXd n = Eigen::MatrixXd(normal).selfadjointView<Eigen::Lower>();
        dependent = LostPivots(n);
        if (!dependent.empty()) return true;
        inverse_ = n.ldlt().solve(Eigen::MatrixXd::Identity(n.rows(), n.cols()));
        return inverse_.allFinite();
    }

  private:
    Eigen::MatrixXd inverse_;
};

class SparseSolver final : public Solver {
  public:
    Eigen::VectorXd Solve(const Eigen::VectorXd& rhs) const override { return factor_.solve(rhs); }
    double Cofactor(int i, int j) const override {
        if (!inverse_) inverse_.emplace(factor_);
        return (*inverse_)(i, j);
    }

  protected:
    bool Decompose(const SparseMatrix& normal, std::vector<int>& dependent) override {
        inverse_.reset();
        factor_.compute(normal);
        if (factor_.info() != Eigen::Success) {
            // Stopped at a pivot of 0: a small system is factored densely to name its points.
            if (normal.rows() > kNamedDense) return false;
            dependent =
                DenseSolver::LostPivots(Eigen::MatrixXd(normal).selfadjointView<Eigen::Lower>());
            return !dependent.empty();
        }
        const Eigen::VectorXd diagonal =
            factor_.permutationP() * Eigen::VectorXd(normal.diagonal());
        const Eigen::VectorXd& d = factor_.vectorD();
        // Unknown j stands at place indices[j] of the factor.
        const auto& place = factor_.permutationP().indices();
        for (Eigen::Index j = 0; j < place.size(); ++j) {
            const Eigen::Index i = place[j];
            if (!(d[i] > kLostPivot * diagonal[i])) dependent.push_back(static_cast<int>(j));
        }
        return true;
    }

  private:
    network::Factor factor_;
    mutable std::optional<SelectedInverse> inverse_;
};

}  // namespace

void Solver::Factor(const SparseMatrix& normal, const std::vector<std::string>& names) {
    dependent_.clear();
    const bool factored = Decompose(normal, dependent_);
    if (factored && dependent_.empty()) return;
    std::vector<std::string> points;
    for (const int i : dependent_) points.push_back(names[static_cast<size_t>(i)]);
    throw NetworkError(
        "the normal equations are singular: the weights leave a part of the network without "
        "a height" +
        (points.empty() ? std::string() : " (" + PointList(points) + ")"));
}

std::unique_ptr<Solver> MakeSolver(SolverKind kind) {
    if (kind == SolverKind::Dense) return std::make_unique<DenseSolver>();
    return std::make_unique<SparseSolver>();
}

}  // namespace rendle::network
