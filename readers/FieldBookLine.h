// Field-book lines and fields: splitting a field book into lines, cutting fixed-column fields
// out of a line, and the numeric value of a field.
#pragma once

#include <array>
#include <istream>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "grid/Text.h"
#include "readers/LineDecoder.h"

namespace rendle::readers {

/// Characters of a line that any reader looks at: every field lies before this position. The
/// rest of a longer line is skipped, so a freak line cannot take memory with it.
inline constexpr size_t kKeptLineLength = 1024;

/// The longest line a field book may have, in bytes: a longer one (a device such as /dev/zero,
/// a binary file) is no field book.
inline constexpr size_t kMaxLineBytes = size_t{64} * 1024;

/// The most a field book may hold, in bytes. Real books are a few megabytes at most; a larger
/// input (a device, a disk image) is refused rather than read without end.
inline constexpr size_t kMaxBookBytes = size_t{64} * 1024 * 1024;

/// Lines of a field book held in memory: the bytes from `begin` to `end` (a line start each),
/// the first of them line `firstLine` (1-based) of the book.
struct BookSpan {
    size_t begin = 0;
    size_t end = 0;
    size_t firstLine = 1;
};

/// Reads the whole field book from `in` into `bytes`. False, with the reason in `error`, when
/// it cannot be read to its end or holds more than kMaxBookBytes.
bool ReadWholeBook(std::istream& in, std::string& bytes, std::string& error);

/// Reads a field book line by line. A line ends at a carriage return, a carriage return and a
/// line feed, two carriage returns and a line feed (what a text-mode transfer makes of CR LF), or
/// a line feed alone; the line end is not part of the line. A last line without a line end
/// still counts. A UTF-8 byte-order mark at the start of the file is skipped, and each line is
/// decoded to UTF-8 by `decoder`. Reads the stream in blocks, so memory stays flat however long
/// the file; a line longer than kMaxLineBytes ends the reading as a failure.
class LineReader {
  public:
    explicit LineReader(std::istream& in, LineDecoder decoder = LineDecoder());
    /// Reads a field book held in memory: the whole of `book`, or only its `spans`, in their
    /// order, each line keeping its number in the book.
    explicit LineReader(std::string_view book, LineDecoder decoder = LineDecoder(),
                        std::vector<BookSpan> spans = {});

    /// The record codes, 00 to 99, whose lines may be passed over unread: a line that starts
    /// with two digits that make such a code.
    using LinePass = std::array<bool, 100>;

    /// The next line in `line`; false at the end of the file. Lines that `passes` names may be
    /// passed over (they still count in LineNumber()).
    bool Next(std::string& line, const LinePass* passes = nullptr);
    /// True when reading stopped on an input error, or on a line longer than kMaxLineBytes,
    /// rather than at the end of the file.
    bool Failed() const { return failed_; }
    /// True when the reading stopped on a line longer than kMaxLineBytes (LineNumber() is its).
    bool LineTooLong() const { return tooLong_; }
    /// False when the last line given ran to the end of the file without a line end (a file
    /// cut off, or still being written).
    bool LastLineEnded() const { return lastLineEnded_; }
    /// The 1-based number of the line Next() gave last; 0 before the first.
    size_t LineNumber() const { return lineNumber_; }
    /// Where in the book the line Next() gave last starts, and where the next line starts, in
    /// bytes (for a book held in memory, or a stream from its first byte).
    size_t LineStart() const { return lineStart_; }
    size_t NextLineStart() const { return base_ + pos_; }

    /// Bytes read from the stream at a time.
    static constexpr size_t kReadBlock = size_t{128} * 1024;

  private:
    /// Moves what is left of the buffer to its front and reads on; false at the end.
    bool Fill();
    /// The bytes of the line end at pos_, reading on as far as it needs to tell.
    size_t LineEndLength();
    void Finish(std::string& line);
    /// Where the line that goes on at `from` ends in the buffer (its carriage return or line
    /// feed), or len_.
    size_t LineEnd(size_t from);

    /// Moves on to the next span of a book held in memory; false when there is none.
    bool NextSpan();

    std::istream* in_ = nullptr;
    // The block read, at a cache-line boundary: the kernel copies into an address that is not
    // several times slower on some processors.
    struct AlignedFree {
        void operator()(char* p) const { ::operator delete[](p, std::align_val_t{64}); }
    };
    std::unique_ptr<char[], AlignedFree> buffer_;
    const char* data_ = nullptr;  // the block read, or the span of a book held in memory
    std::string_view book_;
    std::vector<BookSpan> spans_;
    size_t span_ = 0;
    size_t base_ = 0;  // where data_ starts in the book
    size_t lineStart_ = 0;
    size_t pos_ = 0;
    size_t len_ = 0;
    bool failed_ = false;
    bool tooLong_ = false;
    bool lastLineEnded_ = true;
    size_t lineNumber_ = 0;
    LineDecoder decoder_;
    // The next line feed and carriage return at or after the last place searched, or len_.
};

/// The field at 1-based character `position` of `length` characters of a UTF-8 line; a line too
/// short holds only the characters that exist, possibly none. Positions count characters, not
/// bytes, so a name with "ü" does not shift the fields after it.
std::string_view Field(std::string_view line, size_t position, size_t length);

using grid::LeftTrimmed;

/// The numeric value of a field: blanks, tabs and line feeds anywhere are ignored; then an
/// optional sign, digits with an optional full stop, and an optional exponent (E or D) are read
/// up to the first character that does not fit. "&H" and "&O" start a hexadecimal or octal
/// integer. A field that does not start with a number is 0. Nothing for a number too large for
/// a double, such as 1E999. `whole`, when given, tells whether the number took every character
/// of the field but blanks (false for "NaN", "$1.5", "12.5abc"; true for a blank field).
std::optional<double> NumericValue(std::string_view field, bool* whole = nullptr);

}  // namespace rendle::readers
