// Large synthetic field books for the reader benchmarks: a full run of data rows with many
// records that take no row (notes, other codes) between them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "GsiText.h"
#include "readers/FieldBook.h"

namespace rendle::bench {

/// About `bytes` of GSI-16 book of the BF method, the same 199 set-ups of a BS, two IS and an
/// FS, with remark blocks (word 71) that take no row between the blocks.
inline std::string MakeGsiBook(size_t bytes) {
    std::vector<testing::GsiSetUp> setUps;
    for (int i = 0; i < 199; ++i) {
        setUps.push_back({"P" + std::to_string(i),
                          "P" + std::to_string(i + 1),
                          1.2345,
                          1.2345,
                          0,
                          0,
                          25.0,
                          25.0,
                          {{"I", 1.2345}, {"J", 1.2345}}});
    }
    const std::vector<std::string> lines = testing::GsiLine(1, "P0", 100.0, setUps, true);
    const std::string note = "*" + testing::GsiPoint(1, "NOTE", true) +
                             testing::GsiWord(71, "....", '+', "remark", true, ' ');
    const size_t notesPerLine = bytes / (note.size() + 2) / lines.size() + 1;
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        text += lines[i] + "\r\n";
        if (i == 0) continue;  // the line-start block comes first
        for (size_t n = 0; n < notesPerLine; ++n) text += note + "\r\n";
    }
    return text;
}

/// About `bytes` of field book in `format`: 199 set-ups of a BS, two IS and an FS, which with
/// their marker rows fill the sheet to row 999 as read (the capacity counts marker rows too),
/// with note lines that take no row spread between the records. An M5 book of the method
/// "BFFB" reads each set-up's staffs twice (Rb, the IS, Rf, Rf, Rb) and gives the same sheet.
inline std::string MakeFieldBook(readers::FieldBookFormat format, size_t bytes,
                                 const std::string& m5Method = "BF") {
    using readers::FieldBookFormat;
    if (format == FieldBookFormat::GSI) return MakeGsiBook(bytes);
    const int records = 199 * 5;
    std::string note;
    std::string text;
    char line[160];
    auto add = [&](const char* l) {
        text += l;
        text += "\r\n";
    };
    if (format == FieldBookFormat::M5) {
        add("For M5|Adr     1|TO  BENCH.DAT");
        add(("For M5|Adr     2|TO  Start-Line      " + m5Method + "     1").c_str());
        std::snprintf(line, sizeof line, "%-103s%9.4f", "For M5|Adr     3|KD1", 100.0);
        add(line);
        note = "For M5|Adr     9|TO  note line that takes no row in the level sheet             ";
    } else {
        add(format == FieldBookFormat::SDR20 ? "00NMSDR20 V03-05" : "00NMSDR33 V04-04");
        std::snprintf(line, sizeof line, "61%*s%10.4f", format == FieldBookFormat::SDR20 ? 22 : 34,
                      "", 100.0);
        add(line);
        note = "13NMnote record that takes no row in the level sheet, as instruments write them";
    }
    const size_t notesPerRecord = bytes / (note.size() + 2) / records + 1;
    for (int i = 0; i < records; ++i) {
        const int k = i % 5;  // 0 set-up, 1 BS, 2 and 3 IS, 4 FS
        if (format == FieldBookFormat::M5) {
            const auto sight = [&](const char* code) {
                std::snprintf(line, sizeof line, "%-21s%8s%-20s%-10s%7.4f%16s%7.3f",
                              "For M5|Adr     9|KD1", "P", "", code, 1.2345, "", 25.0);
                add(line);
            };
            if (k == 1) sight("Rb");
            if (k == 2 || k == 3) sight("Rz");
            if (k == 4) sight("Rf");
            if (k == 4 && m5Method == "BFFB") {
                sight("Rf");
                sight("Rb");
            }
        } else if (k == 0) {
            add("62");
        } else {
            const char bs = k == 1 ? '1' : '0';
            const char fs = k == 4 ? '1' : '0';
            if (format == FieldBookFormat::SDR20) {
                std::snprintf(line, sizeof line, "63  P%03d%10.3f%10.4f%25s%c    %c", i % 1000,
                              25.0, 1.2345, "", bs, fs);
            } else {
                std::snprintf(line, sizeof line, "63KI     %11s%10.3f      %10.4f%31s%c    %c", "P",
                              25.0, 1.2345, "", bs, fs);
            }
            add(line);
        }
        // Before the first backsight every M5 line moves the rows on, so notes start after it.
        if (format == FieldBookFormat::M5 && i == 0) continue;
        for (size_t n = 0; n < notesPerRecord; ++n) add(note.c_str());
    }
    return text;
}

}  // namespace rendle::bench
