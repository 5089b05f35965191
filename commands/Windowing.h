// What the program's commands do with windows, message boxes and the mouse pointer. The desktop
// program implements it with real windows; tests and the command-line tool supply their own.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/BenchmarkRL.h"

namespace rendle::grid {
class Grid;
}

namespace rendle::readers {
struct LevellingLine;
enum class FieldBookFormat;
}  // namespace rendle::readers

namespace rendle::commands {

/// What the save dialog is given and gives back: the chosen path as FileSpecName (empty when
/// the user cancels).
struct FileSpec {
    std::string FileSpecName;
};

enum class MessageIcon { Critical };

/// A message box as it was shown: its title and its text.
struct ShownMessage {
    std::string title;
    std::string text;
};

/// The application-wide mouse pointer; the commands only ever restore the default.
enum class MousePointer { Default };

class Windowing {
  public:
    virtual ~Windowing() = default;

    /// A modal message box with one OK button; returns when the user has closed it.
    virtual void ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) = 0;
    /// The application-wide mouse pointer.
    virtual void SetMousePointer(MousePointer pointer) = 0;
    /// The open-file dialog with a "text|pattern|text|pattern" filter and a preset file name;
    /// gives the chosen file's name, or an empty name when the user cancels.
    virtual std::string ShowOpenFileDialog(std::string_view filter, std::string_view fileName) = 0;
    /// FormRL, modal, its two boxes filled from `boxes`. Gives the boxes as they stood when OK
    /// was pressed, or nothing when the window was closed by its close box.
    virtual std::optional<RLBoxes> ShowFormRL(const RLBoxes& boxes) = 0;
    /// The grid's save dialog with a title; the chosen path comes back in the file-spec object.
    virtual void SaveAsDialog(std::string_view title, FileSpec& fileSpec) = 0;
    /// Asks which levelling line of a book of several (of `format`) to read, in a modal list
    /// (run number, name, set-ups, first and last point); the chosen run's number, or nothing
    /// when the user cancels. Without a list window the first is read.
    virtual std::optional<int> ChooseRun(const std::vector<readers::LevellingLine>& runs,
                                         readers::FieldBookFormat /*format*/) {
        return runs.empty() ? std::nullopt : std::optional<int>(1);
    }
    /// Prints the sheet with its print settings: the print dialog, then the pages. Reports a
    /// failed print itself; a cancelled print dialog prints nothing and says nothing.
    virtual void PrintSheet(const grid::Grid& sheet) = 0;
    /// Whether the sheet's column widths are ever seen (shown, printed or saved); a layer that
    /// only says the run in words has them left unfitted.
    virtual bool ColumnWidthsSeen() const { return true; }
};

}  // namespace rendle::commands
