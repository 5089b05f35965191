#include "netui/NetworkWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStringListModel>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "core/RunState.h"
#include "core/ToleranceClasses.h"
#include "grid/AtomicFile.h"
#include "grid/NumberFormat.h"
#include "grid/Workbook.h"
#include "netui/CorrectionsDialog.h"
#include "netui/DrawingView.h"
#include "netui/SheetTable.h"
#include "network/JobFile.h"
#include "network/NaturalOrder.h"
#include "network/NetworkInput.h"
#include "report/NetworkPrinter.h"
#include "ui/Help.h"

namespace rendle::netui {

namespace {

namespace fs = std::filesystem;
namespace net = rendle::network;
using ui::FromBytes;
using ui::ToBytes;

const QString kTitle = QStringLiteral("Rendle Network");

/// An input of no more sections than this is listed with its lines open.
constexpr size_t kSectionsShownOpen = 40;

/// A Cancel pressed while the job runs: thrown from its progress callback.
struct AdjustmentCancelled {};

/// The tables of the results, in the workbook's order of sheets.
const char* const kTables[] = {
    "Summary", "Heights", "Observations", "Loops", "Lines between benchmarks", "Sections run twice",
    "Snooping"};

QString Mm(double metres) {
    return QString::fromStdString(grid::FormatNumber(metres * 1000.0, "0.00"));
}

/// The program's own words, without the head rendle-net puts on them for a terminal.
std::string Plain(std::string line) {
    constexpr std::string_view kHead = "rendle-net: ";
    if (line.starts_with(kHead)) line.erase(0, kHead.size());
    return line;
}

/// The name column of the benchmarks offers the points the inputs hold.
class NameDelegate : public QStyledItemDelegate {
  public:
    NameDelegate(QStringListModel* names, QObject* parent)
        : QStyledItemDelegate(parent), names_(names) {}
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor); line && index.column() == 0) {
            auto* completer = new QCompleter(names_, line);
            completer->setCaseSensitivity(Qt::CaseInsensitive);
            line->setCompleter(completer);
        }
        return editor;
    }

  private:
    QStringListModel* names_;
};

/// Every regular file of a folder, in natural order.
std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        std::error_code kind;
        if (entry.is_regular_file(kind)) files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end(),
              [](const std::string& a, const std::string& b) { return net::NaturalLess(a, b); });
    return files;
}

bool IsJobFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string first(net::kJobFileHeading.size(), '\0');
    in.read(first.data(), static_cast<std::streamsize>(first.size()));
    return in && first == net::kJobFileHeading;
}

}  // namespace

NetworkWindow::NetworkWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName("NetworkWindow");
    setAcceptDrops(true);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(buildJobPanel());
    split->addWidget(buildResults());
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({380, 820});
    setCentralWidget(split);

    stage_ = new QLabel(this);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 0);
    progress_->setMaximumWidth(160);
    cancel_ = new QPushButton(tr("Cancel"), this);
    cancel_->setObjectName("Cancel");
    connect(cancel_, &QPushButton::clicked, this, &NetworkWindow::cancel);
    statusBar()->addWidget(stage_, 1);
    statusBar()->addPermanentWidget(progress_);
    statusBar()->addPermanentWidget(cancel_);
    setBusy(false);

    relist_ = new QTimer(this);
    relist_->setSingleShot(true);
    relist_->setInterval(400);
    connect(relist_, &QTimer::timeout, this, [this] { listInputs(inputPaths_, true); });

    buildMenus();
    ui::help::SetUp(this);
    ui::help::InstallContextHelp(this, ui::help::kNetworkWindow);
    resize(1200, 760);
    savedJobText_ = jobText();
    updateTitle();
}

NetworkWindow::~NetworkWindow() {
    *stop_ = true;
    if (cancelAdjusting_) *cancelAdjusting_ = true;
    if (adjusting_.joinable()) adjusting_.join();
    for (std::thread& lister : listers_) lister.join();
    // The tables show the sheets of the result, which goes before the widgets do.
    for (auto& [name, table] : tables_) table->setSheet(nullptr);
}

void NetworkWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    const auto add = [this](QMenu* menu, const QString& text, const QKeySequence& keys, auto slot) {
        QAction* action = menu->addAction(text);
        action->setShortcut(keys);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    add(file, tr("&Open..."), QKeySequence::Open, [this] { openInputs(); });
    add(file, tr("Open &Job..."), QKeySequence(tr("Ctrl+J")), [this] { openJob(); });
    add(file, tr("Save Job &As..."), QKeySequence(tr("Ctrl+Shift+J")), [this] { saveJobAs(); });
    file->addSeparator();
    add(file, tr("&Save Workbook..."), QKeySequence::Save, [this] { saveWorkbook(); });
    add(file, tr("&Print Report to PDF..."), QKeySequence::Print, [this] { printReport(); });
    add(file, tr("Export &Drawing (SVG)..."), QKeySequence(), [this] { exportSvg(); });
    add(file, tr("Export &Gama XML..."), QKeySequence(), [this] { exportGamaXml(); });
    file->addSeparator();
    add(file, tr("E&xit"), QKeySequence::Quit, [this] { close(); });
    QMenu* network = menuBar()->addMenu(tr("&Network"));
    add(network, tr("&Adjust"), QKeySequence(Qt::Key_F5), [this] { adjust(); });
    add(network, tr("&Fit Drawing"), QKeySequence(tr("Ctrl+0")), [this] { drawing_->fit(); });
    QMenu* help = menuBar()->addMenu(tr("&Help"));
    add(help, tr("&Contents"), QKeySequence(), [] { ui::help::ShowContents(); });
    add(help, tr("The &Network Window"), QKeySequence(),
        [this] { ui::help::ShowContext(ui::help::kNetworkWindow, this); });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &NetworkWindow::cancel);
}

