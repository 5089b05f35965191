// The JSON both programs write, through RapidJSON's writers: texts always valid UTF-8 (U+FFFD
// for what is not), a number that is not finite and a value that is missing as null.
#pragma once

#include <rapidjson/rapidjson.h>

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
    /// A number that is not finite has no JSON spelling: null.
    void Number(double value) {
        if (!std::isfinite(value)) {
            w_.Null();
            return;
        }
        // Past 2^52 units a double holds no fraction of the unit to take off.
        if (scale_ > 0 && std::fabs(value * scale_) < 4503599627370496.0) {
            value = std::round(value * scale_) / scale_;
        }
        w_.Double(value == 0 ? 0.0 : value);  // -0 is written as 0
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
    Writer& w_;
    double scale_ = 0;  ///< 0: numbers as they are
};

}  // namespace rendle::grid
