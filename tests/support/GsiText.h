// Builds Leica GSI field books for the tests, word by word from the format's layout: word index in
// positions 1-2 (1-3), information to position 6 (the units digit there), the sign in 7, the
// data right-aligned and padded with zeros to the word's end, a blank after each word.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace rendle::testing {

/// A word of GSI-8 (16 characters) or GSI-16 (24, `wide`); `tail` fills the positions after the
/// word index up to 6.
inline std::string GsiWord(int index, const std::string& tail, char sign, const std::string& data,
                           bool wide, char pad = '0') {
    std::string word = std::to_string(index) + tail;
    word.resize(6, '.');
    word += sign;
    const size_t width = wide ? 16 : 8;
    word += std::string(width - std::min(width, data.size()), pad) + data.substr(0, width);
    return word + " ";
}

/// A length in metres as a word of units digit 8 (five decimals).
inline std::string GsiMetres(int index, double metres, bool wide) {
    const long long value = std::llround(std::fabs(metres) * 100000.0);
    const std::string tail = std::string(index >= 100 ? 2 : 3, '.') + "8";
    return GsiWord(index, tail, metres < 0 ? '-' : '+', std::to_string(value), wide);
}

inline std::string GsiPoint(int block, const std::string& id, bool wide) {
    char info[8];
    std::snprintf(info, sizeof info, "%04d", block % 10000);
    return GsiWord(11, info, '+', id, wide);
}

/// One set-up of a levelling line: its two points, the readings (B2 and F2 for the methods
/// that read twice) and the sight lengths, and intermediate sights.
struct GsiSetUp {
    std::string back;
    std::string fore;
    double b1 = 0, f1 = 0, b2 = 0, f2 = 0;
    double backDistance = 0, foreDistance = 0;
    std::vector<std::pair<std::string, double>> intermediates;
};

/// The blocks of one levelling line of `method` (1 BF, 2 BFFB, 3 aBF, 4 aBFFB) from the start
/// point at `startHeight`, with the heights the instrument stores. `name` becomes word 271.
inline std::vector<std::string> GsiLine(int method, const std::string& start, double startHeight,
                                        const std::vector<GsiSetUp>& setUps, bool wide,
                                        const std::string& name = "", int* block = nullptr) {
    int local = 1;
    int& n = block ? *block : local;
    const std::string star = wide ? "*" : "";
    std::vector<std::string> lines;
    std::string first = star + GsiWord(41, "0001", '+', "?......" + std::to_string(method), wide);
    lines.push_back(first);
    ++n;
    if (!name.empty())
        lines.push_back(star + GsiPoint(n++, "1", wide) +
                        GsiWord(271, "...", '+', name, wide, ' '));
    lines.push_back(star + GsiPoint(n++, start, wide) + GsiMetres(83, startHeight, wide));
    double height = startHeight;
    const bool twice = method == 2 || method == 4;
    int index = 0;
    double running = 0;  // the running station difference (572)
    for (const GsiSetUp& s : setUps) {
        ++index;
        const double back = twice ? (s.b1 + s.b2) / 2 : s.b1;
        const double fore = twice ? (s.f1 + s.f2) / 2 : s.f1;
        const auto sight = [&](const std::string& point, int wi, double reading, double distance) {
            return star + GsiPoint(n++, point, wide) + GsiMetres(32, distance, wide) +
                   GsiMetres(wi, reading, wide);
        };
        const std::string b1 = sight(s.back, 331, s.b1, s.backDistance);
        const std::string f1 = sight(s.fore, 332, s.f1, s.foreDistance);
        const std::string b2 = sight(s.back, 335, s.b2, s.backDistance);
        const std::string f2 = sight(s.fore, 336, s.f2, s.foreDistance);
        const bool swapped = (method == 3 || method == 4) && index % 2 == 0;
        std::vector<std::string> order;
        if (!twice) {
            order = swapped ? std::vector<std::string>{f1, b1} : std::vector<std::string>{b1, f1};
        } else {
            order = swapped ? std::vector<std::string>{f1, b1, b2, f2}
                            : std::vector<std::string>{b1, f1, f2, b2};
        }
        // Intermediate sights after the first backsight, each with its height.
        for (size_t i = 0; i < order.size(); ++i) {
            lines.push_back(order[i]);
            if (order[i] == b1) {
                for (const auto& [point, reading] : s.intermediates) {
                    lines.push_back(sight(point, 333, reading, 10));
                    lines.push_back(star + GsiPoint(n++, point, wide) +
                                    GsiMetres(83, height + back - reading, wide));
                }
            }
        }
        height += back - fore;
        std::string closing = star + GsiPoint(n++, s.fore, wide);
        if (twice) {
            running += (s.b1 - s.f1) - (s.b2 - s.f2);
            closing +=
                GsiMetres(571, (s.b1 - s.f1) - (s.b2 - s.f2), wide) + GsiMetres(572, running, wide);
        }
        closing += GsiMetres(573, s.backDistance - s.foreDistance, wide) +
                   GsiMetres(574, s.backDistance + s.foreDistance, wide) +
                   GsiMetres(83, height, wide);
        lines.push_back(closing);
    }
    return lines;
}

/// Lines as a book, each ended with CR LF.
inline std::string GsiBookText(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

/// Three set-ups from A1 back to A1, with an intermediate sight in the second, read twice where
/// the method reads twice.
inline std::vector<GsiSetUp> GsiLoop() {
    return {
        {"A1", "T1", 1.52341, 1.20112, 1.52351, 1.20118, 30.12, 29.80, {}},
        {"T1", "T2", 1.41100, 1.65432, 1.41104, 1.65440, 25.00, 25.50, {{"P7", 1.33333}}},
        {"T2", "A1", 1.30000, 1.37888, 1.30010, 1.37894, 20.00, 21.00, {}},
    };
}

}  // namespace rendle::testing
