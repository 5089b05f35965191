#include "readers/FieldBookLine.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/NumberText.h"
#include "grid/Utf8.h"

namespace rendle::readers {

LineReader::LineReader(std::istream& in, LineDecoder decoder)
    : in_(&in),
      buffer_(static_cast<char*>(::operator new[](kReadBlock, std::align_val_t{64}))),
      data_(buffer_.get()),
      decoder_(std::move(decoder)) {}

LineReader::LineReader(std::string_view book, LineDecoder decoder, std::vector<BookSpan> spans)
    : data_(book.data()), book_(book), spans_(std::move(spans)), decoder_(std::move(decoder)) {
    if (spans_.empty()) spans_.push_back({0, book.size(), 1});
    span_ = 0;
    const BookSpan& first = spans_.front();
    base_ = std::min(first.begin, book.size());
    data_ = book.data() + base_;
    len_ = std::min(first.end, book.size()) - base_;
    lineNumber_ = first.firstLine - 1;
}

bool LineReader::NextSpan() {
    if (in_ != nullptr || span_ + 1 >= spans_.size()) return false;
    const BookSpan& span = spans_[++span_];
    base_ = std::min(span.begin, book_.size());
    data_ = book_.data() + base_;
    len_ = std::min(span.end, book_.size()) - base_;
    pos_ = 0;
    lineNumber_ = span.firstLine - 1;
    return true;
}

bool ReadWholeBook(std::istream& in, std::string& bytes, std::string& error) {
    bytes.clear();
    const auto tooLarge = [&] {
        error = "it holds more than " + std::to_string(kMaxBookBytes >> 20) +
                " MB: this is no field book";
        return false;
    };
    try {
        std::streambuf* source = in.rdbuf();
        if (source == nullptr) {
            error = "it could not be read";
            return false;
        }
        // A file tells how much it holds: the bytes are copied once, into room made once.
        const std::streamsize size = source->in_avail();
        if (size > 0) bytes.reserve(std::min(static_cast<size_t>(size), kMaxBookBytes) + 1);
        std::array<char, size_t{64} * 1024> block;
        for (;;) {
            const std::streamsize got = source->sgetn(block.data(), block.size());
            if (got <= 0) break;
            if (bytes.size() + static_cast<size_t>(got) > kMaxBookBytes) return tooLarge();
            bytes.append(block.data(), static_cast<size_t>(got));
        }
    } catch (const std::exception& failure) {
        error = std::string("it could not be read to its end (") + failure.what() + ")";
        return false;
    }
    return true;
}

namespace {

/// The first carriage return or line feed in data[from, len), else len: the bytes are looked at
/// once, sixteen at a time where the processor compares sixteen at once.
size_t FindLineEnd(const char* data, size_t from, size_t len) {
    size_t i = from;
#if defined(__SSE2__)
    const __m128i carriageReturns = _mm_set1_epi8('\r');
    const __m128i lineFeeds = _mm_set1_epi8('\n');
    for (; len - i >= 16; i += 16) {
        __m128i block;
        std::memcpy(&block, data + i, sizeof block);
        const int ends = _mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(block, carriageReturns), _mm_cmpeq_epi8(block, lineFeeds)));
        if (ends != 0)
            return i + static_cast<size_t>(std::countr_zero(static_cast<unsigned>(ends)));
    }
#endif
    for (; i < len; ++i) {
        if (data[i] == '\r' || data[i] == '\n') return i;
    }
    return len;
}

}  // namespace

size_t LineReader::LineEnd(size_t from) {
    return FindLineEnd(data_, from, len_);
}

void LineReader::Finish(std::string& line) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (lineNumber_ == 0 && line.starts_with(kByteOrderMark)) line.erase(0, kByteOrderMark.size());
    ++lineNumber_;
    decoder_.Decode(line);
}

bool LineReader::Fill() {
    if (in_ == nullptr) return false;  // a book held in memory is all there
    // The bytes not yet taken (at most the line end being looked at) move to the front.
    const size_t kept = len_ - pos_;
    std::memmove(buffer_.get(), buffer_.get() + pos_, kept);
    base_ += pos_;
    pos_ = 0;
    len_ = kept;
    if (!*in_) return false;
    in_->read(buffer_.get() + kept, static_cast<std::streamsize>(kReadBlock - kept));
    const auto got = static_cast<size_t>(in_->gcount());
    len_ += got;
    if (in_->bad()) failed_ = true;
    if (got == 0) in_->setstate(std::ios::eofbit | std::ios::failbit);
    return got > 0;
}

