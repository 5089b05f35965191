// FormRL and FormChangeRL: the two benchmark RL windows, one layout.
#pragma once

#include <QDialog>

#include "commands/BenchmarkRL.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace rendle::ui {

class RLWindow : public QDialog {
    Q_OBJECT

  public:
    enum class Kind {
        Enter,  ///< FormRL, after a read: modal
        Change  ///< FormChangeRL, from Level Parameters: modeless
    };

    explicit RLWindow(Kind kind, QWidget* parent = nullptr);

    /// Fills the two boxes.
    void fill(const commands::RLBoxes& boxes);
    /// The two boxes as they stand.
    commands::RLBoxes boxes() const;

    /// Text1 (index 0 or 1) and Label1 (index 0 or 1).
    QLineEdit* text1(int index) const;
    QLabel* label1(int index) const;
    QPushButton* okButton() const { return ok_; }

  signals:
    /// OK was pressed; the window closes right after.
    void confirmed(const commands::RLBoxes& boxes);

  private:
    QGroupBox* frame_;
    QLabel* labels_[2];
    QLineEdit* texts_[2];
    QPushButton* ok_;
};

}  // namespace rendle::ui
