// Network jobs kept as files (read, written, read back; refused naming the line), and the
// outline of an input the network window lists before adjusting.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "network/JobFile.h"
#include "network/NetworkJob.h"
#include "network/NormalOrthometric.h"

namespace {

namespace fs = std::filesystem;
using namespace rendle::network;

class TempFolder {
  public:
    TempFolder() {
        char name[] = "/tmp/rendle-job-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~TempFolder() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    const fs::path& path() const { return path_; }
    std::string Put(const std::string& name, const std::string& text) const {
        const fs::path file = path_ / name;
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    }

  private:
    fs::path path_;
};

// What a surveyor's job file says, written by hand: CR LF line ends, a comment, blanks around
// values, a path with a blank in it, lists given as A,B.
TEST(JobFile, ReadsAHandWrittenJob) {
    const std::string text =
        "# Rendle network job\r\n"
        "# Monday, the ring road\r\n"
        "input books/north.gsi\r\n"
        "input   day 2/south.gsi  \r\n"
        "input /archive/old.SDR\r\n"
        "\r\n"
        "fix BM1=100.000\r\n"
        "fix BM7=100.8023:2.5\r\n"
        "point J1,J2\r\n"
        "weights setups\r\n"
        "sigma-setup 0.3\r\n"
        "alpha 0.01\r\n"
        "confidence 0.99\r\n"
        "snoop always\r\n"
        "class fgcs-2-1\r\n"
        "order input\r\n"
        "encoding CP1252\r\n";
    const NetworkJob job = ReadJobFile(text, "/jobs/monday.rnj");
    EXPECT_EQ(job.inputs, (std::vector<std::string>{"/jobs/books/north.gsi",
                                                    "/jobs/day 2/south.gsi", "/archive/old.SDR"}));
    EXPECT_EQ(job.fixes, (std::vector<std::string>{"BM1=100.000", "BM7=100.8023:2.5"}));
    EXPECT_EQ(job.points, (std::vector<std::string>{"J1", "J2"}));
    EXPECT_EQ(job.weights, "setups");
    EXPECT_DOUBLE_EQ(job.options.sigmaSetUpMm, 0.3);
    EXPECT_DOUBLE_EQ(job.options.alpha, 0.01);
    EXPECT_DOUBLE_EQ(job.options.confidence, 0.99);
    EXPECT_TRUE(job.confidenceGiven);
    EXPECT_EQ(job.snoop, "always");
    EXPECT_EQ(job.classId, "fgcs-2-1");
    EXPECT_EQ(job.order, "input");
    EXPECT_EQ(job.encoding, "CP1252");
    // What the file does not give keeps rendle-net's defaults.
    EXPECT_DOUBLE_EQ(job.options.sigmaKmMm, 1.0);
    EXPECT_DOUBLE_EQ(job.options.alpha0, 0.001);
    EXPECT_EQ(job.colourBy, "w");
}

// Written beside its books, the job names them relative to itself; books elsewhere by their
// whole path. Read back from another folder's view, every path reaches the same file.
TEST(JobFile, KeepsPathsRelativeWhereTheyCanBeAndReadsThemBack) {
    const TempFolder folder;
    NetworkJob job;
    job.inputs = {folder.Put("books/north.gsi", ""), folder.Put("south.gsi", ""),
                  "/elsewhere/east.gsi"};
    job.benchmarksFile = folder.Put("bm.csv", "");
    job.coordinatesFile = folder.Put("xy.csv", "");
    job.fixes = {"BM1=100.000", "BM2=101.25:3"};
    job.datum = {};
    job.weights = "length";
    job.options.sigmaKmMm = 0.7;
    job.snoop = "while";
    job.colourBy = "redundancy";
    job.normalOrthometric = true;
    job.positionsFile = folder.Put("latlon.csv", "");
    job.normalOrthometricForm = rendle::network::NormalOrthometricForm::Geodesic;
    const std::string path = (folder.path() / "job.rnj").string();
    const std::string text = JobFileText(job, path);
    EXPECT_NE(text.find("\ninput books/north.gsi\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\ninput south.gsi\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\ninput /elsewhere/east.gsi\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nbenchmarks bm.csv\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("confidence"), std::string::npos) << "not given, not written";
    EXPECT_NE(text.find("\nnormal-orthometric latlon.csv\nnormal-orthometric-form geodesic\n"),
              std::string::npos)
        << text;

    const NetworkJob back = ReadJobFile(text, path);
    ASSERT_EQ(back.inputs.size(), 3U);
    for (size_t i = 0; i < 2; ++i) EXPECT_TRUE(fs::equivalent(back.inputs[i], job.inputs[i]));
    EXPECT_EQ(back.inputs[2], "/elsewhere/east.gsi");
    EXPECT_TRUE(fs::equivalent(back.benchmarksFile, job.benchmarksFile));
    EXPECT_TRUE(fs::equivalent(back.coordinatesFile, job.coordinatesFile));
    EXPECT_EQ(back.fixes, job.fixes);
    EXPECT_EQ(back.weights, "length");
    EXPECT_DOUBLE_EQ(back.options.sigmaKmMm, 0.7);
    EXPECT_EQ(back.snoop, "while");
    EXPECT_EQ(back.colourBy, "redundancy");
    EXPECT_FALSE(back.confidenceGiven);
    EXPECT_TRUE(back.normalOrthometric);
    EXPECT_TRUE(fs::equivalent(back.positionsFile, job.positionsFile));
    EXPECT_EQ(back.normalOrthometricForm, rendle::network::NormalOrthometricForm::Geodesic);
    // Written again from where it was read, the text is the same.
    EXPECT_EQ(JobFileText(back, path), text);
}

// Every refusal names the file and the line, and why; each range at, just past and just short
// of its limit.
TEST(JobFile, RefusesWhatItCannotTakeNamingTheLine) {
    const struct {
        std::string body;  // after the heading line
        std::string said;  // empty: taken
    } cases[] = {
        {"alpha 0.5\n", ""},
        {"alpha 0.5000001\n", "job.rnj:2: alpha 0.5000001: not in 1e-09 to 0.5"},
        {"sigma-km 0.001\n", ""},
        {"sigma-km 0.0009\n", "job.rnj:2: sigma-km 0.0009: not in 0.001 to 1000"},
        {"sigma-km 1000\n", ""},
        {"sigma-km 1000.01\n", "job.rnj:2: sigma-km 1000.01: not in 0.001 to 1000"},
        {"confidence 0.9999\n", ""},
        {"confidence 0.99991\n", "job.rnj:2: confidence 0.99991: not in 0.5 to 0.9999"},
        {"confidence 0.4999\n", "job.rnj:2: confidence 0.4999: not in 0.5 to 0.9999"},
        {"alpha0 1,5\n", "job.rnj:2: alpha0 1,5: not a number"},
        {"\n\nweights foo\n", "job.rnj:4: weights foo: not one of length, setups, sigma"},
        {"snoop sometimes\n", "job.rnj:2: snoop sometimes: not one of off, while, always"},
        {"class nope\n", "job.rnj:2: class nope: no class Rendle knows (rendle-net --class list)"},
        {"save out.xlsx\n", "job.rnj:2: \"save\" is no word of a network job"},
        {"input\n", "job.rnj:2: input without a value"},
        {"class fgcs-2-1\nclass fgcs-1-1\n", "job.rnj:3: class is given twice"},
        {"normal-orthometric-form geodesic\n", ""},
        {"normal-orthometric-form exact\n",
         "job.rnj:2: normal-orthometric-form exact: not one of latitude, geodesic"},
    };
    for (const auto& c : cases) {
        const std::string text = "# Rendle network job\n" + c.body;
        if (c.said.empty()) {
            EXPECT_NO_THROW(ReadJobFile(text, "job.rnj")) << c.body;
            continue;
        }
        try {
            ReadJobFile(text, "job.rnj");
            ADD_FAILURE() << "taken: " << c.body;
        } catch (const NetworkError& error) {
            EXPECT_EQ(error.what(), c.said);
        }
    }
}

TEST(JobFile, RefusesAFileThatIsNoJob) {
    for (const std::string& text :
         {std::string(), std::string("input north.gsi\n"), std::string("\xef\xbb\xbf# Rendle"),
          std::string("# Rendle network jo")}) {
        try {
            ReadJobFile(text, "north.gsi");
            ADD_FAILURE() << "taken: " << text;
        } catch (const NetworkError& error) {
            EXPECT_EQ(
                std::string(error.what()).rfind("north.gsi:1: this is no Rendle network job", 0),
                0U)
                << error.what();
        }
    }
}

TEST(JobFile, WillNotWriteANameALineCannotHold) {
    NetworkJob job;
    job.inputs = {"/tmp/two\nlines.gsi"};
    EXPECT_THROW(JobFileText(job, "/tmp/job.rnj"), NetworkError);
}

// The outline of an input before adjusting: its lines cut at the benchmarks given, a book that
// is no field book told apart from one that is cut short.
TEST(InputOutline, ListsLinesAndSectionsOrSaysWhy) {
    const std::string north = std::string(RENDLE_EXAMPLES_DIR) + "/network/north.gsi";
    const InputOutline whole = OutlineInput(north, "", {});
    ASSERT_TRUE(whole.error.empty()) << whole.error;
    ASSERT_EQ(whole.sections.size(), 1U);
    EXPECT_EQ(whole.sections[0].from, "BM1");
    EXPECT_EQ(whole.sections[0].to, "BM7");
    EXPECT_NEAR(whole.sections[0].dh, 0.8026, 1e-9);

    const TempFolder folder;
    const std::string notes = folder.Put("notes.txt", "Levelling on Monday; staff 2 sank.\n");
    const InputOutline none = OutlineInput(notes, "", {});
    EXPECT_FALSE(none.recognised);
    EXPECT_FALSE(none.error.empty());

    // The book cut off in the middle of a word: read, but the reason named.
    std::ifstream in(north, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string cut = folder.Put("cut.gsi", text.substr(0, text.size() * 2 / 3));
    const InputOutline shortened = OutlineInput(cut, "", {});
    EXPECT_TRUE(shortened.recognised);
    EXPECT_NE(shortened.error.find("cut.gsi"), std::string::npos) << shortened.error;
}

}  // namespace

namespace {

// The normal-orthometric correction held against GeoscienceAustralia's GeodePy, whose unit test
// takes two stations in New South Wales (after Heck 2003 and New Zealand's vertical datum
// standard): 0.000182 m to the micrometre.
TEST(NormalOrthometric, AgreesWithAnOpenGeodesyLibrarysTest) {
    const rendle::network::Geographic one{-30.89632356, 141.08948867};
    const rendle::network::Geographic two{-30.86585867, 141.07870767};
    EXPECT_NEAR(rendle::network::NormalOrthometricCorrection(one, 75.279, two, 71.449), 0.000182,
                0.5e-6);
}

// Its sign both ways: going north in the north at a height the correction is negative, going
// south positive; in the south the other way round; on the equator, at sea level or due east,
// none.
TEST(NormalOrthometric, SignFollowsTheDirectionAndTheHemisphere) {
    using rendle::network::Geographic;
    const auto noc = [](double lat1, double lat2, double height) {
        return rendle::network::NormalOrthometricCorrection(Geographic{lat1, 10}, height,
                                                            Geographic{lat2, 10.5}, height);
    };
    EXPECT_LT(noc(45, 45.1, 1000), 0);
    EXPECT_GT(noc(45.1, 45, 1000), 0);
    EXPECT_GT(noc(-45, -44.9, 1000), 0);
    EXPECT_LT(noc(-44.9, -45, 1000), 0);
    // At 45°, 1000 m, 0.1° north: f* × 1000 × 1 × 0.1 π/180 = 9.25 mm.
    EXPECT_NEAR(noc(44.95, 45.05, 1000), -0.0092545, 2e-7);
    EXPECT_NEAR(noc(-0.05, 0.05, 1000), 0, 1e-12);
    EXPECT_EQ(noc(45, 45.1, 0), 0);
    EXPECT_EQ(noc(45, 45, 1000), 0);
}

// The geodesic form takes Δφ as s · cos α₁ / R, s and α₁ the GRS80 geodesic's length and start
// azimuth. The expected values come from Vincenty's inverse (an iterative series, not the
// algorithm the program uses for the geodesic) worked in Python: GeodePy's stations 3531.389 m
// apart at 343.02°; a degree of meridian at 45° N, 111141.548 m.
TEST(NormalOrthometric, GeodesicFormAgreesWithVincentysInverse) {
    using rendle::network::Geographic;
    using rendle::network::NormalOrthometricForm;
    const struct {
        Geographic from;
        double heightFrom;
        Geographic to;
        double heightTo;
        double expected;
    } cases[] = {
        {{-30.89632356, 141.08948867}, 75.279, {-30.86585867, 141.07870767}, 71.449, 0.00018168513},
        // Back the same way: the azimuth at the other end, so not quite the negative.
        {{-30.86585867, 141.07870767},
         71.449,
         {-30.89632356, 141.08948867},
         75.279,
         -0.00018169048},
        {{45, 10}, 1000, {46, 10}, 1000, -0.0924863973},
        {{-30, 140}, 1000, {-31, 140}, 1000, -0.0806984751},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(rendle::network::NormalOrthometricCorrection(
                        c.from, c.heightFrom, c.to, c.heightTo, NormalOrthometricForm::Geodesic),
                    c.expected, 2e-10)
            << c.from.latitude << " to " << c.to.latitude;
    }
    // GeodePy's own test figure holds in this form too; the latitude form differs from it by
    // the ratio of the meridian's radius of curvature to the mean radius (0.3 % at 31° S).
    const double latitudeForm = rendle::network::NormalOrthometricCorrection(
        cases[0].from, 75.279, cases[0].to, 71.449, NormalOrthometricForm::Latitude);
    EXPECT_NEAR(latitudeForm, 0.00018222, 1e-8);
    EXPECT_NEAR(cases[0].expected, 0.000182, 0.5e-6);
    // Due east between two points of one parallel the geodesic sets off a hair poleward
    // (89.9965°): 0.04 µm, where the latitude form gives none.
    EXPECT_NEAR(rendle::network::NormalOrthometricCorrection({45, 10}, 1000, {45, 10.01}, 1000,
                                                             NormalOrthometricForm::Geodesic),
                -4.04934e-8, 1e-13);
    EXPECT_EQ(rendle::network::NormalOrthometricCorrection({45, 10}, 1000, {45, 10.01}, 1000), 0);
}

TEST(NormalOrthometric, PositionsFileRefusedNamingTheLine) {
    std::istringstream good("name,latitude,longitude\nA, -30.5 ,141.1\nB,-30.6,141.2\n");
    EXPECT_EQ(rendle::network::ReadGeographicPositions(good, "pos.csv").size(), 2U);
    for (const auto& [text, said] : std::vector<std::pair<std::string, std::string>>{
             {"A,91,10\n", "pos.csv:1: a latitude past 90 or a longitude past 360 degrees"},
             {"A,30,10\nA,31,10\n", "pos.csv:2: A is given a second time"},
             {"A,30\n", "pos.csv:1: not name,latitude,longitude"},
             {"A,30,10\nB,3O,10\n", "pos.csv:2: latitude \"3O\" is no number"}}) {
        std::istringstream in(text);
        try {
            rendle::network::ReadGeographicPositions(in, "pos.csv");
            ADD_FAILURE() << "taken: " << text;
        } catch (const rendle::network::NetworkError& error) {
            EXPECT_EQ(error.what(), said);
        }
    }
}

}  // namespace
