#include "core/Checks.h"

#include <cmath>

#include "core/LevelSheet.h"
#include "grid/Grid.h"
#include "grid/NumberFormat.h"

namespace rendle::core {

namespace {

constexpr double kAgreement = 1e-9;

/// A height or misclose as the sheet shows it ("0.0000"); a length with `pattern` "0.00".
std::string Metres(double value, std::string_view pattern = "0.0000") {
    return grid::FormatNumber(value, pattern);
}

bool HasSummaryBlock(const grid::Grid& sheet, const RunState& run) {
    const int32_t last = run.LastDataRow;
    if (run.FirstDataRow <= 0 || last < run.FirstDataRow || last + 5 > grid::kMaxRow) return false;
    return sheet.CellText(last + 3, 2) == "Misclose(m)" &&
           sheet.CellAt(last + 3, kColRL).kind == grid::CellKind::Number &&
           sheet.CellAt(last + 5, kColRL).kind == grid::CellKind::Number;
}

/// The reduction worked out the RLs of the data rows (it stops after them without an ending
/// RL).
bool HasRLs(const grid::Grid& sheet, const RunState& run) {
    const int32_t first = run.FirstDataRow;
    const int32_t last = run.LastDataRow;
    if (first <= 0 || last < first || last > grid::kMaxRow) return false;
    return sheet.CellAt(first, kColRL).kind == grid::CellKind::Number &&
           sheet.CellAt(last, kColRL).kind == grid::CellKind::Number;
}

ArithmeticCheck Arithmetic(const grid::Grid& sheet, const RunState& run) {
    ArithmeticCheck check;
    for (int32_t r = run.FirstDataRow; r <= run.LastDataRow; ++r) {
        check.sumBS += sheet.CellNumber(r, kColBS);
        check.sumFS += sheet.CellNumber(r, kColFS);
        const double riseFall = sheet.CellNumber(r, kColRiseFall);
        (riseFall >= 0 ? check.sumRise : check.sumFall) += std::fabs(riseFall);
    }
    check.firstRL = sheet.CellNumber(run.FirstDataRow, kColRL);
    check.lastRL = sheet.CellNumber(run.LastDataRow, kColRL);
    // A reading typed so that it stays text ("1.4.5") is no reading to the reduction: the
    // sums agree with it, and the run is still wrong.
    for (int32_t r = run.FirstDataRow; r <= run.LastDataRow; ++r) {
        for (const int32_t col : {kColBS, kColIS, kColFS, kColDist}) {
            const grid::Cell& cell = sheet.CellAt(r, col);
            if (cell.kind != grid::CellKind::Text) continue;
            check.textCells.push_back(grid::ColumnLetters(col) + std::to_string(r) +
                                      " holds the text " + cell.text + ", read as " +
                                      (col == kColDist ? "no distance." : "no reading."));
        }
    }
    check.agrees =
        check.textCells.empty() &&
        std::fabs(check.ReadingDifference() - check.RiseFallDifference()) <= kAgreement &&
        std::fabs(check.RiseFallDifference() - check.RLDifference()) <= kAgreement;
    return check;
}

SightBalance Balance(const grid::Grid& sheet, const RunState& run, const CheckLimits& limits) {
    SightBalance balance;
    balance.imbalanceLimit = limits.imbalanceLimit;
    balance.runningLimit = limits.runningLimit;
    double running = 0;
    for (int32_t r = run.FirstDataRow; r > 0 && r <= run.LastDataRow; ++r) {
        const std::string sight = sheet.CellText(r, kColSightType);
        if (sight == "BS") {
            balance.setUps.push_back({});
            balance.setUps.back().setUp = static_cast<int>(balance.setUps.size());
            balance.setUps.back().backsight += sheet.CellNumber(r, kColDist);
        } else if (sight == "FS" && !balance.setUps.empty()) {
            balance.setUps.back().foresight += sheet.CellNumber(r, kColDist);
        }
    }
    for (SetUpBalance& setUp : balance.setUps) {
        setUp.imbalance = setUp.backsight - setUp.foresight;
        running += setUp.imbalance;
        setUp.running = running;
        setUp.flagged = std::fabs(setUp.imbalance) > limits.imbalanceLimit ||
                        std::fabs(setUp.running) > limits.runningLimit;
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

constexpr double kInstrumentAgreement = 0.0001;  // m

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
    differences.flagged = differences.limit && std::fabs(differences.largest) > *differences.limit;
    return differences;
}

InstrumentCheck Instrument(const grid::Grid& sheet, const RunState& run) {
    InstrumentCheck check;
    if (!run.instrument.startZ || run.FirstDataRow <= 0) return check;
    const double firstRL = sheet.CellNumber(run.FirstDataRow, kColRL);
    for (const InstrumentRecord::Height& height : run.instrument.heights) {
        if (height.row < run.FirstDataRow || height.row > run.LastDataRow) continue;
        const double difference =
            (height.z - *run.instrument.startZ) - (sheet.CellNumber(height.row, kColRL) - firstRL);
        ++check.compared;
        if (check.row == 0 || std::fabs(difference) > std::fabs(check.largestDifference)) {
            check.largestDifference = difference;
            check.row = height.row;
        }
    }
    check.flagged = std::fabs(check.largestDifference) > kInstrumentAgreement;
    return check;
}

}  // namespace

RunChecks CheckRun(const grid::Grid& sheet, const RunState& run,
                   const std::optional<ReductionResult>& reduction, const CheckLimits& limits) {
    RunChecks checks;
    checks.reduced = HasSummaryBlock(sheet, run);
    checks.hasRLs = checks.reduced || HasRLs(sheet, run);
    if (!checks.reduced) {
        checks.notReduced = reduction && reduction->status != ReductionStatus::Reduced
                                ? NotReducedInWords(*reduction, run)
                                : "the run has not been reduced";
    }
    if (!checks.hasRLs) return checks;
    checks.arithmetic = Arithmetic(sheet, run);
    checks.balance = Balance(sheet, run, limits);
    checks.stationDifferences = Differences(run, limits);
    checks.instrument = Instrument(sheet, run);
    if (!checks.reduced) return checks;  // no misclose without an ending RL

    ToleranceVerdict verdict;
    const int32_t last = run.LastDataRow;
    verdict.misclose = sheet.CellNumber(last + 3, kColRL);
    verdict.classMm = limits.toleranceMm.value_or(2.0);
    const double km = std::max(0.0, sheet.CellNumber(last + 5, kColRL) / 1000.0);
    verdict.permissible = verdict.classMm * std::sqrt(km) / 1000.0;
    verdict.ratio =
        verdict.permissible > 0 ? std::fabs(verdict.misclose) / verdict.permissible : INFINITY;
    verdict.within = std::fabs(verdict.misclose) <= verdict.permissible;
    checks.tolerance = verdict;
    return checks;
}

std::string InstrumentNotes(const RunChecks& checks) {
    std::string notes;
    const StationDifferences& d = checks.stationDifferences;
    if (!d.setUps.empty()) {
        notes += " The largest station difference is " + Metres(d.largest) + " m, at set-up " +
                 std::to_string(d.setUp);
        if (d.limit) {
            notes += (d.flagged ? ", beyond " : ", within ") +
                     grid::GeneralNumberText(*d.limit * 1000) + " mm";
        }
        notes += ".";
    }
    const InstrumentCheck& i = checks.instrument;
    if (i.compared > 0) {
        notes += i.flagged
                     ? " The instrument's heights differ from the sheet's RLs by " +
                           Metres(i.largestDifference) + " m at row " + std::to_string(i.row) +
                           ": the field book was edited, or read wrong."
                     : " The instrument's heights agree with the sheet's RLs (" +
                           std::to_string(i.compared) + " compared).";
    }
    return notes;
}

std::string MiscloseNote(const RunChecks& checks) {
    if (!checks.reduced || !checks.tolerance || !checks.arithmetic) {
        return "Not reduced: " + checks.notReduced + ".";
    }
    const ToleranceVerdict& v = *checks.tolerance;
    std::string note = v.within
                           ? "The misclose of " + Metres(std::fabs(v.misclose)) +
                                 " m is within the permissible " + Metres(v.permissible) + " m."
                           : "The misclose exceeds the permissible " + Metres(v.permissible) +
                                 " m by " + Metres(std::fabs(v.misclose) - v.permissible) + " m.";
    const ArithmeticCheck& a = *checks.arithmetic;
    note += " Arithmetic check: \u03a3BS \u2212 \u03a3FS = " + Metres(a.ReadingDifference()) +
            ", \u03a3Rise \u2212 \u03a3Fall = " + Metres(a.RiseFallDifference()) +
            ", last RL \u2212 first RL = " + Metres(a.RLDifference()) +
            (a.agrees ? "; they agree." : "; it fails.");
    for (const std::string& text : a.textCells) note += " " + text;
    if (!a.agrees && a.textCells.empty()) note += " Reduce the run again after an edit.";
    note += InstrumentNotes(checks);
    return note;
}

std::string PermissibleNote(const RunChecks& checks) {
    if (!checks.reduced || !checks.tolerance) return {};
    const ToleranceVerdict& v = *checks.tolerance;
    return "The permissible error is " + grid::GeneralNumberText(v.classMm) +
           " mm \u00d7 \u221aK, K the length of the run in kilometres: " + Metres(v.permissible) +
           " m.";
}

std::string BalanceNote(const RunChecks& checks) {
    if (!checks.reduced) return {};
    const SightBalance& b = checks.balance;
    std::string note =
        "Sight balance: the largest imbalance of backsight and foresight lengths "
        "is " +
        Metres(b.largestImbalance, "0.00") + " m, at set-up " + std::to_string(b.largestSetUp) +
        "; the largest running sum is " + Metres(b.largestRunning, "0.00") + " m.";
    note += (b.flagged ? " Beyond the limits of " : " Both are within ") +
            grid::GeneralNumberText(b.imbalanceLimit) + " m a set-up" +
            (b.flagged ? " or " : " and ") + grid::GeneralNumberText(b.runningLimit) + " m in all.";
    return note;
}

}  // namespace rendle::core
