// What every field-book reader shares: how a read stops, its 16-bit counters, and its measured
// values.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "readers/FieldBookLine.h"
#include "readers/ReadResult.h"

namespace rendle::readers::parts {

using readers::kCheckDataFile;
constexpr std::string_view kTooManyLines =
    "The field book has more lines or set-ups than the 32767 a read can count. The run was not "
    "reduced.";

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

/// A field of a fixed-column record: the last 1-based position it fills, and its name ("the
/// staff reading").
struct RecordField {
    size_t end = 0;
    const char* name = "";
};

/// A last line without a line end that stops before the end of a field its record fills
/// (`fields`, in the order of the line) is a field book cut off while it was copied, or still
/// being written: what stands there may be cut short, so the read ends as a data error naming
/// the field rather than take a shorter number or a record without its fields.
void CheckNotCutOff(const LineReader& lines, std::string_view line,
                    std::initializer_list<RecordField> fields);

/// The reason a read that met a cut-off last line gives: "the last line has no line end and
/// stops at position 30, inside the sight code: the field book looks cut off".
std::string CutOffReason(size_t position, std::string_view inside);

/// The levelling lines a listing found that hold readings (`withReadings`), numbered from 1 in
/// book order; a start abandoned at once is not listed. Kept in place, so that a book of many
/// lines holds its list once.
std::vector<LevellingLine> Listed(std::vector<LevellingLine> found,
                                  const std::vector<bool>& withReadings);

}  // namespace rendle::readers::parts
