#include "core/Checks.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "core/LevelSheet.h"
#include "core/Verdict.h"
#include "grid/Grid.h"
#include "grid/NumberFormat.h"

namespace rendle::core {

namespace {

constexpr double kAgreement = 1e-9;
constexpr int kLengthDecimals = 2;     // lengths as the sheet shows them, "0.00"
constexpr int kHeightDecimals = 4;     // heights and misclose as the sheet shows them, "0.0000"
constexpr int kReadingMmDecimals = 2;  // a difference of readings of five decimals, in mm

/// The reduced row of sheet row `row`, when the reduction read it.
const ReducedRow* RowOf(const ReducedRun& reduced, int32_t row) {
    if (reduced.rows.empty()) return nullptr;
    const int32_t at = row - reduced.rows.front().row;
    if (at < 0 || static_cast<size_t>(at) >= reduced.rows.size()) return nullptr;
    return &reduced.rows[static_cast<size_t>(at)];
}

double RLOf(const ReducedRun& reduced, int32_t row) {
    const ReducedRow* found = RowOf(reduced, row);
    return found && found->rl ? *found->rl : 0;
}

bool IsSight(const ReducedRow& row, SightKind kind) {
    return row.kind == kind;
}

ArithmeticCheck Arithmetic(const ReducedRun& reduced) {
    ArithmeticCheck check;
    // A last set-up without a foresight measured no height difference to a point: the sums run
    // to the last foresight, and the set-up is named.
    size_t end = reduced.rows.size();
    int setUps = 0;
    std::optional<size_t> lastBack;
    std::optional<size_t> lastFore;
    for (size_t i = 0; i < reduced.rows.size(); ++i) {
        if (IsSight(reduced.rows[i], SightKind::Back)) {
            ++setUps;
            lastBack = i;
        } else if (IsSight(reduced.rows[i], SightKind::Fore)) {
            lastFore = i;
        }
    }
    if (lastBack && lastFore && *lastBack > *lastFore) {
        end = *lastFore + 1;
        check.openSetUp = setUps;
        check.openRow = reduced.rows[*lastBack].row;
    }
    for (size_t i = 0; i < end; ++i) {
        const ReducedRow& row = reduced.rows[i];
        check.sumBS += row.backsight;
        check.sumFS += row.foresight;
        const double riseFall = row.riseFall.value_or(0);
        (riseFall >= 0 ? check.sumRise : check.sumFall) += std::fabs(riseFall);
    }
    check.firstRL = reduced.rows.front().rl.value_or(0);
    check.lastRL = reduced.rows[end - 1].rl.value_or(0);
    // A reading typed so that it stays text ("1.4.5") is no reading to the reduction: the
    // sums agree with it, and the run is still wrong.
    for (const ReducedRow& row : reduced.rows) {
        for (const auto& [col, text] : row.texts) {
            check.textCells.push_back(grid::ColumnLetters(col) + std::to_string(row.row) +
                                      " holds the text " + text + ", read as " +
                                      (col == kColDist ? "no distance." : "no reading."));
        }
    }
    check.agrees =
        check.textCells.empty() &&
        std::fabs(check.ReadingDifference() - check.RiseFallDifference()) <= kAgreement &&
        std::fabs(check.RiseFallDifference() - check.RLDifference()) <= kAgreement;
    return check;
}

/// The balance of the set-ups' sight lengths; an open last set-up (`openSetUp`, 0 for none)
/// has no foresight to balance its backsight against, and is left out as the arithmetic check
/// leaves it.
SightBalance Balance(const ReducedRun& reduced, const CheckLimits& limits, int openSetUp) {
    SightBalance balance;
    balance.imbalanceLimit = limits.imbalanceLimit;
    balance.runningLimit = limits.runningLimit;
    double running = 0;
    for (const ReducedRow& row : reduced.rows) {
        if (IsSight(row, SightKind::Back)) {
            balance.setUps.push_back({});
            balance.setUps.back().setUp = static_cast<int>(balance.setUps.size());
            balance.setUps.back().backsight += row.distance;
        } else if (IsSight(row, SightKind::Fore) && !balance.setUps.empty()) {
            balance.setUps.back().foresight += row.distance;
        }
    }
    if (openSetUp != 0 && !balance.setUps.empty() && balance.setUps.back().setUp == openSetUp) {
        balance.setUps.pop_back();
    }
    for (SetUpBalance& setUp : balance.setUps) {
        setUp.imbalance = setUp.backsight - setUp.foresight;
        running += setUp.imbalance;
        setUp.running = running;
        // Lengths are printed to the centimetre ("0.00"), and judged so.
        setUp.flagged =
            !Within(std::fabs(setUp.imbalance), limits.imbalanceLimit, kLengthDecimals) ||
            !Within(std::fabs(setUp.running), limits.runningLimit, kLengthDecimals);
        balance.flagged = balance.flagged || setUp.flagged;
        if (balance.largestSetUp == 0 ||
            std::fabs(setUp.imbalance) > std::fabs(balance.largestImbalance)) {
            balance.largestImbalance = setUp.imbalance;
            balance.largestSetUp = setUp.setUp;
        }
        if (std::fabs(setUp.running) > std::fabs(balance.largestRunning)) {
            balance.largestRunning = setUp.running;
        }
    }
    return balance;
}

}  // namespace

std::string NotReducedInWords(const ReductionResult& reduction, const RunState& run) {
    switch (reduction.status) {
        case ReductionStatus::Reduced:
            return {};
        case ReductionStatus::NoData:
            return "there is no run in the level sheet";
        case ReductionStatus::Stopped:
            break;
    }
    switch (reduction.step) {
        case ReductionStep::ReducedLevels:
            return "the starting RL is not a number, so no RLs were worked out";
        case ReductionStep::ClosingCorrection:
            return IsEmptyRL(run.EndRL)
                       ? "the ending RL is empty, so the run was not adjusted"
                       : "the ending RL is not a number, so the run was not adjusted";
        case ReductionStep::CorrectionPerSetUp:
            return "the run has no backsight, so the misclose could not be spread over set-ups";
        case ReductionStep::PermissibleError:
            return "the distances add up to less than nothing, so there is no permissible error";
        case ReductionStep::ReadObservations:
            return "the run reaches past the 1000 rows of the level sheet";
        default:
            return "the reduction stopped at the " +
                   std::string(ReductionStepName(reduction.step)) + ": " + reduction.reason;
    }
}

namespace {

StationDifferences Differences(const RunState& run, const CheckLimits& limits) {
    StationDifferences differences;
    differences.setUps = run.instrument.stationDifferences;
    if (limits.stationLimitMm) differences.limit = *limits.stationLimitMm / 1000.0;
    for (const auto& setUp : differences.setUps) {
        if (std::fabs(setUp.value) > std::fabs(differences.largest) || differences.setUp == 0) {
            differences.largest = setUp.value;
            differences.setUp = setUp.setUp;
        }
    }
    const std::optional<double> resolution = run.instrument.resolution;
    differences.decimals = std::max(MillimetreDecimals(differences.limit, resolution),
                                    resolution ? 0 : kReadingMmDecimals);
    differences.flagged =
        differences.limit && !Within(std::fabs(differences.largest) * 1000,
                                     *differences.limit * 1000, differences.decimals);
    return differences;
}

InstrumentCheck Instrument(const ReducedRun& reduced, const RunState& run) {
    InstrumentCheck check;
    if (!run.instrument.startZ || run.FirstDataRow <= 0) return check;
    const std::optional<double> finest = run.instrument.resolution;
    // A difference of two stored heights may be a last digit of each from the sheet's, each
    // height at the digit it was stored to (a GSI-8 height past 999.99999 m keeps a tenth of a
    // mm where the others keep a hundredth).
    const auto unitOf = [&](double unit) { return unit > 0 ? unit : finest.value_or(0.00005); };
    check.resolution = finest;
    check.limit = 2 * unitOf(0);
    std::vector<InstrumentRecord::Height> heights = run.instrument.heights;
    std::stable_sort(heights.begin(), heights.end(),
                     [](const auto& a, const auto& b) { return a.row < b.row; });
    // Each difference is taken from the set-up's starting point: the last foresight before it,
    // or the start of the run.
    InstrumentRecord::Height from{run.FirstDataRow, *run.instrument.startZ,
                                  run.instrument.startUnit};
    int setUp = 0;
    std::pair<bool, double> worst;       // the told difference: beyond its limit, its part of it
    int32_t counted = run.FirstDataRow;  // rows up to here are counted in setUp
    for (const InstrumentRecord::Height& height : heights) {
        if (height.row < run.FirstDataRow || height.row > run.LastDataRow) continue;
        for (; counted <= height.row; ++counted) {
            const ReducedRow* row = RowOf(reduced, counted);
            if (row && IsSight(*row, SightKind::Back)) ++setUp;
        }
        const double difference =
            (height.z - from.z) - (RLOf(reduced, height.row) - RLOf(reduced, from.row));
        ++check.compared;
        // The difference furthest beyond its own limit is told, or else the one nearest it.
        const double limit = unitOf(from.unit) + unitOf(height.unit);
        const std::optional<double> resolution =
            finest ? std::optional(std::min(unitOf(from.unit), unitOf(height.unit))) : finest;
        const bool beyond = !Within(std::fabs(difference) * 1000, limit * 1000,
                                    MillimetreDecimals(limit, resolution));
        const std::pair part{beyond, std::fabs(difference) / limit};
        if (check.compared == 1 || part > worst) {
            worst = part;
            check.largestDifference = difference;
            check.row = height.row;
            check.setUp = setUp;
            check.limit = limit;
            check.resolution = resolution;
            check.flagged = beyond;
        }
        const ReducedRow* row = RowOf(reduced, height.row);
        if (row && IsSight(*row, SightKind::Fore)) from = height;
    }
    return check;
}

/// "meets", "fails" or "not shown by one line": the method a class asks for against the one
/// the book names.
std::string MethodVerdict(std::string_view required, const std::string& method) {
    const bool readTwice =
        method == "BFFB" || method == "aBFFB" || method == "BBFF" || method == "BFBF";
    if (required == "double run" || required == "forward and back") {
        return "not shown by one line";  // a line run forward and back is two lines
    }
    if (required == "BFFB") return method == "BFFB" || method == "aBFFB" ? "meets" : "fails";
    if (required == "two readings") return readTwice ? "meets" : "fails";
    return "meets";  // BF, single, single or double: any method
}

/// Staff readings are printed and judged to the millimetre's tenth, as the sheet shows them.
constexpr int kReadingDecimals = 4;

ClassChecks ByClass(const ReducedRun& reduced, const RunState& run, const RunChecks& checks,
                    const CheckLimits& limits) {
    const ToleranceClass& row = *limits.toleranceClass;
    ClassChecks byClass;
    byClass.row = &row;
    byClass.loop =
        !limits.toleranceMm && reduced.rows.front().station == reduced.rows.back().station;
    // A figure in m printed with `decimals` in its unit (1000 for mm), its limit printed as the
    // class writes it: judged at the finer of the two.
    const auto figure = [](double value, double limit, int decimals, double unit = 1,
                           Bound bound = Bound::AtMost) {
        decimals = std::max(decimals, DecimalsOf(limit * unit, 4));
        return ClassFigure{value, limit, Within(value * unit, limit * unit, decimals, bound),
                           decimals};
    };
    if (checks.tolerance) {
        // A loop by the class's loop figure, a line by its line figure; a class that sets only
        // the other lends it, and says so.
        std::optional<double> mm = limits.toleranceMm;
        if (!mm) {
            const std::optional<double> own = byClass.loop ? row.loopMm : row.lineMm;
            const std::optional<double> other = byClass.loop ? row.lineMm : row.loopMm;
            mm = own ? own : other;
            if (!own && other) {
                byClass.fallback = std::string("the class sets no ") +
                                   (byClass.loop ? "loop figure: its line figure"
                                                 : "line figure: its loop figure");
            }
        }
        if (mm) {
            const double km = std::max(0.0, reduced.length / 1000);
            // In mm to a tenth, as the sheet's "0.0000" m, and the limit (C √K) likewise.
            const double misclose = std::fabs(checks.tolerance->misclose);
            const double limit = *mm * std::sqrt(km) / 1000;
            byClass.misclose =
                ClassFigure{misclose, limit, Within(misclose * 1000, limit * 1000, 1), 1};
        }
    }
    double longest = 0;
    double shortest = INFINITY;
    for (const ReducedRow& sighted : reduced.rows) {
        if (!sighted.kind) continue;
        longest = std::max(longest, sighted.distance);
        shortest = std::min(shortest, sighted.distance);
    }
    if (row.longestSight) {
        byClass.longestSight = figure(longest, *row.longestSight, kLengthDecimals);
    }
    if (row.shortestSight && std::isfinite(shortest)) {
        byClass.shortestSight =
            figure(shortest, *row.shortestSight, kLengthDecimals, 1, Bound::AtLeast);
    }
    const std::optional<double> perSetUp =
        limits.balanceGiven ? std::optional(limits.imbalanceLimit) : row.balanceSetUp;
    const std::optional<double> section =
        limits.balanceGiven ? std::optional(limits.runningLimit) : row.balanceSection;
    double largestRunning = 0;
    double largestImbalance = 0;
    for (const SetUpBalance& setUp : checks.balance.setUps) {
        largestImbalance = std::max(largestImbalance, std::fabs(setUp.imbalance));
        largestRunning = std::max(largestRunning, std::fabs(setUp.running));
    }
    if (perSetUp) byClass.balanceSetUp = figure(largestImbalance, *perSetUp, kLengthDecimals);
    if (section) byClass.balanceSection = figure(largestRunning, *section, kLengthDecimals);
    const std::optional<double> stationMm =
        limits.stationLimitMm ? limits.stationLimitMm : row.stationDifferenceMm;
    if (stationMm && !checks.stationDifferences.setUps.empty()) {
        // At its own precision, never rounded to its limit's.
        byClass.stationDifference =
            figure(std::fabs(checks.stationDifferences.largest), *stationMm / 1000,
                   checks.stationDifferences.decimals, 1000);
    }
    if (row.perSetUpMm && checks.tolerance) {
        // In mm to a tenth, as the misclose itself.
        const double misclose = std::fabs(checks.tolerance->misclose);
        const double n = static_cast<double>(checks.balance.setUps.size());
        const double limit = *row.perSetUpMm * std::sqrt(n) / 1000;
        byClass.perSetUp =
            ClassFigure{misclose, limit, Within(misclose * 1000, limit * 1000, 1), 1};
    }
    if (row.lowestReading || row.highestReading) {
        double lowest = std::numeric_limits<double>::infinity();
        double highest = -std::numeric_limits<double>::infinity();
        for (const ReducedRow& sighted : reduced.rows) {
            if (!sighted.kind) continue;
            const double reading = *sighted.kind == SightKind::Back   ? sighted.backsight
                                   : *sighted.kind == SightKind::Fore ? sighted.foresight
                                                                      : sighted.intermediate;
            lowest = std::min(lowest, reading);
            highest = std::max(highest, reading);
        }
        if (row.lowestReading && std::isfinite(lowest)) {
            byClass.lowestReading =
                figure(lowest, *row.lowestReading, kReadingDecimals, 1, Bound::AtLeast);
        }
        if (row.highestReading && std::isfinite(highest)) {
            byClass.highestReading = figure(highest, *row.highestReading, kReadingDecimals);
        }
    }
    if (!row.method.empty()) {
        const std::string method = run.instrument.method.empty() ? "BF" : run.instrument.method;
        byClass.method = ClassMethod{method, row.method, MethodVerdict(row.method, method)};
    }
    return byClass;
}

}  // namespace

RunChecks CheckRun(const RunState& run, const std::optional<ReductionResult>& reduction,
                   const CheckLimits& limits) {
    RunChecks checks;
    static const ReducedRun kNothing;
    const ReducedRun& reduced = reduction ? reduction->reduced : kNothing;
    checks.reduced = reduced.hasSummary && !reduced.rows.empty();
    checks.hasRLs = !reduced.rows.empty() && (checks.reduced || reduced.hasRLs);
    if (!checks.reduced) {
        checks.notReduced = reduction && reduction->status != ReductionStatus::Reduced
                                ? NotReducedInWords(*reduction, run)
                                : "the run has not been reduced";
    }
    if (!checks.hasRLs) return checks;
    checks.arithmetic = Arithmetic(reduced);
    checks.balance = Balance(reduced, limits, checks.arithmetic->openSetUp);
    checks.stationDifferences = Differences(run, limits);
    checks.instrument = Instrument(reduced, run);
    if (!checks.reduced) {  // no misclose without an ending RL
        if (limits.toleranceClass) checks.byClass = ByClass(reduced, run, checks, limits);
        return checks;
    }

    ToleranceVerdict verdict;
    verdict.misclose = reduced.misclose;
    verdict.classMm = limits.toleranceMm.value_or(2.0);
    const double km = std::max(0.0, reduced.length / 1000.0);
    verdict.permissible = verdict.classMm * std::sqrt(km) / 1000.0;
    // Judged and measured as the summary block shows the two, to a tenth of a millimetre.
    const double shownMisclose = AsPrinted(std::fabs(verdict.misclose), kHeightDecimals);
    const double shownPermissible = AsPrinted(verdict.permissible, kHeightDecimals);
    verdict.ratio = shownPermissible > 0      ? shownMisclose / shownPermissible
                    : verdict.permissible > 0 ? std::fabs(verdict.misclose) / verdict.permissible
                                              : INFINITY;
    verdict.within = Within(std::fabs(verdict.misclose), verdict.permissible, kHeightDecimals);
    checks.tolerance = verdict;
    if (limits.toleranceClass) checks.byClass = ByClass(reduced, run, checks, limits);
    return checks;
}

std::string OpenSetUpInWords(const ArithmeticCheck& check) {
    return "last set-up (set-up " + std::to_string(check.openSetUp) + ", row " +
           std::to_string(check.openRow) +
           ") has a backsight and no foresight: the checks leave it out, summing to the last "
           "foresight.";
}

int MillimetreDecimals(std::optional<double> limitMetres, std::optional<double> resolution) {
    // The decimals that write a figure in mm exactly (0.3 has one, 0.02 two), up to four.
    const auto decimalsOf = [](double mm) { return DecimalsOf(mm, 4); };
    int decimals = 1;
    if (limitMetres) decimals = std::max(decimals, decimalsOf(*limitMetres * 1000));
    if (resolution) decimals = std::max(decimals, decimalsOf(*resolution * 1000));
    return decimals;
}

std::string MillimetreText(double metres, int decimals) {
    return FixedText(metres * 1000, decimals);
}

std::array<std::string, 3> ArithmeticFigures(const ArithmeticCheck& check) {
    std::array<double, 3> values = {check.ReadingDifference(), check.RiseFallDifference(),
                                    check.RLDifference()};
    // Figures that agree to a nanometre are one figure, printed alike, and as the sheet shows
    // it: the RLs' difference is what the sheet's cells hold, so a half-way value rounds here
    // as it rounds there.
    for (size_t i = values.size() - 1; i-- > 0;) {
        for (size_t j = values.size() - 1; j > i; --j) {
            if (std::fabs(values[i] - values[j]) <= kAgreement) {
                values[i] = values[j];
                break;
            }
        }
    }
    const auto at = [&](int decimals) {
        const std::string pattern = "0." + std::string(static_cast<size_t>(decimals), '0');
        return std::array<std::string, 3>{grid::FormatNumber(values[0], pattern),
                                          grid::FormatNumber(values[1], pattern),
                                          grid::FormatNumber(values[2], pattern)};
    };
    // Figures that disagree are printed to the digit where they differ: at least as many
    // decimals as the smallest difference between them needs.
    double smallest = INFINITY;
    for (size_t i = 0; i < values.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (values[i] != values[j])
                smallest = std::min(smallest, std::fabs(values[i] - values[j]));
        }
    }
    int first = 4;
    while (first < 12 && std::pow(10.0, -first) > smallest) ++first;
    for (int decimals = first; decimals < 12; ++decimals) {
        std::array<std::string, 3> shown = at(decimals);
        bool told = true;
        for (size_t i = 0; i < values.size(); ++i) {
            for (size_t j = 0; j < i; ++j) {
                told = told && (values[i] == values[j]) == (shown[i] == shown[j]);
            }
        }
        if (told) return shown;
    }
    return at(12);
}

}  // namespace rendle::core
