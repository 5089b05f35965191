#include "ui/RLWindow.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/Fonts.h"
#include "ui/Help.h"
#include "ui/Twips.h"

namespace rendle::ui {

RLWindow::RLWindow(Kind kind, QWidget* parent) : QDialog(parent) {
    const bool enter = kind == Kind::Enter;
    setObjectName(enter ? "FormRL" : "FormChangeRL");
    setWindowTitle("Rendle Ver 1.1 Orvanta");
    setFixedSize(Twips(4830), Twips(enter ? 3195 : 3240));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);

    // Set, not inherited, for the text boxes: they stay regular.
    const QFont font = SansSerifFont(9.75, false);
    const QFont bold = SansSerifFont(9.75, true);
    setFont(bold);

    frame_ = new QGroupBox(enter ? "Enter RL" : "Change RL", this);
    frame_->setObjectName("FrameRL");
    frame_->setToolTip(enter ? "Enter RLs" : "To amend RLs");
    frame_->setGeometry(TwipsRect(120, 120, 4575, 2895));

    const char* captions[2] = {"RL of Starting BM", "RL od Ending BM"};
    const int labelTops[2] = {840, 1320};
    const int textTops[2] = {720, 1200};
    for (int i = 0; i < 2; ++i) {
        labels_[i] = new QLabel(captions[i], frame_);
        labels_[i]->setObjectName("Label1");
        labels_[i]->setProperty("index", i);
        labels_[i]->setGeometry(TwipsRect(360, labelTops[i], 1800, 240));

        texts_[i] = new QLineEdit(frame_);
        texts_[i]->setObjectName("Text1");
        texts_[i]->setProperty("index", i);
        texts_[i]->setFont(font);
        texts_[i]->setGeometry(TwipsRect(2280, textTops[i], 1215, 375));
    }

    ok_ = new QPushButton("OK", frame_);
    ok_->setObjectName(enter ? "CmdRLOK" : "CmdRLChange");
    ok_->setGeometry(TwipsRect(2280, 1800, 1215, 495));
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, [this] {
        // Nothing is checked here: the reduction decides what an RL text is worth.
        const commands::RLBoxes typed = boxes();
        accept();
        emit confirmed(typed);
    });
    texts_[0]->setFocus();
    help::InstallContextHelp(this, enter ? help::kFormRL : help::kFormChangeRL);
}

void RLWindow::fill(const commands::RLBoxes& boxes) {
    texts_[0]->setText(QString::fromStdString(boxes.start));
    texts_[1]->setText(QString::fromStdString(boxes.end));
}

commands::RLBoxes RLWindow::boxes() const {
    return {texts_[0]->text().toStdString(), texts_[1]->text().toStdString()};
}

QLineEdit* RLWindow::text1(int index) const {
    return texts_[index];
}

QLabel* RLWindow::label1(int index) const {
    return labels_[index];
}

}  // namespace rendle::ui
