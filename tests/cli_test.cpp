// rendle-reduce run as a whole process: exit status, level report and JSON document.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>

#include "FieldBookText.h"
#include "JsonDump.h"
#include "commands/ReadCommand.h"
#include "readers/Formats.h"

namespace {

using namespace rendle::testing;

using nlohmann::json;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

/// Runs a shell script, capturing its standard output and error and its exit status.
Result RunShell(const std::string& script) {
    static int run = 0;
    const auto dir = std::filesystem::temp_directory_path();
    const std::string stem =
        "rendle-cli-test-" + std::to_string(getpid()) + "-" + std::to_string(++run);
    const auto out = dir / (stem + ".out");
    const auto err = dir / (stem + ".err");
    const std::string command = "(" + script + ") >" + out.string() + " 2>" + err.string();
    const int raw = std::system(command.c_str());
    Result result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = Slurp(out);
    result.err = Slurp(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    if (script.find("--json") != std::string::npos) {
        rendle::testing::KeepJsonDocument(
            script.find(RENDLE_NET) != std::string::npos ? "net" : "reduce", result.out);
    }
    return result;
}

Result RunReduce(const std::string& arguments) {
    return RunShell(std::string(RENDLE_REDUCE) + " " + arguments + " </dev/null");
}

const std::string kReduce = RENDLE_REDUCE;

std::string Sample(const char* name) {
    return std::string(RENDLE_EXAMPLES_DIR) + "/" + name;
}

json CellAt(const json& document, int row, int col) {
    for (const json& cell : document["sheet"]["cells"]) {
        if (cell["row"] == row && cell["col"] == col) return cell;
    }
    return nullptr;
}

TEST(RendleReduce, EachSampleReducesToTheSameDocument) {
    for (const char* name : {"ring-road.sdr20.SDR", "ring-road.sdr33.SDR", "ring-road.m5.DAT"}) {
        SCOPED_TRACE(name);
        const Result result = RunReduce("--json " + Sample(name));
        ASSERT_EQ(result.status, 0) << result.err;
        const json doc = json::parse(result.out);
        EXPECT_EQ(doc["outcome"], "reduced");
        EXPECT_EQ(doc["messages"], json::array());
        EXPECT_EQ(doc["formRL"], (json{{"start", "100"}, {"end", "100"}}));
        EXPECT_EQ(doc["sheet"]["title"], "LEVEL");
        EXPECT_EQ(doc["sheet"]["hiddenColumns"], (json{9, 10}));
        EXPECT_EQ(doc["sheet"]["activeCell"], (json{2, 2}));
        EXPECT_EQ(doc["sheet"]["columnHeadings"]["5"], "H. DIFF.");
        EXPECT_EQ(doc["sheet"]["columnHeadings"].size(), 8u);
        EXPECT_EQ(doc["runState"]["FirstDataRow"], 6);
        EXPECT_EQ(doc["runState"]["LastDataRow"], 16);
        EXPECT_EQ(doc["runState"]["StationCount"], 4);
        EXPECT_EQ(doc["runState"]["EnteredStartRL"], "100") << "FormRL's OK stores text";
        EXPECT_EQ(doc["runState"]["EndRL"], "100");
        // The start as FormRL's OK stored it, and the last RL before adjustment (which the
        // run state keeps in StartRL once reduced) under its own name.
        EXPECT_EQ(doc["runState"]["StartRL"], "100");
        EXPECT_NEAR(doc["runState"]["LastRL"].get<double>(), 100.002, 1e-9);
        EXPECT_EQ(doc["run"], (json{{"number", 1}, {"of", 1}, {"name", nullptr}}));
        EXPECT_EQ(doc["warnings"], json::array());
        EXPECT_EQ(doc["reason"], nullptr);
        EXPECT_EQ(CellAt(doc, 1, 1),
                  (json{{"row", 1}, {"col", 1}, {"text", "LEVEL REPORT"}, {"bold", true}}));
        EXPECT_EQ(CellAt(doc, 2, 6)["text"], "4");
        const json misclose = CellAt(doc, 19, 6);
        EXPECT_EQ(misclose["display"], "0.0020");
        EXPECT_EQ(misclose["format"], "0.0000");
        EXPECT_EQ(misclose["bold"], true);
        EXPECT_NEAR(misclose["number"].get<double>(), 0.002, 1e-12);
        EXPECT_EQ(CellAt(doc, 21, 6)["display"], "210.00");
        const json adjusted = CellAt(doc, 7, 7);
        EXPECT_EQ(adjusted["display"], "99.6665");
        EXPECT_EQ(CellAt(doc, 9, 7), nullptr) << "no adjusted RL on a later BS row";
        EXPECT_EQ(CellAt(doc, 6, 9)["text"], "BS");
    }
}

TEST(RendleReduce, NumbersReadBackToTheSameDouble) {
    const Result result = RunReduce("--json " + Sample("ring-road.sdr20.SDR"));
    const json doc = json::parse(result.out);
    const double rl = CellAt(doc, 7, 6)["number"].get<double>();
    EXPECT_EQ(rl, 100.0 + (1.234 - 1.567));
}

TEST(RendleReduce, PlainReportShowsTheSheetAsDisplayed) {
    const Result result = RunReduce(Sample("ring-road.m5.DAT"));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("LEVEL REPORT\n"), std::string::npos);
    EXPECT_NE(result.out.find("STN  BS      IS      FS      Rise/Fall   RL        ADJ. RL   DIST"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("A            1.5670             -0.3330   99.6670   99.6665  12.00"),
              std::string::npos);
    EXPECT_NE(result.out.find("Misclose(m)"), std::string::npos);
    EXPECT_EQ(result.out.find("CP"), std::string::npos) << "hidden columns are not printed";
    EXPECT_EQ(result.err, "");
}

TEST(RendleReduce, ReplacedBoxesAndAStoppedReduction) {
    const Result stopped =
        RunReduce("--json --start-rl 50 --end-rl '' " + Sample("ring-road.sdr33.SDR"));
    EXPECT_EQ(stopped.status, 3);
    const json doc = json::parse(stopped.out);
    EXPECT_EQ(doc["outcome"], "reduction-stopped");
    EXPECT_EQ(doc["formRL"], (json{{"start", "100"}, {"end", "100"}})) << "as the read filled them";
    EXPECT_EQ(doc["runState"]["EndRL"], "");
    EXPECT_EQ(doc["runState"]["EnteredStartRL"], "50");
    EXPECT_EQ(CellAt(doc, 6, 6)["number"], 50.0);
    EXPECT_NE(stopped.err.find("closing correction"), std::string::npos) << stopped.err;

    const Result amended = RunReduce("--json --end-rl 100.010 " + Sample("ring-road.sdr20.SDR"));
    EXPECT_EQ(amended.status, 0);
    EXPECT_EQ(CellAt(json::parse(amended.out), 16, 7)["display"], "100.0100");
}

TEST(RendleReduce, ReadFailuresAndUsage) {
    struct Case {
        const char* name;
        std::string arguments;
        int status;
    };
    const Case cases[] = {
        {"wrong format", "--json --format sdr33 " + Sample("ring-road.sdr20.SDR"), 2},
        {"missing file", "/nonexistent/run.SDR", 1},
        {"missing file with a format", "--format m5 /nonexistent/run.DAT", 1},
        {"format cannot be told", std::string(RENDLE_EXAMPLES_DIR) + "/../README.md", 64},
        {"unknown format", "--format sdr99 x", 64},
        {"no field book", "--json", 64},
        {"unknown option", "--colour " + Sample("ring-road.m5.DAT"), 64},
        {"help", "--help", 0},
    };
    for (const Case& c : cases) {
        const Result result = RunReduce(c.arguments);
        EXPECT_EQ(result.status, c.status) << c.name << ": " << result.err;
    }

    const Result wrong = RunReduce("--json --format sdr33 " + Sample("ring-road.sdr20.SDR"));
    const json doc = json::parse(wrong.out);
    EXPECT_EQ(doc["outcome"], "read-failed");
    EXPECT_EQ(doc["formRL"], nullptr);
    EXPECT_EQ(doc["messages"],
              (json::array({{{"title", "Data File"},
                             {"text", "NOT SDR33 File. Please Check Your Data File "},
                             {"icon", "critical"}}})));

    const Result missing = RunReduce("/nonexistent/run.SDR");
    EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1) << missing.err;
    EXPECT_NE(missing.err.find("/nonexistent/run.SDR"), std::string::npos);

    const Result help = RunReduce("--help");
    for (const char* word : {"--format", "--start-rl", "--end-rl", "--json", "Exit status"}) {
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    }
}

/// The text of a cell of the JSON document as the sheet shows it.
std::string Shown(const json& document, int row, int col) {
    const json cell = CellAt(document, row, col);
    if (cell.is_null()) return "";
    return cell.contains("text") ? cell["text"].get<std::string>()
                                 : cell["display"].get<std::string>();
}

/// `line` with `text` put over its characters from 1-based byte `position` on.
std::string Put(std::string line, size_t position, const std::string& text) {
    if (line.size() < position - 1 + text.size()) line.resize(position - 1 + text.size(), ' ');
    line.replace(position - 1, text.size(), text);
    return line;
}

/// `line` with its first `placeholder` replaced by `text` (of other byte length).
std::string Swap(std::string line, const std::string& placeholder, const std::string& text) {
    return line.replace(line.find(placeholder), placeholder.size(), text);
}

// Field books as recorders and office tools really write them: each is read, reduced or refused
// as a surveyor needs, its JSON document is valid UTF-8 (json::parse rejects anything else) and
// its cells that matter hold what the field book says.
TEST(RendleReduce, RealFieldBooks) {
    struct Cell {
        int row;
        int col;
        std::string shown;
    };
    struct Case {
        const char* name;
        std::string text;
        std::string arguments;
        int status;
        const char* outcome;
        std::vector<Cell> cells;
        std::string stderrHas;
    };
    const std::string bom = "\xEF\xBB\xBF";
    const std::string m5Start = Join({M5First(), M5Other(), M5Benchmark("100.0000")});
    std::vector<std::string> capacity = {SetUpRecord()};
    for (int i = 0; i < 997; ++i) capacity.push_back(Sdr20Reading("P   ", "1", "1", "0", "0"));
    const Case cases[] = {
        {"Windows-1252 station name",
         Join({Sdr33Header(), Sdr33Benchmark("100"), SetUpRecord(),
               Sdr33Reading("    M\xfcller\x80", "10", "1.5", "1", "0"),
               Sdr33Reading("    M\xfcller\x80", "10", "1.5", "0", "1")}),
         "",
         0,
         "reduced",
         {{6, 1, "M\u00fcller\u20ac"}, {7, 7, "100.0000"}},
         ""},
        {"UTF-8 name that a byte-wide field would cut",
         Join({Sdr20Header(), Sdr20Benchmark("100"), SetUpRecord(),
               Swap(Sdr20Reading("ABC#", "10", "1.5", "1", "0"), "#", "\u00fc"),
               Swap(Sdr20Reading("ABC#", "10", "1.4", "0", "1"), "#", "\u00fc")}),
         "--end-rl 100.1",
         0,
         "reduced",
         {{6, 1, "ABC\u00fc"}, {6, 8, "10.00"}, {7, 4, "1.4000"}},
         ""},
        {"byte-order mark",
         bom + Slurp(Sample("ring-road.sdr20.SDR")),
         "--format sdr20",
         0,
         "reduced",
         {{19, 6, "0.0020"}},
         ""},
        {"decimal comma",
         Join({Sdr20Header(), SetUpRecord(), Sdr20Reading("BM1 ", "    25,500", "1.5", "1", "0")}),
         "",
         2,
         "read-failed",
         {{6, 1, "BM1 "}},
         ":3: the distance at position 9 has a decimal comma"},
        {"inverted staff",
         m5Start + Join({M5Sighting("Rb", "BM1", "1.5000", "10.000"),
                         Put(M5Sighting("Rf", "CP1", "", "10.000"), 53, "      -0.45210")}),
         "--end-rl 101.9521",
         0,
         "reduced",
         {{7, 4, "-0.4521"}, {7, 6, "101.9521"}},
         ""},
        {"height above 1000 m",
         Join({M5First(), M5Other(), Put(M5Benchmark(""), 99, "    1234.56789"),
               M5Sighting("Rb", "BM1", "1.5000", "10.000"),
               M5Sighting("Rf", "BM1", "1.5000", "10.000")}),
         "",
         0,
         "reduced",
         {{6, 6, "1234.5679"}, {7, 7, "1234.5679"}},
         ""},
        {"unknown levelling method",
         Join({M5First(), "For M5|Adr     2|TO  Start-Line       BFFF     1",
               M5Sighting("Rb", "BM1", "1.5000", "10.000")}),
         "",
         2,
         "read-failed",
         {},
         ":2: the levelling method BFFF is not known"},
        {"set-up record after the last reading",
         Join({Sdr20Header(), Sdr20Benchmark("100"), SetUpRecord(),
               Sdr20Reading("BM1 ", "10", "1.5", "1", "0"),
               Sdr20Reading("CP1 ", "10", "1.4", "0", "1"), SetUpRecord(),
               Sdr20Reading("CP1 ", "10", "1.3", "1", "0"),
               Sdr20Reading("BM2 ", "10", "1.2", "0", "1"), SetUpRecord()}),
         "--end-rl 100.206",
         0,
         "reduced",
         {{2, 6, "3"}, {9, 6, "100.2000"}, {9, 7, "100.2060"}},
         ""},
        {"re-read backsight",
         Join({Sdr20Header(), Sdr20Benchmark("100"), SetUpRecord(),
               Sdr20Reading("BM1 ", "10", "1.5", "1", "0"),
               Sdr20Reading("BM1 ", "10", "1.5", "1", "0"),
               Sdr20Reading("CP1 ", "10", "1.4", "0", "1"), SetUpRecord(),
               Sdr20Reading("CP1 ", "10", "1.3", "1", "0"),
               Sdr20Reading("BM2 ", "10", "1.2", "0", "1")}),
         "--end-rl 100.206",
         0,
         "reduced",
         {{2, 6, "2"}, {10, 6, "100.2000"}, {10, 7, "100.2060"}},
         ""},
        {"one data row",
         Join({Sdr20Header(), Sdr20Benchmark("100"), SetUpRecord(),
               Sdr20Reading("BM1 ", "10", "1.5", "1", "0")}),
         "",
         0,
         "reduced",
         {{9, 6, "0.0000"}},
         ""},
        {"capacity with a negative row offset",
         Join(capacity),
         "--format sdr20",
         2,
         "read-failed",
         {{1002, 1, "P   "}, {1002, 9, "IS"}, {1003, 9, ""}},
         ":998: the data rows reach row 1002 once the set-up rows are taken out"},
    };
    const auto dir =
        std::filesystem::temp_directory_path() / ("rendle-real-books-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir / "book.txt";
        std::ofstream(path, std::ios::binary) << c.text;
        const Result result = RunReduce("--json " + c.arguments + " " + path.string());
        EXPECT_EQ(result.status, c.status) << result.err;
        json doc;
        ASSERT_NO_THROW(doc = json::parse(result.out)) << "the document is valid UTF-8 JSON";
        EXPECT_EQ(doc["outcome"], c.outcome);
        for (const Cell& cell : c.cells) {
            EXPECT_EQ(Shown(doc, cell.row, cell.col), cell.shown)
                << "cell (" << cell.row << ", " << cell.col << ")";
        }
        EXPECT_NE(result.err.find(c.stderrHas), std::string::npos) << result.err;
    }
    std::filesystem::remove_all(dir);
}

TEST(RendleReduce, TextOfUnknownEncodingNeverEndsTheRun) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("rendle-encoding-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    // A Cyrillic name in CP1251 (0xCF 0xD0 is "ПР"), read with --encoding.
    const auto cyrillic = dir / "book.SDR";
    std::ofstream(cyrillic, std::ios::binary) << Join(
        {Sdr33Header(), SetUpRecord(), Sdr33Reading("       \xCF\xD0", "1", "1", "1", "0")});
    Result result = RunReduce("--json --encoding CP1251 " + cyrillic.string());
    json doc = json::parse(result.out);
    EXPECT_EQ(Shown(doc, 6, 1), "\u041f\u0420  ");

    // Unknown encodings, and those whose line ends and fields are not ASCII bytes, are refused
    // by name before any book is read.
    for (const char* encoding : {"NO-SUCH-CODE", "UTF-16", "UTF-32", "ISO-2022-JP", "CP037"}) {
        result = RunReduce(std::string("--encoding ") + encoding + " " + cyrillic.string());
        EXPECT_EQ(result.status, 64) << encoding;
        EXPECT_NE(result.err.find(encoding), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }

    // Arguments and paths that are not UTF-8 appear with U+FFFD, in the JSON and on stderr.
    // (A name too long for the file system fails only when it is written.)
    result = RunReduce("--json --start-rl \"$(printf '\\377')\" --save " +
                       (dir / ("\xff" + std::string(300, 'a') + ".xlsx")).string() + " " +
                       Sample("ring-road.sdr20.SDR"));
    EXPECT_EQ(result.status, 4) << "a failed save is exit 4 whatever the reduction gave";
    ASSERT_NO_THROW(doc = json::parse(result.out));
    EXPECT_EQ(doc["outcome"], "reduction-stopped");
    EXPECT_EQ(doc["runState"]["StartRL"], "\uFFFD");
    EXPECT_NE(doc["messages"][0]["text"].get<std::string>().find("\uFFFDaaa"), std::string::npos);
    EXPECT_NE(result.err.find("\uFFFDaaa"), std::string::npos) << result.err;
    // The document says the workbook was not written, and why; no PDF was asked for.
    const json& workbook = doc["outputs"]["workbook"];
    EXPECT_EQ(workbook["written"], false);
    EXPECT_EQ(workbook["path"].get<std::string>().rfind(dir.string() + "/\uFFFDaaa", 0), 0u);
    EXPECT_NE(workbook["reason"].get<std::string>().find("too long"), std::string::npos)
        << workbook;
    EXPECT_EQ(doc["outputs"]["pdf"], nullptr);
    // A book not read to its end writes nothing, and says so of each output asked for.
    const std::string cut = (dir / "cut.SDR").string();
    std::ofstream(cut, std::ios::binary) << Slurp(Sample("ring-road.sdr20.SDR")).substr(0, 200);
    result = RunReduce("--json --save " + (dir / "cut").string() + " --pdf " +
                       (dir / "cut").string() + " " + cut);
    EXPECT_EQ(result.status, 2) << result.err;
    doc = json::parse(result.out);
    for (const char* output : {"workbook", "pdf"}) {
        EXPECT_EQ(doc["outputs"][output]["written"], false) << output;
        EXPECT_EQ(doc["outputs"][output]["reason"], "the field book was not read to its end");
    }
    EXPECT_EQ(doc["outputs"]["pdf"]["path"], (dir / "cut.pdf").string());
    EXPECT_FALSE(std::filesystem::exists(dir / "cut.xlsx"));
    std::filesystem::remove_all(dir);
}

/// A folder of its own for a test, removed at the end.
struct Scratch {
    explicit Scratch(const char* name)
        : path(std::filesystem::temp_directory_path() /
               (std::string(name) + "-" + std::to_string(getpid()))) {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~Scratch() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::filesystem::path path;
};

TEST(RendleReduceOutputs, AFailedPrintOrSaveLeavesTheOldFileWhole) {
    Scratch dir("rendle-outputs");
    const std::string book = Sample("ring-road.sdr20.SDR");
    for (const char* name : {"report.pdf", "level.xlsx"}) {
        SCOPED_TRACE(name);
        const std::string target = dir / name;
        std::ofstream(target) << "yesterday's copy";
        const std::string option = std::string(name).ends_with(".pdf") ? "--pdf " : "--save ";
        // A file-size limit of 4 kB: the write fails with EFBIG instead of killing the run.
        const Result result =
            RunShell("ulimit -f 8; exec " + kReduce + " " + option + target + " " + book);
        EXPECT_EQ(result.status, 4) << result.err;
        EXPECT_EQ(Slurp(target), "yesterday's copy");
    }
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"level.xlsx", "report.pdf"}))
        << "nothing left beside the targets";
    EXPECT_EQ(RunReduce("--pdf /dev/full " + book).status, 4);
    EXPECT_EQ(RunReduce("--save /dev/full " + book).status, 4);
}

