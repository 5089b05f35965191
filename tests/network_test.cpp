// The levelling network: held against networks adjusted elsewhere, against a dense solve of the
// same normal equations, and read from field books as the recorders write them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <Eigen/Dense>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

#include "grid/Utf8.h"
#include "network/Adjustment.h"
#include "network/GamaXml.h"
#include "network/NetworkInput.h"
#include "network/NetworkReport.h"
#include "readers/FieldBook.h"

namespace {

using namespace rendle::network;

std::vector<Observation> Csv(const std::string& text) {
    std::istringstream in(text);
    return ReadObservations(in, "obs.csv");
}

const AdjustedHeight& HeightOf(const NetworkResult& result, const std::string& point) {
    for (const AdjustedHeight& h : result.heights) {
        if (h.point == point) return h;
    }
    throw std::runtime_error("no point " + point);
}

// A sample network of GNU Gama's documentation: four points, each leg levelled forward and
// back, 5 mm a leg, point 1a held at 1000 m. Published: heights to 0.01 mm, their standard
// deviations (a priori) to 0.1 mm, m0 a posteriori 5.42 mm, [pvv] 146.625 mm².
TEST(NetworkAdjustment, AgreesWithAPublishedForwardAndBackNetwork) {
    const auto observations =
        Csv("from,to,dh,length_km,sigma_mm\r\n"
            "1a,4,-1.22500,1,5\r\n4,3,-0.84800,1,5\r\n3,2,1.34200,1,5\r\n2,1a,0.72000,1,5\r\n"
            "1a,2,-0.72400,1,5\r\n2,3,-1.33500,1,5\r\n3,4,0.84200,1,5\r\n4,1a,1.23100,1,5\r\n");
    AdjustmentOptions options;
    options.weighting = Weighting::Sigma;
    const NetworkResult r = Adjust(observations, {{"1a", 1000.0, std::nullopt}}, {}, options);

    EXPECT_EQ(r.redundancy, 5);
    ASSERT_TRUE(r.sigma0);
    EXPECT_NEAR(*r.sigma0 * 5.0, 5.42, 0.005);
    EXPECT_NEAR(r.vtpv * 25.0, 146.625, 0.0005);
    const struct {
        const char* point;
        double height;
        double sigmaMm;
    } published[] = {{"4", 998.77513, 3.1}, {"3", 997.93325, 3.5}, {"2", 999.27487, 3.1}};
    for (const auto& p : published) {
        SCOPED_TRACE(p.point);
        EXPECT_NEAR(HeightOf(r, p.point).height, p.height, 0.000005 + 1e-9);
        EXPECT_NEAR(HeightOf(r, p.point).sigmaApriori * 1000.0, p.sigmaMm, 0.05);
    }
    EXPECT_TRUE(HeightOf(r, "1a").fixed);
}

// Strang and Borre's network of three benchmarks and two new points, adjusted by STAR*NET at
// 6 mm/√km: sum of squares of standardized residuals 4.636, error factor 1.243, chi-square
// bounds of the error factor 0.268/1.765 at 5 %.
TEST(NetworkAdjustment, AgreesWithAPublishedNetworkWeightedByLength) {
    const auto observations =
        Csv("from,to,dh,length_km\nA,E,0.7320,0.970\nA,F,1.9780,1.002\nB,E,0.4200,1.070\n"
            "C,F,0.9880,1.110\nE,F,1.2580,0.890\n");
    AdjustmentOptions options;
    options.sigmaKmMm = 6.0;
    const NetworkResult r = Adjust(
        observations,
        {{"A", 10.0210, std::nullopt}, {"B", 10.3210, std::nullopt}, {"C", 11.0020, std::nullopt}},
        {}, options);
    ASSERT_TRUE(r.globalTest);
    EXPECT_EQ(r.globalTest->dof, 3);
    EXPECT_NEAR(r.vtpv, 4.636, 0.0005);
    EXPECT_NEAR(*r.sigma0, 1.243, 0.0005);
    EXPECT_NEAR(std::sqrt(r.globalTest->lower / 3), 0.268, 0.0005);
    EXPECT_NEAR(std::sqrt(r.globalTest->upper / 3), 1.765, 0.0005);
    EXPECT_TRUE(r.globalTest->passed);
    double sum = 0;
    for (const AdjustedObservation& o : r.observations) sum += o.redundancy;
    EXPECT_NEAR(sum, 3.0, 1e-9) << "the redundancy numbers add up to the redundancy";
}

TEST(NetworkAdjustment, TheTestsCriticalValues) {
    EXPECT_NEAR(CriticalW(0.001), 3.29, 0.005);
    EXPECT_NEAR(Lambda0(0.001, 0.80), 17.07, 0.005);
    EXPECT_NEAR(CriticalW(0.05), 1.96, 0.005);
}

/// A random connected network: a chain through every point and some legs across, each levelled
/// with an error; true heights kept for the approximate heights of a free network.
struct RandomNetwork {
    std::vector<Observation> observations;
    std::vector<double> heights;
};

std::string Name(size_t i) {
    return "P" + std::to_string(i);
}

RandomNetwork MakeNetwork(unsigned seed, size_t points, size_t across) {
    std::mt19937 random(seed);
    auto uniform = [&](double low, double high) {
        return low + (high - low) * static_cast<double>(random() % 100001) / 100000.0;
    };
    RandomNetwork n;
    for (size_t i = 0; i < points; ++i) n.heights.push_back(uniform(90, 110));
    auto add = [&](size_t a, size_t b) {
        const double km = uniform(0.1, 2.0);
        n.observations.push_back({Name(a), Name(b),
                                  n.heights[b] - n.heights[a] + uniform(-0.002, 0.002), km,
                                  static_cast<int>(random() % 20 + 1), std::nullopt,
                                  "leg " + std::to_string(n.observations.size()), std::nullopt,
                                  std::nullopt, std::nullopt});
    };
    for (size_t i = 1; i < points; ++i) add(random() % i, i);
    for (size_t k = 0; k < across; ++k) {
        const size_t a = random() % points;
        const size_t b = (a + 1 + random() % (points - 1)) % points;
        add(a, b);
    }
    return n;
}

/// The same adjustment by dense matrices: N = AᵀPA inverted whole. `datum` empty: points 0 and
/// 1 fixed at their true heights and point 2 a benchmark of 3 mm; else a free network laid over
/// the datum points by the S-transformation of (N + BBᵀ)⁻¹.
struct DenseResult {
    Eigen::VectorXd heights;
    Eigen::VectorXd sigma;
    Eigen::VectorXd residual;
    Eigen::VectorXd redundancy;
    Eigen::VectorXd w;              ///< v / σ_v
    Eigen::VectorXd mdb;            ///< √(λ0 / r) σ, m
    Eigen::VectorXd sigmaAdjusted;  ///< √(A Q Aᵀ)ᵢᵢ, a priori
    Eigen::VectorXd external;       ///< the largest |Q Aᵀ P eᵢ| over the heights, times the MDB
};

DenseResult DenseAdjust(const RandomNetwork& n, const std::vector<size_t>& datum,
                        Weighting weighting = Weighting::Length) {
    const auto points = static_cast<Eigen::Index>(n.heights.size());
    const bool free = !datum.empty();
    const auto rows = static_cast<Eigen::Index>(n.observations.size()) + (free ? 0 : 1);
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(rows, points);
    Eigen::VectorXd l(rows);
    Eigen::VectorXd p(rows);
    for (Eigen::Index i = 0; i < static_cast<Eigen::Index>(n.observations.size()); ++i) {
        const Observation& o = n.observations[static_cast<size_t>(i)];
        const int from = std::stoi(o.from.substr(1));
        const int to = std::stoi(o.to.substr(1));
        a(i, from) = -1;
        a(i, to) = 1;
        // About the true heights, as the free network's approximate heights are given.
        l(i) = o.dh - (n.heights[static_cast<size_t>(to)] - n.heights[static_cast<size_t>(from)]);
        // σ² of 1 mm² a km, or a set-up.
        p(i) = 1.0 / (1e-6 * (weighting == Weighting::SetUps ? *o.setUps : o.lengthKm));
    }
    if (!free) {
        a(rows - 1, 2) = 1;
        l(rows - 1) = 0;
        p(rows - 1) = 1.0 / (0.003 * 0.003);
    }
    std::vector<Eigen::Index> unknown;
    for (Eigen::Index j = 0; j < points; ++j) {
        if (free || j > 1) unknown.push_back(j);
    }
    Eigen::MatrixXd au(rows, static_cast<Eigen::Index>(unknown.size()));
    for (size_t k = 0; k < unknown.size(); ++k) {
        au.col(static_cast<Eigen::Index>(k)) = a.col(unknown[k]);
    }
    const Eigen::MatrixXd normal = au.transpose() * p.asDiagonal() * au;
    Eigen::MatrixXd q;
    if (free) {
        Eigen::VectorXd b = Eigen::VectorXd::Zero(points);
        for (size_t d : datum) b(static_cast<Eigen::Index>(d)) = 1;
        const Eigen::MatrixXd inverse = (normal + b * b.transpose()).inverse();
        const Eigen::VectorXd g = Eigen::VectorXd::Ones(points);
        const Eigen::MatrixXd s =
            Eigen::MatrixXd::Identity(points, points) - g * b.transpose() / b.dot(g);
        q = s * inverse * s.transpose();
    } else {
        q = normal.inverse();
    }
    const Eigen::VectorXd dx = q * au.transpose() * p.asDiagonal() * l;
    DenseResult r;
    r.heights = Eigen::Map<const Eigen::VectorXd>(n.heights.data(), points);
    r.sigma = Eigen::VectorXd::Zero(points);
    for (size_t k = 0; k < unknown.size(); ++k) {
        const auto j = unknown[k];
        r.heights(j) += dx(static_cast<Eigen::Index>(k));
        r.sigma(j) = std::sqrt(q(static_cast<Eigen::Index>(k), static_cast<Eigen::Index>(k)));
    }
    r.residual = au * dx - l;
    const Eigen::MatrixXd qvv =
        Eigen::MatrixXd(p.cwiseInverse().asDiagonal()) - au * q * au.transpose();
    r.redundancy = qvv.diagonal().cwiseProduct(p);
    r.w = r.residual.cwiseQuotient(qvv.diagonal().cwiseSqrt());
    const double lambda0 = Lambda0(0.001, 0.80);
    r.mdb = (lambda0 * r.redundancy.cwiseInverse()).cwiseSqrt().cwiseQuotient(p.cwiseSqrt());
    r.sigmaAdjusted = (au * q * au.transpose()).diagonal().cwiseSqrt();
    // Every height's change for a unit error of each observation, whole.
    const Eigen::MatrixXd effect = q * au.transpose() * p.asDiagonal();
    r.external = effect.cwiseAbs().colwise().maxCoeff().transpose().cwiseProduct(r.mdb);
    return r;
}

void ExpectSameAsDense(const NetworkResult& r, const DenseResult& dense, size_t points) {
    for (size_t j = 0; j < points; ++j) {
        const AdjustedHeight& h = HeightOf(r, Name(j));
        EXPECT_NEAR(h.height, dense.heights(static_cast<Eigen::Index>(j)), 1e-9) << Name(j);
        EXPECT_NEAR(h.sigmaApriori, dense.sigma(static_cast<Eigen::Index>(j)), 1e-9) << Name(j);
    }
    double sum = 0;
    for (size_t i = 0; i < r.observations.size(); ++i) {
        const auto k = static_cast<Eigen::Index>(i);
        EXPECT_NEAR(r.observations[i].residual, dense.residual(k), 1e-9) << i;
        EXPECT_NEAR(r.observations[i].redundancy, dense.redundancy(k), 1e-9) << i;
        const double scale = r.sigma0.value_or(1.0);
        EXPECT_NEAR(r.observations[i].sigmaAdjusted / scale, dense.sigmaAdjusted(k), 1e-9) << i;
        sum += r.observations[i].redundancy;
        if (r.observations[i].redundancy < 0.001) continue;
        ASSERT_TRUE(r.observations[i].w && r.observations[i].mdb) << i;
        EXPECT_NEAR(*r.observations[i].w, dense.w(k), 1e-6) << i;
        EXPECT_NEAR(*r.observations[i].mdb, dense.mdb(k), 1e-9) << i;
        EXPECT_NEAR(*r.observations[i].externalReliability, dense.external(k), 1e-9) << i;
        EXPECT_NEAR(*r.observations[i].estimatedError, -dense.residual(k) / dense.redundancy(k),
                    1e-9)
            << i;
    }
    EXPECT_NEAR(sum, r.redundancy, 1e-8);
}

TEST(NetworkAdjustment, RandomNetworksAsADenseSolveGivesThem) {
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(seed);
        const size_t points = 12 + seed * 7;
        const RandomNetwork n = MakeNetwork(seed, points, points);
        const std::vector<Benchmark> benchmarks = {{Name(0), n.heights[0], std::nullopt},
                                                   {Name(1), n.heights[1], std::nullopt},
                                                   {Name(2), n.heights[2], 3.0}};
        const NetworkResult r = Adjust(n.observations, benchmarks, {}, {});
        ASSERT_EQ(r.observations.size(), n.observations.size() + 1);
        EXPECT_EQ(r.redundancy, static_cast<int>(n.observations.size() + 1 - (points - 2)));
        ExpectSameAsDense(r, DenseAdjust(n, {}), points);
    }
}

