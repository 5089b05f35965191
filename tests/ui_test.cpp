// The desktop program driven as a user would: menus, the level sheet on screen, the benchmark
// windows, start and stop.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <tuple>

#include "FieldBookText.h"
#include "UiSteps.h"
#include "commands/Output.h"
#include "core/LevelSheet.h"
#include "core/Reduction.h"
#include "report/SheetPrinter.h"
#include "ui/DialogPaths.h"
#include "ui/Help.h"
#include "ui/MainWindow.h"
#include "ui/RLWindow.h"
#include "ui/SheetModel.h"
#include "ui/SheetView.h"
#include "ui/Twips.h"

using namespace rendle;
using rendle::testing::Action;
using rendle::testing::ReadSdr20Sample;
using rendle::testing::Sample;
using rendle::testing::WhenWindowShows;
using rendle::ui::MainWindow;
using rendle::ui::RLWindow;

namespace {

/// Presses OK of the message box that is about to show and records its text.
void AnswerMessageBox(QString* text) {
    WhenWindowShows("MessageBox", [text](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        QVERIFY(box);
        *text = box->text();
        QCOMPARE(box->icon(), QMessageBox::Critical);
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        box->button(QMessageBox::Ok)->click();
    });
}

QString Cell(MainWindow& window, int row, int col) {
    window.sheetModel().flushChanges();
    return window.sheetModel().index(row - 1, col - 1).data().toString();
}

bool Bold(MainWindow& window, int row, int col) {
    return window.sheetModel().index(row - 1, col - 1).data(Qt::FontRole).value<QFont>().bold();
}

/// Windows of the program still open: the program ends when none is left.
int OpenWindows() {
    int open = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->isWindow()) ++open;
    }
    return open;
}

/// File > Print of the window's sheet to a PDF of its own, read back as text by pdftotext with
/// its layout kept; empty when it could not be read.
QString PrintedText(MainWindow& window) {
    QTemporaryDir folder;
    const QString pdf = folder.filePath("report.pdf");
    window.windowing().setNextPrintFile(pdf);
    Action(window, "mnuPrint")->trigger();
    QProcess pdftotext;
    pdftotext.start("pdftotext", {"-layout", pdf, "-"});
    if (!pdftotext.waitForFinished(30000)) return {};
    return QString::fromUtf8(pdftotext.readAllStandardOutput());
}

/// Everything of the sheet a user sees or saves, cell by cell, and the run state beside it.
std::string SheetDump(MainWindow& window) {
    const grid::Grid& sheet = window.sheet();
    std::ostringstream dump;
    for (int32_t r = 1; r <= std::max<int32_t>(sheet.LastUsedRow(), 30); ++r) {
        for (int32_t c = 1; c <= 10; ++c) {
            const grid::Cell& cell = sheet.CellAt(r, c);
            dump << static_cast<int>(cell.kind) << ':' << cell.number << ':' << cell.text << ':'
                 << sheet.FormatAt(r, c).bold << ':' << sheet.FormatAt(r, c).numberFormat << '|';
        }
        dump << '\n';
    }
    for (int32_t c = 1; c <= 10; ++c) dump << sheet.ColumnWidth(c) << ' ';
    const core::RunState& run = window.run();
    dump << run.FirstDataRow << ' ' << run.LastDataRow << ' ' << run.StationCount << ' '
         << core::RLText(run.StartRL) << ' ' << core::RLText(run.EndRL) << ' '
         << core::RLText(run.EnteredStartRL);
    return dump.str();
}

/// Records what the program asks of the help viewer.
class RecordingHelp : public ui::help::HelpLayer {
  public:
    RecordingHelp() { ui::help::SetLayer(this); }
    ~RecordingHelp() override { ui::help::SetLayer(nullptr); }
    RecordingHelp(const RecordingHelp&) = delete;
    RecordingHelp& operator=(const RecordingHelp&) = delete;
    void WinHelp(QWidget*, const QString&, unsigned command, const QVariant& data) override {
        if (command == ui::help::HELP_CONTEXT) contexts.push_back(data.toInt());
    }
    std::vector<int> contexts;
};

}  // namespace

class UiTest : public QObject {
    Q_OBJECT

  private slots:
    void menuTreeIsExact();
    void sheetOnScreenAtStart();
    void modelPassesTheModelTester();
    void readCommandsEndToEnd_data();
    void readCommandsEndToEnd();
    void wrongFormatShowsItsMessage();
    void formRLLayout_data();
    void formRLLayout();
    void levelParametersAmendsAndReducesAgain();
    void levelParametersOnATypedSheetSaysNoDataAndKeepsIt();
    void exitEndsWithoutUnloadWhileClosingRunsIt();
    void openChangeWindowKeepsTheProgramRunning();
    void editingACellAndReducingAgain();
    void deleteAndCopy();
    void fileFilterForTheDialog();
    void viewIsToldOncePerReduction();
    void saveFromTheFileMenu();
    void printFromTheFileMenu();
    void noNumberIsCutOff();
    void spreadsheetKeys();
    void summaryCellsTellTheChecks();
    void miscloseTooltipOfARunReadTwice();
    void headerAndFooterCodes_data();
    void headerAndFooterCodes();
    void pagesOfALongRun();
    void aBookGivenByNameGivesTheMenusSheet_data();
    void aBookGivenByNameGivesTheMenusSheet();
    void aBookThatCannotBeReadIsNamed();
    void noWindowLeftEndsTheProgram();
    void shiftExtendsFromWhereTheLastMoveEnded();
    void typedReadingsAndTheChecksOfTheReadSheet();
    void aStoppedReductionLeavesNoEarlierResults();
    void aReadIsOneStepToUndo();
    void printingKeepsTheDefaultPrinter();
    void aRunOnTextShowsOverASelectedNeighbour();
    void aGsiBookOfSeveralLinesAsksWhichToRead();
    void theBookGoesWithEveryUndoStep();
    void numbersShownWholeOnScreenPrintWhole();
    void aLineOfABookOfSeveralIsNamedByItsNumber();
    void f1InTheListOfAnM5BookOpensItsTopic();
    void aBookNamedInLatin1IsReadPrintedAndSavedByItsBytes();
    void theReductionIsOneStepToUndo();
    void resultsStillFollowOnceTheReadingsAreShown();
    void helpLiesBesideTheWindowItExplains();
    void aNumberWiderThanItsColumnShowsHashes();
    void messagesNameWhatWasRefused();
    void theCommandLine();
    void fileDialogsFitTheirColumnsAndPrintOffersThePdfBesideTheBook();
    void theCurrentCellIsFramed();
    void staleResultsAreMarkedUntilReducedAgain();
    void aChangedSheetAsksBeforeClosing();
    void anArrowEndsATypedEntry();
    void dialogPathsGiveBackTheBytes();
    void screenshot();
};

void UiTest::menuTreeIsExact() {
    MainWindow window;
    QCOMPARE(window.windowTitle(), QString("Rendle Ver 1.2 - Orvanta"));
    QCOMPARE(window.objectName(), QString("FormMain"));

    struct Item {
        const char* name;
        const char* caption;
    };
    const QList<QAction*> bar = window.menuBar()->actions();
    QCOMPARE(bar.size(), 3);
    const Item barItems[] = {
        {"mnuFinput", "&File"}, {"mnuStnRL", "&Level Parameters "}, {"mnuHelp", "&Help"}};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(bar[i]->objectName(), QString(barItems[i].name));
        QCOMPARE(bar[i]->text(), QString(barItems[i].caption));
    }
    QVERIFY(bar[1]->menu() == nullptr);  // a command on the bar itself

    const Item fileItems[] = {{"mnuSDR20", "&SDR20 Format "},
                              {"mnuSDR33", "S&DR33 Format"},
                              {"mnuZeiss", "&Zeiss Format"},
                              {"mnu7", ""},
                              {"mnuSave", "&Save"},
                              {"mnuPrint", "&Print"},
                              {"mnuI", ""},
                              {"mnuExit", "&Exit"}};
    const QList<QAction*> file = bar[0]->menu()->actions();
    QCOMPARE(file.size(), 8);
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(file[i]->objectName(), QString(fileItems[i].name));
        QCOMPARE(file[i]->isSeparator(), QString(fileItems[i].caption).isEmpty());
        if (!file[i]->isSeparator()) QCOMPARE(file[i]->text(), QString(fileItems[i].caption));
    }
    const QList<QAction*> help = bar[2]->menu()->actions();
    QCOMPARE(help.size(), 2);
    QCOMPARE(help[0]->objectName(), QString("mnuContents"));
    QCOMPARE(help[0]->text(), QString("&Contents"));
    QCOMPARE(help[1]->objectName(), QString("mnuAbout"));
    QCOMPARE(help[1]->text(), QString("&About"));

    for (QAction* action : window.findChildren<QAction*>()) {
        if (action->objectName().isEmpty()) continue;
        QVERIFY2(action->isEnabled() && action->isVisible(), qPrintable(action->objectName()));
        QVERIFY2(!action->isCheckable(), qPrintable(action->objectName()));
        QVERIFY2(action->shortcut().isEmpty(), qPrintable(action->objectName()));
    }
}

void UiTest::sheetOnScreenAtStart() {
    MainWindow window;
    window.show();
    QCOMPARE(Cell(window, 1, 1), QString("LEVEL REPORT"));
    QCOMPARE(Cell(window, 2, 1), QString("Project :"));
    QCOMPARE(Cell(window, 2, 5), QString("No. Stn. :"));
    const char* row4[] = {"STN", "BS", "IS", "FS", "Rise/Fall", "RL", "ADJ. RL", "DIST"};
    const char* bar[] = {"STN", "BS", "IS", "FS", "H. DIFF.", "RL", "ADJ. RL", "DIST"};
    auto& model = window.sheetModel();
    for (int col = 1; col <= 8; ++col) {
        QCOMPARE(Cell(window, 4, col), QString(row4[col - 1]));
        QVERIFY(Bold(window, 4, col));
        QVERIFY(Bold(window, 1, col));
        QCOMPARE(model.headerData(col - 1, Qt::Horizontal).toString(), QString(bar[col - 1]));
    }
    QCOMPARE(model.headerData(10, Qt::Horizontal).toString(), QString("K"));
    QCOMPARE(model.headerData(4, Qt::Vertical).toInt(), 5);
    QVERIFY(!Bold(window, 5, 1));
    auto& view = window.sheetView();
    QVERIFY(view.isColumnHidden(8));
    QVERIFY(view.isColumnHidden(9));
    QVERIFY(!view.isColumnHidden(7));
    QCOMPARE(view.currentIndex(), model.index(4, 0));
    QCOMPARE(view.font().family(), QString("Arial"));
    QCOMPARE(view.geometry(), QRect(0, 0, ui::Twips(8295), ui::Twips(10500)));
    QCOMPARE(window.centralWidget()->size(), QSize(ui::Twips(8340), ui::Twips(9840)));

    // Resizing the window leaves the grid where and as it was.
    window.resize(900, 900);
    QCOMPARE(view.geometry(), QRect(0, 0, ui::Twips(8295), ui::Twips(10500)));
}

