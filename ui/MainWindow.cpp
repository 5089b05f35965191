#include "ui/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>

#include "commands/BenchmarkRL.h"
#include "commands/Output.h"
#include "commands/ReadCommand.h"
#include "core/Checks.h"
#include "core/LevelSheet.h"
#include "grid/Utf8.h"
#include "grid/Workbook.h"
#include "readers/Formats.h"
#include "report/CheckNotes.h"
#include "ui/AboutWindow.h"
#include "ui/Help.h"
#include "ui/RLWindow.h"
#include "ui/SheetModel.h"
#include "ui/SheetView.h"
#include "ui/Twips.h"

namespace rendle::ui {

MainWindow::MainWindow() : windowing_(this) {
    setObjectName("FormMain");
    setWindowTitle("Rendle Ver 1.2 - Orvanta");
    exitProgram = [] { QCoreApplication::exit(0); };

    model_ = new SheetModel(sheet_, this);
    // The summary block's cells tell the checks of the run: the misclose its verdict and the
    // arithmetic check, the length the sight balance. Nothing in the sheet changes.
    model_->setToolTips([this](int32_t row, int32_t col) { return summaryToolTip(row, col); });
    connect(model_, &SheetModel::edited, this, [this] { changedSinceKept_ = true; });
    // A read undone takes the run state and its checks back with the sheet.
    model_->setCaptureRest([this]() -> std::function<void()> {
        return [this, run = run_, checks = checks_, input = reducedInput_,
                book = windowing_.fieldBook()] {
            run_ = run;
            checks_ = checks;
            reducedInput_ = input;
            windowing_.setFieldBookOnSheet(book);
        };
    });
    setAcceptDrops(true);
    auto* client = new QWidget(this);
    client->setObjectName("ClientArea");
    setCentralWidget(client);
    // The grid sits at the top-left corner at its own fixed size; resizing the window moves
    // nothing.
    view_ = new SheetView(*model_, client);
    view_->setGeometry(0, 0, Twips(8295), Twips(10500));
    windowing_.setColumnWidths([this](int32_t col) {
        return col <= SheetModel::kColumns ? view_->columnWidth(col - 1) : 0;
    });
    buildMenus();
    resize(Twips(8340), Twips(9840) + menuBar()->sizeHint().height());
    formLoad();
}

std::vector<MainWindow::ReducedInput> MainWindow::reducedInput() const {
    std::vector<ReducedInput> input;
    if (run_.FirstDataRow < core::kFirstDataRow) return input;
    const auto add = [&](int32_t row, int32_t col) {
        const grid::Cell& cell = sheet_.CellAt(row, col);
        // A number's text as displayed is no part of the input.
        input.push_back({row, col, cell.kind, cell.number,
                         cell.kind == grid::CellKind::Text ? cell.text : std::string()});
    };
    for (int32_t row = run_.FirstDataRow; row <= run_.LastDataRow; ++row) {
        for (const int32_t col : {core::kColBS, core::kColIS, core::kColFS, core::kColRiseFall,
                                  core::kColRL, core::kColAdjRL, core::kColDist}) {
            add(row, col);
        }
    }
    // The summary block: misclose, permissible error and length.
    for (int32_t row = run_.LastDataRow + 3; row <= run_.LastDataRow + 5; ++row) {
        add(row, 2);
        add(row, core::kColRL);
    }
    return input;
}

bool MainWindow::isResultCell(int32_t row, int32_t col) const {
    const int32_t last = run_.LastDataRow;
    if (row >= run_.FirstDataRow && row <= last) {
        return col == core::kColRiseFall || col == core::kColRL || col == core::kColAdjRL;
    }
    return row >= last + 3 && row <= last + 5 && (col == 2 || col == core::kColRL);
}

QString MainWindow::summaryToolTip(int32_t row, int32_t col) const {
    // The summary block's cells tell the checks of the run as the reduction read it: the
    // misclose its verdict and the arithmetic check (or why the run was not reduced), the
    // permissible error its tolerance, the length the sight balance. Nothing in the sheet
    // changes. Once a reading is edited, every result says that it no longer follows.
    if (!checks_) return {};
    if (isResultCell(row, col) && reducedInput() != reducedInput_) {
        return kResultsNoLongerFollow;
    }
    const int32_t last = run_.LastDataRow;
    std::string tip;
    if (row == last + 3 && (col == core::kColRL || (col == 2 && !checks_->reduced))) {
        tip = report::MiscloseNote(*checks_);
    } else if (col == core::kColRL && row == last + 4) {
        tip = report::PermissibleNote(*checks_);
    } else if (col == core::kColRL && row == last + 5) {
        tip = report::BalanceNote(*checks_);
    }
    return QString::fromStdString(tip);
}

void MainWindow::reduced(const std::optional<core::ReductionResult>& reduction) {
    if (!reduction || reduction->status == core::ReductionStatus::NoData) {
        checks_.reset();
        reducedInput_.clear();
        return;
    }
    checks_ = core::CheckRun(run_, reduction, {});
    reducedInput_ = reducedInput();
    changedSinceKept_ = false;
}

bool MainWindow::resultsStale() const {
    return checks_ && reducedInput() != reducedInput_;
}

bool MainWindow::save() {
    // The mark rides on the sheet only while it is written: no cell of it changes.
    sheet_.SetDocumentNote(resultsStale() ? kNotReducedSinceEdit : "");
    const commands::SaveResult saved =
        commands::SaveLevelSheet(sheet_, windowing_, grid::WriteWorkbookFile);
    sheet_.SetDocumentNote("");
    if (saved.status != commands::SaveStatus::Saved) return false;
    changedSinceKept_ = false;
    return true;
}

void MainWindow::print() {
    sheet_.SetDocumentNote(resultsStale() ? kNotReducedSinceEdit : "");
    commands::PrintLevelReport(sheet_, windowing_);
    sheet_.SetDocumentNote("");
}

bool MainWindow::mayClose() {
    if (!changedSinceKept_) return true;
    QMessageBox box(QMessageBox::Question, windowTitle(), kSaveBeforeClosing,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setObjectName("SaveBeforeClosing");
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
        case QMessageBox::Save:
            return save();  // a cancelled or failed save keeps the window open
        case QMessageBox::Discard:
            return true;
        default:
            return false;
    }
}

void MainWindow::read(const std::function<commands::ReadCommandResult()>& command) {
    grid::Grid before = sheet_;
    std::function<void()> restoreRest = model_->captureRest();
    windowing_.beginRead();
    const commands::ReadCommandResult result = command();
    if (!result.cleared) return;  // refused before the sheet was touched
    windowing_.commitRead();
    // The cleared sheet, and all the read put in it, is one step to undo: a cancelled file
    // dialog loses nothing that was typed.
    model_->pushSheetStep(std::move(before), std::move(restoreRest));
    reduced(result.reduction);
    view_->scrollToTop();
    view_->horizontalScrollBar()->setValue(0);
}

void MainWindow::openFieldBook(const QString& path) {
    openFieldBookNamed(QFile::encodeName(path).toStdString());
}

void MainWindow::openFieldBookNamed(const std::string& bytes) {
    read([&] {
        windowing_.setFieldBook(bytes);
        return commands::OpenFieldBook(bytes, sheet_, run_, windowing_);
    });
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.first().isLocalFile()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) return;
    event->acceptProposedAction();
    // Read once the drop has ended, so that the file manager is not kept waiting while FormRL
    // asks for the RLs. The path's own bytes, as the URL sends them: a name in Latin-1 comes as
    // %E1, which is no UTF-8.
    const std::string bytes =
        QByteArray::fromPercentEncoding(urls.first().path(QUrl::FullyEncoded).toLatin1())
            .toStdString();
    QTimer::singleShot(0, this, [this, bytes] { openFieldBookNamed(bytes); });
}

