#include "report/JsonReport.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <sstream>

#include "grid/JsonWriter.h"
#include "grid/Utf8.h"

namespace rendle::report {

using readers::ReadStatus;

namespace {

/// A warning's kind as the JSON document names it.
const char* WarningKindName(readers::WarningKind kind) {
    switch (kind) {
        case readers::WarningKind::InstrumentDiffers:
            return "instrument-differs";
        case readers::WarningKind::TakenAgain:
            return "taken-again";
        case readers::WarningKind::Edited:
            return "edited";
        case readers::WarningKind::OpenSetUp:
            return "open-set-up";
        case readers::WarningKind::NoNumber:
            break;
    }
    return "no-number";
}

/// Every figure of the report (metres, but for a ratio and a class's mm) is written to a
/// nanometre: no reading or height is finer, and no binary noise is passed on.
constexpr double kNanometres = 1e9;

/// `text` as a JSON string at `p`, which has room for six bytes a byte of it; where it goes on.
/// A quote, a backslash and a control character are escaped as RapidJSON escapes them, other
/// bytes of valid UTF-8 go as they are, and a text that is not valid UTF-8 is made so (U+FFFD).
char* PutJsonText(char* p, std::string_view text) {
    std::string valid;
    if (!grid::IsAscii(text) && !grid::IsValidUtf8(text)) {
        valid = grid::ValidUtf8(text);
        text = valid;  // U+FFFD takes three bytes for one: room enough still
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    *p++ = '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            *p++ = '\\';
            *p++ = c;
        } else if (byte < 0x20) {
            const char* named = c == '\b'   ? "b"
                                : c == '\f' ? "f"
                                : c == '\n' ? "n"
                                : c == '\r' ? "r"
                                : c == '\t' ? "t"
                                            : nullptr;
            *p++ = '\\';
            if (named) {
                *p++ = *named;
            } else {
                for (const char u : {'u', '0', '0'}) *p++ = u;
                *p++ = kHex[byte >> 4];
                *p++ = kHex[byte & 15];
            }
        } else {
            *p++ = c;
        }
    }
    *p++ = '"';
    return p;
}

/// Written out to the stream past this many bytes, so that a large sheet is never held whole.
constexpr size_t kFlushBytes = size_t{64} * 1024;

/// The JSON document of one book, written as it goes through RapidJSON's writer (one line, or
/// laid out with a two-space indent).
template <typename Writer>
class JsonReportWriter {
  public:
    JsonReportWriter(std::ostream& out, Writer& writer, rapidjson::StringBuffer& buffer,
                     bool pretty)
        : out_(out), w_(writer), j_(writer, kNanometres), buffer_(buffer), pretty_(pretty) {}

    void Document(const grid::Grid& sheet, const core::RunState& run,
                  const commands::ReadCommandResult& outcome,
                  const std::vector<commands::ShownMessage>& messages,
                  const core::RunChecks* checks, const JsonContext& context) {
        w_.StartObject();
        Key("fieldBook");
        if (context.fieldBook) {
            String(*context.fieldBook);
        } else {
            w_.Null();
        }
        // Which levelling line of its book this is: 1 of 1 for a book of one.
        const RunOfBook oneOfOne;
        const RunOfBook& runOfBook = context.runOfBook ? *context.runOfBook : oneOfOne;
        Key("run");
        w_.StartObject();
        Member("number", runOfBook.number);
        Member("of", runOfBook.of);
        Key("name");
        if (runOfBook.name.empty()) {
            w_.Null();
        } else {
            String(runOfBook.name);
        }
        w_.EndObject();
        Member("outcome", OutcomeName(outcome));
        // Why the read did not end normally, and on which line: null for a read that did.
        const bool read = outcome.read.status == readers::ReadStatus::Read;
        Key("reason");
        if (read) {
            w_.Null();
        } else {
            String(outcome.read.reason);
        }
        Key("line");
        if (read) {
            w_.Null();
        } else {
            w_.Uint64(outcome.read.line);
        }
        Key("messages");
        w_.StartArray();
        for (const commands::ShownMessage& message : messages) {
            w_.StartObject();
            Member("title", message.title);
            Member("text", message.text);
            Member("icon", "critical");
            w_.EndObject();
        }
        w_.EndArray();
        // What the read met that the surveyor should know of, apart from the message boxes of
        // "messages": the first 20, and how many more there were.
        Key("warnings");
        w_.StartArray();
        for (const readers::ReadWarning& warning : outcome.read.warnings.Told()) {
            w_.StartObject();
            Key("line");
            w_.Uint64(warning.line);
            Member("kind", WarningKindName(warning.kind));
            Member("text", warning.text);
            w_.EndObject();
        }
        w_.EndArray();
        Key("moreWarnings");
        w_.Uint64(outcome.read.warnings.More());
        Key("formRL");
        if (outcome.formRL) {
            w_.StartObject();
            Member("start", outcome.formRL->start);
            Member("end", outcome.formRL->end);
            w_.EndObject();
        } else {
            w_.Null();
        }
        Key("runState");
        w_.StartObject();
        Member("FirstDataRow", run.FirstDataRow);
        Member("LastDataRow", run.LastDataRow);
        Member("StationCount", run.StationCount);
        RL("EnteredStartRL", run.EnteredStartRL);
        // The run state keeps the RL of the last data row in StartRL once the run is reduced:
        // each is given under its own name.
        RL("StartRL", outcome.reduction ? outcome.reduction->startRL : run.StartRL);
        Key("LastRL");
        if (outcome.reduction && outcome.reduction->reduced.hasRLs) {
            RLValue(run.StartRL);
        } else {
            w_.Null();
        }
        RL("EndRL", run.EndRL);
        w_.EndObject();
        Key("outputs");
        w_.StartObject();
        j_.MemberOutput("workbook", context.outputs ? context.outputs->workbook : std::nullopt);
        j_.MemberOutput("pdf", context.outputs ? context.outputs->pdf : std::nullopt);
        w_.EndObject();
        if (checks) {
            Checks(*checks);
        } else {
            Key("checks");
            w_.Null();
        }
        Sheet(sheet);
        w_.EndObject();
        Flush();
    }

