#include "ui/QtWindowing.h"

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

#include "grid/Grid.h"
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

void QtWindowing::setFieldBook(const QString& path) {
    lastOpenFolder_ = QFileInfo(path).absolutePath();
    lastFieldBookName_ = QFileInfo(path).fileName();
}

std::string QtWindowing::ShowOpenFileDialog(std::string_view filter, std::string_view fileName) {
    filters_.push_back(QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size())));
    if (nextFileName_) {
        const QString name = *nextFileName_;
        nextFileName_.reset();
        if (!name.isEmpty()) {
            lastOpenFolder_ = QFileInfo(name).absolutePath();
            lastFieldBookName_ = QFileInfo(name).fileName();
        }
        return name.toStdString();
    }
    QFileDialog dialog(mainWindow_);
    dialog.setObjectName("CommonDialog1");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(QtFileFilter(filter).split(";;"));
    // The folder of the last field book read, for this session.
    if (!lastOpenFolder_.isEmpty()) dialog.setDirectory(lastOpenFolder_);
    dialog.selectFile(QString::fromUtf8(fileName.data(), static_cast<qsizetype>(fileName.size())));
    MatchEitherCase(dialog);
    LargeEnoughForColumns(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    const QString chosen = dialog.selectedFiles().first();
    lastOpenFolder_ = QFileInfo(chosen).absolutePath();
    lastFieldBookName_ = QFileInfo(chosen).fileName();
    return chosen.toStdString();
}

std::optional<commands::RLBoxes> QtWindowing::ShowFormRL(const commands::RLBoxes& boxes) {
    RLWindow form(RLWindow::Kind::Enter, mainWindow_);
    form.fill(boxes);
    if (form.exec() != QDialog::Accepted) return std::nullopt;  // the close box
    return form.boxes();
}

std::optional<int> QtWindowing::ChooseRun(const std::vector<readers::LevellingLine>& runs) {
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
    help::InstallContextHelp(&dialog, help::kGsiBooks);
    if (dialog.exec() != QDialog::Accepted || !list->currentItem()) return std::nullopt;
    return list->currentItem()->data(0, Qt::UserRole).toInt();
}

void QtWindowing::SaveAsDialog(std::string_view title, commands::FileSpec& fileSpec) {
    if (nextSaveName_) {
        fileSpec.FileSpecName = nextSaveName_->toStdString();
        nextSaveName_.reset();
        return;
    }
    QFileDialog dialog(mainWindow_,
                       QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
    dialog.setObjectName("SaveAsDialog");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({"Workbook (*.xlsx)", "All files (*)"});
    dialog.setDefaultSuffix("xlsx");
    // The folder of the last save, else of the last field book, for this session.
    const QString folder = !lastSaveFolder_.isEmpty() ? lastSaveFolder_ : lastOpenFolder_;
    if (!folder.isEmpty()) dialog.setDirectory(folder);
    fileSpec.FileSpecName.clear();
    LargeEnoughForColumns(dialog);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        fileSpec.FileSpecName = dialog.selectedFiles().first().toStdString();
        lastSaveFolder_ = QFileInfo(dialog.selectedFiles().first()).absolutePath();
    }
}

void QtWindowing::preparePrinter(QPrinter& printer, const grid::Grid& sheet) const {
    printer.setFullPage(true);  // the report keeps its own margins
    // No output file is preset: that would choose printing to a file over the default printer.
    // The print dialog names the PDF it offers after the job, in its current folder.
    printer.setDocName(lastFieldBookName_.isEmpty() ? QString::fromStdString(sheet.SheetTitle())
                                                    : lastFieldBookName_);
}

QString QtWindowing::offeredPdf(const grid::Grid& sheet) const {
    const QString name = lastFieldBookName_.isEmpty()
                             ? QString::fromStdString(sheet.SheetTitle())
                             : QFileInfo(lastFieldBookName_).completeBaseName();
    const bool besideBook = !lastOpenFolder_.isEmpty() && QFileInfo(lastOpenFolder_).isWritable();
    return QDir(besideBook ? lastOpenFolder_ : QDir::homePath()).filePath(name + ".pdf");
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
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) {
        // A PDF file is made whole first and then takes the place of any file of that name.
        printed = report::PrintToPdf(sheet, printer.outputFileName().toStdString(), &error,
                                     columnWidthPx_, printer.pageLayout().pageSize()) > 0;
    } else {
        printed = report::SheetPrinter(sheet, columnWidthPx_).Print(printer, &error);
    }
    if (!printed) {
        const std::string text = "The level report was not printed: " + error.toStdString() + ".";
        ShowMessage(text, "Print", commands::MessageIcon::Critical);
    }
}

}  // namespace rendle::ui