TEST(RendleReduceOutputs, NeverOverTheFieldBookOrTheOtherOutputOrAReadOnlyFile) {
    Scratch dir("rendle-refusals");
    const std::string book = dir / "ring.SDR";
    std::filesystem::copy_file(Sample("ring-road.sdr20.SDR"), book);
    std::filesystem::create_symlink(book, dir / "alias.SDR");
    const std::string original = Slurp(book);
    for (const std::string& arguments :
         {"--save " + book + " " + book, "--pdf " + book + " " + book,
          "--pdf " + (dir / "alias.SDR") + " " + book,
          "--save " + (dir / "x.xlsx") + " --pdf " + (dir / "x.xlsx") + " " + book}) {
        const Result result = RunReduce(arguments);
        EXPECT_EQ(result.status, 64) << arguments;
        EXPECT_EQ(result.out, "") << "refused before any work";
    }
    EXPECT_EQ(Slurp(book), original);

    const std::string readOnly = dir / "handed-in.xlsx";
    std::ofstream(readOnly) << "handed in";
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read);
    const Result result = RunReduce("--save " + readOnly + " " + book);
    EXPECT_EQ(result.status, 4);
    EXPECT_NE(result.err.find("is read-only"), std::string::npos) << result.err;
    EXPECT_EQ(Slurp(readOnly), "handed in");

    // No temporary folder is needed.
    EXPECT_EQ(RunShell("TMPDIR=/nonexistent " + kReduce + " --save " + (dir / "b.xlsx") +
                       " --pdf " + (dir / "b.pdf") + " " + book)
                  .status,
              0);
    EXPECT_TRUE(std::filesystem::exists(dir / "b.pdf"));
}

TEST(RendleReduceInput, PipesStandardInputFifosAndFolders) {
    Scratch dir("rendle-inputs");
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Every levelling line of a book of two comes out of a pipe, a FIFO or standard input as it
    // does from the file; only the name in the headings differs.
    for (const char* sample : {"ring-road.m5.DAT", "ring-road.gsi"}) {
        SCOPED_TRACE(sample);
        const std::string book = Sample(sample);
        const auto renamed = [&](std::string out, const std::string& name) {
            for (size_t at; (at = out.find("==> " + name)) != std::string::npos;) {
                out.replace(at + 4, name.size(), "BOOK");
            }
            return out;
        };
        const Result fromFile = RunReduce("--end-rl 100 " + book);
        ASSERT_EQ(fromFile.status, 0) << fromFile.err;
        const std::string expected = renamed(fromFile.out, book);
        const Result fromStdin = RunShell("cat " + book + " | " + kReduce + " --end-rl 100 -");
        EXPECT_EQ(fromStdin.status, 0) << fromStdin.err;
        EXPECT_EQ(renamed(fromStdin.out, "-"), expected) << "- reads standard input";
        const Result fromFifo = RunShell("(cat " + book + " > " + fifo + " &); exec " + kReduce +
                                         " --end-rl 100 " + fifo);
        EXPECT_EQ(fromFifo.status, 0) << fromFifo.err;
        EXPECT_EQ(renamed(fromFifo.out, fifo), expected) << "the format is told from what was read";
    }
    // A FIFO no writer has opened yet: SIGINT or SIGTERM ends the wait within its short steps,
    // the book told as read in part, and the program ends as the signal ends it.
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const Result waiting =
            RunShell("bash -c '" + kReduce + " " + fifo + " & pid=$!; sleep 0.5; kill -" +
                     std::to_string(signal) + " $pid; wait $pid'");
        EXPECT_EQ(waiting.status, 128 + signal) << waiting.err;
        EXPECT_NE(waiting.err.find("stopped by a signal while waiting for a writer to the FIFO " +
                                   fifo + ": only part of it was read"),
                  std::string::npos)
            << waiting.err;
    }
    const Result folder = RunReduce(dir.path.string());
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.err.find("is a folder"), std::string::npos) << folder.err;
}

TEST(RendleReduce, ChecksOfTheRun) {
    json doc = json::parse(RunReduce("--json " + Sample("ring-road.sdr20.SDR")).out);
    EXPECT_EQ(doc["checks"]["arithmetic"]["agrees"], true);
    EXPECT_EQ(doc["checks"]["tolerance"]["verdict"], "exceeds");
    doc = json::parse(RunReduce("--json --tolerance 5 " + Sample("ring-road.sdr20.SDR")).out);
    EXPECT_EQ(doc["checks"]["tolerance"]["verdict"], "within");
    EXPECT_EQ(doc["checks"]["tolerance"]["classMm"], 5.0);
    doc = json::parse(RunReduce("--json " + Sample("ring-road-within.sdr20.SDR")).out);
    EXPECT_EQ(doc["checks"]["tolerance"]["verdict"], "within");
    doc = json::parse(
        RunReduce("--json --balance-limit 20,40 " + Sample("ring-road-unbalanced.sdr20.SDR")).out);
    EXPECT_EQ(doc["checks"]["balance"]["flagged"], true) << "21 m at set-up 2 is past 20 m";
    EXPECT_EQ(doc["checks"]["balance"]["setUps"][2]["flagged"], false);
    // An open run (no ending RL; a tab is none either) is checked but for its misclose.
    for (const std::string empty : {"''", "'\t'"}) {
        SCOPED_TRACE(empty);
        const Result open =
            RunReduce("--json --end-rl " + empty + " " + Sample("ring-road.sdr20.SDR"));
        doc = json::parse(open.out);
        EXPECT_EQ(doc["checks"]["reduced"], false);
        EXPECT_EQ(doc["checks"]["notReduced"],
                  "the ending RL is empty, so the run was not adjusted (give one with --end-rl)");
        EXPECT_EQ(doc["checks"]["arithmetic"]["agrees"], true);
        EXPECT_EQ(doc["checks"]["balance"]["setUps"].size(), 4u);
        EXPECT_TRUE(doc["checks"]["tolerance"].is_null());
        EXPECT_NE(open.err.find("no ending RL was given"), std::string::npos) << open.err;
    }
    // --balance-limit takes one word: the field book after it is never taken as its second
    // value, and the refusal names what it was given.
    for (const char* limits : {"5", "5,", ",10", "5,10,15", "-1,10", "5,nan", "inf,10", "5;10"}) {
        const Result refused = RunReduce(std::string("--balance-limit '") + limits + "' " +
                                         Sample("ring-road.sdr20.SDR"));
        EXPECT_EQ(refused.status, 64) << limits;
        EXPECT_NE(refused.err.find(std::string("such as 5,10, not ") + limits), std::string::npos)
            << refused.err;
    }
    EXPECT_NE(RunReduce(Sample("ring-road.sdr20.SDR")).out.find("\nChecks\n"), std::string::npos);
}

TEST(RendleReduce, TheReportIsTheSameInAnyLocaleWithOrWithoutThePrinter) {
    if (RunShell("locale -a | grep -qi '^de_DE.utf-\\?8$'").status != 0) {
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed";
    }
    Scratch dir("rendle-locale");
    const std::string book = Sample("ring-road-unbalanced.sdr20.SDR");
    const Result plain = RunReduce(book);
    ASSERT_EQ(plain.status, 0);
    EXPECT_NE(plain.out.find("sum BS - sum FS = 0.0020"), std::string::npos) << plain.out;
    // The printer module starts a Qt application, which takes the user's locale.
    for (const std::string& options : {std::string(), "--pdf " + (dir / "level.pdf")}) {
        SCOPED_TRACE(options);
        const Result german =
            RunShell("LC_ALL=de_DE.UTF-8 " + kReduce + " " + options + " " + book + " </dev/null");
        EXPECT_EQ(german.status, 0) << german.err;
        EXPECT_EQ(german.out, plain.out);
    }
}

TEST(RendleReduceOutputs, WorkbooksOfManyBooksAtOnceAreNotWritableByOthers) {
    Scratch dir("rendle-umask");
    std::filesystem::create_directories(dir / "books");
    std::filesystem::create_directories(dir / "reduced");
    std::string books;
    for (int i = 0; i < 300; ++i) {
        const std::string book = dir / ("books/b" + std::to_string(i) + ".SDR");
        std::filesystem::copy_file(Sample("ring-road.sdr20.SDR"), book);
        books += " " + book;
    }
    const Result result = RunShell("umask 022; exec " + kReduce + " -j 2 --save " +
                                   (dir / "reduced/") + books + " >/dev/null");
    ASSERT_EQ(result.status, 0) << result.err;
    size_t saved = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "reduced")) {
        ++saved;
        const auto perms = entry.status().permissions();
        EXPECT_EQ(
            perms & (std::filesystem::perms::group_write | std::filesystem::perms::others_write),
            std::filesystem::perms::none)
            << entry.path();
    }
    EXPECT_EQ(saved, 300u);
}

