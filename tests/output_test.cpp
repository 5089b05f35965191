#include "commands/Output.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "FakeWindowing.h"
#include "LevelRun.h"
#include "core/LevelSheet.h"
#include "grid/AtomicFile.h"
#include "grid/Grid.h"
#include "grid/Workbook.h"
#include "grid/XmlText.h"

namespace rendle::commands {
namespace {

namespace fs = std::filesystem;
using testing::FakeWindowing;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class SaveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        core::SetUpLevelSheet(sheet);
        folder = fs::temp_directory_path() /
                 ("rendle-save-test-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    SaveResult Save(const fs::path& path) {
        windowing.nextSaveName = path.string();
        return SaveLevelSheet(sheet, windowing, grid::WriteWorkbookFile);
    }

    std::vector<std::string> FolderEntries() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    grid::Grid sheet;
    FakeWindowing windowing;
    fs::path folder;
};

TEST_F(SaveTest, CancelledDialogWritesNothingAndSaysNothing) {
    const SaveResult result = Save("");
    EXPECT_EQ(result.status, SaveStatus::Cancelled);
    EXPECT_EQ(windowing.saveTitles, std::vector<std::string>{"SAVE LEVEL"});
    EXPECT_TRUE(windowing.messages.empty());
    EXPECT_TRUE(FolderEntries().empty());
}

TEST_F(SaveTest, BareNameGetsTheWorkbookExtension) {
    const SaveResult result = Save(folder / "ring-road");
    EXPECT_EQ(result.status, SaveStatus::Saved) << result.reason;
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"ring-road.xlsx"});
    EXPECT_EQ(Slurp(folder / "ring-road.xlsx").substr(0, 2), "PK");

    Save(folder / "run.XLSX");
    EXPECT_TRUE(fs::exists(folder / "run.XLSX"));
}

TEST_F(SaveTest, FailuresSayTheSheetWasNotSavedAndWhy) {
    const fs::path readOnly = folder / "handed-in.xlsx";
    std::ofstream(readOnly) << "the sheet handed in";
    chmod(readOnly.c_str(), 0444);
    const fs::path dangling = folder / "link.xlsx";
    fs::create_symlink(folder / "gone" / "target.xlsx", dangling);
    struct Case {
        const char* name;
        fs::path path;
        std::string reason;
    };
    const Case cases[] = {
        {"a folder that takes no files", "/proc/self/level.xlsx",
         "the folder /proc/self does not take new files"},
        {"a folder that does not exist", "/nonexistent-folder/level.xlsx",
         "the folder /nonexistent-folder does not exist"},
        {"a full disk", "/dev/full", "cannot write /dev/full: the disk is full"},
        {"a folder as the name", fs::temp_directory_path(), "is a folder"},
        {"a read-only file", readOnly, readOnly.string() + " is read-only"},
        {"a dangling link names the file it points to", dangling,
         "the folder " + (folder / "gone").string() + " does not exist"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        windowing = FakeWindowing{};
        const SaveResult result = Save(c.path);
        EXPECT_EQ(result.status, SaveStatus::Failed);
        ASSERT_EQ(windowing.messages.size(), 1u);
        EXPECT_EQ(windowing.messages[0].title, "SAVE LEVEL");
        EXPECT_EQ(windowing.messages[0].icon, MessageIcon::Critical);
        EXPECT_EQ(windowing.messages[0].text.rfind("The level sheet was not saved to ", 0), 0u)
            << windowing.messages[0].text;
        // The reason is a sentence of its own: "… .xlsx.\n\nCannot write …: the disk is full."
        const std::string& text = windowing.messages[0].text;
        std::string sentence = result.reason;
        sentence[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(sentence[0])));
        EXPECT_EQ(text.substr(text.find("\n\n") + 2), sentence + ".");
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
    }
    EXPECT_FALSE(fs::is_regular_file("/dev/full")) << "a device is never replaced";
    EXPECT_EQ(Slurp(readOnly), "the sheet handed in");
}

TEST_F(SaveTest, NeitherTheTemporaryFolderNorALinkStandsInTheWay) {
    // The workbook is staged beside its target, so a missing temporary folder does not matter.
    const char* previous = std::getenv("TMPDIR");
    const std::string kept = previous ? previous : "";
    setenv("TMPDIR", "/nonexistent", 1);
    const SaveResult result = Save(folder / "level.xlsx");
    previous ? setenv("TMPDIR", kept.c_str(), 1) : unsetenv("TMPDIR");
    EXPECT_EQ(result.status, SaveStatus::Saved) << result.reason;

    // A link to a file yet to be made is saved through: the link stays, the file appears.
    fs::create_symlink(folder / "real.xlsx", folder / "link.xlsx");
    EXPECT_EQ(Save(folder / "link.xlsx").status, SaveStatus::Saved);
    EXPECT_TRUE(fs::is_symlink(folder / "link.xlsx"));
    EXPECT_TRUE(fs::is_regular_file(folder / "real.xlsx"));
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"level.xlsx", "link.xlsx", "real.xlsx"}));
}

TEST_F(SaveTest, AFailedWriteLeavesTheOldFileAsItWas) {
    const fs::path path = folder / "level.xlsx";
    std::ofstream(path) << "the sheet saved yesterday";
    // A file-size limit makes every write past 2 kB fail, as a full disk would.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 2048;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const SaveResult result = Save(path);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(result.status, SaveStatus::Failed);
    EXPECT_EQ(windowing.messages.size(), 1u);
    EXPECT_EQ(Slurp(path), "the sheet saved yesterday");
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"level.xlsx"}) << "no temporary left";
}