QWidget* NetworkWindow::buildJobPanel() {
    auto* panel = new QWidget(this);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(6, 6, 6, 6);

    layout->addWidget(new QLabel(tr("Inputs: field books, observations (.csv), Gama (.gkf)")));
    inputs_ = new QTreeWidget(panel);
    inputs_->setObjectName("Inputs");
    inputs_->setHeaderLabels({tr("Input"), tr("dh (m)"), tr("Length (km)"), tr("Set-ups")});
    inputs_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    inputs_->header()->setStretchLastSection(false);
    inputs_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int col = 1; col < 4; ++col) {
        inputs_->header()->setSectionResizeMode(col, QHeaderView::ResizeToContents);
    }
    inputs_->installEventFilter(this);
    layout->addWidget(inputs_, 3);
    auto* inputButtons = new QHBoxLayout;
    auto* addInputs = new QPushButton(tr("Add..."), panel);
    auto* removeInputs = new QPushButton(tr("Remove"), panel);
    connect(addInputs, &QPushButton::clicked, this, [this] { openInputs(); });
    connect(removeInputs, &QPushButton::clicked, this, &NetworkWindow::removeSelectedInputs);
    inputButtons->addWidget(addInputs);
    inputButtons->addWidget(removeInputs);
    inputButtons->addStretch();
    layout->addLayout(inputButtons);

    layout->addWidget(new QLabel(tr("Benchmarks (held fixed; a sigma weights one)")));
    benchmarks_ = new QTableWidget(0, 3, panel);
    benchmarks_->setObjectName("Benchmarks");
    benchmarks_->setHorizontalHeaderLabels({tr("Name"), tr("Height (m)"), tr("Sigma (mm)")});
    benchmarks_->horizontalHeader()->setStretchLastSection(true);
    auto* names = new QStringListModel(this);
    names->setObjectName("PointNames");
    benchmarks_->setItemDelegate(new NameDelegate(names, benchmarks_));
    benchmarks_->installEventFilter(this);
    connect(benchmarks_, &QTableWidget::itemChanged, this, [this] {
        ensureBlankBenchmarkRow();
        relistSoon();
    });
    ensureBlankBenchmarkRow();
    layout->addWidget(benchmarks_, 2);
    auto* fileRow = new QHBoxLayout;
    benchmarksFile_ = new QLineEdit(panel);
    benchmarksFile_->setObjectName("BenchmarksFile");
    benchmarksFile_->setPlaceholderText(tr("Benchmarks file (name,height[,sigma_mm])"));
    benchmarksFile_->setReadOnly(true);
    auto* load = new QPushButton(tr("Load..."), panel);
    auto* clear = new QPushButton(tr("Clear"), panel);
    connect(load, &QPushButton::clicked, this, &NetworkWindow::loadBenchmarksFile);
    connect(clear, &QPushButton::clicked, this, [this] {
        benchmarksFile_->clear();
        benchmarksFile_->setProperty("bytes", QByteArray());
        relistSoon();
    });
    fileRow->addWidget(benchmarksFile_, 1);
    fileRow->addWidget(load);
    fileRow->addWidget(clear);
    layout->addLayout(fileRow);

    auto* form = new QFormLayout;
    weights_ = new QComboBox(panel);
    weights_->setObjectName("Weights");
    weights_->addItem(tr("By length (by sigma for Gama inputs)"), QString());
    weights_->addItem(tr("By length"), "length");
    weights_->addItem(tr("By set-ups"), "setups");
    weights_->addItem(tr("By each observation's sigma"), "sigma");
    form->addRow(tr("Weights"), weights_);
    sigmaKm_ = new QDoubleSpinBox(panel);
    sigmaKm_->setRange(0.001, 1000);
    sigmaKm_->setDecimals(3);
    sigmaKm_->setValue(1);
    form->addRow(tr("Sigma of 1 km (mm)"), sigmaKm_);
    sigmaSetUp_ = new QDoubleSpinBox(panel);
    sigmaSetUp_->setRange(0.001, 1000);
    sigmaSetUp_->setDecimals(3);
    sigmaSetUp_->setValue(1);
    form->addRow(tr("Sigma of a set-up (mm)"), sigmaSetUp_);
    class_ = new QComboBox(panel);
    class_->setObjectName("Class");
    class_->addItem(tr("None: 2 mm x sqrt(K)"), QString());
    for (const core::ToleranceClass& c : core::ToleranceClasses()) {
        class_->addItem(QString::fromUtf8(c.id.data(), static_cast<qsizetype>(c.id.size())) + "  " +
                            QString::fromUtf8(c.name.data(), static_cast<qsizetype>(c.name.size())),
                        QString::fromUtf8(c.id.data(), static_cast<qsizetype>(c.id.size())));
    }
    form->addRow(tr("Class"), class_);
    snoop_ = new QComboBox(panel);
    snoop_->setObjectName("Snooping");
    snoop_->addItem(tr("Off"), QString());
    snoop_->addItem(tr("While the global test fails"), "while");
    snoop_->addItem(tr("Always"), "always");
    form->addRow(tr("Data snooping"), snoop_);
    confidence_ = new QDoubleSpinBox(panel);
    confidence_->setRange(0.5, 0.9999);
    confidence_->setDecimals(4);
    confidence_->setSingleStep(0.01);
    confidence_->setValue(0.95);
    connect(confidence_, &QDoubleSpinBox::valueChanged, this, [this] { confidenceGiven_ = true; });
    form->addRow(tr("Confidence"), confidence_);
    datum_ = new QLineEdit(panel);
    datum_->setObjectName("Datum");
    datum_->setPlaceholderText(tr("Free network: datum points A,B,... (every point)"));
    form->addRow(tr("Datum"), datum_);
    corrections_ = new QPushButton(CorrectionsDialog::Describe(base_), panel);
    corrections_->setObjectName("Corrections");
    corrections_->setToolTip(
        tr("Staff scale and temperature, curvature and refraction, and the "
           "normal-orthometric correction"));
    connect(corrections_, &QPushButton::clicked, this, &NetworkWindow::editCorrections);
    form->addRow(tr("Corrections"), corrections_);
    layout->addLayout(form);

    adjustButton_ = new QPushButton(tr("Adjust (F5)"), panel);
    adjustButton_->setObjectName("Adjust");
    connect(adjustButton_, &QPushButton::clicked, this, &NetworkWindow::adjust);
    layout->addWidget(adjustButton_);
    return panel;
}