TEST(RendleReduceOutputs, AMissingModuleIsSaidAndIsExitFour) {
    Scratch dir("rendle-no-modules");
    // The program alone, without the printer and workbook modules beside it.
    std::filesystem::copy_file(kReduce, dir / "rendle-reduce");
    for (const auto& [option, output, said] :
         {std::tuple{"--pdf", "level.pdf", "the PDF printer"},
          std::tuple{"--save", "level.xlsx", ". The workbook writer"}}) {
        const Result result = RunShell(dir / "rendle-reduce" + " " + option + " " + (dir / output) +
                                       " " + Sample("ring-road.sdr20.SDR"));
        EXPECT_EQ(result.status, 4);
        EXPECT_NE(result.err.find(said), std::string::npos) << result.err;
        EXPECT_NE(result.out.find("Misclose(m)"), std::string::npos) << "the report still comes";
        EXPECT_FALSE(std::filesystem::exists(dir / output));
    }
    // Without them it reduces as ever.
    EXPECT_EQ(RunShell(dir / "rendle-reduce" + " " + Sample("ring-road.sdr20.SDR")).status, 0);
}

}  // namespace

namespace {

TEST(RendleReduceContract, UsageErrorsSayWhatIsWantedInOneLine) {
    const std::string book = Sample("ring-road.sdr20.SDR");
    struct Case {
        const char* arguments;
        const char* said;
    };
    const Case cases[] = {
        {"--tolerance nan", "millimetres"},   {"--tolerance 3mm", "millimetres"},
        {"--tolerance 0", "millimetres"},     {"--tolerance 2,5", "millimetres"},
        {"--tolerance ''", "millimetres"},    {"--tolerance 1e-300", "millimetres"},
        {"--end-rl --json", "needs a value"}, {"--start-rl --save", "needs a value"},
        {"--save --json", "needs a value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Result result = RunReduce(std::string(c.arguments) + " " + book);
        EXPECT_EQ(result.status, 64);
        EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2)
            << "the problem and the pointer to --help: " << result.err;
        EXPECT_EQ(result.out, "");
    }
    const Result version = RunReduce("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("rendle-reduce ", 0), 0u) << version.out;
}

TEST(RendleReduceContract, EachLevellingLineOfAGsiBookIsABookOfItsOwn) {
    Scratch dir("rendle-gsi");
    const std::string book = dir / "ring.gsi";
    std::filesystem::copy_file(Sample("ring-road.gsi"), book);
    std::filesystem::create_directories(dir / "out");

    // A data error in one line is the book's status, though another line stopped short of
    // its adjustment (no ending RL): 2 ranks above 3.
    std::string feet = Slurp(book);
    feet.replace(feet.find("331..8+"), 7, "331..1+");
    std::ofstream(dir / "feet.gsi", std::ios::binary) << feet;
    const Result mixed = RunReduce(dir / "feet.gsi");
    EXPECT_EQ(mixed.status, 2) << mixed.err;
    EXPECT_NE(mixed.err.find("(run 1 of 2):"), std::string::npos) << mixed.err;
    EXPECT_NE(mixed.err.find("no ending RL was given"), std::string::npos) << mixed.err;

    // Every line in turn, headed by its run; a line that does not close says so for itself.
    const Result both = RunReduce("--end-rl 100 " + book);
    EXPECT_EQ(both.status, 0) << both.err;
    EXPECT_EQ(both.out.rfind("==> " + book + " (run 1 of 2, NORTH LOOP) <==\n", 0), 0u);
    EXPECT_NE(both.out.find("\n==> " + book + " (run 2 of 2, SOUTH SPUR) <==\n"),
              std::string::npos);

    // --run K is headed by the line it reduced, as --help says; JSON Lines name the run.
    const Result second = RunReduce("--run 2 --end-rl 99.99 " + book);
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out.rfind("==> " + book + " (run 2 of 2, SOUTH SPUR) <==\nLEVEL REPORT", 0),
              0u);
    EXPECT_NE(second.out.find("BM7"), std::string::npos);
    // --json --run K says which line of which book it reduced.
    const json chosen = json::parse(RunReduce("--json --run 2 --end-rl 99.99 " + book).out);
    EXPECT_EQ(chosen["fieldBook"], book);
    EXPECT_EQ(chosen["run"]["number"], 2);
    EXPECT_EQ(chosen["run"]["of"], 2);
    EXPECT_EQ(chosen["run"]["name"], "SOUTH SPUR");
    const Result lines = RunReduce("--json-lines --end-rl 100 " + book);
    std::istringstream jsonLines(lines.out);
    std::string line;
    int number = 0;
    while (std::getline(jsonLines, line)) {
        const json doc = json::parse(line);
        ++number;
        EXPECT_EQ(doc["fieldBook"], book);
        EXPECT_EQ(doc["run"]["number"], number);
        EXPECT_EQ(doc["run"]["of"], 2);
        EXPECT_EQ(doc["run"]["name"], number == 1 ? "NORTH LOOP" : "SOUTH SPUR");
        EXPECT_EQ(doc["runState"]["StationCount"], number == 1 ? 4 : 2) << "beside the run state";
    }
    EXPECT_EQ(number, 2);
    EXPECT_EQ(RunReduce("--run 3 " + book).status, 2);

    // What is said on stderr names the levelling line as well as the line of the book.
    std::string edited = Slurp(book);
    edited.replace(edited.find("571..8-0000000000000006"), 23, "571..8-0000000000000096");
    std::ofstream(dir / "edited.gsi", std::ios::binary) << edited;
    const Result warned = RunReduce("--end-rl 100 " + (dir / "edited.gsi"));
    EXPECT_NE(warned.err.find("edited.gsi (run 1 of 2):10: the instrument's station difference"),
              std::string::npos)
        << warned.err;

    // Outputs in a folder are named by the run; one file for two runs is refused before work.
    const Result saved =
        RunReduce("--end-rl 100 --save " + (dir / "out") + " --pdf " + (dir / "out") + " " + book);
    EXPECT_EQ(saved.status, 0) << saved.err;
    for (const char* name :
         {"ring.run-1.xlsx", "ring.run-2.xlsx", "ring.run-1.pdf", "ring.run-2.pdf"}) {
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dir / "out") / name)) << name;
    }
    const Result refused = RunReduce("--save " + (dir / "one.xlsx") + " " + book);
    EXPECT_EQ(refused.status, 64);
    EXPECT_NE(refused.err.find("--run"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "one.xlsx"));
    EXPECT_EQ(RunReduce("--run 1 --save " + (dir / "one.xlsx") + " " + book).status, 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "one.xlsx"));
}

TEST(RendleReduceContract, TheOutputsOfEachLevellingLineArePlannedBeforeAnyWork) {
    // ring.gsi holds two lines (ring.run-1.xlsx, ring.run-2.xlsx in a folder); ring.run-1.dat
    // and ring.SDR one each.
    Scratch dir("rendle-lines");
    std::filesystem::copy_file(Sample("ring-road.gsi"), dir / "ring.gsi");
    std::filesystem::copy_file(Sample("ring-road.m5.DAT"), dir / "ring.run-1.dat");
    std::filesystem::copy_file(Sample("ring-road.sdr20.SDR"), dir / "ring.SDR");
    struct Case {
        const char* options;
        std::vector<const char*> books;
        int status;
        const char* said;                  // on stderr, or nothing
        std::vector<const char*> written;  // in the folder, and nothing else
    };
    const Case cases[] = {
        {"", {"ring.gsi", "ring.run-1.dat"}, 64, "would both be written to", {}},
        {"", {"ring.run-1.dat", "ring.gsi"}, 64, "would both be written to", {}},
        {"--run 2", {"ring.gsi", "ring.run-1.dat"}, 2, nullptr, {"ring.run-2.xlsx"}},
        {"--run 2", {"ring.gsi", "ring.SDR"}, 2, "--run 2 is not among them", {"ring.run-2.xlsx"}},
        {"--run 1", {"ring.gsi", "ring.SDR"}, 0, nullptr, {"ring.run-1.xlsx", "ring.xlsx"}},
        {"",
         {"ring.gsi", "ring.SDR"},
         0,
         nullptr,
         {"ring.run-1.xlsx", "ring.run-2.xlsx", "ring.xlsx"}},
        {"", {"ring.gsi", "ring.gsi"}, 64, "is given twice", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.options) + " " + c.books[0] + " " + c.books[1]);
        std::filesystem::remove_all(dir / "out");
        std::filesystem::create_directories(dir / "out");
        std::string call = std::string(c.options) + " --end-rl 100 --save " + (dir / "out/");
        for (const char* book : c.books) call += " " + (dir / book);
        const Result result = RunReduce(call);
        EXPECT_EQ(result.status, c.status) << result.err;
        if (c.said) {
            EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
        }
        if (c.status == 64) {
            EXPECT_NE(result.err.find(c.books[1]), std::string::npos) << "both named";
        }
        std::vector<std::string> written;
        for (const auto& entry : std::filesystem::directory_iterator(dir / "out")) {
            written.push_back(entry.path().filename().string());
        }
        std::sort(written.begin(), written.end());
        EXPECT_EQ(written, std::vector<std::string>(c.written.begin(), c.written.end()));
    }
}

TEST(RendleReduceContract, OutputsArePlannedWholeAndOnlyAWholeReadWritesThem) {
    Scratch dir("rendle-contract");
    const std::string book = dir / "ring.SDR";
    std::filesystem::copy_file(Sample("ring-road.sdr20.SDR"), book);
    std::filesystem::create_directories(dir / "reduced");

    // --save and --pdf of one name: each output's extension is added before any work, so
    // neither lands on the other, and a name of the other kind's extension is refused.
    const struct {
        std::string pdf;
        std::string save;
        int status;
        std::vector<std::string> written;
    } names[] = {
        {"report.xlsx", "report", 64, {}},
        {"report", "report.pdf", 64, {}},
        {"report", "report", 0, {"report.pdf", "report.xlsx"}},
        {"Report.PDF", "Report.XLSX", 0, {"Report.PDF", "Report.XLSX"}},
        {"missing/report", "", 64, {}},
        {"", "missing/report", 64, {}},
    };
    for (const auto& n : names) {
        SCOPED_TRACE(n.pdf + " " + n.save);
        Scratch names("rendle-names");
        const std::string options = (n.pdf.empty() ? "" : "--pdf " + (names / n.pdf) + " ") +
                                    (n.save.empty() ? "" : "--save " + (names / n.save) + " ");
        const Result result = RunReduce(options + book);
        EXPECT_EQ(result.status, n.status) << result.err;
        if (n.status == 64) {
            EXPECT_EQ(result.out, "") << "refused before any work";
        }
        EXPECT_EQ(names.Entries(), n.written);
        for (const std::string& name : n.written) {
            EXPECT_EQ(Slurp(names / name).substr(0, 2),
                      name.ends_with("pdf") || name.ends_with("PDF") ? "%P" : "PK");
        }
    }

    // A folder, existing or ending in "/", names the outputs after the book, for one book too.
    for (const std::string& folder : {dir / "reduced", dir / "reduced/"}) {
        SCOPED_TRACE(folder);
        std::filesystem::remove_all(dir / "reduced");
        std::filesystem::create_directories(dir / "reduced");
        const Result one = RunReduce("--save " + folder + " --pdf " + folder + " " + book);
        EXPECT_EQ(one.status, 0) << one.err;
        EXPECT_TRUE(std::filesystem::exists(dir / "reduced/ring.xlsx"));
        EXPECT_TRUE(std::filesystem::exists(dir / "reduced/ring.pdf"));
    }
    EXPECT_EQ(RunReduce("--save " + (dir / "absent/") + " " + book).status, 64);

    // Clashes say which books or options clash, however the names are spelled.
    const struct {
        std::string arguments;
        std::string said;
    } clashes[] = {
        {"--save " + (dir / "same") + " --pdf " + dir.path.string() + "/./reduced/../same.xlsx " +
             book,
         "ends in .xlsx, the extension of the --save output; --pdf writes a PDF (.pdf)"},
        {"--save " + (dir / "reduced/") + " " + book + " " + book, "is given twice"},
        {"--pdf " + (dir / "reduced/") + " " + book + " " + dir.path.string() + "/./ring.SDR",
         "would both be written to"},
    };
    for (const auto& clash : clashes) {
        const Result refused = RunReduce(clash.arguments);
        EXPECT_EQ(refused.status, 64) << clash.arguments;
        EXPECT_NE(refused.err.find(clash.said), std::string::npos) << refused.err;
    }

    // A book that cannot be read, or reads only in part, leaves the good outputs as they were.
    const std::string workbook = Slurp(dir / "reduced/ring.xlsx");
    const std::string pdf = Slurp(dir / "reduced/ring.pdf");
    for (const std::string& broken : {std::string("00NMSDR33\r\n"), std::string()}) {
        if (broken.empty()) {
            std::filesystem::remove(book);
        } else {
            std::ofstream(book, std::ios::binary) << broken;
        }
        const Result failed = RunReduce("--format sdr20 --save " + (dir / "reduced") + " --pdf " +
                                        (dir / "reduced") + " " + book);
        EXPECT_NE(failed.status, 0);
        EXPECT_NE(failed.err.find("no workbook or PDF was written"), std::string::npos)
            << failed.err;
        EXPECT_EQ(Slurp(dir / "reduced/ring.xlsx"), workbook);
        EXPECT_EQ(Slurp(dir / "reduced/ring.pdf"), pdf);
    }

    // --json-lines names the book on one line, for one book too; a book that cannot be opened
    // still gets its line.
    const Result lines = RunReduce("--json-lines " + Sample("ring-road.m5.DAT") + " " + book);
    ASSERT_EQ(std::count(lines.out.begin(), lines.out.end(), '\n'), 2) << lines.out;
    const json last = json::parse(lines.out.substr(lines.out.find('\n') + 1));
    EXPECT_EQ(last["outcome"], "read-failed");
    EXPECT_EQ(last["fieldBook"], book);
    EXPECT_NE(last["reason"].get<std::string>().find("ring.SDR"), std::string::npos);
    const Result single = RunReduce("--json-lines " + Sample("ring-road.m5.DAT"));
    EXPECT_EQ(std::count(single.out.begin(), single.out.end(), '\n'), 1);
    EXPECT_EQ(json::parse(single.out)["fieldBook"], Sample("ring-road.m5.DAT"));
}