void UiTest::modelPassesTheModelTester() {
    MainWindow window;
    QAbstractItemModelTester tester(&window.sheetModel(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    window.windowing().setNextFileName(Sample("ring-road.sdr20.SDR"));
    WhenWindowShows("FormRL",
                    [](QWidget* form) { form->findChild<QPushButton*>("CmdRLOK")->click(); });
    window.readFieldBook(readers::FieldBookFormat::SDR20);
    window.sheetModel().flushChanges();
    QCOMPARE(Cell(window, 19, 6), QString("0.0020"));
}

void UiTest::readCommandsEndToEnd_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("filter");
    QTest::newRow("SDR20") << "mnuSDR20" << Sample("ring-road.sdr20.SDR")
                           << "SDR20 files (*.SDR)|*.SDR|All files(*.*)|*.*";
    QTest::newRow("SDR33") << "mnuSDR33" << Sample("ring-road.sdr33.SDR")
                           << "SDR33 files (*.SDR)|*.SDR|All files(*.*)|*.*";
    QTest::newRow("Zeiss M5") << "mnuZeiss" << Sample("ring-road.m5.DAT")
                              << "Zeiss files (*.DAT)|*.DAT|All files(*.*)|*.*";
}

void UiTest::readCommandsEndToEnd() {
    QFETCH(QString, action);
    QFETCH(QString, file);
    QFETCH(QString, filter);
    MainWindow window;
    window.show();
    window.windowing().setNextFileName(file);
    bool formSeen = false;
    WhenWindowShows("FormRL", [&](QWidget* widget) {
        auto* form = qobject_cast<RLWindow*>(widget);
        QVERIFY(form);
        QVERIFY(form->isModal());
        QCOMPARE(form->text1(0)->text(), QString("100"));
        QCOMPARE(form->text1(1)->text(), QString("100"));
        form->text1(1)->setText("100.010");
        form->okButton()->click();
        formSeen = true;
    });
    Action(window, qPrintable(action))->trigger();
    QVERIFY(formSeen);
    QCOMPARE(window.windowing().filtersShown().back(), filter);
    QCOMPARE(Cell(window, 2, 6), QString("4"));
    QCOMPARE(Cell(window, 7, 1).trimmed(), QString("A"));
    QCOMPARE(Cell(window, 7, 5), QString("-0.3330"));
    QCOMPARE(Cell(window, 16, 6), QString("100.0020"));
    QCOMPARE(Cell(window, 16, 7), QString("100.0100"));
    QCOMPARE(Cell(window, 19, 2), QString("Misclose(m)"));
    QCOMPARE(Cell(window, 19, 6), QString("-0.0080"));
    QVERIFY(Bold(window, 19, 6));
    QCOMPARE(std::get<std::string>(window.run().EndRL), std::string("100.010"));
    QCOMPARE(window.sheetView().currentIndex(), window.sheetModel().index(1, 1));
}

void UiTest::wrongFormatShowsItsMessage() {
    MainWindow window;
    window.windowing().setNextFileName(Sample("ring-road.sdr20.SDR"));
    QString text;
    AnswerMessageBox(&text);
    Action(window, "mnuZeiss")->trigger();
    QCOMPARE(text, QString("NOT Zeiss File. Please Check Your Data File "));
    QCOMPARE(window.windowing().messagesShown().back().first, QString("Data File"));
    QCOMPARE(window.sheet().LastUsedRow(), 4);
}

void UiTest::formRLLayout_data() {
    QTest::addColumn<bool>("enter");
    QTest::newRow("FormRL") << true;
    QTest::newRow("FormChangeRL") << false;
}

void UiTest::formRLLayout() {
    QFETCH(bool, enter);
    RLWindow form(enter ? RLWindow::Kind::Enter : RLWindow::Kind::Change);
    QCOMPARE(form.objectName(), QString(enter ? "FormRL" : "FormChangeRL"));
    QCOMPARE(form.windowTitle(), QString("Rendle Ver 1.1 Orvanta"));
    QCOMPARE(form.size(), QSize(ui::Twips(4830), ui::Twips(enter ? 3195 : 3240)));
    auto* frame = form.findChild<QGroupBox*>("FrameRL");
    QVERIFY(frame);
    QCOMPARE(frame->title(), QString(enter ? "Enter RL" : "Change RL"));
    QCOMPARE(frame->toolTip(), QString(enter ? "Enter RLs" : "To amend RLs"));
    QCOMPARE(frame->geometry(), ui::TwipsRect(120, 120, 4575, 2895));
    QCOMPARE(form.label1(0)->text(), QString("RL of Starting BM"));
    QCOMPARE(form.label1(1)->text(), QString("RL od Ending BM"));
    QCOMPARE(form.label1(0)->geometry(), ui::TwipsRect(360, 840, 1800, 240));
    QCOMPARE(form.label1(1)->geometry(), ui::TwipsRect(360, 1320, 1800, 240));
    QCOMPARE(form.text1(0)->geometry(), ui::TwipsRect(2280, 720, 1215, 375));
    QCOMPARE(form.text1(1)->geometry(), ui::TwipsRect(2280, 1200, 1215, 375));
    QCOMPARE(form.okButton()->objectName(), QString(enter ? "CmdRLOK" : "CmdRLChange"));
    QCOMPARE(form.okButton()->text(), QString("OK"));
    QCOMPARE(form.okButton()->geometry(), ui::TwipsRect(2280, 1800, 1215, 495));
    QVERIFY(form.okButton()->font().bold());
    QVERIFY(form.label1(0)->font().bold());
    QVERIFY(!form.text1(0)->font().bold());
    QCOMPARE(form.text1(0)->font().pointSizeF(), 9.75);
    QCOMPARE(form.findChildren<QPushButton*>().size(), 1);  // no Cancel button
}

void UiTest::levelParametersAmendsAndReducesAgain() {
    MainWindow window;
    window.show();
    ReadSdr20Sample(window, "50", "52");
    QCOMPARE(Cell(window, 6, 6), QString("50.0000"));
    QCOMPARE(Cell(window, 16, 7), QString("52.0000"));

    Action(window, "mnuStnRL")->trigger();
    RLWindow* change = window.changeRLWindow();
    QVERIFY(change && change->isVisible());
    QVERIFY(!change->isModal());
    QCOMPARE(change->text1(0)->text(), QString("50"));
    QCOMPARE(change->text1(1)->text(), QString("52"));
    // Picking Level Parameters again brings up the same window, refilled.
    change->text1(0)->setText("typed, not confirmed");
    Action(window, "mnuStnRL")->trigger();
    QCOMPARE(window.changeRLWindow(), change);
    QCOMPARE(change->text1(0)->text(), QString("50"));

    change->text1(0)->setText("60");
    change->text1(1)->setText("62");
    change->okButton()->click();
    QTRY_VERIFY(window.changeRLWindow() == nullptr);
    QCOMPARE(Cell(window, 6, 6), QString("60.0000"));
    QCOMPARE(Cell(window, 16, 7), QString("62.0000"));

    Action(window, "mnuStnRL")->trigger();
    QCOMPARE(window.changeRLWindow()->text1(0)->text(), QString("50"));
    QCOMPARE(window.changeRLWindow()->text1(1)->text(), QString("62"));

    // The close box changes nothing and reduces nothing.
    window.changeRLWindow()->text1(1)->setText("99");
    window.changeRLWindow()->close();
    QTRY_VERIFY(window.changeRLWindow() == nullptr);
    QCOMPARE(Cell(window, 16, 7), QString("62.0000"));
    QCOMPARE(std::get<std::string>(window.run().EndRL), std::string("62"));
}

void UiTest::levelParametersOnATypedSheetSaysNoDataAndKeepsIt() {
    MainWindow window;
    window.show();
    // A run typed by hand, no book read.
    auto& model = window.sheetModel();
    QVERIFY(model.setData(model.index(1, 1), "Typed loop"));
    QVERIFY(model.setData(model.index(5, 0), "BM1"));
    QVERIFY(model.setData(model.index(5, 1), "1.234"));
    QVERIFY(model.setData(model.index(6, 0), "TP1"));
    QVERIFY(model.setData(model.index(6, 3), "0.987"));
    const grid::Grid typed = window.sheet();
    Action(window, "mnuStnRL")->trigger();
    RLWindow* change = window.changeRLWindow();
    QCOMPARE(change->text1(0)->text(), QString());
    QCOMPARE(change->text1(1)->text(), QString());
    QString text;
    AnswerMessageBox(&text);
    change->okButton()->click();
    QCOMPARE(text, QString("No Data "));
    QCOMPARE(window.windowing().messagesShown().back().first, QString("Data"));
    // The program runs on, with the sheet as it was typed.
    QVERIFY(window.isVisible());
    QCOMPARE(window.unloadCount(), 0);
    QCOMPARE(window.sheet().CellText(2, 2), std::string("Typed loop"));
    QCOMPARE(window.sheet().CellText(6, 1), std::string("BM1"));
    QCOMPARE(window.sheet().CellNumber(6, 2), 1.234);
    QCOMPARE(window.sheet().CellNumber(7, 4), 0.987);
    QVERIFY(window.sheet().LastUsedRow() == typed.LastUsedRow());
    QVERIFY(OpenWindows() >= 1);
}

void UiTest::exitEndsWithoutUnloadWhileClosingRunsIt() {
    MainWindow window;
    window.show();
    int exits = 0;
    window.exitProgram = [&] { ++exits; };
    Action(window, "mnuExit")->trigger();
    QCOMPARE(exits, 1);
    QCOMPARE(window.unloadCount(), 0);

    window.close();
    QCOMPARE(window.unloadCount(), 1);
    QCOMPARE(exits, 1);
}

void UiTest::openChangeWindowKeepsTheProgramRunning() {
    MainWindow window;
    window.show();
    Action(window, "mnuStnRL")->trigger();
    QPointer<RLWindow> change = window.changeRLWindow();
    QVERIFY(change->testAttribute(Qt::WA_QuitOnClose));
    window.close();
    QCoreApplication::processEvents();
    QCOMPARE(OpenWindows(), 1);
    QVERIFY(change && change->isVisible());
    change->close();
    QTRY_COMPARE(OpenWindows(), 0);
}

void UiTest::editingACellAndReducingAgain() {
    MainWindow window;
    window.show();
    window.windowing().setNextFileName(Sample("ring-road.sdr33.SDR"));
    WhenWindowShows("FormRL",
                    [](QWidget* form) { form->findChild<QPushButton*>("CmdRLOK")->click(); });
    Action(window, "mnuSDR33")->trigger();
    auto& model = window.sheetModel();
    // The project description, and a foresight re-booked 10 mm lower.
    QVERIFY(model.setData(model.index(1, 1), "Ring road, north loop"));
    QVERIFY(model.setData(model.index(7, 3), "0.866"));
    QCOMPARE(window.sheet().CellNumber(8, 4), 0.866);
    QVERIFY(model.setData(model.index(20, 0), "12abc"));
    QCOMPARE(window.sheet().CellAt(21, 1).kind, grid::CellKind::Text);

    Action(window, "mnuStnRL")->trigger();
    window.changeRLWindow()->okButton()->click();
    QCOMPARE(Cell(window, 2, 2), QString("Ring road, north loop"));
    QCOMPARE(Cell(window, 8, 5), QString("0.7010"));
    QCOMPARE(Cell(window, 16, 6), QString("100.0120"));
    QCOMPARE(Cell(window, 8, 4), QString("0.8660"));
    QCOMPARE(model.index(7, 3).data(Qt::EditRole).toString(), QString("0.866"));
}

void UiTest::deleteAndCopy() {
    MainWindow window;
    window.show();
    auto& view = window.sheetView();
    auto& model = window.sheetModel();
    view.setCurrentIndex(model.index(3, 0));
    view.selectionModel()->select(QItemSelection(model.index(3, 0), model.index(3, 2)),
                                  QItemSelectionModel::ClearAndSelect);
    QCOMPARE(window.sheet().Selection(), (grid::Range{4, 1, 4, 3}));
    QTest::keySequence(&view, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), QString("STN\tBS\tIS\n"));

    view.selectionModel()->select(QItemSelection(model.index(1, 0), model.index(1, 0)),
                                  QItemSelectionModel::ClearAndSelect);
    QTest::keyClick(&view, Qt::Key_Delete);
    QCOMPARE(Cell(window, 2, 1), QString());
    QVERIFY(Bold(window, 2, 1));
}

