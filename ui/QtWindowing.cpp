#include "ui/QtWindowing.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

#include "grid/Grid.h"
#include "report/SheetPrinter.h"
#include "ui/RLWindow.h"

namespace rendle::ui {

QString QtFileFilter(std::string_view filter) {
    const QStringList parts =
        QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size())).split('|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString label = parts[i].trimmed();
        // The label may carry its pattern in brackets already: Qt reads the last brackets.
        if (label.endsWith(')') && label.contains('('))
            label = label.left(label.lastIndexOf('(')).trimmed();
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
            const QString p = pattern.trimmed();
            if (p == "*.*") {
                patterns << "*";
                continue;
            }
            patterns << p;
            if (p.toLower() != p) patterns << p.toLower();
            if (p.toUpper() != p) patterns << p.toUpper();
        }
        entries << label + " (" + patterns.join(' ') + ")";
    }
    return entries.join(";;");
}

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
    box.exec();
}

void QtWindowing::SetMousePointer(commands::MousePointer) {
    // The default pointer: whatever busy pointer is up comes down.
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

void QtWindowing::CloseMainWindow() {
    if (mainWindow_) mainWindow_->close();
}

std::string QtWindowing::ShowOpenFileDialog(std::string_view filter, std::string_view fileName) {
    filters_.push_back(QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size())));
    if (nextFileName_) {
        const QString name = *nextFileName_;
        nextFileName_.reset();
        return name.toStdString();
    }
    QFileDialog dialog(mainWindow_);
    dialog.setObjectName("CommonDialog1");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(QtFileFilter(filter).split(";;"));
    dialog.selectFile(QString::fromUtf8(fileName.data(), static_cast<qsizetype>(fileName.size())));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first().toStdString();
}

std::optional<commands::RLBoxes> QtWindowing::ShowFormRL(const commands::RLBoxes& boxes) {
    RLWindow form(RLWindow::Kind::Enter, mainWindow_);
    form.fill(boxes);
    if (form.exec() != QDialog::Accepted) return std::nullopt;  // the close box
    return form.boxes();
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
    fileSpec.FileSpecName.clear();
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        fileSpec.FileSpecName = dialog.selectedFiles().first().toStdString();
    }
}

void QtWindowing::PrintSheet(const grid::Grid& sheet) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setFullPage(true);  // the report keeps its own margins
    printer.setDocName(QString::fromStdString(sheet.SheetTitle()));
    if (nextPrintFile_) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(*nextPrintFile_);
        nextPrintFile_.reset();
    } else {
        QPrintDialog dialog(&printer, mainWindow_);
        dialog.setObjectName("PrintDialog");
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
