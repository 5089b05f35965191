// The read command: the menu step, the open-file dialog, the messages, FormRL and the hand-over
// to the reduction, with a scripted windowing layer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "FakeWindowing.h"
#include "FieldBookText.h"
#include "commands/BenchmarkRL.h"
#include "commands/ReadCommand.h"
#include "commands/ReduceCommand.h"
#include "core/LevelSheet.h"
#include "grid/Grid.h"

namespace rendle::commands {
namespace {

using namespace rendle::testing;
using readers::FieldBookFormat;
using readers::ReadStatus;
using F = FieldBookFormat;

class ReadCommandTest : public ::testing::Test {
  protected:
    void SetUp() override { core::SetUpLevelSheet(sheet); }

    ReadCommandResult Read(FieldBookFormat format, const std::string& text) {
        std::istringstream in(text);
        return RunReadCommand(format, in, sheet, run, windowing);
    }

    std::string Text(int32_t r, int32_t c) { return sheet.CellText(r, c); }

    grid::Grid sheet;
    core::RunState run;
    FakeWindowing windowing;
};

TEST_F(ReadCommandTest, FormRLIsFilledFromTheReadAndTheRunReducedAfterIt) {
    windowing.onFormRL = [&] {
        // FormRL comes up on the sheet as read, before the reduction deletes marker row 8.
        EXPECT_EQ(Text(8, 9), "CP");
        EXPECT_EQ(run.LastDataRow, 9);
    };
    windowing.typeEnd = "101.3";
    const ReadCommandResult outcome = Read(F::SDR20, Sdr20Example());
    ASSERT_EQ(outcome.read.status, ReadStatus::Read) << outcome.read.reason;
    ASSERT_EQ(windowing.formRLShown.size(), 1u);
    EXPECT_EQ(windowing.formRLShown[0], (RLBoxes{"100.5", ""}));
    EXPECT_EQ(outcome.formRL, (RLBoxes{"100.5", ""}));
    ASSERT_TRUE(outcome.reduction);
    EXPECT_EQ(outcome.reduction->status, core::ReductionStatus::Reduced);
    EXPECT_EQ(Text(8, 9), "BS") << "the marker row is gone";
    EXPECT_EQ(windowing.events, (std::vector<std::string>{"FormRL"}));
    EXPECT_EQ(windowing.pointers.back(), MousePointer::Default);
}

TEST_F(ReadCommandTest, AReadThatEndsWithAMessageShowsItAndGoesNoFurther) {
    const ReadCommandResult outcome = Read(F::SDR20, Join({Sdr33Header()}));
    EXPECT_EQ(outcome.read.status, ReadStatus::EndedWithMessage);
    ASSERT_EQ(windowing.messages.size(), 1u);
    EXPECT_EQ(windowing.messages[0].text, "NOT SDR20 File. Please Check Your Data File ");
    EXPECT_EQ(windowing.messages[0].title, "Data File");
    EXPECT_EQ(windowing.messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(windowing.pointers.back(), MousePointer::Default);
    EXPECT_TRUE(windowing.formRLShown.empty());
    EXPECT_FALSE(outcome.formRL);
    EXPECT_FALSE(outcome.reduction);
}

TEST_F(ReadCommandTest, TheMenuStepEmptiesTheRLsAndClearsTheSheetBeforeTheDialog) {
    Read(F::SDR20, Sdr20Example());
    sheet.SetCellText(40, 3, "left over");
    windowing = FakeWindowing{};
    windowing.nextFileName = "";
    RunReadCommand(F::SDR33, sheet, run, windowing);
    EXPECT_EQ(sheet.LastUsedRow(), 4) << "only the header block";
    EXPECT_EQ(windowing.filters,
              std::vector<std::string>{"SDR33 files (*.SDR)|*.SDR|All files(*.*)|*.*"});
}

TEST(ReduceCommand, NoRunInTheSheetSaysNoDataAndKeepsTheWindow) {
    grid::Grid sheet;
    core::SetUpLevelSheet(sheet);
    core::RunState run;
    FakeWindowing windowing;
    EXPECT_EQ(RunReduction(sheet, run, windowing).status, core::ReductionStatus::NoData);
    ASSERT_EQ(windowing.messages.size(), 1u);
    EXPECT_EQ(windowing.messages[0].text, "No Data ");
    EXPECT_EQ(windowing.messages[0].title, "Data");
    EXPECT_EQ(windowing.messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(windowing.events, (std::vector<std::string>{"message"})) << "the window stays open";

    // Any other stop is silent.
    windowing = FakeWindowing{};
    run.FirstDataRow = 6;
    run.LastDataRow = 0;
    EXPECT_EQ(RunReduction(sheet, run, windowing).status, core::ReductionStatus::Stopped);
    EXPECT_TRUE(windowing.events.empty());
}

TEST(LevelParameters, OkStoresTheNewRLsAndReducesAgain) {
    grid::Grid sheet;
    core::SetUpLevelSheet(sheet);
    core::RunState run;
    FakeWindowing windowing;
    windowing.typeEnd = "100";
    std::istringstream in(Sdr20Example());
    RunReadCommand(F::SDR20, in, sheet, run, windowing);
    LevelParametersOK(sheet, run, {"200", "201"}, windowing);
    EXPECT_EQ(sheet.CellText(9, 6), "200.8000");
    EXPECT_EQ(sheet.CellText(9, 7), "201.0000");
    EXPECT_EQ(std::get<std::string>(run.EnteredStartRL), "100.5") << "FormChangeRL keeps it";
}

TEST_F(ReadCommandTest, FormRLOkStoresTheTextsAndTheCloseBoxKeepsThePrefill) {
    const std::string text =
        Join({Sdr20Benchmark("100.5"), SetUpRecord(), Sdr20Reading("BM1 ", "1", "1.5", "1", "0"),
              Sdr20Reading("BM2 ", "1", "1.4", "0", "1")});
    windowing.typeEnd = " 100.6 ";
    Read(F::SDR20, text);
    EXPECT_EQ(std::get<std::string>(run.EnteredStartRL), "100.5");
    EXPECT_EQ(std::get<std::string>(run.EndRL), " 100.6 ");
    EXPECT_EQ(sheet.CellText(7, 7), "100.6000");

    windowing = FakeWindowing{};
    windowing.closeFormRLByCloseBox = true;
    const ReadCommandResult outcome = Read(F::SDR20, text);
    EXPECT_EQ(std::get<double>(run.EnteredStartRL), 100.5);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(run.EndRL));
    // An ending RL never given is no RL of 0: the RLs are written, nothing is adjusted.
    EXPECT_EQ(outcome.reduction->status, core::ReductionStatus::Stopped);
    EXPECT_EQ(outcome.reduction->step, core::ReductionStep::ClosingCorrection);
    EXPECT_EQ(sheet.CellNumber(7, 6), 100.5 + (1.5 - 1.4)) << "the RLs are written";
    EXPECT_EQ(sheet.CellText(7, 7), "") << "no adjusted RL";
    EXPECT_EQ(sheet.CellText(10, 6), "") << "no summary block";
}

TEST_F(ReadCommandTest, CancelledDialogLeavesTheHeaderBlockOnly) {
    // A previous run first.
    Read(F::SDR20, Sdr20Example());
    sheet.SetCellText(2, 2, "Ring road");
    const core::RunState previous = run;

    windowing = FakeWindowing{};
    windowing.nextFileName = "";
    const ReadCommandResult outcome = RunReadCommand(F::M5, sheet, run, windowing);
    EXPECT_EQ(outcome.read.status, ReadStatus::EndedSilently);
    EXPECT_TRUE(windowing.messages.empty());
    EXPECT_TRUE(windowing.formRLShown.empty());
    EXPECT_EQ(windowing.presetFileNames, std::vector<std::string>{""});
    EXPECT_EQ(sheet.LastUsedRow(), 4);
    EXPECT_EQ(Text(2, 2), "");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(run.EnteredStartRL));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(run.EndRL));
    EXPECT_EQ(run.StationCount, previous.StationCount);
    EXPECT_EQ(run.LastDataRow, previous.LastDataRow);
    EXPECT_EQ(run.StartRL, previous.StartRL);
}

TEST_F(ReadCommandTest, MissingFileEndsSilentlyAndARealFileIsRead) {
    windowing.nextFileName = "/nonexistent/field.SDR";
    EXPECT_EQ(RunReadCommand(F::SDR20, sheet, run, windowing).read.status,
              ReadStatus::EndedSilently);
    EXPECT_TRUE(windowing.messages.empty());

    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / "rendle-reader-test.SDR";
    std::ofstream(path, std::ios::binary) << Sdr20Example();
    windowing = FakeWindowing{};
    windowing.nextFileName = path.string();
    const ReadCommandResult outcome = RunReadCommand(F::SDR20, sheet, run, windowing);
    std::filesystem::remove(path);
    EXPECT_EQ(outcome.read.status, ReadStatus::Read);
    EXPECT_EQ(run.LastDataRow, 9);
}

TEST_F(ReadCommandTest, ANewReadWorksAfterAFailure) {
    Read(F::SDR33, Join({Sdr20Header()}));
    windowing = FakeWindowing{};
    windowing.typeEnd = "101.3";
    const ReadCommandResult outcome = Read(F::SDR20, Sdr20Example());
    EXPECT_EQ(outcome.read.status, ReadStatus::Read);
    EXPECT_EQ(outcome.reduction->status, core::ReductionStatus::Reduced);
    EXPECT_TRUE(windowing.messages.empty());
}

TEST_F(ReadCommandTest, BundledSamplesReduceToTheirHandComputedMisclose) {
    // Closed runs on BM1 at 100.000: rises add up to +0.002 over 4 set-ups and 210 m.
    struct Sample {
        FieldBookFormat format;
        const char* name;
        const char* filter;
    };
    const Sample samples[] = {
        {F::SDR20, "ring-road.sdr20.SDR", "SDR20 files (*.SDR)|*.SDR|All files(*.*)|*.*"},
        {F::SDR33, "ring-road.sdr33.SDR", "SDR33 files (*.SDR)|*.SDR|All files(*.*)|*.*"},
        {F::M5, "ring-road.m5.DAT", "Zeiss files (*.DAT)|*.DAT|All files(*.*)|*.*"},
    };
    for (const auto& [format, name, filter] : samples) {
        SCOPED_TRACE(name);
        windowing = FakeWindowing{};
        windowing.nextFileName = std::string(RENDLE_EXAMPLES_DIR) + "/" + name;
        const ReadCommandResult outcome = RunReadCommand(format, sheet, run, windowing);
        ASSERT_EQ(outcome.read.status, ReadStatus::Read) << outcome.read.reason;
        EXPECT_EQ(windowing.filters, std::vector<std::string>{filter});
        EXPECT_EQ(windowing.presetFileNames, std::vector<std::string>{""});
        EXPECT_EQ(windowing.formRLShown[0], (commands::RLBoxes{"100", "100"}));
        EXPECT_EQ(Text(2, 6), "4");
        EXPECT_EQ(run.LastDataRow, 16);
        const int32_t last = run.LastDataRow;
        EXPECT_EQ(sheet.CellText(last, 6), "100.0020");
        EXPECT_EQ(sheet.CellText(last, 7), "100.0000");
        EXPECT_EQ(sheet.CellText(last + 3, 6), "0.0020");
        EXPECT_EQ(sheet.CellText(last + 4, 6), "0.0009");
        EXPECT_EQ(sheet.CellText(last + 5, 6), "210.00");
    }
}

}  // namespace
}  // namespace rendle::commands

