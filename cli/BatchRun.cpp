#include "cli/BatchRun.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "cli/JsonWriter.h"
#include "grid/Utf8.h"
#include "readers/FieldBookLine.h"

namespace rendle::cli {

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

void WriteChecks(JsonWriter& json, const core::RunChecks& checks) {
    json.BeginObject();
    if (!checks.reduced) {
        json.Member("notReduced", checks.notReduced);
        json.Member("reduced", false);
        json.EndObject();
        return;
    }
    const core::ArithmeticCheck& a = *checks.arithmetic;
    json.Key("arithmetic");
    json.BeginObject();
    json.Member("agrees", a.agrees);
    json.Member("bsMinusFs", a.ReadingDifference());
    json.Member("lastMinusFirstRL", a.RLDifference());
    json.Member("riseMinusFall", a.RiseFallDifference());
    json.Member("sumBS", a.sumBS);
    json.Member("sumFS", a.sumFS);
    json.Member("sumFall", a.sumFall);
    json.Member("sumRise", a.sumRise);
    json.EndObject();

    const core::SightBalance& b = checks.balance;
    json.Key("balance");
    json.BeginObject();
    json.Member("flagged", b.flagged);
    json.Member("imbalanceLimit", b.imbalanceLimit);
    json.Member("largestImbalance", b.largestImbalance);
    json.Member("largestRunning", b.largestRunning);
    json.Member("runningLimit", b.runningLimit);
    json.Key("setUps");
    json.BeginArray();
    for (const core::SetUpBalance& s : b.setUps) {
        json.BeginObject();
        json.Member("backsight", s.backsight);
        json.Member("flagged", s.flagged);
        json.Member("foresight", s.foresight);
        json.Member("imbalance", s.imbalance);
        json.Member("running", s.running);
        json.Member("setUp", s.setUp);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();

    json.Member("reduced", true);

    const core::ToleranceVerdict& t = *checks.tolerance;
    json.Key("tolerance");
    json.BeginObject();
    json.Member("classMm", t.classMm);
    json.Member("misclose", t.misclose);
    json.Member("permissible", t.permissible);
    json.Member("ratio", t.ratio);
    json.Member("verdict", t.within ? "within" : "exceeds");
    json.EndObject();
    json.EndObject();
}

void WriteRL(JsonWriter& json, std::string_view key, const core::RLValue& value) {
    json.Key(key);
    if (const double* number = std::get_if<double>(&value)) {
        json.Number(*number);
    } else if (const std::string* text = std::get_if<std::string>(&value)) {
        json.String(*text);
    } else {
        json.Null();
    }
}

void WriteSheet(JsonWriter& json, const grid::Grid& sheet) {
    json.BeginObject();
    json.Key("activeCell");
    json.BeginArray();
    json.Integer(sheet.ActiveRow());
    json.Integer(sheet.ActiveCol());
    json.EndArray();

    json.Key("cells");
    json.BeginArray();
    const int32_t lastCol = sheet.LastUsedCol();
    for (int32_t r = 1; r <= sheet.LastUsedRow(); ++r) {
        for (int32_t c = 1; c <= lastCol; ++c) {
            const grid::Cell& cell = sheet.CellAt(r, c);
            if (cell.kind == grid::CellKind::Empty) continue;
            const grid::CellFormat& format = sheet.FormatAt(r, c);
            json.BeginObject();
            if (format.bold) json.Member("bold", true);
            json.Member("col", c);
            if (cell.kind != grid::CellKind::Text) json.Member("display", sheet.CellText(r, c));
            if (!format.numberFormat.empty()) json.Member("format", format.numberFormat);
            if (cell.kind != grid::CellKind::Text) json.Member("number", cell.number);
            json.Member("row", r);
            if (cell.kind == grid::CellKind::Text) json.Member("text", cell.text);
            json.EndObject();
        }
    }
    json.EndArray();

    // Column headings keyed by the column number as text, in the byte order of those keys
    // ("1", "10", "2") as the library sorted them.
    std::vector<std::string> headed;
    for (int32_t col = 1; col <= grid::kMaxCol; ++col) {
        if (sheet.HasColumnHeading(col)) headed.push_back(std::to_string(col));
    }
    std::sort(headed.begin(), headed.end());
    json.Key("columnHeadings");
    json.BeginObject();
    for (const std::string& col : headed) json.Member(col, sheet.ColumnHeading(std::stoi(col)));
    json.EndObject();

    json.Key("hiddenColumns");
    json.BeginArray();
    for (int32_t col = 1; col <= grid::kMaxCol; ++col) {
        if (sheet.ColumnHidden(col)) json.Integer(col);
    }
    json.EndArray();
    json.Member("title", sheet.SheetTitle());
    json.EndObject();
}

}  // namespace

void WriteJsonReport(std::ostream& out, const grid::Grid& sheet, const core::RunState& run,
                     const commands::ReadCommandResult& outcome,
                     const std::vector<ShownMessage>& messages, const core::RunChecks* checks,
                     const std::string* fieldBook) {
    // Members in the byte order of their names. Texts are UTF-8 inside the program; anything
    // that is not (a path of unknown encoding in a message) is shown with U+FFFD.
    JsonWriter json(out, fieldBook ? -1 : 2);
    json.BeginObject();
    if (checks) {
        json.Key("checks");
        WriteChecks(json, *checks);
    }
    if (fieldBook) json.Member("fieldBook", *fieldBook);
    json.Key("formRL");
    if (outcome.formRL) {
        json.BeginObject();
        json.Member("end", outcome.formRL->end);
        json.Member("start", outcome.formRL->start);
        json.EndObject();
    } else {
        json.Null();
    }
    json.Key("messages");
    json.BeginArray();
    for (const ShownMessage& message : messages) {
        json.BeginObject();
        json.Member("icon", "critical");
        json.Member("text", message.text);
        json.Member("title", message.title);
        json.EndObject();
    }
    json.EndArray();
    json.Member("outcome", OutcomeName(outcome));
    json.Key("run");
    json.BeginObject();
    WriteRL(json, "EndRL", run.EndRL);
    WriteRL(json, "EnteredStartRL", run.EnteredStartRL);
    json.Member("FirstDataRow", run.FirstDataRow);
    json.Member("LastDataRow", run.LastDataRow);
    WriteRL(json, "StartRL", run.StartRL);
    json.Member("StationCount", run.StationCount);
    json.EndObject();
    json.Key("sheet");
    WriteSheet(json, sheet);
    json.EndObject();
    json.Flush();
    out << '\n';
}

std::string JsonReport(const grid::Grid& sheet, const core::RunState& run,
                       const commands::ReadCommandResult& outcome,
                       const std::vector<ShownMessage>& messages, const core::RunChecks* checks,
                       const std::string* fieldBook) {
    std::ostringstream out;
    WriteJsonReport(out, sheet, run, outcome, messages, checks, fieldBook);
    return out.str();
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
