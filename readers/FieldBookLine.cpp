#include "readers/FieldBookLine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "core/NumberText.h"

namespace rendle::readers {

LineReader::LineReader(std::istream& in, LineDecoder decoder)
    : in_(in),
      buffer_(static_cast<char*>(::operator new[](kReadBlock, std::align_val_t{64}))),
      decoder_(std::move(decoder)) {}

size_t LineReader::LineEnd(size_t from) {
    // Where the next line feed and the next carriage return lie is kept between calls, so a
    // block is searched once for each, whatever the mix of line ends.
    const auto next = [&](size_t& found, char c) {
        if (found != kUnknown && found >= from) return found;
        const void* at = std::memchr(buffer_.get() + from, c, len_ - from);
        found = at ? static_cast<size_t>(static_cast<const char*>(at) - buffer_.get()) : len_;
        return found;
    };
    return std::min(next(nextLineFeed_, '\n'), next(nextCarriageReturn_, '\r'));
}

void LineReader::Finish(std::string& line) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (lineNumber_ == 0 && line.starts_with(kByteOrderMark)) line.erase(0, kByteOrderMark.size());
    ++lineNumber_;
    decoder_.Decode(line);
}

bool LineReader::Fill() {
    if (!in_) return false;
    in_.read(buffer_.get(), static_cast<std::streamsize>(kReadBlock));
    len_ = static_cast<size_t>(in_.gcount());
    pos_ = 0;
    nextLineFeed_ = kUnknown;
    nextCarriageReturn_ = kUnknown;
    if (in_.bad()) failed_ = true;
    return len_ > 0;
}

bool LineReader::Next(std::string& line, const LinePass* passes) {
    line.clear();
    // Lines the caller needs nothing of are passed over where their first two bytes show it,
    // without being copied or decoded; they still count. Only where the decoder leaves ASCII as
    // it is, and never the first line (it may start with a byte-order mark).
    if (passes != nullptr && decoder_.KeepsAscii() && lineNumber_ > 0) {
        for (;;) {
            if (pos_ == len_ && !Fill()) break;
            if (skipLineFeed_) {
                skipLineFeed_ = false;
                if (buffer_[pos_] == '\n') {
                    ++pos_;
                    continue;
                }
            }
            const char* data = buffer_.get();
            size_t pos = pos_;
            size_t passed = 0;
            bool stopped = false;  // at a line not passed over, or one that runs past the buffer
            while (pos != len_) {
                if (len_ - pos < 2) {
                    stopped = true;
                    break;
                }
                const auto tens = static_cast<unsigned char>(data[pos] - '0');
                const auto units = static_cast<unsigned char>(data[pos + 1] - '0');
                if (tens > 9 || units > 9 || !(*passes)[tens * 10U + units]) {
                    stopped = true;
                    break;
                }
                const size_t stop = LineEnd(pos + 2);
                if (stop == len_) {
                    stopped = true;
                    break;
                }
                ++passed;
                pos = stop + 1;
                if (data[stop] == '\r') {
                    if (pos == len_) {
                        skipLineFeed_ = true;  // its line feed may open the next block
                        break;
                    }
                    if (data[pos] == '\n') ++pos;
                }
            }
            pos_ = pos;
            lineNumber_ += passed;
            if (stopped) break;
        }
    }

    bool any = false;  // something of this line (a character or its end) was seen
    for (;;) {
        if (pos_ == len_ && !Fill()) {
            if (any) Finish(line);
            return any;
        }
        if (skipLineFeed_) {
            skipLineFeed_ = false;
            if (buffer_[pos_] == '\n') {
                ++pos_;
                continue;
            }
        }
        const char* begin = buffer_.get() + pos_;
        const char* end = buffer_.get() + len_;
        const char* stop = buffer_.get() + LineEnd(pos_);
        const size_t room = kKeptLineLength - std::min(kKeptLineLength, line.size());
        line.append(begin, std::min(static_cast<size_t>(stop - begin), room));
        any = any || stop != begin;
        pos_ += static_cast<size_t>(stop - begin);
        if (stop != end) {
            skipLineFeed_ = *stop == '\r';
            ++pos_;
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
    unsigned char any = 0;
    for (size_t i = 0; i < reach; ++i) any |= static_cast<unsigned char>(line[i]);
    if (any < 0x80) return line.substr(position - 1, length);
    const size_t begin = SkipCharacters(line, 0, position - 1);
    if (begin >= line.size()) return {};
    return line.substr(begin, SkipCharacters(line, begin, length) - begin);
}

std::string_view LeftTrimmed(std::string_view field) {
    const size_t first = field.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view{} : field.substr(first);
}

namespace {

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

std::optional<double> NumericValue(std::string_view field) {
    SignificantChars chars(field);
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
    if (chars.Peek() == '.') {
        number += '.';
        chars.Advance();
        for (; IsDigit(chars.Peek()); chars.Advance(), ++digits) number += chars.Peek();
    }
    if (digits == 0) return 0.0;

    const char e = chars.Peek();
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

}  // namespace rendle::readers
