// The normal equations of a levelling network solved, behind one interface: the corrections to
// the heights, the cofactors the statistics take, and the unknowns no weight holds. The sparse
// solver (LDLᵀ with the inverse on its factor's pattern) adjusts every network; the dense one
// (every entry of the inverse) is there to check it on small ones.
#pragma once

#include <Eigen/Core>
#include <memory>
#include <string>
#include <vector>

#include "network/Network.h"
#include "network/SelectedInverse.h"

namespace rendle::network {

class Solver {
  public:
    virtual ~Solver() = default;

    /// Factors the normal equations N (lower triangle), whose unknown i is the height of
    /// `names[i]`. A singular N (a pivot lost against its diagonal entry: no weight holds that
    /// unknown) throws a NetworkError naming the points of the dependent unknowns.
    void Factor(const SparseMatrix& normal, const std::vector<std::string>& names);
    /// N⁻¹ b.
    virtual Eigen::VectorXd Solve(const Eigen::VectorXd& rhs) const = 0;
    /// (N⁻¹)ᵢⱼ, for i = j and for every pair N couples.
    virtual double Cofactor(int i, int j) const = 0;
    /// The unknowns the last factoring found no weight holds; their count is the defect.
    const std::vector<int>& Dependent() const { return dependent_; }
    int Defect() const { return static_cast<int>(dependent_.size()); }

  protected:
    /// Factors N and gives the unknowns whose pivot is lost; false when N cannot be factored
    /// at all.
    virtual bool Decompose(const SparseMatrix& normal, std::vector<int>& dependent) = 0;

  private:
    std::vector<int> dependent_;
};

std::unique_ptr<Solver> MakeSolver(SolverKind kind);

}  // namespace rendle::network
