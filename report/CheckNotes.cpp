#include "report/CheckNotes.h"

#include <array>
#include <cmath>

#include "core/Verdict.h"
#include "grid/NumberFormat.h"

namespace rendle::report {

namespace {

/// A height or misclose as the sheet shows it ("0.0000"); a length with `pattern` "0.00".
std::string Metres(double value, std::string_view pattern = "0.0000") {
    return grid::FormatNumber(value, pattern);
}

}  // namespace

std::string InstrumentNotes(const core::RunChecks& checks) {
    std::string notes;
    const core::StationDifferences& d = checks.stationDifferences;
    const core::InstrumentCheck& i = checks.instrument;
    if (!d.setUps.empty()) {
        const int decimals = d.decimals;
        notes += " The largest station difference is " + core::MillimetreText(d.largest, decimals) +
                 " mm, at set-up " + std::to_string(d.setUp);
        if (d.limit) {
            notes += (d.flagged ? ", beyond " : ", within ") +
                     grid::GeneralNumberText(*d.limit * 1000) + " mm";
        }
        notes += ".";
    }
    if (i.compared > 0) {
        const int decimals = core::MillimetreDecimals(i.limit, i.resolution);
        notes += i.flagged
                     ? " The instrument's heights differ from the sheet's RLs by " +
                           core::MillimetreText(i.largestDifference, decimals) + " mm at set-up " +
                           std::to_string(i.setUp) + " (row " + std::to_string(i.row) +
                           "), beyond " + core::MillimetreText(i.limit, decimals) +
                           " mm: the field book was edited, or read wrong."
                     : " The instrument's heights agree with the sheet's RLs set-up by set-up "
                       "within " +
                           core::MillimetreText(i.limit, decimals) + " mm (" +
                           std::to_string(i.compared) + " compared).";
    }
    return notes;
}

std::string MiscloseNote(const core::RunChecks& checks) {
    if (!checks.reduced || !checks.tolerance || !checks.arithmetic) {
        return "Not reduced: " + checks.notReduced + ".";
    }
    const core::ToleranceVerdict& v = *checks.tolerance;
    std::string note =
        v.within ? "The misclose of " + Metres(std::fabs(v.misclose)) +
                       " m is within the permissible " + Metres(v.permissible) + " m."
                 : "The misclose exceeds the permissible " + Metres(v.permissible) + " m by " +
                       Metres(core::AsPrinted(std::fabs(v.misclose), 4) -
                              core::AsPrinted(v.permissible, 4)) +
                       " m.";
    const core::ArithmeticCheck& a = *checks.arithmetic;
    const std::array<std::string, 3> figures = core::ArithmeticFigures(a);
    note += " Arithmetic check: \u03a3BS \u2212 \u03a3FS = " + figures[0] +
            ", \u03a3Rise \u2212 \u03a3Fall = " + figures[1] +
            ", last RL \u2212 first RL = " + figures[2] +
            (a.agrees ? "; they agree." : "; it fails.");
    if (a.openSetUp != 0) note += " The " + core::OpenSetUpInWords(a);
    for (const std::string& text : a.textCells) note += " " + text;
    if (!a.agrees && a.textCells.empty()) note += " Reduce the run again after an edit.";
    note += InstrumentNotes(checks);
    return note;
}

std::string PermissibleNote(const core::RunChecks& checks) {
    if (!checks.reduced || !checks.tolerance) return {};
    const core::ToleranceVerdict& v = *checks.tolerance;
    return "The permissible error is " + grid::GeneralNumberText(v.classMm) +
           " mm \u00d7 \u221aK, K the length of the run in kilometres: " + Metres(v.permissible) +
           " m.";
}

std::string BalanceNote(const core::RunChecks& checks) {
    if (!checks.reduced) return {};
    const core::SightBalance& b = checks.balance;
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

}  // namespace rendle::report
