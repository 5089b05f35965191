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

}  // namespace rendle::grid
