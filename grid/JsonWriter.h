// The JSON both programs write, through RapidJSON's writers: texts always valid UTF-8 (U+FFFD
// for what is not), a number that is not finite and a value that is missing as null.
#pragma once

#include <rapidjson/rapidjson.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "grid/Utf8.h"

namespace rendle::grid {

/// A file a program was asked for (a workbook, a PDF ...): where, and whether it was written
/// (why not, if not), as both programs' JSON says it.
struct OutputWritten {
    std::string path;
    bool written = false;
    std::string reason;
};

/// Room for the JSON text of any double.
inline constexpr size_t kJsonNumberBytes = 32;

/// A length below 10^6 m to the nanometre, as JsonNumberText writes it, without the general
/// conversion: its count of nanometres has fifteen digits at most, and two decimals of fifteen
/// digits are never one double, so those digits without their trailing zeros are the shortest
/// that read back. Laid out as std::to_chars lays out the shortest: fixed, or scientific where
/// that is shorter (a tie is fixed).
inline size_t NanometreText(double value, std::array<char, kJsonNumberBytes>& text) {
    const double nanometres = std::round(value * 1e9);
    char* p = text.data();
    if (nanometres == 0) {
        for (const char c : {'0', '.', '0'}) *p++ = c;
        return 3;
    }
    if (nanometres < 0) *p++ = '-';
    std::array<char, 20> digits{};
    const int count = static_cast<int>(std::to_chars(digits.data(), digits.data() + digits.size(),
                                                     static_cast<uint64_t>(std::fabs(nanometres)))
                                           .ptr -
                                       digits.data());
    int significant = count;
    while (digits[static_cast<size_t>(significant - 1)] == '0') --significant;
    const int exponent = count - 1 - 9;  // of the leading digit
    const int fixed =
        exponent >= 0
            ? exponent + 1 + (significant > exponent + 1 ? 1 + significant - exponent - 1 : 0)
            : 2 + (-exponent - 1) + significant;
    const int scientific = 1 + (significant > 1 ? significant : 0) + 2 + 2;
    const auto put = [&p, &digits](int from, int to) {
        for (int i = from; i < to; ++i) *p++ = digits[static_cast<size_t>(i)];
    };
    if (fixed <= scientific) {
        if (exponent >= 0) {
            put(0, exponent + 1);
            *p++ = '.';
            if (significant > exponent + 1) {
                put(exponent + 1, significant);
            } else {
                *p++ = '0';  // a whole number keeps its ".0"
            }
        } else {
            *p++ = '0';
            *p++ = '.';
            for (int i = 0; i < -exponent - 1; ++i) *p++ = '0';
            put(0, significant);
        }
    } else {
        put(0, 1);
        if (significant > 1) {
            *p++ = '.';
            put(1, significant);
        }
        *p++ = 'e';
        if (exponent < 0) *p++ = '-';
        p = std::to_chars(p, text.data() + text.size(), exponent < 0 ? -exponent : exponent).ptr;
    }
    return static_cast<size_t>(p - text.data());
}

/// The JSON text of a number, in `text`; its length, 0 for a number that is not finite (which
/// JSON spells null). Rounded to 1/`scale` first when `scale` is given (1e9: a length to a
/// nanometre), then the shortest text that reads back as the double (RapidJSON's own may take a
/// digit too many: 19.060669999999999 for 19.06067); a whole number keeps its ".0", an exponent
/// is as short as the number (1e-9, 1e300), and -0 is 0.
inline size_t JsonNumberText(double value, double scale, std::array<char, kJsonNumberBytes>& text) {
    if (!std::isfinite(value)) return 0;
    if (scale == 1e9 && std::fabs(value) < 1e6) return NanometreText(value, text);
    // Past 2^52 units a double holds no fraction of the unit to take off.
    if (scale > 0 && std::fabs(value * scale) < 4503599627370496.0) {
        value = std::round(value * scale) / scale;
    }
    if (value == 0) value = 0.0;
    // Past 10^15 the plain form would write digits beyond the seventeen a double holds.
    const auto written = std::fabs(value) < 1e15
                             ? std::to_chars(text.data(), text.data() + text.size() - 2, value)
                             : std::to_chars(text.data(), text.data() + text.size() - 2, value,
                                             std::chars_format::scientific);
    char* end = written.ptr;
    const std::string_view shown(text.data(), static_cast<size_t>(end - text.data()));
    if (const size_t e = shown.find('e'); e != std::string_view::npos) {
        char* digits = text.data() + e + 1;
        if (*digits == '-') ++digits;
        char* from = digits;
        while (*from == '+' || (*from == '0' && from + 1 < end)) ++from;
        end = std::copy(from, end, digits);
    } else if (shown.find('.') == std::string_view::npos) {
        *end++ = '.';
        *end++ = '0';
    }
    return static_cast<size_t>(end - text.data());
}

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

    /// An output asked for, `{"path", "written", "reason"}`, or null when it was not.
    void MemberOutput(std::string_view key, const std::optional<OutputWritten>& output) {
        Key(key);
        if (!output) {
            w_.Null();
            return;
        }
        w_.StartObject();
        Member("path", output->path);
        Member("written", output->written);
        Key("reason");
        if (output->written) {
            w_.Null();
        } else {
            String(output->reason);
        }
        w_.EndObject();
    }

  private:
    void WriteNumber(double value, double scale) {
        std::array<char, kJsonNumberBytes> text{};
        const size_t length = JsonNumberText(value, scale, text);
        if (length == 0) {
            w_.Null();
            return;
        }
        w_.RawValue(text.data(), length, rapidjson::kNumberType);
    }

    Writer& w_;
    double scale_ = 0;  ///< 0: numbers as they are
};

}  // namespace rendle::grid