size_t LineReader::LineEndLength() {
    if (data_[pos_] == '\n') return 1;
    while (len_ - pos_ < 3 && Fill()) {
    }
    const auto at = [this](size_t k) { return pos_ + k < len_ ? data_[pos_ + k] : '\0'; };
    if (at(1) == '\n') return 2;
    if (at(1) == '\r' && at(2) == '\n') return 3;
    return 1;
}

bool LineReader::Next(std::string& line, const LinePass* passes) {
    line.clear();
    // Lines the caller needs nothing of are passed over where their first two bytes show it,
    // without being copied or decoded; they still count. Only where the decoder leaves ASCII as
    // it is, and never the first line (it may start with a byte-order mark). A line whose end
    // is not wholly in the buffer is left to the reading below.
    if (passes != nullptr && decoder_.KeepsAscii() && lineNumber_ > 0) {
        for (;;) {
            if (pos_ == len_ && !Fill()) break;
            const char* data = data_;
            size_t pos = pos_;
            size_t passed = 0;
            bool stopped = false;
            while (!stopped && pos != len_) {
                stopped = true;
                if (len_ - pos < 2) break;
                const auto tens = static_cast<unsigned char>(data[pos] - '0');
                const auto units = static_cast<unsigned char>(data[pos + 1] - '0');
                if (tens > 9 || units > 9 || !(*passes)[tens * 10U + units]) break;
                const size_t stop = LineEnd(pos + 2);
                if (stop == len_ || stop - pos > kMaxLineBytes) break;
                size_t next = stop + 1;
                if (data[stop] == '\r') {
                    if (len_ - stop < 3) break;
                    if (data[stop + 1] == '\n') {
                        next = stop + 2;
                    } else if (data[stop + 1] == '\r' && data[stop + 2] == '\n') {
                        next = stop + 3;
                    }
                }
                ++passed;
                pos = next;
                stopped = false;
            }
            pos_ = pos;
            lineNumber_ += passed;
            if (stopped) break;
        }
    }

    size_t bytes = 0;  // of this line, however many are kept
    bool any = false;  // something of this line (a character or its end) was seen
    if (pos_ == len_) NextSpan();
    lineStart_ = base_ + pos_;
    for (;;) {
        if (pos_ == len_ && !Fill()) {
            lastLineEnded_ = false;
            if (any) Finish(line);
            return any;
        }
        const size_t stop = LineEnd(pos_);
        const size_t count = stop - pos_;
        bytes += count;
        if (bytes > kMaxLineBytes) {
            // A line that never ends (a device, a binary file) is no field book.
            ++lineNumber_;
            tooLong_ = true;
            failed_ = true;
            return false;
        }
        const size_t room = kKeptLineLength - std::min(kKeptLineLength, line.size());
        line.append(data_ + pos_, std::min(count, room));
        any = true;
        pos_ = stop;
        if (stop != len_) {
            pos_ += LineEndLength();
            lastLineEnded_ = true;
            Finish(line);
            return true;
        }
    }
}

namespace {

/// The byte where the character `count` characters after byte `from` starts.
size_t SkipCharacters(std::string_view line, size_t from, size_t count) {
    size_t i = from;
    for (; count > 0 && i < line.size(); --count) {
        ++i;
        while (i < line.size() && (static_cast<unsigned char>(line[i]) & 0xC0) == 0x80) ++i;
    }
    return i;
}

}  // namespace

std::string_view Field(std::string_view line, size_t position, size_t length) {
    if (position == 0 || position > line.size()) return {};
    // Where every byte up to the field's end is ASCII, characters are bytes.
    const size_t reach = std::min(line.size(), position - 1 + std::min(length, line.size()));
    if (grid::IsAscii(line.substr(0, reach))) return line.substr(position - 1, length);
    const size_t begin = SkipCharacters(line, 0, position - 1);
    if (begin >= line.size()) return {};
    return line.substr(begin, SkipCharacters(line, begin, length) - begin);
}

namespace {

/// 10^0 to 10^15, exact as doubles: a number of at most 15 digits is its digits as an integer
/// over one of them, and one division gives the double nearest it.
constexpr std::array<double, 16> kTenToThe = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                              1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

/// Walks a field's characters, skipping blanks, tabs and line feeds.
class SignificantChars {
  public:
    explicit SignificantChars(std::string_view text) : text_(text) { Skip(); }
    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
    void Advance() {
        ++pos_;
        Skip();
    }

