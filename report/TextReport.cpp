#include "report/TextReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <vector>

#include "core/Checks.h"
#include "core/Verdict.h"
#include "grid/Grid.h"
#include "grid/NumberFormat.h"
#include "grid/Utf8.h"

namespace rendle::report {

namespace {

/// Cuts `line` back to at most `width` display columns, at a character boundary.
void ClipToWidth(std::string& line, size_t width) {
    size_t shown = 0;
    for (size_t i = 0; i < line.size();) {
        const size_t length = grid::Utf8SequenceLength(line, i);
        const auto w = static_cast<size_t>(grid::CharacterWidth(grid::CodePoint(line, i, length)));
        if (shown + w > width) {
            line.resize(i);
            return;
        }
        shown += w;
        i += length;
    }
}

}  // namespace

std::string LevelReport(const grid::Grid& sheet) {
    const std::vector<int32_t> columns = grid::ShownColumns(sheet);
    const auto rows = static_cast<size_t>(std::max(sheet.LastUsedRow(), 0));
    // Each cell's shown text and its width, made once for both passes. The texts are the
    // sheet's own, but for the few that must be escaped, which are kept aside.
    struct Shown {
        std::string_view text;
        size_t width = 0;
        bool number = false;
    };
    std::vector<Shown> shown(rows * columns.size());
    std::deque<std::string> escaped;
    std::vector<size_t> widths(columns.size(), 0);
    for (size_t r = 0; r < rows; ++r) {
        const auto row = static_cast<int32_t>(r + 1);
        for (size_t i = 0; i < columns.size(); ++i) {
            const grid::Cell& stored = sheet.CellAt(row, columns[i]);
            if (stored.kind == grid::CellKind::Empty) continue;
            Shown& cell = shown[r * columns.size() + i];
            cell.text = sheet.ShownText(row, columns[i]);
            cell.number = stored.kind == grid::CellKind::Number;
            if (grid::IsPrintableAscii(cell.text)) {
                cell.width = cell.text.size();
            } else {
                cell.text = escaped.emplace_back(EscapedText(cell.text));
                cell.width = grid::DisplayWidth(cell.text);
            }
            // A text that may run on over the empty cell to its right does not widen its
            // column, so a long label such as "Length of Level Run(m)" keeps the column narrow.
            const bool runsOn = !cell.number && grid::RunOnEnd(sheet, row, columns, i, INFINITY,
                                                               [](size_t) { return 0.0; }) > i + 1;
            if (!runsOn) widths[i] = std::max(widths[i], cell.width);
        }
    }
    size_t lineBound = 0;
    for (const size_t width : widths) lineBound += width + 2;
    std::string report;
    report.reserve(rows * (lineBound + 1));
    std::string line;
    for (size_t r = 0; r < rows; ++r) {
        line.clear();
        size_t lineWidth = 0;
        size_t start = 0;
        for (size_t i = 0; i < columns.size(); ++i) {
            const Shown& cell = shown[r * columns.size() + i];
            if (!cell.text.empty()) {
                // Numbers line up on the right of their column, texts on the left; a text that
                // ran on from the left stops where this cell begins.
                const size_t at = cell.number ? start + widths[i] - cell.width : start;
                if (lineWidth > at) {
                    ClipToWidth(line, at);
                    lineWidth = grid::DisplayWidth(line);
                }
                line.append(at - lineWidth, ' ');
                line += cell.text;
                lineWidth = at + cell.width;
            }
            start += widths[i] + 2;
        }
        line.erase(line.find_last_not_of(' ') + 1);
        report += line;
        report += '\n';
    }
    return report;
}

namespace {

/// A class's figures in a line: "misclose 5 mm x sqrt(K); longest sight 40 m; ...".
std::string ClassFigures(const core::ToleranceClass& row) {
    const auto plain = [](double value) { return grid::GeneralNumberText(value); };
    std::string figures;
    const auto add = [&](const std::string& figure) {
        figures += (figures.empty() ? "" : "; ") + figure;
    };
    if (row.lineMm) add("misclose " + plain(*row.lineMm) + " mm x sqrt(K)");
    if (row.loopMm) add("loop " + plain(*row.loopMm) + " mm x sqrt(E)");
    if (row.longestSight) add("longest sight " + plain(*row.longestSight) + " m");
    if (row.shortestSight) add("shortest sight " + plain(*row.shortestSight) + " m");
    if (row.balanceSetUp) add("balance " + plain(*row.balanceSetUp) + " m a set-up");
    if (row.balanceSection) add(plain(*row.balanceSection) + " m over the line");
    if (row.stationDifferenceMm) {
        add("station difference " + plain(*row.stationDifferenceMm) + " mm");
    }
    if (row.perSetUpMm) add("misclose " + plain(*row.perSetUpMm) + " mm x sqrt(n set-ups)");
    if (row.roundTripMm) add("round trip " + plain(*row.roundTripMm) + " mm x sqrt(K one way)");
    if (row.lowestReading) add("lowest reading " + plain(*row.lowestReading) + " m");
    if (row.highestReading) add("highest reading " + plain(*row.highestReading) + " m");
    if (!row.method.empty()) add("method " + std::string(row.method));
    return figures;
}

std::string ClassSource(const core::ToleranceClass& row) {
    return std::string(row.source) +
           (row.checkAgainstStandard ? " (check against the standard)" : "");
}

}  // namespace

std::string ClassReport(const core::ClassChecks& byClass) {
    const core::ToleranceClass& row = *byClass.row;
    const auto plain = [](double value) { return grid::GeneralNumberText(value); };
    // Each figure at the decimals it was judged with; the class's own limits as it writes them.
    const auto metres = [](const core::ClassFigure& f) {
        return core::FixedText(f.figure, f.decimals);
    };
    const auto verdict = [](const core::ClassFigure& f, const char* bad) {
        return f.within ? std::string("within") : std::string(bad);
    };
    std::string report = "  class " + std::string(row.id) + " (" + std::string(row.name) + "; " +
                         ClassSource(row) + ")\n";
    if (const auto& m = byClass.misclose) {
        report +=
            "    misclose " + core::MillimetreText(m->figure, m->decimals) + " mm against " +
            core::MillimetreText(m->limit, m->decimals) + " mm" + (byClass.loop ? " (a loop" : "") +
            (byClass.fallback.empty() ? "" : (byClass.loop ? "; " : " (") + byClass.fallback) +
            (byClass.loop || !byClass.fallback.empty() ? ")" : "") + ": " + verdict(*m, "EXCEEDS") +
            "\n";
    }
    if (const auto& f = byClass.longestSight) {
        report += "    longest sight " + metres(*f) + " m (limit " + plain(f->limit) +
                  " m): " + verdict(*f, "EXCEEDS") + "\n";
    }
    if (const auto& f = byClass.shortestSight) {
        report += "    shortest sight " + metres(*f) + " m (at least " + plain(f->limit) +
                  " m): " + (f->within ? "within" : "TOO SHORT") + "\n";
    }
    if (const auto& f = byClass.balanceSetUp) {
        report += "    balance of a set-up " + metres(*f) + " m (limit " + plain(f->limit) +
                  " m): " + verdict(*f, "EXCEEDS") + "\n";
    }
    if (const auto& f = byClass.balanceSection) {
        report += "    balance over the line " + metres(*f) + " m (limit " + plain(f->limit) +
                  " m): " + verdict(*f, "EXCEEDS") + "\n";
    }
    if (const auto& f = byClass.stationDifference) {
        report += "    station difference " + core::MillimetreText(f->figure, f->decimals) +
                  " mm (limit " + plain(f->limit * 1000) + " mm): " + verdict(*f, "EXCEEDS") + "\n";
    }
    if (const auto& f = byClass.perSetUp) {
        report += "    misclose " + core::MillimetreText(f->figure, f->decimals) + " mm against " +
                  core::MillimetreText(f->limit, f->decimals) + " mm by set-ups (" +
                  plain(*row.perSetUpMm) + " mm x sqrt(n)): " + verdict(*f, "EXCEEDS") + "\n";
    }
    if (const auto& f = byClass.lowestReading) {
        report += "    lowest reading " + metres(*f) + " m (at least " + plain(f->limit) +
                  " m): " + (f->within ? "within" : "TOO LOW") + "\n";
    }
    if (const auto& f = byClass.highestReading) {
        report += "    highest reading " + metres(*f) + " m (at most " + plain(f->limit) +
                  " m): " + verdict(*f, "EXCEEDS") + "\n";
    }
    if (const auto& m = byClass.method) {
        report += "    method " + m->method + " (the class asks for " + std::string(m->required) +
                  "): " + (m->verdict == "fails" ? std::string("FAILS") : m->verdict) + "\n";
    }
    return report;
}

std::string ClassList() {
    std::string list;
    for (const core::ToleranceClass& row : core::ToleranceClasses()) {
        list += std::string(row.id) + "  " + std::string(row.name) + "\n  " + ClassFigures(row) +
                "\n  source: " + ClassSource(row) + "\n";
    }
    return list;
}

std::string CorrectionsReport(const core::RunChecks& checks) {
    if (!checks.corrections) return {};
    const core::RunCorrections& c = *checks.corrections;
    const auto mm = [](double metres) { return grid::FormatNumber(metres * 1000, "0.000"); };
    const auto heights = [](double value) { return grid::FormatNumber(value, "0.0000"); };
    std::string report = "\nCorrections (the level sheet keeps the readings as booked)\n";
    report += "  corrected for " + c.words + "\n";
    report += "  staff: " + mm(c.staff) + " mm over the run\n";
    report += "  curvature and refraction: " + mm(c.curvatureRefraction) + " mm over the run\n";
    if (c.indexLeft) {
        report +=
            "  the index offsets of the two staffs do not cancel: " + std::to_string(c.setUps) +
            " set-ups, an odd number (corrected)\n";
    }
    if (c.misclose) report += "  misclose corrected: " + heights(*c.misclose) + " m\n";
    report += "  RLs corrected (before the misclose is spread):\n";
    for (const core::RunCorrections::Point& p : c.points) {
        std::string station = EscapedText(p.station);
        if (station.size() < 12) station.resize(12, ' ');
        // RLs right-aligned, so that their decimal points stand in one column.
        std::string rl = heights(p.rl);
        if (rl.size() < 10) rl.insert(0, 10 - rl.size(), ' ');
        report.append("    ").append(station).append(" ").append(rl).append("\n");
    }
    return report;
}

std::string ChecksReport(const core::RunChecks& checks) {
    std::string report = "\nChecks\n";
    for (const std::string& warning : checks.fieldWarnings) {
        report += "  field book: " + EscapedText(warning) + "\n";
    }
    if (!checks.arithmetic) return report + "  not reduced: " + checks.notReduced + "\n";
    const auto heights = [](double value) { return grid::FormatNumber(value, "0.0000"); };
    const auto lengths = [](double value) { return grid::FormatNumber(value, "0.00"); };
    const auto plain = [](double value) { return grid::GeneralNumberText(value); };

    const core::ArithmeticCheck& a = *checks.arithmetic;
    const std::array<std::string, 3> figures = core::ArithmeticFigures(a);
    // RLs so large (1e308) that a double holds no tenth of a millimetre of them lose the
    // differences: reducing again cannot mend that.
    const double largestRL = std::max(std::fabs(a.firstRL), std::fabs(a.lastRL));
    const bool rlsTooLarge =
        !std::isfinite(largestRL) || std::nextafter(largestRL, INFINITY) - largestRL > 1e-4;
    report += "  arithmetic: sum BS - sum FS = " + figures[0] + ", rise - fall = " + figures[1] +
              ", last RL - first RL = " + figures[2] + ": " +
              (a.agrees      ? "agree"
               : rlsTooLarge ? "DO NOT AGREE (the RLs are too large to hold their differences)"
               : checks.fieldWarnings.empty() ? "DO NOT AGREE (reduce the run again)"
                                              : "DO NOT AGREE (see the fields above)") +
              "\n";
    if (a.openSetUp != 0) {
        report += "    " + core::OpenSetUpInWords(a) + "\n";
    }
    if (checks.tolerance) {
        const core::ToleranceVerdict& t = *checks.tolerance;
        // A run of no length has no permissible error to measure the misclose against.
        // A misclose past what a ratio can hold (an RL of 1e308) is no run of no length.
        const std::string ratio = std::isfinite(t.ratio) ? "ratio " + lengths(t.ratio)
                                  : t.permissible > 0
                                      ? "no ratio: the misclose is too large to compare"
                                      : "no ratio: the run has no length";
        report += "  misclose " + heights(t.misclose) + " m against " + plain(t.classMm) +
                  " mm x sqrt(K) = " + heights(t.permissible) +
                  " m: " + (t.within ? "within" : "EXCEEDS") + " (" + ratio + ")\n";
    } else {
        report += "  misclose: none, " + checks.notReduced + "\n";
    }
    // Differences in mm, to as many decimals as their limit and the book's last digit need.
    const core::StationDifferences& d = checks.stationDifferences;
    const core::InstrumentCheck& i = checks.instrument;
    if (!d.setUps.empty()) {
        const int decimals = d.decimals;
        report +=
            "  station differences: largest " + core::MillimetreText(d.largest, decimals) +
            " mm at set-up " + std::to_string(d.setUp) +
            (d.limit ? " (limit " + plain(*d.limit * 1000) + " mm)" + (d.flagged ? ": FLAGGED" : "")
                     : std::string(" (no limit given)")) +
            "\n";
    }
    if (i.compared > 0) {
        const int decimals = core::MillimetreDecimals(i.limit, i.resolution);
        report +=
            "  instrument heights, set-up by set-up: " + std::to_string(i.compared) +
            " compared, largest difference " + core::MillimetreText(i.largestDifference, decimals) +
            " mm at set-up " + std::to_string(i.setUp) + " (row " + std::to_string(i.row) +
            "), limit " + core::MillimetreText(i.limit, decimals) + " mm" +
            (i.flagged ? ": DIFFER (the field book was edited, or read wrong)" : ": agree") + "\n";
    }
    if (checks.byClass) report += ClassReport(*checks.byClass);
    const core::SightBalance& b = checks.balance;
    report += "  sight balance: largest imbalance " + lengths(b.largestImbalance) +
              " m, largest running sum " + lengths(b.largestRunning) + " m (limits " +
              plain(b.imbalanceLimit) + " m and " + plain(b.runningLimit) + " m)" +
              (b.flagged ? ": FLAGGED" : "") + "\n";
    for (const core::SetUpBalance& s : b.setUps) {
        if (!s.flagged) continue;
        report += "    set-up " + std::to_string(s.setUp) + ": BS " + lengths(s.backsight) +
                  " m, FS " + lengths(s.foresight) + " m, imbalance " + lengths(s.imbalance) +
                  " m, running " + lengths(s.running) + " m\n";
    }
    return report;
}

}  // namespace rendle::report