TEST_F(SaveTest, SavingAgainReplacesTheFileAndKeepsItsPermissions) {
    const fs::path path = folder / "level.xlsx";
    const auto mode = [&path] {
        struct stat info {};
        stat(path.c_str(), &info);
        return info.st_mode & 0777;
    };
    // A new file gets what any program's new file gets under the umask.
    const mode_t mask = umask(027);
    const SaveStatus saved = Save(path).status;
    umask(mask);
    ASSERT_EQ(saved, SaveStatus::Saved);
    EXPECT_EQ(mode(), 0640u);
    chmod(path.c_str(), 0604);
    const std::string first = Slurp(path);
    sheet.SetCellText(2, 2, "Ring road, north loop");
    ASSERT_EQ(Save(path).status, SaveStatus::Saved);
    EXPECT_NE(Slurp(path), first);
    EXPECT_EQ(mode(), 0604u);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"level.xlsx"});
}

TEST_F(SaveTest, SavingOverAFileKeepsItsOwnerAndClearsWhatAKilledSaveLeft) {
    const fs::path path = folder / "level.xlsx";
    // Files a killed save left: one from hours ago goes, one of a save running now stays.
    const fs::path stale = folder / ".level.xlsx.rendle-a1B2c3";
    const fs::path running = folder / ".level.xlsx.rendle-d4E5f6";
    std::ofstream(stale) << "half a workbook";
    std::ofstream(running) << "a workbook being written";
    fs::last_write_time(stale, fs::file_time_type::clock::now() - std::chrono::hours(2));
    ASSERT_EQ(Save(path).status, SaveStatus::Saved);
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(running));

    if (geteuid() != 0) GTEST_SKIP() << "only root can give a file to another owner";
    ASSERT_EQ(chown(path.c_str(), 4321, 8765), 0);
    ASSERT_EQ(Save(path).status, SaveStatus::Saved);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 4321u);
    EXPECT_EQ(info.st_gid, 8765u);
}

TEST_F(SaveTest, OnlyTheGridsOwnFileTypeIsWritten) {
    try {
        grid::WriteWorkbook(sheet, (folder / "x.xls").string(), 12);
        FAIL() << "file type 12 was written";
    } catch (const grid::GridError& error) {
        EXPECT_EQ(error.code(), grid::kErrBadArgument);
    }
    EXPECT_TRUE(FolderEntries().empty());
}

TEST(PrintLevelReport, SetsTheReportsPrintSettingsThenPrints) {
    grid::Grid sheet;
    core::SetUpLevelSheet(sheet);
    FakeWindowing windowing;
    PrintLevelReport(sheet, windowing);
    EXPECT_EQ(windowing.printed, 1);
    const grid::PageSetup setup = sheet.GetPageSetup();
    EXPECT_EQ(setup.printTitleRows, "A1:IV4");
    EXPECT_EQ(setup.leftMargin, 1.0);
    EXPECT_EQ(setup.rightMargin, 1.0);
    EXPECT_EQ(setup.topMargin, 1.0);
    EXPECT_EQ(setup.bottomMargin, 1.0);
    EXPECT_FALSE(sheet.PrintGridLines());
    EXPECT_EQ(sheet.PageFooter(), "&C Page &P of &N Page(s)");
    EXPECT_EQ(sheet.PageHeader(), "");
    EXPECT_EQ(sheet.LastUsedRow(), 4) << "no cell changes";
    EXPECT_EQ(sheet.ActiveRow(), 5);
}

TEST_F(SaveTest, OnlyAWholeArchiveIsCommitted) {
    // A workbook as the library writes it, then cut or mended in the ways a failed write leaves.
    ASSERT_EQ(Save(folder / "whole.xlsx").status, SaveStatus::Saved);
    const std::string whole = Slurp(folder / "whole.xlsx");
    ASSERT_GT(whole.size(), 22u);
    std::string endMoved = whole;
    endMoved[endMoved.size() - 22 + 16] ^= 1;  // the central directory's offset
    const struct {
        const char* name;
        std::string bytes;
        bool accepted;
    } cases[] = {
        {"whole", whole, true},
        {"last byte cut", whole.substr(0, whole.size() - 1), false},
        {"end record cut", whole.substr(0, whole.size() - 22), false},
        {"end record not where it points", endMoved, false},
        {"empty", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        grid::StagedFile staged((folder / "level.xlsx").string());
        staged.Write(c.bytes);
        if (c.accepted) {
            EXPECT_NO_THROW(grid::CheckWholeArchive(staged));
        } else {
            EXPECT_THROW(grid::CheckWholeArchive(staged), grid::GridError);
        }
    }
}

TEST(Workbook, TextsBecomeValidXml) {
    EXPECT_EQ(grid::XmlSafeText("BM1 "), "BM1 ");
    EXPECT_EQ(grid::XmlSafeText("Höhe"), "Höhe") << "valid UTF-8 stays";
    EXPECT_EQ(grid::XmlSafeText("H\xF6he"), "H\xC3\xB6he") << "a Latin-1 byte becomes UTF-8";
    EXPECT_EQ(grid::XmlSafeText(std::string("a\0b\x1F", 4)), "a_x0000_b_x001F_");
    EXPECT_EQ(grid::XmlSafeText("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80") << "no surrogates";
    EXPECT_EQ(grid::XmlSafeText("tab\tok"), "tab\tok");
}

}  // namespace
}  // namespace rendle::commands