TEST(NetworkAdjustment, WeightsBySetUpsAsADenseSolveGivesThem) {
    const size_t points = 20;
    const RandomNetwork n = MakeNetwork(8, points, 25);
    const std::vector<Benchmark> benchmarks = {{Name(0), n.heights[0], std::nullopt},
                                               {Name(1), n.heights[1], std::nullopt},
                                               {Name(2), n.heights[2], 3.0}};
    AdjustmentOptions options;
    options.weighting = Weighting::SetUps;
    const NetworkResult r = Adjust(n.observations, benchmarks, {}, options);
    ExpectSameAsDense(r, DenseAdjust(n, {}, Weighting::SetUps), points);
}

// An observation whose redundancy is below 0.001 has no check: a parallel observation with
// σ² = σ₁² (1/r − 1) gives the first one r.
TEST(NetworkAdjustment, TheNoCheckBound) {
    for (const auto& [r, checked] : {std::pair{0.0011, true}, {0.0009, false}}) {
        SCOPED_TRACE(r);
        const double sigma2 = std::sqrt(1.0 / r - 1.0);
        const std::string csv = "from,to,dh,length_km,sigma_mm\nA,B,1.0,1,1\nA,B,1.001,1," +
                                std::to_string(sigma2) + "\n";
        AdjustmentOptions options;
        options.weighting = Weighting::Sigma;
        const NetworkResult result = Adjust(Csv(csv), {{"A", 0, std::nullopt}}, {}, options);
        EXPECT_NEAR(result.observations[0].redundancy, r, 1e-6);
        EXPECT_EQ(!result.observations[0].noCheck, checked);
        EXPECT_EQ(result.observations[0].w.has_value(), checked);
        EXPECT_EQ(result.observations[0].mdb.has_value(), checked);
    }
}

TEST(NetworkAdjustment, AFreeNetworkIsLaidOverItsDatumPoints) {
    for (unsigned seed : {5u, 6u}) {
        SCOPED_TRACE(seed);
        const size_t points = 15;
        const RandomNetwork n = MakeNetwork(seed, points, 10);
        AdjustmentOptions options;
        for (size_t j = 0; j < points; ++j) options.approx.emplace_back(Name(j), n.heights[j]);
        for (const std::vector<size_t>& datum :
             {std::vector<size_t>{3, 7, 11}, std::vector<size_t>{}}) {
            std::vector<size_t> over = datum;
            options.datum.clear();
            for (size_t d : datum) options.datum.push_back(Name(d));
            if (over.empty()) {
                for (size_t j = 0; j < points; ++j) over.push_back(j);
            }
            const NetworkResult r = Adjust(n.observations, {}, {}, options);
            EXPECT_TRUE(r.freeNetwork);
            EXPECT_EQ(r.redundancy, static_cast<int>(n.observations.size() - (points - 1)));
            ExpectSameAsDense(r, DenseAdjust(n, over), points);
        }
    }
}

/// A grid of levelled legs, 1 km each, with errors uniform within ±0.5 mm (σ 0.29 mm).
std::vector<Observation> GridNetwork(size_t side, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<Observation> legs;
    auto name = [&](size_t row, size_t col) { return Name(row * side + col); };
    auto height = [&](size_t row, size_t col) { return 0.1 * static_cast<double>(row * 3 + col); };
    auto leg = [&](size_t r1, size_t c1, size_t r2, size_t c2) {
        const double error = (static_cast<double>(random() % 1001) - 500.0) / 1e6;
        legs.push_back({name(r1, c1), name(r2, c2), height(r2, c2) - height(r1, c1) + error, 1.0, 4,
                        std::nullopt, "leg " + std::to_string(legs.size() + 1), std::nullopt,
                        std::nullopt, std::nullopt});
    };
    for (size_t r = 0; r < side; ++r) {
        for (size_t c = 0; c < side; ++c) {
            if (c + 1 < side) leg(r, c, r, c + 1);
            if (r + 1 < side) leg(r, c, r + 1, c);
        }
    }
    return legs;
}

TEST(NetworkAdjustment, SnoopingRemovesTheOneBlunderAndNoOther) {
    std::vector<Observation> legs = GridNetwork(5, 11);
    const size_t blunder = 17;
    legs[blunder].dh += 0.012;  // a staff reading 12 mm off
    AdjustmentOptions options;
    options.sigmaKmMm = 0.3;  // the legs' errors, uniform within ±0.5 mm
    const std::vector<Benchmark> fixed = {{Name(0), 0.0, std::nullopt}};

    const NetworkResult before = Adjust(legs, fixed, {}, options);
    EXPECT_EQ(FlagOf(before.observations[blunder], before.criticalW), "outlier");
    EXPECT_FALSE(before.globalTest->passed);
    EXPECT_EQ(before.globalTest->side, "high");

    options.snoop = Snooping::WhileGlobalTestFails;
    const NetworkResult after = Adjust(legs, fixed, {}, options);
    ASSERT_EQ(after.snooping.size(), 1u);
    EXPECT_EQ(after.snooping[0].observation, blunder);
    EXPECT_NEAR(after.snooping[0].error, 0.012, 0.002) << "observed − true, as the blunder was";
    EXPECT_TRUE(after.observations[blunder].removed);
    EXPECT_EQ(after.redundancy, before.redundancy - 1);
    EXPECT_TRUE(after.globalTest->passed);
    // The loops are checked as measured: the blunder's loop stays beyond its limit, marked.
    size_t beyond = 0;
    for (const ClosureCheck& loop : after.loops) {
        if (loop.within) continue;
        ++beyond;
        EXPECT_TRUE(loop.holdsRemoved) << loop.source;
    }
    EXPECT_EQ(Failures(after), std::vector<std::string>{"1 loop beyond its limit"});
    EXPECT_EQ(beyond, 1u);
}

TEST(NetworkAdjustment, TheGlobalTestFailsLowAndHigh) {
    const std::vector<Observation> legs = GridNetwork(4, 3);
    const struct {
        double sigmaKmMm;
        bool passed;
        const char* side;
    } cases[] = {{0.3, true, ""}, {3.0, false, "low"}, {0.03, false, "high"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sigmaKmMm);
        AdjustmentOptions options;
        options.sigmaKmMm = c.sigmaKmMm;
        const NetworkResult r = Adjust(legs, {{Name(0), 0.0, std::nullopt}}, {}, options);
        EXPECT_EQ(r.globalTest->passed, c.passed);
        EXPECT_EQ(r.globalTest->side, c.side);
    }
}

TEST(NetworkAdjustment, AnObservationWithoutCheckIsFlagged) {
    // A spur to S: its one leg has no redundancy, so no w and no MDB.
    const auto observations =
        Csv("from,to,dh,length_km\nA,B,1.0003,1\nB,C,0.5001,1\nC,A,-1.5000,1\nC,S,0.2000,0.5\n");
    const NetworkResult r = Adjust(observations, {{"A", 10, std::nullopt}}, {}, {});
    const AdjustedObservation& spur = r.observations[3];
    EXPECT_TRUE(spur.noCheck);
    EXPECT_FALSE(spur.w);
    EXPECT_FALSE(spur.mdb);
    EXPECT_EQ(FlagOf(spur, r.criticalW), "no check");
    EXPECT_FALSE(r.observations[0].noCheck);
    ASSERT_EQ(r.loops.size(), 1u);
    EXPECT_NEAR(std::abs(r.loops[0].misclosure), 0.0004, 1e-12);
    EXPECT_NEAR(r.loops[0].lengthKm, 3.0, 1e-12);
}

