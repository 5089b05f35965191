#include "netui/CorrectionsDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>
#include <fstream>

#include "core/Corrections.h"
#include "core/RunState.h"
#include "grid/NumberFormat.h"
#include "network/NormalOrthometric.h"
#include "ui/DialogPaths.h"

namespace rendle::netui {

namespace net = rendle::network;
using ui::FromBytes;
using ui::ToBytes;

namespace {

constexpr int kNoCorrection = 0;

/// The path a file row holds: as chosen (its bytes kept) or as typed.
std::string PathOf(const QLineEdit* edit) {
    const QVariant chosen = edit->property("bytes");
    if (chosen.isValid()) return chosen.toByteArray().toStdString();
    return ToBytes(edit->text().trimmed());
}

void SetPath(QLineEdit* edit, const std::string& path) {
    edit->setText(FromBytes(path));
    edit->setProperty("bytes", QByteArray::fromStdString(path));
}

QString NumberText(const std::optional<double>& value) {
    return value ? QString::fromStdString(grid::GeneralNumberText(*value)) : QString();
}

QString FileName(const std::string& path) {
    return FromBytes(std::filesystem::path(path).filename().string());
}

}  // namespace

CorrectionsDialog::CorrectionsDialog(const net::NetworkJob& job, ChooseFile choose, QWidget* parent)
    : QDialog(parent), job_(job), choose_(std::move(choose)) {
    setWindowTitle(tr("Corrections"));
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(tr("Corrections are made to the height differences before they are "
                               "adjusted; the field books stay as they are."),
                            this);
    note->setWordWrap(true);
    layout->addWidget(note);

    auto* form = new QFormLayout;
    staffTable_ = fileRow(tr("serial,scale_ppm,t0_c,alpha_ppm_per_c[,index_mm]"), tr("Staff table"),
                          tr("Staff tables (*.csv *.CSV);;All files (*)"), job.staffsFile, this,
                          form, tr("Staff table"), "StaffTable");
    staffs_ = new QLineEdit(this);
    staffs_->setObjectName("Staffs");
    staffs_->setPlaceholderText(tr("A, or A,B leapfrogging from the first backsight"));
    QStringList staffs;
    for (const std::string& s : job.staffs) staffs << FromBytes(s);
    staffs_->setText(staffs.join(","));
    form->addRow(tr("Staffs of the runs"), staffs_);
    temperature_ = new QLineEdit(NumberText(job.temperature), this);
    temperature_->setObjectName("Temperature");
    temperature_->setPlaceholderText(tr("each staff at its reference temperature"));
    form->addRow(tr("Staff temperature (C)"), temperature_);
    refraction_ = new QLineEdit(NumberText(job.refraction), this);
    refraction_->setObjectName("CurvatureRefraction");
    refraction_->setPlaceholderText(tr("not corrected; 0.13 is usual"));
    form->addRow(tr("Curvature and refraction, K"), refraction_);
    normalOrthometric_ = new QComboBox(this);
    normalOrthometric_->setObjectName("NormalOrthometric");
    normalOrthometric_->addItem(tr("Not corrected"));
    normalOrthometric_->addItem(tr("From the difference of the latitudes"));
    normalOrthometric_->addItem(tr("Along the geodesic"));
    if (job.normalOrthometric) {
        normalOrthometric_->setCurrentIndex(
            job.normalOrthometricForm == net::NormalOrthometricForm::Geodesic ? 2 : 1);
    }
    form->addRow(tr("Normal-orthometric"), normalOrthometric_);
    positions_ = fileRow(tr("name,latitude,longitude in decimal degrees"), tr("Positions"),
                         tr("Positions (*.csv *.CSV);;All files (*)"), job.positionsFile, this,
                         form, tr("Positions"), "Positions");
    layout->addLayout(form);

    why_ = new QLabel(this);
    why_->setObjectName("Why");
    why_->setWordWrap(true);
    why_->setStyleSheet("color: #b00020");
    why_->hide();
    layout->addWidget(why_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CorrectionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CorrectionsDialog::reject);
    layout->addWidget(buttons);
}

QLineEdit* CorrectionsDialog::fileRow(const QString& placeholder, const QString& title,
                                      const QString& filter, const std::string& path, QWidget* into,
                                      QFormLayout* form, const QString& label, const char* name) {
    auto* row = new QHBoxLayout;
    auto* edit = new QLineEdit(into);
    edit->setObjectName(name);
    edit->setPlaceholderText(placeholder);
    if (!path.empty()) SetPath(edit, path);
    // Typed over, the name is the text typed.
    connect(edit, &QLineEdit::textEdited, edit, [edit] { edit->setProperty("bytes", QVariant()); });
    auto* browse = new QPushButton(tr("Browse..."), into);
    browse->setObjectName(QString(name) + "Browse");
    connect(browse, &QPushButton::clicked, this, [this, edit, title, filter] {
        if (!choose_) return;
        const std::string chosen = choose_(title, filter);
        if (!chosen.empty()) SetPath(edit, chosen);
    });
    row->addWidget(edit, 1);
    row->addWidget(browse);
    form->addRow(label, row);
    return edit;
}

std::optional<net::NetworkJob> CorrectionsDialog::corrected(const net::NetworkJob& job,
                                                            QString* why) const {
    const auto refuse = [why](const QString& reason) {
        if (why) *why = reason;
        return std::optional<net::NetworkJob>();
    };
    net::NetworkJob j = job;
    j.staffsFile = PathOf(staffTable_);
    j.staffs.clear();
    for (const QString& s : staffs_->text().split(',', Qt::SkipEmptyParts)) {
        if (!s.trimmed().isEmpty()) j.staffs.push_back(ToBytes(s.trimmed()));
    }
    const auto number = [&refuse](const QLineEdit* edit, const QString& what, double low,
                                  double high, std::optional<double>& into) -> bool {
        const QString typed = edit->text().trimmed();
        into.reset();
        if (typed.isEmpty()) return true;
        const std::optional<double> value = core::ParseDecimalText(typed.toStdString());
        if (!value || *value < low || *value > high) {
            refuse(tr("%1 is a number from %2 to %3, not \"%4\".")
                       .arg(what, QString::fromStdString(grid::GeneralNumberText(low)),
                            QString::fromStdString(grid::GeneralNumberText(high)), typed));
            return false;
        }
        into = value;
        return true;
    };
    if (!number(temperature_, tr("The staff temperature"), core::kColdestStaff, core::kHottestStaff,
                j.temperature) ||
        !number(refraction_, tr("K"), core::kLeastRefraction, core::kMostRefraction,
                j.refraction)) {
        return std::nullopt;
    }
    switch (core::StaffsGapOf(j.staffsFile, j.staffs, j.temperature.has_value())) {
        case core::StaffsGap::None:
            break;
        case core::StaffsGap::NoTable:
            return refuse(tr("Give the staff table the staffs are in."));
        case core::StaffsGap::NoStaffs:
            return refuse(tr("Name the staff of the runs (A), or the two that leapfrog (A,B)."));
        case core::StaffsGap::TemperatureWithoutStaffs:
            return refuse(
                tr("The temperature is the staffs': give the staff table and the staffs."));
    }
    if (!j.staffsFile.empty()) {
        // The table read now, so that a staff it does not hold is said here, naming the line.
        try {
            core::LoadStaffs(j.staffsFile, j.staffs);
        } catch (const core::CorrectionError& error) {
            return refuse(FromBytes(error.what()));
        }
    }
    const int form = normalOrthometric_->currentIndex();
    j.normalOrthometric = form != kNoCorrection;
    j.normalOrthometricForm =
        form == 2 ? net::NormalOrthometricForm::Geodesic : net::NormalOrthometricForm::Latitude;
    j.positionsFile = j.normalOrthometric ? PathOf(positions_) : std::string();
    if (j.normalOrthometric) {
        if (j.positionsFile.empty()) {
            return refuse(
                tr("The normal-orthometric correction needs the points' positions "
                   "(name,latitude,longitude)."));
        }
        std::ifstream in(j.positionsFile, std::ios::binary);
        if (!in) return refuse(tr("Cannot open %1.").arg(FromBytes(j.positionsFile)));
        try {
            net::ReadGeographicPositions(in, j.positionsFile);
        } catch (const net::NetworkError& error) {
            return refuse(FromBytes(error.what()));
        }
    }
    return j;
}

void CorrectionsDialog::accept() {
    QString why;
    if (!corrected(job_, &why)) {
        why_->setText(why);
        why_->show();
        return;
    }
    QDialog::accept();
}

QString CorrectionsDialog::Describe(const net::NetworkJob& job) {
    QStringList words;
    if (!job.staffs.empty()) {
        QString staffs =
            job.staffs.size() == 1
                ? tr("staff %1").arg(FromBytes(job.staffs[0]))
                : tr("staffs %1 and %2").arg(FromBytes(job.staffs[0]), FromBytes(job.staffs[1]));
        staffs += tr(" of %1").arg(FileName(job.staffsFile));
        if (job.temperature) staffs += tr(" at %1 C").arg(NumberText(job.temperature));
        words << staffs;
    }
    if (job.refraction)
        words << tr("curvature and refraction, K %1").arg(NumberText(job.refraction));
    if (job.normalOrthometric) {
        words << (job.normalOrthometricForm == net::NormalOrthometricForm::Geodesic
                      ? tr("normal-orthometric along the geodesic")
                      : tr("normal-orthometric"));
    }
    if (words.isEmpty()) return tr("None");
    QString said = words.join("; ");
    said[0] = said[0].toUpper();
    return said;
}

}  // namespace rendle::netui
