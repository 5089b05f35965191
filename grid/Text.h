// Blanks around a text, taken off in one way everywhere.
#pragma once

#include <string_view>

namespace rendle::grid {

/// `text` without the `blanks` before it; those after it stay (a field's trailing blanks).
inline std::string_view LeftTrimmed(std::string_view text, std::string_view blanks = " ") {
    const size_t first = text.find_first_not_of(blanks);
    return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

/// `text` without the `blanks` on either side.
inline std::string_view Trimmed(std::string_view text, std::string_view blanks = " \t\r\n") {
    text = LeftTrimmed(text, blanks);
    return text.substr(0, text.find_last_not_of(blanks) + 1);
}

}  // namespace rendle::grid