QWidget* NetworkWindow::buildResults() {
    auto* split = new QSplitter(Qt::Vertical, this);
    auto* top = new QWidget(split);
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(6, 6, 6, 0);
    summary_ = new QLabel(tr("Add field books, give a benchmark, and press F5 to adjust."), top);
    summary_->setObjectName("Summary");
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Two lines always: the verdicts never hide under the drawing.
    summary_->setMinimumHeight(2 * summary_->fontMetrics().lineSpacing() + 4);
    summary_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    topLayout->addWidget(summary_);
    drawing_ = new DrawingView(top);
    drawing_->setObjectName("Drawing");
    topLayout->addWidget(drawing_, 1);
    split->addWidget(top);

    tabs_ = new QTabWidget(split);
    tabs_->setObjectName("Tables");
    for (const char* name : kTables) {
        auto* table = new SheetTable(this);
        auto* view = new QTableView(tabs_);
        view->setObjectName(QString(name).remove(' ') + "Table");
        view->setModel(table);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->verticalHeader()->setDefaultSectionSize(20);
        tabs_->addTab(view, tr(name));
        tables_[name] = table;
        views_[name] = view;
    }
    messages_ = new QTreeWidget(tabs_);
    messages_->setObjectName("Messages");
    messages_->setHeaderHidden(true);
    messages_->setRootIsDecorated(false);
    tabs_->addTab(messages_, tr("Messages"));
    split->addWidget(tabs_);
    split->setSizes({470, 290});

    connect(views_["Heights"]->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (syncing_) return;
                syncing_ = true;
                drawing_->markPoint(current.isValid() ? current.row() : -1);
                syncing_ = false;
            });
    connect(views_["Observations"]->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (syncing_) return;
                syncing_ = true;
                drawing_->markObservation(current.isValid() ? current.row() : -1);
                syncing_ = false;
            });
    const auto selectRow = [this](const char* name, int row) {
        if (syncing_) return;
        syncing_ = true;
        QTableView* view = views_[name];
        tabs_->setCurrentWidget(view);
        view->selectRow(row);
        view->scrollTo(view->model()->index(row, 0));
        syncing_ = false;
    };
    connect(drawing_, &DrawingView::pointClicked, this,
            [selectRow](int symbol) { selectRow("Heights", symbol); });
    connect(drawing_, &DrawingView::observationClicked, this,
            [selectRow](int observation) { selectRow("Observations", observation); });
    return split;
}

QTableView* NetworkWindow::tableView(const QString& name) const {
    const auto found = views_.find(name);
    return found == views_.end() ? nullptr : found->second;
}

// The job.

std::vector<std::string> NetworkWindow::typedFixes(QString* error) const {
    std::vector<std::string> fixes;
    for (int row = 0; row < benchmarks_->rowCount(); ++row) {
        const auto text = [&](int col) {
            const QTableWidgetItem* item = benchmarks_->item(row, col);
            return item ? item->text().trimmed() : QString();
        };
        const QString name = text(0);
        const QString height = text(1);
        const QString sigma = text(2);
        if (name.isEmpty() && height.isEmpty() && sigma.isEmpty()) continue;
        const auto number = [](const QString& typed) {
            return core::ParseDecimalText(typed.toStdString());
        };
        if (name.isEmpty() || !number(height) || (!sigma.isEmpty() && !number(sigma))) {
            if (error && error->isEmpty()) {
                *error = tr("Benchmark row %1: give a name and a height in metres (and, if "
                            "weighted, its sigma in mm).")
                             .arg(row + 1);
            }
            continue;
        }
        std::string fix = ToBytes(name) + "=" + height.toStdString();
        if (!sigma.isEmpty()) fix += ":" + sigma.toStdString();
        fixes.push_back(fix);
    }
    return fixes;
}

network::NetworkJob NetworkWindow::job() const {
    net::NetworkJob job = base_;
    job.inputs = inputPaths_;
    job.fixes = typedFixes(nullptr);
    job.benchmarksFile = benchmarksFile_->property("bytes").toByteArray().toStdString();
    job.weights = weights_->currentData().toString().toStdString();
    job.options.sigmaKmMm = sigmaKm_->value();
    job.options.sigmaSetUpMm = sigmaSetUp_->value();
    job.classId = class_->currentData().toString().toStdString();
    job.snoop = snoop_->currentData().toString().toStdString();
    job.options.confidence = confidence_->value();
    job.confidenceGiven = confidenceGiven_;
    job.datum.clear();
    for (const QString& name : datum_->text().split(',', Qt::SkipEmptyParts)) {
        job.datum.push_back(ToBytes(name.trimmed()));
    }
    return job;
}