TEST(RendleReduceContract, ASignalEndsABookOfManyLinesBetweenTwoLines) {
    // A GSI book of 100,000 levelling lines of one set-up each: SIGINT ends it after the line under
    // way, every line's object whole on stdout, and the count of them told.
    Scratch dir("rendle-lines-signal");
    {
        std::ofstream book(dir / "lines.gsi", std::ios::binary);
        for (int i = 0; i < 100000; ++i) {
            book << "410001+?......1 \r\n110002+00000A1 83..18+10000000 \r\n"
                    "110003+00000A1 32...8+00002000 331.08+00150000 \r\n"
                    "110004+00000T1 32...8+00002000 332.08+00120000 83..18+10030000 \r\n";
        }
    }
    const Result stopped =
        RunShell("bash -c '" + kReduce + " --json-lines --end-rl 100.3 " + (dir / "lines.gsi") +
                 " >" + (dir / "out.jsonl") + " & pid=$!; sleep 1; kill -INT $pid; wait $pid'");
    EXPECT_EQ(stopped.status, 128 + SIGINT) << stopped.err;
    const std::string out = Slurp(dir / "out.jsonl");
    // (Under a sanitizer the signal may come before the first line is done.)
    EXPECT_TRUE(out.empty() || out.back() == '\n');
    std::istringstream lines(out);
    size_t whole = 0;
    for (std::string line; std::getline(lines, line); ++whole) {
        ASSERT_TRUE(json::accept(line)) << line.substr(0, 80);
    }
    EXPECT_LT(whole, 100000u);
    EXPECT_NE(stopped.err.find("stopped by a signal after " + std::to_string(whole) +
                               " of 100000 levelling lines"),
              std::string::npos)
        << stopped.err;
}

TEST(RendleReduceContract, EachProblemSaidOnceInItsOwnWords) {
    Scratch dir("rendle-words");
    const std::string ring = Slurp(Sample("ring-road.gsi"));
    std::string feet = ring;
    feet.replace(feet.find("32...8+0000000002500000"), 23, "32...1+0000000002500000");
    std::ofstream(dir / "feet.gsi", std::ios::binary) << feet;
    std::ofstream(dir / "ten.gsi", std::ios::binary)
        << "410001+?.....10 \r\n110002+00000A1 83..18+10000000 \r\n";
    std::filesystem::copy_file(Sample("ring-road.sdr20.SDR"), dir / "ring.SDR");
    struct Case {
        std::string call;
        int status;
        std::string said;  // the whole of stderr's first line, after the book
    };
    const Case cases[] = {
        {dir / "ten.gsi", 2, "ten.gsi:1: the levelling method 10 is not known\n"},
        {"--run 1 " + (dir / "feet.gsi"), 2, "feet.gsi (run 1 of 2):4: the distance is in feet\n"},
        {"--run 40000 " + (dir / "feet.gsi"), 2,
         "rendle-reduce: run 40000 is not in the field book, which holds 2\n"},
        {"--class list " + (dir / "ring.SDR"), 64,
         "rendle-reduce: --class list prints the classes and reduces no field book; give it alone "
         "(run with --help for more information)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        const Result result = RunReduce(c.call);
        EXPECT_EQ(result.status, c.status);
        const std::string first = result.err.substr(0, result.err.find('\n') + 1);
        EXPECT_TRUE(first.ends_with(c.said)) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(result.err.find("\\x0A"), std::string::npos) << result.err;
    }
}

TEST(RendleReduceContract, OneLinePerProblemOnStandardError) {
    Scratch dir("rendle-one-line");
    const std::string book = Sample("ring-road.sdr20.SDR");
    // A save that fails: one line, in the program's words only (not the library's own).
    const Result failed = RunReduce("--save /dev/full " + book);
    EXPECT_EQ(failed.status, 4);
    EXPECT_EQ(std::count(failed.err.begin(), failed.err.end(), '\n'), 1) << failed.err;
    EXPECT_EQ(failed.err.find("[ERROR]"), std::string::npos) << failed.err;
    // A PDF printed without a runtime folder: nothing at all.
    const Result printed =
        RunShell("env -u XDG_RUNTIME_DIR " + kReduce + " --pdf " + (dir / "r.pdf") + " " + book);
    EXPECT_EQ(printed.status, 0);
    EXPECT_EQ(printed.err, "");
    // A name holding ESC and a line feed is shown escaped, in the heading and on stderr.
    const std::string odd = dir / "a\x1B[31mred\nb.SDR";
    std::filesystem::copy_file(book, odd);
    const Result named = RunReduce("--format sdr33 '" + odd + "' " + book);
    EXPECT_NE(named.out.find("==> " + (dir / "a\\x1B[31mred\\x0Ab.SDR") + " <=="),
              std::string::npos)
        << named.out.substr(0, 200);
    EXPECT_NE(named.err.find("a\\x1B[31mred\\x0Ab.SDR:1: "), std::string::npos) << named.err;
    EXPECT_EQ(named.err.find('\x1B'), std::string::npos);

    // A field that holds no number is read by the rule and told, in all three places.
    std::string text = Slurp(book);
    text.replace(text.find("    1.5670"), 10, "       NaN");
    std::ofstream(dir / "warn.SDR", std::ios::binary) << text;
    const std::string told = "warn.SDR:6: the staff reading \"NaN\" is no number and was read as 0";
    const Result plain = RunReduce(dir / "warn.SDR");
    EXPECT_NE(plain.err.find(told), std::string::npos) << plain.err;
    EXPECT_NE(plain.out.find("field book: line 6: the staff reading \"NaN\""), std::string::npos);
    const json doc = json::parse(RunReduce("--json " + (dir / "warn.SDR")).out);
    EXPECT_EQ(
        doc["warnings"],
        (json::array({{{"line", 6},
                       {"kind", "no-number"},
                       {"text", "the staff reading \"NaN\" is no number and was read as 0"}}})));
    EXPECT_EQ(doc["messages"], json::array());
    EXPECT_EQ(doc["moreWarnings"], 0);

    // A book of many such fields tells the first 20 and counts the rest, in all three places.
    std::vector<std::string> records = {Sdr20Header(), Sdr20Benchmark("100")};
    const size_t fields = 26;
    for (size_t i = 0; i < fields / 2; ++i) {
        records.push_back(SetUpRecord());
        records.push_back(
            Sdr20Reading("TP" + std::to_string(i), "     25xyz", "    1.5000", "1", "0"));
        records.push_back(
            Sdr20Reading("TP" + std::to_string(i + 1), "     25xyz", "    1.4000", "0", "1"));
    }
    std::ofstream(dir / "many.SDR", std::ios::binary) << Join(records);
    const Result manyPlain = RunReduce("--end-rl 100 " + (dir / "many.SDR"));
    EXPECT_EQ(std::count(manyPlain.err.begin(), manyPlain.err.end(), '\n'), 21) << manyPlain.err;
    const std::string more = "and " + std::to_string(fields - 20) + " more";
    EXPECT_NE(manyPlain.err.find(more + " warnings"), std::string::npos) << manyPlain.err;
    EXPECT_NE(manyPlain.out.find("field book: " + more + "\n"), std::string::npos);
    const json manyDoc = json::parse(RunReduce("--json " + (dir / "many.SDR")).out);
    EXPECT_EQ(manyDoc["warnings"].size(), 20u);
    EXPECT_EQ(manyDoc["moreWarnings"], fields - 20);
}

TEST(RendleReduceContract, StandardOutputGetsWholeReportsOrTheRunFails) {
    const std::string book = Sample("ring-road.sdr20.SDR");
    std::string books;
    for (int i = 0; i < 200; ++i) books += " " + book;
    // A full disk and a closed pipe: said, and status 4, for one book or many.
    for (const std::string jobs : {"", "-j 2"}) {
        SCOPED_TRACE(jobs);
        const Result full = RunReduce("--json " + jobs + books + " >/dev/full");
        EXPECT_EQ(full.status, 4);
        EXPECT_NE(full.err.find("standard output could not be written"), std::string::npos)
            << full.err;
        const Result closed = RunShell("bash -c '" + kReduce + " " + jobs + books +
                                       " | head -c 100 >/dev/null; exit ${PIPESTATUS[0]}'");
        EXPECT_EQ(closed.status, 4) << closed.err;
    }
    EXPECT_EQ(RunReduce("--help >/dev/full").status, 4);

    // Stopped by a signal in the middle of a long run (20,000 books, some seconds): only whole
    // lines reach standard output.
    Scratch dir("rendle-signal");
    const Result stopped =
        RunShell("bash -c 'books=(); for i in {1..20000}; do books+=(" + book + "); done; " +
                 kReduce + " --json \"${books[@]}\" >" + (dir / "out.jsonl") +
                 " & pid=$!; sleep 0.3; kill -TERM $pid; wait $pid'");
    EXPECT_EQ(stopped.status, 128 + SIGTERM);
    const std::string out = Slurp(dir / "out.jsonl");
    EXPECT_TRUE(out.empty() || out.back() == '\n');
    std::istringstream lines(out);
    size_t whole = 0;
    for (std::string line; std::getline(lines, line); ++whole) {
        EXPECT_TRUE(json::accept(line)) << line.substr(0, 80);
    }
    // The program's own stop, told apart from the signal's default end: it says how far it got,
    // and that is every line written.
    EXPECT_NE(stopped.err.find("rendle-reduce: stopped by a signal after " + std::to_string(whole) +
                               " of 20000 field books"),
              std::string::npos)
        << stopped.err.substr(0, 300);
}

}  // namespace

namespace {

// Every list of the formats the program shows comes from the one table: rendle-reduce --help,
// the README's usage line, the open-file dialogs and the desktop's field-book types.
TEST(RendleReduceContract, EveryListOfFormatsIsTheTable) {
    const std::string help = RunReduce("--help").out;
    const std::string readme = Slurp(std::filesystem::path(RENDLE_EXAMPLES_DIR) / "../README.md");
    const std::string desktop =
        Slurp(std::filesystem::path(RENDLE_EXAMPLES_DIR) / "../packaging/rendle.desktop");
    const std::string mime =
        Slurp(std::filesystem::path(RENDLE_EXAMPLES_DIR) / "../packaging/rendle-mime.xml");
    EXPECT_NE(readme.find("rendle-reduce [--format " + rendle::readers::FormatOptions("|") + "]"),
              std::string::npos);
    EXPECT_NE(help.find("Field-book format: " + rendle::readers::FormatOptions(", ")),
              std::string::npos)
        << help;
    std::string types;
    for (const rendle::readers::FormatInfo& info : rendle::readers::kFormats) {
        SCOPED_TRACE(info.name);
        const std::string filter(rendle::commands::FileFilter(info.format));
        EXPECT_NE(filter.find("(*" + std::string(info.extension) + ")"), std::string::npos);
        EXPECT_NE(mime.find("type=\"" + std::string(info.mimeType) + "\""), std::string::npos);
        if (types.find(info.mimeType) == std::string::npos)
            types += std::string(info.mimeType) + ";";
        // A book that names its format by the table's word is read as that format.
        const Result wrong = RunReduce("--format " + std::string(info.option) + " /dev/null");
        EXPECT_NE(wrong.status, 64) << wrong.err;
    }
    EXPECT_NE(desktop.find("MimeType=" + types + "\n"), std::string::npos) << desktop;
}

}  // namespace

namespace {

// Each class's verdicts on one run, worked out by hand from the class table: the unbalanced
// sample closes on BM1 (a loop) with a misclose of 2.0 mm over 227 m (so C mm x sqrt(K) is
// C x 0.476 mm), its longest sight is 45 m, its largest balance 21 m a set-up and 33 m over
// the line, one reading a sight (BF).
TEST(RendleReduceContract, EachToleranceClassOnOneRun) {
    struct Case {
        const char* id;
        const char* misclose;
        const char* sight;
        const char* balance;
        const char* section;
        const char* method;
    };
    const char* x = "exceeds";
    const char* w = "within";
    const char* none = "-";
    const char* notShown = "not shown by one line";
    const Case cases[] = {
        {"fgcs-1-1", x, w, x, x, notShown},
        {"fgcs-1-2", w, w, x, x, notShown},
        {"fgcs-2-1", w, w, x, x, notShown},
        {"fgcs-2-2", w, w, x, x, "meets"},
        {"fgcs-3", w, w, x, x, "meets"},
        {"icsm-l2a", x, none, none, none, notShown},
        {"icsm-la", x, none, none, none, notShown},
        {"sa-3", w, none, none, none, none},
        {"sa-4", w, none, none, none, none},
        {"il-h1", x, x, x, x, "fails"},
        {"il-h2", w, x, x, x, "fails"},
        {"il-h3", w, w, x, x, "fails"},
        {"il-h4", w, w, x, x, "meets"},
        {"il-h5", w, w, x, x, "meets"},
        {"il-h6", w, w, x, x, "meets"},
        {"cn-2", x, none, none, none, none},
        {"cn-3", w, none, none, none, none},
        {"cn-4", w, none, none, none, none},
        {"cn-5", w, none, none, none, none},
        {"cn-2-digital", x, w, x, x, "fails"},
    };
    const auto verdict = [](const json& check, const char* key) -> std::string {
        return check[key].is_object() ? check[key]["verdict"].get<std::string>() : "-";
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const Result result = RunReduce(std::string("--json --class ") + c.id + " " +
                                        Sample("ring-road-unbalanced.sdr20.SDR"));
        ASSERT_EQ(result.status, 0) << result.err;
        const json check = json::parse(result.out)["checks"]["class"];
        EXPECT_EQ(check["id"], c.id);
        EXPECT_EQ(verdict(check, "misclose"), c.misclose);
        EXPECT_EQ(verdict(check, "sightLength"), c.sight);
        EXPECT_EQ(verdict(check, "balance"), c.balance);
        EXPECT_EQ(verdict(check, "balanceOverTheLine"), c.section);
        EXPECT_EQ(verdict(check, "method"), c.method);
        EXPECT_TRUE(check["stationDifference"].is_null()) << "the run reads each staff once";
    }

    // A figure given on its own replaces the class's.
    const json given = json::parse(RunReduce("--json --class il-h1 --tolerance 5 --balance-limit "
                                             "25,40 " +
                                             Sample("ring-road-unbalanced.sdr20.SDR"))
                                       .out)["checks"];
    EXPECT_EQ(given["class"]["misclose"]["verdict"], "within");
    EXPECT_EQ(given["class"]["balance"]["verdict"], "within");
    EXPECT_EQ(given["class"]["sightLength"]["verdict"], "exceeds");
    const Result list = RunReduce("--class list");
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("il-h2  Israel SOI levelling, H2\n  misclose 5 mm x sqrt(K); "
                            "longest sight 40 m; balance 2 m a set-up; 5 m over the line; "
                            "method BFFB\n  source: cited: "),
              std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("(check against the standard)"), std::string::npos);
    EXPECT_EQ(RunReduce("--class xx-9 " + Sample("ring-road.sdr20.SDR")).status, 64);
}

}  // namespace

