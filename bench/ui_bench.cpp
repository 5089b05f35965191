// The cost of the sheet on screen: a 1000-row run read and reduced into the program's level
// sheet with its view following (model updates and one repaint included), against the same
// command on a sheet that no view shows.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <sstream>

#include "FakeWindowing.h"
#include "FieldBookMaker.h"
#include "commands/Output.h"
#include "commands/ReadCommand.h"
#include "core/LevelSheet.h"
#include "grid/Workbook.h"
#include "report/SheetPrinter.h"
#include "ui/MainWindow.h"
#include "ui/SheetModel.h"
#include "ui/SheetView.h"

namespace {

using rendle::readers::FieldBookFormat;

const std::string& FullRun() {
    static const std::string text = rendle::bench::MakeFieldBook(FieldBookFormat::SDR20, 0);
    return text;
}

void Read(rendle::grid::Grid& sheet, rendle::core::RunState& run) {
    std::istringstream in(FullRun());
    rendle::testing::FakeWindowing windowing;
    windowing.typeStart = "100";
    windowing.typeEnd = "100.01";
    rendle::commands::RunReadCommand(FieldBookFormat::SDR20, in, sheet, run, windowing);
}

void BM_ReadAndReduceOnScreen(benchmark::State& state) {
    rendle::ui::MainWindow window;
    window.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        Read(window.sheet(), window.run());
        window.sheetModel().flushChanges();
        window.sheetView().viewport()->repaint();
    }
}
BENCHMARK(BM_ReadAndReduceOnScreen)->Unit(benchmark::kMillisecond);

void BM_ReadAndReduceWithoutView(benchmark::State& state) {
    rendle::grid::Grid sheet;
    rendle::core::SetUpLevelSheet(sheet);
    rendle::core::RunState run;
    for (auto _ : state) Read(sheet, run);
}
BENCHMARK(BM_ReadAndReduceWithoutView)->Unit(benchmark::kMillisecond);

/// A reduced run that fills the level sheet to row 1000 or so.
void ReducedFullRun(rendle::grid::Grid& sheet, rendle::core::RunState& run) {
    rendle::core::SetUpLevelSheet(sheet);
    Read(sheet, run);
}

void BM_WriteWorkbook(benchmark::State& state) {
    rendle::grid::Grid sheet;
    rendle::core::RunState run;
    ReducedFullRun(sheet, run);
    const std::string path = QDir::temp().filePath("rendle-bench.xlsx").toStdString();
    for (auto _ : state) rendle::grid::WriteWorkbook(sheet, path, rendle::grid::kWorkbookFileType);
    std::remove(path.c_str());
}
BENCHMARK(BM_WriteWorkbook)->Unit(benchmark::kMillisecond);

void BM_PrintPdf(benchmark::State& state) {
    rendle::grid::Grid sheet;
    rendle::core::RunState run;
    ReducedFullRun(sheet, run);
    rendle::commands::SetUpLevelReport(sheet);
    const QString path = QDir::temp().filePath("rendle-bench.pdf");
    int pages = 0;
    for (auto _ : state) {
        QString error;
        pages = rendle::report::PrintToPdf(sheet, path.toStdString(), &error);
        if (pages == 0) state.SkipWithError(qPrintable(error));
    }
    state.counters["pages"] = pages;
    QFile::remove(path);
}
BENCHMARK(BM_PrintPdf)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
