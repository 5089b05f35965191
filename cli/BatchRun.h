// rendle-reduce's work: one read command run without windows, and the level sheet written out
// as a plain-text level report or as a JSON document.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/RunState.h"
#include "core/Windowing.h"
#include "grid/Grid.h"
#include "readers/FieldBook.h"

namespace rendle::cli {

struct ShownMessage {
    std::string title;
    std::string text;
};

/// The windowing layer of a batch run: the open-file dialog gives the field book, FormRL is
/// confirmed by OK with the boxes as the read filled them unless the caller replaces a box.
class BatchWindowing : public core::Windowing {
  public:
    BatchWindowing(std::string fieldBook, std::optional<std::string> startRL,
                   std::optional<std::string> endRL);

    /// The save dialog's answer (--save), and how the sheet is printed (--pdf).
    void setSaveName(std::string name) { saveName_ = std::move(name); }
    void setPrinter(std::function<void(const grid::Grid&)> print) { print_ = std::move(print); }

    void ShowMessage(std::string_view text, std::string_view title,
                     core::MessageIcon icon) override;
    void SetMousePointer(core::MousePointer) override {}
    void CloseMainWindow() override { mainWindowClosed = true; }
    std::string ShowOpenFileDialog(std::string_view filter, std::string_view fileName) override;
    std::optional<core::RLBoxes> ShowFormRL(const core::RLBoxes& boxes) override;
    void SaveAsDialog(std::string_view title, core::FileSpec& fileSpec) override;
    void PrintSheet(const grid::Grid& sheet) override;

    std::vector<ShownMessage> messages;
    bool mainWindowClosed = false;

  private:
    std::string fieldBook_;
    std::optional<std::string> startRL_;
    std::optional<std::string> endRL_;
    std::string saveName_;
    std::function<void(const grid::Grid&)> print_;
};

/// The format of a field book told from its content: line 1 starting "For M5" is M5; otherwise
/// the first header record naming SDR20 or SDR33. Nothing when neither is found; `error` is set
/// when the file cannot be read.
std::optional<readers::FieldBookFormat> DetectFormat(const std::string& path, std::string& error);

/// Rows 1 to the last used row, the visible columns, every value as displayed, columns aligned.
std::string LevelReport(const grid::Grid& sheet);

/// The level sheet, the run state, FormRL's boxes, the messages and the outcome as one JSON
/// object.
std::string JsonReport(const grid::Grid& sheet, const core::RunState& run,
                       const readers::ReadOutcome& outcome,
                       const std::vector<ShownMessage>& messages);

/// "reduced", "reduction-stopped", "read-failed" or "no-data".
std::string OutcomeName(const readers::ReadOutcome& outcome);

/// 0 reduced, 3 the reduction stopped early, 2 the read ended with a message, 1 without.
int ExitStatus(const readers::ReadOutcome& outcome);

}  // namespace rendle::cli
