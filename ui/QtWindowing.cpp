#include "ui/QtWindowing.h"

#include <unistd.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <filesystem>

#include "grid/Grid.h"
#include "grid/Text.h"
#include "grid/Utf8.h"
#include "readers/GsiBook.h"
#include "report/SheetPrinter.h"
#include "ui/Help.h"
#include "ui/RLWindow.h"

namespace rendle::ui {

QString QtFileFilter(std::string_view filter) {
    const QStringList parts =
        QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size())).split('|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        // The label is shown as the command gives it; one without its patterns in brackets
        // gets them, since the dialog takes its patterns from there.
        QString label = parts[i].trimmed();
        if (!(label.endsWith(')') && label.contains('('))) {
            label += " (" + parts[i + 1].split(';', Qt::SkipEmptyParts).join(' ') + ")";
        }
        entries << label;
    }
    return entries.join(";;");
}

QStringList EitherCasePatterns(const QString& entry) {
    const qsizetype open = entry.lastIndexOf('(');
    const qsizetype close = entry.lastIndexOf(')');
    QStringList patterns;
    if (open < 0 || close < open) return {"*"};
    for (const QString& pattern : entry.mid(open + 1, close - open - 1)
                                      .split(QRegularExpression("[ ;]"), Qt::SkipEmptyParts)) {
        if (pattern == "*.*") return {"*"};  // all files, with an extension or not
        patterns << pattern;
        if (pattern.toLower() != pattern) patterns << pattern.toLower();
        if (pattern.toUpper() != pattern) patterns << pattern.toUpper();
    }
    return patterns;
}

void QuitWhenNoWindowIsLeft() {
    QTimer::singleShot(0, qApp, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible() && widget->isWindow()) return;
        }
        QCoreApplication::quit();
    });
}

namespace {

/// Room for the title of a message box in its frame: a dialog is as wide as its contents, and a
/// short text ("No Data ") under a title would leave the title cut off.
void WideEnoughForTitle(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    const int title = QFontMetrics(QApplication::font("QMdiSubWindowTitleBar"))
                          .horizontalAdvance(box.windowTitle());
    // Title, icon and the frame's buttons.
    const int width = std::max(280, title + 160);
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

/// Room for the columns of a file dialog's list, each as wide as what it shows: size, type and
/// date fitted to their content, the name taking the rest.
void LargeEnoughForColumns(QFileDialog& dialog) {
    dialog.resize(std::max(dialog.width(), 860), std::max(dialog.height(), 520));
    for (QTreeView* list : dialog.findChildren<QTreeView*>()) {
        QHeaderView* header = list->header();
        if (header->count() < 4) continue;
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column) {
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        }
    }
}

/// Makes the dialog list names that match the chosen filter in either letter case (field books
/// come from Windows and DOS recorders as RING.SDR or ring.sdr), while the filter's text stays
/// as the command gives it.
void MatchEitherCase(QFileDialog& dialog) {
    auto* model = dialog.findChild<QFileSystemModel*>();
    if (!model) return;
    const auto apply = [model](const QString& entry) {
        model->setNameFilterDisables(false);
        model->setNameFilters(EitherCasePatterns(entry));
    };
    QObject::connect(&dialog, &QFileDialog::filterSelected, model, apply);
    apply(dialog.selectedNameFilter());
}

}  // namespace

QtWindowing::QtWindowing(QWidget* mainWindow)
    : mainWindow_(mainWindow),
      columnWidthPx_([](int32_t) { return grid::kDefaultColumnWidthPx; }) {}

void QtWindowing::ShowMessage(std::string_view text, std::string_view title,
                              commands::MessageIcon) {
    const QString qtitle = QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
    const QString qtext = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    messages_.emplace_back(qtitle, qtext);
    QMessageBox box(QMessageBox::Critical, qtitle, qtext, QMessageBox::Ok, mainWindow_);
    box.setObjectName("MessageBox");
    WideEnoughForTitle(box);
    box.exec();
    // Shown over a main window already closed (Level Parameters' "No Data " after the user
    // closed the main window), the box may have been the program's last window.
    QuitWhenNoWindowIsLeft();
}

void QtWindowing::SetMousePointer(commands::MousePointer) {
    // The default pointer: whatever busy pointer is up comes down.
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

namespace {

/// An absolute path of the same bytes.
std::string Absolute(const std::string& bytes) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(bytes, error);
    return error ? bytes : absolute.lexically_normal().string();
}

}  // namespace