void NetworkWindow::setJob(const network::NetworkJob& job, const std::string& jobFile) {
    base_ = job;
    base_.inputs.clear();
    base_.fixes.clear();
    base_.benchmarksFile.clear();
    base_.datum.clear();
    jobFile_ = jobFile;
    // What is still being listed of the job before is not this job's.
    jobStart_ = ++generation_;
    inputs_->clear();
    inputItems_.clear();
    inputPaths_.clear();
    QSignalBlocker blockTable(benchmarks_);
    benchmarks_->setRowCount(0);
    for (const std::string& fix : job.fixes) {
        // The benchmark as typed: NAME=HEIGHT[:SIGMA_MM], its digits kept.
        const size_t equals = fix.rfind('=');
        const size_t colon = fix.find(':', equals == std::string::npos ? 0 : equals);
        const int row = benchmarks_->rowCount();
        benchmarks_->insertRow(row);
        benchmarks_->setItem(row, 0, new QTableWidgetItem(FromBytes(fix.substr(0, equals))));
        if (equals != std::string::npos) {
            benchmarks_->setItem(
                row, 1,
                new QTableWidgetItem(QString::fromStdString(
                    fix.substr(equals + 1, colon == std::string::npos ? std::string::npos
                                                                      : colon - equals - 1))));
        }
        if (colon != std::string::npos) {
            benchmarks_->setItem(
                row, 2, new QTableWidgetItem(QString::fromStdString(fix.substr(colon + 1))));
        }
    }
    ensureBlankBenchmarkRow();
    benchmarksFile_->setText(FromBytes(job.benchmarksFile));
    benchmarksFile_->setProperty("bytes", QByteArray::fromStdString(job.benchmarksFile));
    const auto choose = [](QComboBox* box, const std::string& value) {
        const int at = box->findData(QString::fromStdString(value));
        box->setCurrentIndex(std::max(at, 0));
    };
    choose(weights_, job.weights);
    choose(class_, job.classId);
    choose(snoop_, job.snoop);
    sigmaKm_->setValue(job.options.sigmaKmMm);
    sigmaSetUp_->setValue(job.options.sigmaSetUpMm);
    {
        QSignalBlocker blockConfidence(confidence_);
        confidence_->setValue(job.options.confidence);
    }
    confidenceGiven_ = job.confidenceGiven;
    QStringList datum;
    for (const std::string& d : job.datum) datum << FromBytes(d);
    datum_->setText(datum.join(","));
    corrections_->setText(CorrectionsDialog::Describe(base_));
    listInputs(job.inputs, false);
    savedJobText_ = jobText();
    updateTitle();
}

std::string NetworkWindow::jobText() const {
    try {
        return net::JobFileText(job(), jobFile_.empty() ? "job" : jobFile_);
    } catch (const net::NetworkError& error) {
        return error.what();
    }
}

void NetworkWindow::updateTitle() {
    QString title = kTitle;
    if (!jobFile_.empty()) title += " - " + FromBytes(fs::path(jobFile_).filename().string());
    setWindowTitle(title);
}

void NetworkWindow::ensureBlankBenchmarkRow() {
    const int rows = benchmarks_->rowCount();
    bool lastBlank = rows > 0;
    for (int col = 0; lastBlank && col < 3; ++col) {
        const QTableWidgetItem* item = benchmarks_->item(rows - 1, col);
        if (item && !item->text().trimmed().isEmpty()) lastBlank = false;
    }
    if (!lastBlank) {
        QSignalBlocker block(benchmarks_);
        benchmarks_->insertRow(rows);
    }
}

void NetworkWindow::pasteBenchmarks() {
    // Rows from a spreadsheet or a text file: name, height and sigma by tabs, commas or
    // semicolons, from the current row down.
    const QString text = QApplication::clipboard()->text();
    int row = std::max(benchmarks_->currentRow(), 0);
    {
        QSignalBlocker block(benchmarks_);
        for (QString line : text.split('\n')) {
            line = line.trimmed();
            if (line.isEmpty()) continue;
            const QStringList cells =
                line.split(QRegularExpression(line.contains('\t') ? "\t" : "[,;]"));
            if (row >= benchmarks_->rowCount()) benchmarks_->insertRow(row);
            for (int col = 0; col < 3 && col < cells.size(); ++col) {
                benchmarks_->setItem(row, col, new QTableWidgetItem(cells[col].trimmed()));
            }
            ++row;
        }
    }
    ensureBlankBenchmarkRow();
    relistSoon();
}

