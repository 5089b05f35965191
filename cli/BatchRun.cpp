#include "cli/BatchRun.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "grid/Utf8.h"
#include "readers/FieldBookLine.h"

namespace rendle::cli {

using nlohmann::json;
using readers::FieldBookFormat;
using readers::ReadStatus;

BatchWindowing::BatchWindowing(std::string fieldBook, std::optional<std::string> startRL,
                               std::optional<std::string> endRL)
    : fieldBook_(std::move(fieldBook)) {
    // What is typed into FormRL's boxes is text of the program's own, so UTF-8.
    if (startRL) startRL_ = grid::ValidUtf8(*startRL);
    if (endRL) endRL_ = grid::ValidUtf8(*endRL);
}

void BatchWindowing::ShowMessage(std::string_view text, std::string_view title,
                                 commands::MessageIcon) {
    messages.push_back({std::string(title), std::string(text)});
}

std::string BatchWindowing::ShowOpenFileDialog(std::string_view, std::string_view) {
    return fieldBook_;
}

std::optional<commands::RLBoxes> BatchWindowing::ShowFormRL(const commands::RLBoxes& boxes) {
    commands::RLBoxes typed = boxes;
    if (startRL_) typed.start = *startRL_;
    if (endRL_) typed.end = *endRL_;
    return typed;
}

void BatchWindowing::SaveAsDialog(std::string_view, commands::FileSpec& fileSpec) {
    fileSpec.FileSpecName = saveName_;
}

void BatchWindowing::PrintSheet(const grid::Grid& sheet) {
    if (print_) print_(sheet);
}

namespace {

json ChecksJson(const core::RunChecks& checks) {
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

json RLJson(const core::RLValue& value) {
    if (const double* number = std::get_if<double>(&value)) return *number;
    if (const std::string* text = std::get_if<std::string>(&value)) return *text;
    return nullptr;
}

}  // namespace

std::string JsonReport(const grid::Grid& sheet, const core::RunState& run,
                       const commands::ReadCommandResult& outcome,
                       const std::vector<ShownMessage>& messages, const core::RunChecks* checks) {
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
    // Texts are UTF-8 inside the program; anything that is not (a path of unknown encoding in a
    // message) is shown with U+FFFD rather than ending the run.
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string OutcomeName(const commands::ReadCommandResult& outcome) {
    if (outcome.read.status != ReadStatus::Read || !outcome.reduction) return "read-failed";
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

int ExitStatus(const commands::ReadCommandResult& outcome) {
    switch (outcome.read.status) {
        case ReadStatus::Read:
            return outcome.reduction && outcome.reduction->status == core::ReductionStatus::Reduced
                       ? 0
                       : 3;
        case ReadStatus::EndedWithMessage:
            return 2;
        case ReadStatus::EndedSilently:
            break;
    }
    return 1;
}

std::string ChecksReport(const core::RunChecks& checks) {
    std::string report = "\nChecks\n";
    if (!checks.reduced) return report + "  not reduced: " + checks.notReduced + "\n";
    char line[200];
    const core::ArithmeticCheck& a = *checks.arithmetic;
    std::snprintf(line, sizeof line,
                  "  arithmetic: sum BS - sum FS = %.4f, rise - fall = %.4f, last RL - first RL "
                  "= %.4f: %s\n",
                  a.ReadingDifference(), a.RiseFallDifference(), a.RLDifference(),
                  a.agrees ? "agree" : "DO NOT AGREE (reduce the run again)");
    report += line;
    const core::ToleranceVerdict& t = *checks.tolerance;
    std::snprintf(line, sizeof line,
                  "  misclose %.4f m against %g mm x sqrt(K) = %.4f m: %s (ratio %.2f)\n",
                  t.misclose, t.classMm, t.permissible, t.within ? "within" : "EXCEEDS", t.ratio);
    report += line;
    const core::SightBalance& b = checks.balance;
    std::snprintf(line, sizeof line,
                  "  sight balance: largest imbalance %.2f m, largest running sum %.2f m "
                  "(limits %g m and %g m)%s\n",
                  b.largestImbalance, b.largestRunning, b.imbalanceLimit, b.runningLimit,
                  b.flagged ? ": FLAGGED" : "");
    report += line;
    for (const core::SetUpBalance& s : b.setUps) {
        if (!s.flagged) continue;
        std::snprintf(line, sizeof line,
                      "    set-up %d: BS %.2f m, FS %.2f m, imbalance %.2f m, running %.2f m\n",
                      s.setUp, s.backsight, s.foresight, s.imbalance, s.running);
        report += line;
    }
    return report;
}

}  // namespace rendle::cli