namespace rendle::commands {
namespace {

// A book with a line past 64 KB (a note record the recorder never ended) cannot be read whole:
// by name it is refused before the sheet is touched, from the File menu once the dialog gave
// it; either way the Data File message says which line and why, and nothing of it is laid out.
TEST(ReadCommand, ABookWithALinePast64KbIsRefusedWhole) {
    const std::string book =
        testing::Join({testing::Sdr20Header(), "13NMnote", testing::Sdr20Benchmark("100.5"),
                       "13NM" + std::string(70 * 1024, 'x'), testing::SetUpRecord()});
    const std::string says =
        "Please Check Your Data File \nLine 4 runs past 64 KB without a line end: this is no "
        "field book";
    const auto path = std::filesystem::temp_directory_path() /
                      ("rendle-long-line-" + std::to_string(::getpid()) + ".SDR");
    std::ofstream(path, std::ios::binary) << book;

    grid::Grid sheet;
    core::SetUpLevelSheet(sheet);
    sheet.SetCellText(2, 2, "typed before");
    core::RunState run;
    FakeWindowing byName;
    const ReadCommandResult named = OpenFieldBook(path.string(), sheet, run, byName);
    EXPECT_FALSE(named.cleared);
    ASSERT_EQ(byName.messages.size(), 1u);
    EXPECT_EQ(byName.messages[0].text, says);
    EXPECT_EQ(byName.messages[0].title, "Data File");
    EXPECT_EQ(sheet.CellText(2, 2), "typed before");

    FakeWindowing byMenu;
    std::istringstream in(book);
    const ReadCommandResult menu = RunReadCommand(F::SDR20, in, sheet, run, byMenu);
    ASSERT_EQ(byMenu.messages.size(), 1u);
    EXPECT_EQ(byMenu.messages[0].text, says);
    EXPECT_EQ(run.FirstDataRow, 0) << "nothing of it laid out";
    EXPECT_FALSE(menu.reduction);
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace rendle::commands