void QtWindowing::setFieldBookOnSheet(FieldBookOnSheet book) {
    book_ = std::move(book);
    if (!book_.path.empty()) {
        lastOpenFolder_ = std::filesystem::path(book_.path).parent_path().string();
    }
}

void QtWindowing::beginRead() {
    reading_ = {};
}

void QtWindowing::setFieldBook(const std::string& pathBytes) {
    reading_.path = Absolute(pathBytes);
}

void QtWindowing::commitRead() {
    setFieldBookOnSheet(reading_);
}

std::string QtWindowing::offeredOutput(std::string_view extension,
                                       const std::string& fallbackStem) const {
    std::filesystem::path folder;
    std::string stem = fallbackStem;
    if (!book_.path.empty()) {
        const std::filesystem::path book(book_.path);
        folder = book.parent_path();
        stem = book.stem().string();
        // A line of a book of several is named by its number too, as rendle-reduce names it.
        if (book_.line > 0) stem += ".run-" + std::to_string(book_.line);
    }
    if (stem.empty()) return {};
    // Beside the book when its folder can be written (asked by the folder's own bytes).
    if (folder.empty() || ::access(folder.c_str(), W_OK) != 0) {
        folder = ToBytes(QDir::homePath());
    }
    return (folder / (stem + std::string(extension))).string();
}

QString QtWindowing::documentTitle(const grid::Grid& sheet) const {
    if (book_.path.empty()) return QString::fromStdString(sheet.SheetTitle());
    const QString name = FromBytes(std::filesystem::path(book_.path).filename().string());
    return book_.line > 0 ? name + ", line " + QString::number(book_.line) : name;
}

std::string QtWindowing::ShowOpenFileDialog(std::string_view filter, std::string_view fileName) {
    filters_.push_back(QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size())));
    if (nextFileName_) {
        const QString name = *nextFileName_;
        nextFileName_.reset();
        std::string chosen = paths_.Bytes(name);
        if (!name.isEmpty()) reading_.path = Absolute(chosen);
        return chosen;
    }
    QFileDialog dialog(mainWindow_);
    dialog.setObjectName("CommonDialog1");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(QtFileFilter(filter).split(";;"));
    // The folder of the last field book read, for this session.
    if (!lastOpenFolder_.empty()) dialog.setDirectory(paths_.Folder(lastOpenFolder_));
    dialog.selectFile(QString::fromUtf8(fileName.data(), static_cast<qsizetype>(fileName.size())));
    MatchEitherCase(dialog);
    LargeEnoughForColumns(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    std::string chosen = paths_.Bytes(dialog.selectedFiles().first());
    reading_.path = Absolute(chosen);
    return chosen;
}

std::optional<commands::RLBoxes> QtWindowing::ShowFormRL(const commands::RLBoxes& boxes) {
    RLWindow form(RLWindow::Kind::Enter, mainWindow_);
    form.fill(boxes);
    if (form.exec() != QDialog::Accepted) return std::nullopt;  // the close box
    return form.boxes();
}

std::optional<int> QtWindowing::ChooseRun(const std::vector<readers::LevellingLine>& runs,
                                          readers::FieldBookFormat format) {
    // A small list of the book's levelling lines, modal; Enter or a double-click reads the one
    // chosen, Escape cancels as the file dialog does.
    QDialog dialog(mainWindow_);
    dialog.setObjectName("RunChooser");
    dialog.setWindowTitle("Levelling lines");
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel("The field book holds several levelling lines. Read which one?");
    layout->addWidget(label);
    auto* list = new QTreeWidget;
    list->setObjectName("RunList");
    list->setRootIsDecorated(false);
    list->setHeaderLabels({"Run", "Name", "Set-ups", "First point", "Last point"});
    for (const readers::LevellingLine& run : runs) {
        auto* item = new QTreeWidgetItem(list);
        item->setText(0, QString::number(run.number));
        item->setText(1, QString::fromStdString(run.name));
        item->setText(2, QString::number(run.setUps));
        item->setText(3, QString::fromStdString(run.firstPoint));
        item->setText(4, QString::fromStdString(run.lastPoint));
        item->setData(0, Qt::UserRole, run.number);
    }
    for (int col = 0; col < list->columnCount(); ++col) list->resizeColumnToContents(col);
    list->setCurrentItem(list->topLevelItem(0));
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QTreeWidget::itemActivated, &dialog, &QDialog::accept);
    dialog.resize(520, 260);
    // F1 opens the topic of the book's own format.
    help::InstallContextHelp(&dialog,
                             format == readers::FieldBookFormat::M5      ? help::kM5Books
                             : format == readers::FieldBookFormat::SDR20 ? help::kSdr20Books
                             : format == readers::FieldBookFormat::SDR33 ? help::kSdr33Books
                                                                         : help::kGsiBooks);
    if (dialog.exec() != QDialog::Accepted || !list->currentItem()) return std::nullopt;
    reading_.line = list->currentItem()->data(0, Qt::UserRole).toInt();
    return reading_.line;
}