  private:
    void Flush() {
        out_.write(buffer_.GetString(), static_cast<std::streamsize>(buffer_.GetSize()));
        buffer_.Clear();
    }

    void String(std::string_view text) { j_.String(text); }
    void Key(std::string_view key) { j_.Key(key); }
    void Number(double value) { j_.Number(value); }
    template <typename T>
    void Write(const T& value) {
        j_.Write(value);
    }
    template <typename T>
    void Member(std::string_view key, const T& value) {
        j_.Member(key, value);
    }

    void RL(std::string_view key, const core::RLValue& value) {
        Key(key);
        RLValue(value);
    }

    /// An RL as the run state holds it: a number, a text as typed, or null when empty.
    void RLValue(const core::RLValue& value) {
        if (const double* number = std::get_if<double>(&value)) {
            Number(*number);
        } else if (const std::string* text = std::get_if<std::string>(&value)) {
            String(*text);
        } else {
            w_.Null();
        }
    }

    void Checks(const core::RunChecks& checks) {
        Key("checks");
        w_.StartObject();
        Member("reduced", checks.reduced);
        Key("notReduced");
        if (checks.reduced) {
            w_.Null();
        } else {
            String(checks.notReduced);
        }
        if (!checks.arithmetic) {
            // A run without RLs has none of the checks: each is null.
            for (const char* key :
                 {"arithmetic", "tolerance", "stationDifferences", "instrument", "balance"}) {
                Key(key);
                w_.Null();
            }
            ClassOrNull(checks);
            CorrectionsOrNull(checks);
            w_.EndObject();
            return;
        }
        const core::ArithmeticCheck& a = *checks.arithmetic;
        Key("arithmetic");
        w_.StartObject();
        Member("sumBS", a.sumBS);
        Member("sumFS", a.sumFS);
        Member("sumRise", a.sumRise);
        Member("sumFall", a.sumFall);
        Member("bsMinusFs", a.ReadingDifference());
        Member("riseMinusFall", a.RiseFallDifference());
        Member("lastMinusFirstRL", a.RLDifference());
        Member("agrees", a.agrees);
        Key("openSetUp");
        if (a.openSetUp != 0) {
            w_.StartObject();
            Member("setUp", a.openSetUp);
            Member("row", a.openRow);
            w_.EndObject();
        } else {
            w_.Null();
        }
        w_.EndObject();

        Key("tolerance");
        if (!checks.tolerance) {
            w_.Null();
        } else {
            const core::ToleranceVerdict& t = *checks.tolerance;
            w_.StartObject();
            Member("misclose", t.misclose);
            j_.MemberPlain("classMm", t.classMm);
            Member("permissible", t.permissible);
            j_.MemberPlain("ratio", t.ratio);
            Member("verdict", t.within ? "within" : "exceeds");
            w_.EndObject();
        }

        const core::StationDifferences& d = checks.stationDifferences;
        Key("stationDifferences");
        w_.StartObject();
        Member("largest", d.largest);
        Member("setUp", d.setUp);
        Key("limit");
        if (d.limit) {
            Number(*d.limit);
        } else {
            w_.Null();
        }
        Member("flagged", d.flagged);
        Key("setUps");
        w_.StartArray();
        for (const auto& setUp : d.setUps) {
            w_.StartObject();
            Member("setUp", setUp.setUp);
            Member("difference", setUp.value);
            w_.EndObject();
        }
        w_.EndArray();
        w_.EndObject();

        const core::InstrumentCheck& i = checks.instrument;
        Key("instrument");
        w_.StartObject();
        Member("compared", i.compared);
        Member("largestDifference", i.largestDifference);
        Member("row", static_cast<int>(i.row));
        Member("setUp", i.setUp);
        Member("limit", i.limit);
        Key("resolution");
        if (i.resolution) {
            Number(*i.resolution);
        } else {
            w_.Null();
        }
        Member("flagged", i.flagged);
        w_.EndObject();

        const core::SightBalance& b = checks.balance;
        Key("balance");
        w_.StartObject();
        Key("setUps");
        w_.StartArray();
        for (const core::SetUpBalance& s : b.setUps) {
            w_.StartObject();
            Member("setUp", s.setUp);
            Member("backsight", s.backsight);
            Member("foresight", s.foresight);
            Member("imbalance", s.imbalance);
            Member("running", s.running);
            Member("flagged", s.flagged);
            w_.EndObject();
        }
        w_.EndArray();
        Member("largestImbalance", b.largestImbalance);
        Member("largestRunning", b.largestRunning);
        Member("imbalanceLimit", b.imbalanceLimit);
        Member("runningLimit", b.runningLimit);
        Member("flagged", b.flagged);
        w_.EndObject();
        ClassOrNull(checks);
        CorrectionsOrNull(checks);
        w_.EndObject();
    }

