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
    check.agrees =
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
        if (std::fabs(setUp.imbalance) > std::fabs(balance.largestImbalance)) {
            balance.largestImbalance = setUp.imbalance;
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
            return std::holds_alternative<std::monostate>(run.EndRL) ||
                           RLText(run.EndRL).find_first_not_of(' ') == std::string::npos
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
    if (!checks.reduced) {
        checks.notReduced = reduction && reduction->status != ReductionStatus::Reduced
                                ? NotReducedInWords(*reduction, run)
                                : "the run has not been reduced";
        return checks;
    }
    checks.arithmetic = Arithmetic(sheet, run);
    checks.balance = Balance(sheet, run, limits);
    checks.stationDifferences = Differences(run, limits);
    checks.instrument = Instrument(sheet, run);

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
        notes += "; largest station difference " + Metres(d.largest) + " m at set-up " +
                 std::to_string(d.setUp);
        if (d.limit) {
            notes += d.flagged ? " (beyond " + grid::GeneralNumberText(*d.limit * 1000) + " mm)"
                               : " (within " + grid::GeneralNumberText(*d.limit * 1000) + " mm)";
        }
    }
    const InstrumentCheck& i = checks.instrument;
    if (i.compared > 0) {
        notes += i.flagged ? "; the instrument's heights differ by " + Metres(i.largestDifference) +
                                 " m at row " + std::to_string(i.row) +
                                 ": the field book was edited, or read wrong"
                           : "; the instrument's heights agree (" + std::to_string(i.compared) +
                                 " compared)";
    }
    return notes;
}

std::string MiscloseNote(const RunChecks& checks) {
    if (!checks.reduced || !checks.tolerance || !checks.arithmetic) return checks.notReduced;
    const ToleranceVerdict& v = *checks.tolerance;
    std::string note = v.within ? "within the permissible " + Metres(v.permissible) + " m"
                                : "exceeds the permissible " + Metres(v.permissible) + " m by " +
                                      Metres(std::fabs(v.misclose) - v.permissible) + " m";
    const ArithmeticCheck& a = *checks.arithmetic;
    if (a.agrees) {
        note +=
            "; arithmetic check agrees: \u03a3BS \u2212 \u03a3FS = \u03a3Rise \u2212 \u03a3Fall "
            "= " +
            Metres(a.ReadingDifference());
    } else {
        note += "; arithmetic check fails: \u03a3BS \u2212 \u03a3FS = " +
                Metres(a.ReadingDifference()) +
                ", \u03a3Rise \u2212 \u03a3Fall = " + Metres(a.RiseFallDifference()) +
                ", last RL \u2212 first RL = " + Metres(a.RLDifference()) +
                " (reduce the run again after an edit)";
    }
    note += InstrumentNotes(checks);
    return note;
}

std::string BalanceNote(const RunChecks& checks) {
    if (!checks.reduced) return checks.notReduced;
    const SightBalance& b = checks.balance;
    std::string note = "sight balance: largest imbalance of a set-up " +
                       Metres(b.largestImbalance, "0.00") + " m, largest running sum " +
                       Metres(b.largestRunning, "0.00") + " m";
    note += b.flagged
                ? " (beyond " + grid::GeneralNumberText(b.imbalanceLimit) + " m a set-up or " +
                      grid::GeneralNumberText(b.runningLimit) + " m in all)"
                : " (within " + grid::GeneralNumberText(b.imbalanceLimit) + " m and " +
                      grid::GeneralNumberText(b.runningLimit) + " m)";
    return note;
}

}  // namespace rendle::core
