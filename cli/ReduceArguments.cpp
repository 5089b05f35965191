#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "cli/Arguments.h"
#include "cli/ReduceCommand.h"
#include "cli/Terminal.h"
#include "core/ToleranceClasses.h"
#include "readers/Formats.h"

namespace rendle::cli {

namespace {

const char* kDescription =
    R"(Reduces a levelling run without windows, as the program does from its File menu.

The field book is read by the command of its format, as if chosen in the open-file dialog,
and the benchmark window is confirmed with OK: its boxes hold what the read filled in (the
starting RL from the field book, the ending RL when the run closes on its first station),
except where --start-rl or --end-rl replaces a box's text (an empty TEXT leaves it empty).
The run is then reduced by the rise-and-fall method with the misclose spread over the set-ups.

Without --format the format is told from the content: a first line starting "For M5" is
Zeiss M5, a first line of GSI words (Leica's digital levels, GSI-8 or GSI-16) is GSI;
otherwise the first header record naming SDR20 or SDR33 decides.

Leica GSI: each word is found where it starts (its index, information and sign), so numbers
longer than their field and texts with blanks are read whole; readings of every method (BF,
BFFB, aBF, aBFFB) averaged per set-up as for a Zeiss M5 book, the starting height as the
starting RL, and the instrument's heights (word 83) and station differences checked. A reading
taken again replaces the earlier one, and is told.

Books of several levelling lines (a GSI book, a DiNi M5 book with several "Start-Line"s):
each line is reduced in turn as a field book of its own from its own start (reports headed
"==> BOOK (run K of N, NAME) <==", one JSON object per line, naming its book and "run":
{"number": K, "of": N, "name": NAME}, outputs in a --save or --pdf folder named BOOK.run-K.xlsx
and .pdf); --run K reduces line K alone, and says which line it is in the same way. An M5
line takes its starting height from the line after its "Start-Line", whether or not the book
begins with a header line. A book is read once, whatever it comes from (a file, a pipe, a
FIFO, standard input), up to 64 MB.

A book that is not whole is not reduced: a last line without a line end that stops before its
record is complete (an SDR or M5 field cut, a GSI word short of its field or a block short of
its words) is refused as cut off, naming the line and the field. A line whose last set-up has
a backsight and no foresight is reduced, warned of (naming the set-up), and its checks sum to
the last foresight.

Text: a line that is valid UTF-8 is read as UTF-8, any other line as Windows-1252 (the code
page of the Windows transfer programs); a UTF-8 byte-order mark is skipped. --encoding NAME
reads every line in that encoding instead (any name iconv knows, such as CP1251). Field
positions count characters. Everything printed is UTF-8.

Problems are told on stderr, one line each: a read that ended with a message as
FIELD-BOOK:LINE: reason, a reduction that stopped early as FIELD-BOOK: the step and reason.

Output: the level sheet as a plain-text level report followed by a short "Checks" block, or
with --json one JSON object per levelling line, of one shape whatever the book (every key
always there, null or an empty list when it holds nothing; docs/rendle-reduce.schema.json is
its JSON Schema): "fieldBook", "run" (the line: number, of, name; 1 of 1 for a book of one),
"outcome" ("reduced": the summary block was written; "reduction-stopped": the reduction
stopped early; "read-failed": the read ended before the reduction, "reason" and "line" saying
why and where; "no-data": the sheet held no run), "messages", "warnings", "formRL" (the
benchmark window's boxes), "runState" (the run state: StartRL the starting RL the reduction
was given, LastRL the RL of the last data row, which the program keeps in StartRL once
reduced), "outputs" (each output asked for: its path and whether it was written), the sheet's
cells and "checks": the arithmetic check (sums of BS, FS, rise and fall,
the three differences and whether they agree), the misclose against the tolerance
(--tolerance MM, else the sheet's 2 mm x sqrt(K)) with its verdict and ratio, and the sight
balance per set-up (imbalance, running sum, flagged beyond --balance-limit A,B, default 5,10),
and for a Zeiss M5 or GSI book the instrument's own checks: the station differences of the set-ups
read twice (flagged beyond --station-limit MM) and the instrument's heights against the
sheet's RLs set-up by set-up, within two of the last digits the book records (0.02 mm at GSI
units 8, 2 mm at units 0; flagged beyond: the field book was edited, or read wrong, at that
set-up). Differences are given in mm as precisely as their limit. Numbers in the JSON are
in their shortest form: lengths and heights in metres to a nanometre (0.3, never
0.30000000000000004 or -0), ratios as they are. A line without an ending RL
(a spur) is checked all the same, but for its misclose; a run without RLs says why instead.

Tolerance classes: --class ID checks the run against a class of a national standard as well
(USA FGCS 1984, Australia ICSM SP1, South Australia, Israel SOI, China GB 50026): each figure the
class sets (line or loop misclose in mm x sqrt(K or E), longest and shortest sight, balance a
set-up and over the line, station difference, method), with the run's figure, the limit and a
verdict; figures the class does not set are left out. --tolerance, --balance-limit and
--station-limit replace the class's figure. --class list prints the classes, their figures and
where each comes from (rows marked "check against the standard" were read in texts citing it).
--save writes the level sheet as a workbook (.xlsx) exactly as File > Save does; --pdf prints
the level report to a PDF file exactly as File > Print does. Both may be given together: the
report is printed first, so the workbook keeps the report's print set-up. --save NAME adds
.xlsx and --pdf NAME adds .pdf unless NAME ends so (in any letter case); a name ending in the
other's extension, a field book named as an output, and a file in a folder that does not
exist are refused (status 64) before any work.

What is written when: the workbook and the PDF only for a book whose read ended normally
(status 0 or 3), so that a book that cannot be read, or reads only in part, never replaces a
good output of an earlier run. The report, or the JSON object (which then says why in
"reason" and "line"), for every book.

Many field books: each is reduced on its own from the program's start state, exactly as one
call per book would; --start-rl and --end-rl apply to every book. The text reports follow one
another, each headed "==> FIELD-BOOK <==". With --json each book is one line of JSON Lines,
the object above with "fieldBook" added (--json-lines prints such lines for one book too).
--save and --pdf name a folder when it exists or ends in "/", for one book or many, and each
output is named after its field book (ring.SDR gives DIR/ring.xlsx and DIR/ring.pdf); with
many books they must name folders. Every output name is planned before any work starts (the
BOOK.run-K names of each levelling line included), and two outputs of one name, or an output
that is a field book, are refused, naming both. -j N reduces N books
at once, the output still in the order the books were given. The exit status of a book of
several lines, and of many books, is the worst of theirs, in this order from the least: 0, 3,
1, 2, 64, 4, 70 (so a data error is never hidden behind a line that stopped short). Standard output gets whole reports only: after SIGINT or SIGTERM the
books under way are finished and written (a book of several levelling lines up to the line
under way, the count told), and no other is started; a book still awaited on a
pipe or a terminal is told as read only in part. A second SIGINT ends the program at once.

Exit status:
  0   reduced: the summary block (misclose, permissible error, length) was written
  1   the read ended without a message (for example the file cannot be opened)
  2   the read ended with a message (wrong format, data error, run too long)
  3   the read reached the reduction but the reduction stopped early (for example an RL
      that is no number)
  4   the workbook or the PDF could not be written, whatever the read gave (the JSON
      "outcome" still tells the read's and the reduction's outcome), or standard output
      could not be written (the books after it are not reduced)
  64  bad usage, or a field book whose format cannot be told
  70  an internal error)";

}  // namespace

std::optional<int> ParseReduceArguments(int argc, char** argv, ReduceCommand& command) {
    using readers::FieldBookFormat;

    CLI::App app(kDescription, "rendle-reduce");
    std::map<std::string, FieldBookFormat> formats;
    std::vector<std::string> formatWords;
    for (const readers::FormatInfo& info : readers::kFormats) {
        formats.emplace(info.option, info.format);
        formatWords.emplace_back(info.option);
    }

    app.add_option("--format", command.format, "Field-book format: " + readers::FormatOptions(", "))
        // A transform added later runs first: the name is checked, then becomes the command.format.
        ->transform(CLI::Transformer(formats).description(""))
        ->transform(CLI::IsMember(formatWords, CLI::ignore_case))
        ->type_name("NAME");
    app.add_option(
           "--run", command.runNumber,
           "Reduce only levelling line K of a book of several (without it, every line in turn)")
        ->type_name("K")
        ->check(CLI::Range(1, std::numeric_limits<int>::max()));
    app.set_version_flag("--version", std::string("rendle-reduce ") + RENDLE_VERSION);
    app.add_option("--start-rl", command.startRL,
                   "Text for the starting benchmark RL box (of every field book)")
        ->expected(1)
        ->check(NotAnOption);
    app.add_option("--end-rl", command.endRL,
                   "Text for the ending benchmark RL box (of every field book)")
        ->expected(1)
        ->check(NotAnOption);
    app.add_flag(
        "--json", command.asJson,
        "Print one JSON object per levelling line instead of the level report (one line each for "
        "many)");
    app.add_flag("--json-lines", command.jsonLines,
                 "Print one line of JSON per field book, naming it, however many are given");
    app.add_flag("--quiet", command.quiet,
                 "No progress line (books done of all, shown on a terminal when the reports go "
                 "elsewhere)");
    app.add_option("--save", command.savePath,
                   "Also write the level sheet as a workbook (.xlsx); a folder for many books")
        ->check(NotAnOption);
    app.add_option("--pdf", command.pdfPath,
                   "Also print the level report to this PDF file; a folder for many books")
        ->check(NotAnOption);
    app.add_option("--tolerance", command.toleranceMm,
                   "Judge the misclose against MM mm x sqrt(K) instead of the sheet's 2 mm x "
                   "sqrt(K) (common classes: 2, 3, 5, 8, 12)")
        ->type_name("MM")
        ->check([](const std::string& text) -> std::string {
            double mm = 0;
            const char* end = text.data() + text.size();
            const auto read = std::from_chars(text.data(), end, mm);
            if (read.ec == std::errc{} && read.ptr == end && mm >= 0.01 && mm <= 1000) return {};
            return "takes a number of millimetres from 0.01 to 1000, such as 2 or 12, not \"" +
                   text + "\"";
        });
    // One word, A,B: a second word is never taken from the field books that follow.
    const auto balanceLimits = [](const std::string& text) -> std::optional<std::vector<double>> {
        const size_t comma = text.find(',');
        if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos) {
            return std::nullopt;
        }
        std::vector<double> limits;
        for (const std::string_view part :
             {std::string_view(text).substr(0, comma), std::string_view(text).substr(comma + 1)}) {
            double metres = -1;
            const char* end = part.data() + part.size();
            const auto read = std::from_chars(part.data(), end, metres);
            if (read.ec != std::errc{} || read.ptr != end || !(metres >= 0) ||
                !std::isfinite(metres)) {
                return std::nullopt;
            }
            limits.push_back(metres);
        }
        return limits;
    };
    app.add_option_function<std::string>(
           "--balance-limit",
           [&command, balanceLimits](const std::string& text) {
               command.balanceLimits = *balanceLimits(text);
           },
           "Flag a set-up whose sight lengths differ by more than A m, or a running sum "
           "past B m (default 5,10)")
        ->type_name("A,B")
        ->check([balanceLimits](const std::string& text) -> std::string {
            if (balanceLimits(text)) return {};
            return "takes two lengths in metres in one word, such as 5,10, not " + text;
        });
    app.add_option("--station-limit", command.stationLimitMm,
                   "Flag a set-up read twice whose station difference (B1 - F1) - (B2 - F2) "
                   "passes MM mm (no flag without it)")
        ->type_name("MM")
        ->check([](const std::string& text) -> std::string {
            double mm = -1;
            const char* end = text.data() + text.size();
            const auto read = std::from_chars(text.data(), end, mm);
            if (read.ec == std::errc{} && read.ptr == end && mm >= 0 && mm <= 1000) return {};
            return "takes a number of millimetres from 0 to 1000, such as 0.3, not \"" + text +
                   "\"";
        });
    app.add_option("--class", command.classId,
                   "Check the run against a tolerance class of a national standard as well "
                   "(its misclose, sight lengths, balance, station difference and method, "
                   "each figure it sets); --class list prints the classes and their sources")
        ->type_name("ID")
        ->check([](const std::string& id) -> std::string {
            if (id == "list" || core::FindToleranceClass(id)) return {};
            return "is no class Rendle knows (--class list names them): " + id;
        });
    app.add_option("--class-file", command.classFile,
                   "Check the run against a surveyor's own class, a JSON object of its figures "
                   "(id, name, source, miscloseMm, loopMm, perSetUpMm, roundTripMm, "
                   "longestSightM, setupImbalanceM, runningImbalanceM, lowestReadingM, "
                   "highestReadingM, method; each optional but the id)")
        ->type_name("FILE.json")
        ->check(NotAnOption);
    AddCorrectionOptions(app, command.staffsFile, command.staffs, command.temperature,
                         command.refraction, "run");
    app.add_option("--encoding", command.encoding,
                   "Read every line in this encoding (an iconv name such as CP1251)")
        ->check(NotAnOption);
    app.add_option("-j,--jobs", command.jobs, "Reduce N field books at once (default 1)")
        ->check(CLI::Range(1U, 256U));
    app.add_option("FIELD-BOOK", command.fieldBooks,
                   "The field books to read; - reads standard input (once)");

    if (const std::optional<int> ended = ParseArguments(app, argc, argv)) {
        return *ended;
    }

    return std::nullopt;
}

}  // namespace rendle::cli
