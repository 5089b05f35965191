// What a field-book reader gives back, whatever the format: how the read ended, the warnings of
// the fields it read, and the levelling lines a book holds.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "readers/FieldBookLine.h"

namespace rendle::readers {

enum class FieldBookFormat { SDR20, SDR33, M5, GSI };

enum class ReadStatus {
    Read,              ///< the whole field book was read and the run state set from it
    EndedWithMessage,  ///< stopped on something the user is told (wrong format, data error, ...)
    EndedSilently,     ///< stopped without a word (the file could not be read to its end, ...)
};

/// Something read that the surveyor should know of (a value field holding text that is no
/// number, read as what the numeric rule gives; an instrument's figure that disagrees).
struct ReadWarning {
    size_t line = 0;
    std::string text;  ///< the staff reading "NaN" is no number and was read as 0
};

struct ReadResult {
    ReadStatus status = ReadStatus::Read;
    std::string reason;   ///< why a read stopped, in words
    std::string message;  ///< the message box's text when it ended with a message
    size_t line = 0;      ///< the field-book line it stopped at (0: before the first line)
    std::vector<ReadWarning> warnings;  ///< in the order of the lines
};

/// One levelling line of a field book that holds several (a GSI book, a Zeiss M5 book of a
/// DiNi), as a list of them shows it, and where in the book its lines are.
struct LevellingLine {
    int number = 0;      ///< 1-based, in the order of the book
    std::string name;    ///< the line's name, empty when the book gives none
    std::string method;  ///< "BF", "BFFB", "aBF", "aBFFB" ...
    int setUps = 0;
    std::string firstPoint;
    std::string lastPoint;
    size_t line = 0;  ///< the line of the book where it starts
    /// The parts of the book that hold it, in book order: its start, and for an M5 line each
    /// place the instrument took it up again.
    std::vector<BookSpan> spans;
};

}  // namespace rendle::readers
