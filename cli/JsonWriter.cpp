#include "cli/JsonWriter.h"

#include <array>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

namespace rendle::cli {

namespace {

/// Flushed to the stream past this many bytes, so a large sheet is never held whole.
constexpr size_t kFlushBytes = size_t{64} * 1024;

/// The range the byte after `lead` must fall in, when `lead` starts a sequence of `length` bytes;
/// false for a byte that starts none. Later continuation bytes are always 0x80..0xBF.
bool SecondByteRange(unsigned char lead, int& length, unsigned char& low, unsigned char& high) {
    low = 0x80;
    high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
        return false;
    }
    return true;
}

}  // namespace

void AppendJsonNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    // The library's own formatter (Grisu2), not std::to_chars: both give text that reads back to
    // the same double, but Grisu2 now and then gives a longer or different spelling (about one
    // value in 6,000 of a level sheet's sums), and the document must stay the same byte for byte.
    std::array<char, 64> text{};
    char* end = nlohmann::detail::to_chars(text.data(), text.data() + text.size(), value);
    out.append(text.data(), static_cast<size_t>(end - text.data()));
}

void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (size_t i = 0; i < text.size();) {
        // A run of bytes that stand for themselves goes in at once.
        size_t plain = i;
        while (plain < text.size()) {
            const auto c = static_cast<unsigned char>(text[plain]);
            if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\') break;
            ++plain;
        }
        if (plain > i) {
            out.append(text, i, plain - i);
            i = plain;
            continue;
        }
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            switch (byte) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\b':
                    out += "\\b";
                    break;
                case '\f':
                    out += "\\f";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (byte < 0x20) {
                        out += "\\u00";
                        out += kHex[byte >> 4];
                        out += kHex[byte & 0xF];
                    } else {
                        out += static_cast<char>(byte);
                    }
            }
            ++i;
            continue;
        }
        int length = 0;
        unsigned char low = 0;
        unsigned char high = 0;
        if (!SecondByteRange(byte, length, low, high)) {
            out += "\xEF\xBF\xBD";  // a byte that starts nothing
            ++i;
            continue;
        }
        // The longest well-formed start of a sequence; a sequence cut short is one U+FFFD and
        // the byte that cut it is read again.
        size_t good = 1;
        while (good < static_cast<size_t>(length) && i + good < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + good]);
            const bool fits =
                good == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
            if (!fits) break;
            ++good;
        }
        if (good == static_cast<size_t>(length)) {
            out.append(text.substr(i, good));
        } else {
            out += "\xEF\xBF\xBD";
        }
        i += good;
    }
    out += '"';
}

JsonWriter::JsonWriter(std::ostream& out, int indent) : out_(out), indent_(indent) {
    buffer_.reserve(kFlushBytes + 4096);
}

JsonWriter::~JsonWriter() {
    Flush();
}

void JsonWriter::Flush() {
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
}

void JsonWriter::MaybeFlush() {
    if (buffer_.size() >= kFlushBytes) Flush();
}

void JsonWriter::NewLine(size_t depth) {
    if (indent_ < 0) return;
    buffer_ += '\n';
    buffer_.append(depth * static_cast<size_t>(indent_), ' ');
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (empty_.empty()) return;  // the document itself
    if (!empty_.back()) buffer_ += ',';
    empty_.back() = false;
    NewLine(empty_.size());
}

void JsonWriter::Open(char bracket) {
    BeforeValue();
    buffer_ += bracket;
    empty_.push_back(true);
}

void JsonWriter::Close(char bracket) {
    const bool wasEmpty = empty_.back();
    empty_.pop_back();
    if (!wasEmpty) NewLine(empty_.size());  // an empty one stays on its line: {} and []
    buffer_ += bracket;
    MaybeFlush();
}

void JsonWriter::Key(std::string_view key) {
    BeforeValue();
    AppendJsonString(buffer_, key);
    buffer_ += indent_ < 0 ? ":" : ": ";
    afterKey_ = true;
}

void JsonWriter::Number(double value) {
    BeforeValue();
    AppendJsonNumber(buffer_, value);
}

void JsonWriter::Integer(int64_t value) {
    BeforeValue();
    std::array<char, 24> text{};
    const auto written = std::to_chars(text.data(), text.data() + text.size(), value);
    buffer_.append(text.data(), written.ptr);
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    buffer_ += value ? "true" : "false";
}

void JsonWriter::String(std::string_view text) {
    BeforeValue();
    AppendJsonString(buffer_, text);
}

void JsonWriter::Null() {
    BeforeValue();
    buffer_ += "null";
}

}  // namespace rendle::cli