    /// The corrections of the readings: their totals over the run and the misclose with them,
    /// in metres, and the corrected RL of each named point; null when none were asked for.
    void CorrectionsOrNull(const core::RunChecks& checks) {
        Key("corrections");
        if (!checks.corrections) {
            w_.Null();
            return;
        }
        const core::RunCorrections& c = *checks.corrections;
        w_.StartObject();
        Member("made", c.words);
        Member("staff", c.staff);
        Member("curvatureRefraction", c.curvatureRefraction);
        Key("misclose");
        if (c.misclose) {
            Number(*c.misclose);
        } else {
            w_.Null();
        }
        Member("indexOffsetsLeft", c.indexLeft);
        Key("points");
        w_.StartArray();
        for (const core::RunCorrections::Point& p : c.points) {
            w_.StartObject();
            Member("station", p.station);
            Member("rl", p.rl);
            w_.EndObject();
        }
        w_.EndArray();
        w_.EndObject();
    }

    void ClassOrNull(const core::RunChecks& checks) {
        if (checks.byClass) {
            ByClass(*checks.byClass);
        } else {
            Key("class");
            w_.Null();
        }
    }

    /// What the tolerance class adds: each figure it sets, with the run's figure, the limit and
    /// the verdict, in metres; a figure the class does not set is null.
    void ByClass(const core::ClassChecks& byClass) {
        const core::ToleranceClass& row = *byClass.row;
        Key("class");
        w_.StartObject();
        Member("id", std::string_view(row.id));
        Member("name", std::string_view(row.name));
        Member("source", std::string_view(row.source));
        Member("checkAgainstStandard", row.checkAgainstStandard);
        Member("loop", byClass.loop);
        Key("fallback");
        if (byClass.fallback.empty()) {
            w_.Null();
        } else {
            String(byClass.fallback);
        }
        const auto figure = [&](std::string_view key, const std::optional<core::ClassFigure>& f,
                                const char* bad) {
            Key(key);
            if (!f) {
                w_.Null();  // a figure the class does not set
                return;
            }
            w_.StartObject();
            Member("figure", f->figure);
            Member("limit", f->limit);
            Member("verdict", f->within ? "within" : bad);
            w_.EndObject();
        };
        figure("misclose", byClass.misclose, "exceeds");
        figure("sightLength", byClass.longestSight, "exceeds");
        figure("shortestSight", byClass.shortestSight, "too-short");
        figure("balance", byClass.balanceSetUp, "exceeds");
        figure("balanceOverTheLine", byClass.balanceSection, "exceeds");
        figure("stationDifference", byClass.stationDifference, "exceeds");
        figure("perSetUp", byClass.perSetUp, "exceeds");
        figure("lowestReading", byClass.lowestReading, "too-low");
        figure("highestReading", byClass.highestReading, "exceeds");
        Key("method");
        if (byClass.method) {
            w_.StartObject();
            Member("figure", byClass.method->method);
            Member("limit", std::string_view(byClass.method->required));
            Member("verdict", byClass.method->verdict);
            w_.EndObject();
        } else {
            w_.Null();
        }
        w_.EndObject();
    }

