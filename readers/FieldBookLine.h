// Field-book lines and fields: splitting a field book into lines, cutting fixed-column fields
// out of a line, and the numeric value of a field.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "readers/LineDecoder.h"

namespace rendle::readers {

/// Characters of a line that any reader looks at: every field lies before this position. The
/// rest of a longer line is skipped, so a freak line cannot take memory with it.
inline constexpr size_t kKeptLineLength = 1024;

/// Reads a field book line by line. A line ends at a carriage return, a carriage return and a
/// line feed, or a line feed alone; the line end is not part of the line. A last line without a
/// line end still counts. A UTF-8 byte-order mark at the start of the file is skipped, and each
/// line is decoded to UTF-8 by `decoder`. Reads the stream in blocks, so memory stays flat
/// however long the file.
class LineReader {
  public:
    explicit LineReader(std::istream& in, LineDecoder decoder = LineDecoder());

    /// Whether a line whose first two bytes are these may be passed over unread.
    using LinePass = bool (*)(char first, char second);

    /// The next line in `line`; false at the end of the file. Lines for which `passes` is true
    /// may be passed over (they still count in LineNumber()).
    bool Next(std::string& line, LinePass passes = nullptr);
    /// True when reading stopped on an input error rather than at the end of the file.
    bool Failed() const { return failed_; }
    /// The 1-based number of the line Next() gave last; 0 before the first.
    size_t LineNumber() const { return lineNumber_; }

  private:
    bool Fill();
    void Finish(std::string& line);

    std::istream& in_;
    std::vector<char> buffer_;
    size_t pos_ = 0;
    size_t len_ = 0;
    bool skipLineFeed_ = false;  // the previous line ended with a carriage return
    bool failed_ = false;
    size_t lineNumber_ = 0;
    LineDecoder decoder_;
};

/// The field at 1-based character `position` of `length` characters of a UTF-8 line; a line too
/// short holds only the characters that exist, possibly none. Positions count characters, not
/// bytes, so a name with "ü" does not shift the fields after it.
std::string_view Field(std::string_view line, size_t position, size_t length);

/// The field with its leading spaces removed; trailing spaces stay.
std::string_view LeftTrimmed(std::string_view field);

/// The numeric value of a field: blanks, tabs and line feeds anywhere are ignored; then an
/// optional sign, digits with an optional full stop, and an optional exponent (E or D) are read
/// up to the first character that does not fit. "&H" and "&O" start a hexadecimal or octal
/// integer. A field that does not start with a number is 0. Nothing for a number too large for
/// a double, such as 1E999.
std::optional<double> NumericValue(std::string_view field);

}  // namespace rendle::readers
