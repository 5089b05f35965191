// frmAbout: the About window.
#pragma once

#include <QDialog>

class QPushButton;

namespace rendle::ui {

/// Makes the program's pictures (About picture, icon) available as ":/rendle/...".
void LoadResources();

class AboutWindow : public QDialog {
    Q_OBJECT

  public:
    explicit AboutWindow(QWidget* parent = nullptr);
    QPushButton* okButton() const { return ok_; }

  private:
    QPushButton* ok_;
};

}  // namespace rendle::ui