namespace {

// Ctrl+C while the book is still awaited on a silent pipe: the read ends at once, the book is
// told as read only in part, and the program ends as the signal ends it (130 in a shell).
TEST(RendleReduceInput, CtrlCEndsAReadWaitingOnItsInput) {
    const std::string marker = "waiting-" + std::to_string(getpid());
    const auto started = std::chrono::steady_clock::now();
    const Result stopped =
        RunShell("bash -c '(" + kReduce + " --start-rl " + marker +
                 " - < <(sleep 30); echo \"status $?\" >&2) & sleep 1; pkill -INT -f -- \"" +
                 marker + "\"; wait $!'");
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
    EXPECT_LT(seconds.count(), 15.0) << "a guard: the read never saw the stop";
    EXPECT_NE(stopped.err.find("cannot read -: it could not be read to its end (stopped by a "
                               "signal: only part of it was read)"),
              std::string::npos)
        << stopped.err;
    EXPECT_NE(stopped.err.find("status 130"), std::string::npos) << stopped.err;
}

}  // namespace

namespace {

// rendle-net run as a whole process on the bundled loop of two runs.
const std::string kNet = RENDLE_NET;

Result RunNet(const std::string& arguments) {
    return RunShell(kNet + " " + arguments + " </dev/null");
}

const std::string kLoopOfTwoRuns = Sample("network/north.gsi") + " " + Sample("network/south.gsi");

TEST(RendleNet, TheBundledLoopOfTwoRuns) {
    const Result text = RunNet("--fix BM1=100 " + kLoopOfTwoRuns);
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("  BM7       100.80231      0.30     +-3.81\n"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("0.929 within 0.001 .. 5.024: passed"), std::string::npos);
    EXPECT_NE(text.out.find("0.60  limit    0.88     0.194 km  within BM1 BM7"), std::string::npos);

    const Result doc = RunNet("--json --fix BM1=100 " + kLoopOfTwoRuns);
    ASSERT_EQ(doc.status, 0) << doc.err;
    const json j = json::parse(doc.out);
    EXPECT_EQ(j["redundancy"], 1);
    EXPECT_EQ(j["heights"][1]["point"], "BM7");
    EXPECT_NEAR(j["heights"][1]["height"].get<double>(), 100.80231, 0.000005);
    EXPECT_EQ(j["observations"][0]["length"], 189.5) << "metres";
    EXPECT_EQ(j["observations"][1]["setups"], 3);
    EXPECT_EQ(j["globalTest"]["side"], nullptr);

    // A benchmark with its standard deviation is an observation of its height, after the rest.
    const json weighted = json::parse(RunNet("--json --fix BM1=100:0.5 " + kLoopOfTwoRuns).out);
    ASSERT_EQ(weighted["observations"].size(), 3u);
    EXPECT_EQ(weighted["observations"][2]["kind"], "height");
    EXPECT_EQ(weighted["observations"][2]["from"], nullptr);
    EXPECT_EQ(weighted["observations"][2]["dh"], 100.0);
    EXPECT_EQ(weighted["heights"][0]["fixed"], false);
    EXPECT_EQ(weighted["redundancy"], 1);

    // A class's own figures for loops and for sections run twice.
    const Result classed = RunNet("--class fgcs-1-1 --fix BM1=100 " + kLoopOfTwoRuns);
    EXPECT_NE(classed.out.find("first order class I: loops 4 mm x sqrt(K), lines between "
                               "benchmarks 3 mm x sqrt(K), sections run twice 3 mm x sqrt(K)"),
              std::string::npos)
        << classed.out;
    EXPECT_NE(classed.out.find("0.60  limit    1.32"), std::string::npos);
}

TEST(RendleNet, BadInputWritesNothing) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("rendle-net-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string save = (dir / "net.xlsx").string();
    const std::string csv = (dir / "obs.csv").string();
    std::ofstream(csv) << "from,to,dh,length_km\nBM1,BM7,0.8,0.2\nX,Y,1\n";
    const Result bad = RunNet("--save " + save + " --fix BM1=100 " + csv);
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "rendle-net: " + csv + ":3: 3 fields where the header has 4\n");
    EXPECT_EQ(bad.out, "");
    EXPECT_FALSE(std::filesystem::exists(save));

    // A benchmark of a register that no input has is named, not refused; the part of the
    // network it does not reach is.
    const std::string region = (dir / "region.csv").string();
    std::ofstream(region) << "name,height\nBM9,100\n";
    const Result unreached = RunNet("--benchmarks " + region + " " + kLoopOfTwoRuns);
    EXPECT_EQ(unreached.status, 2);
    EXPECT_NE(unreached.err.find("benchmarks of the file that no input has (not used): BM9\n"),
              std::string::npos)
        << unreached.err;
    EXPECT_NE(unreached.err.find("no benchmark reaches the part of the network with BM1, BM7"),
              std::string::npos)
        << unreached.err;

    const Result replace = RunNet("--save " + csv + " --fix BM1=100 " + csv);
    EXPECT_EQ(replace.status, 2);
    EXPECT_NE(replace.err.find("would replace the input"), std::string::npos) << replace.err;
    EXPECT_EQ(Slurp(csv), "from,to,dh,length_km\nBM1,BM7,0.8,0.2\nX,Y,1\n");

    EXPECT_EQ(RunNet("--fix BM1=100").status, 64) << "no input";
    std::filesystem::remove_all(dir);
}

// What is named on the command line is checked before any adjustment: each case's status and
// the one line it says.
TEST(RendleNet, NamesAndInputsAreCheckedFirst) {
    const std::string north = Sample("network/north.gsi");
    const std::string northAgain =
        (std::filesystem::path(north).parent_path() / "." / "north.gsi").string();
    const struct {
        std::string arguments;
        int status;
        std::string says;
    } cases[] = {
        {"--fix BM1=100 --fix Z=120 " + kLoopOfTwoRuns, 2,
         "rendle-net: --fix Z: no input has a point of that name\n"},
        {"--fix BM1=100 --point NOSUCH " + kLoopOfTwoRuns, 2,
         "rendle-net: --point NOSUCH: no input has a point of that name\n"},
        {"--approx BM7=100 --fix BM1=100 " + kLoopOfTwoRuns, 64,
         "rendle-net: --approx applies to a free network only, and benchmarks are given\n"},
        {"--datum BM1 --fix BM1=100 " + kLoopOfTwoRuns, 64,
         "rendle-net: --datum applies to a free network only, and benchmarks are given\n"},
        {"--datum NOSUCH " + kLoopOfTwoRuns, 2,
         "rendle-net: --datum NOSUCH: no input has a point of that name\n"},
        {"--fix BM1=100 " + north + " " + north, 64,
         "rendle-net: " + north + " is given twice; it would be adjusted twice\n"},
        {"--fix BM1=100 " + north + " " + northAgain, 64,
         "rendle-net: " + north + " and " + northAgain +
             " are the same file; it would be adjusted twice\n"},
        {"--fix BM1=120000 " + kLoopOfTwoRuns, 2,
         "rendle-net: benchmark BM1: a height of 120000 m (heights lie within 100 km of the "
         "datum)\n"},
        {"--fix BM1=100", 64,
         "rendle-net: INPUT is required (run with --help for more information)\n"},
        {"--fix BM1=100 --pdf /nonexistent/net.pdf " + kLoopOfTwoRuns, 64,
         "rendle-net: --pdf /nonexistent/net.pdf is in a folder that does not exist\n"},
        {"--fix BM1=100 --gama-xml " + north + "/x.gkf " + kLoopOfTwoRuns, 64,
         "rendle-net: --gama-xml " + north + "/x.gkf is in a folder that does not exist\n"},
        {"--class list " + kLoopOfTwoRuns, 64,
         "rendle-net: --class list prints the classes and adjusts no network; give it alone (run "
         "with --help for more information)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Result r = RunNet(c.arguments);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.says);
        EXPECT_EQ(r.out, "");
    }
}

// rendle-net names the classes as rendle-reduce does, and says so when it cannot.
TEST(RendleNet, TheClassListIsRendleReducesOwn) {
    const Result net = RunNet("--class list");
    EXPECT_EQ(net.status, 0) << net.err;
    EXPECT_EQ(net.out, RunReduce("--class list").out);
    EXPECT_NE(net.out.find("fgcs-1-1  USA FGCS 1984, first order class I\n"), std::string::npos);
    const Result full = RunShell(kNet + " --class list >/dev/full");
    EXPECT_EQ(full.status, 4);
    EXPECT_EQ(full.err, "rendle-net: standard output could not be written\n");
}

// A free network whose sections fall into parts that share no point: each part lies on its
// own datum, and the report says so rather than list unrelated heights as one network's.
TEST(RendleNet, AFreeNetworkInPartsIsSaidToBeSo) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("rendle-net-parts-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string csv = (dir / "obs.csv").string();
    const struct {
        const char* name;
        const char* rows;
        int parts;
    } cases[] = {
        {"one loop", "A,B,1.000,1\nB,C,0.500,1\nC,A,-1.501,1\n", 1},
        {"two loops apart",
         "A,B,1.000,1\nB,C,0.500,1\nC,A,-1.501,1\nP,Q,2.000,1\nQ,R,-1.000,1\nR,P,-0.999,1\n", 2},
        {"two loops joined by a section",
         "A,B,1.000,1\nB,C,0.500,1\nC,A,-1.501,1\nP,Q,2.000,1\nQ,R,-1.000,1\nR,P,-0.999,1\n"
         "C,P,0.250,1\n",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(csv) << "from,to,dh,length_km\n" << c.rows;
        const Result text = RunNet(csv);
        EXPECT_EQ(text.status, 0) << text.err;
        const bool said = text.err.find(
                              "the free network falls into 2 parts that share no point "
                              "(the parts of A, P)") != std::string::npos;
        EXPECT_EQ(said, c.parts == 2) << text.err;
        EXPECT_EQ(
            text.out.find("a free network in 2 parts that share no point") != std::string::npos,
            c.parts == 2);
        EXPECT_EQ(json::parse(RunNet("--json " + csv).out)["parts"], c.parts);
    }
    std::filesystem::remove_all(dir);
}

TEST(RendleNet, WhyTheStatusIsOneAndTheSnoopingPolicy) {
    // Both ends held 2.3 mm from what the two runs measure: a line between benchmarks beyond its
    // 0.88 mm, the first check a surveyor reads.
    const Result held = RunNet("--fix BM1=100 --fix BM7=100.8 " + kLoopOfTwoRuns);
    EXPECT_EQ(held.status, 1);
    EXPECT_NE(held.out.find("Lines between benchmarks (misclosure and limit in mm, length in km)\n"
                            "  B1        2.30  limit    0.88     0.194 km  BEYOND BM1 BM7"),
              std::string::npos)
        << held.out;
    EXPECT_EQ(held.err,
              "rendle-net: exit status 1: global test failed high; 2 observations beyond 3.29; 1 "
              "line between benchmarks beyond its limit\n");

    // "--snoop always" takes its word; the inputs after it are still inputs.
    const Result always = RunNet("--json --snoop always --fix BM1=100 " + kLoopOfTwoRuns);
    ASSERT_EQ(always.status, 0) << always.err;
    EXPECT_EQ(json::parse(always.out)["snooping"]["policy"], "always");
    const Result passing = RunNet("--json --snoop --fix BM1=100 " + kLoopOfTwoRuns);
    ASSERT_EQ(passing.status, 0) << passing.err;
    const json snooping = json::parse(passing.out)["snooping"];
    EXPECT_EQ(snooping["policy"], "while the global test fails");
    EXPECT_EQ(snooping["note"], "the global test passes: no observation removed");
    EXPECT_TRUE(snooping["removed"].empty());
    EXPECT_EQ(RunNet("--snoop=sometimes --fix BM1=100 " + kLoopOfTwoRuns).status, 64);
}

TEST(RendleNet, TheWorkbookHoldsHeightsAndObservations) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("rendle-net-book-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string save = (dir / "loop.xlsx").string();
    ASSERT_EQ(RunNet("--save " + save + " --fix BM1=100 " + kLoopOfTwoRuns).status, 0);
    const Result read =
        RunShell("/usr/bin/python3 -c \"import openpyxl; b = openpyxl.load_workbook('" + save +
                 "'); print(b.sheetnames); print([c.value for c in b['Heights'][3]]); "
                 "print([c.value for c in b['Observations'][1]][:4])\"");
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_NE(read.out.find("['Summary', 'Heights', 'Observations', 'Loops', 'Lines between "
                            "benchmarks', 'Sections run twice', 'Snooping']"),
              std::string::npos)
        << read.out;
    EXPECT_NE(read.out.find("['BM7', 100.802"), std::string::npos) << read.out;
    EXPECT_NE(read.out.find("['From', 'To', 'dh (m)', 'Length (km)']"), std::string::npos);
    std::filesystem::remove_all(dir);
}

}  // namespace

namespace {

/// A folder of its own for a test's files, removed after it.
struct Folder {
    explicit Folder(const std::string& name)
        : path(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()))) {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~Folder() { std::filesystem::remove_all(path); }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    std::filesystem::path path;
};

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(RendleNetDrawing, TheBundledLoopDrawnPrintedAndExchanged) {
    const Folder dir("rendle-net-drawing");
    const std::string svg = dir / "loop.svg";
    const std::string pdf = dir / "loop.pdf";
    const std::string gkf = dir / "loop.gkf";
    const Result run = RunNet("--json --svg " + svg + " --pdf " + pdf + " --gama-xml " + gkf +
                              " --fix BM1=100 " + kLoopOfTwoRuns);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "") << "no progress line in a pipe";

    // The drawing holds one symbol per point and one line per observation, the two runs a
    // section run twice labelled with its misclosure against its limit.
    const std::string drawing = Slurp(svg);
    EXPECT_EQ(Count(drawing, "class=\"benchmark\""), 1u);
    EXPECT_EQ(Count(drawing, "class=\"point\""), 1u);
    EXPECT_EQ(Count(drawing, "class=\"section\""), 2u);
    EXPECT_EQ(Count(drawing, "class=\"loop\""), 1u);
    EXPECT_NE(drawing.find("twice 0.60 / 0.88 mm"), std::string::npos);
    EXPECT_NE(drawing.find("<title>BM7\nheight 100.80231 m\nsigma 0.30 mm</title>"),
              std::string::npos);
    // A real renderer draws it.
    const Result png = RunShell("rsvg-convert " + svg + " -o " + (dir / "loop.png"));
    EXPECT_EQ(png.status, 0) << png.err;
    EXPECT_GT(std::filesystem::file_size(dir / "loop.png"), 1000u);

    // The paged report: the drawing, then every sheet in its order.
    const Result text = RunShell("pdftotext -layout " + pdf + " -");
    ASSERT_EQ(text.status, 0) << text.err;
    size_t at = 0;
    for (const char* heading :
         {"Levelling network (schematic)", "BM1", "Summary", "Heights", "100.80231", "Observations",
          "Loops", "Lines between benchmarks", "Sections run twice", "Snooping", "policy: off"}) {
        const size_t found = text.out.find(heading, at);
        ASSERT_NE(found, std::string::npos) << heading << " after " << at << "\n" << text.out;
        at = found;
    }

    // GNU Gama's input, read back, adjusts to the same heights, weighted by its own stdevs.
    const json first = json::parse(run.out);
    const Result again = RunNet("--json " + gkf);
    ASSERT_EQ(again.status, 0) << again.err;
    const json second = json::parse(again.out);
    EXPECT_EQ(second["weights"], "by each observation's sigma_mm");
    ASSERT_EQ(second["heights"].size(), first["heights"].size());
    for (size_t i = 0; i < first["heights"].size(); ++i) {
        EXPECT_EQ(second["heights"][i]["point"], first["heights"][i]["point"]);
        EXPECT_NEAR(second["heights"][i]["height"].get<double>(),
                    first["heights"][i]["height"].get<double>(), 1e-9);
        EXPECT_NEAR(second["heights"][i]["sigma"].get<double>(),
                    first["heights"][i]["sigma"].get<double>(), 1e-12);
    }

    // Its conf-pr sets the heights' confidence, unless --confidence is given.
    std::string written = Slurp(gkf);
    const size_t conf = written.find("conf-pr=\"0.95\"");
    ASSERT_NE(conf, std::string::npos) << written;
    std::ofstream(gkf) << written.replace(conf, 15, "conf-pr=\"0.99\"");
    const auto interval = [&](const std::string& options) {
        const Result r = RunNet("--json " + options + gkf);
        return json::parse(r.out)["heights"][1]["confidenceInterval"].get<double>();
    };
    const double sigma = first["heights"][1]["sigma"].get<double>();
    EXPECT_NEAR(interval("") / sigma, 63.657, 0.001) << "Student's t, 1 degree, 99 %";
    EXPECT_NEAR(interval("--confidence 0.95 ") / sigma, 12.706, 0.001) << "95 %";
}

