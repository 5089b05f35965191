// A scripted stand-in for the windowing layer: records what a command showed and did.
#pragma once

#include <string>
#include <vector>

#include "core/Windowing.h"

namespace rendle::testing {

struct ShownMessage {
    std::string text;
    std::string title;
    core::MessageIcon icon;
};

class FakeWindowing : public core::Windowing {
  public:
    void ShowMessage(std::string_view text, std::string_view title,
                     core::MessageIcon icon) override {
        messages.push_back({std::string(text), std::string(title), icon});
        events.push_back("message");
    }
    void SetMousePointer(core::MousePointer pointer) override { pointers.push_back(pointer); }
    void CloseMainWindow() override {
        ++mainWindowClosed;
        events.push_back("close");
    }

    std::vector<ShownMessage> messages;
    std::vector<core::MousePointer> pointers;
    std::vector<std::string> events;
    int mainWindowClosed = 0;
};

}  // namespace rendle::testing