  private:
    void Skip() {
        while (pos_ < text_.size() &&
               (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n')) {
            ++pos_;
        }
    }
    std::string_view text_;
    size_t pos_ = 0;
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int DigitValue(char c, int radix) {
    int value = -1;
    if (IsDigit(c))
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < radix ? value : -1;
}

std::optional<double> RadixInteger(SignificantChars& chars, int radix) {
    double value = 0.0;
    for (int digit; !chars.AtEnd() && (digit = DigitValue(chars.Peek(), radix)) >= 0;
         chars.Advance()) {
        value = value * radix + digit;
        if (!std::isfinite(value)) return std::nullopt;
    }
    return value;
}

}  // namespace

namespace {

/// The number the field's characters start with, leaving `chars` after what it took.
std::optional<double> ReadNumber(SignificantChars& chars) {
    if (chars.Peek() == '&') {
        chars.Advance();
        const char kind = chars.Peek();
        if (kind == 'H' || kind == 'h') {
            chars.Advance();
            return RadixInteger(chars, 16);
        }
        if (kind == 'O' || kind == 'o') {
            chars.Advance();
            return RadixInteger(chars, 8);
        }
        return 0.0;
    }

    std::string number;
    if (chars.Peek() == '+' || chars.Peek() == '-') {
        if (chars.Peek() == '-') number += '-';
        chars.Advance();
    }
    size_t digits = 0;
    double whole = 0.0;  // the digits so far as an integer, exact up to 15 digits
    for (; IsDigit(chars.Peek()); chars.Advance(), ++digits) {
        number += chars.Peek();
        whole = whole * 10 + (chars.Peek() - '0');
    }
    // Record codes and other plain integers need no decimal conversion.
    const char next = chars.Peek();
    if (digits > 0 && digits <= 15 && next != '.' && next != 'E' && next != 'e' && next != 'D' &&
        next != 'd') {
        return number.starts_with('-') ? -whole : whole;
    }
    size_t decimals = 0;
    if (chars.Peek() == '.') {
        number += '.';
        chars.Advance();
        for (; IsDigit(chars.Peek()); chars.Advance(), ++digits, ++decimals) {
            number += chars.Peek();
            whole = whole * 10 + (chars.Peek() - '0');
        }
    }
    if (digits == 0) return 0.0;

    const char e = chars.Peek();
    // A staff reading or distance of at most 15 digits: the digits as an integer and the power
    // of ten are both exact, so one division gives the nearest double, as the decimal
    // conversion would.
    if (digits <= 15 && e != 'E' && e != 'e' && e != 'D' && e != 'd') {
        const double value = whole / kTenToThe[decimals];
        return number.starts_with('-') ? -value : value;
    }
    if (e == 'E' || e == 'e' || e == 'D' || e == 'd') {
        // The exponent counts only when digits follow; "1E" and "1E+" read as 1.
        chars.Advance();
        std::string exponent = "e";
        if (chars.Peek() == '+' || chars.Peek() == '-') {
            exponent += chars.Peek();
            chars.Advance();
        }
        size_t expDigits = 0;
        for (; IsDigit(chars.Peek()); chars.Advance(), ++expDigits) exponent += chars.Peek();
        if (expDigits > 0) number += exponent;
    }
    return core::DecimalToDouble(number);
}

}  // namespace

namespace {

/// The value of a field that holds a plain decimal number between blanks ("   -1.2345"), the
/// field of nearly every reading and distance, with at most 15 digits: from its digits as an
/// integer and a power of ten, as the full reading below gives it. Nothing for any other field.
std::optional<double> PlainDecimal(std::string_view field) {
    size_t i = field.find_first_not_of(' ');
    if (i == std::string_view::npos) return std::nullopt;
    const bool negative = field[i] == '-';
    if (field[i] == '-' || field[i] == '+') ++i;
    uint64_t whole = 0;
    size_t digits = 0;
    size_t decimals = 0;
    bool point = false;
    for (; i < field.size(); ++i) {
        const char c = field[i];
        if (IsDigit(c)) {
            whole = whole * 10 + static_cast<uint64_t>(c - '0');
            ++digits;
            decimals += point ? 1 : 0;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0 || digits > 15) return std::nullopt;
    for (; i < field.size(); ++i) {
        if (field[i] != ' ') return std::nullopt;
    }
    const double value = static_cast<double>(whole) / kTenToThe[decimals];
    return negative ? -value : value;
}

}  // namespace

std::optional<double> NumericValue(std::string_view field, bool* whole) {
    if (const std::optional<double> plain = PlainDecimal(field)) {
        if (whole) *whole = true;
        return plain;
    }
    SignificantChars chars(field);
    const bool blank = chars.AtEnd();
    const auto result = ReadNumber(chars);
    // A sign or a point alone ("-", ".", "&H") is read as 0 but is no number either.
    if (whole) {
        *whole = blank || (chars.AtEnd() && field.find_first_of("0123456789") != field.npos);
    }
    return result;
}

}  // namespace rendle::readers
