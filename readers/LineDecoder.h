// How the bytes of a field-book line become the program's text (UTF-8). Field books reach the
// office through data recorders, serial transfers and Windows programs, so a line may be UTF-8
// or in the Windows code page; the surveyor can also name the encoding.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace rendle::readers {

/// Windows-1252 text as UTF-8 ("\x80" is the euro sign). The five bytes the code page leaves
/// undefined become the control characters of the same number, as Windows maps them.
std::string Windows1252ToUtf8(std::string_view text);

class LineDecoder {
  public:
    /// The usual rule: a line that is valid UTF-8 is UTF-8, any other line is Windows-1252.
    LineDecoder();
    /// Every line in the named encoding, any name iconv knows ("CP1251", "ISO-8859-2" ...);
    /// bytes that do not form a character of it become U+FFFD. An empty name is the usual rule.
    /// Throws std::invalid_argument for a name iconv does not know, or for an encoding whose
    /// ASCII bytes do not stand alone (UTF-16, UTF-32, ISO-2022-JP, EBCDIC): lines are split
    /// and fields found in the bytes, before they are decoded.
    explicit LineDecoder(const std::string& encoding);
    ~LineDecoder();
    LineDecoder(const LineDecoder&) = delete;
    LineDecoder& operator=(const LineDecoder&) = delete;
    LineDecoder(LineDecoder&&) noexcept;
    LineDecoder& operator=(LineDecoder&&) noexcept;

    /// A decoder of the same encoding, for another pass over the same book.
    LineDecoder Copy() const;

    /// Turns the bytes of `line` into UTF-8 in place. A plain ASCII line never changes.
    void Decode(std::string& line);

    /// True when an ASCII byte is always that character, whatever bytes stand around it (the
    /// usual rule; not so for a named encoding, such as UTF-16 or EBCDIC).
    bool KeepsAscii() const { return !iconv_; }

  private:
    struct Iconv;
    std::string encoding_;
    std::unique_ptr<Iconv> iconv_;
};

}  // namespace rendle::readers
