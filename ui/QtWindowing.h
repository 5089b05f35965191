// The windowing layer of the desktop program: the open-file dialog CommonDialog1, message boxes,
// the mouse pointer, FormRL and closing the main window.
#pragma once

#include <QPointer>
#include <QPrinter>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "commands/Windowing.h"

namespace rendle::ui {

/// The dialog filter "text|pattern|text|pattern" as Qt's "text;;text": each text as the command
/// gives it ("SDR20 files (*.SDR)", "All files(*.*)").
QString QtFileFilter(std::string_view filter);

/// Ends the program once no window of it is left on screen, as closing the last window does:
/// checked when the current event has been handled, since a message box or a closed main
/// window may have been the last.
void QuitWhenNoWindowIsLeft();

/// The patterns the open-file dialog lists for one of its filter texts: each pattern in either
/// letter case ("*.SDR" lists ring.sdr too), and every file for "*.*".
QStringList EitherCasePatterns(const QString& entry);

class QtWindowing : public commands::Windowing {
  public:
    explicit QtWindowing(QWidget* mainWindow);

    void ShowMessage(std::string_view text, std::string_view title,
                     commands::MessageIcon icon) override;
    void SetMousePointer(commands::MousePointer pointer) override;
    std::string ShowOpenFileDialog(std::string_view filter, std::string_view fileName) override;
    std::optional<commands::RLBoxes> ShowFormRL(const commands::RLBoxes& boxes) override;
    void SaveAsDialog(std::string_view title, commands::FileSpec& fileSpec) override;
    std::optional<int> ChooseRun(const std::vector<readers::LevellingLine>& runs) override;
    void PrintSheet(const grid::Grid& sheet) override;

    /// The field book read last, named outside the open-file dialog (command line, a drop): the
    /// folder for the next dialogs and the name of a PDF of the report.
    void setFieldBook(const QString& path);

    /// Sets up a printer for File > Print: the system's default printer stays chosen; the
    /// field book's name is the job's name, from which the print dialog makes the PDF name
    /// offered when printing to a file is chosen.
    void preparePrinter(QPrinter& printer, const grid::Grid& sheet) const;
    /// The PDF the print dialog offers: the field book's name with .pdf, beside the book when
    /// its folder can be written, else in the home folder.
    QString offeredPdf(const grid::Grid& sheet) const;

    /// Where printed columns take their widths from: the sheet on screen.
    void setColumnWidths(std::function<int(int32_t)> widthPx) {
        columnWidthPx_ = std::move(widthPx);
    }

    /// Test hook: the next open-file dialog is answered with this name (empty: cancelled)
    /// instead of being shown.
    void setNextFileName(const QString& name) { nextFileName_ = name; }
    /// Test hook: the next save dialog is answered with this name (empty: cancelled).
    void setNextSaveName(const QString& name) { nextSaveName_ = name; }
    /// Test hook: the next print goes to this PDF file without the print dialog.
    void setNextPrintFile(const QString& name) { nextPrintFile_ = name; }
    /// Every message shown, as title and text, for tests.
    const std::vector<std::pair<QString, QString>>& messagesShown() const { return messages_; }
    /// The filters the open-file dialog was given.
    const std::vector<QString>& filtersShown() const { return filters_; }

  private:
    QPointer<QWidget> mainWindow_;
    std::optional<QString> nextFileName_;
    std::optional<QString> nextSaveName_;
    std::optional<QString> nextPrintFile_;
    std::function<int(int32_t)> columnWidthPx_;
    std::vector<std::pair<QString, QString>> messages_;
    std::vector<QString> filters_;
    // Where the user was, for this session only: nothing is stored between sessions.
    QString lastOpenFolder_;
    QString lastFieldBookName_;
    QString lastSaveFolder_;
};

}  // namespace rendle::ui
