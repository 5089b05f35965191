// The desktop driven as a user drives it: on an X server with a window manager (under_x.sh),
// keys sent through the server by xdotool, so that each press reaches the program as its own
// event after the last one was handled, windows get frames, and Alt+F4 comes from the window
// manager. The offscreen platform gives none of that.
#include <QAbstractButton>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <tuple>

#include "UiSteps.h"
#include "ui/Help.h"
#include "ui/HelpViewer.h"
#include "ui/MainWindow.h"
#include "ui/RLWindow.h"
#include "ui/SheetModel.h"
#include "ui/SheetView.h"

using namespace rendle;
using rendle::testing::ReadSdr20Sample;
using rendle::testing::WhenWindowShows;
using rendle::ui::MainWindow;

namespace {

/// Presses keys through the X server, as xdotool names them ("shift+Down", "Return").
void Press(const QStringList& keys) {
    for (const QString& key : keys) {
        QCOMPARE(QProcess::execute("xdotool", {"key", "--clearmodifiers", key}), 0);
        // Each press handled, and whatever it queued, before the next.
        QTest::qWait(30);
    }
}

/// Types text through the X server, a key at a time.
void TypeText(const QString& text) {
    QCOMPARE(QProcess::execute("xdotool", {"type", "--delay", "30", text}), 0);
    QTest::qWait(30);
}

/// The frame a window has on the screen as the X server knows it: the window's own place
/// (xwininfo) widened by the frame the window manager says it put round it (_NET_FRAME_EXTENTS);
/// empty while it has put none.
QRect FrameOnScreen(const QWidget& window) {
    const QString id = QString::number(window.winId());
    QProcess info;
    info.start("xwininfo", {"-id", id});
    info.waitForFinished(10000);
    const QString geometry = QString::fromUtf8(info.readAllStandardOutput());
    const auto field = [&](const char* name) {
        const QRegularExpression pattern(QString(name) + ":\\s+(-?\\d+)");
        return pattern.match(geometry).captured(1).toInt();
    };
    QProcess property;
    property.start("xprop", {"-id", id, "_NET_FRAME_EXTENTS"});
    property.waitForFinished(10000);
    const QRegularExpression extents("= (\\d+), (\\d+), (\\d+), (\\d+)");
    const QRegularExpressionMatch m =
        extents.match(QString::fromUtf8(property.readAllStandardOutput()));
    if (!m.hasMatch()) return {};
    const int left = m.captured(1).toInt(), right = m.captured(2).toInt();
    const int top = m.captured(3).toInt(), bottom = m.captured(4).toInt();
    if (top == 0) return {};
    return {field("Absolute upper-left X") - left, field("Absolute upper-left Y") - top,
            field("Width") + left + right, field("Height") + top + bottom};
}

std::tuple<int32_t, int32_t, int32_t, int32_t> Selection(MainWindow& window) {
    const grid::Range& s = window.sheet().Selection();
    return {s.row1, s.col1, s.row2, s.col2};
}

/// The main window shown, active, with a run read and the sheet holding the keyboard.
std::unique_ptr<MainWindow> ActiveWindowWithARun() {
    auto window = std::make_unique<MainWindow>();
    window->show();
    ReadSdr20Sample(*window, "100", "100.02");
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get())) return nullptr;
    window->sheetView().setFocus();
    return window;
}

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT

  private slots:
    void shiftAndTheArrowsGrowTheSelectionACellAPress();
    void anArrowEndsATypedEntry();
    void theHelpViewerStaysOnTheScreen_data();
    void theHelpViewerStaysOnTheScreen();
    void closingAChangedSheetByTheWindowManagerAsks();
};

void DesktopTest::shiftAndTheArrowsGrowTheSelectionACellAPress() {
    const auto window = ActiveWindowWithARun();
    QVERIFY(window);
    auto& view = window->sheetView();
    view.setCurrentIndex(window->sheetModel().index(5, 1));  // B6
    struct Step {
        const char* key;
        std::tuple<int32_t, int32_t, int32_t, int32_t> selected;
    };
    const Step steps[] = {
        {"shift+Down", {6, 2, 7, 2}},  {"shift+Down", {6, 2, 8, 2}},  {"shift+Down", {6, 2, 9, 2}},
        {"shift+Right", {6, 2, 9, 3}}, {"shift+Right", {6, 2, 9, 4}}, {"shift+Up", {6, 2, 8, 4}},
        {"shift+Left", {6, 2, 8, 3}},  {"shift+Left", {6, 2, 8, 2}},  {"shift+Left", {6, 1, 8, 2}},
        {"shift+Up", {6, 1, 7, 2}},    {"shift+Up", {6, 1, 6, 2}},    {"shift+Up", {5, 1, 6, 2}},
        {"Down", {6, 1, 6, 1}},  // a plain move goes on from the moving end, alone
    };
    for (const Step& step : steps) {
        Press({step.key});
        QTRY_COMPARE(Selection(*window), step.selected);
    }
}

