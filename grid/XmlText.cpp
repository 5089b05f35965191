#include "grid/XmlText.h"

#include <cstdio>

#include "grid/Utf8.h"

namespace rendle::grid {

std::string XmlSafeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                char escape[8];
                std::snprintf(escape, sizeof escape, "_x%04X_", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
            ++i;
        } else if (const size_t length = Utf8SequenceLength(text, i)) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
        }
    }
    return out;
}

std::string XmlEscaped(std::string_view text) {
    const std::string safe = XmlSafeText(text);
    std::string out;
    out.reserve(safe.size());
    for (const char c : safe) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace rendle::grid
