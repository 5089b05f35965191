// rendle-reduce's work: one read command run without windows, and the level sheet written out
// as a plain-text level report or as a JSON document.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "commands/ReadCommand.h"
#include "commands/Windowing.h"
#include "core/Checks.h"
#include "core/RunState.h"
#include "grid/Grid.h"
#include "readers/FieldBook.h"

namespace rendle::cli {

using commands::ShownMessage;

/// The windowing layer of a batch run: the open-file dialog gives the field book, FormRL is
/// confirmed by OK with the boxes as the read filled them unless the caller replaces a box.
class BatchWindowing : public commands::Windowing {
  public:
    BatchWindowing(std::string fieldBook, std::optional<std::string> startRL,
                   std::optional<std::string> endRL);

    /// The save dialog's answer (--save), and how the sheet is printed (--pdf).
    void setSaveName(std::string name) { saveName_ = std::move(name); }
    void setPrinter(std::function<void(const grid::Grid&)> print) { print_ = std::move(print); }
    /// Whether the sheet will be printed or saved: else its column widths are never seen.
    void setColumnWidthsSeen(bool seen) { widthsSeen_ = seen; }
    bool ColumnWidthsSeen() const override { return widthsSeen_; }

    void ShowMessage(std::string_view text, std::string_view title,
                     commands::MessageIcon icon) override;
    void SetMousePointer(commands::MousePointer) override {}
    std::string ShowOpenFileDialog(std::string_view filter, std::string_view fileName) override;
    std::optional<commands::RLBoxes> ShowFormRL(const commands::RLBoxes& boxes) override;
    void SaveAsDialog(std::string_view title, commands::FileSpec& fileSpec) override;
    void PrintSheet(const grid::Grid& sheet) override;

    std::vector<ShownMessage> messages;

  private:
    std::string fieldBook_;
    std::optional<std::string> startRL_;
    std::optional<std::string> endRL_;
    std::string saveName_;
    std::function<void(const grid::Grid&)> print_;
    bool widthsSeen_ = true;
};

/// 0 reduced, 3 the reduction stopped early, 2 the read ended with a message, 1 without.
int ExitStatus(const commands::ReadCommandResult& outcome);

}  // namespace rendle::cli
