// FormMain: the program's main window with the level sheet, the menu bar and its commands.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "commands/ReadCommand.h"
#include "core/Checks.h"
#include "core/RunState.h"
#include "grid/Grid.h"
#include "readers/FieldBook.h"
#include "ui/QtWindowing.h"
#include "ui/RLWindow.h"

class QAction;
class QMenu;

namespace rendle::ui {

class SheetModel;
class SheetView;

class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    MainWindow();
    ~MainWindow() override;

    grid::Grid& sheet() { return sheet_; }
    core::RunState& run() { return run_; }
    QtWindowing& windowing() { return windowing_; }
    SheetModel& sheetModel() { return *model_; }
    SheetView& sheetView() { return *view_; }
    /// The open FormChangeRL, if any.
    RLWindow* changeRLWindow() const { return changeRL_; }

    /// How File > Exit ends the program; tests replace it to watch it happen.
    std::function<void()> exitProgram;
    /// Counts runs of the unload handler, for tests.
    int unloadCount() const { return unloadCount_; }

    // The menu commands.
    void readFieldBook(readers::FieldBookFormat format);
    /// A field book given by name (command line, "Open with", a drop): read on the road of its
    /// format's command, told from its content.
    void openFieldBook(const QString& path);
    /// The same for a name given as the bytes the file system knows it by, whatever their
    /// encoding (a command-line argument).
    void openFieldBookNamed(const std::string& bytes);
    /// The checks of the run as the last reduction left it, for the summary block's tooltips.
    const std::optional<core::RunChecks>& checks() const { return checks_; }
    void levelParameters();
    /// File > Save; true when the workbook was written.
    bool save();
    void print();
    void exit();
    /// Whether the sheet changed since it was last read, reduced or saved: closing asks first.
    bool changedSinceKept() const { return changedSinceKept_; }
    /// Whether the sheet was edited after its last reduction, so that its results no longer
    /// follow from it: the printed report and the saved workbook say so.
    bool resultsStale() const;
    void showAbout();
    /// The open About window, if any.
    QDialog* aboutWindow() const { return about_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void formLoad();
    void formUnload();
    void buildMenus();
    /// Runs a read as one step to undo, then shows the new run from its top-left corner.
    void read(const std::function<commands::ReadCommandResult()>& command);
    /// Keeps the checks of the sheet as this reduction read it.
    void reduced(const std::optional<core::ReductionResult>& reduction);
    QString summaryToolTip(int32_t row, int32_t col) const;
    /// Asks "Save the level sheet before closing?" when the sheet changed since it was kept;
    /// true when closing may go on (saved, discarded, or nothing to ask).
    bool mayClose();
    /// The readings, distances and starting RL of the data rows as the last reduction read
    /// them, and the results it wrote, to tell whether its results still follow from the sheet.
    struct ReducedInput {
        int32_t row;
        int32_t col;
        grid::CellKind kind;
        double number;
        std::string text;
        bool operator==(const ReducedInput&) const = default;
    };
    std::vector<ReducedInput> reducedInput() const;
    /// A cell of the last reduction's results: rise/fall, RL or adjusted RL of a data row, or
    /// the summary block.
    bool isResultCell(int32_t row, int32_t col) const;
    QAction* addCommand(QMenu* menu, const char* name, const char* caption,
                        std::function<void()> command);

    grid::Grid sheet_;
    core::RunState run_;
    QtWindowing windowing_;
    SheetModel* model_ = nullptr;
    SheetView* view_ = nullptr;
    QPointer<RLWindow> changeRL_;
    QPointer<QDialog> about_;
    int unloadCount_ = 0;
    std::optional<core::RunChecks> checks_;
    std::vector<ReducedInput> reducedInput_;
    bool changedSinceKept_ = false;
};

/// The mark of a printed report and a saved workbook whose results an edit made stale.
inline constexpr const char* kNotReducedSinceEdit =
    "Results not reduced since the sheet was edited";
/// The question before a changed sheet is closed.
inline constexpr const char* kSaveBeforeClosing = "Save the level sheet before closing?";

/// The tooltip of a result cell after the readings it came from were edited.
inline constexpr const char* kResultsNoLongerFollow =
    "The sheet changed since the last reduction: these results no longer follow from its "
    "readings. Level Parameters reduces it again.";

/// What `rendle` does with its arguments once the main window shows: a field book named on the
/// command line (a file manager's "Open with" gives one) is opened by its bytes; the sheet holds
/// one run, so any further book is named on `err` as not opened. Arguments that Qt took are gone
/// from `arguments` already; the first is the program.
void OpenFromCommandLine(MainWindow& window, const std::vector<std::string>& arguments,
                         std::ostream& err);

/// What `rendle --help` and `rendle --version` print, without starting the program; nothing for
/// any other command line.
std::optional<std::string> TerminalAnswer(const std::vector<std::string>& arguments);

}  // namespace rendle::ui
