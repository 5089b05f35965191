// The levelling classes of national standards: the limits a class sets for a levelling run, and
// where each figure comes from, so that a surveyor can check it. A figure a class does not set
// is absent, and its check is left out, never invented.
#pragma once

#include <optional>
#include <span>
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
};

/// Every class Rendle knows, in the order of the table.
std::span<const ToleranceClass> ToleranceClasses();

/// The class of `id` (as --class takes it), or nothing.
const ToleranceClass* FindToleranceClass(std::string_view id);

}  // namespace rendle::core
