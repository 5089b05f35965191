// Builds fixed-column field-book lines for the reader tests.
#pragma once

#include <algorithm>
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

}  // namespace rendle::testing