void OpenFromCommandLine(MainWindow& window, const std::vector<std::string>& arguments,
                         std::ostream& err) {
    // The first "--" ends the options: every word after it is a name, "--help" included.
    std::vector<std::string> names;
    bool ended = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--" && !ended) {
            ended = true;
            continue;
        }
        names.push_back(arguments[i]);
    }
    if (names.empty()) return;
    for (size_t i = 1; i < names.size(); ++i) {
        err << "rendle: " << grid::ValidUtf8(names[i])
            << " was not opened: the level sheet holds one field book at a time\n";
    }
    QTimer::singleShot(0, &window, [&window, path = names[0]] { window.openFieldBookNamed(path); });
}

std::optional<std::string> TerminalAnswer(const std::vector<std::string>& arguments) {
    for (size_t i = 1; i < arguments.size() && arguments[i] != "--"; ++i) {
        if (arguments[i] == "--version") return "rendle " RENDLE_VERSION "\n";
        if (arguments[i] == "--help" || arguments[i] == "-h") {
            return "Usage: rendle [FIELD-BOOK]\n"
                   "Reduces a levelling run in a level sheet. A field book named is read as its\n"
                   "File menu command reads it, its format told from its content (" +
                   readers::FormatNames() +
                   ");\nthe sheet holds one field book at a time.\n\n"
                   "  --help     print this and end\n"
                   "  --version  print the version and end\n\n"
                   "Without windows: rendle-reduce FIELD-BOOK; a network of runs: rendle-net.\n";
        }
    }
    return std::nullopt;
}

