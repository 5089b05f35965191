// rendle-reduce run as a whole process: exit status, level report and JSON document.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {

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

Result RunReduce(const std::string& arguments) {
    static int run = 0;
    const auto dir = std::filesystem::temp_directory_path();
    const std::string stem =
        "rendle-cli-test-" + std::to_string(getpid()) + "-" + std::to_string(++run);
    const auto out = dir / (stem + ".out");
    const auto err = dir / (stem + ".err");
    const std::string command = std::string(RENDLE_REDUCE) + " " + arguments + " >" + out.string() +
                                " 2>" + err.string() + " </dev/null";
    const int raw = std::system(command.c_str());
    Result result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = Slurp(out);
    result.err = Slurp(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return result;
}

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
        EXPECT_EQ(doc["run"]["FirstDataRow"], 6);
        EXPECT_EQ(doc["run"]["LastDataRow"], 16);
        EXPECT_EQ(doc["run"]["StationCount"], 4);
        EXPECT_EQ(doc["run"]["EnteredStartRL"], "100") << "FormRL's OK stores text";
        EXPECT_EQ(doc["run"]["EndRL"], "100");
        EXPECT_TRUE(doc["run"]["StartRL"].is_number());
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
    EXPECT_EQ(doc["run"]["EndRL"], "");
    EXPECT_EQ(doc["run"]["EnteredStartRL"], "50");
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

}  // namespace
