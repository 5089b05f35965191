#include "readers/FieldBook.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>

#include "core/LevelSheet.h"
#include "grid/Grid.h"
#include "readers/FieldBookLine.h"

namespace rendle::readers {

namespace {

using core::MessageIcon;
using core::MousePointer;

constexpr std::string_view kMessageTitle = "Data File";
constexpr std::string_view kCheckDataFile = "Please Check Your Data File ";
constexpr std::string_view kTooManyRows =
    "The run is longer than the 1000 rows a level sheet holds. The rows up to 1000 stay in the "
    "sheet; the run was not reduced.";
constexpr std::string_view kTooManyLines =
    "The field book has more lines or set-ups than the 32767 a read can count. The run was not "
    "reduced.";
constexpr int32_t kCapacity = 1000;

/// Ends a read. An empty message ends it without a word.
struct Stop {
    std::string_view message;
    std::string reason;
};

/// 16-bit counter arithmetic: a result past the range ends the read.
int16_t Counter16(int32_t value, const char* what) {
    if (value > std::numeric_limits<int16_t>::max() ||
        value < std::numeric_limits<int16_t>::min()) {
        throw Stop{kTooManyLines, std::string(what) + " passes 32767"};
    }
    return static_cast<int16_t>(value);
}

double Value(std::string_view field, const char* what) {
    const std::optional<double> value = NumericValue(field);
    if (!value) throw Stop{kCheckDataFile, std::string(what) + " is too large a number"};
    return *value;
}

/// A one-character flag compared as a number with 1; anything but a digit is a data error.
bool FlagIsOne(std::string_view line, size_t position) {
    const std::string_view flag = Field(line, position, 1);
    if (flag.size() != 1 || flag[0] < '0' || flag[0] > '9') {
        throw Stop{kCheckDataFile, "the flag at position " + std::to_string(position) +
                                       " of a reading record is not a digit"};
    }
    return flag[0] == '1';
}

/// Line counter and row offset of a read: a record's sheet row is their difference.
struct RowCounter {
    int16_t lineCounter = 0;
    int16_t rowOffset = 0;
    int16_t Row() const { return Counter16(lineCounter - rowOffset, "the sheet row"); }
    void Advance(int32_t by) { lineCounter = Counter16(lineCounter + by, "the line counter"); }
};

/// Positions of an SDR field book's fields: 1-based first position and length.
struct SdrLayout {
    std::string_view model;
    std::string_view rejectMessage;
    size_t benchmarkPos;
    size_t stationPos, stationLen;
    bool trimStation;
    size_t distancePos;
    size_t readingPos;
    size_t backsightFlagPos;
    size_t foresightFlagPos;
};

constexpr SdrLayout kSdr20{
    "SDR20", "NOT SDR20 File. Please Check Your Data File ", 25, 5, 4, false, 9, 19, 54, 59};
constexpr SdrLayout kSdr33{
    "SDR33", "NOT SDR33 File. Please Check Your Data File ", 37, 10, 11, true, 21, 37, 78, 83};

void WriteReading(grid::Grid& sheet, int16_t row, std::string_view sight, double reading) {
    const int32_t col = sight == "BS" ? core::kColBS : sight == "IS" ? core::kColIS : core::kColFS;
    sheet.SetCellNumber(row, col, reading);
    sheet.SetCellText(row, core::kColSightType, sight);
}

void CheckCapacity(const RowCounter& rows) {
    if (rows.lineCounter > kCapacity) {
        throw Stop{kTooManyRows, "a reading comes past the 1000 rows of the level sheet"};
    }
}

RowCounter ReadSdrLines(const SdrLayout& layout, LineReader& lines, grid::Grid& sheet,
                        core::RunState& run) {
    RowCounter rows;
    bool offsetFixed = false;
    std::string line;
    while (lines.Next(line)) {
        const double code = Value(Field(line, 1, 2), "the record code");
        // Before the first set-up every line counts; after it only set-ups and readings.
        if (!offsetFixed || code == 62 || code == 63) rows.Advance(1);

        if (code == 0) {
            if (Field(line, 5, 5) != layout.model) {
                throw Stop{layout.rejectMessage,
                           "a header record does not name " + std::string(layout.model)};
            }
        } else if (code == 61) {
            run.EnteredStartRL = Value(Field(line, layout.benchmarkPos, 10), "the benchmark RL");
        } else if (code == 62) {
            if (!offsetFixed) {
                // The first set-up's marker row is row 5 however many lines came before it.
                rows.rowOffset = Counter16(rows.lineCounter - core::kFirstMarkerRow, "the offset");
                offsetFixed = true;
            }
            sheet.SetCellText(rows.Row(), core::kColSightType, core::kMarker);
            run.StationCount = Counter16(run.StationCount + 1, "the set-up count");
        } else if (code == 63) {
            const int16_t row = rows.Row();
            std::string_view station = Field(line, layout.stationPos, layout.stationLen);
            if (layout.trimStation) station = LeftTrimmed(station);
            sheet.SetCellText(row, core::kColStation, station);
            CheckCapacity(rows);
            sheet.SetCellNumber(row, core::kColDist,
                                Value(Field(line, layout.distancePos, 10), "a distance"));
            const std::string_view sight = FlagIsOne(line, layout.backsightFlagPos)   ? "BS"
                                           : FlagIsOne(line, layout.foresightFlagPos) ? "FS"
                                                                                      : "IS";
            WriteReading(sheet, row, sight,
                         Value(Field(line, layout.readingPos, 10), "a staff reading"));
        }
    }
    return rows;
}

RowCounter ReadM5Lines(LineReader& lines, grid::Grid& sheet, core::RunState& run) {
    RowCounter rows;
    int16_t lineIndex = 0;
    bool runStarted = false;
    std::string line;
    while (lines.Next(line)) {
        if (lineIndex == 0 && Field(line, 1, 6) != "For M5") {
            throw Stop{"NOT Zeiss File. Please Check Your Data File ",
                       "line 1 does not start with For M5"};
        }
        const std::string_view code = Field(line, 50, 2);
        const bool sighting = code == "Rb" || code == "Rz" || code == "Rf";
        const bool marked = sighting && Field(line, 30, 5) == "#####";
        if (!runStarted) {
            rows.Advance(1);
        } else if (sighting && !marked) {
            rows.Advance(code == "Rb" ? 2 : 1);  // a new set-up leaves a row for its marker
        }

        if (lineIndex == 2) {
            run.EnteredStartRL = Value(Field(line, 104, 9), "the benchmark height");
        }
        if (code == "Rb") {
            if (!runStarted) {
                // The line that starts the run always lands in row 6, its marker in row 5.
                rows.rowOffset = Counter16(rows.lineCounter - core::kFirstDataRow, "the offset");
                runStarted = true;
            }
            if (!marked) {
                sheet.SetCellText(rows.Row() - 1, core::kColSightType, core::kMarker);
                run.StationCount = Counter16(run.StationCount + 1, "the set-up count");
            }
        }
        if (sighting && !marked && runStarted) {
            const int16_t row = rows.Row();
            sheet.SetCellText(row, core::kColStation, LeftTrimmed(Field(line, 22, 8)));
            CheckCapacity(rows);
            sheet.SetCellNumber(row, core::kColDist, Value(Field(line, 83, 7), "a distance"));
            const std::string_view sight = code == "Rb" ? "BS" : code == "Rz" ? "IS" : "FS";
            WriteReading(sheet, row, sight, Value(Field(line, 60, 7), "a staff reading"));
        }
        lineIndex = Counter16(lineIndex + 1, "the line index");
    }
    return rows;
}

ReadOutcome Read(FieldBookFormat format, std::istream* given, grid::Grid& sheet,
                 core::RunState& run, core::Windowing& windowing) {
    // The menu step, then a cleared sheet with its header block before any file is chosen.
    run.EndRL = std::monostate{};
    run.EnteredStartRL = std::monostate{};
    sheet.ClearCells(-1, -1, -1, -1, 1);
    core::WriteHeaderBlock(sheet);

    ReadOutcome outcome;
    std::ifstream file;
    auto fail = [&](std::string_view message, std::string reason) {
        windowing.SetMousePointer(MousePointer::Default);
        if (!message.empty()) windowing.ShowMessage(message, kMessageTitle, MessageIcon::Critical);
        file.close();
        outcome.end = message.empty() ? ReadEnd::EndedSilently : ReadEnd::EndedWithMessage;
        outcome.reason = std::move(reason);
        return outcome;
    };

    try {
        windowing.SetMousePointer(MousePointer::Default);
        std::istream* in = given;
        if (!in) {
            const std::string name = windowing.ShowOpenFileDialog(FileFilter(format), "");
            if (name.empty()) throw Stop{{}, "no field book was chosen"};
            file.open(name, std::ios::binary);
            if (!file) throw Stop{{}, "cannot open " + name + ": " + std::strerror(errno)};
            in = &file;
        }

        run.StationCount = 0;
        LineReader lines(*in);
        const RowCounter rows =
            format == FieldBookFormat::M5
                ? ReadM5Lines(lines, sheet, run)
                : ReadSdrLines(format == FieldBookFormat::SDR20 ? kSdr20 : kSdr33, lines, sheet,
                               run);
        if (lines.Failed()) throw Stop{{}, "the field book could not be read to its end"};

        // End of the file. Once the reduction has deleted the marker rows below row 5, the last
        // data row stands StationCount - 1 rows higher than the last row written.
        run.FirstDataRow = core::kFirstDataRow;
        run.LastDataRow = Counter16(
            Counter16(rows.Row() - run.StationCount, "the last data row") + 1, "the last data row");
        sheet.SetCellText(core::kStationCountRow, core::kStationCountCol,
                          std::to_string(run.StationCount));
        file.close();

        core::RLBoxes boxes;
        boxes.start = core::RLText(run.EnteredStartRL);
        run.StartRL = run.EnteredStartRL;
        // A run that closes on the station it started from ends on the starting RL.
        if (sheet.CellText(sheet.LastUsedRow(), core::kColStation) ==
            sheet.CellText(core::kFirstDataRow, core::kColStation)) {
            run.EndRL = run.StartRL;
        }
        boxes.end = core::RLText(run.EndRL);
        outcome.formRL = boxes;
        if (const std::optional<core::RLBoxes> confirmed = windowing.ShowFormRL(boxes)) {
            core::ConfirmFormRL(run, *confirmed);
        }
        windowing.SetMousePointer(MousePointer::Default);
        outcome.reduction = core::ReduceLevels(sheet, run, windowing);
        return outcome;
    } catch (const Stop& stop) {
        return fail(stop.message, stop.reason);
    } catch (const grid::GridError& error) {
        return fail({}, error.what());
    }
}

}  // namespace

std::string_view FileFilter(FieldBookFormat format) {
    switch (format) {
        case FieldBookFormat::SDR20:
            return "SDR20 files (*.SDR)|*.SDR|All files(*.*)|*.*";
        case FieldBookFormat::SDR33:
            return "SDR33 files (*.SDR)|*.SDR|All files(*.*)|*.*";
        case FieldBookFormat::M5:
            break;
    }
    return "Zeiss files (*.DAT)|*.DAT|All files(*.*)|*.*";
}

ReadOutcome RunReadCommand(FieldBookFormat format, grid::Grid& sheet, core::RunState& run,
                           core::Windowing& windowing) {
    return Read(format, nullptr, sheet, run, windowing);
}

ReadOutcome RunReadCommand(FieldBookFormat format, std::istream& fieldBook, grid::Grid& sheet,
                           core::RunState& run, core::Windowing& windowing) {
    return Read(format, &fieldBook, sheet, run, windowing);
}

}  // namespace rendle::readers
