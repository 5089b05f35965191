#include "readers/M5Book.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/LevelSheet.h"
#include "readers/SetUpBuilder.h"
#include "readers/SheetLayout.h"

namespace rendle::readers {

using parts::CheckNotCutOff;
using parts::Counter16;
using parts::MeasuredValue;
using parts::ReadPlace;
using parts::SetUpBuilder;
using parts::Sight;
using parts::Stop;

namespace {

// The value fields of an M5 line are 14 characters wide. The whole field is read: a narrower
// window would drop the sign of an inverted-staff reading (-0.45210) or the thousands of a
// height of 1000 m or more (1234.56789), silently.
constexpr size_t kM5ReadingPos = 53;
constexpr size_t kM5DistancePos = 76;
constexpr size_t kM5BenchmarkPos = 99;
constexpr size_t kM5ValueLength = 14;

/// How a levelling line reads its staffs: how many back and fore readings a set-up takes, and
/// whether they come in the order the sheet lays them out (BF alone, which is read line by
/// line as it always was).
struct M5Method {
    std::string name = "BF";
    int backs = 1;
    int fores = 1;
    bool inSheetOrder = true;
};

/// The levelling method named after "Start-Line" (as in "TO  Start-Line      aBFFB     1"), in
/// any letter case; nothing when the line names none. A word of the letters a, B and F that is
/// no known method ends the read with a message naming it.
std::optional<M5Method> M5MethodOf(std::string_view line) {
    constexpr std::string_view kStartLine = "Start-Line";
    const size_t at = line.find(kStartLine);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view rest = line.substr(at + kStartLine.size());
    const size_t begin = rest.find_first_not_of(' ');
    if (begin == std::string_view::npos) return std::nullopt;
    rest = rest.substr(begin);
    const std::string word(rest.substr(0, rest.find(' ')));
    if (word.find_first_not_of("aAbBfF") != std::string::npos) return std::nullopt;
    std::string lower = word;
    for (char& c : lower) c = static_cast<char>(c | 0x20);
    static const std::pair<const char*, M5Method> kMethods[] = {
        {"bf", {"BF", 1, 1, true}},      {"abf", {"aBF", 1, 1, false}},
        {"bffb", {"BFFB", 2, 2, false}}, {"abffb", {"aBFFB", 2, 2, false}},
        {"bbff", {"BBFF", 2, 2, false}}, {"bfbf", {"BFBF", 2, 2, false}},
    };
    for (const auto& [key, method] : kMethods) {
        if (lower == key) return method;
    }
    throw Stop{"The levelling method " + word +
                   " is not known; BF, aBF, BFFB, aBFFB, BBFF and BFBF are read. Please Check "
                   "Your Data File ",
               "the levelling method " + word + " is not known"};
}

/// The sight code of an M5 line, German instruments' codes read as their English twins.
std::string_view M5SightCode(std::string_view line) {
    const std::string_view code = Field(line, 50, 2);
    if (code == "Lr") return "Rb";
    if (code == "Lv") return "Rf";
    if (code == "Lz") return "Rz";
    return code;
}

/// Values are metres; a value in feet (its unit in the four characters after it) ends the read.
void CheckM5Unit(std::string_view line, size_t valuePos, const char* what) {
    const std::string_view unit = LeftTrimmed(Field(line, valuePos + kM5ValueLength, 4));
    if (!unit.starts_with("ft")) return;
    throw Stop{
        "The field book gives its values in feet (ft); only metres are read. Please Check "
        "Your Data File ",
        std::string(what) + " is in feet (ft); only metres are read"};
}

/// The instrument's height Z in value 5 of an M5 line, when the line holds one.
std::optional<double> M5Height(std::string_view line) {
    if (LeftTrimmed(Field(line, 96, 2)) != "Z" && Field(line, 96, 2) != "Z ") return std::nullopt;
    bool whole = false;
    const std::optional<double> z =
        NumericValue(Field(line, kM5BenchmarkPos, kM5ValueLength), &whole);
    if (!whole) return std::nullopt;
    return z;
}

/// A last line without a line end must be a whole record. A recorder's line of three value
/// blocks (a "|" closing its information block at position 49) runs to the "|" that closes
/// its third value; a line of plain columns to the end of its distance, and to the end of its
/// height when it holds one. Only a line of text ("TO ...") may stop anywhere past its address.
void CheckM5LineWhole(const LineReader& lines, std::string_view line) {
    if (lines.LastLineEnded()) return;
    constexpr parts::RecordField kAddress{17, "the address"};
    if (Field(line, 49, 1) == "|") {
        CheckNotCutOff(lines, line,
                       {kAddress,
                        {49, "the information block"},
                        {72, "the first value"},
                        {95, "the second value"},
                        {118, "the third value"}});
        return;
    }
    if (Field(line, 18, 2) == "TO") return;
    // The third value (its code at 96) is there when anything stands from its code on; the
    // distance's unit (91 to 94) is no sign of it.
    constexpr size_t kThirdValue = 96;
    const bool heightGiven = !LeftTrimmed(Field(line, kThirdValue, 200)).empty();
    CheckNotCutOff(lines, line,
                   {kAddress,
                    {29, "the station name"},
                    {51, "the sight code"},
                    {kM5ReadingPos + kM5ValueLength - 1, "the staff reading"},
                    {kM5DistancePos + kM5ValueLength - 1, "the distance"},
                    {heightGiven ? kM5BenchmarkPos + kM5ValueLength - 1 : 0, "the height"}});
}

/// The last digit of the value at `position`, in metres, by the decimals it is written with
/// (100.35802 has five: 0.00001 m).
double M5Unit(std::string_view line, size_t position) {
    std::string_view value = Field(line, position, kM5ValueLength);
    value = value.substr(0, value.find_last_not_of(' ') + 1);
    const size_t point = value.find('.');
    const size_t decimals = point == std::string_view::npos ? 0 : value.size() - point - 1;
    double unit = 1;
    for (size_t i = 0; i < decimals && i < 8; ++i) unit /= 10;
    return unit;
}

/// What an M5 line says of the levelling lines: "TO  Start-Line  BF  7" opens line 7,
/// "TO  Cont-Line  7" takes it up again; the number closes the field.
struct M5LineMark {
    enum class Kind { None, Start, Cont } kind = Kind::None;
    std::string number;
};

M5LineMark M5MarkOf(std::string_view line) {
    M5LineMark mark;
    std::string_view rest;
    for (const auto& [word, kind] :
         {std::pair{std::string_view("Start-Line"), M5LineMark::Kind::Start},
          std::pair{std::string_view("Cont-Line"), M5LineMark::Kind::Cont}}) {
        const size_t at = line.find(word);
        if (at == std::string_view::npos) continue;
        mark.kind = kind;
        rest = line.substr(at + word.size());
        break;
    }
    if (mark.kind == M5LineMark::Kind::None) return mark;
    rest = rest.substr(0, rest.find('|'));
    // The last word of the field is the line's number.
    const size_t end = rest.find_last_not_of(' ');
    if (end == std::string_view::npos) return M5LineMark{};
    const size_t begin = rest.find_last_of(' ', end);
    const std::string_view number =
        rest.substr(begin == std::string_view::npos ? 0 : begin + 1,
                    end - (begin == std::string_view::npos ? 0 : begin + 1) + 1);
    // A line opens or resumes a levelling line only with its number (and a start with its
    // method before it); "Start-Line" alone names nothing.
    const bool numbered =
        !number.empty() && number.find_first_not_of("0123456789") == std::string_view::npos;
    if (!numbered || (mark.kind == M5LineMark::Kind::Start && begin == std::string_view::npos)) {
        return M5LineMark{};
    }
    mark.number = std::string(number);
    return mark;
}

}  // namespace

/// Reads an M5 field book. A BF book is read line by line; a book of another method has each
/// set-up gathered first and given as BF gives it: one backsight with the mean of its back
/// readings and distances, its intermediate sights, one foresight with the mean of its fore
/// readings and distances. Readings are paired by their code, whatever their order; a set-up is
/// closed when the next one starts (or the field book ends), so that the intermediate sights
/// taken from it stand between its backsight and foresight wherever they were read.
void parts::ReadM5Lines(LineReader& lines, core::LevelRun& run, ReadWarnings& warnings) {
    const ReadPlace place{lines, warnings};
    int16_t counted = 0;  // lines before the run starts: each counts
    int16_t lineIndex = 0;
    bool runStarted = false;
    M5Method method;
    std::string line;
    // The set-ups of a method other than BF, gathered.
    SetUpBuilder builder(run, warnings);
    CapacityWatch capacity;
    // The set-up read line by line has its foresight: intermediate sights after it (a DiNi books
    // them so) go before it, so that the next set-up goes on from it.
    bool foreTaken = false;
    bool foreAwaitsHeight = false;         // the last foresight read line by line has no height yet
    bool lastSightingMarked = true;        // no reading yet that a repeat could have dropped
    std::optional<int16_t> rejectedStart;  // the line count at a rejected first backsight
    // The instrument's height of a line, and the last digit the book stores it to.
    const auto height = [&](std::string_view text) {
        const std::optional<double> z = M5Height(text);
        if (z) run.instrument.Resolution(M5Unit(text, kM5BenchmarkPos));
        return z;
    };
    // The set-up read line by line that a sight joins (one without its backsight opens none).
    const auto openSetUp = [&]() -> core::SetUp& {
        if (run.setUps.empty()) {
            core::SetUp setUp;
            setUp.marker = false;
            setUp.line = lines.LineNumber();
            run.setUps.push_back(std::move(setUp));
        }
        return run.setUps.back();
    };

    bool firstLine = true;
    while (lines.Next(line)) {
        // A levelling line of a book of several starts at its "Start-Line", which stands where
        // line 2 of a book of one line does: the line after it holds the starting height.
        // A book that a transfer program cut to begin at its "Start-Line" is read the same.
        if (firstLine &&
            (lines.LineNumber() > 1 ||
             (Field(line, 1, 6) == "For M5" && M5MarkOf(line).kind == M5LineMark::Kind::Start))) {
            lineIndex = 1;
        }
        firstLine = false;
        if (lineIndex == 0 && Field(line, 1, 6) != "For M5") {
            throw Stop{std::string(kNotZeiss), "line 1 does not start with For M5"};
        }
        CheckM5LineWhole(lines, line);
        if (const auto named = M5MethodOf(line)) method = *named;
        const std::string_view code = M5SightCode(line);
        const bool sighting = code == "Rb" || code == "Rz" || code == "Rf";
        const bool marked = sighting && Field(line, 30, 5) == "#####";
        const bool lineByLine = method.inSheetOrder;
        builder.SetReadings(method.backs);
        run.capacityInDataRows = run.capacityInDataRows || (!lineByLine && sighting);
        run.instrument.method = method.name;
        if (!runStarted) counted = Counter16(counted + 1, "the line counter");

        if (lineIndex == 2) {
            CheckM5Unit(line, kM5BenchmarkPos, "the benchmark height");
            run.startRL =
                MeasuredValue(place, line, kM5BenchmarkPos, kM5ValueLength, "the benchmark height");
            run.instrument.startZ = run.startRL;
            run.instrument.Resolution(M5Unit(line, kM5BenchmarkPos));
        }
        if (sighting && !runStarted) {
            if (code == "Rb" && !marked) {
                // The run starts at its first kept backsight, whatever the instrument rejected
                // (#####) before it: its marker lands in row 5, the backsight in row 6.
                run.standCounter = counted - 2;
                run.standRow = core::kFirstMarkerRow - 1;
                runStarted = true;
            } else if (code == "Rb" && !rejectedStart) {
                rejectedStart = counted;
            } else if (!marked && rejectedStart) {
                // A sight kept after a rejected first backsight, with no backsight kept before
                // it: the run starts where that backsight was read, a BF run on its row.
                run.standCounter = lineByLine ? *rejectedStart : *rejectedStart - 2;
                run.standRow = lineByLine ? core::kFirstDataRow : core::kFirstMarkerRow - 1;
                runStarted = true;
            }
        }
        // The instrument marks the readings it rejects (#####) before it says that it measures
        // again; readings it did not mark stay, and a repeat after them is told: the book was
        // edited by hand, or the readings were taken again without a mark.
        if (runStarted && !lastSightingMarked &&
            (line.find("Station repeated") != std::string::npos ||
             line.find("Measurement repeated") != std::string::npos)) {
            warnings.Add(WarningKind::Edited, lines.LineNumber(),
                         "a repeat follows readings the instrument did not mark as rejected "
                         "(#####): they are kept, and the field book may have been edited");
            lastSightingMarked = true;
        }
        if (sighting && runStarted) lastSightingMarked = marked;
        if (sighting && !marked && runStarted) {
            const bool afterFore = lineByLine && code == "Rz" && foreTaken;
            if (lineByLine) {
                // What a record stopped inside of gave stays in the sheet.
                run.unfinished = core::UnfinishedSight{
                    code == "Rb", std::nullopt, std::nullopt, afterFore, false, lines.LineNumber()};
            }
            CheckM5Unit(line, kM5ReadingPos, "the staff reading");
            CheckM5Unit(line, kM5DistancePos, "the distance");
            const std::string station(LeftTrimmed(Field(line, 22, 8)));
            if (lineByLine) {
                run.unfinished->station = station;
                const double distance =
                    MeasuredValue(place, line, kM5DistancePos, kM5ValueLength, "the distance");
                const double reading =
                    MeasuredValue(place, line, kM5ReadingPos, kM5ValueLength, "the staff reading");
                run.unfinished.reset();
                const std::optional<double> z = height(line);
                core::Sight sight{code == "Rb"   ? core::SightKind::Back
                                  : code == "Rz" ? core::SightKind::Intermediate
                                                 : core::SightKind::Fore,
                                  station,
                                  reading,
                                  distance,
                                  code == "Rz" ? z : std::nullopt,
                                  lines.LineNumber()};
                if (code == "Rb") {
                    core::SetUp setUp;
                    setUp.line = lines.LineNumber();
                    setUp.sights.push_back(std::move(sight));
                    run.setUps.push_back(std::move(setUp));
                    foreTaken = false;
                    foreAwaitsHeight = false;
                } else if (afterFore) {
                    // The sight goes before its set-up's foresight.
                    std::vector<core::Sight>& sights = openSetUp().sights;
                    sights.insert(sights.end() - 1, std::move(sight));
                } else {
                    openSetUp().sights.push_back(std::move(sight));
                    if (code == "Rf") foreTaken = foreAwaitsHeight = true;
                }
            } else {
                Sight sight{station, 0, 0, code == "Rz" ? height(line) : std::nullopt,
                            lines.LineNumber()};
                sight.distance =
                    MeasuredValue(place, line, kM5DistancePos, kM5ValueLength, "the distance");
                sight.reading =
                    MeasuredValue(place, line, kM5ReadingPos, kM5ValueLength, "the staff reading");
                if (code == "Rz") {
                    // An intermediate sight outside a set-up stands on its own.
                    builder.Intermediate(std::move(sight), true);
                } else {
                    // Readings pair by their code, in the order taken.
                    builder.Take(code == "Rb", -1, std::move(sight));
                }
            }
        }
        if (!sighting && lineIndex != 2 && runStarted) {
            // The instrument's height of the foresight point follows the sights of a set-up.
            if (const auto z = height(line)) {
                if (!lineByLine && builder.HasFore()) {
                    // Its decimals do not loosen the check: a hand-edited Z may have lost some.
                    builder.Height(*z, false, 0);
                } else if (lineByLine && foreAwaitsHeight) {
                    run.setUps.back().sights.back().z = *z;
                    foreAwaitsHeight = false;
                }
            }
        }
        lineIndex = Counter16(lineIndex + 1, "the line index");
        if (capacity.Passed(run)) {  // the layout refuses the run here
            run.pastCapacity = true;
            break;
        }
    }
    if (!runStarted) run.standCounter = run.standRow = counted;
    // A set-up the field book ends inside is closed with what it has.
    builder.Finish(lines.LineNumber());
}

std::vector<LevellingLine> ListM5Lines(LineReader& lines) {
    std::vector<LevellingLine> found;
    std::vector<bool> withReadings;
    std::unordered_map<std::string, size_t> byNumber;  // the line each number last opened
    std::optional<size_t> current;
    int starts = 0;  // lines started, or continued from another book
    std::string line;
    const auto closeCurrent = [&](size_t at) {
        if (current) found[*current].spans.back().end = at;
    };
    const auto open = [&](size_t lineNumber, size_t at, std::string method, std::string name) {
        closeCurrent(at);
        LevellingLine next;
        next.line = lineNumber;
        next.method = std::move(method);
        next.name = std::move(name);
        next.spans.push_back({at, at, lineNumber});
        found.push_back(std::move(next));
        withReadings.push_back(false);
        current = found.size() - 1;
    };
    while (lines.Next(line)) {
        const M5LineMark mark = M5MarkOf(line);
        if (mark.kind == M5LineMark::Kind::Start) {
            ++starts;
            std::string method = "BF";
            try {
                if (const auto named = M5MethodOf(line)) method = named->name;
            } catch (const Stop&) {
                method.assign(1, '?');  // reading the line says what is wrong
            }
            open(lines.LineNumber(), lines.LineStart(), method,
                 mark.number.empty() ? std::string() : "line " + mark.number);
            byNumber[mark.number] = *current;
            continue;
        }
        if (mark.kind == M5LineMark::Kind::Cont) {
            const auto known = byNumber.find(mark.number);
            const std::optional<size_t> resumed =
                known == byNumber.end() ? std::nullopt : std::optional(known->second);
            if (resumed) {
                closeCurrent(lines.LineStart());
                current = resumed;
                found[*current].spans.push_back(
                    {lines.LineStart(), lines.LineStart(), lines.LineNumber()});
            } else {
                // A line started before this book: a line of its own, never joined to another.
                ++starts;
                open(lines.LineNumber(), lines.LineStart(), "BF",
                     "line " + mark.number + " (continued)");
                byNumber[mark.number] = *current;
            }
            continue;
        }
        const std::string_view code = M5SightCode(line);
        const bool sighting = code == "Rb" || code == "Rz" || code == "Rf";
        if (!sighting || Field(line, 30, 5) == "#####") continue;
        if (!current) open(1, 0, "BF", {});  // readings before the first "Start-Line"
        LevellingLine& run = found[*current];
        withReadings[*current] = true;
        const std::string station(LeftTrimmed(Field(line, 22, 8)));
        if (run.firstPoint.empty()) run.firstPoint = station;
        if (code == "Rb") ++run.setUps;
        if (code == "Rf") run.lastPoint = station;
    }
    closeCurrent(lines.NextLineStart());
    if (lines.Failed() || starts < 2) return {};
    return parts::Listed(std::move(found), withReadings);
}

}  // namespace rendle::readers
