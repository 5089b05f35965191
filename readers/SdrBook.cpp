#include "readers/SdrBook.h"

#include <algorithm>
#include <optional>
#include <string>

#include "core/LevelRun.h"
#include "core/LevelSheet.h"
#include "readers/SheetLayout.h"

namespace rendle::readers::parts {

namespace {

/// A record's code by the numeric rule; only a number too large for a double fails.
double CodeValue(std::string_view field) {
    const std::optional<double> value = NumericValue(field);
    if (!value) throw Stop{std::string(kCheckDataFile), "the record code is too large a number"};
    return *value;
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
    .rejectMessage = kNotSdr20,
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
    .rejectMessage = kNotSdr33,
    .benchmarkPos = 37,
    .stationPos = 10,
    .stationLen = 11,
    .trimStation = true,
    .distancePos = 21,
    .readingPos = 37,
    .backsightFlagPos = 78,
    .foresightFlagPos = 83,
};

/// A last line without a line end must hold every field its record has: a record cut in its
/// code, its model name, its benchmark RL or any field of a reading is a book cut off.
void CheckRecordWhole(const SdrLayout& layout, const LineReader& lines, std::string_view line,
                      double code) {
    const RecordField recordCode{2, "the record code"};
    if (code == 0) {
        CheckNotCutOff(lines, line, {recordCode, {9, "the model name"}});
    } else if (code == 61) {
        CheckNotCutOff(
            lines, line,
            {recordCode, {layout.benchmarkPos + kSdrValueLength - 1, "the benchmark RL"}});
    } else if (code == 63) {
        CheckNotCutOff(lines, line,
                       {recordCode,
                        {layout.stationPos + layout.stationLen - 1, "the station name"},
                        {layout.distancePos + kSdrValueLength - 1, "the distance"},
                        {layout.readingPos + kSdrValueLength - 1, "the staff reading"},
                        {layout.backsightFlagPos, "the backsight flag"},
                        {layout.foresightFlagPos, "the foresight flag"}});
    } else {
        CheckNotCutOff(lines, line, {recordCode});
    }
}

}  // namespace

void ReadSdrLines(FieldBookFormat format, LineReader& lines, core::LevelRun& run,
                  ReadWarnings& warnings) {
    const SdrLayout& layout = format == FieldBookFormat::SDR20 ? kSdr20 : kSdr33;
    const ReadPlace place{lines, warnings};
    int16_t counted = 0;  // lines before the first set-up: each counts
    bool offsetFixed = false;
    CapacityWatch capacity;
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
        if (!lines.LastLineEnded()) CheckRecordWhole(layout, lines, line, code);
        // Meant: before the first set-up every line counts, so records before it land in the
        // header block; after it only set-ups and readings take rows.
        if (!offsetFixed) counted = Counter16(counted + 1, "the line counter");

        if (code == 0) {
            if (Field(line, 5, 5) != layout.model) {
                throw Stop{std::string(layout.rejectMessage),
                           "a header record does not name " + std::string(layout.model)};
            }
        } else if (code == 61) {
            run.startRL = MeasuredValue(place, line, layout.benchmarkPos, kSdrValueLength,
                                        "the benchmark RL");
        } else if (code == 62) {
            if (!offsetFixed) {
                // The first set-up's marker row is row 5 however many lines came before it.
                run.standCounter = counted - 1;
                run.standRow = core::kFirstMarkerRow - 1;
                offsetFixed = true;
            }
            core::SetUp setUp;
            setUp.line = lines.LineNumber();
            setUp.sights.reserve(4);  // a backsight, a foresight and a sight or two between
            run.setUps.push_back(std::move(setUp));
        } else if (code == 63) {
            std::string_view station = Field(line, layout.stationPos, layout.stationLen);
            if (layout.trimStation) station = LeftTrimmed(station);
            core::Sight sight{core::SightKind::Intermediate,
                              std::string(station),
                              0,
                              0,
                              std::nullopt,
                              lines.LineNumber()};
            // What a record stopped inside of gave stays in the sheet.
            run.unfinished = core::UnfinishedSight{false, sight.station, std::nullopt,
                                                   false, !offsetFixed,  sight.line};
            sight.distance =
                MeasuredValue(place, line, layout.distancePos, kSdrValueLength, "the distance");
            run.unfinished->distance = sight.distance;
            sight.kind = FlagIsOne(line, layout.backsightFlagPos, "the backsight flag")
                             ? core::SightKind::Back
                         : FlagIsOne(line, layout.foresightFlagPos, "the foresight flag")
                             ? core::SightKind::Fore
                             : core::SightKind::Intermediate;
            sight.reading =
                MeasuredValue(place, line, layout.readingPos, kSdrValueLength, "the staff reading");
            run.unfinished.reset();
            (offsetFixed ? run.setUps.back().sights : run.beforeFirstSetUp)
                .push_back(std::move(sight));
        }
        if (capacity.Passed(run)) {  // the layout refuses the run here
            run.pastCapacity = true;
            break;
        }
    }
    if (!offsetFixed) run.standCounter = run.standRow = counted;
}

}  // namespace rendle::readers::parts
