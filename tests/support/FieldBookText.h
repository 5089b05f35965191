// Builds fixed-column field-book lines for the reader tests.
#pragma once

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace rendle::testing {

/// A line with each text placed at its 1-based position, blanks between.
inline std::string Line(const std::vector<std::pair<size_t, std::string>>& fields) {
    std::string line;
    for (const auto& [position, text] : fields) {
        if (line.size() < position - 1 + text.size()) line.resize(position - 1 + text.size(), ' ');
        line.replace(position - 1, text.size(), text);
    }
    return line;
}

inline std::string Join(const std::vector<std::string>& lines, const std::string& end = "\r\n") {
    std::string text;
    for (const std::string& line : lines) text += line + end;
    return text;
}

inline std::string Sdr20Header(const std::string& model = "SDR20") {
    return Line({{1, "00"}, {3, "NM"}, {5, model}});
}
inline std::string Sdr20Benchmark(const std::string& rl) {
    return Line({{1, "61"}, {25, rl}});
}
inline std::string SetUpRecord() {
    return "62";
}
/// A reading record; bs and fs are the flag characters at positions 54 and 59.
inline std::string Sdr20Reading(const std::string& station, const std::string& distance,
                                const std::string& reading, const std::string& bs,
                                const std::string& fs) {
    return Line({{1, "63"}, {5, station}, {9, distance}, {19, reading}, {54, bs}, {59, fs}});
}

inline std::string Sdr33Header(const std::string& model = "SDR33") {
    return Line({{1, "00"}, {3, "NM"}, {5, model}});
}
inline std::string Sdr33Benchmark(const std::string& rl) {
    return Line({{1, "61"}, {37, rl}});
}
inline std::string Sdr33Reading(const std::string& station, const std::string& distance,
                                const std::string& reading, const std::string& bs,
                                const std::string& fs) {
    return Line({{1, "63"}, {10, station}, {21, distance}, {37, reading}, {78, bs}, {83, fs}});
}

inline std::string M5First() {
    return "For M5|Adr     1|TO  LEVEL.DAT";
}
inline std::string M5Other() {
    return "For M5|Adr     2|TO  Start-Line";
}
inline std::string M5Benchmark(const std::string& height) {
    return Line({{1, "For M5|Adr     3|KD1"}, {104, height}});
}
/// A sighting line: code "Rb", "Rz" or "Rf"; `marked` puts "#####" in the skip-marker field.
/// A station name shorter than its 8-character field is right-aligned in it.
inline std::string M5Sighting(const std::string& code, const std::string& station,
                              const std::string& reading, const std::string& distance,
                              bool marked = false) {
    const std::string field = std::string(8 - std::min<size_t>(8, station.size()), ' ') + station;
    return Line({{1, "For M5|Adr     9|KD1"},
                 {22, field},
                 {30, marked ? "#####" : "     "},
                 {50, code},
                 {60, reading},
                 {83, distance}});
}

/// A closed run of three set-ups as an M5 book of `method`: each set-up's back and fore
/// readings read twice (for the single-reading methods, once: their means), in the method's
/// order, an intermediate sight after the first backsight of set-up 2, and a Z line after each
/// set-up with the instrument's height of its foresight point (100.875, 101.25, 100). `codes` are
/// the back, intermediate and fore codes. Means and values are exact in binary, so the book of the
/// means must give the same numbers.
inline std::string M5Run(const std::string& method, const char* codes[3] = nullptr) {
    static const char* kEnglish[3] = {"Rb", "Rz", "Rf"};
    if (codes == nullptr) codes = kEnglish;
    struct SetUp {
        const char* back;
        double b[2];
        double db[2];
        const char* fore;
        double f[2];
        double df[2];
    };
    const SetUp setUps[] = {{"BM1", {1.25, 1.75}, {20, 22}, "CP1", {0.5, 0.75}, {19, 21}},
                            {"CP1", {1.5, 2.0}, {30, 30}, "CP2", {1.25, 1.5}, {28, 30}},
                            {"CP2", {0.75, 1.25}, {25, 27}, "BM1", {2.0, 2.5}, {24, 26}}};
    const auto text = [](double v) {
        std::ostringstream out;
        out << v;
        return out.str();
    };
    std::vector<std::string> lines = {M5First(),
                                      "For M5|Adr     2|TO  Start-Line      " + method + "     1",
                                      M5Benchmark("100.0000")};
    const bool single = method == "BF" || method == "aBF";
    double z = 100;
    for (int n = 0; n < 3; ++n) {
        const SetUp& s = setUps[n];
        const bool even = n % 2 == 1;
        std::string order = method == "BF"      ? "BF"
                            : method == "aBF"   ? (even ? "FB" : "BF")
                            : method == "BFFB"  ? "BFFB"
                            : method == "aBFFB" ? (even ? "FBBF" : "BFFB")
                            : method == "BBFF"  ? "BBFF"
                                                : "BFBF";
        int backs = 0;
        int fores = 0;
        for (const char c : order) {
            if (c == 'B') {
                const double r = single ? (s.b[0] + s.b[1]) / 2 : s.b[backs];
                const double d = single ? (s.db[0] + s.db[1]) / 2 : s.db[backs];
                lines.push_back(M5Sighting(codes[0], s.back, text(r), text(d)));
                if (n == 1 && backs == 0) lines.push_back(M5Sighting(codes[1], "A", "1", "10"));
                ++backs;
            } else {
                const double r = single ? (s.f[0] + s.f[1]) / 2 : s.f[fores];
                const double d = single ? (s.df[0] + s.df[1]) / 2 : s.df[fores];
                lines.push_back(M5Sighting(codes[2], s.fore, text(r), text(d)));
                ++fores;
            }
        }
        z += (s.b[0] + s.b[1]) / 2 - (s.f[0] + s.f[1]) / 2;
        lines.push_back(Line({{1, "For M5|Adr    30|KD1"}, {96, "Z"}, {99, text(z)}}));
    }
    lines.push_back("For M5|Adr    40|TO  End-Line");
    return Join(lines);
}

// The record sequence of the row-placement example: header, other, benchmark, set-up, BS, FS,
// other, set-up, BS, FS, other.
inline std::string Sdr20Example() {
    return Join({Sdr20Header(), "13NMnote", Sdr20Benchmark("100.5"), SetUpRecord(),
                 Sdr20Reading("BM01", "    30.000", "    1.5000", "1", "0"),
                 Sdr20Reading("CP01", "    30.000", "    0.9000", "0", "1"), "13NMnote",
                 SetUpRecord(), Sdr20Reading("CP01", "    40.000", "    1.6000", "1", "0"),
                 Sdr20Reading("BM02", "    40.000", "    1.4000", "0", "1"), "13NMnote"});
}

inline std::string Sdr33Example() {
    return Join({Sdr33Header(), "13NMnote", Sdr33Benchmark("100.5"), SetUpRecord(),
                 Sdr33Reading("       BM01", "    30.000", "    1.5000", "1", "0"),
                 Sdr33Reading("       CP01", "    30.000", "    0.9000", "0", "1"), "13NMnote",
                 SetUpRecord(), Sdr33Reading("       CP01", "    40.000", "    1.6000", "1", "0"),
                 Sdr33Reading("       BM02", "    40.000", "    1.4000", "0", "1"), "13NMnote"});
}

/// A DiNi M5 line: the address, the kind ("KD1", "TO "), the information block (a point's
/// name in 8 characters, or a text) and up to three values with their codes, in the columns the
/// recorder writes them.
inline std::string Dini(int address, const std::string& kind, const std::string& information,
                        const std::string& code1 = "", double value1 = 0,
                        const std::string& code2 = "", double value2 = 0,
                        const std::string& code3 = "", double value3 = 0) {
    char head[64];
    std::snprintf(head, sizeof head, "For M5|Adr %5d|%-3s ", address, kind.c_str());
    std::string line = head;
    std::string info = information;
    if (kind == "KD1") {
        char name[16];
        std::snprintf(name, sizeof name, "%8s", information.c_str());
        info = std::string(name) + "          1";
    }
    info.resize(27, ' ');
    line += info + "|";
    const auto value = [](const std::string& code, double v, const char* unit, int decimals) {
        if (code.empty()) return std::string(22, ' ') + "|";
        char text[64];
        std::snprintf(text, sizeof text, "%-2s %14.*f %-4s|", code.c_str(), decimals, v, unit);
        return std::string(text);
    };
    line +=
        value(code1, value1, "m", 5) + value(code2, value2, "m", 3) + value(code3, value3, "m", 5);
    return line;
}

}  // namespace rendle::testing
