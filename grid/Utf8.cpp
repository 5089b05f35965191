#include "grid/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace rendle::grid {

size_t Utf8SequenceLength(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    else
        return 0;
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    }
    // Overlong forms, surrogates and code points past U+10FFFF are no UTF-8.
    if (lead == 0xE0 && byte(i + 1) < 0xA0) return 0;
    if (lead == 0xED && byte(i + 1) >= 0xA0) return 0;
    if (lead == 0xF0 && byte(i + 1) < 0x90) return 0;
    if (lead == 0xF4 && byte(i + 1) >= 0x90) return 0;
    return length;
}

bool IsValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const size_t length = Utf8SequenceLength(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string ValidUtf8(std::string_view text) {
    if (IsValidUtf8(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size();) {
        if (const size_t length = Utf8SequenceLength(text, i)) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

char32_t CodePoint(std::string_view text, size_t i, size_t length) {
    const auto byte = [&](size_t k) {
        return static_cast<char32_t>(static_cast<unsigned char>(text[k]));
    };
    switch (length) {
        case 1:
            return byte(i);
        case 2:
            return (byte(i) & 0x1F) << 6 | (byte(i + 1) & 0x3F);
        case 3:
            return (byte(i) & 0x0F) << 12 | (byte(i + 1) & 0x3F) << 6 | (byte(i + 2) & 0x3F);
        default:
            return (byte(i) & 0x07) << 18 | (byte(i + 1) & 0x3F) << 12 | (byte(i + 2) & 0x3F) << 6 |
                   (byte(i + 3) & 0x3F);
    }
}

int CharacterWidth(char32_t c) {
    const auto in = [c](char32_t first, char32_t last) { return c >= first && c <= last; };
    if (in(0x0300, 0x036F) || in(0x1AB0, 0x1AFF) || in(0x1DC0, 0x1DFF) || in(0x20D0, 0x20FF) ||
        in(0xFE20, 0xFE2F) || c == 0x200B) {
        return 0;
    }
    if (in(0x1100, 0x115F) || in(0x2E80, 0x303E) || in(0x3041, 0x33FF) || in(0x3400, 0x4DBF) ||
        in(0x4E00, 0x9FFF) || in(0xA000, 0xA4CF) || in(0xAC00, 0xD7A3) || in(0xF900, 0xFAFF) ||
        in(0xFE30, 0xFE4F) || in(0xFF00, 0xFF60) || in(0xFFE0, 0xFFE6) || in(0x1F300, 0x1F64F) ||
        in(0x1F900, 0x1F9FF) || in(0x20000, 0x3FFFD)) {
        return 2;
    }
    return 1;
}

size_t DisplayWidth(std::string_view text) {
    if (IsAscii(text)) {
        return text.size();  // ASCII, one column each
    }
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t length = grid::Utf8SequenceLength(text, i);
        if (length == 0) {
            // A byte that begins no UTF-8 character shows as U+FFFD, one column, as ValidUtf8
            // makes it; the count goes on past it.
            ++width;
            ++i;
            continue;
        }
        width += static_cast<size_t>(CharacterWidth(CodePoint(text, i, length)));
        i += length;
    }
    return width;
}

size_t Utf8Characters(std::string_view text) {
    size_t count = 0;
    for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

bool IsAscii(std::string_view text) {
    // Eight bytes at a time: any high bit in the OR of them all.
    uint64_t any = 0;
    size_t i = 0;
    for (; i + sizeof any <= text.size(); i += sizeof any) {
        uint64_t word = 0;
        std::memcpy(&word, text.data() + i, sizeof word);
        any |= word;
    }
    for (; i < text.size(); ++i) any |= static_cast<unsigned char>(text[i]);
    return (any & 0x8080808080808080U) == 0;
}

bool IsPrintableAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

std::string EscapedText(std::string_view cellText) {
    // Most cells are printable ASCII: shown as they are.
    if (IsPrintableAscii(cellText)) return std::string(cellText);
    const std::string text = ValidUtf8(cellText);
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t length = Utf8SequenceLength(text, i);
        const char32_t c = CodePoint(text, i, length);
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(c));
            shown += escape;
        } else {
            shown.append(text, i, length);
        }
        i += length;
    }
    return shown;
}

}  // namespace rendle::grid
