#include "ui/AboutWindow.h"

#include <QLabel>
#include <QPalette>
#include <QPushButton>

#include "ui/Fonts.h"
#include "ui/Help.h"
#include "ui/Twips.h"

// The pictures are compiled into the ui library, which the linker would leave out unless asked.
static void InitRendleResources() {
    Q_INIT_RESOURCE(rendle);
}

namespace rendle::ui {

void LoadResources() {
    InitRendleResources();
}

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent) {
    LoadResources();
    setObjectName("frmAbout");
    setWindowTitle("About Rendle");
    // A fixed window with a title bar and close box, no minimize or maximize button.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(Twips(4350), Twips(6495));
    move(Twips(2340), Twips(1935));

    // The background is the desktop's menu-text colour.
    QPalette background = palette();
    background.setColor(QPalette::Window, palette().color(QPalette::Active, QPalette::WindowText));
    setPalette(background);
    setAutoFillBackground(true);

    auto* picture = new QLabel(this);
    picture->setObjectName("Picture");
    picture->setPixmap(QPixmap(":/rendle/about.png"));
    picture->setGeometry(0, 0, 292, 286);

    ok_ = new QPushButton("OK", this);
    ok_->setObjectName("cmdOK");
    ok_->setFont(SansSerifFont(18, true));
    ok_->setGeometry(TwipsRect(2760, 5760, 1380, 585));
    // A flat orange face with a raised edge.
    ok_->setStyleSheet(
        "QPushButton#cmdOK { background-color: rgb(255, 128, 0); color: black;"
        " border: 2px outset rgb(190, 95, 0); }"
        "QPushButton#cmdOK:pressed { border-style: inset; }");
    // OK is both the default button (Enter) and the cancel button (Esc, handled by QDialog).
    ok_->setDefault(true);
    ok_->setAutoDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

    help::InstallContextHelp(this, help::kAbout);
}

}  // namespace rendle::ui
