// The network as the adjustment sees it: its points numbered, its observations weighted, the
// benchmarks, parts and datum, and the normal equations assembled from them.
#pragma once

#include <Eigen/Dense>
#include <Eigen/Sparse>
#include <numeric>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "network/Network.h"
#include "network/SelectedInverse.h"

namespace rendle::network {

inline constexpr double kNoCheck =
    0.001;  // an observation whose redundancy is below this has no check
inline constexpr size_t kNamedPoints = 10;  // points named in a message, the rest counted
// Two w-tests the snooping cannot tell apart: correlated at 0.99 or more, or of |w| within 1 %
// and correlated at 0.5 or more.
inline constexpr double kSameW = 0.01;
inline constexpr double kCorrelated = 0.99;
inline constexpr double kTiedAndCorrelated = 0.5;
// Two sections between the same points are one section run twice when the shorter is at least
// this share of the longer.
inline constexpr double kRunTwiceLengths = 0.8;

/// A length in mm or km as a message writes it: no trailing zeros.
std::string MmText(double mm);

/// Which points the sections join into one part of the network (union-find).
class PointSets {
  public:
    explicit PointSets(size_t points) : parent_(points) {
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
        /// Rows of a correlated block (kept): their w-test in Baarda's general form,
        /// w = (P v)ᵢ / √(P Q_vv P)ᵢᵢ, from these two figures.
        std::vector<bool> correlated;
        std::vector<double> pv;
        std::vector<double> wVariance;
        double vtpv = 0;
        int redundancyTotal = 0;
    };

    /// The normal equations without the rows marked in `removed` (each row's entries on the
    /// pattern all the same, with a weight of 0), for the unknowns held for the solve.
    void Assemble(const std::vector<bool>& removed, SparseMatrix& normal,
                  Eigen::VectorXd& rhs) const;

    /// The point of each unknown, by name.
    std::vector<std::string> UnknownNames() const;

    /// Rows whose errors are correlated, with their covariance matrix (m²).
    struct Block {
        std::vector<size_t> rows;
        Eigen::MatrixXd covariance;
        std::vector<std::vector<double>> givenMm2;  ///< as given, for the result
    };
    /// The weights of block `b` with the rows marked in `removed` out: the inverse of the
    /// covariance of the rows kept (`kept` gets them, in order). A row taken out takes what it
    /// told of the others with it, as an error parameter of its own would.
    Eigen::MatrixXd BlockWeights(size_t b, const std::vector<bool>& removed,
                                 std::vector<size_t>& kept) const;
    /// The a-priori variance (m²) of Σ cₖ lₖ over the rows `terms` names with their
    /// coefficients: the rows' variances and, within a correlated block, their covariances.
    double CombinedVariance(const std::vector<std::pair<size_t, double>>& terms) const;
    /// The unknowns of a row and their signs in its observation equation (−1 the point it
    /// leaves, +1 the one it reaches; held points left out).
    std::vector<std::pair<int, double>> Terms(const Row& r) const;

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
    std::vector<Block> blocks;
    std::vector<int> blockOf;  ///< each row's block, -1 for a row on its own

  private:
    void Number(const std::vector<Observation>& observations);
    void FindComponents();
    void ApproximateHeights(const AdjustmentOptions& options);
    void TakeCorrelated(const std::vector<Observation>& observations,
                        const AdjustmentOptions& options);
    std::unordered_map<std::string, int> index_;
};

}  // namespace rendle::network
