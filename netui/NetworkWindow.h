// rendle-network's window: the job on the left (inputs with their levelling lines and
// sections, benchmarks, options), the adjustment on the right (the drawing, the tables, a
// summary line), and the outputs rendle-net writes, made by the same code.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "network/NetworkJob.h"
#include "ui/DialogPaths.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableView;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace rendle::netui {

class DrawingView;
class SheetTable;

class NetworkWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit NetworkWindow(QWidget* parent = nullptr);
    ~NetworkWindow() override;

    /// Fills the panel with `job` (its inputs listed anew); `jobFile` is where it was read from
    /// (empty: none).
    void setJob(const network::NetworkJob& job, const std::string& jobFile = {});
    /// The job as the panel stands, outputs left empty.
    network::NetworkJob job() const;
    /// Adds field books, files of observations, Gama inputs and folders (every field book in
    /// them) to the job; a job file opens as the job. Paths are the file system's bytes.
    void addPaths(const std::vector<std::string>& paths);

    /// F5: adjusts the job off the window's thread.
    void adjust();
    /// Escape: stops the adjustment under way.
    void cancel();
    bool busy() const { return adjusting_.joinable() || !listers_.empty(); }
    bool adjusting() const { return adjusting_.joinable(); }
    /// The last adjustment's outcome; none before the first.
    const network::JobResult* result() const { return result_.get(); }
    /// What the last adjustment said, a line each ("rendle-net: " taken off).
    const std::vector<std::string>& messages() const { return said_; }
    /// The summary line.
    QString summary() const;

    // The outputs, each through a Save dialog offering a name beside the first input.
    bool saveWorkbook();
    bool printReport();
    bool exportSvg();
    bool exportGamaXml();
    bool saveJobAs();
    bool openJob();
    bool openInputs();
    /// The corrections of the job, in their own dialog; true when they were changed.
    bool editCorrections();

    /// Test hooks: the next file dialog is answered with this path's bytes (empty: cancelled);
    /// messages go to `tell` instead of a message box; the close question is answered.
    void setNextFileName(const std::string& path) {
        nextFileName_ = path;
        nextFileNameSet_ = true;
    }
    std::function<void(const QString&)> tell;
    std::function<int()> answerCloseQuestion;

    DrawingView* drawingView() const { return drawing_; }
    QTableView* tableView(const QString& name) const;
    QTreeWidget* inputsTree() const { return inputs_; }
    QTableWidget* benchmarksTable() const { return benchmarks_; }

  signals:
    void adjustmentFinished();
    void listingFinished();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Listed;
    void buildMenus();
    QWidget* buildJobPanel();
    QWidget* buildResults();
    void listInputs(const std::vector<std::string>& paths, bool relist);
    void showOutline(const std::string& path, const network::InputOutline& outline, bool fromFolder,
                     unsigned generation);
    void listingDone(std::thread::id id);
    void relistSoon();
    void adjusted(std::shared_ptr<network::JobResult> result, std::vector<std::string> said,
                  bool cancelled);
    void showResult();
    void showStage(const QString& stage);
    void setBusy(bool on);
    void removeSelectedInputs();
    void loadBenchmarksFile();
    /// A file to read, through the Open dialog (or the test hook): its name's bytes, or empty.
    std::string askFileToOpen(const QString& title, const QString& filter);
    void pasteBenchmarks();
    void ensureBlankBenchmarkRow();
    void updateTitle();
    void updatePointNames();
    void say(const QString& text);
    std::vector<std::string> typedFixes(QString* error) const;
    std::string offeredName(const char* extension) const;
    std::string askSaveName(const QString& title, const char* extension, const QString& filter);
    bool writeOutput(const QString& what, const std::function<void(const std::string&)>& write,
                     const char* extension, const QString& filter);
    bool resultIsCurrent();
    bool afterAdjusting(const QString& what, std::function<void()> output);
    std::string jobText() const;

    // The job panel.
    QTreeWidget* inputs_ = nullptr;
    QTableWidget* benchmarks_ = nullptr;
    QLineEdit* benchmarksFile_ = nullptr;
    QComboBox* weights_ = nullptr;
    QDoubleSpinBox* sigmaKm_ = nullptr;
    QDoubleSpinBox* sigmaSetUp_ = nullptr;
    QComboBox* class_ = nullptr;
    QComboBox* snoop_ = nullptr;
    QDoubleSpinBox* confidence_ = nullptr;
    QLineEdit* datum_ = nullptr;
    QPushButton* adjustButton_ = nullptr;
    QPushButton* corrections_ = nullptr;  ///< says the job's corrections; opens their dialog
    // The results.
    QLabel* summary_ = nullptr;
    DrawingView* drawing_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    std::map<QString, QTableView*> views_;
    std::map<QString, SheetTable*> tables_;
    QTreeWidget* messages_ = nullptr;
    // The work under way.
    QLabel* stage_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* cancel_ = nullptr;

    network::NetworkJob base_;  ///< what the panel does not show (approximate heights, ...)
    std::vector<std::string> inputPaths_;
    std::map<std::string, QTreeWidgetItem*> inputItems_;
    std::map<std::string, unsigned> listedGeneration_;
    unsigned generation_ = 0;
    unsigned jobStart_ = 0;  ///< the listing generation the job shown began with
    std::vector<std::string> pointNames_;
    bool confidenceGiven_ = false;
    std::string jobFile_;
    std::string savedJobText_;
    std::string adjustedJobText_;   ///< the job the results shown are of
    std::string adjustingJobText_;  ///< the job under way
    std::vector<std::thread> listers_;
    std::thread adjusting_;
    std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> cancelAdjusting_;
    std::shared_ptr<network::JobResult> result_;
    std::shared_ptr<const network::Drawing> shownDrawing_;
    std::vector<std::string> said_;
    std::function<void()> pendingOutput_;  ///< asked for while adjusting, made when it ends
    ui::DialogPaths dialogPaths_;
    std::string nextFileName_;
    bool nextFileNameSet_ = false;
    bool syncing_ = false;  ///< a selection is being passed between table and drawing
    QTimer* relist_ = nullptr;
};

}  // namespace rendle::netui
