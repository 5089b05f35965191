// What the program's commands do with windows, message boxes and the mouse pointer. The desktop
// program implements it with real windows; tests and the command-line tool supply their own.
#pragma once

#include <string>
#include <string_view>

namespace rendle::core {

enum class MessageIcon { Critical };

enum class MousePointer { Default, Hourglass };

class Windowing {
  public:
    virtual ~Windowing() = default;

    /// A modal message box with one OK button; returns when the user has closed it.
    virtual void ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) = 0;
    /// The application-wide mouse pointer.
    virtual void SetMousePointer(MousePointer pointer) = 0;
    /// Closes the main window as its close box does: its unload handler runs.
    virtual void CloseMainWindow() = 0;
};

}  // namespace rendle::core