TEST(NetworkAdjustment, SectionsRunTwiceAgainstTheirLimit) {
    // Forward and back over 1 km: 2 mm √1 km allows 2 mm; the second pair differs by 2.5 mm.
    const auto observations =
        Csv("from,to,dh,length_km\nA,B,1.2345,1\nB,A,-1.2330,1\nB,C,0.5000,1\nB,C,0.5025,1\n");
    const NetworkResult r = Adjust(observations, {{"A", 10, std::nullopt}}, {}, {});
    ASSERT_EQ(r.doubleRuns.size(), 2u);
    EXPECT_NEAR(r.doubleRuns[0].misclosure, 0.0015, 1e-12);
    EXPECT_TRUE(r.doubleRuns[0].within);
    EXPECT_NEAR(r.doubleRuns[1].misclosure, -0.0025, 1e-12);
    EXPECT_FALSE(r.doubleRuns[1].within);
    EXPECT_TRUE(r.loops.empty()) << "a section run twice is no loop of the basis";
}

TEST(NetworkAdjustment, BadNetworksSayWhatAndWhere) {
    const struct {
        const char* csv;
        Weighting weighting;
        std::vector<Benchmark> benchmarks;
        const char* says;
    } cases[] = {
        {"from,to,dh,length_km\nA,B,1,0\n",
         Weighting::Length,
         {{"A", 0, std::nullopt}},
         "obs.csv:2: the length is 0 km"},
        {"from,to,dh,length_km\nA,B,1,1\n",
         Weighting::SetUps,
         {{"A", 0, std::nullopt}},
         "obs.csv:2: no set-ups"},
        {"from,to,dh,length_km\nA,B,1,1\nC,D,1,1\nD,E,1,1\n",
         Weighting::Length,
         {{"A", 0, std::nullopt}},
         "no benchmark reaches the part of the network with C, D, E"},
        // A weight 10²⁸ times another's leaves B without a height in doubles.
        {"from,to,dh,length_km,sigma_mm\nA,B,1,1,1e5\nB,C,1,1,1e-9\n",
         Weighting::Sigma,
         {{"A", 0, std::nullopt}},
         "the normal equations are singular"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.csv);
        AdjustmentOptions options;
        options.weighting = c.weighting;
        try {
            Adjust(Csv(c.csv), c.benchmarks, {}, options);
            ADD_FAILURE() << "adjusted";
        } catch (const NetworkError& error) {
            EXPECT_NE(std::string(error.what()).find(c.says), std::string::npos) << error.what();
        }
    }
}

TEST(NetworkInput, ObservationFilesThatDoNotRead) {
    const struct {
        const char* csv;
        const char* says;
    } cases[] = {
        {"from,to,dh\nA,B,1\n", "obs.csv:1: the header row has no column length_km"},
        {"from,to,dh,length_km\n# a note\nA,B,1.2x,1\n", "obs.csv:3: dh \"1.2x\" is no number"},
        {"from,to,dh,length_km\nA,B,1\n", "obs.csv:2: 3 fields where the header has 4"},
        {"from,to,dh,length_km\nA,A,1,1\n", "obs.csv:2: an observation from A to itself"},
        {"from,to,dh,length_km,setups\nA,B,1,1,2.5\n", "obs.csv:2: setups is no count"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.csv);
        try {
            Csv(c.csv);
            ADD_FAILURE() << "read";
        } catch (const NetworkError& error) {
            EXPECT_NE(std::string(error.what()).find(c.says), std::string::npos) << error.what();
        }
    }
}

TEST(NetworkInput, ColumnsInAnyOrderAndBenchmarksGivenTwoWays) {
    const auto o = Csv("sigma_mm, DH ,to,from,length_km\r\n0.8,-0.5,B,A,0.25\r\n");
    ASSERT_EQ(o.size(), 1u);
    EXPECT_EQ(o[0].from, "A");
    EXPECT_EQ(o[0].to, "B");
    EXPECT_EQ(o[0].dh, -0.5);
    EXPECT_EQ(o[0].sigmaMm, 0.8);
    EXPECT_FALSE(o[0].setUps);

    std::istringstream file("name,height,sigma_mm\nBM1,100.5\nBM2,101.25,2\n");
    const auto b = ReadBenchmarks(file, "bm.csv");
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(b[1].name, "BM2");
    EXPECT_EQ(b[1].sigmaMm, 2.0);
    EXPECT_FALSE(b[0].sigmaMm);

    const Benchmark fixed = ParseBenchmark("BM=X=12.5");  // a name may hold '='
    EXPECT_EQ(fixed.name, "BM=X");
    EXPECT_EQ(fixed.height, 12.5);
    EXPECT_EQ(ParseBenchmark("BM1=100:1.5").sigmaMm, 1.5);
    EXPECT_THROW(ParseBenchmark("BM1=100:"), NetworkError);
    EXPECT_THROW(ParseBenchmark("BM1"), NetworkError);
}

// A GSI-16 book of one BF line BM1 – TP1 – J – BM2, with an intermediate sight on BM9 at the
// second set-up, and a second line that turns on points of the same names and closes on BM2.
// Distances in 10⁻⁵ m (word 32), readings in 10⁻⁵ m (331 back, 332 fore, 333 intermediate).
const char* kJunctionBook =
    "*410001+00000000?......1 \r\n"
    "*110002+0000000000000001 271...+      JUNCTION RUN \r\n"
    "*110003+0000000000000BM1 32...8+0000000003000000 331..8+0000000000150000 \r\n"
    "*110004+0000000000000TP1 32...8+0000000003100000 332..8+0000000000120000 \r\n"
    "*110005+0000000000000TP1 32...8+0000000002500000 331..8+0000000000140000 \r\n"
    "*110006+0000000000000BM9 32...8+0000000001200000 333..8+0000000000090000 \r\n"
    "*110007+00000000000000J1 32...8+0000000002600000 332..8+0000000000110000 \r\n"
    "*110008+00000000000000J1 32...8+0000000002000000 331..8+0000000000130000 \r\n"
    "*110009+0000000000000BM2 32...8+0000000002100000 332..8+0000000000160000 \r\n"
    "*410010+00000000?......1 \r\n"
    "*110011+0000000000000002 271...+     RING AT BM2 \r\n"
    "*110012+0000000000000BM2 32...8+0000000004000000 331..8+0000000000100000 \r\n"
    "*110013+0000000000000TP1 32...8+0000000004000000 332..8+0000000000200000 \r\n"
    "*110014+0000000000000TP1 32...8+0000000003500000 331..8+0000000000180000 \r\n"
    "*110015+0000000000000BM2 32...8+0000000003500000 332..8+0000000000080030 \r\n";

NetworkInput ReadJunctionBook(const std::set<std::string, std::less<>>& points) {
    std::istringstream in(kJunctionBook);
    const rendle::readers::LineDecoder decoder;
    rendle::readers::Book book;
    std::string error;
    EXPECT_TRUE(rendle::readers::LoadBook(in, std::nullopt, decoder, book, error)) << error;
    NetworkInput input;
    AddBook(
        book, "junction.gsi", decoder, [&](std::string_view name) { return points.contains(name); },
        input);
    return input;
}

