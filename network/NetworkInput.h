// What a levelling network is read from: the levelling lines of field books (each cut into
// sections at its network points), files of observations and of benchmarks, and benchmarks
// given on the command line.
#pragma once

#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "core/Corrections.h"
#include "network/Drawing.h"
#include "network/Network.h"
#include "readers/FieldBook.h"

namespace rendle::network {

/// The observations and loops of field books, and what their reads warned of.
struct NetworkInput {
    std::vector<Observation> observations;
    std::vector<CorrelatedBlock> correlated;  ///< by the observations' places here
    std::vector<LineLoop> lineLoops;
    std::vector<std::string> warnings;  ///< "BOOK:LINE: text"
    /// Rows of height differences whose staff was corrected at their own temperature_c.
    size_t rowsAtOwnTemperature = 0;
    size_t lines = 0;  ///< levelling lines read, each numbered in its sections
};

/// Whether a point inside a levelling line is a point of the network (a benchmark, a point
/// named as one); a line's two end points always are.
using IsNetworkPoint = std::function<bool(std::string_view)>;

/// Reads every levelling line of `book` (named `name` in messages) as rendle-reduce reads it,
/// reduces its rise and fall, and adds one observation per section between its network points:
/// dh = Σ rise − Σ fall, the length Σ of the back and fore sights, the set-ups. A section that
/// comes back to the point it left is a loop. Throws NetworkError naming the book, its line and
/// the reason when a line cannot be read or reduced.
/// With `corrections`, each section's dh is corrected for the staffs and for curvature and
/// refraction, set-up by set-up, and the corrections kept in the observation.
void AddBook(const readers::Book& book, const std::string& name,
             const readers::LineDecoder& decoder, const IsNetworkPoint& isNetworkPoint,
             NetworkInput& input, const core::ReadingCorrections* corrections = nullptr);

/// Observations from CSV: a header row naming the columns from, to, dh (m), length_km and, if
/// given, setups, sigma_mm and temperature_c (the staffs', °C), in any order; a row per
/// observation. Blank rows and rows starting with # are passed over. Throws NetworkError naming the
/// file's line that does not read.
std::vector<Observation> ReadObservations(std::istream& in, const std::string& name);

/// Benchmarks from CSV: name,height[,sigma_mm] per row, with or without a header row. A
/// header may name further columns cov_NAME: a row's covariance (mm²) with benchmark NAME,
/// given on either row (alike where on both); the weighted benchmarks joined by covariances
/// go to `correlated` as blocks.
std::vector<Benchmark> ReadBenchmarks(std::istream& in, const std::string& name,
                                      std::vector<CorrelatedBlock>* correlated = nullptr);

/// Coordinates of points for the drawing: `name,east,north` rows in metres (a header row
/// first, if wanted); throws NetworkError naming the file and line.
Positions ReadCoordinates(std::istream& in, const std::string& name);

/// A benchmark as --fix gives it: NAME=HEIGHT, or NAME=HEIGHT:SIGMA_MM for one with its
/// standard deviation. Throws NetworkError for anything else.
Benchmark ParseBenchmark(std::string_view text);

}  // namespace rendle::network
