// Blanks around a text, taken off in one way everywhere; a reason made a sentence.
#pragma once

#include <string>
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

/// A reason ("cannot write X: the disk is full") as a sentence of its own: its first letter
/// made a capital, a full stop after it.
inline std::string Sentence(std::string_view reason) {
    std::string sentence(reason);
    if (!sentence.empty() && sentence[0] >= 'a' && sentence[0] <= 'z') {
        sentence[0] = static_cast<char>(sentence[0] - 'a' + 'A');
    }
    if (!sentence.empty() && sentence.back() != '.') sentence += '.';
    return sentence;
}

}  // namespace rendle::grid