TEST(NetworkInput, ALineIsCutAtItsNetworkPointsOnly) {
    const struct {
        std::set<std::string, std::less<>> points;
        std::vector<std::tuple<std::string, std::string, double, double, int>> sections;
    } cases[] = {
        // TP1 is a turning point of both lines: it joins nothing.
        {{}, {{"BM1", "BM2", 0.3, 0.153, 3}}},
        {{"J1"}, {{"BM1", "J1", 0.6, 0.112, 2}, {"J1", "BM2", -0.3, 0.041, 1}}},
        // A benchmark read as an intermediate sight cuts its set-up: the sights on either side
        // of it belong to the two sections.
        {{"J1", "BM9"},
         {{"BM1", "BM9", 0.8, 0.098, 2},
          {"BM9", "J1", -0.2, 0.038, 1},
          {"J1", "BM2", -0.3, 0.041, 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sections.size());
        const NetworkInput input = ReadJunctionBook(c.points);
        ASSERT_EQ(input.observations.size(), c.sections.size());
        for (size_t i = 0; i < c.sections.size(); ++i) {
            const auto& [from, to, dh, km, setUps] = c.sections[i];
            const Observation& o = input.observations[i];
            EXPECT_EQ(o.from, from);
            EXPECT_EQ(o.to, to);
            EXPECT_NEAR(o.dh, dh, 1e-9);
            EXPECT_NEAR(o.lengthKm, km, 1e-9);
            EXPECT_EQ(o.setUps, setUps);
        }
        // The second line leaves BM2 and comes back to it: a loop of its own, 0.3 mm open.
        ASSERT_EQ(input.lineLoops.size(), 1u);
        EXPECT_EQ(input.lineLoops[0].point, "BM2");
        EXPECT_NEAR(input.lineLoops[0].misclosure, -0.0003, 1e-9);
        EXPECT_NEAR(input.lineLoops[0].lengthKm, 0.150, 1e-9);
        EXPECT_EQ(input.lineLoops[0].source.rfind("junction.gsi run 2", 0), 0u);
    }
}

}  // namespace

namespace {

/// Observations of `csv` with the levelling line each was cut from, as field books give them.
std::vector<Observation> OfLines(const std::string& csv, const std::vector<size_t>& lines) {
    std::vector<Observation> observations = Csv(csv);
    for (size_t i = 0; i < observations.size() && i < lines.size(); ++i) {
        observations[i].line = lines[i];
    }
    return observations;
}

}  // namespace

// Misclosures are judged in mm to the hundredth, as printed: a figure that prints as its limit
// is within it. Triangle loops of 4 km (limit 4.00 mm) and lines of 2 km between two benchmarks
// (limit 2 √2 = 2.83 mm).
TEST(NetworkChecks, MisclosuresAtTheirLimits) {
    const struct {
        const char* name;
        double misclosureMm;
        bool within;
    } loops[] = {{"at", 4.00, true}, {"a hundredth over", 4.01, false}, {"under", 3.99, true}};
    for (const auto& c : loops) {
        SCOPED_TRACE(c.name);
        const std::string csv = "from,to,dh,length_km\nA,B,1.0,1\nB,C,1.0,1.5\nC,A," +
                                std::to_string(-2.0 + c.misclosureMm / 1000) + ",1.5\n";
        const NetworkResult r = Adjust(Csv(csv), {{"A", 100, std::nullopt}}, {}, {});
        ASSERT_EQ(r.loops.size(), 1u);
        EXPECT_NEAR(std::fabs(r.loops[0].misclosure), c.misclosureMm / 1000, 1e-12);
        EXPECT_NEAR(r.loops[0].limit, 0.004, 1e-15);
        EXPECT_EQ(r.loops[0].within, c.within);
    }
    const struct {
        const char* name;
        const char* dh;
        bool within;
    } lines[] = {{"at 2.83", "2.00283", true},
                 {"a hundredth over", "2.00284", false},
                 {"under", "2.00282", true},
                 {"50 mm too much", "2.05", false}};
    for (const auto& c : lines) {
        SCOPED_TRACE(c.name);
        const std::string csv =
            std::string("from,to,dh,length_km\nA,B,1.0,1\nB,C,") + c.dh + ",1\n";
        const NetworkResult r =
            Adjust(Csv(csv), {{"A", 100, std::nullopt}, {"C", 103, std::nullopt}}, {}, {});
        ASSERT_EQ(r.benchmarkLines.size(), 1u);
        const ClosureCheck& line = r.benchmarkLines[0];
        EXPECT_EQ(line.points, (std::vector<std::string>{"A", "B", "C"}));
        EXPECT_NEAR(line.misclosure, std::stod(c.dh) - 2.0, 1e-12) << "observed − known";
        EXPECT_NEAR(line.limit, 0.002 * std::sqrt(2.0), 1e-15);
        EXPECT_NEAR(line.lengthKm, 2.0, 1e-15);
        EXPECT_EQ(line.within, c.within);
        EXPECT_EQ(AllPassed(r) || !c.within, true);
        EXPECT_EQ(line.source, "obs.csv:2; obs.csv:3");
    }
}

TEST(NetworkChecks, LinesBetweenBenchmarks) {
    // A line of two sections through junction J, which a third line joins: no chain, but the
    // line's own ends are held. The chain from C through D to E joins nothing else.
    const std::vector<Observation> observations = OfLines(
        "from,to,dh,length_km\nA,J,1.0,1\nJ,C,2.004,1\nJ,E,0.5,1\nC,D,1,0.5\nD,E,-2.5,0.5\n",
        {1, 1, 2, 3, 3});
    const std::vector<Benchmark> held = {
        {"A", 100, std::nullopt}, {"C", 103, std::nullopt}, {"E", 101.5, 2.0}};
    const NetworkResult r = Adjust(observations, held, {}, {});
    std::map<std::string, const ClosureCheck*> byEnds;
    for (const ClosureCheck& c : r.benchmarkLines) byEnds[c.points.front() + c.points.back()] = &c;
    ASSERT_EQ(r.benchmarkLines.size(), 2u);
    ASSERT_TRUE(byEnds.count("AC"));
    EXPECT_NEAR(byEnds["AC"]->misclosure, 0.004, 1e-12);
    EXPECT_NEAR(byEnds["AC"]->limit, 0.002 * std::sqrt(2.0), 1e-15);
    EXPECT_FALSE(byEnds["AC"]->within);
    ASSERT_TRUE(byEnds.count("CE"));
    EXPECT_EQ(byEnds["CE"]->points, (std::vector<std::string>{"C", "D", "E"}));
    EXPECT_NEAR(byEnds["CE"]->misclosure, 0.0, 1e-12);
    // A weighted benchmark widens the limit by twice its σ: √(2² × 1 + (2 × 2)²) mm.
    EXPECT_NEAR(byEnds["CE"]->limit, std::sqrt(0.002 * 0.002 + 0.004 * 0.004), 1e-15);
    const std::vector<std::string> failures = Failures(r);
    EXPECT_NE(
        std::find(failures.begin(), failures.end(), "1 line between benchmarks beyond its limit"),
        failures.end());
}

TEST(NetworkChecks, SectionsRunTwiceOnlyOfOtherLinesAndAgreeingLengths) {
    const struct {
        const char* name;
        double secondKm;
        std::vector<size_t> lines;
        bool runTwice;
    } cases[] = {
        {"the shorter 80 % of the longer", 0.8, {1, 2}, true},
        {"just under 80 %", 0.79, {1, 2}, false},
        {"0.05 km beside 1 km", 0.05, {1, 2}, false},
        {"rows of a file", 1.0, {}, true},
        {"one line there and back", 1.0, {1, 1}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string csv =
            "from,to,dh,length_km\nA,B,1.0,1\nB,A,-0.997," + std::to_string(c.secondKm) + "\n";
        const NetworkResult r = Adjust(OfLines(csv, c.lines), {{"A", 0, std::nullopt}}, {}, {});
        if (c.runTwice) {
            ASSERT_EQ(r.doubleRuns.size(), 1u);
            EXPECT_TRUE(r.loops.empty());
            EXPECT_NEAR(r.doubleRuns[0].lengthKm, (1.0 + c.secondKm) / 2, 1e-12);
        } else {
            EXPECT_TRUE(r.doubleRuns.empty());
            ASSERT_EQ(r.loops.size(), 1u) << "the two routes form a loop";
            EXPECT_NEAR(r.loops[0].lengthKm, 1.0 + c.secondKm, 1e-12) << "K the sum";
            EXPECT_NEAR(std::fabs(r.loops[0].misclosure), 0.003, 1e-12);
        }
    }
}

TEST(NetworkChecks, AClassWithoutAFigureTakesTheNearestKind) {
    const rendle::core::ToleranceClass* noLoop = rendle::core::FindToleranceClass("icsm-l2a");
    ASSERT_TRUE(noLoop && !noLoop->loopMm && noLoop->lineMm);
    const MiscloseLimits limits = LimitsOfClass(noLoop);
    EXPECT_EQ(limits.loopMm, *noLoop->lineMm);
    EXPECT_NE(limits.words.find("the class sets no loop figure: its line figure, 2 mm x sqrt(K)"),
              std::string::npos)
        << limits.words;
    const MiscloseLimits both = LimitsOfClass(rendle::core::FindToleranceClass("fgcs-1-1"));
    EXPECT_EQ(both.loopMm, 4.0);
    EXPECT_EQ(both.benchmarkLineMm, 3.0);
    EXPECT_EQ(both.words.find("sets no"), std::string::npos);

    // A −20 mm loop over 5 km is beyond the class's figure, never "limit none".
    AdjustmentOptions options;
    options.limits = limits;
    const NetworkResult r = Adjust(Csv("from,to,dh,length_km\nA,B,1.0,2\nB,C,1.0,1.5\n"
                                       "C,A,-2.02,1.5\n"),
                                   {{"A", 100, std::nullopt}}, {}, options);
    ASSERT_EQ(r.loops.size(), 1u);
    EXPECT_NEAR(r.loops[0].limit, 0.002 * std::sqrt(5.0), 1e-15);
    EXPECT_FALSE(r.loops[0].within);
}

TEST(NetworkChecks, ValuesPastPlausibilityNameTheirLine) {
    const struct {
        const char* csv;
        const char* says;
    } cases[] = {
        {"from,to,dh,length_km\nA,B,1e300,1\n", "obs.csv:2: a height difference of"},
        {"from,to,dh,length_km\nA,B,10000.001,1\n", "obs.csv:2: a height difference of"},
        {"from,to,dh,length_km\nA,B,1,-1\n", "obs.csv:2: a length of -1 km"},
        {"from,to,dh,length_km\nA,B,1,10000.5\n", "obs.csv:2: a length of 10000.5 km"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.csv);
        try {
            Adjust(Csv(c.csv), {{"A", 0, std::nullopt}}, {}, {});
            ADD_FAILURE() << "adjusted";
        } catch (const NetworkError& error) {
            EXPECT_NE(std::string(error.what()).find(c.says), std::string::npos) << error.what();
        }
    }
    // At the bounds themselves the values are read.
    EXPECT_NO_THROW(
        Adjust(Csv("from,to,dh,length_km\nA,B,10000,10000\n"), {{"A", 0, std::nullopt}}, {}, {}));
    EXPECT_THROW(
        Adjust(Csv("from,to,dh,length_km\nA,B,1,1\n"), {{"A", 100000.5, std::nullopt}}, {}, {}),
        NetworkError);
    std::istringstream sigmaZero("from,to,dh,length_km,sigma_mm\nA,B,1,1,0\n");
    EXPECT_THROW(ReadObservations(sigmaZero, "obs.csv"), NetworkError);
}

/// Snooping done the long way: adjusted from scratch after each removal, each removal with
/// its w.
std::vector<std::pair<size_t, double>> SnoopFromScratch(std::vector<Observation> legs,
                                                        const std::vector<Benchmark>& held,
                                                        AdjustmentOptions options) {
    std::vector<size_t> index(legs.size());
    std::iota(index.begin(), index.end(), 0);
    std::vector<std::pair<size_t, double>> removed;
    while (true) {
        const NetworkResult r = Adjust(legs, held, {}, options);
        size_t worst = legs.size();
        double largest = r.criticalW;
        for (size_t k = 0; k < legs.size(); ++k) {
            if (r.observations[k].w && !r.observations[k].noCheck &&
                std::fabs(*r.observations[k].w) > largest) {
                largest = std::fabs(*r.observations[k].w);
                worst = k;
            }
        }
        if (worst == legs.size()) return removed;
        removed.emplace_back(index[worst], *r.observations[worst].w);
        legs.erase(legs.begin() + static_cast<std::ptrdiff_t>(worst));
        index.erase(index.begin() + static_cast<std::ptrdiff_t>(worst));
    }
}

TEST(NetworkSnooping, OneFactorizationRemovesWhatAdjustingAgainRemoves) {
    std::vector<Observation> legs = GridNetwork(6, 5);
    const std::vector<Benchmark> fixed = {{Name(0), 0.0, std::nullopt}};
    for (const auto& [leg, mm] : {std::pair{7, 9.0}, {23, -15.0}, {40, 6.5}, {51, 11.0}}) {
        legs[static_cast<size_t>(leg)].dh += mm / 1000;
    }
    AdjustmentOptions options;
    options.sigmaKmMm = 0.3;
    const std::vector<std::pair<size_t, double>> expected = SnoopFromScratch(legs, fixed, options);
    ASSERT_GE(expected.size(), 3u);
    options.snoop = Snooping::Always;
    const NetworkResult r = Adjust(legs, fixed, {}, options);
    ASSERT_EQ(r.snooping.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(r.snooping[i].observation, expected[i].first) << i;
        EXPECT_NEAR(r.snooping[i].w, expected[i].second, 1e-8) << i;
    }
    EXPECT_TRUE(r.inseparable.empty());
    // The last adjustment is made afresh: its figures are those of the network without them.
    std::vector<Observation> kept;
    for (size_t k = 0; k < legs.size(); ++k) {
        const auto at = std::find_if(expected.begin(), expected.end(),
                                     [k](const auto& e) { return e.first == k; });
        if (at == expected.end()) kept.push_back(legs[k]);
    }
    options.snoop = Snooping::Off;
    const NetworkResult fresh = Adjust(kept, fixed, {}, options);
    EXPECT_NEAR(r.vtpv, fresh.vtpv, 1e-9);
    EXPECT_EQ(r.redundancy, fresh.redundancy);
}

// A blunder of 15 mm and a slip of 1.8 mm: once the blunder is out the global test passes, and
// snooping stops there with the slip still flagged; "always" takes the slip out too.
TEST(NetworkSnooping, WhileTheGlobalTestFailsAndAlways) {
    std::vector<Observation> legs = GridNetwork(6, 5);
    legs[7].dh += 0.015;
    legs[23].dh += 0.0018;
    const std::vector<Benchmark> fixed = {{Name(0), 0.0, std::nullopt}};
    AdjustmentOptions options;
    options.sigmaKmMm = 0.35;
    options.snoop = Snooping::WhileGlobalTestFails;
    const NetworkResult whileFails = Adjust(legs, fixed, {}, options);
    ASSERT_EQ(whileFails.snooping.size(), 1u);
    EXPECT_EQ(whileFails.snooping[0].observation, 7u);
    EXPECT_TRUE(whileFails.globalTest->passed);
    EXPECT_EQ(whileFails.snoopingNote,
              "the global test passes after these removals: no more removed");
    EXPECT_EQ(FlagOf(whileFails.observations[23], whileFails.criticalW), "outlier");
    options.snoop = Snooping::Always;
    const NetworkResult always = Adjust(legs, fixed, {}, options);
    ASSERT_EQ(always.snooping.size(), 2u);
    EXPECT_EQ(always.snooping[1].observation, 23u);
}

TEST(NetworkSnooping, NothingRemovedWhileTheGlobalTestPassesOrWhereTestsCannotBeToldApart) {
    // A clean grid: the global test passes, and --snoop removes nothing.
    AdjustmentOptions options;
    options.sigmaKmMm = 0.3;
    options.snoop = Snooping::WhileGlobalTestFails;
    const std::vector<Benchmark> fixed = {{Name(0), 0.0, std::nullopt}};
    const NetworkResult clean = Adjust(GridNetwork(6, 9), fixed, {}, options);
    ASSERT_TRUE(clean.globalTest->passed);
    EXPECT_TRUE(clean.snooping.empty());
    EXPECT_EQ(clean.snoopingNote, "the global test passes: no observation removed");

    // Point S hangs on two sections only: a blunder in either gives both one |w|.
    std::vector<Observation> legs = GridNetwork(4, 2);
    legs.push_back({Name(0), "S", 0.5 + 0.02, 1.0, 4, std::nullopt, "to S", std::nullopt,
                    std::nullopt, std::nullopt});
    // P5 of the grid stands at 0.4 m.
    legs.push_back({"S", Name(5), -0.1, 1.0, 4, std::nullopt, "from S", std::nullopt, std::nullopt,
                    std::nullopt});
    const NetworkResult spur = Adjust(legs, fixed, {}, options);
    EXPECT_TRUE(spur.snooping.empty()) << "neither removed";
    EXPECT_EQ(spur.inseparable.size(), 2u);
    std::set<std::string> named;
    for (size_t k : spur.inseparable) named.insert(spur.observations[k].observation.source);
    EXPECT_EQ(named, (std::set<std::string>{"to S", "from S"}));
    EXPECT_FALSE(AllPassed(spur));

    // Tests correlated at 0.993 whose |w| differ by 2 %: S between two benchmarks, and a weak
    // third observation of S that tips the two apart. Neither is removed.
    AdjustmentOptions bySigma = options;
    bySigma.weighting = Weighting::Sigma;
    const NetworkResult tipped =
        Adjust(Csv("from,to,dh,length_km,sigma_mm\nA,S,1.020,1,1\nS,C,-1.000,1,1\n"
                   "A,S,1.040,1,12\n"),
               {{"A", 100, std::nullopt}, {"C", 100, std::nullopt}}, {}, bySigma);
    ASSERT_TRUE(tipped.observations[0].w && tipped.observations[1].w);
    EXPECT_GT(std::fabs(*tipped.observations[1].w), 1.015 * std::fabs(*tipped.observations[0].w));
    EXPECT_TRUE(tipped.snooping.empty());
    EXPECT_EQ(tipped.inseparable, (std::vector<size_t>{1, 0}));

    // A single loop: every w alike; its misclosure stays beyond its limit.
    const NetworkResult loop = Adjust(Csv("from,to,dh,length_km\nA,B,1.0,1\nB,C,1.0,1.5\n"
                                          "C,A,-1.95,1.5\n"),
                                      {{"A", 100, std::nullopt}}, {}, options);
    EXPECT_TRUE(loop.snooping.empty());
    EXPECT_EQ(loop.inseparable.size(), 3u);
    ASSERT_EQ(loop.loops.size(), 1u);
    EXPECT_FALSE(loop.loops[0].within);
    const std::vector<std::string> failures = Failures(loop);
    EXPECT_NE(std::find(failures.begin(), failures.end(), "1 loop beyond its limit"),
              failures.end());
}

TEST(NetworkReport, TheWorkbookHoldsASheetsRealRows) {
    // A heading row, then a row each: 1,048,575 of them in a sheet of 1,048,576 rows.
    EXPECT_NO_THROW(CheckWorkbookRows(1'048'575, 1'048'575));
    EXPECT_NO_THROW(CheckWorkbookRows(65'536, 70'000)) << "past the old grid's 65,536 rows";
    EXPECT_THROW(CheckWorkbookRows(1'048'576, 0), NetworkError);
    EXPECT_THROW(CheckWorkbookRows(0, 1'048'576), NetworkError);
}

namespace {

/// Relative agreement of two figures of the two solvers.
void ExpectClose(double sparse, double dense, double scale, const std::string& what) {
    EXPECT_NEAR(sparse, dense, 1e-9 * std::max(1.0, std::fabs(scale))) << what;
}

void ExpectClose(const std::optional<double>& sparse, const std::optional<double>& dense,
                 const std::string& what) {
    ASSERT_EQ(sparse.has_value(), dense.has_value()) << what;
    if (sparse) ExpectClose(*sparse, *dense, *dense, what);
}

/// Adjusts by both solvers and holds every figure of one against the other's: heights, their σ,
/// each observation's residual, r, w, MDB, σ of its adjusted value and external reliability,
/// and what snooping removed.
NetworkResult AdjustByBoth(const std::vector<Observation>& observations,
                           const std::vector<Benchmark>& benchmarks, AdjustmentOptions options) {
    options.solver = SolverKind::Sparse;
    const NetworkResult sparse = Adjust(observations, benchmarks, {}, options);
    options.solver = SolverKind::Dense;
    const NetworkResult dense = Adjust(observations, benchmarks, {}, options);
    EXPECT_EQ(sparse.redundancy, dense.redundancy);
    ExpectClose(sparse.vtpv, dense.vtpv, dense.vtpv, "vtpv");
    EXPECT_EQ(sparse.heights.size(), dense.heights.size());
    for (size_t p = 0; p < std::min(sparse.heights.size(), dense.heights.size()); ++p) {
        const AdjustedHeight& a = sparse.heights[p];
        const AdjustedHeight& b = dense.heights[p];
        EXPECT_EQ(a.point, b.point);
        ExpectClose(a.height, b.height, 1.0, "height of " + a.point);
        ExpectClose(a.sigmaApriori, b.sigmaApriori, b.sigmaApriori, "sigma of " + a.point);
        ExpectClose(a.sigma, b.sigma, b.sigma, "scaled sigma of " + a.point);
    }
    EXPECT_EQ(sparse.observations.size(), dense.observations.size());
    for (size_t k = 0; k < std::min(sparse.observations.size(), dense.observations.size()); ++k) {
        const AdjustedObservation& a = sparse.observations[k];
        const AdjustedObservation& b = dense.observations[k];
        const std::string what = "observation " + std::to_string(k + 1);
        ExpectClose(a.residual, b.residual, 1.0, what + " v");
        ExpectClose(a.redundancy, b.redundancy, 1.0, what + " r");
        EXPECT_EQ(a.noCheck, b.noCheck) << what;
        EXPECT_EQ(a.removed, b.removed) << what;
        ExpectClose(a.w, b.w, what + " w");
        ExpectClose(a.mdb, b.mdb, what + " MDB");
        ExpectClose(a.sigmaAdjusted, b.sigmaAdjusted, b.sigmaAdjusted, what + " sigma");
        ExpectClose(a.externalReliability, b.externalReliability, what + " external");
    }
    EXPECT_EQ(sparse.snooping.size(), dense.snooping.size());
    for (size_t i = 0; i < std::min(sparse.snooping.size(), dense.snooping.size()); ++i) {
        EXPECT_EQ(sparse.snooping[i].observation, dense.snooping[i].observation);
    }
    return sparse;
}

}  // namespace

// Every network the tests above adjust, and networks that are hard on a solver, adjusted by the
// sparse solver and by the dense one: the two agree figure by figure.
TEST(NetworkSolvers, AgreeOnThePublishedNetworks) {
    AdjustmentOptions bySigma;
    bySigma.weighting = Weighting::Sigma;
    const NetworkResult gama =
        AdjustByBoth(Csv("from,to,dh,length_km,sigma_mm\n1a,4,-1.22500,1,5\n4,3,-0.84800,1,5\n"
                         "3,2,1.34200,1,5\n2,1a,0.72000,1,5\n1a,2,-0.72400,1,5\n2,3,-1.33500,1,5\n"
                         "3,4,0.84200,1,5\n4,1a,1.23100,1,5\n"),
                     {{"1a", 1000.0, std::nullopt}}, bySigma);
    EXPECT_NEAR(HeightOf(gama, "3").height, 997.93325, 0.000005);
    AdjustmentOptions byLength;
    byLength.sigmaKmMm = 6.0;
    const NetworkResult strang = AdjustByBoth(
        Csv("from,to,dh,length_km\nA,E,0.7320,0.970\nA,F,1.9780,1.002\nB,E,0.4200,1.070\n"
            "C,F,0.9880,1.110\nE,F,1.2580,0.890\n"),
        {{"A", 10.0210, std::nullopt}, {"B", 10.3210, std::nullopt}, {"C", 11.0020, std::nullopt}},
        byLength);
    EXPECT_NEAR(strang.vtpv, 4.636, 0.0005);
}

TEST(NetworkSolvers, AgreeOnRandomFreeAndSnoopedNetworks) {
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        const size_t points = 10 + seed * 9;
        const RandomNetwork n = MakeNetwork(seed, points, points);
        AdjustByBoth(n.observations,
                     {{Name(0), n.heights[0], std::nullopt}, {Name(2), n.heights[2], 3.0}}, {});
        AdjustmentOptions bySetUps;
        bySetUps.weighting = Weighting::SetUps;
        AdjustByBoth(n.observations, {{Name(1), n.heights[1], std::nullopt}}, bySetUps);
        AdjustmentOptions free;
        free.datum = {Name(3), Name(5)};
        AdjustByBoth(n.observations, {}, free);
    }
    std::vector<Observation> legs = GridNetwork(5, 11);
    legs[7].dh += 0.02;  // a blunder of 20 mm
    AdjustmentOptions snoop;
    snoop.snoop = Snooping::Always;
    const NetworkResult r = AdjustByBoth(legs, {{Name(0), 0.0, std::nullopt}}, snoop);
    ASSERT_FALSE(r.snooping.empty());
    EXPECT_EQ(r.snooping.front().observation, 7u);
}

TEST(NetworkSolvers, AgreeOnIllConditionedNetworks) {
    AdjustmentOptions bySigma;
    bySigma.weighting = Weighting::Sigma;
    // Weights 10¹² apart: a 0.001 mm leg beside a 1 m one between the same points.
    AdjustByBoth(Csv("from,to,dh,length_km,sigma_mm\nA,B,1.0,1,0.001\nA,B,1.003,1,1000\n"
                     "B,C,0.5,1,1\nC,A,-1.5021,1,1\n"),
                 {{"A", 10, std::nullopt}}, bySigma);
    // A chain of 300 legs hanging from one benchmark, closed far away on a weighted one.
    std::ostringstream chain;
    chain << "from,to,dh,length_km\n";
    for (int i = 0; i < 300; ++i) {
        chain << "C" << i << ",C" << i + 1 << "," << (i % 7 - 3) * 0.1013 << ",1.5\n";
    }
    AdjustByBoth(Csv(chain.str()), {{"C0", 100.0, std::nullopt}, {"C300", 100.0 + 0.0, 50.0}}, {});
    // Legs of a metre beside legs of 5000 km, held only by a benchmark weighted at 1 m.
    AdjustByBoth(Csv("from,to,dh,length_km\nP,Q,1.0,0.001\nQ,R,1.0,5000\nR,P,-2.0004,0.001\n"),
                 {{"P", 0.0, 1000.0}}, {});
}

TEST(NetworkSolvers, ASingularSystemNamesItsPoints) {
    // A weight 10²⁸ times another's leaves B without a height in doubles, whichever solver.
    AdjustmentOptions options;
    options.weighting = Weighting::Sigma;
    for (const SolverKind kind : {SolverKind::Sparse, SolverKind::Dense}) {
        options.solver = kind;
        try {
            Adjust(Csv("from,to,dh,length_km,sigma_mm\nA,B,1,1,1e5\nB,C,1,1,1e-9\n"),
                   {{"A", 0, std::nullopt}}, {}, options);
            ADD_FAILURE() << "adjusted";
        } catch (const NetworkError& error) {
            const std::string what = error.what();
            EXPECT_NE(what.find("the normal equations are singular"), std::string::npos) << what;
            // B and C, held together a hair apart, hang from A on a weight of nothing: the
            // height they lack is named at one of them.
            EXPECT_TRUE(what.ends_with("(B)") || what.ends_with("(C)")) << what;
        }
    }
}

// A point named in a wide script lines the heights table up by the columns it takes on a
// terminal, as the level report does.
TEST(NetworkReport, PointNamesLineUpByTheirColumns) {
    const std::string wide = "\xE6\xB0\xB4\xE5\x87\x86\xE7\x82\xB9";  // 水准点, six columns
    const NetworkResult r = Adjust(
        Csv("from,to,dh,length_km\nA," + wide + ",1.0,1\n" + wide + ",B,1.0,1\nB,A,-2.001,1\n"),
        {{"A", 10, std::nullopt}}, {}, {});
    std::ostringstream out;
    WriteTextReport(r, {}, out);
    std::istringstream lines(out.str());
    std::string line;
    std::vector<size_t> heightColumn;  // where the SD (0.47 mm for both) stands, in columns
    bool inHeights = false;
    while (std::getline(lines, line)) {
        if (line.starts_with("  POINT")) inHeights = true;
        if (line.empty()) inHeights = false;
        const size_t at = line.find("  0.47");
        if (inHeights && at != std::string::npos &&
            (line.starts_with("  " + wide + " ") || line.starts_with("  B "))) {
            heightColumn.push_back(rendle::grid::DisplayWidth(line.substr(0, at)));
        }
    }
    ASSERT_EQ(heightColumn.size(), 2u) << out.str();
    EXPECT_EQ(heightColumn[0], heightColumn[1]) << out.str();
}

namespace {

// A network with a block of three correlated height differences (a recorder's line booked as
// one block, its covariances from the instrument) among independent ones, held at A.
struct CorrelatedCase {
    std::vector<Observation> observations;
    CorrelatedBlock block;
};

CorrelatedCase CorrelatedNetwork(double blunderMm) {
    CorrelatedCase c;
    c.observations =
        Csv("from,to,dh,length_km,sigma_mm\n"
            "A,B,1.0004,1,1\nB,C,0.4997,1,1\nC,D,-0.3006,1,1\n"
            "D,A,-1.2004,1,2\nA,C,1.5006,1,1.5\nB,D,0.2003,1,1.2\nA,D,1.1997,1,1.5\n"
            "C,B,-0.4996,1,1\n");
    c.observations[1].dh += blunderMm / 1000.0;
    c.block.observations = {0, 1, 2};
    c.block.covarianceMm2 = {{1.0, 0.4, 0.1}, {0.4, 1.2, 0.3}, {0.1, 0.3, 0.9}};
    return c;
}

/// The same adjustment worked out densely, from its textbook form: x = (Aᵀ C⁻¹ A)⁻¹ Aᵀ C⁻¹ l,
/// v = A x − l, Q_vv = C − A Q Aᵀ, with the rows in `left` out (and their covariances).
struct DenseGls {
    Eigen::VectorXd heights;  // B, C, D
    Eigen::VectorXd sigma;    // of the heights, a priori, m
    Eigen::VectorXd v, r, w, mdb;
    Eigen::VectorXd external;  // the largest change in a height an MDB-sized error makes
    double vtpv = 0;
    std::vector<size_t> rows;
};

DenseGls SolveDensely(const CorrelatedCase& c, const std::set<size_t>& left, double lambda0) {
    const std::map<std::string, int> unknown{{"B", 0}, {"C", 1}, {"D", 2}};
    DenseGls g;
    for (size_t k = 0; k < c.observations.size(); ++k) {
        if (!left.contains(k)) g.rows.push_back(k);
    }
    const auto n = static_cast<Eigen::Index>(g.rows.size());
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(n, 3);
    Eigen::MatrixXd cov = Eigen::MatrixXd::Zero(n, n);
    Eigen::VectorXd l(n);
    for (Eigen::Index i = 0; i < n; ++i) {
        const Observation& o = c.observations[g.rows[static_cast<size_t>(i)]];
        // dh = h(to) − h(from), A held at 100 m: what is known goes over to l.
        l[i] = o.dh - (o.to == "A" ? 100.0 : 0.0) + (o.from == "A" ? 100.0 : 0.0);
        if (o.to != "A") a(i, unknown.at(o.to)) = 1;
        if (o.from != "A") a(i, unknown.at(o.from)) = -1;
        cov(i, i) = *o.sigmaMm * *o.sigmaMm / 1e6;
    }
    for (Eigen::Index i = 0; i < n; ++i) {
        for (Eigen::Index j = 0; j < n; ++j) {
            const size_t ki = g.rows[static_cast<size_t>(i)];
            const size_t kj = g.rows[static_cast<size_t>(j)];
            if (ki < 3 && kj < 3) cov(i, j) = c.block.covarianceMm2[ki][kj] / 1e6;
        }
    }
    const Eigen::MatrixXd p = cov.inverse();
    const Eigen::MatrixXd q = (a.transpose() * p * a).inverse();
    g.heights = q * a.transpose() * p * l;
    g.sigma = q.diagonal().cwiseSqrt();
    g.v = a * g.heights - l;
    const Eigen::MatrixXd qvv = cov - a * q * a.transpose();
    const Eigen::MatrixXd pqvvp = p * qvv * p;
    g.r = (qvv * p).diagonal();
    g.w = (p * g.v).cwiseQuotient(pqvvp.diagonal().cwiseSqrt());
    g.mdb = (lambda0 * pqvvp.diagonal().cwiseInverse()).cwiseSqrt();
    const Eigen::MatrixXd moved = q * a.transpose() * p;  // heights per unit error of each row
    g.external = moved.cwiseAbs().colwise().maxCoeff().transpose().cwiseProduct(g.mdb);
    g.vtpv = g.v.dot(p * g.v);
    return g;
}

}  // namespace

// The adjustment of a network with a correlated block agrees with the dense generalized least
// squares of the same observations, figure by figure, with either solver; and the block's
// covariances matter: taken as independent, the heights come out otherwise.
TEST(CorrelatedObservations, AsTheDenseGeneralizedLeastSquaresGivesThem) {
    const CorrelatedCase c = CorrelatedNetwork(0);
    const double lambda0 = Lambda0(0.001, 0.80);
    const DenseGls dense = SolveDensely(c, {}, lambda0);
    for (const SolverKind kind : {SolverKind::Sparse, SolverKind::Dense}) {
        SCOPED_TRACE(kind == SolverKind::Sparse ? "sparse" : "dense");
        AdjustmentOptions options;
        options.weighting = Weighting::Sigma;
        options.solver = kind;
        options.correlated = {c.block};
        const NetworkResult r = Adjust(c.observations, {{"A", 100.0, std::nullopt}}, {}, options);
        EXPECT_EQ(r.redundancy, 5);
        EXPECT_NEAR(r.vtpv, dense.vtpv, 1e-9 * dense.vtpv);
        int i = 0;
        for (const char* point : {"B", "C", "D"}) {
            EXPECT_NEAR(HeightOf(r, point).height, dense.heights[i], 1e-12) << point;
            EXPECT_NEAR(HeightOf(r, point).sigmaApriori, dense.sigma[i], 1e-12) << point;
            ++i;
        }
        for (size_t k = 0; k < c.observations.size(); ++k) {
            const AdjustedObservation& o = r.observations[k];
            const auto at = static_cast<Eigen::Index>(k);
            EXPECT_NEAR(o.residual, dense.v[at], 1e-12) << k;
            EXPECT_NEAR(o.redundancy, dense.r[at], 1e-9) << k;
            ASSERT_TRUE(o.w && o.mdb) << k;
            EXPECT_NEAR(*o.w, dense.w[at], 1e-7) << k;
            EXPECT_NEAR(*o.mdb, dense.mdb[at], 1e-9) << k;
            ASSERT_TRUE(o.externalReliability) << k;
            EXPECT_NEAR(*o.externalReliability, dense.external[at], 1e-9) << k;
        }
        // The redundancy numbers still sum to the degrees of freedom.
        double sum = 0;
        for (const AdjustedObservation& o : r.observations) sum += o.redundancy;
        EXPECT_NEAR(sum, 5.0, 1e-9);
    }
    AdjustmentOptions independent;
    independent.weighting = Weighting::Sigma;
    std::vector<Observation> alone = c.observations;
    for (size_t k = 0; k < 3; ++k) alone[k].sigmaMm = std::sqrt(c.block.covarianceMm2[k][k]);
    const NetworkResult r = Adjust(alone, {{"A", 100.0, std::nullopt}}, {}, independent);
    EXPECT_GT(std::fabs(HeightOf(r, "C").height - dense.heights[1]), 1e-6);
}

// A blunder in an observation of the block: snooping takes that one out, and what is left is
// the adjustment of the others under their own covariances (the blundered row and column gone),
// as the dense solve without it gives.
TEST(CorrelatedObservations, SnoopingTakesARowOutOfItsBlock) {
    const CorrelatedCase c = CorrelatedNetwork(9);
    AdjustmentOptions options;
    options.weighting = Weighting::Sigma;
    options.snoop = Snooping::Always;
    options.correlated = {c.block};
    const NetworkResult r = Adjust(c.observations, {{"A", 100.0, std::nullopt}}, {}, options);
    ASSERT_EQ(r.snooping.size(), 1u) << r.snoopingNote;
    EXPECT_EQ(r.snooping[0].observation, 1u);
    EXPECT_NEAR(r.snooping[0].error, 0.009, 0.002);
    const DenseGls dense = SolveDensely(c, {1}, Lambda0(0.001, 0.80));
    int i = 0;
    for (const char* point : {"B", "C", "D"}) {
        EXPECT_NEAR(HeightOf(r, point).height, dense.heights[i++], 1e-12) << point;
    }
    EXPECT_EQ(r.redundancy, 4);
    EXPECT_NEAR(r.vtpv, dense.vtpv, 1e-9 * dense.vtpv);
}

/// A block one observation past the largest the adjustment holds (the observations it names
/// need not exist: it is refused first).
CorrelatedBlock Oversized() {
    CorrelatedBlock block;
    for (size_t k = 0; k <= kLargestCorrelatedBlock; ++k) block.observations.push_back(k);
    return block;
}

// Covariances that no errors can have, or a block that does not fit its observations, are
// refused by name; a block with weights of another kind would mix two models.
TEST(CorrelatedObservations, BlocksThatCannotBeAreRefused) {
    const CorrelatedCase c = CorrelatedNetwork(0);
    const struct {
        const char* name;
        CorrelatedBlock block;
        Weighting weighting;
        const char* says;
    } cases[] = {
        {"not positive definite",
         {{0, 1}, {{1.0, 2.0}, {2.0, 1.0}}, {}},
         Weighting::Sigma,
         "not positive definite"},
        {"not symmetric",
         {{0, 1}, {{1.0, 0.2}, {0.3, 1.0}}, {}},
         Weighting::Sigma,
         "not symmetric"},
        {"not square", {{0, 1}, {{1.0}}, {}}, Weighting::Sigma, "is not 2 by 2"},
        {"an observation that is not there",
         {{0, 99}, {{1.0, 0.0}, {0.0, 1.0}}, {}},
         Weighting::Sigma,
         "names an observation twice or one that is not there"},
        {"by length", c.block, Weighting::Length, "weight them by sigma"},
        {"one past the largest block", Oversized(), Weighting::Sigma,
         "a correlated block of 2001 observations; at most 2000 are adjusted"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        AdjustmentOptions options;
        options.weighting = k.weighting;
        options.correlated = {k.block};
        try {
            Adjust(c.observations, {{"A", 100.0, std::nullopt}}, {}, options);
            ADD_FAILURE() << "adjusted";
        } catch (const NetworkError& error) {
            EXPECT_NE(std::string(error.what()).find(k.says), std::string::npos) << error.what();
        }
    }
}

// The same network as a gama-local input: the block a <height-differences> whose <cov-mat>
// (band 2) holds its covariances. Read, it adjusts as the dense solve gives it; written by
// --gama-xml and read again, it adjusts the same, its block written whole.
TEST(CorrelatedObservations, AGamaBlockReadAndWrittenWhole) {
    const CorrelatedCase c = CorrelatedNetwork(0);
    std::string xml =
        "<?xml version='1.0'?>\n<gama-local><network><parameters sigma-apr='1'/>\n"
        "<points-observations>\n<point id='A' z='100' fix='z'/>\n"
        "<point id='B' adj='z'/><point id='C' adj='z'/><point id='D' adj='z'/>\n"
        "<height-differences>\n";
    for (size_t k = 0; k < 3; ++k) {
        const Observation& o = c.observations[k];
        xml += "<dh from='" + o.from + "' to='" + o.to + "' val='" + std::to_string(o.dh) + "'/>\n";
    }
    xml +=
        "<cov-mat dim='3' band='2'>1.0 0.4 0.1\n1.2 0.3\n0.9</cov-mat>\n</height-differences>\n"
        "<height-differences>\n";
    for (size_t k = 3; k < c.observations.size(); ++k) {
        const Observation& o = c.observations[k];
        xml += "<dh from='" + o.from + "' to='" + o.to + "' val='" + std::to_string(o.dh) +
               "' stdev='" + std::to_string(*o.sigmaMm) + "'/>\n";
    }
    xml += "</height-differences>\n</points-observations></network></gama-local>\n";
    const GamaNetwork net = ReadGamaXml(xml, "block.xml");
    ASSERT_EQ(net.correlated.size(), 1u);
    EXPECT_EQ(net.correlated[0].observations, (std::vector<size_t>{0, 1, 2}));
    EXPECT_EQ(net.correlated[0].covarianceMm2, c.block.covarianceMm2);

    AdjustmentOptions options;
    options.weighting = Weighting::Sigma;
    options.correlated = net.correlated;
    const NetworkResult first = Adjust(net.observations, net.benchmarks, {}, options);
    const DenseGls dense = SolveDensely(c, {}, Lambda0(0.001, 0.80));
    int i = 0;
    for (const char* point : {"B", "C", "D"}) {
        EXPECT_NEAR(HeightOf(first, point).height, dense.heights[i++], 1e-9) << point;
    }

    const GamaNetwork again = ReadGamaXml(GamaXmlOf(first, {}, "written back"), "again.xml");
    ASSERT_EQ(again.correlated.size(), 1u);
    EXPECT_EQ(again.correlated[0].covarianceMm2, c.block.covarianceMm2);
    options.correlated = again.correlated;
    const NetworkResult second = Adjust(again.observations, again.benchmarks, {}, options);
    EXPECT_EQ(second.redundancy, first.redundancy);
    EXPECT_NEAR(second.vtpv, first.vtpv, 1e-12);
    for (const char* point : {"B", "C", "D"}) {
        EXPECT_NEAR(HeightOf(second, point).height, HeightOf(first, point).height, 1e-12);
    }
    ASSERT_TRUE(first.globalTest && second.globalTest);
    EXPECT_EQ(second.globalTest->passed, first.globalTest->passed);
}

// A loop of observations without length is judged by the σ of its misclosure: with three of
// them correlated, that σ takes their covariances (1.0 + 1.2 + 0.9 + 2 × (0.4 + 0.1 + 0.3) +
// 2² = 8.7 mm²), not their variances alone (7.1 mm²).
TEST(CorrelatedObservations, ALoopsLimitBySigmaTakesTheCovariances) {
    CorrelatedCase c = CorrelatedNetwork(0);
    c.observations.resize(4);
    for (Observation& o : c.observations) o.lengthKm = 0;
    AdjustmentOptions options;
    options.weighting = Weighting::Sigma;
    options.correlated = {c.block};
    const NetworkResult r = Adjust(c.observations, {{"A", 100.0, std::nullopt}}, {}, options);
    ASSERT_EQ(r.loops.size(), 1u);
    EXPECT_TRUE(r.loops[0].bySigma);
    EXPECT_NEAR(r.loops[0].limit, CriticalW(0.001) * std::sqrt(8.7) / 1000.0, 1e-15);
    EXPECT_NEAR(std::fabs(r.loops[0].misclosure), std::fabs(1.0004 + 0.4997 - 0.3006 - 1.2004),
                1e-12);
}

// Observed heights correlated with each other, as GNU Gama's <coordinates> holds them with a
// <cov-mat> of band 1: the heights come out as the dense generalized least squares gives them
// (three heights observed, two height differences), and --gama-xml writes the band back.
TEST(CorrelatedObservations, CorrelatedObservedHeightsOfAGamaFile) {
    const std::string xml =
        "<?xml version='1.0'?>\n<gama-local><network><points-observations>\n"
        "<point id='P1' adj='z'/><point id='P2' adj='z'/><point id='P3' adj='z'/>\n"
        "<height-differences>\n<dh from='P1' to='P2' val='2.0030' stdev='1'/>\n"
        "<dh from='P2' to='P3' val='-0.9960' stdev='1'/>\n</height-differences>\n"
        "<coordinates>\n<point id='P1' z='100.0000'/><point id='P2' z='102.0010'/>"
        "<point id='P3' z='101.0100'/>\n"
        "<cov-mat dim='3' band='1'>4 1.5 4 -1 4</cov-mat>\n</coordinates>\n"
        "</points-observations></network></gama-local>\n";
    const GamaNetwork net = ReadGamaXml(xml, "heights.xml");
    ASSERT_EQ(net.correlated.size(), 1u);
    EXPECT_EQ(net.correlated[0].benchmarks, (std::vector<std::string>{"P1", "P2", "P3"}));
    AdjustmentOptions options;
    options.weighting = Weighting::Sigma;
    options.correlated = net.correlated;
    const NetworkResult r = Adjust(net.observations, net.benchmarks, {}, options);

    // Dense: unknowns P1, P2, P3; rows the two dh, then the three observed heights.
    Eigen::MatrixXd a(5, 3);
    a << -1, 1, 0, 0, -1, 1, 1, 0, 0, 0, 1, 0, 0, 0, 1;
    Eigen::VectorXd l(5);
    l << 2.0030, -0.9960, 100.0, 102.0010, 101.0100;
    Eigen::MatrixXd cov = Eigen::MatrixXd::Zero(5, 5);
    cov(0, 0) = cov(1, 1) = 1e-6;
    cov.block(2, 2, 3, 3) << 4, 1.5, 0, 1.5, 4, -1, 0, -1, 4;
    cov.block(2, 2, 3, 3) *= 1e-6;
    const Eigen::MatrixXd p = cov.inverse();
    const Eigen::MatrixXd q = (a.transpose() * p * a).inverse();
    const Eigen::VectorXd x = q * a.transpose() * p * l;
    const Eigen::VectorXd v = a * x - l;
    EXPECT_NEAR(HeightOf(r, "P1").height, x[0], 1e-9);
    EXPECT_NEAR(HeightOf(r, "P2").height, x[1], 1e-9);
    EXPECT_NEAR(HeightOf(r, "P3").height, x[2], 1e-9);
    EXPECT_NEAR(HeightOf(r, "P2").sigmaApriori, std::sqrt(q(1, 1)), 1e-12);
    EXPECT_NEAR(r.vtpv, v.dot(p * v), 1e-9);
    EXPECT_EQ(r.redundancy, 2);

    const std::string written = GamaXmlOf(r, {}, "heights");
    EXPECT_NE(written.find("<cov-mat dim=\"3\" band=\"1\">4 1.5 4 -1 4</cov-mat>"),
              std::string::npos)
        << written;
    const GamaNetwork again = ReadGamaXml(written, "again.xml");
    options.correlated = again.correlated;
    const NetworkResult second = Adjust(again.observations, again.benchmarks, {}, options);
    EXPECT_NEAR(HeightOf(second, "P3").height, x[2], 1e-9);
    EXPECT_NEAR(second.vtpv, r.vtpv, 1e-12);
}

// A benchmarks file may give covariances too: cov_NAME columns, on either row. The block it
// makes adjusts as the same observed heights in a Gama file's <coordinates> do; what cannot
// be a covariance is refused naming the line.
TEST(CorrelatedObservations, CovariancesOfABenchmarksFile) {
    std::istringstream file(
        "name,height,sigma_mm,cov_P2,cov_P3\n"
        "P1,100.0000,2,1.5,\n"
        "P2,102.0010,2,,-1\n"
        "P3,101.0100,2,,\n"
        "BM9,50,,,\n");
    std::vector<CorrelatedBlock> blocks;
    const std::vector<Benchmark> benchmarks = ReadBenchmarks(file, "bm.csv", &blocks);
    ASSERT_EQ(benchmarks.size(), 4u);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].benchmarks, (std::vector<std::string>{"P1", "P2", "P3"}));
    EXPECT_EQ(blocks[0].covarianceMm2,
              (std::vector<std::vector<double>>{{4, 1.5, 0}, {1.5, 4, -1}, {0, -1, 4}}));
    const std::vector<Observation> dh =
        Csv("from,to,dh,length_km,sigma_mm\nP1,P2,2.0030,1,1\nP2,P3,-0.9960,1,1\n");
    AdjustmentOptions options;
    options.weighting = Weighting::Sigma;
    options.correlated = blocks;
    const NetworkResult r = Adjust(dh, {benchmarks.begin(), benchmarks.begin() + 3}, {}, options);
    const GamaNetwork gama = ReadGamaXml(
        "<?xml version='1.0'?>\n<gama-local><network><points-observations>\n"
        "<point id='P1' adj='z'/><point id='P2' adj='z'/><point id='P3' adj='z'/>\n"
        "<height-differences>\n<dh from='P1' to='P2' val='2.0030' stdev='1'/>\n"
        "<dh from='P2' to='P3' val='-0.9960' stdev='1'/>\n</height-differences>\n"
        "<coordinates>\n<point id='P1' z='100.0000'/><point id='P2' z='102.0010'/>"
        "<point id='P3' z='101.0100'/>\n<cov-mat dim='3' band='1'>4 1.5 4 -1 4</cov-mat>\n"
        "</coordinates>\n</points-observations></network></gama-local>\n",
        "heights.xml");
    options.correlated = gama.correlated;
    const NetworkResult same = Adjust(gama.observations, gama.benchmarks, {}, options);
    for (const char* point : {"P1", "P2", "P3"}) {
        EXPECT_NEAR(HeightOf(r, point).height, HeightOf(same, point).height, 1e-12) << point;
    }

    const struct {
        const char* text;
        const char* says;
    } refused[] = {
        {"name,height,sigma_mm,cov_B\nA,1,2,0.5\nB,2,,\n",
         "bm.csv: a covariance with B, which is no weighted benchmark of the file"},
        {"name,height,sigma_mm,cov_B\nA,1,,0.5\nB,2,2,\n",
         "bm.csv:2: a covariance with B, and no sigma_mm of its own"},
        {"name,height,sigma_mm,cov_A\nA,1,2,0.5\n", "bm.csv:2: a covariance of A with itself"},
        {"name,height,sigma_mm,cov_B,cov_A\nA,1,2,0.5,\nB,2,2,,0.6\n",
         "bm.csv:3: the covariance of B and A is given twice, not alike"},
        {"name,height,sigma_mm,covB\nA,1,2,0.5\n",
         "bm.csv:1: a column after sigma_mm that is not cov_NAME: covB"},
        {"name,height,sigma_mm,cov_B\nA,1,2,x\nB,2,2,\n", "bm.csv:2: cov_B"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.text);
        std::istringstream in(c.text);
        std::vector<CorrelatedBlock> none;
        try {
            ReadBenchmarks(in, "bm.csv", &none);
            ADD_FAILURE() << "read";
        } catch (const NetworkError& error) {
            EXPECT_NE(std::string(error.what()).find(c.says), std::string::npos) << error.what();
        }
    }
}

