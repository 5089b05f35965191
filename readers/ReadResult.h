// What a field-book reader gives back, whatever the format: how the read ended, the warnings of
// the fields it read, and the levelling lines a book holds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "readers/FieldBookLine.h"

namespace rendle::readers {

enum class FieldBookFormat { SDR20, SDR33, M5, GSI };

/// The messages of the File menu's three readers, in their own words: a book of another format,
/// and a data error.
inline constexpr std::string_view kNotSdr20 = "NOT SDR20 File. Please Check Your Data File ";
inline constexpr std::string_view kNotSdr33 = "NOT SDR33 File. Please Check Your Data File ";
inline constexpr std::string_view kNotZeiss = "NOT Zeiss File. Please Check Your Data File ";
inline constexpr std::string_view kCheckDataFile = "Please Check Your Data File ";

enum class ReadStatus {
    Read,              ///< the whole field book was read and the run state set from it
    EndedWithMessage,  ///< stopped on something the user is told (wrong format, data error, ...)
    EndedSilently,     ///< stopped without a word (the file could not be read to its end, ...)
};

/// What a warning is about.
enum class WarningKind {
    NoNumber,           ///< a value field holding text that is no number, read by the numeric rule
    InstrumentDiffers,  ///< the instrument's own figure disagrees with its readings
    TakenAgain,         ///< a reading or a set-up measured again replaced the earlier one
    Edited,             ///< the book looks edited (a repeat after readings it did not mark)
    OpenSetUp,          ///< the last set-up has a backsight and no foresight
};

/// Something read that the surveyor should know of, with the field-book line it is about.
struct ReadWarning {
    size_t line = 0;
    std::string text;  ///< the staff reading "NaN" is no number and was read as 0
    WarningKind kind = WarningKind::NoNumber;
};

/// The warnings of a read: the first kTold in the order of the lines, the rest only counted,
/// so that a book of a million odd fields says so in a few lines.
class ReadWarnings {
  public:
    static constexpr size_t kTold = 20;

    void Add(WarningKind kind, size_t line, std::string text) {
        if (told_.size() < kTold) {
            told_.push_back({line, std::move(text), kind});
        } else {
            ++more_;
        }
    }
    const std::vector<ReadWarning>& Told() const { return told_; }
    /// How many more there were than are told.
    size_t More() const { return more_; }
    bool Empty() const { return told_.empty(); }
    /// Forgets what was told of lines after `line`: a read that stops there never read them.
    void DropAfter(size_t line) {
        const size_t told = told_.size();
        std::erase_if(told_, [line](const ReadWarning& warning) { return warning.line > line; });
        if (told_.size() < told) more_ = 0;
    }

  private:
    std::vector<ReadWarning> told_;
    size_t more_ = 0;
};

struct ReadResult {
    ReadStatus status = ReadStatus::Read;
    std::string reason;   ///< why a read stopped, in words
    std::string message;  ///< the message box's text when it ended with a message
    size_t line = 0;      ///< the field-book line it stopped at (0: before the first line)
    ReadWarnings warnings;
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
