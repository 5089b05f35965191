#include "report/TextReport.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "grid/Grid.h"
#include "grid/Utf8.h"

namespace rendle::report {

std::string LevelReport(const grid::Grid& sheet) {
    const std::vector<int32_t> columns = grid::ShownColumns(sheet);
    const int32_t rows = sheet.LastUsedRow();
    auto isNumber = [&](int32_t r, int32_t col) {
        return sheet.CellAt(r, col).kind == grid::CellKind::Number;
    };
    // A text that may run on over the empty cell to its right does not widen its column, so a
    // long label such as "Length of Level Run(m)" keeps the column narrow.
    auto runsOn = [&](int32_t r, size_t i) {
        return grid::RunOnEnd(sheet, r, columns, i, INFINITY, [](size_t) { return 0.0; }) > i + 1;
    };
    std::vector<size_t> widths(columns.size(), 0);
    for (int32_t r = 1; r <= rows; ++r) {
        for (size_t i = 0; i < columns.size(); ++i) {
            if (!runsOn(r, i))
                widths[i] = std::max(widths[i], sheet.CellText(r, columns[i]).size());
        }
    }
    std::string report;
    for (int32_t r = 1; r <= rows; ++r) {
        std::string line;
        size_t start = 0;
        for (size_t i = 0; i < columns.size(); ++i) {
            const std::string text = grid::ValidUtf8(sheet.CellText(r, columns[i]));
            // Numbers line up on the right of their column, texts on the left.
            const size_t at = isNumber(r, columns[i]) ? start + widths[i] - text.size() : start;
            if (!text.empty()) {
                if (line.size() < at) line.resize(at, ' ');
                line.replace(at, std::min(text.size(), line.size() - at), text);
            }
            start += widths[i] + 2;
        }
        line.erase(line.find_last_not_of(' ') + 1);
        report += line + "\n";
    }
    return report;
}

}  // namespace rendle::report