    void Sheet(const grid::Grid& sheet) {
        Key("sheet");
        w_.StartObject();
        Member("title", sheet.SheetTitle());
        Key("columnHeadings");
        w_.StartObject();
        for (int32_t col = 1; col <= grid::kMaxCol; ++col) {
            if (sheet.HasColumnHeading(col)) Member(std::to_string(col), sheet.ColumnHeading(col));
        }
        w_.EndObject();
        Key("hiddenColumns");
        w_.StartArray();
        for (int32_t col = 1; col <= grid::kMaxCol; ++col) {
            if (sheet.ColumnHidden(col)) w_.Int(col);
        }
        w_.EndArray();
        Key("activeCell");
        w_.StartArray();
        w_.Int(sheet.ActiveRow());
        w_.Int(sheet.ActiveCol());
        w_.EndArray();

        // The cells are written straight to the stream, the writer told of an array it does not
        // write itself: each cell on a line of its own (thousands of cells, each a few members,
        // read best, and are written at a fraction of the cost, without a line per member),
        // written out by hand, its texts through the writer only where they need escaping.
        Key("cells");
        w_.RawValue("", 0, rapidjson::kArrayType);
        Flush();
        std::string cells = "[";
        const std::string_view between = pretty_ ? ",\n      " : ",";
        bool first = true;
        const int32_t lastCol = sheet.LastUsedCol();
        for (int32_t r = 1; r <= sheet.LastUsedRow(); ++r) {
            for (int32_t c = 1; c <= lastCol; ++c) {
                const grid::Cell& at = sheet.CellAt(r, c);
                if (at.kind == grid::CellKind::Empty) continue;
                const grid::CellFormat& format = sheet.FormatAt(r, c);
                const std::string_view text = at.kind == grid::CellKind::Text
                                                  ? std::string_view(at.text)
                                                  : sheet.ShownText(r, c);
                // Room for the cell's fixed parts and its texts escaped at their longest.
                const size_t start = cells.size();
                cells.resize(start + 160 + 6 * (text.size() + format.numberFormat.size()));
                char* p = cells.data() + start;
                const auto put = [&p](std::string_view part) {
                    std::memcpy(p, part.data(), part.size());
                    p += part.size();
                };
                put(first ? (pretty_ ? "\n      " : "") : between);
                first = false;
                put(R"({"row":)");
                p = std::to_chars(p, p + 12, r).ptr;
                put(R"(,"col":)");
                p = std::to_chars(p, p + 12, c).ptr;
                if (at.kind == grid::CellKind::Text) {
                    put(R"(,"text":)");
                } else {
                    put(R"(,"number":)");
                    std::array<char, grid::kJsonNumberBytes> number{};
                    const size_t length = grid::JsonNumberText(at.number, kNanometres, number);
                    put(length == 0 ? std::string_view("null")
                                    : std::string_view(number.data(), length));
                    put(R"(,"display":)");
                }
                p = PutJsonText(p, text);
                if (format.bold) put(R"(,"bold":true)");
                if (!format.numberFormat.empty()) {
                    put(R"(,"format":)");
                    p = PutJsonText(p, format.numberFormat);
                }
                put("}");
                cells.resize(static_cast<size_t>(p - cells.data()));
            }
            if (cells.size() >= kFlushBytes) {
                out_.write(cells.data(), static_cast<std::streamsize>(cells.size()));
                cells.clear();
            }
        }
        cells += first || !pretty_ ? "]" : "\n    ]";
        out_.write(cells.data(), static_cast<std::streamsize>(cells.size()));
        w_.EndObject();
    }

  private:
    std::ostream& out_;
    Writer& w_;
    grid::JsonWriter<Writer> j_;
    rapidjson::StringBuffer& buffer_;
    bool pretty_;  ///< laid out over lines, two blanks a level
};

}  // namespace

void WriteJsonReport(std::ostream& out, const grid::Grid& sheet, const core::RunState& run,
                     const commands::ReadCommandResult& outcome,
                     const std::vector<commands::ShownMessage>& messages,
                     const core::RunChecks* checks, const JsonContext& context) {
    rapidjson::StringBuffer buffer;
    if (context.oneLine) {
        // One line of JSON Lines for a book of many.
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        JsonReportWriter(out, writer, buffer, false)
            .Document(sheet, run, outcome, messages, checks, context);
    } else {
        rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
        writer.SetIndent(' ', 2);
        JsonReportWriter(out, writer, buffer, true)
            .Document(sheet, run, outcome, messages, checks, context);
    }
    out << '\n';
}

std::string JsonReport(const grid::Grid& sheet, const core::RunState& run,
                       const commands::ReadCommandResult& outcome,
                       const std::vector<commands::ShownMessage>& messages,
                       const core::RunChecks* checks, const JsonContext& context) {
    std::ostringstream out;
    WriteJsonReport(out, sheet, run, outcome, messages, checks, context);
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

}  // namespace rendle::report
