// A levelling network: the height differences of many runs between their points, the benchmarks
// that hold it, and what the adjustment by least squares makes of them.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace rendle::network {

/// Bad input or a network that cannot be adjusted: the message names what and where.
class NetworkError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// One measured height difference between two points of the network: a section of a levelling
/// line between its network points, or a row of an observations file.
struct Observation {
    std::string from;
    std::string to;
    double dh = 0;        ///< m, height of `to` minus height of `from`
    double lengthKm = 0;  ///< Σ of the back and fore sight distances
    std::optional<int> setUps;
    std::optional<double> sigmaMm;  ///< its own standard deviation, when given
    std::string source;             ///< "ring.gsi line 2, rows 6–18", "obs.csv:4"
};

/// A benchmark of known height: held fixed, or with its standard deviation a weighted
/// observation of its height.
struct Benchmark {
    std::string name;
    double height = 0;
    std::optional<double> sigmaMm;
};

/// A levelling line that closes on its own starting point with no network point inside: a loop
/// of its own, checked by its misclosure and adding no unknown.
struct LineLoop {
    std::string point;
    double misclosure = 0;  ///< m
    double lengthKm = 0;
    int setUps = 0;
    std::string source;
};

enum class Weighting { Length, SetUps, Sigma };

struct AdjustmentOptions {
    Weighting weighting = Weighting::Length;
    double sigmaKmMm = 1.0;          ///< σ of 1 km of levelling, mm
    double sigmaSetUpMm = 1.0;       ///< σ of one set-up, mm
    double alpha = 0.05;             ///< the global test's level
    double alpha0 = 0.001;           ///< the level of each observation's test
    double power = 0.80;             ///< the power the minimal detectable bias is worked out for
    std::vector<std::string> datum;  ///< free network: the points the datum is laid over (all)
    std::vector<std::pair<std::string, double>> approx;  ///< approximate heights, free network
    bool snoop = false;
    /// Misclose limits: C of C mm √K for a section run twice, C mm √E for a loop; nothing when the
    /// class sets no figure.
    std::optional<double> sectionMm = 2.0;
    std::optional<double> loopMm = 2.0;
};

/// What the adjustment gives a network. Heights and lengths in metres and km, as read.
struct AdjustedHeight {
    std::string point;
    double height = 0;
    double sigma = 0;         ///< m, scaled by the a-posteriori σ0 (a-priori when r is 0)
    double sigmaApriori = 0;  ///< m
    bool fixed = false;
};

struct AdjustedObservation {
    Observation observation;
    double sigma = 0;  ///< m, a-priori
    double adjusted = 0;
    double residual = 0;        ///< v = adjusted − observed, m
    double redundancy = 0;      ///< rᵢ
    std::optional<double> w;    ///< standardized residual; none for an observation without check
    std::optional<double> mdb;  ///< minimal detectable bias, m; none without check
    bool noCheck = false;       ///< rᵢ below 0.001
    bool removed = false;       ///< taken out by data snooping
    bool benchmark = false;     ///< a weighted benchmark's height, not a height difference
};

struct GlobalTest {
    int dof = 0;
    double statistic = 0;  ///< vᵀPv / σ0² a-priori
    double lower = 0;
    double upper = 0;
    bool passed = true;
    std::string side;  ///< "low", "high", or empty when passed
};

struct SnoopingStep {
    size_t observation = 0;  ///< index into the observations
    double w = 0;
    double error = 0;  ///< the estimated error of the observation, m (observed − true)
};

/// A loop of the network's cycle basis, or a line closed on itself, or a section run twice.
struct ClosureCheck {
    std::vector<std::string> points;  ///< the loop's points in order; the section's two ends
    double misclosure = 0;            ///< m
    double lengthKm = 0;
    std::optional<double> limit;  ///< m, nothing when no limit applies
    bool within = true;
    std::string source;  ///< the line closed on itself; the observations of a double run
};

struct NetworkResult {
    std::vector<AdjustedHeight> heights;
    std::vector<AdjustedObservation> observations;
    int points = 0;
    int fixedPoints = 0;
    int unknowns = 0;
    int redundancy = 0;
    bool freeNetwork = false;
    double vtpv = 0;
    std::optional<double> sigma0;  ///< a posteriori; none without redundancy
    std::optional<GlobalTest> globalTest;
    double criticalW = 0;
    double lambda0 = 0;
    std::vector<SnoopingStep> snooping;
    std::vector<ClosureCheck> loops;
    std::vector<ClosureCheck> doubleRuns;
};

}  // namespace rendle::network