void DesktopTest::anArrowEndsATypedEntry() {
    const auto window = ActiveWindowWithARun();
    QVERIFY(window);
    auto& model = window->sheetModel();
    window->sheetView().setCurrentIndex(model.index(29, 0));  // A30, below the run
    TypeText("QX7");
    Press({"Right"});
    TypeText("2.5");
    Press({"Return"});
    QTRY_COMPARE(window->sheet().CellText(30, 1), std::string("QX7"));
    QTRY_COMPARE(window->sheet().CellNumber(30, 2), 2.5);
    QTRY_COMPARE(window->sheetView().currentIndex(), model.index(30, 1));
}

void DesktopTest::theHelpViewerStaysOnTheScreen_data() {
    QTest::addColumn<QString>("where");
    QTest::newRow("Enter RL over the main window") << "centre";
    QTest::newRow("a window at the bottom left") << "bottom-left";
    QTest::newRow("a window at the top right") << "top-right";
    QTest::newRow("a window filling the screen's width") << "wide";
}

void DesktopTest::theHelpViewerStaysOnTheScreen() {
    QFETCH(QString, where);
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    // The window F1 is pressed in: FormRL, where the main window puts it, or pushed to an edge.
    ui::RLWindow asking(ui::RLWindow::Kind::Enter, nullptr);
    asking.show();
    asking.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&asking, 10000));
    if (where == "bottom-left")
        asking.move(room.left(), room.bottom() - asking.frameGeometry().height());
    if (where == "top-right")
        asking.move(room.right() - asking.frameGeometry().width(), room.top());
    if (where == "wide") asking.resize(room.width() - 20, asking.height());
    // The window manager frames it: its frame is larger than the window itself.
    QTRY_VERIFY_WITH_TIMEOUT(!FrameOnScreen(asking).isEmpty(), 10000);
    QTest::qWait(100);
    const QRect frame = FrameOnScreen(asking);

    // Asked as F1 asks it: beside that frame, with what that frame adds to its window.
    ui::HelpViewer viewer;
    viewer.placeBeside(frame, frame.size() - asking.size());
    viewer.present();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QTRY_VERIFY_WITH_TIMEOUT(!FrameOnScreen(viewer).isEmpty(), 10000);
    QTest::qWait(700);  // past the last look at its frame
    const QRect placed = FrameOnScreen(viewer);
    QVERIFY2(room.contains(placed), qPrintable(QString("%1,%2 %3x%4 on %5x%6")
                                                   .arg(placed.x())
                                                   .arg(placed.y())
                                                   .arg(placed.width())
                                                   .arg(placed.height())
                                                   .arg(room.width())
                                                   .arg(room.height())));
}

void DesktopTest::closingAChangedSheetByTheWindowManagerAsks() {
    const auto window = ActiveWindowWithARun();
    QVERIFY(window);
    auto& model = window->sheetModel();
    window->sheetView().setCurrentIndex(model.index(6, 1));
    TypeText("1.466");
    Press({"Return"});
    QTRY_COMPARE(window->sheet().CellNumber(7, 2), 1.466);
    // Alt+F4 is the window manager's: the question comes up, and Cancel keeps the sheet.
    QString asked;
    WhenWindowShows("SaveBeforeClosing", [&asked](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        asked = box->text();
        box->button(QMessageBox::Cancel)->click();
    });
    Press({"alt+F4"});
    QTRY_COMPARE(asked, QString(ui::kSaveBeforeClosing));
    QTest::qWait(100);
    QVERIFY(window->isVisible());
    QCOMPARE(window->sheet().CellNumber(7, 2), 1.466);
    // Discard closes it.
    WhenWindowShows("SaveBeforeClosing", [](QWidget* widget) {
        qobject_cast<QMessageBox*>(widget)->button(QMessageBox::Discard)->click();
    });
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    Press({"alt+F4"});
    QTRY_VERIFY(!window->isVisible());
}

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
