// What every field-book reader shares: how a read stops, its 16-bit counters, and how a
// reading lands in the level sheet.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "core/LevelSheet.h"
#include "grid/Grid.h"
#include "readers/FieldBookLine.h"
#include "readers/ReadResult.h"

namespace rendle::readers::parts {

using readers::kCheckDataFile;
constexpr std::string_view kTooManyRows =
    "The run is longer than the 1000 rows a level sheet holds. The readings before the first one "
    "past it stay in the sheet, with that reading's station name; the run was not reduced.";
constexpr std::string_view kTooManyLines =
    "The field book has more lines or set-ups than the 32767 a read can count. The run was not "
    "reduced.";
constexpr int32_t kCapacity = 1000;

/// Ends a read. An empty message ends it without a word.
struct Stop {
    std::string message;
    std::string reason;
    size_t line = 0;  ///< the field-book line it is about; 0: the line being read
};

/// 16-bit counter arithmetic: a result past the range ends the read.
inline int16_t Counter16(int32_t value, const char* what) {
    if (value > std::numeric_limits<int16_t>::max() ||
        value < std::numeric_limits<int16_t>::min()) {
        throw Stop{std::string(kTooManyLines), std::string(what) + " passes 32767"};
    }
    return static_cast<int16_t>(value);
}

/// Line counter and row offset of a read: a record's sheet row is their difference.
struct RowCounter {
    int16_t lineCounter = 0;
    int16_t rowOffset = 0;
    int16_t Row() const { return Counter16(lineCounter - rowOffset, "the sheet row"); }
    void Advance(int32_t by) { lineCounter = Counter16(lineCounter + by, "the line counter"); }
};

inline void WriteReading(grid::Grid& sheet, int16_t row, std::string_view sight, double reading) {
    const int32_t col = sight == "BS" ? core::kColBS : sight == "IS" ? core::kColIS : core::kColFS;
    sheet.SetCellNumber(row, col, reading);
    sheet.SetCellText(row, core::kColSightType, sight);
}

/// A reading is stored only while the line counter is at most 1000. (Its row may pass 1000 when
/// the first set-up comes on one of the first lines; the marker rows the reduction deletes
/// bring the data rows back, which the end of the read checks.)
inline void CheckCapacity(const RowCounter& rows) {
    if (rows.lineCounter > kCapacity) {
        throw Stop{std::string(kTooManyRows), "a reading comes at line counter " +
                                                  std::to_string(rows.lineCounter) +
                                                  ", past the 1000 rows of the level sheet"};
    }
}

/// Where a read is: its lines, and the warnings of the fields read so far.
struct ReadPlace {
    const LineReader& lines;
    ReadWarnings& warnings;
};

/// The numeric value of a staff reading, distance or benchmark field. A comma right after a
/// digit is a decimal comma, which the numeric rule would silently cut short ("25,500" read
/// as 25): that is a data error, as is a number too large for a double. Text that is no number
/// ("NaN", "$1.5", "12.5abc") is read by the numeric rule and warned of; a blank field is 0,
/// no reading, and says nothing.
double MeasuredValue(const ReadPlace& place, std::string_view line, size_t position, size_t length,
                     const char* what);

/// A last line without a line end that stops short of the end of its reading and distance
/// fields (`fieldsEnd`, a 1-based position) is a field book cut off while it was copied: the
/// number there may be cut short, so it is a data error rather than a smaller number.
void CheckNotCutOff(const LineReader& lines, std::string_view line, size_t fieldsEnd);

}  // namespace rendle::readers::parts
