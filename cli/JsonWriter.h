// A JSON document written to a stream as it goes, laid out as the JSON library the reports were
// first written with lays it out (two-space indent or one line), so the output stays the same
// byte for byte.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace rendle::cli {

class JsonWriter {
  public:
    /// `indent` spaces per level; a negative indent writes the whole document on one line.
    JsonWriter(std::ostream& out, int indent);
    ~JsonWriter();
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    /// The next member's name; members must be given in byte order of their names, as the
    /// library sorted them.
    void Key(std::string_view key);

    void Number(double value);
    void Integer(int64_t value);
    void Bool(bool value);
    void String(std::string_view text);
    void Null();

    /// A member in one call.
    template <typename T>
    void Member(std::string_view key, const T& value) {
        Key(key);
        Write(value);
    }

    /// Writes out what is buffered.
    void Flush();

  private:
    void Write(double value) { Number(value); }
    void Write(int value) { Integer(value); }
    void Write(bool value) { Bool(value); }
    void Write(std::string_view text) { String(text); }
    void Write(const std::string& text) { String(text); }
    void Write(const char* text) { String(text); }
    void BeforeValue();
    void Open(char bracket);
    void Close(char bracket);
    void NewLine(size_t depth);
    void MaybeFlush();

    std::ostream& out_;
    int indent_;
    std::string buffer_;
    /// Per open container: whether it is still empty.
    std::vector<bool> empty_;
    bool afterKey_ = false;
};

/// `value` as the library writes a double: text that reads back to it, fixed notation from 1e-4
/// up to 1e15 with ".0" on whole numbers, else "1.5e+20" style; "null" for a value that is not
/// finite.
void AppendJsonNumber(std::string& out, double value);

/// `text` as a quoted JSON string; bytes that do not form UTF-8 become U+FFFD, one for each
/// ill-formed part, as the library replaced them.
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace rendle::cli
