// A levelling network: the height differences of many runs between their points, the benchmarks
// that hold it, and what the adjustment by least squares makes of them.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace rendle::network {

/// Misclosures and their limits are printed, and judged, in mm to this many decimals.
inline constexpr int kMillimetreDecimals = 2;
// What levelling can measure and hold: past these an input is a slip, not a measurement.
inline constexpr double kLargestDh = 10'000;          // m
inline constexpr double kLongestKm = 10'000;          // km
inline constexpr double kHighestBenchmark = 100'000;  // m from the datum
inline constexpr double kLargestSigmaMm = 100'000;    // mm
inline constexpr double kFarthestCoordinate = 1e8;    // m, a point's east or north

/// Names of points in a message: the first ten, the rest counted.
std::string PointList(const std::vector<std::string>& names);

/// How the normal equations are solved: sparse LDLᵀ with the inverse on its pattern, or dense
/// (every entry of the inverse; for tests and small networks).
enum class SolverKind { Sparse, Dense };

/// Bad input or a network that cannot be adjusted: the message names what and where.
class NetworkError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// What was corrected in a height difference before the adjustment, m.
struct DhCorrections {
    double staff = 0;                ///< the staffs' scale, temperature and index
    double curvatureRefraction = 0;  ///< over each set-up's own sights
    double normalOrthometric = 0;
    double Total() const { return staff + curvatureRefraction + normalOrthometric; }
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
    /// The levelling line it was cut from, numbered in the job; nothing for a row of a file of
    /// observations. Sections of one line are never one section run twice.
    std::optional<size_t> line;
    /// The corrections made, when any were asked for: `dh` is then the corrected value, the one
    /// adjusted, and dh − Total() the value as measured.
    std::optional<DhCorrections> corrections;
    std::optional<double> temperature;  ///< a row's staff temperature, °C (temperature_c)
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

/// Data snooping: none; while the global test fails (the observations do not fit their
/// weights); or for as long as an observation's w is beyond its critical value.
enum class Snooping { Off, WhileGlobalTestFails, Always };

/// The C of C mm √K each kind of misclosure is judged by, and where the figures come from.
struct MiscloseLimits {
    double sectionDifferenceMm = 2.0;  ///< a section run twice: its two runs' difference
    double loopMm = 2.0;               ///< a loop's misclose, K its length
    double benchmarkLineMm = 2.0;      ///< a line from one benchmark to another: its misclose
    /// In words: "2 mm x sqrt(K) for loops, lines between benchmarks and sections run twice",
    /// or the class's figures, each fallback said.
    std::string words = "2 mm x sqrt(K) for loops, lines between benchmarks and sections run twice";
};

struct SnoopingStep {
    size_t observation = 0;  ///< index into the observations
    double w = 0;
    double error = 0;  ///< the estimated error of the observation, m (observed − true)
};

/// Height differences measured together whose errors are correlated (a <cov-mat> with
/// covariances in GNU Gama's input): their full covariance matrix, mm², each observation by its
/// place among the job's observations. Weighted by σ, each observation's σ is the root of its
/// variance; the block takes the inverse of the matrix as its weights.
/// The most observations a correlated block holds: its covariance matrix is held whole and
/// inverted (2,000² doubles, 32 MB).
inline constexpr size_t kLargestCorrelatedBlock = 2000;

struct CorrelatedBlock {
    std::vector<size_t> observations;
    std::vector<std::vector<double>> covarianceMm2;  ///< row by row, symmetric
    /// A block of weighted benchmarks' observed heights instead (GNU Gama's <coordinates>),
    /// by name; `observations` is then empty. In a result, every block names its rows in
    /// `observations`, a benchmark's by its place among the result's observations.
    std::vector<std::string> benchmarks;
};

struct AdjustmentOptions {
    Weighting weighting = Weighting::Length;
    double sigmaKmMm = 1.0;          ///< σ of 1 km of levelling, mm
    double sigmaSetUpMm = 1.0;       ///< σ of one set-up, mm
    double alpha = 0.05;             ///< the global test's level
    double alpha0 = 0.001;           ///< the level of each observation's test
    double power = 0.80;             ///< the power the minimal detectable bias is worked out for
    std::vector<std::string> datum;  ///< free network: the points the datum is laid over (all)
    std::vector<std::pair<std::string, double>> approx;  ///< approximate heights, free network
    Snooping snoop = Snooping::Off;
    MiscloseLimits limits;
    double confidence = 0.95;  ///< of the heights' confidence intervals
    /// Told each snooping round as it ends (rendle-net says it on a terminal).
    std::function<void(const SnoopingStep&, size_t round)> onSnoopingStep;
    /// Told as each long step begins ("factoring", "statistics"), for progress on a terminal.
    std::function<void(const std::string&)> onStage;
    SolverKind solver = SolverKind::Sparse;
    /// Blocks of correlated observations; taken only when the observations are weighted by σ.
    std::vector<CorrelatedBlock> correlated;
};

/// What the adjustment gives a network. Heights and lengths in metres and km, as read.
struct AdjustedHeight {
    std::string point;
    double height = 0;
    double sigma = 0;         ///< m, scaled by the a-posteriori σ0 (a-priori when r is 0)
    double sigmaApriori = 0;  ///< m
    double interval = 0;      ///< m, half the confidence interval at the job's confidence
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
    double sigmaAdjusted = 0;   ///< m, of the adjusted value, scaled as the heights are
    /// The error the observation is estimated to be off by, −v/r (observed − true), m; none
    /// without check.
    std::optional<double> estimatedError;
    /// External reliability: the largest change its MDB, undetected, makes in any height, m.
    std::optional<double> externalReliability;
    bool noCheck = false;    ///< rᵢ below 0.001
    bool removed = false;    ///< taken out by data snooping
    bool benchmark = false;  ///< a weighted benchmark's height, not a height difference
};

struct GlobalTest {
    int dof = 0;
    double statistic = 0;  ///< vᵀPv / σ0² a-priori
    double lower = 0;
    double upper = 0;
    bool passed = true;
    std::string side;  ///< "low", "high", or empty when passed
};

/// A loop of the network's cycle basis, a line closed on itself, a section run twice, or a
/// line from one benchmark to another. Made from the observations as measured, those removed
/// by snooping included.
struct ClosureCheck {
    /// How the report, the workbook and the drawing name it: L1, L2… for loops, D1… for
    /// sections run twice, B1… for lines between benchmarks, in the order the report lists them.
    std::string id;
    std::vector<std::string> points;  ///< the loop's points in order; the section's two ends
    double misclosure = 0;            ///< m (a line between benchmarks: observed − known)
    double lengthKm = 0;
    double limit = 0;  ///< m
    /// The check has no length (observations given by their σ alone): its limit is the
    /// critical |w| times the a-priori σ of its misclosure, not a class's C mm √K.
    bool bySigma = false;
    bool within = true;
    std::string source;         ///< the line closed on itself; the observations of a check
    bool holdsRemoved = false;  ///< an observation removed by snooping is part of it
};

struct NetworkResult {
    std::vector<AdjustedHeight> heights;
    std::vector<AdjustedObservation> observations;
    int points = 0;
    int fixedPoints = 0;
    int unknowns = 0;
    int redundancy = 0;
    bool freeNetwork = false;
    /// The parts the sections join the points into; a free network of several has no height
    /// of one part related to another's. One point of each part, the first of it named.
    int parts = 1;
    std::vector<std::string> partPoints;
    double vtpv = 0;
    std::optional<double> sigma0;  ///< a posteriori; none without redundancy
    std::optional<GlobalTest> globalTest;
    double criticalW = 0;
    double lambda0 = 0;
    std::vector<SnoopingStep> snooping;
    /// Snooping stopped at observations it cannot tell apart (indices): none was removed.
    std::vector<size_t> inseparable;
    std::string snoopingNote;  ///< why snooping removed nothing more, in words
    std::vector<ClosureCheck> loops;
    std::vector<ClosureCheck> doubleRuns;
    std::vector<ClosureCheck> benchmarkLines;
    double confidence = 0.95;
    /// The blocks of correlated observations the adjustment took, as given.
    std::vector<CorrelatedBlock> correlated;
};

}  // namespace rendle::network
