// The field-book formats Rendle reads, in one table: every list of them in the program (the
// --format words, messages, the open-file dialogs, the desktop's field-book types) comes from it.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "readers/ReadResult.h"

namespace rendle::readers {

struct FormatInfo {
    FieldBookFormat format;
    std::string_view name;        ///< in messages: "Zeiss M5"
    std::string_view option;      ///< the word of rendle-reduce --format: "m5"
    std::string_view fileFilter;  ///< the open-file dialog's "text|pattern|text|pattern"
    std::string_view extension;   ///< the usual file name ending, upper case: ".DAT"
    std::string_view mimeType;    ///< the desktop's field-book type
    /// How the book is told from its first bytes: a header record (code 00) naming `mark` at
    /// position 5, anywhere in the book; a first line starting with `mark`; a first line of GSI
    /// words (word 11 or 41 first).
    enum class ToldBy { HeaderRecord, FirstLine, GsiWords } toldBy;
    std::string_view mark;
    /// Blank lines before that first line are passed over (its reader passes them over too).
    bool blankLinesBefore;
};

inline constexpr std::array<FormatInfo, 4> kFormats{{
    {FieldBookFormat::SDR20, "SDR20", "sdr20", "SDR20 files (*.SDR)|*.SDR|All files(*.*)|*.*",
     ".SDR", "application/x-rendle-sdr", FormatInfo::ToldBy::HeaderRecord, "SDR20", false},
    {FieldBookFormat::SDR33, "SDR33", "sdr33", "SDR33 files (*.SDR)|*.SDR|All files(*.*)|*.*",
     ".SDR", "application/x-rendle-sdr", FormatInfo::ToldBy::HeaderRecord, "SDR33", false},
    {FieldBookFormat::M5, "Zeiss M5", "m5", "Zeiss files (*.DAT)|*.DAT|All files(*.*)|*.*", ".DAT",
     "application/x-rendle-zeiss-m5", FormatInfo::ToldBy::FirstLine, "For M5", false},
    {FieldBookFormat::GSI, "Leica GSI", "gsi", "Leica GSI files (*.GSI)|*.GSI|All files(*.*)|*.*",
     ".GSI", "application/x-rendle-gsi", FormatInfo::ToldBy::GsiWords, "", true},
}};

inline const FormatInfo& InfoOf(FieldBookFormat format) {
    for (const FormatInfo& info : kFormats) {
        if (info.format == format) return info;
    }
    return kFormats.front();
}

/// The format of a --format word, in any letter case.
inline std::optional<FieldBookFormat> FormatOfOption(std::string_view word) {
    for (const FormatInfo& info : kFormats) {
        if (word.size() != info.option.size()) continue;
        bool same = true;
        for (size_t i = 0; i < word.size(); ++i) {
            same = same && static_cast<char>(word[i] | 0x20) == info.option[i];
        }
        if (same) return info.format;
    }
    return std::nullopt;
}

/// The --format words: "sdr20|sdr33|m5|gsi" (with `separator` "|").
inline std::string FormatOptions(std::string_view separator) {
    std::string words;
    for (const FormatInfo& info : kFormats) {
        if (!words.empty()) words += separator;
        words += info.option;
    }
    return words;
}

/// The names in a sentence: "SDR20, SDR33, Zeiss M5 or Leica GSI".
inline std::string FormatNames() {
    std::string names;
    for (size_t i = 0; i < kFormats.size(); ++i) {
        if (i > 0) names += i + 1 == kFormats.size() ? " or " : ", ";
        names += kFormats[i].name;
    }
    return names;
}

}  // namespace rendle::readers
