// The entries of the inverse of a sparse symmetric matrix that lie on the pattern of its
// factor: what the standard deviations of heights and the redundancy numbers of a levelling
// network need, without the inverse in full.
#pragma once

#include <Eigen/SparseCholesky>
#include <cstdint>
#include <vector>

namespace rendle::network {

using SparseMatrix = Eigen::SparseMatrix<double, Eigen::ColMajor, int>;
using Factor = Eigen::SimplicialLDLT<SparseMatrix, Eigen::Lower>;

class SelectedInverse {
  public:
    /// Works out Z = N⁻¹ on the pattern of L, where P N Pᵀ = L D Lᵀ is `factor` (Takahashi's
    /// recurrence, column by column from the last).
    explicit SelectedInverse(const Factor& factor);

    /// (N⁻¹)ᵢⱼ for unknowns i and j of N. Defined for i = j and for every pair N couples (the
    /// factor's pattern holds N's); any other pair gives nothing meaningful and is not asked.
    double operator()(int i, int j) const;

  private:
    /// Z at permuted row r, column c, r > c, found in column c.
    double Below(int r, int c) const;

    std::vector<int> permuted_;  ///< an unknown's place in the factor
    std::vector<int64_t> start_;
    std::vector<int> rows_;
    std::vector<double> values_;  ///< Z beside L's pattern
    std::vector<double> diagonal_;
};

}  // namespace rendle::network
