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

    while (lines.Next(line)) {
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
                const int16_t row = rows.Row();
                sheet.SetCellText(row, core::kColStation, station);
                CheckCapacity(rows);
                sheet.SetCellNumber(
                    row, core::kColDist,
                    MeasuredValue(place, line, kM5DistancePos, kM5ValueLength, "the distance"));
                const std::string_view sight = code == "Rb" ? "BS" : code == "Rz" ? "IS" : "FS";
                WriteReading(
                    sheet, row, sight,
                    MeasuredValue(place, line, kM5ReadingPos, kM5ValueLength, "the staff reading"));
                lastForeRow = code == "Rf" ? dataRow() : 0;
                if (const auto z = M5Height(line); z && code == "Rz") {
                    run.instrument.heights.push_back({dataRow(), *z});
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

}  // namespace

ReadResult ReadFieldBook(FieldBookFormat format, LineReader& lines, grid::Grid& sheet,
                         core::RunState& run, int runNumber) {
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
                rows = parts::ReadGsiLines(lines, runNumber, sheet, run, result.warnings);
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

ReadResult ReadFieldBook(FieldBookFormat format, std::istream& fieldBook, grid::Grid& sheet,
                         core::RunState& run, LineDecoder decoder, int runNumber) {
    LineReader lines(fieldBook, std::move(decoder));
    return ReadFieldBook(format, lines, sheet, run, runNumber);
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
