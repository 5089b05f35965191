// The JSON both programs write, through RapidJSON's writers: texts always valid UTF-8 (U+FFFD
// for what is not), a number that is not finite and a value that is missing as null.
#pragma once

#include <rapidjson/rapidjson.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "grid/Utf8.h"

namespace rendle::grid {

template <typename Writer>
class JsonWriter {
  public:
    explicit JsonWriter(Writer& writer) : w_(writer) {}
    /// Numbers written to 1/`scale` (1e9: a nanometre for figures in metres) in their shortest
    /// form, so that a program reading them gets 0.3, not 0.30000000000000004, and never -0.
    JsonWriter(Writer& writer, double scale) : w_(writer), scale_(scale) {}

    /// The RapidJSON writer, for objects and arrays.
    Writer& Raw() { return w_; }

    void Key(std::string_view key) {
        w_.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
    }
    void String(std::string_view text) {
        if (IsValidUtf8(text)) {
            w_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
            return;
        }
        const std::string valid = ValidUtf8(text);
        w_.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
    }
    /// A figure in the writer's unit (a length in metres), to 1/`scale` in its shortest form.
    /// A number that is not finite has no JSON spelling: null.
    void Number(double value) { WriteNumber(value, scale_); }
    /// A figure that is no length (a ratio, a w-test, a redundancy number): the shortest text
    /// that reads back as the same double, never rounded.
    void Plain(double value) { WriteNumber(value, 0); }
    void MemberPlain(std::string_view key, double value) {
        Key(key);
        Plain(value);
    }
    void MemberPlain(std::string_view key, const std::optional<double>& value) {
        Key(key);
        if (value) {
            Plain(*value);
        } else {
            w_.Null();
        }
    }

    void Write(std::string_view text) { String(text); }
    void Write(const char* text) { String(text); }  // a literal is a text, not a truth value
    void Write(const std::string& text) { String(text); }
    void Write(double value) { Number(value); }
    void Write(int value) { w_.Int(value); }
    void Write(bool value) { w_.Bool(value); }
    void Write(const std::optional<double>& value) {
        if (value) {
            Number(*value);
        } else {
            w_.Null();
        }
    }
    void Write(const std::optional<std::string>& text) {
        if (text) {
            String(*text);
        } else {
            w_.Null();
        }
    }

    /// A key and its value.
    template <typename T>
    void Member(std::string_view key, const T& value) {
        Key(key);
        Write(value);
    }

  private:
    void WriteNumber(double value, double scale) {
        if (!std::isfinite(value)) {
            w_.Null();
            return;
        }
        // Past 2^52 units a double holds no fraction of the unit to take off.
        if (scale > 0 && std::fabs(value * scale) < 4503599627370496.0) {
            value = std::round(value * scale) / scale;
        }
        if (value == 0) value = 0.0;  // -0 is written as 0
        // The shortest text that reads back as the double (RapidJSON's own may take a digit
        // too many: 19.060669999999999 for 19.06067); a whole number keeps its ".0".
        std::array<char, 32> text{};
        // Past 10^15 the plain form would write digits beyond the seventeen a double holds.
        const auto written = std::fabs(value) < 1e15
                                 ? std::to_chars(text.data(), text.data() + text.size() - 2, value)
                                 : std::to_chars(text.data(), text.data() + text.size() - 2, value,
                                                 std::chars_format::scientific);
        char* end = written.ptr;
        const std::string_view shown(text.data(), static_cast<size_t>(end - text.data()));
        if (const size_t e = shown.find('e'); e != std::string_view::npos) {
            // An exponent as short as the number: 1e-9 and 1e300, not 1e-09 and 1e+300.
            char* digits = text.data() + e + 1;
            if (*digits == '-') ++digits;
            char* from = digits;
            while (*from == '+' || (*from == '0' && from + 1 < end)) ++from;
            end = std::copy(from, end, digits);
        } else if (shown.find('.') == std::string_view::npos) {
            *end++ = '.';
            *end++ = '0';
        }
        w_.RawValue(text.data(), static_cast<size_t>(end - text.data()), rapidjson::kNumberType);
    }

    Writer& w_;
    double scale_ = 0;  ///< 0: numbers as they are
};

}  // namespace rendle::grid