TEST(RendleNetDrawing, PointsInNaturalOrderUnlessTheInputsOrderIsAsked) {
    const Folder dir("rendle-net-order");
    const std::string csv = dir / "order.csv";
    std::ofstream(csv)
        << "from,to,dh,length_km\nBM10,BM2,0.5,1\nBM2,BM1,0.25,1\nBM1,BM10,-0.75,1\n";
    const auto points = [](const Result& r) {
        std::string names;
        const json document = json::parse(r.out);
        for (const json& h : document["heights"]) {
            names += h["point"].get<std::string>() + " ";
        }
        return names;
    };
    EXPECT_EQ(points(RunNet("--json --fix BM10=10 " + csv)), "BM1 BM2 BM10 ");
    EXPECT_EQ(points(RunNet("--json --order input --fix BM10=10 " + csv)), "BM10 BM2 BM1 ");
    EXPECT_EQ(RunNet("--order alphabetic --fix BM10=10 " + csv).status, 64);
}

// Observations given by their σ alone (a Gama <dh> with stdev and no dist) have no length: a
// loop of them is judged by the σ of its misclosure, never against a limit of nothing. Three
// legs of 1 mm: the loop's σ is sqrt(3) mm, its limit 3.29 (the critical |w| at alpha0 0.001)
// times that, 5.70 mm.
TEST(RendleNet, AChecksLimitWithoutALengthIsBySigma) {
    const Folder dir("rendle-net-by-sigma");
    const struct {
        const char* closing;  // C to A
        double misclosureMm;
        bool within;
    } cases[] = {{"-1.998", 2.0, true}, {"-1.9943", 5.7, true}, {"-1.9942", 5.8, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.closing);
        const std::string gkf = dir / "sigma.gkf";
        std::ofstream(gkf) << "<?xml version='1.0'?>\n<gama-local><network>"
                              "<points-observations>\n<point id='A' z='100' fix='z'/>\n"
                              "<point id='B' adj='z'/><point id='C' adj='z'/>\n"
                              "<height-differences>\n"
                              "<dh from='A' to='B' val='1.000' stdev='1'/>\n"
                              "<dh from='B' to='C' val='1.000' stdev='1'/>\n"
                              "<dh from='C' to='A' val='"
                           << c.closing
                           << "' stdev='1'/>\n</height-differences>\n</points-observations>"
                              "</network></gama-local>\n";
        const Result text = RunNet(gkf);
        EXPECT_NE(text.out.find("limit    5.70 by \u03c3"), std::string::npos) << text.out;
        EXPECT_EQ(text.out.find("limit    0.00"), std::string::npos);
        const json doc = json::parse(RunNet("--json " + gkf).out);
        ASSERT_EQ(doc["loops"].size(), 1u);
        const json& loop = doc["loops"][0];
        EXPECT_EQ(loop["bySigma"], true);
        EXPECT_NEAR(loop["limit"].get<double>(), 3.2905267314919 * std::sqrt(3.0) / 1000, 1e-9);
        EXPECT_NEAR(std::fabs(loop["misclosure"].get<double>()) * 1000, c.misclosureMm, 1e-6);
        EXPECT_EQ(loop["within"], c.within);
    }
}

// A free Gama network is laid over the z of its adjusted points, as gama-local lays it: A at
// 100 and B at 101 (both adj="Z"), B 1.004 above A. The least-squares heights keep the mean of
// the given z, 100.5: A 99.998, B 101.002. Written back by --gama-xml, every adjusted point
// has its z, and the file read again gives the same heights.
TEST(RendleNet, AFreeGamaNetworkIsLaidOverItsApproximateHeights) {
    const Folder dir("rendle-net-free-gama");
    const std::string gkf = dir / "free.gkf";
    std::ofstream(gkf) << "<?xml version='1.0'?>\n<gama-local><network><points-observations>\n"
                          "<point id='A' z='100' adj='Z'/><point id='B' z='101' adj='Z'/>\n"
                          "<point id='C' z='103' adj='z'/>\n<height-differences>\n"
                          "<dh from='A' to='B' val='1.004' stdev='1'/>\n"
                          "<dh from='B' to='C' val='2' stdev='1'/>\n"
                          "</height-differences>\n</points-observations></network></gama-local>\n";
    const std::string again = dir / "again.gkf";
    const Result first = RunNet("--json --gama-xml " + again + " " + gkf);
    ASSERT_EQ(first.status, 0) << first.err;
    const json heights = json::parse(first.out)["heights"];
    const auto heightOf = [](const json& all, const std::string& point) {
        for (const json& h : all) {
            if (h["point"] == point) return h["height"].get<double>();
        }
        return -1.0;
    };
    EXPECT_NEAR(heightOf(heights, "A"), 99.998, 1e-9);
    EXPECT_NEAR(heightOf(heights, "B"), 101.002, 1e-9);
    EXPECT_NEAR(heightOf(heights, "C"), 103.002, 1e-9);
    const std::string written = Slurp(again);
    for (const char* point : {"id=\"A\" z=\"", "id=\"B\" z=\"", "id=\"C\" z=\""}) {
        const size_t at = written.find(point);
        ASSERT_NE(at, std::string::npos) << written;
        const double z = std::strtod(written.c_str() + at + std::strlen(point), nullptr);
        EXPECT_NEAR(z, heightOf(heights, std::string(1, point[4])), 1e-9) << point;
    }
    const json back = json::parse(RunNet("--json " + again).out)["heights"];
    for (const char* point : {"A", "B", "C"}) {
        EXPECT_NEAR(heightOf(back, point), heightOf(heights, point), 1e-9) << point;
    }
    // --approx gives a point its own approximate height over the file's.
    const json moved =
        json::parse(RunNet("--json --approx A=100.002 --approx B=101.002 " + gkf).out)["heights"];
    EXPECT_NEAR(heightOf(moved, "A"), 100.0, 1e-9);
}

// Two names that differ only in letter case or blanks are likely one point booked two ways:
// each such pair is warned of, and names that truly differ are not.
TEST(RendleNet, NamesThatDifferOnlyInCaseOrBlanksAreWarnedOf) {
    const Folder dir("rendle-net-names");
    const struct {
        const char* rows;
        const char* warned;  // empty: no warning
    } cases[] = {
        {"BM1,A,1,1\nA,bm1,-1.001,1\n", "the points BM1 and bm1 differ only in letter case"},
        {"BM1,B 2,1,1\nB2,BM1,-1.001,1\n", "the points B 2 and B2 differ only in letter case"},
        {"BM1,BM2,1,1\nBM2,BM1,-1.001,1\n", ""},
        {"BM1,BM10,1,1\nBM10,BM1,-1.001,1\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rows);
        std::ofstream(dir / "names.csv") << "from,to,dh,length_km\n" << c.rows;
        const Result r = RunNet("--fix BM1=10 " + (dir / "names.csv"));
        EXPECT_EQ(r.err.find("differ only") != std::string::npos, *c.warned != '\0') << r.err;
        if (*c.warned != '\0') {
            EXPECT_NE(r.err.find(c.warned), std::string::npos) << r.err;
        }
    }
}

// A point named in bytes that are no UTF-8 (Latin-1, as older programs write it) in a Gama
// file is named as a CSV file's would be, in every output, and the job ends.
TEST(RendleNet, ANameThatIsNoUtf8InAGamaFileIsReadAsACsvFilesIs) {
    const Folder dir("rendle-net-latin1");
    const std::string gkf = dir / "latin1.gkf";
    std::ofstream(gkf, std::ios::binary)
        << "<?xml version='1.0'?>\n<gama-local><network><points-observations>\n"
           "<point id='A' z='10' fix='z'/>\n<height-differences>\n"
           "<dh from='A' to='Medici\xF3n' val='1.5' stdev='1' dist='1'/>\n"
           "<dh from='Medici\xF3n' to='A' val='-1.501' stdev='1' dist='1'/>\n"
           "</height-differences>\n</points-observations></network></gama-local>\n";
    std::ofstream(dir / "names.csv", std::ios::binary)
        << "from,to,dh,length_km\nA,Medici\xF3n,1.5,1\nMedici\xF3n,A,-1.501,1\n";
    for (const std::string& input : {gkf, dir / "names.csv"}) {
        SCOPED_TRACE(input);
        const std::string fix = input == gkf ? "" : "--fix A=10 ";
        // A hang is ended by the timeout: status 124, not a report.
        const Result text = RunShell("timeout 20 " + kNet + " " + fix + input + " </dev/null");
        EXPECT_NE(text.status, 124) << "the text report ends";
        EXPECT_NE(text.out.find("Medici\u00f3n"), std::string::npos) << text.out;
        const Result json = RunShell("timeout 20 " + kNet + " --json " + fix + input + " --save " +
                                     (dir / "out.xlsx") + " </dev/null");
        EXPECT_NE(json.status, 124) << "the workbook is written";
        EXPECT_EQ(json::parse(json.out)["heights"][1]["point"], "Medici\u00f3n");
    }
}

// Outputs and drawing inputs are checked before any work: each case's status and its one line.
TEST(RendleNetDrawing, OutputsAndCoordinatesAreCheckedFirst) {
    const Folder dir("rendle-net-outputs");
    const std::string north = Sample("network/north.gsi");
    const std::string xy = dir / "xy.csv";
    std::ofstream(xy) << "name,east,north\nBM1,1000,2000\n";
    const std::string gkf = dir / "angles.gkf";
    std::ofstream(gkf) << "<?xml version='1.0'?>\n<gama-local><network><points-observations>\n"
                          "<point id='A' z='1' fix='z'/>\n<obs>\n<direction from='A' to='B' "
                          "val='10'/>\n</obs></points-observations></network></gama-local>\n";
    const struct {
        std::string arguments;
        int status;
        std::string says;
    } cases[] = {
        {"--svg " + north + " --fix BM1=100 " + kLoopOfTwoRuns, 2,
         "rendle-net: --svg " + north + " would replace the input " + north + "\n"},
        {"--save " + (dir / "a.out") + " --svg " + (dir / "a.out") + " --fix BM1=100 " +
             kLoopOfTwoRuns,
         2, "rendle-net: --svg " + (dir / "a.out") + " is the file of --save as well\n"},
        {"--pdf " + dir.path.string() + " --fix BM1=100 " + kLoopOfTwoRuns, 2,
         "rendle-net: --pdf " + dir.path.string() + " is a folder; name the file\n"},
        {"--svg " + (dir / "a.svg") + " --coordinates " + xy + " --fix BM1=100 " + kLoopOfTwoRuns,
         2, "rendle-net: " + xy + " has no coordinates for BM7\n"},
        {"--fix A=1 " + gkf, 2,
         "rendle-net: " + gkf +
             ":5: <direction> is not a height difference; only levelling is "
             "adjusted\n"},
        {"--colour-by sigma --fix BM1=100 " + kLoopOfTwoRuns, 64, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Result r = RunNet(c.arguments);
        EXPECT_EQ(r.status, c.status);
        if (!c.says.empty()) {
            EXPECT_EQ(r.err, c.says);
        }
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "a.out"));
    EXPECT_FALSE(std::filesystem::exists(dir / "a.svg"));
}

/// A grid of `side` × `side` points levelled 1 km a leg, as a CSV file of observations.
void WriteGrid(const std::string& path, int side) {
    std::ofstream out(path);
    out << "from,to,dh,length_km\n";
    for (int r = 0; r < side; ++r) {
        for (int c = 0; c < side; ++c) {
            const int p = r * side + c;
            if (c + 1 < side) out << 'P' << p << ",P" << p + 1 << ",0.1" << (p % 7) << ",1\n";
            if (r + 1 < side) out << 'P' << p << ",P" << p + side << ",-0.2" << (p % 5) << ",1\n";
        }
    }
}

TEST(RendleNetProgress, OnATerminalOnlyAndNotWhenQuiet) {
    const Folder dir("rendle-net-progress");
    const std::string grid = dir / "grid.csv";
    WriteGrid(grid, 12);
    // `script` gives the program a terminal; its stderr is the typescript.
    const auto onTerminal = [&](const std::string& command) {
        return RunShell("script -qec \"" + command + " >/dev/null\" /dev/null").out;
    };
    const std::string shown = onTerminal(kNet + " --snoop always --fix P0=0 " + grid);
    for (const std::string& stage :
         {"reading " + grid + " (1 of 1)", std::string("factoring"), std::string("statistics"),
          std::string("snooping round 1"), std::string("writing")}) {
        EXPECT_NE(shown.find("\r\033[Krendle-net: " + stage), std::string::npos) << stage << "\n"
                                                                                 << shown;
    }
    EXPECT_EQ(onTerminal(kNet + " --quiet --fix P0=0 " + grid).find("\033[K"), std::string::npos);
    EXPECT_EQ(RunNet("--fix P0=0 " + grid).err.find("factoring"), std::string::npos)
        << "none in a pipe";

    const std::string books = Sample("ring-road.sdr20.SDR") + " " + Sample("ring-road.m5.DAT");
    EXPECT_NE(onTerminal(kReduce + " " + books).find("\r\033[Krendle-reduce: 1 of 2 field books"),
              std::string::npos);
    EXPECT_EQ(onTerminal(kReduce + " --quiet " + books).find("field books"), std::string::npos);
}

// Ctrl+C while the network is adjusted and laid out: the program ends as the signal ends it
// (130 in a shell), nothing is written, not even a file staged beside the drawing, and on a
// terminal its progress line is cleared.
TEST(RendleNetProgress, CtrlCWhileAdjustingWritesNothing) {
    const Folder dir("rendle-net-stop");
    const std::string grid = dir / "grid.csv";
    WriteGrid(grid, 100);
    const std::string svg = dir / "grid.svg";
    const Result stopped = RunShell("bash -c '(" + kNet + " --fix P0=0 --svg " + svg + " " + grid +
                                    "; echo \"status $?\" >&2) & sleep 0.5; pkill -INT -f -- \"" +
                                    svg + "\"; wait $!'");
    EXPECT_NE(stopped.err.find("status 130"), std::string::npos) << stopped.err;
    EXPECT_EQ(stopped.out, "");
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path))
        ++files;
    EXPECT_EQ(files, 1u) << "only the grid's observations";

    const Result onTerminal = RunShell(
        "bash -c '(script -qec \"" + kNet + " --fix P0=0 --svg " + svg + " " + grid +
        "\" /dev/null) & sleep 0.5; pkill -INT -f -- \"^" + kNet + ".*" + svg + "\"; wait $!'");
    EXPECT_NE(onTerminal.out.find("rendle-net: "), std::string::npos) << onTerminal.out;
    EXPECT_TRUE(onTerminal.out.ends_with("\r\033[K")) << onTerminal.out;
    EXPECT_FALSE(std::filesystem::exists(svg));
}

}  // namespace