void UiTest::spreadsheetKeys() {
    MainWindow window;
    window.show();
    window.windowing().setNextFileName(Sample("ring-road.sdr20.SDR"));
    WhenWindowShows("FormRL",
                    [](QWidget* widget) { qobject_cast<RLWindow*>(widget)->okButton()->click(); });
    Action(window, "mnuSDR20")->trigger();
    auto& view = window.sheetView();
    auto& model = window.sheetModel();
    const auto at = [&] {
        return std::pair{view.currentIndex().row() + 1, view.currentIndex().column() + 1};
    };

    // An edit, then Enter moves down and Shift+Enter up.
    QVERIFY(model.setData(model.index(6, 1), "1.25"));
    // a number, in the column's format
    QCOMPARE(Cell(window, 7, 2), QString("1.2500"));
    view.setCurrentIndex(model.index(6, 1));
    QTest::keyClick(&view, Qt::Key_Return);
    QCOMPARE(at(), (std::pair{8, 2}));
    QTest::keyClick(&view, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(at(), (std::pair{7, 2}));

    // Ctrl+End goes to the last used cell; Ctrl+Arrow to the edge of the data.
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(at(), (std::pair{window.sheet().LastUsedRow(), 8}));
    view.setCurrentIndex(model.index(5, 0));
    QTest::keyClick(&view, Qt::Key_Down, Qt::ControlModifier);
    // the last station of the run
    QCOMPARE(at(), (std::pair{16, 1}));
    QTest::keyClick(&view, Qt::Key_Down, Qt::ControlModifier);
    // nothing below the summary in column 1
    QCOMPARE(at(), (std::pair{16384, 1}));

    // Ctrl+V pastes tab-separated text from the active cell, numbers as numbers, skipping the
    // hidden columns; Ctrl+Z undoes the paste, then the edit.
    view.setCurrentIndex(model.index(29, 7));
    QApplication::clipboard()->setText("12.5\tpeg A\n\t3\n");
    QTest::keySequence(&view, QKeySequence::Paste);
    QCOMPARE(window.sheet().CellAt(30, 8).kind, grid::CellKind::Number);
    QCOMPARE(window.sheet().CellNumber(30, 8), 12.5);
    // past hidden I and J
    QCOMPARE(window.sheet().CellText(30, 11), std::string("peg A"));
    QCOMPARE(window.sheet().CellNumber(31, 11), 3.0);
    QTest::keySequence(&view, QKeySequence::Undo);
    QCOMPARE(window.sheet().CellAt(30, 8).kind, grid::CellKind::Empty);
    QCOMPARE(window.sheet().CellText(30, 11), std::string());
    QTest::keySequence(&view, QKeySequence::Undo);
    // the edited cell was empty before
    QCOMPARE(Cell(window, 7, 2), QString());
}

void UiTest::summaryCellsTellTheChecks() {
    MainWindow window;
    window.show();
    window.windowing().setNextFileName(Sample("ring-road.sdr20.SDR"));
    WhenWindowShows("FormRL",
                    [](QWidget* widget) { qobject_cast<RLWindow*>(widget)->okButton()->click(); });
    Action(window, "mnuSDR20")->trigger();
    auto& model = window.sheetModel();
    QCOMPARE(model.index(18, 5).data(Qt::ToolTipRole).toString(),
             QString("The misclose exceeds the permissible 0.0009 m by 0.0011 m. Arithmetic "
                     "check: \u03a3BS \u2212 \u03a3FS = 0.0020, \u03a3Rise \u2212 \u03a3Fall = "
                     "0.0020, last RL \u2212 first RL = 0.0020; they agree."));
    QVERIFY(model.index(19, 5)
                .data(Qt::ToolTipRole)
                .toString()
                .startsWith("The permissible error is 2 mm"));
    QVERIFY(model.index(20, 5).data(Qt::ToolTipRole).toString().startsWith("Sight balance:"));
    // only the summary block
    QVERIFY(!model.index(6, 5).data(Qt::ToolTipRole).isValid());
}

void UiTest::miscloseTooltipOfARunReadTwice() {
    QTemporaryDir dir;
    const QString book = dir.filePath("BFFB.DAT");
    QFile file(book);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(testing::M5Run("BFFB")));
    file.close();
    MainWindow window;
    window.show();
    window.windowing().setNextFileName(book);
    WhenWindowShows("FormRL",
                    [](QWidget* widget) { qobject_cast<RLWindow*>(widget)->okButton()->click(); });
    Action(window, "mnuZeiss")->trigger();
    // Three set-ups of two rows, and an intermediate sight: the misclose in row 15.
    QCOMPARE(window.sheet().CellText(15, 2), std::string("Misclose(m)"));
    const QString tip = window.sheetModel().index(14, 5).data(Qt::ToolTipRole).toString();
    QVERIFY2(tip.startsWith("The misclose of"), qPrintable(tip));
    QVERIFY2(tip.endsWith(" The largest station difference is -250.0 mm, at set-up 1. The "
                          "instrument's heights agree with the sheet's RLs set-up by set-up "
                          "within 0.2 mm (3 compared)."),
             qPrintable(tip));
}

void UiTest::aBookGivenByNameGivesTheMenusSheet_data() {
    QTest::addColumn<QString>("book");
    QTest::addColumn<QString>("command");
    QTest::newRow("SDR20") << "ring-road.sdr20.SDR"
                           << "mnuSDR20";
    QTest::newRow("SDR33") << "ring-road.sdr33.SDR"
                           << "mnuSDR33";
    QTest::newRow("Zeiss M5") << "ring-road.m5.DAT"
                              << "mnuZeiss";
}

void UiTest::aBookGivenByNameGivesTheMenusSheet() {
    QFETCH(QString, book);
    QFETCH(QString, command);
    const auto answerFormRL = [] {
        WhenWindowShows("FormRL", [](QWidget* widget) {
            auto* form = qobject_cast<RLWindow*>(widget);
            form->text1(1)->setText("100.02");
            form->okButton()->click();
        });
    };
    MainWindow byMenu;
    byMenu.show();
    byMenu.windowing().setNextFileName(Sample(book.toUtf8().constData()));
    answerFormRL();
    Action(byMenu, command.toUtf8().constData())->trigger();

    // `rendle BOOK`, after a run whose wide RLs had widened the columns; then a drop.
    for (const bool dropped : {false, true}) {
        MainWindow byName;
        byName.show();
        byName.sheet().SetColumnWidth(core::kColRL, 300);
        answerFormRL();
        const QString path = Sample(book.toUtf8().constData());
        if (dropped) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(path)});
            // As the window system hands them over: the drag comes in, then drops.
            QObject& target = byName;
            QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton,
                                  Qt::NoModifier);
            target.event(&enter);
            QVERIFY(enter.isAccepted());
            QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton,
                            Qt::NoModifier);
            target.event(&drop);
        } else {
            std::ostringstream err;
            ui::OpenFromCommandLine(byName, {"rendle", path.toStdString()}, err);
        }
        QTRY_VERIFY(byName.run().FirstDataRow == core::kFirstDataRow);
        QVERIFY(byName.windowing().messagesShown().empty());
        const grid::Grid& a = byMenu.sheet();
        const grid::Grid& b = byName.sheet();
        QCOMPARE(b.LastUsedRow(), a.LastUsedRow());
        for (int32_t r = 1; r <= a.LastUsedRow(); ++r) {
            for (int32_t c = 1; c <= 10; ++c) {
                QCOMPARE(b.CellText(r, c), a.CellText(r, c));
                QCOMPARE(b.CellNumber(r, c), a.CellNumber(r, c));
            }
        }
        QCOMPARE(byName.run().StationCount, byMenu.run().StationCount);
        QCOMPARE(b.ColumnWidth(core::kColRL), a.ColumnWidth(core::kColRL));
    }
}

void UiTest::aBookThatCannotBeReadIsNamed() {
    QTemporaryDir dir;
    const QString notes = dir.filePath("notes.txt");
    QFile file(notes);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("Monday: ring road, north loop\r\n");
    file.close();
    MainWindow window;
    window.show();
    QVERIFY(window.sheetModel().setData(window.sheetModel().index(1, 1), "Ring road"));
    for (const QString& path : {dir.filePath("missing.SDR"), notes}) {
        QString text;
        AnswerMessageBox(&text);
        window.openFieldBook(path);
        QVERIFY2(text.contains(path), qPrintable(text));
        QCOMPARE(window.windowing().messagesShown().back().first, QString("Data File"));
        // Nothing was read, so nothing typed is lost.
        QCOMPARE(window.sheet().CellText(2, 2), std::string("Ring road"));
    }
}

void UiTest::noWindowLeftEndsTheProgram() {
    // Level Parameters, the main window closed, OK in the RL window, OK to "No Data ": no
    // window is left, and the program ends.
    MainWindow window;
    window.show();
    bool timedOut = false;
    QString text;
    QTimer::singleShot(0, &window, [&] {
        Action(window, "mnuStnRL")->trigger();
        window.close();
        AnswerMessageBox(&text);
        window.changeRLWindow()->okButton()->click();
    });
    QTimer::singleShot(10000, qApp, [&] {
        timedOut = true;
        for (QWidget* widget : QApplication::topLevelWidgets()) widget->close();
        QCoreApplication::exit(1);
    });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!timedOut);
    QCOMPARE(text, QString("No Data "));
    QCOMPARE(OpenWindows(), 0);
}