bool NetworkWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == benchmarks_ && key->matches(QKeySequence::Paste)) {
            pasteBenchmarks();
            return true;
        }
        if (watched == benchmarks_ && key->matches(QKeySequence::Delete)) {
            for (QTableWidgetItem* item : benchmarks_->selectedItems()) item->setText({});
            return true;
        }
        if (watched == inputs_ && key->matches(QKeySequence::Delete)) {
            removeSelectedInputs();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

std::string NetworkWindow::askFileToOpen(const QString& title, const QString& filter) {
    if (nextFileNameSet_) {
        nextFileNameSet_ = false;
        return std::exchange(nextFileName_, {});
    }
    return dialogPaths_.Bytes(QFileDialog::getOpenFileName(this, title, {}, filter));
}

void NetworkWindow::loadBenchmarksFile() {
    const std::string path =
        askFileToOpen(tr("Benchmarks file"), tr("Benchmarks (*.csv *.CSV);;All files (*)"));
    if (path.empty()) return;
    std::ifstream in(path, std::ios::binary);
    try {
        if (!in) throw net::NetworkError("cannot open " + path);
        net::ReadBenchmarks(in, path);
    } catch (const net::NetworkError& error) {
        say(tr("The benchmarks file was not taken.\n\n%1").arg(FromBytes(error.what())));
        return;
    }
    benchmarksFile_->setText(FromBytes(path));
    benchmarksFile_->setProperty("bytes", QByteArray::fromStdString(path));
    relistSoon();
}

void NetworkWindow::removeSelectedInputs() {
    std::set<std::string> gone;
    for (QTreeWidgetItem* item : inputs_->selectedItems()) {
        while (item->parent()) item = item->parent();
        gone.insert(item->data(0, Qt::UserRole).toByteArray().toStdString());
    }
    for (const std::string& path : gone) {
        delete inputItems_[path];
        inputItems_.erase(path);
        std::erase(inputPaths_, path);
    }
    updatePointNames();
}

// Listing the inputs, off the window's thread.

void NetworkWindow::addPaths(const std::vector<std::string>& paths) {
    std::vector<std::string> inputs;
    for (const std::string& path : paths) {
        std::error_code error;
        if (!fs::is_directory(path, error) && IsJobFile(path)) {
            try {
                setJob(net::LoadJobFile(path), path);
            } catch (const net::NetworkError& failure) {
                say(tr("The job was not opened.\n\n%1").arg(FromBytes(failure.what())));
            }
            continue;
        }
        inputs.push_back(path);
    }
    if (!inputs.empty()) listInputs(inputs, false);
}

void NetworkWindow::listInputs(const std::vector<std::string>& paths, bool relist) {
    std::vector<std::pair<std::string, bool>> work;  // path, from a folder
    for (const std::string& path : paths) {
        std::error_code error;
        if (fs::is_directory(path, error)) {
            work.emplace_back(path, true);
            continue;
        }
        if (!relist && inputItems_.contains(path)) continue;
        if (!inputItems_.contains(path)) {
            auto* item = new QTreeWidgetItem(inputs_, {FromBytes(fs::path(path).filename())});
            item->setData(0, Qt::UserRole, QByteArray::fromStdString(path));
            item->setToolTip(0, FromBytes(path));
            new QTreeWidgetItem(item, {tr("reading...")});
            inputItems_[path] = item;
            inputPaths_.push_back(path);
        }
        work.emplace_back(path, false);
    }
    if (work.empty()) return;
    const unsigned generation = ++generation_;
    for (const auto& [path, folder] : work) {
        if (!folder) listedGeneration_[path] = generation;
    }
    std::vector<std::string> points;
    QString ignored;
    for (const std::string& fix : typedFixes(&ignored))
        points.push_back(fix.substr(0, fix.rfind('=')));
    const net::NetworkJob current = job();
    points.insert(points.end(), current.points.begin(), current.points.end());
    if (!current.benchmarksFile.empty()) {
        std::ifstream in(current.benchmarksFile, std::ios::binary);
        try {
            for (const net::Benchmark& b : net::ReadBenchmarks(in, current.benchmarksFile)) {
                points.push_back(b.name);
            }
        } catch (const net::NetworkError&) {  // said when the job is adjusted
        }
    }
    setBusy(true);
    stage_->setText(tr("Listing the inputs..."));
    listers_.emplace_back(
        [this, work, points, encoding = current.encoding, generation, stop = stop_] {
            for (const auto& item : work) {
                const std::string& path = item.first;
                const bool folder = item.second;
                if (*stop) break;
                const std::vector<std::string> files = folder ? FilesIn(path) : std::vector{path};
                size_t passed = 0;
                for (const std::string& file : files) {
                    if (*stop) break;
                    net::InputOutline outline = net::OutlineInput(file, encoding, points);
                    if (folder && !outline.recognised) {
                        ++passed;
                        continue;
                    }
                    QMetaObject::invokeMethod(
                        this,
                        [this, file, outline = std::move(outline), folder, generation] {
                            showOutline(file, outline, folder, generation);
                        },
                        Qt::QueuedConnection);
                }
                if (passed > 0) {
                    const QString note = tr("%1 files in %2 are no field books: passed over")
                                             .arg(passed)
                                             .arg(FromBytes(path));
                    QMetaObject::invokeMethod(
                        this, [this, note] { statusBar()->showMessage(note, 8000); },
                        Qt::QueuedConnection);
                }
            }
            QMetaObject::invokeMethod(
                this, [this, id = std::this_thread::get_id()] { listingDone(id); },
                Qt::QueuedConnection);
        });
}

void NetworkWindow::showOutline(const std::string& path, const network::InputOutline& outline,
                                bool fromFolder, unsigned generation) {
    if (generation < jobStart_) return;
    if (fromFolder && !inputItems_.contains(path)) {
        auto* item = new QTreeWidgetItem(inputs_, {FromBytes(fs::path(path).filename())});
        item->setData(0, Qt::UserRole, QByteArray::fromStdString(path));
        item->setToolTip(0, FromBytes(path));
        inputItems_[path] = item;
        inputPaths_.push_back(path);
        listedGeneration_[path] = generation;
    }
    const auto found = inputItems_.find(path);
    if (found == inputItems_.end() || listedGeneration_[path] > generation) return;
    QTreeWidgetItem* item = found->second;
    qDeleteAll(item->takeChildren());
    const QColor bad(QString::fromLatin1(net::kBad));
    if (!outline.error.empty()) {
        auto* error = new QTreeWidgetItem(item, {FromBytes(Plain(outline.error))});
        error->setForeground(0, bad);
        error->setToolTip(0, error->text(0));
        item->setForeground(0, bad);
        item->setExpanded(true);
        updatePointNames();
        return;
    }
    item->setForeground(0, QBrush());
    item->setExpanded(true);
    std::map<size_t, QTreeWidgetItem*> lines;
    for (const net::Observation& o : outline.sections) {
        const size_t line = o.line.value_or(0);
        QTreeWidgetItem*& parent = lines[line];
        if (!parent) {
            parent =
                new QTreeWidgetItem(item, {o.line ? tr("Line %1").arg(line) : tr("Observations")});
            parent->setExpanded(outline.sections.size() <= kSectionsShownOpen);
        }
        auto* section = new QTreeWidgetItem(
            parent, {FromBytes(o.from) + QString::fromUtf8(" → ") + FromBytes(o.to),
                     QString::fromStdString(grid::FormatNumber(o.dh, "0.00000")),
                     QString::fromStdString(grid::FormatNumber(o.lengthKm, "0.000")),
                     o.setUps ? QString::number(*o.setUps) : QString()});
        section->setToolTip(0, FromBytes(o.source));
        for (int col = 1; col < 4; ++col) section->setTextAlignment(col, Qt::AlignRight);
    }
    for (const net::LineLoop& loop : outline.loops) {
        auto* row = new QTreeWidgetItem(
            item,
            {tr("Loop at %1: misclosure %2 mm").arg(FromBytes(loop.point), Mm(loop.misclosure)),
             {},
             QString::fromStdString(grid::FormatNumber(loop.lengthKm, "0.000")),
             QString::number(loop.setUps)});
        row->setToolTip(0, FromBytes(loop.source));
    }
    for (auto& [line, parent] : lines) {
        parent->setText(
            0, parent->text(0) + "  " + tr("(%n sections)", nullptr, parent->childCount()));
    }
    updatePointNames();
}

void NetworkWindow::listingDone(std::thread::id id) {
    const auto done = std::find_if(listers_.begin(), listers_.end(),
                                   [id](const std::thread& t) { return t.get_id() == id; });
    if (done != listers_.end()) {
        done->join();
        listers_.erase(done);
    }
    if (listers_.empty()) {
        if (!adjusting()) setBusy(false);
        emit listingFinished();
    }
}

void NetworkWindow::relistSoon() {
    if (!inputPaths_.empty()) relist_->start();
}

void NetworkWindow::updatePointNames() {
    std::set<QString> names;
    for (const auto& [path, item] : inputItems_) {
        for (int i = 0; i < item->childCount(); ++i) {
            QTreeWidgetItem* line = item->child(i);
            for (int j = 0; j < line->childCount(); ++j) {
                const QStringList ends = line->child(j)->text(0).split(QString::fromUtf8(" → "));
                for (const QString& end : ends) names.insert(end);
            }
        }
    }
    if (auto* model = findChild<QStringListModel*>("PointNames")) {
        model->setStringList(QStringList(names.begin(), names.end()));
    }
}

// Adjusting, off the window's thread.

void NetworkWindow::adjust() {
    if (adjusting()) return;
    QString error;
    typedFixes(&error);
    if (!error.isEmpty()) {
        say(error);
        return;
    }
    net::NetworkJob work = job();
    if (work.inputs.empty()) {
        say(
            tr("Add a field book, a file of observations or a Gama input first (File > Open, "
               "or drop them on the window)."));
        return;
    }
    adjustingJobText_ = jobText();
    work.makeEveryOutput = true;
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    cancelAdjusting_ = cancelled;
    work.progress = [this, cancelled](const std::string& stage) {
        if (*cancelled) throw AdjustmentCancelled();
        QMetaObject::invokeMethod(
            this, [this, text = FromBytes(stage)] { showStage(text); }, Qt::QueuedConnection);
    };
    setBusy(true);
    showStage(tr("adjusting"));
    adjusting_ = std::thread([this, work = std::move(work), cancelled]() mutable {
        auto outcome = std::make_shared<net::JobResult>();
        std::vector<std::string> said;
        bool stopped = false;
        try {
            *outcome = net::RunNetworkJob(
                std::move(work), [&said](const std::string& line) { said.push_back(line); });
        } catch (const AdjustmentCancelled&) {
            stopped = true;
        } catch (const std::exception& failure) {
            said.push_back(std::string("internal error: ") + failure.what());
            outcome->status = net::JobStatus::BadInput;
        }
        QMetaObject::invokeMethod(
            this,
            [this, outcome, said = std::move(said), stopped] { adjusted(outcome, said, stopped); },
            Qt::QueuedConnection);
    });
}

void NetworkWindow::cancel() {
    if (cancelAdjusting_) *cancelAdjusting_ = true;
    if (adjusting()) showStage(tr("cancelling"));
}

void NetworkWindow::adjusted(std::shared_ptr<network::JobResult> outcome,
                             std::vector<std::string> said, bool cancelled) {
    if (adjusting_.joinable()) adjusting_.join();
    cancelAdjusting_.reset();
    setBusy(!listers_.empty());
    if (cancelled) {
        pendingOutput_ = {};
        stage_->setText(tr("Adjustment cancelled: the results shown are those of before."));
        emit adjustmentFinished();
        return;
    }
    said_.clear();
    for (std::string& line : said) said_.push_back(Plain(std::move(line)));
    messages_->clear();
    for (const std::string& line : said_) {
        auto* item = new QTreeWidgetItem(messages_, {FromBytes(line)});
        item->setToolTip(0, item->text(0));
    }
    if (outcome->status == net::JobStatus::BadInput ||
        outcome->status == net::JobStatus::BadUsage) {
        // Nothing adjusted, nothing to write.
        pendingOutput_ = {};
        const QString why =
            said_.empty() ? tr("the job could not be adjusted") : FromBytes(said_.back());
        summary_->setText(tr("Not adjusted: %1").arg(why));
        summary_->setStyleSheet(QString("color: %1").arg(net::kBad));
        result_.reset();
        showResult();
        tabs_->setCurrentWidget(messages_);
        stage_->setText(tr("Not adjusted"));
        emit adjustmentFinished();
        return;
    }
    result_ = std::move(outcome);
    adjustedJobText_ = adjustingJobText_;
    showResult();
    stage_->setText(tr("Adjusted"));
    emit adjustmentFinished();
    if (auto output = std::exchange(pendingOutput_, {})) QTimer::singleShot(0, this, output);
}

void NetworkWindow::showResult() {
    const net::JobResult* r = result_.get();
    const bool sheets = r && r->sheets.size() == std::size(kTables);
    for (size_t i = 0; i < std::size(kTables); ++i) {
        std::vector<QColor> colours;
        if (sheets && r->adjustment) {
            const net::NetworkResult& a = *r->adjustment;
            const auto closures = [&colours](const std::vector<net::ClosureCheck>& checks) {
                for (const net::ClosureCheck& c : checks) {
                    colours.push_back(c.within ? QColor() : QColor(QString(net::kBad)));
                }
            };
            if (i == 2 && r->drawing) {
                colours.assign(a.observations.size(), QColor());
                for (const net::Segment& s : r->drawing->segments) {
                    if (s.observation < colours.size()) {
                        colours[s.observation] = QColor(QString::fromStdString(s.colour));
                    }
                }
            }
            if (i == 3) closures(a.loops);
            if (i == 4) closures(a.benchmarkLines);
            if (i == 5) closures(a.doubleRuns);
        }
        tables_[kTables[i]]->setSheet(sheets ? &r->sheets[i] : nullptr, colours);
        if (sheets) views_[kTables[i]]->resizeColumnsToContents();
    }
    shownDrawing_ = r && r->drawing ? std::make_shared<const net::Drawing>(*r->drawing) : nullptr;
    drawing_->setDrawing(shownDrawing_);
    if (!r || !r->adjustment) return;
    summary_->setText(summary());
    summary_->setStyleSheet(
        r->status == net::JobStatus::Passed ? QString() : QString("color: %1").arg(net::kBad));
}

QString NetworkWindow::summary() const {
    if (!result_ || !result_->adjustment) return summary_->text();
    const net::NetworkResult& a = *result_->adjustment;
    QStringList parts;
    parts << tr("%1 points, %2 observations, redundancy %3")
                 .arg(a.heights.size())
                 .arg(a.observations.size())
                 .arg(a.redundancy);
    if (a.sigma0) {
        parts << tr("sigma0 %1").arg(QString::fromStdString(grid::FormatNumber(*a.sigma0, "0.00")));
    }
    if (a.globalTest) {
        const net::GlobalTest& g = *a.globalTest;
        parts << tr("global test %1 (%2 in %3 to %4)")
                     .arg(g.passed ? tr("passed")
                                   : tr("failed %1").arg(QString::fromStdString(g.side)),
                          QString::fromStdString(grid::FormatNumber(g.statistic, "0.00")),
                          QString::fromStdString(grid::FormatNumber(g.lower, "0.00")),
                          QString::fromStdString(grid::FormatNumber(g.upper, "0.00")));
    }
    QString line = parts.join("; ");
    if (result_->status == net::JobStatus::Passed) {
        line += tr(". Every test passed.");
    } else {
        line += tr(". Not clean: %1.").arg(FromBytes(result_->failures));
    }
    if (result_->saveRefused) line += tr(" The network is too big for a workbook.");
    // A job file may ask for corrections the panel does not show: the summary says them.
    if (!result_->settings.corrections.empty()) {
        line += tr(" Corrected for %1.").arg(FromBytes(result_->settings.corrections));
    }
    return line;
}

void NetworkWindow::showStage(const QString& stage) {
    if (adjusting()) stage_->setText(stage.left(1).toUpper() + stage.mid(1));
}

void NetworkWindow::setBusy(bool on) {
    progress_->setVisible(on);
    cancel_->setVisible(on && adjusting());
    adjustButton_->setEnabled(!adjusting());
    if (!on && stage_->text().endsWith("...")) stage_->clear();
}

// Outputs.

void NetworkWindow::say(const QString& text) {
    if (tell) {
        tell(text);
        return;
    }
    QMessageBox::warning(this, kTitle, text);
}

std::string NetworkWindow::offeredName(const char* extension) const {
    fs::path first = jobFile_.empty() ? fs::path(inputPaths_.empty() ? "network" : inputPaths_[0])
                                      : fs::path(jobFile_);
    first.replace_extension(extension);
    return first.string();
}

std::string NetworkWindow::askSaveName(const QString& title, const char* extension,
                                       const QString& filter) {
    if (nextFileNameSet_) {
        nextFileNameSet_ = false;
        return std::exchange(nextFileName_, {});
    }
    const QString chosen = QFileDialog::getSaveFileName(
        this, title, dialogPaths_.File(offeredName(extension)), filter);
    if (chosen.isEmpty()) return {};
    std::string path = dialogPaths_.Bytes(chosen);
    if (fs::path(path).extension().empty()) path += extension;
    return path;
}

bool NetworkWindow::resultIsCurrent() {
    if (!result_ || !result_->adjustment) {
        say(tr("Nothing is adjusted yet: press F5 to adjust the job first."));
        return false;
    }
    if (jobText() != adjustedJobText_) {
        say(tr("The job has changed since it was adjusted: press F5 to adjust it again first."));
        return false;
    }
    return true;
}

bool NetworkWindow::afterAdjusting(const QString& what, std::function<void()> output) {
    if (!adjusting()) return false;
    // Asked for while the job is adjusted (F5, then Ctrl+S at once): made as soon as it ends.
    pendingOutput_ = std::move(output);
    statusBar()->showMessage(tr("The %1 is written once the adjustment ends.").arg(what));
    return true;
}

bool NetworkWindow::writeOutput(const QString& what,
                                const std::function<void(const std::string&)>& write,
                                const char* extension, const QString& filter) {
    if (!resultIsCurrent()) return false;
    const std::string path = askSaveName(tr("Save %1").arg(what), extension, filter);
    if (path.empty()) return false;
    // An output never replaces an input of the job.
    const net::NetworkJob current = job();
    std::vector<std::string> inputs = current.inputs;
    for (const std::string* other : {&current.benchmarksFile, &current.coordinatesFile,
                                     static_cast<const std::string*>(&jobFile_)}) {
        if (!other->empty()) inputs.push_back(*other);
    }
    for (const std::string& input : inputs) {
        std::error_code error;
        if (path == input || fs::equivalent(path, input, error)) {
            say(tr("The %1 was not written: %2 is an input of the job.")
                    .arg(what, FromBytes(path)));
            return false;
        }
    }
    try {
        write(path);
    } catch (const std::exception& error) {
        QString reason = FromBytes(error.what());
        if (!reason.isEmpty()) reason[0] = reason[0].toUpper();
        if (!reason.endsWith('.')) reason += '.';
        say(tr("The %1 was not written to %2.\n\n%3").arg(what, FromBytes(path), reason));
        return false;
    }
    statusBar()->showMessage(tr("Wrote %1").arg(FromBytes(path)), 8000);
    return true;
}

bool NetworkWindow::saveWorkbook() {
    if (afterAdjusting(tr("workbook"), [this] { saveWorkbook(); })) return false;
    if (result_ && result_->saveRefused) {
        say(tr("The network is too big for a workbook: no workbook can be written."));
        return false;
    }
    return writeOutput(
        tr("workbook"),
        [this](const std::string& path) {
            std::vector<const grid::Grid*> sheets;
            for (const grid::Grid& sheet : result_->sheets) sheets.push_back(&sheet);
            grid::WriteWorkbookSheets(sheets, path);
        },
        ".xlsx", tr("Workbooks (*.xlsx)"));
}

bool NetworkWindow::printReport() {
    if (afterAdjusting(tr("report"), [this] { printReport(); })) return false;
    if (result_ && result_->saveRefused) {
        say(tr("The network is too big for the paged report: no report can be printed."));
        return false;
    }
    return writeOutput(
        tr("report"),
        [this](const std::string& path) {
            std::vector<const grid::Grid*> sheets;
            for (const grid::Grid& sheet : result_->sheets) sheets.push_back(&sheet);
            QString error;
            if (!result_->drawing ||
                report::PrintNetworkToPdf(*result_->drawing, sheets, path, &error) == 0) {
                throw std::runtime_error(error.toStdString());
            }
        },
        ".pdf", tr("PDF files (*.pdf)"));
}

bool NetworkWindow::exportSvg() {
    if (afterAdjusting(tr("drawing"), [this] { exportSvg(); })) return false;
    return writeOutput(
        tr("drawing"),
        [this](const std::string& path) {
            grid::StagedFile staged(path);
            staged.Write(result_->svg);
            staged.Commit();
        },
        ".svg", tr("SVG drawings (*.svg)"));
}

bool NetworkWindow::exportGamaXml() {
    if (afterAdjusting(tr("Gama XML"), [this] { exportGamaXml(); })) return false;
    return writeOutput(
        tr("Gama XML"),
        [this](const std::string& path) {
            grid::StagedFile staged(path);
            staged.Write(result_->gamaXml);
            staged.Commit();
        },
        ".gkf", tr("GNU Gama inputs (*.gkf *.xml)"));
}

bool NetworkWindow::saveJobAs() {
    const std::string path = askSaveName(tr("Save the job"), ".rnj", tr("Network jobs (*.rnj)"));
    if (path.empty()) return false;
    try {
        const std::string text = net::JobFileText(job(), path);
        grid::StagedFile staged(path);
        staged.Write(text);
        staged.Commit();
    } catch (const std::exception& error) {
        say(tr("The job was not saved to %1.\n\n%2").arg(FromBytes(path), FromBytes(error.what())));
        return false;
    }
    jobFile_ = path;
    savedJobText_ = jobText();
    updateTitle();
    return true;
}

bool NetworkWindow::openJob() {
    const std::string path =
        askFileToOpen(tr("Open a network job"), tr("Network jobs (*.rnj);;All files (*)"));
    if (path.empty()) return false;
    try {
        setJob(net::LoadJobFile(path), path);
    } catch (const net::NetworkError& error) {
        say(tr("The job was not opened.\n\n%1").arg(FromBytes(error.what())));
        return false;
    }
    return true;
}

bool NetworkWindow::editCorrections() {
    CorrectionsDialog dialog(
        base_,
        [this](const QString& title, const QString& filter) {
            return askFileToOpen(title, filter);
        },
        this);
    if (dialog.exec() != QDialog::Accepted) return false;
    const std::optional<net::NetworkJob> corrected = dialog.corrected(base_, nullptr);
    if (!corrected) return false;
    base_.staffsFile = corrected->staffsFile;
    base_.staffs = corrected->staffs;
    base_.temperature = corrected->temperature;
    base_.refraction = corrected->refraction;
    base_.normalOrthometric = corrected->normalOrthometric;
    base_.normalOrthometricForm = corrected->normalOrthometricForm;
    base_.positionsFile = corrected->positionsFile;
    corrections_->setText(CorrectionsDialog::Describe(base_));
    return true;
}

bool NetworkWindow::openInputs() {
    std::vector<std::string> paths;
    if (nextFileNameSet_) {
        nextFileNameSet_ = false;
        if (!nextFileName_.empty()) paths.push_back(std::exchange(nextFileName_, {}));
    } else {
        for (const QString& chosen : QFileDialog::getOpenFileNames(
                 this, tr("Add inputs"), {},
                 tr("Field books and observations (*.SDR *.sdr *.DAT *.dat *.GSI *.gsi *.csv "
                    "*.CSV *.gkf *.xml *.rnj);;All files (*)"))) {
            paths.push_back(dialogPaths_.Bytes(chosen));
        }
    }
    if (paths.empty()) return false;
    addPaths(paths);
    return true;
}

void NetworkWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void NetworkWindow::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        // The path's own bytes, as the URL sends them: a name in Latin-1 comes as %E1.
        if (url.isLocalFile()) {
            paths.push_back(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1())
                                .toStdString());
        }
    }
    if (paths.empty()) return;
    event->acceptProposedAction();
    addPaths(paths);
}

void NetworkWindow::closeEvent(QCloseEvent* event) {
    // A job set up by hand is not thrown away without a question.
    if (jobText() != savedJobText_ && (!inputPaths_.empty() || !typedFixes(nullptr).empty())) {
        int answer = QMessageBox::Cancel;
        if (answerCloseQuestion) {
            answer = answerCloseQuestion();
        } else {
            QMessageBox box(QMessageBox::Question, kTitle,
                            tr("Save the network job before closing?"),
                            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
            box.setObjectName("SaveJobBeforeClosing");
            answer = box.exec();
        }
        if (answer == QMessageBox::Cancel || (answer == QMessageBox::Save && !saveJobAs())) {
            event->ignore();
            return;
        }
    }
    cancel();
    ui::help::ShutDown();
    event->accept();
}

}  // namespace rendle::netui
