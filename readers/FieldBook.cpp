#include "readers/FieldBook.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "core/LevelSheet.h"
#include "core/RunState.h"
#include "grid/Grid.h"
#include "readers/FieldBookLine.h"
#include "readers/Formats.h"
#include "readers/GsiBook.h"
#include "readers/M5Book.h"
#include "readers/ReaderParts.h"
#include "readers/SdrBook.h"

namespace rendle::readers {

namespace {

using parts::Counter16;
using parts::kCapacity;
using parts::RowCounter;
using parts::Stop;

constexpr std::string_view kTooManyDataRows =
    "The run is longer than the 1000 rows a level sheet holds, even once its set-up rows are "
    "taken out. Its readings stay in the sheet; the run was not reduced.";

/// Why `lines` stopped before the end of the book.
std::string WhyNotReadToItsEnd(const LineReader& lines) {
    if (!lines.LineTooLong()) return "the field book could not be read to its end";
    return "line " + std::to_string(lines.LineNumber()) + " runs past " +
           std::to_string(kMaxLineBytes / 1024) + " KB without a line end: this is no field book";
}

/// Reads what `lines` gives into the sheet, and the run state at its end.
ReadResult ReadLines(FieldBookFormat format, LineReader& lines, const LevellingLine* line,
                     grid::Grid& sheet, core::RunState& run) {
    ReadResult result;
    try {
        run.StationCount = 0;
        run.instrument = {};
        RowCounter rows;
        switch (format) {
            case FieldBookFormat::M5:
                rows = parts::ReadM5Lines(lines, sheet, run, result.warnings);
                break;
            case FieldBookFormat::GSI:
                rows = parts::ReadGsiLines(
                    lines, sheet, run, result.warnings,
                    line && line->method.find("FFB") != std::string::npos ? 2 : 1);
                break;
            case FieldBookFormat::SDR20:
            case FieldBookFormat::SDR33:
                rows = parts::ReadSdrLines(format, lines, sheet, run, result.warnings);
                break;
        }
        if (lines.Failed()) throw Stop{{}, WhyNotReadToItsEnd(lines)};

        // End of the file. Once the reduction has deleted the marker rows below row 5, the last
        // data row stands StationCount - 1 rows higher than the last row written.
        const int16_t lastDataRow = Counter16(
            Counter16(rows.Row() - run.StationCount, "the last data row") + 1, "the last data row");
        // A run whose data rows still pass row 1000 then cannot be reduced: said now, rather
        // than the reduction stopping without a word.
        if (lastDataRow > kCapacity) {
            throw Stop{std::string(kTooManyDataRows),
                       "the data rows reach row " + std::to_string(lastDataRow) +
                           " once the set-up rows are taken out, past the 1000 rows of the "
                           "level sheet"};
        }
        run.FirstDataRow = core::kFirstDataRow;
        run.LastDataRow = lastDataRow;
        sheet.SetCellText(core::kStationCountRow, core::kStationCountCol,
                          std::to_string(run.StationCount));

        run.StartRL = run.EnteredStartRL;
        // A run that closes on the station it started from ends on the starting RL.
        if (sheet.CellText(sheet.LastUsedRow(), core::kColStation) ==
            sheet.CellText(core::kFirstDataRow, core::kColStation)) {
            run.EndRL = run.StartRL;
        }
    } catch (const Stop& stop) {
        result.status =
            stop.message.empty() ? ReadStatus::EndedSilently : ReadStatus::EndedWithMessage;
        result.message = stop.message;
        result.reason = stop.reason;
    } catch (const grid::GridError& error) {
        result.status = ReadStatus::EndedSilently;
        result.reason = error.what();
    }
    result.line = lines.LineNumber();
    return result;
}

}  // namespace

ReadResult ReadFieldBook(const Book& book, int runNumber, grid::Grid& sheet, core::RunState& run,
                         const LineDecoder& decoder) {
    if (book.unreadable) return *book.unreadable;
    const FieldBookFormat format = book.format.value_or(FieldBookFormat::SDR20);
    const std::vector<LevellingLine>& lines = book.lines;
    const size_t held = std::max<size_t>(lines.size(), 1);
    if (runNumber < 1 || static_cast<size_t>(runNumber) > held) {
        ReadResult result;
        result.status = ReadStatus::EndedWithMessage;
        result.message = "The field book holds " + std::to_string(held) + " levelling line" +
                         (held == 1 ? "" : "s") + "; line " + std::to_string(runNumber) +
                         " is not among them. Please Check Your Data File ";
        result.reason = "run " + std::to_string(runNumber) +
                        " is not in the field book, which holds " + std::to_string(held);
        return result;
    }
    if (lines.empty()) {
        LineReader whole(book.bytes, decoder.Copy());
        return ReadLines(format, whole, nullptr, sheet, run);
    }
    const LevellingLine& line = lines[static_cast<size_t>(runNumber - 1)];
    LineReader spans(book.bytes, decoder.Copy(), line.spans);
    return ReadLines(format, spans, &line, sheet, run);
}

bool LoadBook(std::istream& in, const std::optional<FieldBookFormat>& format,
              const LineDecoder& decoder, Book& book, std::string& error) {
    book = Book{};
    if (!ReadWholeBook(in, book.bytes, error)) return false;
    book.format = format;
    if (!book.format) {
        LineReader lines(book.bytes, decoder.Copy());
        book.format = DetectFormat(lines);
    }
    const bool listed = book.format == FieldBookFormat::GSI || book.format == FieldBookFormat::M5;
    // A book of one run is read to its end here too when it may hold a line longer than a line
    // can be (a stretch without a carriage return past the limit), so that such a book is
    // refused whole before any of it is laid out, as a listed book is.
    const auto longestStretch = [&bytes = book.bytes] {
        size_t longest = 0;
        for (size_t start = 0; start <= bytes.size();) {
            const size_t cr = bytes.find('\r', start);
            const size_t end = cr == std::string::npos ? bytes.size() : cr;
            longest = std::max(longest, end - start);
            start = end + 1;
        }
        return longest;
    };
    if (listed || longestStretch() > kMaxLineBytes) {
        LineReader lines(book.bytes, decoder.Copy());
        if (listed) {
            book.lines =
                *book.format == FieldBookFormat::GSI ? ListGsiLines(lines) : ListM5Lines(lines);
        } else {
            std::string line;
            while (lines.Next(line)) {
            }
        }
        if (lines.Failed()) {
            ReadResult failure;
            failure.status = ReadStatus::EndedSilently;
            failure.line = lines.LineNumber();
            failure.reason = WhyNotReadToItsEnd(lines);
            book.unreadable = failure;
        }
    }
    return true;
}

ReadResult ReadFieldBook(FieldBookFormat format, std::istream& fieldBook, grid::Grid& sheet,
                         core::RunState& run, LineDecoder decoder, int runNumber) {
    Book book;
    std::string error;
    if (!LoadBook(fieldBook, format, decoder, book, error)) {
        ReadResult result;
        result.status = ReadStatus::EndedSilently;
        result.reason = "the field book could not be read: " + error;
        return result;
    }
    return ReadFieldBook(book, runNumber, sheet, run, decoder);
}

std::optional<FieldBookFormat> DetectFormat(LineReader& lines) {
    using ToldBy = FormatInfo::ToldBy;
    std::string line;
    bool beforeAny = true;  // only blank lines so far
    while (lines.Next(line)) {
        const bool blank = line.find_first_not_of(" \t") == std::string::npos;
        const bool first = lines.LineNumber() == 1;
        for (const FormatInfo& info : kFormats) {
            // A book told by its first line: line 1, or the first that is not blank.
            const bool firstLine = first || (beforeAny && info.blankLinesBefore);
            if (info.toldBy == ToldBy::FirstLine && firstLine && line.starts_with(info.mark)) {
                return info.format;
            }
            if (info.toldBy == ToldBy::GsiWords && firstLine && LooksLikeGsi(line)) {
                return info.format;
            }
            if (info.toldBy == ToldBy::HeaderRecord) {
                const std::optional<double> code = NumericValue(Field(line, 1, 2));
                if (code && *code == 0 && Field(line, 5, 5) == info.mark) return info.format;
            }
        }
        beforeAny = beforeAny && blank;
    }
    return std::nullopt;
}

}  // namespace rendle::readers