void UiTest::shiftExtendsFromWhereTheLastMoveEnded() {
    MainWindow window;
    window.show();
    ReadSdr20Sample(window, "100", "100.02");
    auto& view = window.sheetView();
    auto& model = window.sheetModel();
    const auto selection = [&] {
        const grid::Range& s = window.sheet().Selection();
        return std::tuple{s.row1, s.col1, s.row2, s.col2};
    };
    struct Step {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::tuple<int32_t, int32_t, int32_t, int32_t> selected;
    };
    view.setCurrentIndex(model.index(5, 0));
    const Step steps[] = {
        // A jump, then Shift+Down: the block starts at the cell jumped to.
        {Qt::Key_Down, Qt::ControlModifier, {16, 1, 16, 1}},
        {Qt::Key_Down, Qt::ShiftModifier, {16, 1, 17, 1}},
        {Qt::Key_Up, Qt::ControlModifier, {16, 1, 16, 1}},
        {Qt::Key_Up, Qt::ControlModifier, {6, 1, 6, 1}},
        {Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier, {6, 1, 16, 1}},
        // from the foresight's name over the empty BS and IS cells to its reading
        {Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier, {6, 1, 16, 4}},
        {Qt::Key_Return, Qt::NoModifier, {17, 4, 17, 4}},
        {Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier, {17, 4, 21, 8}},
    };
    for (const Step& step : steps) {
        QTest::keyClick(&view, step.key, step.modifiers);
        QCOMPARE(selection(), step.selected);
    }
    // Shift+arrows, each key handled before the next: the moving end one cell a press in every
    // direction, from the anchor at B6.
    view.setCurrentIndex(model.index(5, 1));
    const Step shifted[] = {
        {Qt::Key_Down, Qt::ShiftModifier, {6, 2, 7, 2}},
        {Qt::Key_Down, Qt::ShiftModifier, {6, 2, 8, 2}},
        {Qt::Key_Down, Qt::ShiftModifier, {6, 2, 9, 2}},
        {Qt::Key_Right, Qt::ShiftModifier, {6, 2, 9, 3}},
        {Qt::Key_Right, Qt::ShiftModifier, {6, 2, 9, 4}},
        {Qt::Key_Up, Qt::ShiftModifier, {6, 2, 8, 4}},
        {Qt::Key_Left, Qt::ShiftModifier, {6, 2, 8, 3}},
        {Qt::Key_Left, Qt::ShiftModifier, {6, 2, 8, 2}},
        {Qt::Key_Left, Qt::ShiftModifier, {6, 1, 8, 2}},
        {Qt::Key_Up, Qt::ShiftModifier, {6, 1, 7, 2}},
        {Qt::Key_Up, Qt::ShiftModifier, {6, 1, 6, 2}},
        {Qt::Key_Up, Qt::ShiftModifier, {5, 1, 6, 2}},
    };
    for (const Step& step : shifted) {
        QTest::keyClick(&view, step.key, step.modifiers);
        // The grid's answer to the view arrives as a queued event, as on a real display.
        QCoreApplication::processEvents();
        QCOMPARE(selection(), step.selected);
        QCOMPARE(view.anchor(), model.index(5, 1));
    }
    // A block dragged with the mouse, B6:B9, then Shift+Down: B6:B10.
    const QPoint from = view.visualRect(model.index(5, 1)).center();
    const QPoint to = view.visualRect(model.index(8, 1)).center();
    QTest::mousePress(view.viewport(), Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent drag(QEvent::MouseMove, to, view.viewport()->mapToGlobal(to), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &drag);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, Qt::NoModifier, to);
    QTRY_COMPARE(selection(), (std::tuple<int32_t, int32_t, int32_t, int32_t>{6, 2, 9, 2}));
    QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
    QTRY_COMPARE(selection(), (std::tuple<int32_t, int32_t, int32_t, int32_t>{6, 2, 10, 2}));
    // Ctrl+X copies the block and empties it, one step to undo; Ctrl+Y does it again.
    view.setCurrentIndex(model.index(6, 1));
    QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
    const std::string below = window.sheet().CellText(8, 2);
    const QString block = view.selectionAsText();
    QCOMPARE(block.count('\n'), 2);
    QTest::keyClick(&view, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), block);
    QCOMPARE(window.sheet().CellAt(7, 2).kind, grid::CellKind::Empty);
    QCOMPARE(window.sheet().CellAt(8, 2).kind, grid::CellKind::Empty);
    QTest::keyClick(&view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(window.sheet().CellText(8, 2), below);
    QTest::keyClick(&view, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(window.sheet().CellAt(8, 2).kind, grid::CellKind::Empty);
}

void UiTest::typedReadingsAndTheChecksOfTheReadSheet() {
    MainWindow window;
    window.show();
    ReadSdr20Sample(window, "100", "100.02");
    auto& model = window.sheetModel();
    const int32_t misclose = window.run().LastDataRow + 3;
    const double backsight = window.sheet().CellNumber(6, 2);
    struct Typed {
        int row, col;
        const char* text;
        grid::CellKind kind;
        double number;
    };
    const Typed typed[] = {
        {6, 2, "1,456", grid::CellKind::Number, 1.456},  // a reading with a decimal comma
        {6, 8, "31,5", grid::CellKind::Number, 31.5},    // a distance
        {2, 2, "1,456", grid::CellKind::Text, 0},        // the project: text stays text
        {9, 1, "'12", grid::CellKind::Text, 0},          // a station named by a number
        {7, 2, "1.4.5", grid::CellKind::Text, 0},        // no number, in a reading cell
    };
    for (const Typed& t : typed) {
        QVERIFY(model.setData(model.index(t.row - 1, t.col - 1), t.text));
        QCOMPARE(window.sheet().CellAt(t.row, t.col).kind, t.kind);
        if (t.kind == grid::CellKind::Number)
            QCOMPARE(window.sheet().CellNumber(t.row, t.col), t.number);
    }
    QCOMPARE(window.sheet().CellText(9, 1), std::string("12"));
    QCOMPARE(model.index(8, 0).data(Qt::EditRole).toString(), QString("'12"));
    // The results no longer follow from the readings, and say so until the run is reduced again.
    QCOMPARE(model.index(misclose - 1, 5).data(Qt::ToolTipRole).toString(),
             QString(ui::kResultsNoLongerFollow));
    Action(window, "mnuStnRL")->trigger();
    window.changeRLWindow()->okButton()->click();
    const QString tip = model.index(misclose - 1, 5).data(Qt::ToolTipRole).toString();
    QVERIFY2(tip.contains("; it fails. B7 holds the text 1.4.5, read as no reading."),
             qPrintable(tip));
    QVERIFY(window.sheet().CellNumber(6, 2) != backsight);
}

void UiTest::aStoppedReductionLeavesNoEarlierResults() {
    MainWindow window;
    window.show();
    ReadSdr20Sample(window, "100", "100.02");
    const int32_t last = window.run().LastDataRow;
    QVERIFY(window.sheet().CellAt(last, core::kColRL).kind == grid::CellKind::Number);
    Action(window, "mnuStnRL")->trigger();
    window.changeRLWindow()->text1(0)->setText("10O.5");  // a letter O for a nought
    window.changeRLWindow()->okButton()->click();
    for (int32_t r = core::kFirstDataRow + 1; r <= last; ++r) {
        QCOMPARE(window.sheet().CellAt(r, core::kColRL).kind, grid::CellKind::Empty);
        QCOMPARE(window.sheet().CellAt(r, core::kColAdjRL).kind, grid::CellKind::Empty);
    }
    QCOMPARE(window.sheet().CellAt(last + 3, 2).kind, grid::CellKind::Empty);
    QCOMPARE(window.sheet().CellAt(last + 3, core::kColRL).kind, grid::CellKind::Empty);
    QCOMPARE(window.sheetModel().index(last + 2, 1).data(Qt::ToolTipRole).toString(),
             QString("Not reduced: the starting RL is not a number, so no RLs were worked out."));
}

void UiTest::aReadIsOneStepToUndo() {
    MainWindow window;
    window.show();
    ReadSdr20Sample(window, "100", "100.02");
    auto& model = window.sheetModel();
    auto& view = window.sheetView();
    const int32_t last = window.run().LastDataRow;
    QVERIFY(model.setData(model.index(1, 1), "Ring road, north loop"));
    // Scrolled down to the summary block, a read that is cancelled in its file dialog.
    view.scrollTo(model.index(400, 0));
    QVERIFY(view.verticalScrollBar()->value() > 0);
    window.windowing().setNextFileName("");
    Action(window, "mnuSDR33")->trigger();
    QCOMPARE(window.sheet().LastUsedRow(), 4);
    QCOMPARE(window.run().LastDataRow, last);  // the run state is not the read's to clear
    QCOMPARE(view.verticalScrollBar()->value(), 0);
    QTest::keyClick(&view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(window.sheet().CellText(2, 2), std::string("Ring road, north loop"));
    QCOMPARE(window.sheet().CellText(last + 3, 2), std::string("Misclose(m)"));
    QCOMPARE(window.run().LastDataRow, last);
    QVERIFY(model.index(last + 2, 5).data(Qt::ToolTipRole).toString().startsWith("The misclose"));
    QTest::keyClick(&view, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(window.sheet().LastUsedRow(), 4);
}

void UiTest::printingKeepsTheDefaultPrinter() {
    MainWindow window;
    ReadSdr20Sample(window, "100", "100.02");
    QPrinter printer(QPrinter::HighResolution);
    window.windowing().preparePrinter(printer, window.sheet());
    // No file is preset: that would choose printing to a file over the default printer.
    QVERIFY(printer.outputFileName().isEmpty());
    QCOMPARE(printer.printerName(), QPrinterInfo::defaultPrinterName());
    QCOMPARE(printer.docName(), QString("ring-road.sdr20.SDR"));
}

void UiTest::aRunOnTextShowsOverASelectedNeighbour() {
    MainWindow window;
    window.show();
    auto& view = window.sheetView();
    auto& model = window.sheetModel();
    QVERIFY(model.setData(model.index(6, 0), "A station name that runs on"));
    // B7 to H7 selected: B7 lies under the text of A7, H7 under nothing.
    view.setCurrentIndex(model.index(6, 1));
    view.selectionModel()->select(QItemSelection(model.index(6, 1), model.index(6, 7)),
                                  QItemSelectionModel::ClearAndSelect);
    model.flushChanges();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage shot = view.viewport()->grab().toImage();
    const QRect plain = view.visualRect(model.index(6, 7));
    const QRgb selected = shot.pixel(plain.center());  // the selection's face, as painted
    const QRect covered = view.visualRect(model.index(6, 1)).adjusted(1, 1, -2, -2);
    // Text stands out from the face, which the style may shade a little.
    const QColor face = QColor::fromRgb(selected);
    int text = 0;
    for (int y = covered.top(); y <= covered.bottom(); ++y) {
        for (int x = covered.left(); x <= covered.right(); ++x) {
            const QColor pixel = shot.pixelColor(x, y);
            const int difference = std::abs(pixel.red() - face.red()) +
                                   std::abs(pixel.green() - face.green()) +
                                   std::abs(pixel.blue() - face.blue());
            text += difference > 120 ? 1 : 0;
        }
    }
    QVERIFY2(text > 10, "the text is hidden under the selection");
}

void UiTest::aGsiBookOfSeveralLinesAsksWhichToRead() {
    MainWindow window;
    window.show();
    ReadSdr20Sample(window, "100", "100.02");
    QVERIFY(window.sheetModel().setData(window.sheetModel().index(1, 1), "Ring road"));
    const std::string before = SheetDump(window);
    // Dropped on the window, the book's list cancelled with Escape (F1 first, for its topic):
    // the sheet, its project text and its reduced run stay byte for byte, and a print still
    // offers the book that was there.
    RecordingHelp help;
    WhenWindowShows("RunChooser", [](QWidget* chooser) {
        auto* list = chooser->findChild<QTreeWidget*>("RunList");
        chooser->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(chooser));
        QTest::keyClick(list, Qt::Key_F1);
        QTest::keyClick(list, Qt::Key_Escape);
    });
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Sample("ring-road.gsi"))});
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    static_cast<QObject&>(window).event(&drop);
    QTRY_COMPARE(help.contexts.size(), size_t{1});
    QCOMPARE(help.contexts, std::vector<int>{ui::help::kGsiBooks});
    QCOMPARE(SheetDump(window), before);
    QCOMPARE(window.windowing().offeredPdf(window.sheet()),
             QFileInfo(Sample("ring-road.sdr20.SDR")).absolutePath() + "/ring-road.sdr20.pdf");

    // The second line chosen: FormRL shows its starting height, and the sheet holds that line.
    QString startBox;
    WhenWindowShows("RunChooser", [&startBox](QWidget* chooser) {
        auto* list = chooser->findChild<QTreeWidget*>("RunList");
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(1)->text(1), QString("SOUTH SPUR"));
        list->setCurrentItem(list->topLevelItem(1));
        WhenWindowShows("FormRL", [&startBox](QWidget* widget) {
            auto* form = qobject_cast<RLWindow*>(widget);
            startBox = form->text1(0)->text();
            form->okButton()->click();
        });
        QTest::keyClick(list, Qt::Key_Return);
    });
    window.openFieldBook(Sample("ring-road.gsi"));
    QCOMPARE(startBox, QString("100"));
    QCOMPARE(window.run().StationCount, 2);
    QCOMPARE(window.sheet().CellText(7, core::kColStation), std::string("TP9"));
}

namespace {

/// Copies a sample into `folder` under `name` (bytes), as a file manager would have it.
std::string CopySample(const char* sample, const std::string& folder, const std::string& name) {
    const std::string path = folder + "/" + name;
    std::ifstream in(QFile::encodeName(Sample(sample)).toStdString(), std::ios::binary);
    std::ofstream out(path, std::ios::binary);
    out << in.rdbuf();
    return path;
}

void OkWhenFormRLShows() {
    WhenWindowShows("FormRL",
                    [](QWidget* form) { qobject_cast<RLWindow*>(form)->okButton()->click(); });
}

}  // namespace

void UiTest::numbersShownWholeOnScreenPrintWhole() {
    // RLs of six integer digits: whole on screen, and whole on paper, with no # in the PDF.
    MainWindow window;
    window.show();
    ReadSdr20Sample(window, "123456.789", "123456.809");
    const int32_t first = window.run().FirstDataRow;
    auto& model = window.sheetModel();
    QCOMPARE(window.sheetView().shownText(model.index(first - 1, core::kColRL - 1)),
             QString("123456.7890"));
    const QString text = PrintedText(window);
    QVERIFY2(text.contains("123456.7890"), qPrintable(text));
    QVERIFY2(!text.contains('#'), qPrintable(text));
}

