// The corrections of a network job, set in a dialog of their own so that the job panel stays
// what most jobs need: the staff table and the staffs of the runs with their temperature, the
// coefficient of refraction, and the normal-orthometric correction with the points' positions.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "network/NetworkJob.h"

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;

namespace rendle::netui {

class CorrectionsDialog : public QDialog {
    Q_OBJECT

  public:
    /// Asks for a file to read (title, name filter) and gives its path as bytes, or nothing.
    using ChooseFile = std::function<std::string(const QString& title, const QString& filter)>;

    CorrectionsDialog(const network::NetworkJob& job, ChooseFile choose, QWidget* parent = nullptr);

    /// `job` with the corrections as the dialog sets them; nothing, and the reason in `why`,
    /// when what is typed cannot be taken.
    std::optional<network::NetworkJob> corrected(const network::NetworkJob& job,
                                                 QString* why) const;

    /// Closes only on corrections that can be taken; else says why and stays.
    void accept() override;

    /// The corrections of `job` in a few words ("none" when it makes none).
    static QString Describe(const network::NetworkJob& job);

  private:
    QLineEdit* fileRow(const QString& placeholder, const QString& title, const QString& filter,
                       const std::string& path, QWidget* into, QFormLayout* form,
                       const QString& label, const char* name);

    network::NetworkJob job_;
    ChooseFile choose_;
    QLineEdit* staffTable_ = nullptr;
    QLineEdit* staffs_ = nullptr;
    QLineEdit* temperature_ = nullptr;
    QLineEdit* refraction_ = nullptr;
    QComboBox* normalOrthometric_ = nullptr;
    QLineEdit* positions_ = nullptr;
    QLabel* why_ = nullptr;
};

}  // namespace rendle::netui
