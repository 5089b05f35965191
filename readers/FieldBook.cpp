#include "readers/FieldBook.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
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
#include "readers/SheetLayout.h"

namespace rendle::readers {

namespace {

using parts::Stop;

/// Why `lines` stopped before the end of the book.
std::string WhyNotReadToItsEnd(const LineReader& lines) {
    if (!lines.LineTooLong()) return "the field book could not be read to its end";
    return "the line runs past " + std::to_string(kMaxLineBytes / 1024) +
           " KB without a line end: this is no field book";
}

/// A read that ended on `stop`: silently, or with its message; on the stop's line, when known.
void Stopped(const Stop& stop, ReadResult& result) {
    result.status = stop.message.empty() ? ReadStatus::EndedSilently : ReadStatus::EndedWithMessage;
    result.message = stop.message;
    result.reason = stop.reason;
    result.line = stop.line;
}

/// A line whose last set-up has its backsight and no foresight (the book ends on a backsight)
/// measured nothing from that set-up: said, so that the surveyor knows why the checks leave it
/// out.
void WarnOfOpenSetUp(const core::LevelRun& levelRun, const LevellingLine* line,
                     ReadWarnings& warnings) {
    int setUps = 0;
    const core::SetUp* last = nullptr;
    for (const core::SetUp& setUp : levelRun.setUps) {
        for (const core::Sight& sight : setUp.sights) {
            if (sight.kind == core::SightKind::Back) {
                ++setUps;
                last = &setUp;
                break;
            }
        }
    }
    if (last == nullptr || last != &levelRun.setUps.back()) return;
    for (const core::Sight& sight : last->sights) {
        if (sight.kind == core::SightKind::Fore) return;
    }
    std::string which = "the line";
    if (line != nullptr) {
        which = "levelling line " + std::to_string(line->number);
        if (!line->name.empty()) which += " (" + line->name + ")";
    }
    warnings.Add(WarningKind::OpenSetUp, last->line,
                 "set-up " + std::to_string(setUps) + " has a backsight and no foresight: " +
                     which + " ends on a backsight, which the checks leave out");
}

/// Reads the run `lines` gives; a read that stops keeps what it read before the stop, with
/// the stop.
void ReadRun(FieldBookFormat format, LineReader& lines, const LevellingLine* line,
             core::LevelRun& levelRun, ReadWarnings& warnings) {
    switch (format) {
        case FieldBookFormat::M5:
            parts::ReadM5Lines(lines, levelRun, warnings);
            break;
        case FieldBookFormat::GSI:
            parts::ReadGsiLines(lines, levelRun, warnings,
                                line && line->method.find("FFB") != std::string::npos ? 2 : 1);
            break;
        case FieldBookFormat::SDR20:
        case FieldBookFormat::SDR33:
            parts::ReadSdrLines(format, lines, levelRun, warnings);
            break;
    }
    WarnOfOpenSetUp(levelRun, line, warnings);
}

/// Reads what `lines` gives, lays it out in the sheet, and sets the run state at its end.
ReadResult ReadLines(FieldBookFormat format, LineReader& lines, const LevellingLine* line,
                     grid::Grid& sheet, core::RunState& run) {
    ReadResult result;
    core::LevelRun levelRun;
    std::optional<Stop> readStop;
    try {
        ReadRun(format, lines, line, levelRun, result.warnings);
    } catch (Stop& stop) {
        readStop = std::move(stop);
    }
    try {
        const bool whole = !readStop && !lines.Failed();
        parts::LayOutRun(levelRun, sheet, run, whole);
        if (readStop) throw *readStop;
        if (lines.Failed()) throw Stop{{}, WhyNotReadToItsEnd(lines)};
    } catch (const Stop& stop) {
        Stopped(stop, result);
        if (stop.line != 0) result.warnings.DropAfter(stop.line);
    } catch (const grid::GridError& error) {
        result.status = ReadStatus::EndedSilently;
        result.reason = error.what();
    }
    if (result.line == 0) result.line = lines.LineNumber();
    return result;
}

}  // namespace

namespace {

/// Why run `runNumber` cannot be read from `book` (it could not be read to its end, or holds no
/// such run); nothing when it can.
std::optional<ReadResult> RunNotInBook(const Book& book, int runNumber) {
    if (book.unreadable) return *book.unreadable;
    const size_t held = std::max<size_t>(book.lines.size(), 1);
    if (runNumber >= 1 && static_cast<size_t>(runNumber) <= held) return std::nullopt;
    ReadResult result;
    result.status = ReadStatus::EndedWithMessage;
    result.message = "The field book holds " + std::to_string(held) + " levelling line" +
                     (held == 1 ? "" : "s") + "; line " + std::to_string(runNumber) +
                     " is not among them. Please Check Your Data File ";
    result.reason = "run " + std::to_string(runNumber) + " is not in the field book, which holds " +
                    std::to_string(held);
    return result;
}

/// The lines of run `runNumber` of `book`: the whole book, or the spans of its line.
LineReader RunLines(const Book& book, int runNumber, const LineDecoder& decoder) {
    if (book.lines.empty()) return LineReader(book.Bytes(), decoder.Copy());
    return LineReader(book.Bytes(), decoder.Copy(),
                      book.lines[static_cast<size_t>(runNumber - 1)].spans);
}

const LevellingLine* LineOf(const Book& book, int runNumber) {
    return book.lines.empty() ? nullptr : &book.lines[static_cast<size_t>(runNumber - 1)];
}

}  // namespace

ReadResult ReadFieldBook(const Book& book, int runNumber, grid::Grid& sheet, core::RunState& run,
                         const LineDecoder& decoder) {
    if (std::optional<ReadResult> refused = RunNotInBook(book, runNumber)) return *refused;
    LineReader lines = RunLines(book, runNumber, decoder);
    return ReadLines(book.format.value_or(FieldBookFormat::SDR20), lines, LineOf(book, runNumber),
                     sheet, run);
}

ReducedBook ReadAndReduce(const Book& book, int runNumber, const LineDecoder& decoder,
                          grid::Grid& sheet, core::RunState& run,
                          const std::function<void(core::RunState&)>& benchmarks) {
    ReducedBook done;
    done.read = ReadFieldBook(book, runNumber, sheet, run, decoder);
    if (done.read.status != ReadStatus::Read) return done;
    benchmarks(run);
    done.reduction = core::ReduceLevels(sheet, run);
    return done;
}

ReadResult ReadLevelRun(const Book& book, int runNumber, const LineDecoder& decoder,
                        core::LevelRun& levelRun) {
    levelRun = core::LevelRun{};
    if (std::optional<ReadResult> refused = RunNotInBook(book, runNumber)) return *refused;
    LineReader lines = RunLines(book, runNumber, decoder);
    ReadResult result;
    try {
        ReadRun(book.format.value_or(FieldBookFormat::SDR20), lines, LineOf(book, runNumber),
                levelRun, result.warnings);
        if (lines.Failed()) throw Stop{{}, WhyNotReadToItsEnd(lines)};
        if (levelRun.pastCapacity) {
            // Refused where the layout refuses it, in its words.
            grid::Grid scratch;
            core::RunState state;
            parts::LayOutRun(levelRun, scratch, state, true);
        }
    } catch (const Stop& stop) {
        Stopped(stop, result);
    }
    if (result.line == 0) result.line = lines.LineNumber();
    return result;
}

namespace {

/// Tells the format of a book whose bytes are in, unless given, and lists its lines.
void Examine(const std::optional<FieldBookFormat>& format, const LineDecoder& decoder, Book& book) {
    book.format = format;
    if (!book.format) {
        LineReader lines(book.Bytes(), decoder.Copy());
        book.format = DetectFormat(lines);
    }
    const bool listed = book.format == FieldBookFormat::GSI || book.format == FieldBookFormat::M5;
    // A book of one run is read to its end here too when it may hold a line longer than a line
    // can be (a stretch without a carriage return past the limit), so that such a book is
    // refused whole before any of it is laid out, as a listed book is.
    // Each window of kMaxLineBytes + 1 bytes must hold a carriage return; the next window
    // starts after its last one, so the book is looked through in steps of a window.
    const auto longStretch = [bytes = book.Bytes()] {
        for (size_t start = 0; bytes.size() - start > kMaxLineBytes;) {
            const void* last = memrchr(bytes.data() + start, '\r', kMaxLineBytes + 1);
            if (last == nullptr) return true;
            start = static_cast<size_t>(static_cast<const char*>(last) - bytes.data()) + 1;
        }
        return false;
    };
    if (listed || longStretch()) {
        LineReader lines(book.Bytes(), decoder.Copy());
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
}

}  // namespace

std::optional<size_t> CurvatureAppliedAt(const Book& book) {
    const std::string_view bytes = book.Bytes();
    size_t line = 1;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        const std::string_view text = bytes.substr(start, end - start);
        if (text.find("Curva ON") != std::string_view::npos ||
            text.find("Refract ON") != std::string_view::npos) {
            return line;
        }
        ++line;
        start = end + 1;
    }
    return std::nullopt;
}

bool LoadBook(std::istream& in, const std::optional<FieldBookFormat>& format,
              const LineDecoder& decoder, Book& book, std::string& error) {
    book = Book{};
    if (!ReadWholeBook(in, book.bytes, error)) return false;
    Examine(format, decoder, book);
    return true;
}

bool LoadMappedBook(int fd, const std::optional<FieldBookFormat>& format,
                    const LineDecoder& decoder, Book& book, std::string& error) {
    book = Book{};
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "it is no regular file";
        return false;
    }
    const auto size = static_cast<size_t>(info.st_size);
    if (size > kMaxBookBytes) {
        error = "it holds more than " + std::to_string(kMaxBookBytes >> 20) +
                " MB: this is no field book";
        return false;
    }
    if (size > 0) {
        void* pages = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (pages == MAP_FAILED) {
            error = std::string("it could not be mapped (") + std::strerror(errno) + ")";
            return false;
        }
        book.mapping = std::shared_ptr<const void>(pages, [size](const void* at) {
            munmap(const_cast<void*>(at), size);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
        });
        book.mappedSize = size;
    }
    Examine(format, decoder, book);
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
