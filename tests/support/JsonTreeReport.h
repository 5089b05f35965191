// The JSON report as it was first written, by building a document tree with nlohmann::json and
// dumping it. The report written as it goes must give the same bytes; the tests and the report
// fuzz target compare the two.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/BatchRun.h"

namespace rendle::test {

namespace tree_detail {

using nlohmann::json;

inline json ChecksJson(const core::RunChecks& checks) {
    json out = {{"reduced", checks.reduced}};
    if (!checks.reduced) {
        out["notReduced"] = checks.notReduced;
        return out;
    }
    const core::ArithmeticCheck& a = *checks.arithmetic;
    out["arithmetic"] = {{"sumBS", a.sumBS},
                         {"sumFS", a.sumFS},
                         {"sumRise", a.sumRise},
                         {"sumFall", a.sumFall},
                         {"bsMinusFs", a.ReadingDifference()},
                         {"riseMinusFall", a.RiseFallDifference()},
                         {"lastMinusFirstRL", a.RLDifference()},
                         {"agrees", a.agrees}};
    const core::ToleranceVerdict& t = *checks.tolerance;
    out["tolerance"] = {{"misclose", t.misclose},
                        {"classMm", t.classMm},
                        {"permissible", t.permissible},
                        {"ratio", t.ratio},
                        {"verdict", t.within ? "within" : "exceeds"}};
    json setUps = json::array();
    for (const core::SetUpBalance& s : checks.balance.setUps) {
        setUps.push_back({{"setUp", s.setUp},
                          {"backsight", s.backsight},
                          {"foresight", s.foresight},
                          {"imbalance", s.imbalance},
                          {"running", s.running},
                          {"flagged", s.flagged}});
    }
    out["balance"] = {{"setUps", setUps},
                      {"largestImbalance", checks.balance.largestImbalance},
                      {"largestRunning", checks.balance.largestRunning},
                      {"imbalanceLimit", checks.balance.imbalanceLimit},
                      {"runningLimit", checks.balance.runningLimit},
                      {"flagged", checks.balance.flagged}};
    return out;
}

inline json RLJson(const core::RLValue& value) {
    if (const double* number = std::get_if<double>(&value)) return *number;
    if (const std::string* text = std::get_if<std::string>(&value)) return *text;
    return nullptr;
}

}  // namespace tree_detail

inline std::string JsonTreeReport(const grid::Grid& sheet, const core::RunState& run,
                                  const commands::ReadCommandResult& outcome,
                                  const std::vector<cli::ShownMessage>& messages,
                                  const core::RunChecks* checks = nullptr,
                                  const std::string* fieldBook = nullptr) {
    using namespace tree_detail;
    using cli::OutcomeName;
    using cli::ShownMessage;
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
                entry["display"] = sheet.CellText(r, c);
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

    json document = {
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
    if (checks) document["checks"] = ChecksJson(*checks);
    if (fieldBook) document["fieldBook"] = *fieldBook;
    // Texts are UTF-8 inside the program; anything that is not (a path of unknown encoding in a
    // message) is shown with U+FFFD rather than ending the run.
    return document.dump(fieldBook ? -1 : 2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace rendle::test