namespace {

// A report in words alone leaves the columns unfitted; a workbook still has them fitted, so that
// RLs of a million metres are never cut to "####" in a spreadsheet.
TEST(RendleReduceOutputs, AWorkbookHasItsColumnsFittedToItsRLs) {
    const Folder dir("rendle-reduce-widths");
    const std::string book = dir / "wide.xlsx";
    const Result run = RunShell(kReduce + " --start-rl 1234567.8901 --end-rl 1234567.8901 --save " +
                                book + " " + Sample("ring-road.sdr20.SDR") + " >/dev/null");
    ASSERT_EQ(run.status, 0) << run.err;
    const Result widths = RunShell(
        "/usr/bin/python3 -W ignore -c \"import openpyxl; s = openpyxl.load_workbook('" + book +
        "').active; print(s.column_dimensions['A'].width, s.column_dimensions['F'].width, "
        "s.column_dimensions['G'].width)\"");
    ASSERT_EQ(widths.status, 0) << widths.err;
    std::istringstream in(widths.out);
    double a = 0;
    double f = 0;
    double g = 0;
    in >> a >> f >> g;
    EXPECT_GT(f, a * 1.3) << widths.out;
    EXPECT_GT(g, a * 1.3) << widths.out;
}

}  // namespace

namespace {

// A gama-local input with a correlated block: rendle-net names the block in its report and its
// JSON, writes it back whole with --gama-xml, and that file adjusts to the same heights; with
// weights of another kind the covariances are said to be left out.
TEST(RendleNet, ACorrelatedGamaBlockEndToEnd) {
    const Folder dir("rendle-net-correlated");
    const std::string gkf = dir / "block.gkf";
    std::ofstream(gkf)
        << "<?xml version='1.0'?>\n<gama-local><network><parameters sigma-apr='1'/>\n"
           "<points-observations>\n<point id='A' z='100' fix='z'/>\n"
           "<point id='B' adj='z'/><point id='C' adj='z'/><point id='D' adj='z'/>\n"
           "<height-differences>\n<dh from='A' to='B' val='1.0004' dist='0.5'/>\n"
           "<dh from='B' to='C' val='0.4997' dist='0.5'/>\n"
           "<dh from='C' to='D' val='-0.3006' dist='0.5'/>\n"
           "<cov-mat dim='3' band='2'>1.0 0.4 0.1 1.2 0.3 0.9</cov-mat>\n</height-differences>\n"
           "<height-differences>\n<dh from='D' to='A' val='-1.2004' stdev='2'/>\n"
           "<dh from='A' to='C' val='1.5006' stdev='1.5'/>\n"
           "<dh from='B' to='D' val='0.2003' stdev='1.2'/>\n</height-differences>\n"
           "</points-observations></network></gama-local>\n";
    const std::string again = dir / "again.gkf";
    const Result first = RunNet("--json --gama-xml " + again + " " + gkf);
    ASSERT_EQ(first.status, 0) << first.err;
    const json doc = json::parse(first.out);
    EXPECT_EQ(doc["correlatedBlocks"], json::parse("[[1, 2, 3]]"));
    EXPECT_NE(Slurp(again).find("<cov-mat dim=\"3\" band=\"2\">1 0.4 0.1 1.2 0.3 0.9</cov-mat>"),
              std::string::npos);
    const json second = json::parse(RunNet("--json " + again).out);
    ASSERT_EQ(second["heights"].size(), doc["heights"].size());
    for (size_t i = 0; i < doc["heights"].size(); ++i) {
        EXPECT_NEAR(second["heights"][i]["height"].get<double>(),
                    doc["heights"][i]["height"].get<double>(), 1e-9);
    }
    EXPECT_EQ(second["redundancy"], doc["redundancy"]);
    EXPECT_NE(RunNet(gkf).out.find("Correlated blocks, weighted by their covariance matrices: "
                                   "(1 2 3)\n"),
              std::string::npos);
    const Result byLength = RunNet("--weights length " + gkf);
    EXPECT_NE(byLength.err.find("the covariances of 1 correlated block of height differences "
                                "are not used"),
              std::string::npos)
        << byLength.err;
}

}  // namespace

namespace {

// A job kept in a file runs as the same command line does; what the command line adds to it is
// laid over it.
TEST(RendleNetJob, AJobFileRunsAsItsCommandLine) {
    const Folder folder("rendle-net-job");
    std::filesystem::copy_file(Sample("network/north.gsi"), folder / "north.gsi");
    std::filesystem::copy_file(Sample("network/south.gsi"), folder / "south.gsi");
    {
        std::ofstream job(folder / "ring.rnj", std::ios::binary);
        job << "# Rendle network job\r\ninput north.gsi\r\ninput south.gsi\r\n"
               "fix BM1=100.000\r\nclass fgcs-1-1\r\nsnoop while\r\n";
    }
    const std::string here = "cd " + folder.path.string() + " && ";
    const Result byHand =
        RunShell(here + kNet + " --class fgcs-1-1 --snoop --fix BM1=100.000 north.gsi south.gsi");
    ASSERT_EQ(byHand.status, 0) << byHand.err;
    // Run from another folder: the job's paths are its own folder's.
    const Result byJob = RunShell("cd / && " + kNet + " --job " + (folder / "ring.rnj") +
                                  " | sed 's#" + folder.path.string() + "/##g'");
    ASSERT_EQ(byJob.status, 0) << byJob.err;
    EXPECT_EQ(byJob.out, byHand.out);

    // The command line's class replaces the job's; its benchmark is added to the job's.
    const Result over =
        RunShell(here + kNet + " --job ring.rnj --class fgcs-2-1 --fix BM7=100.8:1 --json");
    ASSERT_EQ(over.status, 0) << over.err;
    const json j = json::parse(over.out);
    EXPECT_EQ(j["observations"].size(), 3u) << "the weighted BM7 added";
    EXPECT_EQ(j["heights"][0]["fixed"], true) << "the job's BM1 kept";
    EXPECT_NE(RunShell(here + kNet + " --job ring.rnj --class fgcs-2-1").out.find("second order"),
              std::string::npos);
}

TEST(RendleNetJob, ABadJobFileIsBadInputNamingTheLine) {
    const Folder folder("rendle-net-bad-job");
    {
        std::ofstream job(folder / "bad.rnj", std::ios::binary);
        job << "# Rendle network job\ninput north.gsi\nweights by-eye\n";
    }
    const Result bad = RunNet("--job " + (folder / "bad.rnj") + " --save " + (folder / "out.xlsx"));
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "rendle-net: " + (folder / "bad.rnj") +
                           ":3: weights by-eye: not one of length, setups, sigma\n");
    EXPECT_FALSE(std::filesystem::exists(folder / "out.xlsx"));
    const Result missing = RunNet("--job " + (folder / "none.rnj"));
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
}

}  // namespace

namespace {

// Staff and curvature corrections in rendle-net: the height differences adjusted corrected, each
// observation's JSON saying what was measured, what was corrected and what was adjusted.
TEST(RendleNetCorrections, BooksAndRowsCorrectedAndSaid) {
    const Folder folder("rendle-net-corrections");
    {
        std::ofstream(folder / "staffs.csv") << "serial,scale_ppm,t0_c,alpha_ppm_per_c,index_mm\n"
                                                "A,20,20,1,0.1\nB,-10,20,1,-0.2\n";
        // A 10 m rise at 35 C on staff A: 35 ppm, 0.35 mm; at 20 C (the job's) 20 ppm.
        std::ofstream(folder / "obs.csv") << "from,to,dh,length_km,temperature_c\n"
                                             "P,Q,10.0000,1,35\nQ,P,-10.0006,1,\n";
    }
    const Result rows = RunNet("--json --fix P=100 --staffs " + (folder / "staffs.csv") +
                               " --staff A --temperature 20 " + (folder / "obs.csv"));
    ASSERT_EQ(rows.status, 0) << rows.err;
    const json r = json::parse(rows.out);
    EXPECT_NE(r["corrections"].get<std::string>().find("staff A of"), std::string::npos);
    // The job's 20 C is not the whole story: the row that gives its own temperature is said.
    EXPECT_NE(r["corrections"].get<std::string>().find("20 C); 1 row at its own temperature_c"),
              std::string::npos)
        << r["corrections"];
    EXPECT_NEAR(r["observations"][0]["corrections"]["staff"].get<double>(), 0.00035, 1e-12);
    EXPECT_EQ(r["observations"][0]["dh"], 10.0);
    EXPECT_NEAR(r["observations"][0]["dhCorrected"].get<double>(), 10.00035, 1e-12);
    EXPECT_NEAR(r["observations"][1]["corrections"]["staff"].get<double>(), -0.000200012, 1e-12);

    // The bundled books with the pair leapfrogging at 30 C: north, BM1 to BM7, three set-ups
    // (backs 1.4000, 1.2050, 1.5520 on A, B, A; fores 1.10210, 0.95120, 1.30110 on B, A, B),
    // worked by hand: +0.342000 - 0.328536 + 0.346560 mm. The index offsets do not cancel over
    // an odd number of set-ups, and that is said.
    const Result books =
        RunNet("--json --fix BM1=100 --staffs " + (folder / "staffs.csv") +
               " --staff A,B --temperature 30 --curvature-refraction 0.13 " + kLoopOfTwoRuns);
    ASSERT_LE(books.status, 1) << books.err;
    const json b = json::parse(books.out);
    const json& north = b["observations"][0];
    EXPECT_NEAR(north["corrections"]["staff"].get<double>(), 0.000360024, 1e-12);
    // Sights 35/34, 31/32.5, 28/29 m: -(1 - 0.13) (69 - 95.25 - 57) / (2 x 6371 km).
    // (The JSON gives metres to the nanometre.)
    EXPECT_NEAR(north["corrections"]["curvatureRefraction"].get<double>(),
                0.87 * 83.25 / 12'742'000.0, 0.5e-9);
    EXPECT_EQ(north["dh"], 0.8026);
    EXPECT_NE(books.err.find("the index offsets of the two staffs do not cancel"),
              std::string::npos)
        << books.err;

    // Without corrections the keys are there and say none.
    const json plain = json::parse(RunNet("--json --fix BM1=100 " + kLoopOfTwoRuns).out);
    EXPECT_TRUE(plain["corrections"].is_null());
    EXPECT_TRUE(plain["observations"][0]["corrections"].is_null());
    EXPECT_EQ(plain["observations"][0]["dhCorrected"], plain["observations"][0]["dh"]);
}

TEST(RendleNetCorrections, WhatCannotBeCorrectedIsRefused) {
    const Folder folder("rendle-net-corrections-refused");
    std::ofstream(folder / "staffs.csv") << "A,20,20,1\nB,20,20,1\n";
    std::ofstream(folder / "obs.csv") << "from,to,dh,length_km\nP,Q,1,1\n";
    const std::string staffs = " --staffs " + (folder / "staffs.csv");
    const struct {
        std::string arguments;
        int status;
        std::string said;
    } cases[] = {
        {"--staff A " + kLoopOfTwoRuns, 64, "give the table with --staffs"},
        {staffs + " " + kLoopOfTwoRuns, 64, "name the staffs of the runs with --staff"},
        {"--temperature 25 " + kLoopOfTwoRuns, 64, "the staffs' temperature"},
        {staffs + " --staff C " + kLoopOfTwoRuns, 2, "staff C is not in"},
        {staffs + " --staff A,B " + (folder / "obs.csv"), 2, "corrected for one staff only"},
    };
    for (const auto& c : cases) {
        const Result r = RunNet("--fix BM1=100 --fix P=1 " + c.arguments);
        EXPECT_EQ(r.status, c.status) << c.arguments << "\n" << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    }
}

}  // namespace

