// FormMain: the program's main window with the level sheet, the menu bar and its commands.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>

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
    void levelParameters();
    void exit();
    void showAbout();
    /// The open About window, if any.
    QDialog* aboutWindow() const { return about_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void formLoad();
    void formUnload();
    void buildMenus();
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
};

}  // namespace rendle::ui
