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
#include <string>
#include <string_view>
#include <vector>

#include "commands/Windowing.h"
#include "ui/DialogPaths.h"

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
    std::optional<int> ChooseRun(const std::vector<readers::LevellingLine>& runs,
                                 readers::FieldBookFormat format) override;
    void PrintSheet(const grid::Grid& sheet) override;

    /// The field book the sheet holds: the file system's own bytes of its path (whatever their
    /// encoding), and of a book of several levelling lines the line read (0 for a book of one).
    /// It goes with the sheet into every undo and redo step.
    struct FieldBookOnSheet {
        std::string path;
        int line = 0;
        bool operator==(const FieldBookOnSheet&) const = default;
    };
    const FieldBookOnSheet& fieldBook() const { return book_; }
    void setFieldBookOnSheet(FieldBookOnSheet book);

    /// A read begins: what the open-file dialog, a name given outside it (command line, a drop)
    /// and the list of lines give from here on is the read's.
    void beginRead();
    /// The field book a read is given outside the open-file dialog, as its bytes name it.
    void setFieldBook(const std::string& pathBytes);
    /// The read has cleared the sheet: its book (none when the dialog was cancelled) is the
    /// sheet's from now on.
    void commitRead();

    /// The name an output of the sheet is offered under, as bytes: the book's name with
    /// `extension` (".pdf", ".xlsx"), BOOK.run-K.pdf for line K of a book of several as
    /// rendle-reduce names it, beside the book when its folder can be written, else in the
    /// home folder; the sheet's title without a book.
    /// Without a book, `fallbackStem` (the sheet's title for a PDF; nothing offered when empty).
    std::string offeredOutput(std::string_view extension, const std::string& fallbackStem) const;
    /// The title a printed report carries (a PDF's metadata, a print job's name): the book's
    /// name and its line ("north.gsi, line 2"), or the sheet's title without a book.
    QString documentTitle(const grid::Grid& sheet) const;

    /// Sets up a printer for File > Print: the system's default printer stays chosen; the
    /// field book's name is the job's name, from which the print dialog makes the PDF name
    /// offered when printing to a file is chosen.
    void preparePrinter(QPrinter& printer, const grid::Grid& sheet) const;
    /// offeredOutput as a dialog shows it: a path it can enter whatever the folder's encoding,
    /// which the dialog's answer is mapped back from.
    QString shownOutput(std::string_view extension, const std::string& fallbackStem) const;
    /// The PDF the print dialog offers (offeredOutput with ".pdf"), as the dialog shows it.
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
    std::string lastOpenFolder_;  ///< bytes, as the file system names it
    std::string lastSaveFolder_;
    mutable DialogPaths paths_;  ///< makes links to folders a dialog could not name
    FieldBookOnSheet book_;
    FieldBookOnSheet reading_;  // what the read under way has been given so far
};

}  // namespace rendle::ui
