// UTF-8, the encoding of every text inside the program.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rendle::grid {

/// The length of the UTF-8 sequence that starts at byte `i` of `text`; 0 when the bytes there do
/// not form one (overlong forms, surrogates and code points past U+10FFFF included). ASCII
/// bytes are sequences of one.
size_t Utf8SequenceLength(std::string_view text, size_t i);

/// True when `text` is valid UTF-8.
bool IsValidUtf8(std::string_view text);

/// `text` as valid UTF-8: every byte that does not form UTF-8 becomes U+FFFD, so a path or an
/// argument of unknown encoding can be shown.
std::string ValidUtf8(std::string_view text);

/// The code point of the valid UTF-8 sequence of `length` bytes at `text[i]`.
char32_t CodePoint(std::string_view text, size_t i, size_t length);

/// Columns a character takes on a terminal: none for a combining mark, two for the wide
/// characters of East Asian scripts, one for the rest. (A short table of our own: the C
/// library's wcwidth depends on the locale the text is printed in.)
int CharacterWidth(char32_t c);

/// Columns valid UTF-8 `text` takes on a terminal.
size_t DisplayWidth(std::string_view text);

/// Characters of UTF-8 `text` (bytes that begin a sequence): where a field book's positions
/// count.
size_t Utf8Characters(std::string_view text);

/// Whether every byte of `text` is ASCII (below 0x80): where characters are bytes.
bool IsAscii(std::string_view text);

/// Whether every byte of `text` is a printable ASCII character (a blank to a tilde): a text
/// shown as it is, one column a character.
bool IsPrintableAscii(std::string_view text);

/// A text as a terminal should get it: valid UTF-8 (a byte that is no UTF-8 becomes U+FFFD),
/// with control characters (which would move the cursor or change colours) shown as \xHH. The
/// cells of the report, and the paths in rendle-reduce's messages, are shown so.
std::string EscapedText(std::string_view text);

}  // namespace rendle::grid
