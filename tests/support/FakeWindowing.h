// A scripted stand-in for the windowing layer: records what a command showed and did.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "commands/Windowing.h"

namespace rendle::testing {

struct ShownMessage {
    std::string text;
    std::string title;
    commands::MessageIcon icon;
};

class FakeWindowing : public commands::Windowing {
  public:
    void ShowMessage(std::string_view text, std::string_view title,
                     commands::MessageIcon icon) override {
        messages.push_back({std::string(text), std::string(title), icon});
        events.push_back("message");
    }
    void SetMousePointer(commands::MousePointer pointer) override { pointers.push_back(pointer); }

    std::string ShowOpenFileDialog(std::string_view filter, std::string_view fileName) override {
        filters.emplace_back(filter);
        presetFileNames.emplace_back(fileName);
        events.push_back("file dialog");
        return nextFileName;
    }
    std::optional<commands::RLBoxes> ShowFormRL(const commands::RLBoxes& boxes) override {
        formRLShown.push_back(boxes);
        events.push_back("FormRL");
        if (onFormRL) onFormRL();
        if (closeFormRLByCloseBox) return std::nullopt;
        commands::RLBoxes typed = boxes;
        if (typeStart) typed.start = *typeStart;
        if (typeEnd) typed.end = *typeEnd;
        return typed;
    }

    void SaveAsDialog(std::string_view title, commands::FileSpec& fileSpec) override {
        saveTitles.emplace_back(title);
        events.push_back("save dialog");
        fileSpec.FileSpecName = nextSaveName;
    }
    void PrintSheet(const grid::Grid&) override {
        ++printed;
        events.push_back("print");
    }

    // Script: the dialog's answer, and what the user types into FormRL before OK.
    std::string nextFileName;
    std::string nextSaveName;
    std::vector<std::string> saveTitles;
    int printed = 0;
    std::optional<std::string> typeStart;
    std::optional<std::string> typeEnd;
    bool closeFormRLByCloseBox = false;
    std::function<void()> onFormRL;  ///< runs while FormRL is up, to look at the sheet then

    std::vector<std::string> filters;
    std::vector<std::string> presetFileNames;
    std::vector<commands::RLBoxes> formRLShown;
    std::vector<ShownMessage> messages;
    std::vector<commands::MousePointer> pointers;
    std::vector<std::string> events;
};

}  // namespace rendle::testing