void UiTest::theBookGoesWithEveryUndoStep() {
    QTemporaryDir dir;
    const std::string folder = QFile::encodeName(dir.path()).toStdString();
    const std::string ring = CopySample("ring-road.sdr20.SDR", folder, "RING.SDR");
    const std::string other = CopySample("ring-road-within.sdr20.SDR", folder, "OTHER.SDR");
    MainWindow window;
    window.show();
    OkWhenFormRLShows();
    window.openFieldBookNamed(ring);
    QTRY_COMPARE(window.run().FirstDataRow, core::kFirstDataRow);
    OkWhenFormRLShows();
    window.openFieldBookNamed(other);
    QTRY_COMPARE(window.windowing().fieldBook().path, other);
    QCOMPARE(window.windowing().offeredPdf(window.sheet()), dir.filePath("OTHER.pdf"));
    // Undone, the sheet is RING's again, and so is what Print and Save offer; redone, OTHER's.
    auto& view = window.sheetView();
    QTest::keySequence(&view, QKeySequence::Undo);
    QCOMPARE(window.windowing().fieldBook().path, ring);
    QCOMPARE(window.windowing().offeredPdf(window.sheet()), dir.filePath("RING.pdf"));
    QString savedAs;
    WhenWindowShows("SaveAsDialog", [&savedAs](QWidget* dialog) {
        if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) savedAs = name->text();
        qobject_cast<QDialog*>(dialog)->reject();
    });
    Action(window, "mnuSave")->trigger();
    QCOMPARE(savedAs, QString("RING.xlsx"));
    QTest::keySequence(&view, QKeySequence::Redo);
    QCOMPARE(window.windowing().fieldBook().path, other);
    QCOMPARE(window.windowing().offeredPdf(window.sheet()), dir.filePath("OTHER.pdf"));
    // Undone to the empty sheet: no book, the sheet's title offered at home.
    QTest::keySequence(&view, QKeySequence::Undo);
    QTest::keySequence(&view, QKeySequence::Undo);
    QCOMPARE(window.windowing().fieldBook().path, std::string());
}

/// Opens `book` by name and reads its levelling line `line` from the list, FormRL confirmed.
void OpenLine(MainWindow& window, const std::string& book, int line) {
    WhenWindowShows("RunChooser", [line](QWidget* chooser) {
        auto* list = chooser->findChild<QTreeWidget*>("RunList");
        list->setCurrentItem(list->topLevelItem(line - 1));
        OkWhenFormRLShows();
        QTest::keyClick(list, Qt::Key_Return);
    });
    window.openFieldBookNamed(book);
}

void UiTest::aLineOfABookOfSeveralIsNamedByItsNumber() {
    QTemporaryDir dir;
    const std::string book =
        CopySample("ring-road.gsi", QFile::encodeName(dir.path()).toStdString(), "ring.gsi");
    MainWindow window;
    window.show();
    OpenLine(window, book, 2);
    QTRY_COMPARE(window.windowing().fieldBook().line, 2);
    QCOMPARE(window.windowing().offeredPdf(window.sheet()), dir.filePath("ring.run-2.pdf"));
    QCOMPARE(window.windowing().documentTitle(window.sheet()), QString("ring.gsi, line 2"));
    OpenLine(window, book, 1);
    QTRY_COMPARE(window.windowing().fieldBook().line, 1);
    QCOMPARE(window.windowing().offeredPdf(window.sheet()), dir.filePath("ring.run-1.pdf"));
    QTest::keySequence(&window.sheetView(), QKeySequence::Undo);
    QCOMPARE(window.windowing().fieldBook().line, 2);
    // The PDF's own title names the book and the line.
    const QString pdf = dir.filePath("ring.run-2.pdf");
    window.windowing().setNextPrintFile(pdf);
    Action(window, "mnuPrint")->trigger();
    QProcess info;
    info.start("pdfinfo", {pdf});
    QVERIFY(info.waitForFinished(30000));
    const QString metadata = QString::fromUtf8(info.readAllStandardOutput());
    QVERIFY2(metadata.contains(QRegularExpression("Title: +ring.gsi, line 2\n")),
             qPrintable(metadata));
}

void UiTest::f1InTheListOfAnM5BookOpensItsTopic() {
    QTemporaryDir dir;
    const std::string path = QFile::encodeName(dir.filePath("TWO.DAT")).toStdString();
    std::ofstream(path, std::ios::binary) << testing::Join({
        testing::Dini(1, "TO", "TWO.DAT"),
        testing::Dini(2, "TO", "Start-Line         BF  1"),
        testing::Dini(3, "KD1", "BM1", "", 0, "", 0, "Z", 100.0),
        testing::Dini(4, "KD1", "BM1", "Rb", 1.5, "HD", 10.0),
        testing::Dini(5, "KD1", "TP1", "Rf", 0.5, "HD", 10.0),
        testing::Dini(6, "KD1", "TP1", "", 0, "", 0, "Z", 101.0),
        testing::Dini(7, "TO", "End-Line           1"),
        testing::Dini(8, "TO", "Start-Line         BF  2"),
        testing::Dini(9, "KD1", "BM7", "", 0, "", 0, "Z", 50.0),
        testing::Dini(10, "KD1", "BM7", "Rb", 1.5, "HD", 10.0),
        testing::Dini(11, "KD1", "Q1", "Rf", 0.5, "HD", 10.0),
        testing::Dini(12, "KD1", "Q1", "", 0, "", 0, "Z", 51.0),
        testing::Dini(13, "TO", "End-Line           2"),
    });
    MainWindow window;
    window.show();
    RecordingHelp help;
    WhenWindowShows("RunChooser", [](QWidget* chooser) {
        auto* list = chooser->findChild<QTreeWidget*>("RunList");
        chooser->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(chooser));
        QTest::keyClick(list, Qt::Key_F1);
        QTest::keyClick(list, Qt::Key_Escape);
    });
    window.openFieldBookNamed(path);
    QTRY_COMPARE(help.contexts.size(), size_t{1});
    QCOMPARE(help.contexts, std::vector<int>{ui::help::kM5Books});
}

void UiTest::aBookNamedInLatin1IsReadPrintedAndSavedByItsBytes() {
    // A folder and a book named in Latin-1, dropped as a file manager sends them: %E1 in the
    // URL, which is no UTF-8.
    QTemporaryDir dir;
    const std::string folder = QFile::encodeName(dir.path()).toStdString() + "/Medici\xf3n";
    QVERIFY(std::filesystem::create_directory(folder));
    const std::string book = CopySample("ring-road.sdr20.SDR", folder, "R\xe1pido.SDR");
    MainWindow window;
    window.show();
    OkWhenFormRLShows();
    // The list of URIs as a file manager puts it on the drop, byte for byte.
    QMimeData data;
    data.setData("text/uri-list",
                 "file://" + QByteArray::fromStdString(book).toPercentEncoding("/") + "\r\n");
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    static_cast<QObject&>(window).event(&drop);
    QTRY_COMPARE(window.run().FirstDataRow, core::kFirstDataRow);
    QVERIFY(window.windowing().messagesShown().empty());
    QCOMPARE(window.windowing().fieldBook().path, book);
    // Print and Save offer the book's own name beside it, and write it by its bytes.
    window.windowing().setNextPrintFile(window.windowing().offeredPdf(window.sheet()));
    Action(window, "mnuPrint")->trigger();
    QVERIFY(std::filesystem::exists(folder + "/R\xe1pido.pdf"));
    window.windowing().setNextSaveName(window.windowing().shownOutput(".xlsx", ""));
    Action(window, "mnuSave")->trigger();
    QVERIFY(std::filesystem::exists(folder + "/R\xe1pido.xlsx"));
    std::filesystem::remove(folder + "/R\xe1pido.xlsx");

    std::ofstream(folder + "/LEVEL.SDR") << "another book\n";
    // The real dialogs: Save starts in the book's folder, which it can enter and list, and its
    // answer as offered is written there by the folder's and the name's own bytes.
    QString saveFolder;
    QStringList listed;
    WhenWindowShows("SaveAsDialog", [&](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        saveFolder = dialog->directory().absolutePath();
        listed = dialog->directory().entryList(QDir::Files);
        static_cast<QDialog*>(dialog)->accept();
    });
    Action(window, "mnuSave")->trigger();
    QVERIFY(QFileInfo(saveFolder).isDir());
    QVERIFY2(saveFolder.endsWith(QString::fromUtf8("Medici\u00f3n")), qPrintable(saveFolder));
    QVERIFY2(listed.contains("LEVEL.SDR"), qPrintable(listed.join(',')));
    QVERIFY(std::filesystem::exists(folder + "/R\xe1pido.xlsx"));
    // Print offers a PDF in a folder it can write, and writes it beside the book.
    std::filesystem::remove(folder + "/R\xe1pido.pdf");
    QString offeredPdf;
    WhenWindowShows("PrintDialog", [&offeredPdf](QWidget* dialog) {
        if (auto* file = dialog->findChild<QLineEdit*>("filename")) offeredPdf = file->text();
        qobject_cast<QDialog*>(dialog)->reject();
    });
    Action(window, "mnuPrint")->trigger();
    QVERIFY(QFileInfo(QFileInfo(offeredPdf).absolutePath()).isWritable());
    window.windowing().setNextPrintFile(offeredPdf);
    Action(window, "mnuPrint")->trigger();
    QVERIFY(std::filesystem::exists(folder + "/R\xe1pido.pdf"));
    QVERIFY(window.windowing().messagesShown().empty());
    // The open dialog of the next read starts there too.
    QString openFolder;
    WhenWindowShows("CommonDialog1", [&openFolder](QWidget* widget) {
        openFolder = qobject_cast<QFileDialog*>(widget)->directory().absolutePath();
        static_cast<QDialog*>(widget)->reject();
    });
    Action(window, "mnuSDR20")->trigger();
    QCOMPARE(openFolder, saveFolder);
}

void UiTest::resultsStillFollowOnceTheReadingsAreShown() {
    MainWindow window;
    window.show();
    ReadSdr20Sample(window, "100", "100.02");
    auto& model = window.sheetModel();
    const int32_t last = window.run().LastDataRow;
    // Every reading and distance shown as the sheet shows it, as a repaint or a scroll does:
    // showing a number is no edit.
    for (int32_t row = window.run().FirstDataRow; row <= last; ++row) {
        for (const int32_t col : {core::kColBS, core::kColIS, core::kColFS, core::kColDist}) {
            (void)model.index(row - 1, col - 1).data(Qt::DisplayRole);
        }
    }
    QVERIFY(model.index(last + 2, 5).data(Qt::ToolTipRole).toString().startsWith("The misclose"));
    QVERIFY(model.index(last - 1, 5).data(Qt::ToolTipRole).toString().isEmpty());
    // Nor is a reading set in bold, which shows its number afresh.
    grid::Grid& sheet = window.sheet();
    sheet.SelectCells(window.run().FirstDataRow, core::kColBS, last, core::kColDist);
    grid::FormatObject bold = sheet.SelectionFormat();
    bold.SetBold(true);
    sheet.ApplySelectionFormat(bold);
    QVERIFY(model.index(last + 2, 5).data(Qt::ToolTipRole).toString().startsWith("The misclose"));
    (void)model.index(window.run().FirstDataRow - 1, core::kColBS - 1).data(Qt::DisplayRole);
    QVERIFY(model.index(last + 2, 5).data(Qt::ToolTipRole).toString().startsWith("The misclose"));
}