void QtWindowing::SaveAsDialog(std::string_view title, commands::FileSpec& fileSpec) {
    // The book's name offered, as rendle-reduce names its workbook, in the folder of the last
    // save, else of the book; a name chosen as offered keeps its own bytes, and a folder its
    // own, whatever their encoding.
    const QString offered = shownOutput(".xlsx", "");
    if (nextSaveName_) {
        fileSpec.FileSpecName = paths_.Bytes(*nextSaveName_);
        nextSaveName_.reset();
        return;
    }
    QFileDialog dialog(mainWindow_,
                       QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
    dialog.setObjectName("SaveAsDialog");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({"Workbook (*.xlsx)", "All files (*)"});
    dialog.setDefaultSuffix("xlsx");
    const std::string folder = !lastSaveFolder_.empty() ? lastSaveFolder_ : lastOpenFolder_;
    if (!folder.empty()) dialog.setDirectory(paths_.Folder(folder));
    if (!offered.isEmpty()) dialog.selectFile(QFileInfo(offered).fileName());
    fileSpec.FileSpecName.clear();
    LargeEnoughForColumns(dialog);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        fileSpec.FileSpecName = paths_.Bytes(dialog.selectedFiles().first());
        lastSaveFolder_ = std::filesystem::path(fileSpec.FileSpecName).parent_path().string();
    }
}

void QtWindowing::preparePrinter(QPrinter& printer, const grid::Grid& sheet) const {
    printer.setFullPage(true);  // the report keeps its own margins
    // No output file is preset: that would choose printing to a file over the default printer.
    // The print dialog names the PDF it offers after the job, in its current folder.
    printer.setDocName(documentTitle(sheet));
}

QString QtWindowing::shownOutput(std::string_view extension,
                                 const std::string& fallbackStem) const {
    const std::string offered = offeredOutput(extension, fallbackStem);
    return offered.empty() ? QString() : paths_.File(offered);
}

QString QtWindowing::offeredPdf(const grid::Grid& sheet) const {
    return shownOutput(".pdf", sheet.SheetTitle());
}

void QtWindowing::PrintSheet(const grid::Grid& sheet) {
    QPrinter printer(QPrinter::HighResolution);
    preparePrinter(printer, sheet);
    if (nextPrintFile_) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(*nextPrintFile_);
        nextPrintFile_.reset();
    } else {
        QPrintDialog dialog(&printer, mainWindow_);
        dialog.setObjectName("PrintDialog");
        // Printing to a file offers the PDF beside the field book (in the home folder when the
        // book's folder cannot be written), while the default printer stays the one chosen.
        if (auto* file = dialog.findChild<QLineEdit*>("filename")) file->setText(offeredPdf(sheet));
        if (dialog.exec() != QDialog::Accepted) return;
    }
    QString error;
    bool printed = false;
    std::string where;  // the PDF's path, when printing to a file
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) {
        // A PDF file is made whole first and then takes the place of any file of that name.
        // The name offered keeps the bytes of the book's own name, and its folder its own.
        const std::string path = paths_.Bytes(printer.outputFileName());
        where = " to " + grid::ValidUtf8(path);
        printed =
            report::PrintToPdf(sheet, path, &error, columnWidthPx_, printer.pageLayout().pageSize(),
                               documentTitle(sheet).toStdString()) > 0;
    } else {
        printed = report::SheetPrinter(sheet, columnWidthPx_).Print(printer, &error);
    }
    if (!printed) {
        // As a save that failed says it: what was not done, then why, a sentence of its own.
        const std::string text = "The level report was not printed" + where + ".\n\n" +
                                 grid::Sentence(error.toStdString());
        ShowMessage(text, "Print", commands::MessageIcon::Critical);
    }
}

}  // namespace rendle::ui
