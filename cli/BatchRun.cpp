#include "cli/BatchRun.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "readers/FieldBookLine.h"

namespace rendle::cli {

using nlohmann::json;
using readers::FieldBookFormat;
using readers::ReadEnd;

BatchWindowing::BatchWindowing(std::string fieldBook, std::optional<std::string> startRL,
                               std::optional<std::string> endRL)
    : fieldBook_(std::move(fieldBook)), startRL_(std::move(startRL)), endRL_(std::move(endRL)) {}

void BatchWindowing::ShowMessage(std::string_view text, std::string_view title, core::MessageIcon) {
    messages.push_back({std::string(title), std::string(text)});
}

std::string BatchWindowing::ShowOpenFileDialog(std::string_view, std::string_view) {
    return fieldBook_;
}

std::optional<core::RLBoxes> BatchWindowing::ShowFormRL(const core::RLBoxes& boxes) {
    core::RLBoxes typed = boxes;
    if (startRL_) typed.start = *startRL_;
    if (endRL_) typed.end = *endRL_;
    return typed;
}

void BatchWindowing::SaveAsDialog(std::string_view, core::FileSpec& fileSpec) {
    fileSpec.FileSpecName = saveName_;
}

void BatchWindowing::PrintSheet(const grid::Grid& sheet) {
    if (print_) print_(sheet);
}

std::optional<FieldBookFormat> DetectFormat(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    readers::LineReader lines(in);
    std::string line;
    bool first = true;
    while (lines.Next(line)) {
        if (first && line.starts_with("For M5")) return FieldBookFormat::M5;
        first = false;
        const std::optional<double> code = readers::NumericValue(readers::Field(line, 1, 2));
        if (code && *code == 0) {
            const std::string_view model = readers::Field(line, 5, 5);
            if (model == "SDR20") return FieldBookFormat::SDR20;
            if (model == "SDR33") return FieldBookFormat::SDR33;
        }
    }
    if (lines.Failed()) error = "cannot read " + path;
    return std::nullopt;
}

namespace {

std::vector<int32_t> VisibleColumns(const grid::Grid& sheet) {
    std::vector<int32_t> columns;
    const int32_t last = std::max<int32_t>(8, sheet.LastUsedCol());
    for (int32_t col = 1; col <= last; ++col) {
        if (!sheet.ColumnHidden(col)) columns.push_back(col);
    }
    return columns;
}

json RLJson(const core::RLValue& value) {
    if (const double* number = std::get_if<double>(&value)) return *number;
    if (const std::string* text = std::get_if<std::string>(&value)) return *text;
    return nullptr;
}

}  // namespace

std::string LevelReport(const grid::Grid& sheet) {
    const std::vector<int32_t> columns = VisibleColumns(sheet);
    const int32_t rows = sheet.LastUsedRow();
    auto isNumber = [&](int32_t r, int32_t col) {
        return sheet.CellAt(r, col).kind == grid::CellKind::Number;
    };
    // As on a spreadsheet, a text runs on over empty cells to its right, so a long label such
    // as "Length of Level Run(m)" does not widen its column.
    std::vector<size_t> widths(columns.size(), 0);
    for (int32_t r = 1; r <= rows; ++r) {
        for (size_t i = 0; i < columns.size(); ++i) {
            const size_t width = sheet.DisplayText(r, columns[i]).size();
            const bool spills = !isNumber(r, columns[i]) && i + 1 < columns.size() &&
                                sheet.CellAt(r, columns[i + 1]).kind == grid::CellKind::Empty;
            if (!spills) widths[i] = std::max(widths[i], width);
        }
    }
    std::string report;
    for (int32_t r = 1; r <= rows; ++r) {
        std::string line;
        size_t start = 0;
        for (size_t i = 0; i < columns.size(); ++i) {
            const std::string text = sheet.DisplayText(r, columns[i]);
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

std::string JsonReport(const grid::Grid& sheet, const core::RunState& run,
                       const readers::ReadOutcome& outcome,
                       const std::vector<ShownMessage>& messages) {
    json headings = json::object();
    json hidden = json::array();
    for (int32_t col = 1; col <= grid::kMaxCol; ++col) {
        if (sheet.HasColumnHeading(col)) headings[std::to_string(col)] = sheet.ColumnHeading(col);
        if (sheet.ColumnHidden(col)) hidden.push_back(col);
    }
    json cells = json::array();
    const int32_t lastCol = sheet.LastUsedCol();
    for (int32_t r = 1; r <= sheet.LastUsedRow(); ++r) {
        for (int32_t c = 1; c <= lastCol; ++c) {
            const grid::Cell& cell = sheet.CellAt(r, c);
            if (cell.kind == grid::CellKind::Empty) continue;
            json entry = {{"row", r}, {"col", c}};
            if (cell.kind == grid::CellKind::Text) {
                entry["text"] = cell.text;
            } else {
                entry["number"] = cell.number;
                entry["display"] = sheet.DisplayText(r, c);
            }
            const grid::CellFormat& format = sheet.FormatAt(r, c);
            if (format.bold) entry["bold"] = true;
            if (!format.numberFormat.empty()) entry["format"] = format.numberFormat;
            cells.push_back(std::move(entry));
        }
    }
    json shown = json::array();
    for (const ShownMessage& message : messages) {
        shown.push_back({{"title", message.title}, {"text", message.text}, {"icon", "critical"}});
    }
    json formRL = nullptr;
    if (outcome.formRL) formRL = {{"start", outcome.formRL->start}, {"end", outcome.formRL->end}};

    const json document = {
        {"sheet",
         {{"title", sheet.SheetTitle()},
          {"columnHeadings", headings},
          {"hiddenColumns", hidden},
          {"activeCell", {sheet.ActiveRow(), sheet.ActiveCol()}},
          {"cells", cells}}},
        {"run",
         {{"FirstDataRow", run.FirstDataRow},
          {"LastDataRow", run.LastDataRow},
          {"StationCount", run.StationCount},
          {"EnteredStartRL", RLJson(run.EnteredStartRL)},
          {"StartRL", RLJson(run.StartRL)},
          {"EndRL", RLJson(run.EndRL)}}},
        {"formRL", formRL},
        {"messages", shown},
        {"outcome", OutcomeName(outcome)},
    };
    return document.dump(2) + "\n";
}

std::string OutcomeName(const readers::ReadOutcome& outcome) {
    if (outcome.end != ReadEnd::ReachedReduction || !outcome.reduction) return "read-failed";
    switch (outcome.reduction->status) {
        case core::ReductionStatus::Reduced:
            return "reduced";
        case core::ReductionStatus::Stopped:
            return "reduction-stopped";
        case core::ReductionStatus::NoData:
            break;
    }
    return "no-data";
}

int ExitStatus(const readers::ReadOutcome& outcome) {
    switch (outcome.end) {
        case ReadEnd::ReachedReduction:
            return outcome.reduction && outcome.reduction->status == core::ReductionStatus::Reduced
                       ? 0
                       : 3;
        case ReadEnd::EndedWithMessage:
            return 2;
        case ReadEnd::EndedSilently:
            break;
    }
    return 1;
}

}  // namespace rendle::cli
