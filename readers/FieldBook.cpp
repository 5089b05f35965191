#include "readers/FieldBook.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "core/LevelSheet.h"
#include "core/RunState.h"
#include "grid/Grid.h"
#include "grid/NumberFormat.h"
#include "readers/FieldBookLine.h"
#include "readers/GsiBook.h"
#include "readers/ReaderParts.h"

namespace rendle::readers {

namespace {

using parts::CheckCapacity;
using parts::Counter16;
using parts::kCapacity;
using parts::kCheckDataFile;
using parts::RowCounter;
using parts::Stop;
using parts::WriteReading;

constexpr std::string_view kTooManyDataRows =
    "The run is longer than the 1000 rows a level sheet holds, even once its set-up rows are "
    "taken out. Its readings stay in the sheet; the run was not reduced.";
/// A record's code by the numeric rule; only a number too large for a double fails.
double CodeValue(std::string_view field) {
    const std::optional<double> value = NumericValue(field);
    if (!value) throw Stop{std::string(kCheckDataFile), "the record code is too large a number"};
    return *value;
}

/// Where a read is: its lines, and the warnings of the fields read so far.
struct ReadPlace {
    const LineReader& lines;
    std::vector<ReadWarning>& warnings;
};

/// The numeric value of a staff reading, distance or benchmark field. A comma right after a
/// digit is a decimal comma, which the numeric rule would silently cut short ("25,500" read
/// as 25): that is a data error, as is a number too large for a double. Text that is no number
/// ("NaN", "$1.5", "12.5abc") is read by the numeric rule and warned of; a blank field is 0,
/// no reading, and says nothing.
double MeasuredValue(const ReadPlace& place, std::string_view line, size_t position, size_t length,
                     const char* what) {
    const std::string_view field = Field(line, position, length);
    const auto where = [&] {
        return std::string(what) + " at position " + std::to_string(position);
    };
    for (size_t i = 0; i + 1 < field.size(); ++i) {
        if (field[i] >= '0' && field[i] <= '9' && field[i + 1] == ',') {
            throw Stop{std::string(kCheckDataFile),
                       where() + " has a decimal comma (" + std::string(LeftTrimmed(field)) + ")"};
        }
    }
    bool whole = true;
    const std::optional<double> value = NumericValue(field, &whole);
    if (!value) throw Stop{std::string(kCheckDataFile), where() + " is too large a number"};
    if (!whole) {
        std::string shown(LeftTrimmed(field));
        shown.erase(shown.find_last_not_of(' ') + 1);
        place.warnings.push_back({place.lines.LineNumber(), std::string(what) + " \"" + shown +
                                                                "\" is no number and was read as " +
                                                                grid::GeneralNumberText(*value)});
    }
    return *value;
}

/// A last line without a line end that stops short of the end of its reading and distance
/// fields (`fieldsEnd`, a 1-based position) is a field book cut off while it was copied: the
/// number there may be cut short, so it is a data error rather than a smaller number.
void CheckNotCutOff(const LineReader& lines, std::string_view line, size_t fieldsEnd) {
    if (lines.LastLineEnded()) return;
    const size_t characters = CharacterCount(line);
    if (characters >= fieldsEnd) return;
    throw Stop{std::string(kCheckDataFile),
               "the last line has no line end and stops at position " + std::to_string(characters) +
                   ", inside its staff reading or distance: the field book looks cut off"};
}

/// A one-character flag compared as a number with 1; anything but a digit is a data error.
bool FlagIsOne(std::string_view line, size_t position, const char* what) {
    const std::string_view flag = Field(line, position, 1);
    if (flag.size() != 1 || flag[0] < '0' || flag[0] > '9') {
        throw Stop{std::string(kCheckDataFile), std::string(what) + " at position " +
                                                    std::to_string(position) + " is not a digit"};
    }
    return flag[0] == '1';
}

/// The width of an SDR field book's value fields (reading, distance, benchmark).
constexpr size_t kSdrValueLength = 10;

/// Positions of an SDR field book's fields: 1-based first position and length.
struct SdrLayout {
    std::string_view model;
    std::string_view rejectMessage;
    size_t benchmarkPos;
    size_t stationPos;
    size_t stationLen;
    bool trimStation;
    size_t distancePos;
    size_t readingPos;
    size_t backsightFlagPos;
    size_t foresightFlagPos;
};

constexpr SdrLayout kSdr20{
    .model = "SDR20",
    .rejectMessage = "NOT SDR20 File. Please Check Your Data File ",
    .benchmarkPos = 25,
    .stationPos = 5,
    .stationLen = 4,
    .trimStation = false,
    .distancePos = 9,
    .readingPos = 19,
    .backsightFlagPos = 54,
    .foresightFlagPos = 59,
};
constexpr SdrLayout kSdr33{
    .model = "SDR33",
    .rejectMessage = "NOT SDR33 File. Please Check Your Data File ",
    .benchmarkPos = 37,
    .stationPos = 10,
    .stationLen = 11,
    .trimStation = true,
    .distancePos = 21,
    .readingPos = 37,
    .backsightFlagPos = 78,
    .foresightFlagPos = 83,
};

RowCounter ReadSdrLines(const SdrLayout& layout, LineReader& lines, grid::Grid& sheet,
                        core::RunState& run, std::vector<ReadWarning>& warnings) {
    const ReadPlace place{lines, warnings};
    RowCounter rows;
    bool offsetFixed = false;
    std::string line;
    // After the first set-up, a record that is not a header, benchmark, set-up or reading does
    // nothing; its code is told by its first two characters when both are digits.
    static constexpr LineReader::LinePass kTakesNothing = [] {
        LineReader::LinePass codes{};
        codes.fill(true);
        for (const size_t code : {0, 61, 62, 63}) codes[code] = false;
        return codes;
    }();
    while (lines.Next(line, offsetFixed ? &kTakesNothing : nullptr)) {
        const double code = CodeValue(Field(line, 1, 2));
        // Meant: before the first set-up every line counts, so records before it land in the
        // header block; after it only set-ups and readings take rows.
        if (!offsetFixed || code == 62 || code == 63) rows.Advance(1);

        if (code == 0) {
            if (Field(line, 5, 5) != layout.model) {
                throw Stop{std::string(layout.rejectMessage),
                           "a header record does not name " + std::string(layout.model)};
            }
        } else if (code == 61) {
            run.EnteredStartRL = MeasuredValue(place, line, layout.benchmarkPos, kSdrValueLength,
                                               "the benchmark RL");
        } else if (code == 62) {
            if (!offsetFixed) {
                // The first set-up's marker row is row 5 however many lines came before it.
                rows.rowOffset = Counter16(rows.lineCounter - core::kFirstMarkerRow, "the offset");
                offsetFixed = true;
            }
            sheet.SetCellText(rows.Row(), core::kColSightType, core::kMarker);
            run.StationCount = Counter16(run.StationCount + 1, "the set-up count");
        } else if (code == 63) {
            CheckNotCutOff(lines, line,
                           std::max(layout.distancePos, layout.readingPos) + kSdrValueLength - 1);
            const int16_t row = rows.Row();
            std::string_view station = Field(line, layout.stationPos, layout.stationLen);
            if (layout.trimStation) station = LeftTrimmed(station);
            sheet.SetCellText(row, core::kColStation, station);
            CheckCapacity(rows);
            sheet.SetCellNumber(
                row, core::kColDist,
                MeasuredValue(place, line, layout.distancePos, kSdrValueLength, "the distance"));
            const std::string_view sight =
                FlagIsOne(line, layout.backsightFlagPos, "the backsight flag")   ? "BS"
                : FlagIsOne(line, layout.foresightFlagPos, "the foresight flag") ? "FS"
                                                                                 : "IS";
            WriteReading(sheet, row, sight,
                         MeasuredValue(place, line, layout.readingPos, kSdrValueLength,
                                       "the staff reading"));
        }
    }
    return rows;
}

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

/// One sight of a set-up read in a method other than BF, held until the set-up is whole.
struct M5Sight {
    std::string station;
    double reading = 0;
    double distance = 0;
    std::optional<double> z;  ///< the instrument's height of the point, for an intermediate
};

/// The instrument's height Z in value 5 of an M5 line, when the line holds one.
std::optional<double> M5Height(std::string_view line) {
    if (LeftTrimmed(Field(line, 96, 2)) != "Z" && Field(line, 96, 2) != "Z ") return std::nullopt;
    bool whole = false;
    const std::optional<double> z =
        NumericValue(Field(line, kM5BenchmarkPos, kM5ValueLength), &whole);
    if (!whole) return std::nullopt;
    return z;
}

/// The sights of the set-up being read, or just read.
struct M5SetUp {
    std::vector<M5Sight> backs;
    std::vector<M5Sight> intermediates;
    std::vector<M5Sight> fores;
    std::optional<double> z;  ///< the instrument's height of the foresight point
    bool Empty() const { return backs.empty() && intermediates.empty() && fores.empty(); }
    bool Whole(const M5Method& method) const {
        return static_cast<int>(backs.size()) >= method.backs &&
               static_cast<int>(fores.size()) >= method.fores;
    }
};

double Mean(const std::vector<M5Sight>& sights, double M5Sight::*value) {
    double sum = 0;
    for (const M5Sight& sight : sights) sum += sight.*value;
    return sum / static_cast<double>(sights.size());
}

/// Reads an M5 field book. A BF book is read line by line; a book of another method has each
/// set-up gathered first and laid out as BF lays it out: the marker row, one BS row with the
/// mean of its back readings and distances, its intermediate sights, one FS row with the mean
/// of its fore readings and distances. Readings are paired by their code, whatever their order;
/// a set-up is laid out when the next one starts (or the field book ends), so that the
/// intermediate sights taken from it land between its BS and FS rows wherever they were read.
RowCounter ReadM5Lines(LineReader& lines, grid::Grid& sheet, core::RunState& run,
                       std::vector<ReadWarning>& warnings) {
    const ReadPlace place{lines, warnings};
    RowCounter rows;
    int16_t lineIndex = 0;
    bool runStarted = false;
    M5Method method;
    M5SetUp setUp;
    bool firstRowOfRun = true;  // the row of the line that starts the run is already counted
    std::string line;
    run.instrument = {};
    int32_t lastForeRow = 0;  // the data row of the last foresight stored line by line
    // The foresight of the set-up being read line by line, while intermediate sights may still
    // follow it (a DiNi books them after the foresight): each such sight takes the foresight's
    // row, and the foresight moves down below it, so that the next set-up goes on from it.
    struct StoredFore {
        int16_t row = 0;
        std::string station;
        double reading = 0;
        double distance = 0;
        std::optional<size_t> height;  ///< its entry among the instrument's heights
    };
    std::optional<StoredFore> fore;
    // The data row a row written now will have once the reduction has deleted the marker rows
    // of the set-ups before this one.
    const auto dataRow = [&] { return static_cast<int32_t>(rows.Row()) - (run.StationCount - 1); };

    const auto store = [&](std::string_view sight, const std::string& station, double reading,
                           double distance) {
        const int16_t row = rows.Row();
        sheet.SetCellText(row, core::kColStation, station);
        CheckCapacity(rows);
        sheet.SetCellNumber(row, core::kColDist, distance);
        WriteReading(sheet, row, sight, reading);
    };
    // A gathered set-up's rows, as BF would have written them.
    const auto layOut = [&] {
        if (!setUp.backs.empty()) {
            if (!firstRowOfRun) rows.Advance(2);  // a new set-up leaves a row for its marker
            firstRowOfRun = false;
            sheet.SetCellText(rows.Row() - 1, core::kColSightType, core::kMarker);
            run.StationCount = Counter16(run.StationCount + 1, "the set-up count");
            store("BS", setUp.backs.front().station, Mean(setUp.backs, &M5Sight::reading),
                  Mean(setUp.backs, &M5Sight::distance));
        }
        for (const M5Sight& sight : setUp.intermediates) {
            rows.Advance(1);
            store("IS", sight.station, sight.reading, sight.distance);
            if (sight.z) run.instrument.heights.push_back({dataRow(), *sight.z});
        }
        if (!setUp.fores.empty()) {
            rows.Advance(1);
            store("FS", setUp.fores.front().station, Mean(setUp.fores, &M5Sight::reading),
                  Mean(setUp.fores, &M5Sight::distance));
            if (setUp.z) run.instrument.heights.push_back({dataRow(), *setUp.z});
        }
        if (setUp.backs.size() >= 2 && setUp.fores.size() >= 2) {
            run.instrument.stationDifferences.push_back(
                {run.StationCount, (setUp.backs[0].reading - setUp.fores[0].reading) -
                                       (setUp.backs[1].reading - setUp.fores[1].reading)});
        }
        setUp = M5SetUp{};
    };

    bool firstLine = true;
    while (lines.Next(line)) {
        // A levelling line of a book of several starts at its "Start-Line", which stands where
        // line 2 of a book of one line does: the line after it holds the starting height.
        if (firstLine && lines.LineNumber() > 1) lineIndex = 1;
        firstLine = false;
        if (lineIndex == 0 && Field(line, 1, 6) != "For M5") {
            throw Stop{"NOT Zeiss File. Please Check Your Data File ",
                       "line 1 does not start with For M5"};
        }
        if (const auto named = M5MethodOf(line)) method = *named;
        const std::string_view code = M5SightCode(line);
        const bool sighting = code == "Rb" || code == "Rz" || code == "Rf";
        const bool marked = sighting && Field(line, 30, 5) == "#####";
        const bool lineByLine = method.inSheetOrder;
        if (!runStarted) {
            rows.Advance(1);
        } else if (sighting && !marked && lineByLine) {
            rows.Advance(code == "Rb" ? 2 : 1);  // a new set-up leaves a row for its marker
        }

        if (lineIndex == 2) {
            CheckM5Unit(line, kM5BenchmarkPos, "the benchmark height");
            run.EnteredStartRL =
                MeasuredValue(place, line, kM5BenchmarkPos, kM5ValueLength, "the benchmark height");
            run.instrument.startZ = std::get<double>(run.EnteredStartRL);
        }
        if (code == "Rb" && !runStarted) {
            // The line that starts the run always lands in row 6, its marker in row 5.
            rows.rowOffset = Counter16(rows.lineCounter - core::kFirstDataRow, "the offset");
            runStarted = true;
        }
        if (!lineByLine && !setUp.Whole(method) &&
            line.find("Station repeated") != std::string::npos) {
            setUp = M5SetUp{};  // the instrument measures the open set-up again
        }
        if (sighting && !marked && runStarted) {
            if (lineByLine && code == "Rb") {
                sheet.SetCellText(rows.Row() - 1, core::kColSightType, core::kMarker);
                run.StationCount = Counter16(run.StationCount + 1, "the set-up count");
            }
            CheckNotCutOff(lines, line, kM5DistancePos + kM5ValueLength - 1);
            CheckM5Unit(line, kM5ReadingPos, "the staff reading");
            CheckM5Unit(line, kM5DistancePos, "the distance");
            const std::string station(LeftTrimmed(Field(line, 22, 8)));
            if (lineByLine) {
                int16_t row = rows.Row();
                const bool afterFore = code == "Rz" && fore.has_value();
                if (afterFore) row = fore->row;  // the sight goes before its set-up's foresight
                sheet.SetCellText(row, core::kColStation, station);
                CheckCapacity(rows);
                const double distance =
                    MeasuredValue(place, line, kM5DistancePos, kM5ValueLength, "the distance");
                const double reading =
                    MeasuredValue(place, line, kM5ReadingPos, kM5ValueLength, "the staff reading");
                if (afterFore) {
                    sheet.ClearCells(row, core::kColFS, row, core::kColFS, grid::ClearMode::All);
                    fore->row = rows.Row();
                    sheet.SetCellText(fore->row, core::kColStation, fore->station);
                    sheet.SetCellNumber(fore->row, core::kColDist, fore->distance);
                    WriteReading(sheet, fore->row, "FS", fore->reading);
                    if (fore->height) ++run.instrument.heights[*fore->height].row;
                    if (lastForeRow > 0) ++lastForeRow;
                }
                sheet.SetCellNumber(row, core::kColDist, distance);
                const std::string_view sight = code == "Rb" ? "BS" : code == "Rz" ? "IS" : "FS";
                WriteReading(sheet, row, sight, reading);
                if (code == "Rf") {
                    lastForeRow = dataRow();
                    fore = StoredFore{row, station, reading, distance, std::nullopt};
                } else if (code == "Rb") {
                    lastForeRow = 0;
                    fore.reset();
                }
                if (const auto z = M5Height(line); z && code == "Rz") {
                    run.instrument.heights.push_back({dataRow() - (afterFore ? 1 : 0), *z});
                }
            } else {
                M5Sight sight{station, 0, 0, code == "Rz" ? M5Height(line) : std::nullopt};
                sight.distance =
                    MeasuredValue(place, line, kM5DistancePos, kM5ValueLength, "the distance");
                sight.reading =
                    MeasuredValue(place, line, kM5ReadingPos, kM5ValueLength, "the staff reading");
                if (code == "Rz") {
                    setUp.intermediates.push_back(std::move(sight));
                    // An intermediate sight outside a set-up stands on its own.
                    if (setUp.backs.empty() && setUp.fores.empty()) layOut();
                } else {
                    if (setUp.Whole(method)) layOut();  // this sight starts the next set-up
                    (code == "Rb" ? setUp.backs : setUp.fores).push_back(std::move(sight));
                }
            }
        }
        if (!sighting && lineIndex != 2 && runStarted) {
            // The instrument's height of the foresight point follows the sights of a set-up.
            if (const auto z = M5Height(line)) {
                if (!lineByLine && !setUp.fores.empty()) {
                    setUp.z = z;
                } else if (lineByLine && lastForeRow > 0) {
                    if (fore) fore->height = run.instrument.heights.size();
                    run.instrument.heights.push_back({lastForeRow, *z});
                    lastForeRow = 0;
                }
            }
        }
        lineIndex = Counter16(lineIndex + 1, "the line index");
    }
    // A set-up the field book ends inside is laid out with what it has.
    if (!setUp.Empty()) layOut();
    return rows;
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

/// The levelling lines of an M5 book of more than one "Start-Line": each is its "Start-Line"
/// and every "Cont-Line" of its number, in book order; readings before the first "Start-Line"
/// form a line of their own. Lines without readings are not listed. A book of one line (or of
/// none named) is read whole: empty.
std::vector<LevellingLine> ListM5Lines(LineReader& lines) {
    std::vector<LevellingLine> found;
    std::vector<bool> withReadings;
    std::vector<std::pair<std::string, size_t>> byNumber;  // the line each number last opened
    std::optional<size_t> current;
    int starts = 0;
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
                method = "?";  // reading the line says what is wrong
            }
            open(lines.LineNumber(), lines.LineStart(), method,
                 mark.number.empty() ? std::string() : "line " + mark.number);
            byNumber.emplace_back(mark.number, *current);
            continue;
        }
        if (mark.kind == M5LineMark::Kind::Cont) {
            std::optional<size_t> resumed;
            for (const auto& [number, index] : byNumber) {
                if (number == mark.number) resumed = index;
            }
            if (resumed) {
                closeCurrent(lines.LineStart());
                current = resumed;
                found[*current].spans.push_back(
                    {lines.LineStart(), lines.LineStart(), lines.LineNumber()});
            } else {
                open(lines.LineNumber(), lines.LineStart(), "BF", "line " + mark.number);
                byNumber.emplace_back(mark.number, *current);
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
    std::vector<LevellingLine> listed;
    for (size_t i = 0; i < found.size(); ++i) {
        if (!withReadings[i]) continue;
        listed.push_back(std::move(found[i]));
        listed.back().number = static_cast<int>(listed.size());
    }
    return listed;
}

/// Reads what `lines` gives into the sheet, and the run state at its end.
ReadResult ReadLines(FieldBookFormat format, LineReader& lines, grid::Grid& sheet,
                     core::RunState& run) {
    ReadResult result;
    try {
        run.StationCount = 0;
        run.instrument = {};
        RowCounter rows;
        switch (format) {
            case FieldBookFormat::M5:
                rows = ReadM5Lines(lines, sheet, run, result.warnings);
                break;
            case FieldBookFormat::GSI:
                rows = parts::ReadGsiLines(lines, sheet, run, result.warnings);
                break;
            case FieldBookFormat::SDR20:
            case FieldBookFormat::SDR33:
                rows = ReadSdrLines(format == FieldBookFormat::SDR20 ? kSdr20 : kSdr33, lines,
                                    sheet, run, result.warnings);
                break;
        }
        if (lines.LineTooLong()) {
            throw Stop{{},
                       "line " + std::to_string(lines.LineNumber()) + " runs past " +
                           std::to_string(kMaxLineBytes / 1024) +
                           " KB without a line end: this is no field book"};
        }
        if (lines.Failed()) throw Stop{{}, "the field book could not be read to its end"};

        // End of the file. Once the reduction has deleted the marker rows below row 5, the last
        // data row stands StationCount - 1 rows higher than the last row written.
        const int16_t lastDataRow = Counter16(
            Counter16(rows.Row() - run.StationCount, "the last data row") + 1, "the last data row");
        // A run whose data rows still pass row 1000 then cannot be reduced: said now, rather
        // than the reduction stopping without a word.
        if (lastDataRow > kCapacity) {
            throw Stop{std::string(kTooManyDataRows),
                       "the data rows reach row " + std::to_string(lastDataRow) +
                           " once the set-up rows are taken out, past the 1000 rows of the "
                           "level sheet"};
        }
        run.FirstDataRow = core::kFirstDataRow;
        run.LastDataRow = lastDataRow;
        sheet.SetCellText(core::kStationCountRow, core::kStationCountCol,
                          std::to_string(run.StationCount));

        run.StartRL = run.EnteredStartRL;
        // A run that closes on the station it started from ends on the starting RL.
        if (sheet.CellText(sheet.LastUsedRow(), core::kColStation) ==
            sheet.CellText(core::kFirstDataRow, core::kColStation)) {
            run.EndRL = run.StartRL;
        }
    } catch (const Stop& stop) {
        result.status =
            stop.message.empty() ? ReadStatus::EndedSilently : ReadStatus::EndedWithMessage;
        result.message = stop.message;
        result.reason = stop.reason;
    } catch (const grid::GridError& error) {
        result.status = ReadStatus::EndedSilently;
        result.reason = error.what();
    }
    result.line = lines.LineNumber();
    return result;
}

}  // namespace

std::vector<LevellingLine> ListLevellingLines(FieldBookFormat format, std::string_view book,
                                              const LineDecoder& decoder) {
    if (format != FieldBookFormat::GSI && format != FieldBookFormat::M5) return {};
    LineReader lines(book, decoder.Copy());
    return format == FieldBookFormat::GSI ? ListGsiLines(lines) : ListM5Lines(lines);
}

ReadResult ReadFieldBook(FieldBookFormat format, std::string_view book,
                         const std::vector<LevellingLine>& lines, int runNumber, grid::Grid& sheet,
                         core::RunState& run, const LineDecoder& decoder) {
    const size_t held = std::max<size_t>(lines.size(), 1);
    if (runNumber < 1 || static_cast<size_t>(runNumber) > held) {
        ReadResult result;
        result.status = ReadStatus::EndedWithMessage;
        result.message = "The field book holds " + std::to_string(held) + " levelling line" +
                         (held == 1 ? "" : "s") + "; line " + std::to_string(runNumber) +
                         " is not among them. Please Check Your Data File ";
        result.reason = "run " + std::to_string(runNumber) +
                        " is not in the field book, which holds " + std::to_string(held);
        return result;
    }
    if (lines.empty()) {
        LineReader whole(book, decoder.Copy());
        return ReadLines(format, whole, sheet, run);
    }
    LineReader spans(book, decoder.Copy(), lines[static_cast<size_t>(runNumber - 1)].spans);
    return ReadLines(format, spans, sheet, run);
}

bool LoadBook(std::istream& in, const std::optional<FieldBookFormat>& format,
              const LineDecoder& decoder, Book& book, std::string& error) {
    book = Book{};
    if (!ReadWholeBook(in, book.bytes, error)) return false;
    book.format = format;
    if (!book.format) {
        LineReader lines(book.bytes, decoder.Copy());
        book.format = DetectFormat(lines);
    }
    if (book.format) book.lines = ListLevellingLines(*book.format, book.bytes, decoder);
    return true;
}

ReadResult ReadFieldBook(const Book& book, int runNumber, grid::Grid& sheet, core::RunState& run,
                         const LineDecoder& decoder) {
    return ReadFieldBook(book.format.value_or(FieldBookFormat::SDR20), book.bytes, book.lines,
                         runNumber, sheet, run, decoder);
}

ReadResult ReadFieldBook(FieldBookFormat format, std::istream& fieldBook, grid::Grid& sheet,
                         core::RunState& run, LineDecoder decoder, int runNumber) {
    std::string book;
    std::string error;
    if (!ReadWholeBook(fieldBook, book, error)) {
        ReadResult result;
        result.status = ReadStatus::EndedSilently;
        result.reason = "the field book could not be read: " + error;
        return result;
    }
    const std::vector<LevellingLine> lines = ListLevellingLines(format, book, decoder);
    return ReadFieldBook(format, book, lines, runNumber, sheet, run, decoder);
}

std::optional<FieldBookFormat> DetectFormat(LineReader& lines) {
    std::string line;
    bool first = true;
    while (lines.Next(line)) {
        if (first && line.starts_with("For M5")) return FieldBookFormat::M5;
        if (first && LooksLikeGsi(line)) return FieldBookFormat::GSI;
        first = false;
        const std::optional<double> code = NumericValue(Field(line, 1, 2));
        if (code && *code == 0) {
            const std::string_view model = Field(line, 5, 5);
            if (model == "SDR20") return FieldBookFormat::SDR20;
            if (model == "SDR33") return FieldBookFormat::SDR33;
        }
    }
    return std::nullopt;
}

}  // namespace rendle::readers
