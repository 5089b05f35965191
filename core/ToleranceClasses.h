// The levelling classes of national standards: the limits a class sets for a levelling run, and
// where each figure comes from, so that a surveyor can check it. A figure a class does not set
// is absent, and its check is left out, never invented.
#pragma once

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace rendle::core {

struct ToleranceClass {
    std::string_view id;           ///< "il-h2"
    std::string_view name;         ///< "Israel SOI levelling, H2"
    std::optional<double> lineMm;  ///< section or line misclose: C of C mm √K
    std::optional<double> loopMm;  ///< loop misclose: C of C mm √E, E the loop's length in km
    std::optional<double> longestSight;    ///< m
    std::optional<double> shortestSight;   ///< m
    std::optional<double> balanceSetUp;    ///< m, |Σ back − Σ fore| of a set-up
    std::optional<double> balanceSection;  ///< m, accumulated over the line
    std::optional<double> stationDifferenceMm;
    std::string_view method;  ///< "BFFB", "double run", ...; empty when the class sets none
    std::string_view source;
    /// The figures were read in texts that cite the standard, not yet in the standard.
    bool checkAgainstStandard = false;
    /// A line's misclose by its set-ups: C of C mm √n, for steep ground.
    std::optional<double> perSetUpMm;
    /// A section run forward and back: the difference of the two runs, C of C mm √K (K the
    /// one-way length), apart from the loop figure.
    std::optional<double> roundTripMm;
    std::optional<double> lowestReading;   ///< m, the least staff reading allowed
    std::optional<double> highestReading;  ///< m, the greatest
};

/// Every class Rendle knows, in the order of the table.
std::span<const ToleranceClass> ToleranceClasses();

/// The class of `id` (as --class takes it), a built-in one or one read from a class file, or
/// nothing.
const ToleranceClass* FindToleranceClass(std::string_view id);

/// A class that cannot be read from a surveyor's class file: the message names the file and why.
class ClassFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// Reads a surveyor's own class from the JSON text of `name`: {"id", "name", "source",
/// "miscloseMm", "loopMm", "perSetUpMm", "roundTripMm", "longestSightM", "setupImbalanceM",
/// "runningImbalanceM", "lowestReadingM", "highestReadingM", "method"}, every figure optional,
/// the id required and not a built-in class's. The class is kept for the program's life and
/// found by its id from then on (its latest reading, when read again). Throws ClassFileError.
const ToleranceClass& ReadClassFile(std::string_view text, const std::string& name);
/// Reads the class file at `path`; throws ClassFileError when it cannot be read.
const ToleranceClass& LoadClassFile(const std::string& path);

}  // namespace rendle::core
