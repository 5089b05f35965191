#include "network/NetworkReport.h"

#include <rapidjson/ostreamwrapper.h>
#include <rapidjson/prettywriter.h>

#include <algorithm>
#include <cmath>
#include <string_view>

#include "core/Verdict.h"
#include "grid/JsonWriter.h"
#include "grid/NumberFormat.h"
#include "grid/Utf8.h"

namespace rendle::network {

namespace {

/// Millimetres to the hundredth, as misclosures are judged.
std::string Mm(double metres) {
    return core::FixedText(metres * 1000.0, kMillimetreDecimals);
}

/// Text padded with blanks to `width` columns of a terminal.
std::string Padded(const std::string& text, size_t width, bool right = false) {
    const size_t columns = grid::DisplayWidth(text);
    const std::string blanks(width > columns ? width - columns : 0, ' ');
    return right ? blanks + text : text + blanks;
}

std::string Joined(const std::vector<std::string>& points) {
    std::string text;
    for (const std::string& p : points) text += (text.empty() ? "" : " ") + p;
    return text;
}

/// "A to B", or "the height of A" for a weighted benchmark's row.
std::string Named(const AdjustedObservation& o) {
    return (o.benchmark ? "the height of " : o.observation.from + " to ") + o.observation.to;
}

std::string WeightsNote(const NetworkResult& result) {
    if (!result.sigma0) return "standard deviations a priori: no redundancy";
    return "standard deviations scaled by the a-posteriori sigma0";
}

void WriteClosures(const char* heading, const std::vector<ClosureCheck>& checks,
                   std::ostream& out) {
    if (checks.empty()) return;
    out << '\n' << heading << " (misclosure and limit in mm, length in km)\n";
    for (const ClosureCheck& c : checks) {
        // A check without a length is judged by the σ of its misclosure, and says so.
        out << "  " << Padded(c.id, 5, false) << Padded(Mm(c.misclosure), 9, true) << "  limit "
            << Padded(Mm(c.limit), 7, true) << (c.bySigma ? " by \u03c3" : "") << "  "
            << Padded(grid::FormatNumber(c.lengthKm, "0.000"), 8, true) << " km  "
            << (c.within ? "within " : "BEYOND ") << Joined(c.points);
        if (!c.source.empty()) out << "  (" << c.source << ")";
        if (c.holdsRemoved) out << "  [as measured, with an observation snooping removed]";
        out << '\n';
    }
}

using PrettyWriter = rapidjson::PrettyWriter<rapidjson::OStreamWrapper>;

/// The stream and writer a document is written through, made before the writer that uses them.
struct PrettyStream {
    explicit PrettyStream(std::ostream& out) : stream(out), writer(stream) {
        writer.SetIndent(' ', 2);
        writer.SetFormatOptions(rapidjson::kFormatSingleLineArray);
    }
    rapidjson::OStreamWrapper stream;
    PrettyWriter writer;
};

class Json : private PrettyStream, public grid::JsonWriter<PrettyWriter> {
  public:
    /// Lengths, heights and their σ to a nanometre, as rendle-reduce writes them.
    explicit Json(std::ostream& out) : PrettyStream(out), JsonWriter(writer, 1e9) {}
    void TextOrNull(const std::optional<std::string>& text) { Write(text); }
    void MemberTextOrNull(const char* key, const std::optional<std::string>& text) {
        Member(key, text);
    }
    PrettyWriter& Writer() { return Raw(); }
};

void JsonClosures(Json& j, const char* key, const std::vector<ClosureCheck>& checks) {
    auto& w = j.Writer();
    j.Key(key);
    w.StartArray();
    for (const ClosureCheck& c : checks) {
        w.StartObject();
        j.Member("id", c.id);
        j.Key("points");
        w.StartArray();
        for (const std::string& p : c.points) j.String(p);
        w.EndArray();
        j.Member("misclosure", c.misclosure);
        j.Member("length", c.lengthKm * 1000.0);
        j.Member("limit", c.limit);
        j.Member("bySigma", c.bySigma);
        j.Member("within", c.within);
        j.Member("source", c.source);
        j.Member("holdsRemoved", c.holdsRemoved);
        w.EndObject();
    }
    w.EndArray();
}

void HeadingRow(grid::Grid& sheet, const std::vector<std::string_view>& headings) {
    for (size_t c = 0; c < headings.size(); ++c) {
        sheet.SetCellText(1, static_cast<int32_t>(c) + 1, headings[c]);
    }
    sheet.SelectCells(1, 1, 1, static_cast<int32_t>(headings.size()));
    grid::FormatObject bold;
    bold.SetBold(true);
    sheet.ApplySelectionFormat(bold);
}

void Formatted(grid::Grid& sheet, int32_t col, int32_t lastRow, std::string_view pattern) {
    if (lastRow < 2) return;
    sheet.SelectCells(2, col, lastRow, col);
    sheet.SetSelectionNumberFormat(pattern);
}

/// Each column as wide as its longest text, about (7 units a character), within bounds; the
/// page header names the sheet and the page.
void FitColumns(grid::Grid& sheet, int32_t columns, int32_t lastRow) {
    constexpr int kPerCharacter = 7;
    constexpr int kWidest = 420;
    for (int32_t col = 1; col <= columns; ++col) {
        size_t longest = 0;
        for (int32_t row = 1; row <= lastRow; ++row) {
            longest = std::max(longest, grid::DisplayWidth(sheet.CellText(row, col)));
        }
        const int width = static_cast<int>(longest) * kPerCharacter + 12;
        sheet.SetColumnWidth(col, std::clamp(width, grid::kDefaultColumnWidthPx, kWidest));
    }
    sheet.SetPageHeader("&L&A&RPage &P of &N");
}

}  // namespace

void CheckWorkbookRows(size_t heights, size_t observations) {
    // A heading row above each sheet's rows.
    for (const auto& [rows, what] :
         {std::pair{heights, "heights"}, {observations, "observations"}}) {
        if (rows + 1 > static_cast<size_t>(grid::kMaxRow)) {
            throw NetworkError("the workbook cannot hold " + std::to_string(rows) + " " + what +
                               " (a sheet has " + std::to_string(grid::kMaxRow) +
                               " rows, one of them the headings)");
        }
    }
}

std::string FlagOf(const AdjustedObservation& o, double criticalW) {
    if (o.removed) return "removed";
    if (o.noCheck) return "no check";
    if (o.w && std::abs(*o.w) > criticalW) return "outlier";
    return "";
}

std::vector<std::string> Failures(const NetworkResult& result) {
    std::vector<std::string> failures;
    if (result.globalTest && !result.globalTest->passed) {
        failures.push_back("global test failed " + result.globalTest->side);
    }
    size_t outliers = 0;
    for (const AdjustedObservation& o : result.observations) {
        if (FlagOf(o, result.criticalW) == "outlier") ++outliers;
    }
    // "1 loop beyond its limit", "2 loops beyond their limits".
    const auto count = [&](size_t n, const std::string& one, const std::string& many) {
        if (n > 0) failures.push_back(std::to_string(n) + " " + (n == 1 ? one : many));
    };
    const std::string critical = grid::FormatNumber(result.criticalW, "0.00");
    count(outliers, "observation beyond " + critical, "observations beyond " + critical);
    const auto beyond = [](const std::vector<ClosureCheck>& checks) {
        return static_cast<size_t>(std::count_if(checks.begin(), checks.end(),
                                                 [](const ClosureCheck& c) { return !c.within; }));
    };
    count(beyond(result.loops), "loop beyond its limit", "loops beyond their limits");
    count(beyond(result.benchmarkLines), "line between benchmarks beyond its limit",
          "lines between benchmarks beyond their limits");
    count(beyond(result.doubleRuns), "section run twice beyond its limit",
          "sections run twice beyond their limits");
    count(result.inseparable.size(), "observation snooping cannot tell apart",
          "observations snooping cannot tell apart");
    return failures;
}

bool AllPassed(const NetworkResult& result) {
    return Failures(result).empty();
}

void WriteTextReport(const NetworkResult& result, const ReportSettings& settings,
                     std::ostream& out) {
    const size_t removed = result.snooping.size();
    out << "Levelling network adjusted by least squares\n\n";
    out << "Points: " << result.points << " (" << result.fixedPoints << " fixed, "
        << result.points - result.fixedPoints << " adjusted)"
        << (result.freeNetwork ? ", a free network" : "")
        << (result.freeNetwork && result.parts > 1
                ? " in " + std::to_string(result.parts) + " parts that share no point"
                : std::string())
        << '\n';
    out << "Observations: " << result.observations.size();
    if (removed > 0) out << " (" << removed << " removed by data snooping)";
    out << '\n';
    out << "Unknowns: " << result.unknowns << "  Redundancy: " << result.redundancy << '\n';
    out << "Weights: " << settings.weights << '\n';
    if (!settings.corrections.empty()) out << "Corrections: " << settings.corrections << '\n';
    if (!result.correlated.empty()) {
        // The blocks whose covariances weighted them, by the observations' numbers in the
        // table below.
        out << "Correlated blocks, weighted by their covariance matrices:";
        for (const CorrelatedBlock& b : result.correlated) {
            out << " (";
            for (size_t i = 0; i < b.observations.size(); ++i) {
                out << (i == 0 ? "" : " ") << b.observations[i] + 1;
            }
            out << ')';
        }
        out << '\n';
    }
    if (result.sigma0) {
        out << "sigma0 a posteriori: " << grid::FormatNumber(*result.sigma0, "0.000")
            << " (a priori 1)\n";
    } else {
        out << "sigma0 a posteriori: none, the network has no redundancy\n";
    }
    if (const auto& t = result.globalTest) {
        out << "Global test (chi-square, alpha " << grid::GeneralNumberText(settings.alpha) << ", "
            << t->dof << (t->dof == 1 ? " degree" : " degrees")
            << " of freedom): " << grid::FormatNumber(t->statistic, "0.000")
            << (t->passed ? " within " : " outside ") << grid::FormatNumber(t->lower, "0.000")
            << " .. " << grid::FormatNumber(t->upper, "0.000") << ": "
            << (t->passed
                    ? "passed"
                    : (t->side == "low" ? "failed low (the weights are too pessimistic, no blunder)"
                                        : "failed high (a blunder, or weights too optimistic)"))
            << '\n';
    }
    out << "Observations tested: |w| against " << grid::FormatNumber(result.criticalW, "0.00")
        << " (alpha0 " << grid::GeneralNumberText(settings.alpha0) << "), MDB at power "
        << grid::GeneralNumberText(settings.power) << " (lambda0 "
        << grid::FormatNumber(result.lambda0, "0.00") << ")\n";
    out << "Misclose limits: " << settings.tolerance
        << "; judged as printed, in mm to the "
           "hundredth\n";

    size_t width = 5;
    for (const AdjustedHeight& h : result.heights)
        width = std::max(width, h.point.size());  // bytes: room for any name
    width = std::min<size_t>(width, 24);

    const std::string confidence = grid::GeneralNumberText(result.confidence * 100);
    out << "\nHeights (m; SD and the half-width of the " << confidence
        << " % confidence interval in mm, " << WeightsNote(result) << ")\n";
    out << "  " << Padded("POINT", width) << "  " << Padded("HEIGHT", 12, true) << "  "
        << Padded("SD", 8, true) << "  " << Padded("CI " + confidence + "%", 9, true) << '\n';
    for (const AdjustedHeight& h : result.heights) {
        out << "  " << Padded(h.point, width) << "  "
            << Padded(grid::FormatNumber(h.height, "0.00000"), 12, true) << "  "
            << Padded(h.fixed ? "fixed" : Mm(h.sigma), 8, true) << "  "
            << Padded(h.fixed ? "" : "+-" + Mm(h.interval), 9, true) << '\n';
    }

    out << "\nObservations (dh and adjusted in m; v, SD of the adjusted dh, MDB, the estimated "
           "error v/r and the external reliability in mm)\n";
    out << "  " << Padded("FROM", width) << "  " << Padded("TO", width) << "  "
        << Padded("DH", 11, true) << "  " << Padded("ADJUSTED", 11, true) << "  "
        << Padded("V", 7, true) << "  " << Padded("SD ADJ", 6, true) << "  " << Padded("R", 5, true)
        << "  " << Padded("W", 6, true) << "  " << Padded("MDB", 7, true) << "  "
        << Padded("ERROR", 7, true) << "  " << Padded("EXT", 7, true) << "  FLAG / SOURCE\n";
    const auto optionalMm = [](const std::optional<double>& value) {
        return value ? Mm(*value) : std::string("-");
    };
    for (const AdjustedObservation& o : result.observations) {
        const Observation& ob = o.observation;
        out << "  " << Padded(o.benchmark ? "(height)" : ob.from, width) << "  "
            << Padded(ob.to, width) << "  "
            << Padded(grid::FormatNumber(ob.dh, "0.00000"), 11, true) << "  "
            << Padded(grid::FormatNumber(o.adjusted, "0.00000"), 11, true) << "  "
            << Padded(Mm(o.residual), 7, true) << "  " << Padded(Mm(o.sigmaAdjusted), 6, true)
            << "  " << Padded(grid::FormatNumber(o.redundancy, "0.00"), 5, true) << "  "
            << Padded(o.w ? grid::FormatNumber(*o.w, "0.00") : "-", 6, true) << "  "
            << Padded(optionalMm(o.mdb), 7, true) << "  "
            << Padded(optionalMm(o.estimatedError), 7, true) << "  "
            << Padded(optionalMm(o.externalReliability), 7, true) << "  ";
        const std::string flag = FlagOf(o, result.criticalW);
        if (!flag.empty()) out << flag << "  ";
        out << ob.source << '\n';
    }

    WriteClosures("Loops", result.loops, out);
    WriteClosures("Lines between benchmarks", result.benchmarkLines, out);
    WriteClosures("Sections run twice", result.doubleRuns, out);

    if (!result.snooping.empty() || !result.snoopingNote.empty()) {
        out << "\nData snooping (each removal, the largest |w| beyond "
            << grid::FormatNumber(result.criticalW, "0.00") << ", then adjusted again)\n";
        for (const SnoopingStep& step : result.snooping) {
            const AdjustedObservation& o = result.observations[step.observation];
            out << "  removed " << Named(o) << ": w " << grid::FormatNumber(step.w, "0.00")
                << ", estimated error " << Mm(step.error) << " mm  (" << o.observation.source
                << ")\n";
        }
        for (size_t k : result.inseparable) {
            const AdjustedObservation& o = result.observations[k];
            out << "  cannot tell apart: " << Named(o) << ": w "
                << (o.w ? grid::FormatNumber(*o.w, "0.00") : "-") << "  (" << o.observation.source
                << ")\n";
        }
        if (!result.snoopingNote.empty()) out << "  " << result.snoopingNote << '\n';
    }
}

void WriteJsonReport(const NetworkResult& result, const ReportSettings& settings, std::ostream& out,
                     const NetworkOutputs& outputs) {
    Json j(out);
    auto& w = j.Writer();
    w.StartObject();
    j.Member("points", result.points);
    j.Member("fixedPoints", result.fixedPoints);
    j.Member("freeNetwork", result.freeNetwork);
    j.Member("parts", result.parts);
    j.Member("unknowns", result.unknowns);
    j.Member("redundancy", result.redundancy);
    j.Member("weights", settings.weights);
    j.MemberTextOrNull("corrections", settings.corrections.empty()
                                          ? std::nullopt
                                          : std::optional(settings.corrections));
    j.Key("correlatedBlocks");
    w.StartArray();
    for (const CorrelatedBlock& b : result.correlated) {
        w.StartArray();
        for (const size_t k : b.observations) w.Uint64(k + 1);
        w.EndArray();
    }
    w.EndArray();
    j.MemberPlain("vtpv", result.vtpv);
    j.MemberPlain("sigma0", result.sigma0);
    j.Member("sigmaScaledBy", result.sigma0 ? "a posteriori" : "a priori");
    j.Key("globalTest");
    if (const auto& t = result.globalTest) {
        w.StartObject();
        j.MemberPlain("alpha", settings.alpha);
        j.Member("dof", t->dof);
        j.MemberPlain("statistic", t->statistic);
        j.MemberPlain("lower", t->lower);
        j.MemberPlain("upper", t->upper);
        j.Member("passed", t->passed);
        j.MemberTextOrNull("side", t->side.empty() ? std::nullopt : std::optional(t->side));
        w.EndObject();
    } else {
        w.Null();
    }
    j.MemberPlain("criticalW", result.criticalW);
    j.MemberPlain("lambda0", result.lambda0);

    j.Key("heights");
    w.StartArray();
    for (const AdjustedHeight& h : result.heights) {
        w.StartObject();
        j.Member("point", h.point);
        j.Member("height", h.height);
        j.Member("sigma", h.sigma);
        j.Member("sigmaApriori", h.sigmaApriori);
        j.Member("confidenceInterval", h.interval);
        j.Member("fixed", h.fixed);
        w.EndObject();
    }
    w.EndArray();

    j.Key("observations");
    w.StartArray();
    for (const AdjustedObservation& o : result.observations) {
        const Observation& ob = o.observation;
        w.StartObject();
        j.MemberTextOrNull("from", o.benchmark ? std::nullopt : std::optional(ob.from));
        j.Member("to", ob.to);
        // A weighted benchmark's row observes a height: "dh" holds it, from null.
        j.Member("kind", o.benchmark ? "height" : "dh");
        // As measured; the corrections and the value adjusted beside it.
        j.Member("dh", ob.dh - (ob.corrections ? ob.corrections->Total() : 0));
        j.Key("corrections");
        if (ob.corrections) {
            w.StartObject();
            j.Member("staff", ob.corrections->staff);
            j.Member("normalOrthometric", ob.corrections->normalOrthometric);
            j.Member("curvatureRefraction", ob.corrections->curvatureRefraction);
            w.EndObject();
        } else {
            w.Null();
        }
        j.Member("dhCorrected", ob.dh);
        j.Key("length");
        if (o.benchmark) {
            w.Null();
        } else {
            j.Number(ob.lengthKm * 1000.0);
        }
        j.Key("setups");
        if (ob.setUps) {
            w.Int(*ob.setUps);
        } else {
            w.Null();
        }
        j.Member("sigma", o.sigma);
        j.Member("adjusted", o.adjusted);
        j.Member("residual", o.residual);
        j.MemberPlain("redundancy", o.redundancy);
        j.Member("sigmaAdjusted", o.sigmaAdjusted);
        j.MemberPlain("w", o.w);
        j.Member("mdb", o.mdb);
        j.Member("estimatedError", o.estimatedError);
        j.Member("externalReliability", o.externalReliability);
        j.Key("flag");
        const std::string flag = FlagOf(o, result.criticalW);
        j.TextOrNull(flag.empty() ? std::nullopt : std::optional(flag));
        j.Member("removed", o.removed);
        j.Member("source", ob.source);
        w.EndObject();
    }
    w.EndArray();

    JsonClosures(j, "loops", result.loops);
    JsonClosures(j, "doubleRuns", result.doubleRuns);
    j.Key("benchmarkLines");
    w.StartArray();
    for (const ClosureCheck& c : result.benchmarkLines) {
        w.StartObject();
        j.Member("id", c.id);
        j.Member("from", c.points.front());
        j.Member("to", c.points.back());
        j.Key("points");
        w.StartArray();
        for (const std::string& p : c.points) j.String(p);
        w.EndArray();
        j.Member("misclosure", c.misclosure);
        j.Member("limit", c.limit);
        j.Member("bySigma", c.bySigma);
        j.MemberPlain("lengthKm", c.lengthKm);
        j.Member("verdict", c.within ? "within" : "beyond");
        j.Member("sources", c.source);
        j.Member("holdsRemoved", c.holdsRemoved);
        w.EndObject();
    }
    w.EndArray();

    j.Key("snooping");
    w.StartObject();
    j.Member("policy", settings.snooping);
    j.Key("removed");
    w.StartArray();
    for (const SnoopingStep& step : result.snooping) {
        const AdjustedObservation& o = result.observations[step.observation];
        w.StartObject();
        j.MemberTextOrNull("from", o.benchmark ? std::nullopt : std::optional(o.observation.from));
        j.Member("to", o.observation.to);
        j.Member("source", o.observation.source);
        j.MemberPlain("w", step.w);
        j.Member("error", step.error);
        w.EndObject();
    }
    w.EndArray();
    j.Key("inseparable");
    w.StartArray();
    for (size_t k : result.inseparable) {
        const AdjustedObservation& o = result.observations[k];
        w.StartObject();
        j.MemberTextOrNull("from", o.benchmark ? std::nullopt : std::optional(o.observation.from));
        j.Member("to", o.observation.to);
        j.Member("source", o.observation.source);
        j.MemberPlain("w", o.w);
        w.EndObject();
    }
    w.EndArray();
    j.MemberTextOrNull(
        "note", result.snoopingNote.empty() ? std::nullopt : std::optional(result.snoopingNote));
    w.EndObject();
    j.Key("failures");
    w.StartArray();
    for (const std::string& f : Failures(result)) j.String(f);
    w.EndArray();
    j.Key("outputs");
    w.StartObject();
    j.MemberOutput("workbook", outputs.workbook);
    j.MemberOutput("pdf", outputs.pdf);
    j.MemberOutput("svg", outputs.svg);
    j.MemberOutput("gamaXml", outputs.gamaXml);
    w.EndObject();
    w.EndObject();
    out << '\n';
}

grid::Grid HeightsSheet(const NetworkResult& result) {
    CheckWorkbookRows(result.heights.size(), 0);
    grid::Grid sheet;
    sheet.SetSheetTitle(1, "Heights");
    HeadingRow(sheet, {"Point", "Height (m)", "SD (mm)", "SD a priori (mm)", "Fixed",
                       "CI half-width (mm)"});
    int32_t row = 1;
    for (const AdjustedHeight& h : result.heights) {
        ++row;
        sheet.SetCellText(row, 1, h.point);
        sheet.SetCellNumber(row, 2, h.height);
        sheet.SetCellNumber(row, 3, h.sigma * 1000.0);
        sheet.SetCellNumber(row, 4, h.sigmaApriori * 1000.0);
        sheet.SetCellText(row, 5, h.fixed ? "fixed" : "");
        if (!h.fixed) sheet.SetCellNumber(row, 6, h.interval * 1000.0);
    }
    Formatted(sheet, 6, row, "0.00");
    Formatted(sheet, 2, row, "0.00000");
    Formatted(sheet, 3, row, "0.00");
    Formatted(sheet, 4, row, "0.00");
    FitColumns(sheet, 6, row);
    return sheet;
}

grid::Grid ObservationsSheet(const NetworkResult& result) {
    CheckWorkbookRows(0, result.observations.size());
    grid::Grid sheet;
    sheet.SetSheetTitle(1, "Observations");
    HeadingRow(sheet, {"From", "To", "dh (m)", "Length (km)", "Set-ups", "Adjusted (m)", "v (mm)",
                       "r", "w", "MDB (mm)", "Flag", "Source", "SD adjusted (mm)",
                       "Estimated error (mm)", "External reliability (mm)"});
    int32_t row = 1;
    for (const AdjustedObservation& o : result.observations) {
        ++row;
        const Observation& ob = o.observation;
        sheet.SetCellText(row, 1, o.benchmark ? "(height)" : ob.from);
        sheet.SetCellText(row, 2, ob.to);
        sheet.SetCellNumber(row, 3, ob.dh);
        if (!o.benchmark) sheet.SetCellNumber(row, 4, ob.lengthKm);
        if (ob.setUps) sheet.SetCellNumber(row, 5, *ob.setUps);
        sheet.SetCellNumber(row, 6, o.adjusted);
        sheet.SetCellNumber(row, 7, o.residual * 1000.0);
        sheet.SetCellNumber(row, 8, o.redundancy);
        if (o.w) sheet.SetCellNumber(row, 9, *o.w);
        if (o.mdb) sheet.SetCellNumber(row, 10, *o.mdb * 1000.0);
        sheet.SetCellText(row, 11, FlagOf(o, result.criticalW));
        sheet.SetCellText(row, 12, ob.source);
        sheet.SetCellNumber(row, 13, o.sigmaAdjusted * 1000.0);
        if (o.estimatedError) sheet.SetCellNumber(row, 14, *o.estimatedError * 1000.0);
        if (o.externalReliability) sheet.SetCellNumber(row, 15, *o.externalReliability * 1000.0);
    }
    for (int32_t col = 13; col <= 15; ++col) Formatted(sheet, col, row, "0.00");
    Formatted(sheet, 3, row, "0.00000");
    Formatted(sheet, 4, row, "0.000");
    Formatted(sheet, 6, row, "0.00000");
    Formatted(sheet, 7, row, "0.00");
    Formatted(sheet, 8, row, "0.00");
    Formatted(sheet, 9, row, "0.00");
    Formatted(sheet, 10, row, "0.00");
    FitColumns(sheet, 15, row);
    return sheet;
}

grid::Grid SummarySheet(const NetworkResult& result, const ReportSettings& settings) {
    grid::Grid sheet;
    sheet.SetSheetTitle(1, "Summary");
    HeadingRow(sheet, {"Item", "Value"});
    int32_t row = 1;
    const auto text = [&](std::string_view item, const std::string& value) {
        sheet.SetCellText(++row, 1, item);
        sheet.SetCellText(row, 2, value);
    };
    const auto number = [&](std::string_view item, double value, std::string_view pattern) {
        sheet.SetCellText(++row, 1, item);
        sheet.SetCellNumber(row, 2, value);
        if (!pattern.empty()) {
            sheet.SelectCells(row, 2, row, 2);
            sheet.SetSelectionNumberFormat(pattern);
        }
    };
    number("Points", result.points, "");
    number("Fixed points", result.fixedPoints, "");
    text("Free network", result.freeNetwork ? "yes" : "no");
    number("Observations", static_cast<double>(result.observations.size()), "");
    number("Removed by data snooping", static_cast<double>(result.snooping.size()), "");
    number("Unknowns", result.unknowns, "");
    number("Redundancy", result.redundancy, "");
    text("Weights", settings.weights);
    if (!settings.corrections.empty()) text("Corrections", settings.corrections);
    if (result.sigma0) {
        number("sigma0 a posteriori", *result.sigma0, "0.000");
    } else {
        text("sigma0 a posteriori", "none: no redundancy");
    }
    if (const auto& t = result.globalTest) {
        number("Global test alpha", settings.alpha, "");
        number("Global test statistic", t->statistic, "0.000");
        number("Global test lower bound", t->lower, "0.000");
        number("Global test upper bound", t->upper, "0.000");
        text("Global test", t->passed ? "passed" : "failed " + t->side);
    }
    number("Critical |w|", result.criticalW, "0.00");
    number("alpha0", settings.alpha0, "");
    number("MDB power", settings.power, "");
    number("lambda0", result.lambda0, "0.00");
    text("Misclose limits", settings.tolerance);
    text("Data snooping", settings.snooping);
    const std::vector<std::string> failures = Failures(result);
    std::string failed;
    for (const std::string& f : failures) failed += (failed.empty() ? "" : "; ") + f;
    text("Result", failed.empty() ? "every test passed" : failed);
    FitColumns(sheet, 2, row);
    return sheet;
}

grid::Grid ClosuresSheet(const std::vector<ClosureCheck>& checks, const std::string& title) {
    CheckWorkbookRows(0, checks.size());
    grid::Grid sheet;
    sheet.SetSheetTitle(1, title);
    HeadingRow(sheet, {"Id", "Points", "Misclosure (mm)", "Limit (mm)", "Length (km)", "Verdict",
                       "Source", "With a removed observation", "Limit by"});
    int32_t row = 1;
    for (const ClosureCheck& c : checks) {
        ++row;
        sheet.SetCellText(row, 1, c.id);
        sheet.SetCellText(row, 2, Joined(c.points));
        sheet.SetCellNumber(row, 3, c.misclosure * 1000.0);
        sheet.SetCellNumber(row, 4, c.limit * 1000.0);
        sheet.SetCellNumber(row, 5, c.lengthKm);
        sheet.SetCellText(row, 6, c.within ? "within" : "BEYOND");
        sheet.SetCellText(row, 7, c.source);
        sheet.SetCellText(row, 8, c.holdsRemoved ? "yes" : "");
        sheet.SetCellText(row, 9, c.bySigma ? "\u03c3 (no length)" : "length");
    }
    Formatted(sheet, 3, row, "0.00");
    Formatted(sheet, 4, row, "0.00");
    Formatted(sheet, 5, row, "0.000");
    FitColumns(sheet, 9, row);
    return sheet;
}

grid::Grid SnoopingSheet(const NetworkResult& result, const ReportSettings& settings) {
    CheckWorkbookRows(0, result.snooping.size() + result.inseparable.size() + 1);
    grid::Grid sheet;
    sheet.SetSheetTitle(1, "Snooping");
    HeadingRow(sheet, {"Round", "Action", "From", "To", "w", "Estimated error (mm)", "Source"});
    int32_t row = 1;
    const auto observation = [&](const AdjustedObservation& o) {
        sheet.SetCellText(row, 3, o.benchmark ? "(height)" : o.observation.from);
        sheet.SetCellText(row, 4, o.observation.to);
        sheet.SetCellText(row, 7, o.observation.source);
    };
    int round = 0;
    for (const SnoopingStep& step : result.snooping) {
        ++row;
        sheet.SetCellNumber(row, 1, ++round);
        sheet.SetCellText(row, 2, "removed");
        observation(result.observations[step.observation]);
        sheet.SetCellNumber(row, 5, step.w);
        sheet.SetCellNumber(row, 6, step.error * 1000.0);
    }
    for (const size_t k : result.inseparable) {
        ++row;
        sheet.SetCellText(row, 2, "cannot tell apart");
        const AdjustedObservation& o = result.observations[k];
        observation(o);
        if (o.w) sheet.SetCellNumber(row, 5, *o.w);
    }
    ++row;
    sheet.SetCellText(row, 2,
                      "policy: " + settings.snooping +
                          (result.snoopingNote.empty() ? "" : "; " + result.snoopingNote));
    Formatted(sheet, 5, row, "0.00");
    Formatted(sheet, 6, row, "0.00");
    FitColumns(sheet, 7, row);
    return sheet;
}

std::vector<grid::Grid> WorkbookSheets(const NetworkResult& result,
                                       const ReportSettings& settings) {
    std::vector<grid::Grid> sheets;
    sheets.push_back(SummarySheet(result, settings));
    sheets.push_back(HeightsSheet(result));
    sheets.push_back(ObservationsSheet(result));
    sheets.push_back(ClosuresSheet(result.loops, "Loops"));
    sheets.push_back(ClosuresSheet(result.benchmarkLines, "Lines between benchmarks"));
    sheets.push_back(ClosuresSheet(result.doubleRuns, "Sections run twice"));
    sheets.push_back(SnoopingSheet(result, settings));
    return sheets;
}

}  // namespace rendle::network