void UiTest::theReductionIsOneStepToUndo() {
    MainWindow window;
    window.show();
    ReadSdr20Sample(window, "100", "100.02");
    auto& model = window.sheetModel();
    auto& view = window.sheetView();
    const int32_t last = window.run().LastDataRow;
    // A reading corrected, then the run reduced onto another ending RL.
    QVERIFY(model.setData(model.index(6, 3), "1.6"));
    const std::string corrected = SheetDump(window);
    const double rlBefore = window.sheet().CellNumber(last, core::kColAdjRL);
    Action(window, "mnuStnRL")->trigger();
    window.changeRLWindow()->text1(1)->setText("100.5");
    window.changeRLWindow()->okButton()->click();
    QVERIFY(window.sheet().CellNumber(last, core::kColAdjRL) != rlBefore);
    // The results stand for the corrected readings: no tooltip says otherwise.
    QVERIFY(
        !model.index(last + 2, 5).data(Qt::ToolTipRole).toString().startsWith("The sheet changed"));

    QTest::keyClick(&view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(SheetDump(window), corrected);
    QCOMPARE(core::RLText(window.run().EndRL), std::string("100.02"));
    // The correction typed before it is a step of its own, and the results of the first
    // reduction say that they no longer follow from it.
    QCOMPARE(model.index(last + 2, 5).data(Qt::ToolTipRole).toString(),
             QString(ui::kResultsNoLongerFollow));
    QCOMPARE(model.index(7, 5).data(Qt::ToolTipRole).toString(),
             QString(ui::kResultsNoLongerFollow));
    QTest::keyClick(&view, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(window.sheet().CellNumber(7, core::kColFS) != 1.6);
    QVERIFY(model.index(last + 2, 5).data(Qt::ToolTipRole).toString().startsWith("The misclose"));
    QVERIFY(model.index(7, 5).data(Qt::ToolTipRole).toString().isEmpty());
}

void UiTest::helpLiesBesideTheWindowItExplains() {
    // The Change RL window and the main window centred on screens of 1024 x 768 and 1280 x 1024,
    // the viewer asking for 820 x 600: at least 560 px wide and inside the screen; it covers
    // the RL boxes never (below the window when the sides are too narrow), and the sheet's STN
    // to RL columns only where the sides leave less than 560 px.
    RLWindow change(RLWindow::Kind::Change, nullptr);
    change.show();
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (const QSize screen : {QSize(1024, 768), QSize(1280, 1024)}) {
        const QRect room(QPoint(0, 0), screen);
        QRect frame(QPoint(0, 0), change.frameGeometry().size());
        frame.moveCenter(room.center());
        const QPoint client =
            frame.topLeft() + (change.geometry().topLeft() - change.frameGeometry().topLeft());
        QRect boxes;
        for (int i = 0; i < 2; ++i) {
            boxes |= QRect(client + change.text1(i)->mapTo(&change, QPoint(0, 0)),
                           change.text1(i)->size());
        }
        const QRect help = ui::help::PlaceBeside(frame, QSize(820, 600), room);
        QVERIFY2(!help.intersects(boxes),
                 qPrintable(QString("%1 x %2").arg(screen.width()).arg(screen.height())));
        QVERIFY(room.contains(help));
        QVERIFY(help.width() >= ui::help::kMinViewerWidth);

        QRect main(QPoint(0, 0), window.frameGeometry().size());
        main.moveCenter(room.center());
        const QPoint sheet = main.topLeft() +
                             (window.geometry().topLeft() - window.frameGeometry().topLeft()) +
                             window.sheetView().mapTo(&window, QPoint(0, 0));
        const int rlRight = window.sheetView().verticalHeader()->width() +
                            window.sheetView().columnViewportPosition(core::kColRL - 1) +
                            window.sheetView().columnWidth(core::kColRL - 1);
        const QRect columns(sheet, QSize(rlRight, window.sheetView().height()));
        const QRect beside = ui::help::PlaceBeside(main, QSize(820, 600), room);
        const int sideRoom = std::max(main.left() - room.left(), room.right() - main.right());
        QVERIFY2(sideRoom < ui::help::kMinViewerWidth || !beside.intersects(columns),
                 qPrintable(QString("%1 x %2").arg(screen.width()).arg(screen.height())));
        QVERIFY(room.contains(beside));
        QVERIFY(beside.width() >= ui::help::kMinViewerWidth);
    }
    // At 560 px free beside a window the viewer lies beside it; at 559 below or above it, or
    // over the window against the screen's edge when below and above hold less than 200 px.
    const QRect room1024(0, 0, 1024, 768);
    QCOMPARE(ui::help::PlaceBeside(QRect(100, 100, 364, 300), QSize(820, 600), room1024),
             QRect(464, 100, 560, 600));
    QCOMPARE(ui::help::PlaceBeside(QRect(100, 100, 365, 300), QSize(820, 600), room1024),
             QRect(2, 400, 560, 368));
    QCOMPARE(ui::help::PlaceBeside(QRect(100, 190, 365, 420), QSize(820, 600), room1024),
             QRect(464, 168, 560, 600));
    QCOMPARE(ui::help::PlaceBeside(QRect(100, 200, 365, 368), QSize(820, 600), room1024),
             QRect(2, 568, 560, 200));  // 200 px below it
    // Beside a window at the screen's right edge, the viewer takes the left side.
    const QRect left =
        ui::help::PlaceBeside(QRect(700, 100, 300, 200), QSize(820, 600), QRect(0, 0, 1024, 768));
    QCOMPARE(left, QRect(0, 100, 700, 600));
}

void UiTest::aNumberWiderThanItsColumnShowsHashes() {
    MainWindow window;
    window.show();
    ReadSdr20Sample(window, "100", "100.02");
    auto& model = window.sheetModel();
    QVERIFY(model.setData(model.index(5, core::kColBS - 1), "1e300"));
    QVERIFY(model.setData(model.index(30, 0), QString(100000, 'x')));
    QVERIFY(model.setData(model.index(30, 1), "next"));
    model.flushChanges();
    QCOMPARE(window.sheet().ColumnWidth(core::kColBS), grid::MaxFittedColumnWidthPx());
    QCOMPARE(window.sheet().ColumnWidth(core::kColStation), grid::MaxFittedColumnWidthPx());
    QCOMPARE(window.sheet().CellNumber(6, core::kColBS), 1e300);  // the workbook keeps it
    const QString shown = window.sheetView().shownText(model.index(5, core::kColBS - 1));
    QVERIFY(shown.size() >= 4 && shown == QString(shown.size(), '#'));
    QCOMPARE(window.sheetView().shownText(model.index(6, core::kColBS - 1)), Cell(window, 7, 2));
    // Reduced on it, every RL is such a number: #### in the printed report too.
    Action(window, "mnuStnRL")->trigger();
    window.changeRLWindow()->okButton()->click();
    const QString text = PrintedText(window);
    QVERIFY2(text.contains("####"), qPrintable(text.left(400)));
    QVERIFY(!text.contains("0000000000000000"));
}

void UiTest::messagesNameWhatWasRefused() {
    QTemporaryDir dir;
    // A GSI book whose line cannot be read: the message names the line and the reason.
    const QString gsi = dir.filePath("feet.gsi");
    QFile book(gsi);
    QVERIFY(book.open(QIODevice::WriteOnly));
    book.write(
        "*410001+00000000?......1 \r\n"
        "*110002+0000000000000BM1 32...5+0000000000003500 331..8+0000000000140000 \r\n");
    book.close();
    MainWindow window;
    window.show();
    const struct {
        QString path;
        QString says;
    } cases[] = {
        {gsi, "Please Check Your Data File \nLine 2: "},
        {dir.path(), "Cannot open " + dir.path() + ": a folder, not a field book. "},
        {Sample("ring-road.sdr20.SDR") + ".none", "Cannot open "},
    };
    for (const auto& c : cases) {
        QString text;
        AnswerMessageBox(&text);
        window.openFieldBook(c.path);
        QVERIFY2(text.contains(c.says), qPrintable(text));
    }
    // A book of the menu's formats keeps its own words.
    const QString notSdr = dir.filePath("notes.SDR");
    QFile notes(notSdr);
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write("Monday: ring road\r\n");
    notes.close();
    QString text;
    AnswerMessageBox(&text);
    window.openFieldBook(notSdr);
    QVERIFY2(text.contains("(SDR20, SDR33, Zeiss M5 or Leica GSI)"), qPrintable(text));
    QVERIFY(!text.contains('\n'));
}

void UiTest::theCommandLine() {
    const auto help = ui::TerminalAnswer({"rendle", "--help"});
    QVERIFY(help && help->starts_with("Usage: rendle [FIELD-BOOK]"));
    QCOMPARE(ui::TerminalAnswer({"rendle", "--version"}),
             std::optional<std::string>("rendle 1.2.0\n"));
    QCOMPARE(ui::TerminalAnswer({"rendle", "ring.SDR"}), std::nullopt);
    // "--" ends the options: a file named --help is a file.
    QCOMPARE(ui::TerminalAnswer({"rendle", "--", "--help"}), std::nullopt);
    {
        MainWindow named;
        named.show();
        QString text;
        AnswerMessageBox(&text);
        std::ostringstream none;
        ui::OpenFromCommandLine(named, {"rendle", "--", "--help"}, none);
        QTRY_VERIFY(!text.isEmpty());
        QVERIFY2(text.contains("--help"), qPrintable(text));
        QCOMPARE(none.str(), std::string());
    }
    // A name written elsewhere in Latin-1, opened by its bytes; a second book is named, not read.
    QTemporaryDir dir;
    const std::string latin1 = QFile::encodeName(dir.path()).toStdString() + "/R\xe1pido.SDR";
    {
        std::ifstream in(QFile::encodeName(Sample("ring-road.sdr20.SDR")).toStdString(),
                         std::ios::binary);
        std::ofstream out(latin1, std::ios::binary);
        out << in.rdbuf();
    }
    QVERIFY(std::ifstream(latin1).good());
    MainWindow window;
    window.show();
    WhenWindowShows("FormRL",
                    [](QWidget* form) { qobject_cast<RLWindow*>(form)->okButton()->click(); });
    std::ostringstream err;
    ui::OpenFromCommandLine(window, {"rendle", latin1, "B.DAT"}, err);
    QTRY_COMPARE(window.run().FirstDataRow, core::kFirstDataRow);
    QVERIFY(window.windowing().messagesShown().empty());
    QCOMPARE(err.str(), std::string("rendle: B.DAT was not opened: the level sheet holds one field "
                                    "book at a time\n"));
}

void UiTest::fileDialogsFitTheirColumnsAndPrintOffersThePdfBesideTheBook() {
    MainWindow window;
    window.show();
    // The save dialog's list: size, type and date as wide as they need, the name the rest.
    QList<QHeaderView::ResizeMode> modes;
    WhenWindowShows("SaveAsDialog", [&modes](QWidget* dialog) {
        for (QTreeView* list : dialog->findChildren<QTreeView*>()) {
            if (list->header()->count() < 4) continue;
            for (int c = 0; c < 4; ++c) modes << list->header()->sectionResizeMode(c);
        }
        qobject_cast<QDialog*>(dialog)->reject();
    });
    Action(window, "mnuSave")->trigger();
    QCOMPARE(modes, (QList<QHeaderView::ResizeMode>{
                        QHeaderView::Stretch, QHeaderView::ResizeToContents,
                        QHeaderView::ResizeToContents, QHeaderView::ResizeToContents}));

    // The PDF offered beside a book in a folder that can be written, else at home.
    QTemporaryDir folder;
    const QString book = folder.filePath("RING.SDR");
    QVERIFY(QFile::copy(Sample("ring-road.sdr20.SDR"), book));
    WhenWindowShows("FormRL",
                    [](QWidget* form) { qobject_cast<RLWindow*>(form)->okButton()->click(); });
    window.openFieldBook(book);
    QTRY_COMPARE(window.run().FirstDataRow, core::kFirstDataRow);
    QCOMPARE(window.windowing().offeredPdf(window.sheet()), folder.filePath("RING.pdf"));
    QString offered;
    WhenWindowShows("PrintDialog", [&offered](QWidget* dialog) {
        if (auto* file = dialog->findChild<QLineEdit*>("filename")) offered = file->text();
        qobject_cast<QDialog*>(dialog)->reject();
    });
    Action(window, "mnuPrint")->trigger();
    QCOMPARE(offered, folder.filePath("RING.pdf"));
    window.windowing().setFieldBookOnSheet({"/nonexistent/folder/RING.SDR", 0});
    QCOMPARE(window.windowing().offeredPdf(window.sheet()), QDir::home().filePath("RING.pdf"));
}

void UiTest::theCurrentCellIsFramed() {
    MainWindow window;
    window.show();
    auto& view = window.sheetView();
    auto& model = window.sheetModel();
    // C31 to E33 selected with the keys, from C31: all empty cells, so only the drawing of the
    // selection shows.
    view.setCurrentIndex(model.index(30, 2));
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(view.selectionModel()->selectedIndexes().size(), 9);
    const QModelIndex active = view.currentIndex();
    const QModelIndex other =
        active == model.index(30, 2) ? model.index(32, 4) : model.index(30, 2);
    const QImage shot = view.viewport()->grab().toImage();
    const QColor base = view.palette().color(QPalette::Base);
    const QColor highlight = view.palette().color(QPalette::Highlight);
    const QRect current = view.visualRect(active);
    const QRect selected = view.visualRect(other);
    const QRect outside = view.visualRect(model.index(34, 6));
    QCOMPARE(shot.pixelColor(current.center()), base);
    QCOMPARE(shot.pixelColor(current.left() + 1, current.center().y()), highlight);
    const QColor tint = shot.pixelColor(selected.center());
    QVERIFY(tint != base && tint != highlight);
    QCOMPARE(shot.pixelColor(outside.center()), base);
}

void UiTest::fileFilterForTheDialog() {
    // The texts stay exactly as the commands give them; the names match in either case.
    QCOMPARE(ui::QtFileFilter("SDR20 files (*.SDR)|*.SDR|All files(*.*)|*.*"),
             QString("SDR20 files (*.SDR);;All files(*.*)"));
    QCOMPARE(ui::QtFileFilter("Zeiss files (*.DAT)|*.DAT|All files(*.*)|*.*"),
             QString("Zeiss files (*.DAT);;All files(*.*)"));
    QCOMPARE(ui::QtFileFilter("Text|*.txt"), QString("Text (*.txt)"));
    QCOMPARE(ui::EitherCasePatterns("SDR20 files (*.SDR)"), (QStringList{"*.SDR", "*.sdr"}));
    QCOMPARE(ui::EitherCasePatterns("All files(*.*)"), QStringList{"*"});
}

void UiTest::viewIsToldOncePerReduction() {
    MainWindow window;
    window.show();
    window.windowing().setNextFileName(Sample("ring-road.m5.DAT"));
    QSignalSpy changed(&window.sheetModel(), &QAbstractItemModel::dataChanged);
    WhenWindowShows("FormRL", [&](QWidget* form) {
        changed.clear();
        form->findChild<QPushButton*>("CmdRLOK")->click();
    });
    Action(window, "mnuZeiss")->trigger();
    QCOMPARE(changed.count(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(changed.count(), 1);
}

void UiTest::saveFromTheFileMenu() {
    MainWindow window;
    QTemporaryDir folder;
    window.windowing().setNextSaveName("");
    Action(window, "mnuSave")->trigger();
    QVERIFY(QDir(folder.path()).isEmpty());

    window.windowing().setNextSaveName(folder.filePath("empty"));
    Action(window, "mnuSave")->trigger();
    QVERIFY(QFile::exists(folder.filePath("empty.xlsx")));
    QVERIFY(window.windowing().messagesShown().empty());

    QString text;
    AnswerMessageBox(&text);
    window.windowing().setNextSaveName("/proc/self/level.xlsx");
    Action(window, "mnuSave")->trigger();
    QVERIFY(text.startsWith("The level sheet was not saved to /proc/self/level.xlsx."));
    QCOMPARE(window.windowing().messagesShown().back().first, QString("SAVE LEVEL"));
}

void UiTest::printFromTheFileMenu() {
    MainWindow window;
    window.show();
    const QString text = PrintedText(window);
    QCOMPARE(window.sheet().GetPageSetup().printTitleRows, std::string("A1:IV4"));
    QVERIFY(!window.sheet().PrintGridLines());
    QCOMPARE(text.count('\f'), 1);
    QVERIFY(text.contains("LEVEL REPORT"));
    QVERIFY(text.contains("Page 1 of 1 Page(s)"));
}

void UiTest::noNumberIsCutOff() {
    MainWindow window;
    window.show();
    ReadSdr20Sample(window, "1523.4567", "1523.4567");
    QCOMPARE(Cell(window, 6, 6), QString("1523.4567"));

    // On screen: every displayed text that cannot run on fits inside its column.
    auto& view = *window.findChild<QTableView*>("F1Book1");
    const grid::Grid& sheet = window.sheet();
    for (int32_t r = 1; r <= sheet.LastUsedRow(); ++r) {
        for (int32_t c = 1; c <= 8; ++c) {
            if (sheet.CellAt(r, c).kind != grid::CellKind::Number) continue;
            QFont font = view.font();
            font.setBold(sheet.FormatAt(r, c).bold);
            const int needed =
                QFontMetrics(font).horizontalAdvance(Cell(window, r, c)) + 2 * grid::kCellPaddingPx;
            QVERIFY2(needed <= view.columnWidth(c - 1),
                     qPrintable(QString("(%1, %2) %3 needs %4 px of %5")
                                    .arg(r)
                                    .arg(c)
                                    .arg(Cell(window, r, c))
                                    .arg(needed)
                                    .arg(view.columnWidth(c - 1))));
        }
    }
    // A column widened by hand keeps its width through the next reduction.
    view.setColumnWidth(0, 150);
    QCOMPARE(sheet.ColumnWidth(1), 150);

    // In print: the level and the set-up count's label come out whole.
    const QString text = PrintedText(window);
    QVERIFY2(text.contains("1523.4567"), qPrintable(text));
    QVERIFY2(text.contains("No. Stn. :"), qPrintable(text));
    QCOMPARE(sheet.ColumnWidth(1), 150);
}

void UiTest::headerAndFooterCodes_data() {
    QTest::addColumn<QString>("codes");
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("centre");
    QTest::addColumn<QString>("right");
    QTest::newRow("level report footer") << "&C Page &P of &N Page(s)"
                                         << ""
                                         << " Page 3 of 5 Page(s)"
                                         << "";
    QTest::newRow("stored header") << "&A"
                                   << ""
                                   << "LEVEL"
                                   << "";
    QTest::newRow("stored footer") << "Page &P"
                                   << ""
                                   << "Page 3"
                                   << "";
    QTest::newRow("three sections") << "&LRun&C&A&RPage &P"
                                    << "Run"
                                    << "LEVEL"
                                    << "Page 3";
    QTest::newRow("ampersand and font codes") << "&\"Arial,Bold\"&12R&&D&B"
                                              << ""
                                              << "R&D"
                                              << "";
    QTest::newRow("lower-case section codes") << "&rright&lleft"
                                              << "left"
                                              << ""
                                              << "right";
    QTest::newRow("lone ampersand at the end") << "end&"
                                               << ""
                                               << "end&"
                                               << "";
}

void UiTest::headerAndFooterCodes() {
    QFETCH(QString, codes);
    QFETCH(QString, left);
    QFETCH(QString, centre);
    QFETCH(QString, right);
    const report::HeaderFooterText text =
        report::ExpandHeaderFooter(codes.toStdString(), 3, 5, "LEVEL");
    QCOMPARE(text.left, left);
    QCOMPARE(text.centre, centre);
    QCOMPARE(text.right, right);
}

void UiTest::pagesOfALongRun() {
    grid::Grid sheet;
    core::SetUpLevelSheet(sheet);
    for (int32_t row = 6; row <= 400; ++row) sheet.SetCellNumber(row, 2, row / 100.0);
    commands::SetUpLevelReport(sheet);
    QTemporaryDir folder;
    QPdfWriter writer(folder.filePath("pages.pdf"));
    writer.setResolution(300);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    report::SheetPrinter printer(sheet, [](int32_t) { return 60; });
    const std::vector<report::PrintPage>& pages = printer.Paginate(writer);
    QVERIFY(pages.size() > 5);
    QCOMPARE(pages.front().firstRow, 1);
    QVERIFY(!pages.front().titleRows);
    QCOMPARE(pages.back().lastRow, 400);
    for (size_t i = 1; i < pages.size(); ++i) {
        QVERIFY(pages[i].titleRows);
        QCOMPARE(pages[i].firstRow, pages[i - 1].lastRow + 1);
        QCOMPARE(pages[i].firstColumn, size_t{0});
        QCOMPARE(pages[i].lastColumn, size_t{8});  // the eight visible columns fit across
    }
    QString error;
    QVERIFY(printer.Print(writer, &error));

    // A note about the sheet (results an edit made stale) stands on every page under the
    // heading rows and above that page's first row, and takes no row from the run.
    sheet.SetDocumentNote(ui::kNotReducedSinceEdit);
    const QString marked = folder.filePath("marked.pdf");
    QVERIFY(report::PrintToPdf(sheet, marked.toStdString(), &error, [](int32_t) { return 60; }) >
            0);
    QProcess pdftotext;
    pdftotext.start("pdftotext", {"-layout", marked, "-"});
    QVERIFY(pdftotext.waitForFinished(30000));
    QStringList printed = QString::fromUtf8(pdftotext.readAllStandardOutput()).split('\f');
    while (!printed.isEmpty() && printed.back().trimmed().isEmpty()) printed.pop_back();
    QVERIFY(printed.size() > 5);
    int32_t expectedFirst = 6;
    for (const QString& page : printed) {
        QCOMPARE(page.count(ui::kNotReducedSinceEdit), 1);
        const qsizetype note = page.indexOf(ui::kNotReducedSinceEdit);
        QVERIFY(page.indexOf("LEVEL REPORT") < note);
        // The page's first row of the run, B of row r holding r / 100, comes after the note.
        const QRegularExpression row("^\\s+(\\d+(?:\\.\\d+)?)\\s*$",
                                     QRegularExpression::MultilineOption);
        QStringList rows;
        qsizetype firstAt = -1;
        for (auto it = row.globalMatch(page); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            if (firstAt < 0) firstAt = match.capturedStart(1);
            rows << match.captured(1);
        }
        QVERIFY(!rows.isEmpty());
        QCOMPARE(rows.first(), QString::number(expectedFirst / 100.0));
        QVERIFY(firstAt > note);
        const double last = rows.last().toDouble();
        expectedFirst = static_cast<int32_t>(std::lround(last * 100)) + 1;
    }
    QCOMPARE(expectedFirst, 401);  // every row of the run printed, none twice
}

/// The parts of a saved workbook where a mark could stand: the sheet (its cells and page
/// header), the shared strings (the text cells) and the document properties.
QString WorkbookXml(const QString& path) {
    QProcess python;
    python.start("/usr/bin/python3",
                 {"-c",
                  "import sys, zipfile\n"
                  "z = zipfile.ZipFile(sys.argv[1])\n"
                  "for part in ('xl/worksheets/sheet1.xml', 'xl/sharedStrings.xml', "
                  "'docProps/core.xml'):\n"
                  "    print('==' + part)\n"
                  "    print(z.read(part).decode())\n",
                  path});
    if (!python.waitForFinished(30000)) return {};
    return QString::fromUtf8(python.readAllStandardOutput());
}

QString PartOf(const QString& xml, const QString& part) {
    const qsizetype from = xml.indexOf("==" + part);
    if (from < 0) return {};
    const qsizetype to = xml.indexOf("\n==", from + 1);
    return xml.mid(from, to < 0 ? -1 : to - from);
}

void UiTest::staleResultsAreMarkedUntilReducedAgain() {
    MainWindow window;
    window.show();
    ReadSdr20Sample(window, "100", "100.02");
    QTemporaryDir folder;
    const auto save = [&](const QString& name) {
        window.windowing().setNextSaveName(folder.filePath(name));
        Action(window, "mnuSave")->trigger();
        return WorkbookXml(folder.filePath(name));
    };
    struct Case {
        const char* name;
        std::function<void()> act;
        bool marked;
    };
    auto& model = window.sheetModel();
    const Case cases[] = {
        {"as read and reduced", [] {}, false},
        {"a backsight re-booked", [&] { QVERIFY(model.setData(model.index(6, 1), "1.466")); },
         true},
        {"reduced again",
         [&] {
             Action(window, "mnuStnRL")->trigger();
             window.changeRLWindow()->okButton()->click();
         },
         false},
        {"an RL typed over", [&] { QVERIFY(model.setData(model.index(9, 5), "99.9")); }, true},
        {"the edit undone", [&] { QVERIFY(model.undo()); }, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        c.act();
        const int32_t lastRow = window.sheet().LastUsedRow();
        const QString cellsBefore = window.windowing().documentTitle(window.sheet());
        const QString printed = PrintedText(window);
        QVERIFY2(!printed.isEmpty(), c.name);
        QCOMPARE(printed.contains(ui::kNotReducedSinceEdit), c.marked);
        const QString xml = save(QString("level-%1.xlsx").arg(++n));
        QVERIFY2(!xml.isEmpty(), c.name);
        const QString sheetXml = PartOf(xml, "xl/worksheets/sheet1.xml");
        QCOMPARE(sheetXml.contains(QString("<oddHeader>&amp;L") + ui::kNotReducedSinceEdit),
                 c.marked);
        QCOMPARE(PartOf(xml, "docProps/core.xml").contains(ui::kNotReducedSinceEdit), c.marked);
        // No cell carries it, and the sheet is as it was.
        QVERIFY(!PartOf(xml, "xl/sharedStrings.xml").contains(ui::kNotReducedSinceEdit));
        QCOMPARE(window.sheet().LastUsedRow(), lastRow);
        QCOMPARE(window.sheet().DocumentNote(), std::string());
        QCOMPARE(window.windowing().documentTitle(window.sheet()), cellsBefore);
    }
}

void UiTest::aChangedSheetAsksBeforeClosing() {
    // What the question is answered (none: it must not be asked) and what must follow.
    struct Case {
        const char* name;
        bool edit;
        bool byExit;
        QMessageBox::StandardButton answer;  // NoButton: no question expected
        const char* saveAs;                  // the save dialog's answer; "" cancels it
        bool closes;
    };
    const Case cases[] = {
        {"nothing changed, closed", false, false, QMessageBox::NoButton, "", true},
        {"nothing changed, Exit", false, true, QMessageBox::NoButton, "", true},
        {"a typed reading, Cancel", true, false, QMessageBox::Cancel, "", false},
        {"a typed reading, Discard", true, false, QMessageBox::Discard, "", true},
        {"a typed reading, Exit, Cancel", true, true, QMessageBox::Cancel, "", false},
        {"a typed reading, Exit, Save", true, true, QMessageBox::Save, "kept.xlsx", true},
        {"a typed reading, Save cancelled", true, false, QMessageBox::Save, "", false},
    };
    for (const Case& c : cases) {
        QTemporaryDir folder;
        auto window = std::make_unique<MainWindow>();
        window->show();
        ReadSdr20Sample(*window, "100", "100.02");
        QVERIFY2(!window->changedSinceKept(), c.name);
        auto& model = window->sheetModel();
        if (c.edit) QVERIFY(model.setData(model.index(6, 1), "1.466"));
        int exits = 0;
        window->exitProgram = [&] { ++exits; };
        window->windowing().setNextSaveName(*c.saveAs ? folder.filePath(c.saveAs) : QString());
        QString asked;
        if (c.answer != QMessageBox::NoButton) {
            WhenWindowShows("SaveBeforeClosing", [&](QWidget* widget) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                asked = box->text();
                QCOMPARE(box->standardButtons(),
                         QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
                box->button(c.answer)->click();
            });
        }
        bool closed = false;
        if (c.byExit) {
            Action(*window, "mnuExit")->trigger();
            closed = exits == 1;
        } else {
            closed = window->close();
        }
        QCOMPARE(asked,
                 c.answer == QMessageBox::NoButton ? QString() : QString(ui::kSaveBeforeClosing));
        QVERIFY2(closed == c.closes, c.name);
        // Kept: the typed reading is still there; saved: the workbook is written.
        if (!c.closes) QCOMPARE(window->sheet().CellNumber(7, 2), 1.466);
        if (*c.saveAs) QVERIFY(QFileInfo::exists(folder.filePath(c.saveAs)));
    }
}

/// Types `text` as a user does: each key to whatever has the focus when it is pressed (the
/// sheet for the first, the cell's editor after it).
void Type(const QString& text) {
    for (const QChar c : text) QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
}

void UiTest::anArrowEndsATypedEntry() {
    MainWindow window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto& view = window.sheetView();
    auto& model = window.sheetModel();
    view.setFocus();
    QCOMPARE(QApplication::focusWidget(), &view);
    // Typed straight into a cell: an arrow ends the entry and moves, as Enter and Tab do.
    view.setCurrentIndex(model.index(9, 0));
    Type("QX7");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    Type("2.5");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCoreApplication::processEvents();  // the editor commits an Enter once the key is handled
    QCOMPARE(window.sheet().CellText(10, 1), std::string("QX7"));
    QCOMPARE(window.sheet().CellNumber(10, 2), 2.5);
    // Every arrow, and with Shift the selection grows from the cell just entered.
    const std::tuple<Qt::Key, Qt::KeyboardModifiers, int, int> arrows[] = {
        {Qt::Key_Left, Qt::NoModifier, 12, 1},    {Qt::Key_Up, Qt::NoModifier, 11, 2},
        {Qt::Key_Down, Qt::NoModifier, 13, 2},    {Qt::Key_Right, Qt::NoModifier, 12, 3},
        {Qt::Key_Down, Qt::ShiftModifier, 13, 2},
    };
    for (const auto& [key, modifiers, row, col] : arrows) {
        view.setCurrentIndex(model.index(11, 1));
        Type("7");
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
        QCOMPARE(window.sheet().CellNumber(12, 2), 7.0);
        QCOMPARE(view.currentIndex(), model.index(row - 1, col - 1));
        QVERIFY(!view.isPersistentEditorOpen(view.currentIndex()) && !view.typingEntry());
    }
    QCOMPARE(window.sheet().Selection().row2, 13);
    // Begun with F2, the arrows move within the text.
    view.setCurrentIndex(model.index(9, 0));
    QTest::keyClick(&view, Qt::Key_F2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    Type("-");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCoreApplication::processEvents();
    QCOMPARE(window.sheet().CellText(10, 1), std::string("QX-7"));
}

void UiTest::dialogPathsGiveBackTheBytes() {
    QTemporaryDir dir;
    const std::string root = QFile::encodeName(dir.path()).toStdString();
    const std::string latin1 = root + "/Medici\xf3n";
    const std::string utf8 = root + "/Medici\xc3\xb3n";
    for (const std::string& folder : {latin1, utf8}) {
        QVERIFY(std::filesystem::create_directory(folder));
    }
    // Two books whose names Qt shows alike, and one of a name it shows as it is.
    for (const char* name : {"R\xe1pido.SDR", "R\xe9pido.SDR", "R\xe1pido.DAT", "obra.SDR"}) {
        std::ofstream(latin1 + "/" + name) << "book\n";
    }
    ui::DialogPaths paths;
    const QString linked = paths.Folder(latin1);
    // The folders read alike, yet each is reached: the Latin-1 one by a link of its own.
    QVERIFY(QFileInfo(linked).isDir());
    QVERIFY(QFileInfo(linked).fileName().startsWith(QString::fromUtf8("Medici\u00f3n")));
    QVERIFY(QFileInfo::exists(linked + "/obra.SDR"));
    QCOMPARE(paths.Folder(utf8), QFile::decodeName(QByteArray::fromStdString(utf8)));
    QCOMPARE(paths.Folder(latin1), linked);  // one link a folder
    const QString replaced = QString::fromUtf8("R\ufffdpido");
    struct Case {
        const char* name;
        QString chosen;
        std::string bytes;
    };
    const Case cases[] = {
        {"a name Qt shows as it is", linked + "/obra.SDR", latin1 + "/obra.SDR"},
        {"a new name", linked + "/new.xlsx", latin1 + "/new.xlsx"},
        {"a name picked from the listing", linked + "/" + replaced + ".DAT",
         latin1 + "/R\xe1pido.DAT"},
        // Two entries show so: which one was meant cannot be told, and nothing is guessed.
        {"a name two entries show as", linked + "/" + replaced + ".SDR",
         latin1 + "/R\xef\xbf\xbdpido.SDR"},
        {"a folder below the link", linked + "/sub/a.SDR", latin1 + "/sub/a.SDR"},
        {"a path outside any link", QString::fromUtf8("/tmp/x.SDR"), "/tmp/x.SDR"},
        {"cancelled", QString(), ""},
    };
    for (const Case& c : cases) QCOMPARE(paths.Bytes(c.chosen), c.bytes);
    // A file offered by its bytes comes back by them, in the link or not.
    const std::string offered = latin1 + "/R\xe1pido.xlsx";
    QCOMPARE(paths.Bytes(paths.File(offered)), offered);
    const std::string plain = root + "/R\xe1pido.pdf";
    QCOMPARE(paths.Bytes(paths.File(plain)), plain);
}

void UiTest::screenshot() {
    const QByteArray path = qgetenv("RENDLE_SCREENSHOT");
    if (path.isEmpty()) QSKIP("set RENDLE_SCREENSHOT to a PNG path to take the README's picture");
    MainWindow window;
    window.resize(ui::Twips(8340), ui::Twips(6600));
    window.show();
    window.windowing().setNextFileName(Sample("ring-road.sdr20.SDR"));
    WhenWindowShows("FormRL",
                    [](QWidget* form) { form->findChild<QPushButton*>("CmdRLOK")->click(); });
    Action(window, "mnuSDR20")->trigger();
    window.sheet().SetCellText(2, 2, "Ring road, north loop");
    window.sheetModel().flushChanges();
    QCoreApplication::processEvents();
    QVERIFY(window.grab().save(QString::fromLocal8Bit(path)));

    // With RENDLE_TOOLTIP_SHOT, the misclose cell's tooltip over the window as well.
    const QByteArray tipPath = qgetenv("RENDLE_TOOLTIP_SHOT");
    if (tipPath.isEmpty()) return;
    auto& view = window.sheetView();
    const QModelIndex misclose = window.sheetModel().index(window.run().LastDataRow + 2, 5);
    const QRect cell = view.visualRect(misclose);
    const QPoint at = view.viewport()->mapToGlobal(cell.bottomLeft() - QPoint(cell.width() * 3, 0));
    QToolTip::showText(at, misclose.data(Qt::ToolTipRole).toString(), view.viewport());
    QWidget* tip = nullptr;
    QTRY_VERIFY((tip = [] {
                    for (QWidget* w : QApplication::topLevelWidgets()) {
                        if (w->inherits("QTipLabel") && w->isVisible()) return w;
                    }
                    return static_cast<QWidget*>(nullptr);
                }()) != nullptr);
    // The window and the tooltip, which may reach past the window's edge.
    const QRect tipRect(tip->pos() - window.pos(), tip->size());
    QPixmap shot(window.rect().united(tipRect).size());
    shot.fill(Qt::white);
    QPainter painter(&shot);
    painter.drawPixmap(0, 0, window.grab());
    painter.drawPixmap(tipRect.topLeft(), tip->grab());
    painter.end();
    QVERIFY(shot.save(QString::fromLocal8Bit(tipPath)));
}

QTEST_MAIN(UiTest)
#include "ui_test.moc"