namespace {

// rendle-reduce's Corrections block: the sheet as booked, then what the corrections make of the
// misclose and of each named point's RL.
TEST(RendleReduceCorrections, TheBlockAfterTheChecks) {
    const Folder folder("rendle-reduce-corrections");
    std::ofstream(folder / "staffs.csv") << "serial,scale_ppm,t0_c,alpha_ppm_per_c,index_mm\n"
                                            "A,20,20,1,0.1\nB,-10,20,1,-0.2\n";
    const std::string book = Sample("network/north.gsi");
    const std::string asked = " --start-rl 100 --end-rl 100.8 --staffs " + (folder / "staffs.csv") +
                              " --staff A,B --temperature 30 --curvature-refraction 0.13 ";
    const Result text = RunReduce(asked + book);
    ASSERT_EQ(text.status, 0) << text.err;
    // The sheet keeps its misclose as booked; the block follows the checks.
    const size_t checks = text.out.find("\nChecks\n");
    const size_t block =
        text.out.find("\nCorrections (the level sheet keeps the readings as booked)\n");
    ASSERT_NE(checks, std::string::npos);
    ASSERT_NE(block, std::string::npos);
    EXPECT_LT(checks, block);
    EXPECT_NE(text.out.find("Misclose(m)                       0.0026"), std::string::npos);
    // Worked by hand (see the rendle-net test of the same book): 0.360024 mm and 0.005684 mm.
    EXPECT_NE(text.out.find("  staff: 0.360 mm over the run\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("  curvature and refraction: 0.006 mm over the run\n"),
              std::string::npos);
    EXPECT_NE(text.out.find("  misclose corrected: 0.0030 m\n"), std::string::npos);
    // RLs right-aligned in ten places: their decimal points in one column.
    EXPECT_NE(text.out.find("    BM7            100.8030\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("do not cancel: 3 set-ups"), std::string::npos);

    const Result doc = RunReduce("--json" + asked + book);
    ASSERT_EQ(doc.status, 0) << doc.err;
    const json c = json::parse(doc.out)["checks"]["corrections"];
    EXPECT_NEAR(c["staff"].get<double>(), 0.000360024, 0.5e-9);
    EXPECT_NEAR(c["misclose"].get<double>(), 0.0026 + 0.000360024 + 0.000005684, 1e-9);
    EXPECT_EQ(c["points"].size(), 4u);
    EXPECT_EQ(c["indexOffsetsLeft"], true);
    EXPECT_TRUE(
        json::parse(
            RunReduce("--json --start-rl 100 --end-rl 100.8 " + book).out)["checks"]["corrections"]
            .is_null());

    // A staff the table does not hold, or staffs without the table, reduce nothing.
    const Result missing = RunReduce("--staffs " + (folder / "staffs.csv") + " --staff C " + book);
    EXPECT_EQ(missing.status, 64);
    EXPECT_NE(missing.err.find("staff C is not in"), std::string::npos) << missing.err;
    EXPECT_EQ(RunReduce("--staff A " + book).status, 64);
}

}  // namespace

namespace {

// The normal-orthometric correction in a job: the two New South Wales stations of GeodePy's test
// joined by a section levelled both ways, BM1 held at its height.
TEST(RendleNetCorrections, NormalOrthometricFromThePointsLatitudes) {
    const Folder folder("rendle-net-normal-orthometric");
    std::ofstream(folder / "obs.csv") << "from,to,dh,length_km\nBM1,BM2,-3.8300,3.5\n"
                                         "BM2,BM1,3.8296,3.5\n";
    std::ofstream(folder / "pos.csv") << "name,latitude,longitude\n"
                                         "BM1,-30.89632356,141.08948867\n"
                                         "BM2,-30.86585867,141.07870767\n";
    const Result r = RunNet("--json --fix BM1=75.279 --normal-orthometric --positions " +
                            (folder / "pos.csv") + " " + (folder / "obs.csv"));
    ASSERT_LE(r.status, 1) << r.err;
    const json j = json::parse(r.out);
    EXPECT_NE(j["corrections"].get<std::string>().find("normal-orthometric"), std::string::npos);
    // Heights of 75.279 and about 71.449: +0.182 mm going BM1 to BM2, -0.182 mm back.
    EXPECT_NEAR(j["observations"][0]["corrections"]["normalOrthometric"].get<double>(), 0.000182,
                0.5e-6);
    EXPECT_NEAR(j["observations"][1]["corrections"]["normalOrthometric"].get<double>(), -0.000182,
                0.5e-6);
    EXPECT_EQ(j["observations"][0]["dh"], -3.83);

    // Along the geodesic (GeodePy's form), from the command line or a job file: 0.18169 mm.
    std::ofstream(folder / "geodesic.rnj")
        << "# Rendle network job\ninput obs.csv\nfix BM1=75.279\nnormal-orthometric pos.csv\n"
           "normal-orthometric-form geodesic\n";
    for (const std::string& args : {"--normal-orthometric=geodesic --fix BM1=75.279 --positions " +
                                        (folder / "pos.csv") + " " + (folder / "obs.csv"),
                                    "--job " + (folder / "geodesic.rnj")}) {
        const Result g = RunNet("--json " + args);
        ASSERT_LE(g.status, 1) << g.err;
        const json k = json::parse(g.out);
        EXPECT_NE(k["corrections"].get<std::string>().find("along the geodesic"), std::string::npos)
            << args;
        EXPECT_NEAR(k["observations"][0]["corrections"]["normalOrthometric"].get<double>(),
                    0.00018168513, 1e-9)
            << args;
    }
    EXPECT_EQ(RunNet("--normal-orthometric=exact --fix BM1=75.279 --positions " +
                     (folder / "pos.csv") + " " + (folder / "obs.csv"))
                  .status,
              64);

    // A point without a latitude, and the option without its file, adjust nothing.
    std::ofstream(folder / "short.csv") << "BM1,-30.89632356,141.08948867\n";
    const Result missing = RunNet("--fix BM1=75.279 --normal-orthometric --positions " +
                                  (folder / "short.csv") + " " + (folder / "obs.csv"));
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("has no latitude for BM2"), std::string::npos) << missing.err;
    EXPECT_EQ(RunNet("--fix BM1=75.279 --normal-orthometric " + (folder / "obs.csv")).status, 64);
}

}  // namespace

namespace {

// A surveyor's own class, read from JSON, judges the bundled north run at its limits: the
// misclose by set-ups (three set-ups), the lowest and highest staff readings (0.9512 m and
// 1.5520 m as booked), each at, just past and just short of its figure.
TEST(ClassFile, JudgesAtItsLimits) {
    const Folder folder("rendle-class-file");
    const std::string book = Sample("network/north.gsi");
    const struct {
        std::string figures;
        std::string said;
    } cases[] = {
        // 2.6 mm against C √3, judged as printed: 1.5 √3 = 2.598 is "2.6", within; 1.4 √3 =
        // 2.425 is "2.4", beyond.
        {"\"perSetUpMm\": 1.5",
         "misclose 2.6 mm against 2.6 mm by set-ups (1.5 mm x sqrt(n)): within"},
        {"\"perSetUpMm\": 1.4",
         "misclose 2.6 mm against 2.4 mm by set-ups (1.4 mm x sqrt(n)): EXCEEDS"},
        {"\"lowestReadingM\": 0.9512", "lowest reading 0.9512 m (at least 0.9512 m): within"},
        {"\"lowestReadingM\": 0.9513", "lowest reading 0.9512 m (at least 0.9513 m): TOO LOW"},
        {"\"lowestReadingM\": 0.9511", "lowest reading 0.9512 m (at least 0.9511 m): within"},
        {"\"highestReadingM\": 1.552", "highest reading 1.5520 m (at most 1.552 m): within"},
        {"\"highestReadingM\": 1.5519", "highest reading 1.5520 m (at most 1.5519 m): EXCEEDS"},
        {"\"highestReadingM\": 1.5521", "highest reading 1.5520 m (at most 1.5521 m): within"},
    };
    for (const auto& c : cases) {
        std::ofstream(folder / "own.json", std::ios::trunc)
            << "{\"id\": \"site-7\", \"name\": \"Dam monitoring, site 7\", " << c.figures << "}";
        const Result r = RunReduce("--start-rl 100 --end-rl 100.8 --class-file " +
                                   (folder / "own.json") + " " + book);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("    " + c.said + "\n"), std::string::npos) << c.figures << "\n"
                                                                         << r.out;
    }
    // In JSON, each figure with its limit and verdict.
    std::ofstream(folder / "own.json", std::ios::trunc)
        << "{\"id\": \"site-7\", \"lowestReadingM\": 0.9513, \"perSetUpMm\": 1.5}";
    const json j = json::parse(RunReduce("--json --start-rl 100 --end-rl 100.8 --class-file " +
                                         (folder / "own.json") + " " + book)
                                   .out);
    const json& byClass = j["checks"]["class"];
    EXPECT_EQ(byClass["id"], "site-7");
    EXPECT_EQ(byClass["lowestReading"]["verdict"], "too-low");
    EXPECT_EQ(byClass["lowestReading"]["figure"], 0.9512);
    EXPECT_EQ(byClass["perSetUp"]["verdict"], "within");
    EXPECT_TRUE(byClass["highestReading"].is_null());

    // rendle-net judges sections run twice by the class's round-trip figure: 0.60 mm over
    // 0.194 km against 1.4 √0.194 = 0.62 mm, and 1.3 √0.194 = 0.57 mm.
    for (const auto& [figure, verdict] :
         std::vector<std::pair<std::string, std::string>>{{"1.4", "within"}, {"1.3", "BEYOND"}}) {
        std::ofstream(folder / "own.json", std::ios::trunc)
            << "{\"id\": \"site-7\", \"miscloseMm\": 5, \"roundTripMm\": " << figure << "}";
        const Result net =
            RunNet("--fix BM1=100 --class-file " + (folder / "own.json") + " " + kLoopOfTwoRuns);
        EXPECT_NE(net.out.find("0.60  limit    " + std::string(figure == "1.4" ? "0.62" : "0.57") +
                               "     0.194 km  " + verdict),
                  std::string::npos)
            << net.out;
    }
}

TEST(ClassFile, RefusesWhatIsNoClass) {
    const Folder folder("rendle-class-file-refused");
    const struct {
        std::string text;
        std::string said;
    } cases[] = {
        {"{\"id\": \"x\", \"miscloseMM\": 3}", "\"miscloseMM\" is no figure of a class"},
        {"{\"id\": \"fgcs-1-1\", \"miscloseMm\": 3}", "the id fgcs-1-1 is a class Rendle knows"},
        {"{\"miscloseMm\": 3}", "the class has no id"},
        {"{\"id\": \"x\", \"miscloseMm\": 0}", "miscloseMm 0 is not above 0"},
        {"{\"id\": \"x\", \"miscloseMm\": \"3\"}", "miscloseMm is not a number"},
        {"{\"id\": \"x\", \"lowestReadingM\": 2, \"highestReadingM\": 1}",
         "lowestReadingM is not below highestReadingM"},
        {"{\"id\": \"x\", ", "not JSON at byte"},
    };
    for (const auto& c : cases) {
        std::ofstream(folder / "own.json", std::ios::trunc) << c.text;
        const Result r =
            RunReduce("--class-file " + (folder / "own.json") + " " + Sample("network/north.gsi"));
        EXPECT_EQ(r.status, 64) << c.text;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

// The classes found since are listed with their figures and where they come from.
TEST(ClassFile, TheNewClassesAreListedWithTheirSources) {
    const Result list = RunReduce("--class list");
    ASSERT_EQ(list.status, 0);
    for (const char* expected :
         {"jp-1  Japan public survey, class 1 levelling\n  misclose 2.5 mm x sqrt(K); loop 2 mm x "
          "sqrt(E); round trip 2.5 mm x sqrt(K one way); lowest reading 0.2 m; method forward and "
          "back\n  source: quoted: secondary pages citing the public-survey rules",
          "jp-simple  Japan public survey, simple levelling\n  misclose 40 mm x sqrt(K)",
          "nz-2  New Zealand, pre-2010 height order 2\n  misclose 7 mm x sqrt(K)\n  source: read:",
          "ru-4  Russia, levelling class IV\n  misclose 20 mm x sqrt(K); longest sight 150 m",
          "ru-tech  Russia, technical levelling\n  misclose 50 mm x sqrt(K)",
          "au-1-hist  Australia, historical first order\n  misclose 4 mm x sqrt(K); longest sight "
          "40 m"}) {
        EXPECT_NE(list.out.find(expected), std::string::npos) << expected;
    }
}

}  // namespace

namespace {

// A book whose instrument corrected curvature and refraction itself is never corrected again.
TEST(RendleReduceCorrections, NotCorrectedTwiceWhereTheInstrumentDidIt) {
    const Folder folder("rendle-curvature-applied");
    std::string text = Slurp(Sample("ring-road.m5.DAT"));
    const size_t title = text.find("TO  RINGROAD.DAT");
    ASSERT_NE(title, std::string::npos);
    text.replace(title, 16, "TO  Curva ON    ");
    std::ofstream(folder / "curva.DAT", std::ios::binary) << text;
    const Result plain = RunReduce("--start-rl 100 --end-rl 100 " + (folder / "curva.DAT"));
    EXPECT_EQ(plain.status, 0) << plain.err;
    const Result twice =
        RunReduce("--curvature-refraction 0.13 --start-rl 100 " + (folder / "curva.DAT"));
    EXPECT_EQ(twice.status, 2);
    EXPECT_NE(twice.err.find("curva.DAT:1: the instrument corrected this book for curvature"),
              std::string::npos)
        << twice.err;
    const Result net =
        RunNet("--curvature-refraction 0.13 --fix BM1=100 " + (folder / "curva.DAT"));
    EXPECT_EQ(net.status, 2);
    EXPECT_NE(net.err.find("curva.DAT:1: the instrument corrected this book"), std::string::npos)
        << net.err;
}

}  // namespace