MainWindow::~MainWindow() {
    // The sheet on screen goes before the grid it shows, which is a member of this window.
    delete view_;
    delete model_;
}

void MainWindow::formLoad() {
    help::SetUp(this);
    core::SetUpLevelSheet(sheet_);
}

void MainWindow::formUnload() {
    // The help viewer learns that this program no longer needs it.
    help::ShutDown();
    ++unloadCount_;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!mayClose()) {
        event->ignore();
        return;
    }
    formUnload();
    event->accept();
}

QAction* MainWindow::addCommand(QMenu* menu, const char* name, const char* caption,
                                std::function<void()> command) {
    auto* action = new QAction(caption, this);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, [command = std::move(command)] { command(); });
    if (menu) menu->addAction(action);
    return action;
}

void MainWindow::buildMenus() {
    using readers::FieldBookFormat;
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("mnuFinput");
    file->menuAction()->setObjectName("mnuFinput");
    file->menuAction()->setProperty("helpContextId", help::kFileMenu);
    addCommand(file, "mnuSDR20", "&SDR20 Format ",
               [this] { readFieldBook(FieldBookFormat::SDR20); });
    addCommand(file, "mnuSDR33", "S&DR33 Format",
               [this] { readFieldBook(FieldBookFormat::SDR33); });
    addCommand(file, "mnuZeiss", "&Zeiss Format", [this] { readFieldBook(FieldBookFormat::M5); });
    file->addSeparator()->setObjectName("mnu7");
    addCommand(file, "mnuSave", "&Save", [this] { save(); });
    addCommand(file, "mnuPrint", "&Print", [this] { print(); });
    file->addSeparator()->setObjectName("mnuI");
    addCommand(file, "mnuExit", "&Exit", [this] { exit(); });

    // Level Parameters is a command on the menu bar itself.
    QAction* levelParameters =
        addCommand(nullptr, "mnuStnRL", "&Level Parameters ", [this] { this->levelParameters(); });
    levelParameters->setProperty("helpContextId", help::kLevelParameters);
    menuBar()->addAction(levelParameters);

    QMenu* helpMenu = menuBar()->addMenu("&Help");
    helpMenu->setObjectName("mnuHelp");
    helpMenu->menuAction()->setObjectName("mnuHelp");
    addCommand(helpMenu, "mnuContents", "&Contents", [] { help::ShowContents(); });
    addCommand(helpMenu, "mnuAbout", "&About", [this] { showAbout(); });

    help::InstallContextHelp(this, help::kFormMain);
    help::InstallMenuHelp(menuBar(), help::kFormMain);
}

void MainWindow::showAbout() {
    if (!about_) {
        // Its own window: it keeps the program running after the main window has closed.
        about_ = new AboutWindow(nullptr);
        about_->setAttribute(Qt::WA_DeleteOnClose);
    }
    about_->show();
    about_->raise();
    about_->activateWindow();
}

void MainWindow::readFieldBook(readers::FieldBookFormat format) {
    read([&] { return commands::RunReadCommand(format, sheet_, run_, windowing_); });
}

void MainWindow::levelParameters() {
    const commands::RLBoxes boxes = commands::PrefillRLBoxes(run_);
    if (!changeRL_) {
        // A window of its own, not a child of the main window: it outlives a closed main
        // window, and the program runs on until it is closed too.
        changeRL_ = new RLWindow(RLWindow::Kind::Change, nullptr);
        changeRL_->setAttribute(Qt::WA_DeleteOnClose);
        connect(changeRL_, &RLWindow::confirmed, this, [this](const commands::RLBoxes& typed) {
            // The reduction is one step to undo, as a read is: the sheet, the RLs and the checks
            // go back to what they were, and what was typed before it can still be undone.
            grid::Grid before = sheet_;
            std::function<void()> restoreRest = model_->captureRest();
            const core::ReductionResult reduction =
                commands::LevelParametersOK(sheet_, run_, typed, windowing_);
            // "No Data ": nothing was reduced, so nothing to undo.
            if (reduction.status != core::ReductionStatus::NoData) {
                model_->pushSheetStep(std::move(before), std::move(restoreRest));
            }
            reduced(reduction);
        });
    }
    changeRL_->fill(boxes);
    changeRL_->show();
    changeRL_->raise();
    changeRL_->activateWindow();
}

void MainWindow::exit() {
    // Ends the program at once, no window's unload handler running; a changed sheet is not
    // thrown away without a question.
    if (!mayClose()) return;
    exitProgram();
}

}  // namespace rendle::ui