// The size of a correlated block is bounded (its matrix is held whole): at the bound it is
// read, one past it refused naming the line; a diagonal <cov-mat> of any size only gives
// variances.
TEST(CorrelatedObservations, TheLargestBlockRead) {
    const auto document = [](size_t observations, bool correlated) {
        std::string xml =
            "<?xml version='1.0'?>\n<gama-local><network><points-observations>\n"
            "<point id='P0' z='0' fix='z'/>\n<height-differences>\n";
        for (size_t i = 0; i < observations; ++i) {
            xml += "<dh from='P" + std::to_string(i) + "' to='P" + std::to_string(i + 1) +
                   "' val='0.1'/>\n";
        }
        xml += std::string("<cov-mat dim='") + std::to_string(observations) + "' band='" +
               (correlated ? "1" : "0") + "'>";
        for (size_t i = 0; i < observations; ++i) {
            xml += correlated && i + 1 < observations ? "1 0.2 " : "1 ";
        }
        return xml +
               "</cov-mat>\n</height-differences>\n</points-observations></network>"
               "</gama-local>\n";
    };
    const struct {
        size_t observations;
        bool correlated;
        bool read;
    } cases[] = {{2000, true, true}, {2001, true, false}, {2001, false, true}, {1999, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.observations) + (c.correlated ? " correlated" : " diagonal"));
        try {
            const GamaNetwork net = ReadGamaXml(document(c.observations, c.correlated), "big.xml");
            EXPECT_TRUE(c.read);
            EXPECT_EQ(net.observations.size(), c.observations);
            EXPECT_EQ(net.correlated.size(), c.correlated ? 1u : 0u);
        } catch (const NetworkError& error) {
            EXPECT_FALSE(c.read) << error.what();
            EXPECT_EQ(std::string(error.what()),
                      "big.xml:" + std::to_string(c.observations + 5) +
                          ": a correlated block of 2001 observations; at most 2000 are read");
        }
    }
}
