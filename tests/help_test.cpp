// Help and About: the help file path, the help viewer rendle-help reached over its socket, F1 in
// each window and menu, and the About window.
#include "ui/Help.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocalSocket>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <cstring>

#include "ui/AboutWindow.h"
#include "ui/HelpViewer.h"
#include "ui/MainWindow.h"
#include "ui/RLWindow.h"
#include "ui/SheetView.h"
#include "ui/Twips.h"

using namespace rendle;
namespace help = rendle::ui::help;

namespace {

struct HelpCall {
    QString file;
    unsigned command;
    QVariant data;
};

/// Records what the program asks of the help layer.
class RecordingLayer : public help::HelpLayer {
  public:
    void WinHelp(QWidget* owner, const QString& file, unsigned command,
                 const QVariant& data) override {
        calls.push_back({file, command, data});
        owners.push_back(owner);
    }
    std::vector<HelpCall> calls;
    std::vector<QWidget*> owners;
};

/// Sends one request line to a viewer and gives its answer.
QJsonObject Ask(const QString& socketName, const QJsonObject& request) {
    QLocalSocket socket;
    socket.connectToServer(socketName);
    if (!socket.waitForConnected(2000)) return {{"unreachable", true}};
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + "\n");
    socket.waitForBytesWritten(1000);
    while (!socket.canReadLine() && socket.waitForReadyRead(3000)) {
    }
    return QJsonDocument::fromJson(socket.readLine()).object();
}

/// Starts a viewer of its own for a test, with no hold on the test's output.
bool StartViewer(const QString& socketName) {
    QProcess viewer;
    viewer.setProgram(RENDLE_HELP_VIEWER);
    viewer.setArguments({"--socket", socketName});
    viewer.setStandardOutputFile(QProcess::nullDevice());
    viewer.setStandardErrorFile(QProcess::nullDevice());
    return viewer.startDetached();
}

bool ViewerRunning(const QString& socketName) {
    QLocalSocket socket;
    socket.connectToServer(socketName);
    return socket.waitForConnected(200);
}

}  // namespace

class HelpTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void helpFilePath_data();
    void helpFilePath();
    void setUpFindsTheFileBesideTheProgram();
    void helpFileHasTheContextTopics();
    void viewerAnswersTheHelpLayer();
    void aViewerThatNeverAnswersDoesNotHoldTheWindow();
    void secondClientKeepsTheViewerOpen();
    void aProgramThatEndedUnsaidIsNoLongerCounted();
    void contextHelpShowsBesideTheAskingWindow();
    void aNarrowViewerKeepsItsTopicReadable();
    void missingHelpFileIsReportedByTheViewer();
    void channelSpeaksOnlyToItsOwnUser();
    void malformedRequestsChangeNothing_data();
    void malformedRequestsChangeNothing();
    void theAskingWindowsFrameIsTakenWithinReason_data();
    void theAskingWindowsFrameIsTakenWithinReason();
    void viewerRefusesOversizedMessagesAndOddFiles();
    void viewerIndexSearchAndHistory();
    void contentsAndContextHelp();
    void exitSendsNothingClosingSendsQuit();
    void aboutWindow();
    void aboutTwiceLeavesOneWindow();

  private:
    RecordingLayer recorder_;
    QString socket_;
};

void HelpTest::init() {
    recorder_.calls.clear();
    help::SetLayer(&recorder_);
    socket_ = QString("rendle-help-test-%1-%2")
                  .arg(QCoreApplication::applicationPid())
                  .arg(QTest::currentTestFunction());
}

void HelpTest::cleanup() {
    help::SetLayer(nullptr);
    // Leave no viewer behind, whatever the test did.
    const QString self = QString::number(QCoreApplication::applicationPid());
    for (const QString& client : {QString("A"), QString("B"), QString("test"), self}) {
        if (ViewerRunning(socket_)) Ask(socket_, {{"client", client}, {"command", 2}});
    }
}

void HelpTest::helpFilePath_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("path");
    QTest::newRow("folder ending in a separator and blanks") << "/srv/rendle/  "
                                                             << "/srv/rendle/  rendle.HLP";
    QTest::newRow("POSIX folder") << "/opt/rendle"
                                  << "/opt/rendle/rendle.HLP";
    QTest::newRow("POSIX root") << "/"
                                << "/rendle.HLP";
    QTest::newRow("POSIX folder with slash") << "/usr/lib/rendle/"
                                             << "/usr/lib/rendle/rendle.HLP";
}

void HelpTest::helpFilePath() {
    QFETCH(QString, folder);
    QFETCH(QString, path);
    QCOMPARE(QString::fromStdString(help::HelpFilePath(folder.toStdString())), path);
}

void HelpTest::setUpFindsTheFileBesideTheProgram() {
    ui::MainWindow window;
    QCOMPARE(help::FilePath(), QCoreApplication::applicationDirPath() + "/rendle.HLP");
}

void HelpTest::helpFileHasTheContextTopics() {
    QFile file(RENDLE_HELP_FILE);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const std::vector<ui::HelpTopic> topics = ui::ParseHelpFile(QString::fromUtf8(file.readAll()));
    QVERIFY(topics.size() >= 10);
    for (int context : {10, 210, 220, 230, 240, 250, help::kNetworkWindow}) {
        const auto found = std::find_if(topics.begin(), topics.end(), [&](const ui::HelpTopic& t) {
            return t.context == context;
        });
        QVERIFY2(found != topics.end(), qPrintable(QString::number(context)));
        QVERIFY(!found->title.isEmpty());
        QVERIFY(!found->keywords.isEmpty());
        QVERIFY(found->html.contains("<h1>"));
    }
}

void HelpTest::viewerAnswersTheHelpLayer() {
    // The program's own help layer starts the viewer on demand.
    help::ViewerHelpLayer layer(RENDLE_HELP_VIEWER, socket_);
    QVERIFY(!ViewerRunning(socket_));
    layer.WinHelp(nullptr, RENDLE_HELP_FILE, help::HELP_CONTEXT, 230);
    QTRY_VERIFY(ViewerRunning(socket_));

    const QJsonObject topic = Ask(
        socket_, {{"client", "test"}, {"file", RENDLE_HELP_FILE}, {"command", 1}, {"data", 230}});
    QCOMPARE(topic["shown"].toString(), QString("topic"));
    QCOMPARE(topic["title"].toString(), QString("Benchmark RLs after reading a field book"));

    const QJsonObject index =
        Ask(socket_,
            {{"client", "test"}, {"file", RENDLE_HELP_FILE}, {"command", 0x105}, {"data", ""}});
    QCOMPARE(index["shown"].toString(), QString("index"));
    QCOMPARE(index["search"].toString(), QString(""));

    // HELP_QUIT from both clients (the layer's own and the test's) closes the viewer.
    layer.WinHelp(nullptr, RENDLE_HELP_FILE, help::HELP_QUIT, QVariant());
    QVERIFY(ViewerRunning(socket_));
    Ask(socket_, {{"client", "test"}, {"command", 2}});
    QTRY_VERIFY(!ViewerRunning(socket_));

    // A quit with no viewer running starts none.
    layer.WinHelp(nullptr, RENDLE_HELP_FILE, help::HELP_QUIT, QVariant());
    QVERIFY(layer.WaitUntilSent(5000));
    QVERIFY(!ViewerRunning(socket_));
}

void HelpTest::aViewerThatNeverAnswersDoesNotHoldTheWindow() {
    // A "viewer" that starts and ends without listening: the request is tried in the background
    // and given up, while the window's event loop goes on.
    help::ViewerHelpLayer layer("/bin/true", socket_);
    layer.WinHelp(nullptr, RENDLE_HELP_FILE, help::HELP_CONTEXT, 230);
    layer.WinHelp(nullptr, RENDLE_HELP_FILE, help::HELP_CONTEXT, 10);
    QVERIFY2(layer.Busy(), "the menu command returned before the request was sent");
    bool timerRan = false;
    QTimer::singleShot(0, [&timerRan] { timerRan = true; });
    QVERIFY(layer.WaitUntilSent(20000));
    QVERIFY(timerRan);
    QVERIFY(!ViewerRunning(socket_));
}

void HelpTest::channelSpeaksOnlyToItsOwnUser() {
    int pair[2];
    QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    QVERIFY(help::PeerIsUser(pair[0], getuid()));
    QVERIFY(!help::PeerIsUser(pair[0], getuid() + 1));
    close(pair[0]);
    close(pair[1]);
    QVERIFY2(!help::PeerIsUser(-1, getuid()), "no socket, no trust");

    // The channel lives in a folder of the user's own, keyed by the display.
    qputenv("DISPLAY", ":42");
    const QString name = help::DefaultSocketName();
    QVERIFY2(name.endsWith("/rendle-help-_42"), qPrintable(name));
    struct stat folder {};
    QCOMPARE(stat(QFile::encodeName(QFileInfo(name).path()).constData(), &folder), 0);
    QCOMPARE(folder.st_uid, getuid());
    QCOMPARE(folder.st_mode & 077, 0u);
}

void HelpTest::malformedRequestsChangeNothing_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("not JSON") << QByteArray("help me");
    QTest::newRow("empty line") << QByteArray("");
    QTest::newRow("array") << QByteArray(R"([{"client":"x","command":1}])");
    QTest::newRow("no client") << QByteArray(R"({"command":1})");
    QTest::newRow("client not text") << QByteArray(R"({"client":7,"command":1})");
    QTest::newRow("command not a number") << QByteArray(R"({"client":"x","command":"1"})");
    QTest::newRow("file not text") << QByteArray(R"({"client":"x","command":1,"file":[1]})");
    QTest::newRow("too long") << QByteArray(R"({"client":")") +
                                     QByteArray(help::kMaxHelpMessage, 'x') +
                                     QByteArray(R"(","command":1})");
}

void HelpTest::theAskingWindowsFrameIsTakenWithinReason_data() {
    // What the frame round the asking window adds to it, as the request gives it; an
    // unreasonable one is left out and the viewer waits for its own frame instead.
    QTest::addColumn<QByteArray>("border");
    QTest::addColumn<QSize>("taken");
    QTest::newRow("a title bar and thin sides") << QByteArray("[8,31]") << QSize(8, 31);
    QTest::newRow("no frame at all") << QByteArray("[0,0]") << QSize(0, 0);
    QTest::newRow("at the widest a frame is taken") << QByteArray("[400,400]") << QSize(400, 400);
    QTest::newRow("just past it") << QByteArray("[401,31]") << QSize();
    QTest::newRow("negative") << QByteArray("[-1,31]") << QSize();
    QTest::newRow("one value") << QByteArray("[8]") << QSize();
    QTest::newRow("not numbers") << QByteArray(R"(["8","31"])") << QSize();
}

void HelpTest::theAskingWindowsFrameIsTakenWithinReason() {
    QFETCH(QByteArray, border);
    QFETCH(QSize, taken);
    const auto request = help::ParseHelpRequest(
        R"({"client":"x","command":1,"data":10,"beside":[10,20,300,200],"border":)" + border + "}");
    QVERIFY(request);
    QCOMPARE(request->beside, std::optional<QRect>(QRect(10, 20, 300, 200)));
    QCOMPARE(request->border, taken.isValid() ? std::optional<QSize>(taken) : std::nullopt);
}

void HelpTest::malformedRequestsChangeNothing() {
    QFETCH(QByteArray, line);
    QVERIFY(!help::ParseHelpRequest(line));
    QVERIFY(help::ParseHelpRequest(R"({"client":"x","command":257,"data":""})"));

    // The viewer answers with an error and counts no client, so it still quits with the last
    // real one.
    QVERIFY(StartViewer(socket_));
    QTRY_VERIFY(ViewerRunning(socket_));
    QLocalSocket socket;
    socket.connectToServer(socket_);
    QVERIFY(socket.waitForConnected(2000));
    if (line.size() <= help::kMaxHelpMessage) {
        socket.write(line + "\n");
        while (!socket.canReadLine() && socket.waitForReadyRead(3000)) {
        }
        const QJsonObject reply = QJsonDocument::fromJson(socket.readLine()).object();
        QCOMPARE(reply["shown"].toString(), QString("error"));
        QCOMPARE(reply["clients"].toInt(), 0);
    }
    Ask(socket_, {{"client", "test"}, {"file", RENDLE_HELP_FILE}, {"command", 1}, {"data", 10}});
    Ask(socket_, {{"client", "test"}, {"command", 2}});
    QTRY_VERIFY(!ViewerRunning(socket_));
}

void HelpTest::viewerRefusesOversizedMessagesAndOddFiles() {
    QVERIFY(StartViewer(socket_));
    QTRY_VERIFY(ViewerRunning(socket_));
    // A message without a line end is cut off once it passes the bound.
    QLocalSocket flood;
    flood.connectToServer(socket_);
    QVERIFY(flood.waitForConnected(2000));
    flood.write(QByteArray(help::kMaxHelpMessage * 4, 'x'));
    flood.waitForBytesWritten(2000);
    QTRY_COMPARE(flood.state(), QLocalSocket::UnconnectedState);

    // Only regular .HLP files are opened: a FIFO named like a help file does not block it.
    QTemporaryDir dir;
    const QString fifo = dir.filePath("trap.HLP");
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& file : {fifo, QString("/dev/zero"), QString(RENDLE_HELP_FILE) + ".txt"}) {
        const QJsonObject reply =
            Ask(socket_, {{"client", "test"}, {"file", file}, {"command", 1}, {"data", 10}});
        QCOMPARE(reply["shown"].toString(), QString("error"));
    }
    const QJsonObject good = Ask(
        socket_, {{"client", "test"}, {"file", RENDLE_HELP_FILE}, {"command", 1}, {"data", 10}});
    QCOMPARE(good["shown"].toString(), QString("topic"));
}

void HelpTest::secondClientKeepsTheViewerOpen() {
    QVERIFY(StartViewer(socket_));
    QTRY_VERIFY(ViewerRunning(socket_));
    for (const char* client : {"A", "B"}) {
        Ask(socket_,
            {{"client", client}, {"file", RENDLE_HELP_FILE}, {"command", 1}, {"data", 10}});
    }
    const QJsonObject first = Ask(socket_, {{"client", "A"}, {"command", 2}});
    QCOMPARE(first["clients"].toInt(), 1);
    QTest::qWait(200);
    QVERIFY(ViewerRunning(socket_));
    const QJsonObject second = Ask(socket_, {{"client", "B"}, {"command", 2}});
    QCOMPARE(second["clients"].toInt(), 0);
    QTRY_VERIFY(!ViewerRunning(socket_));
}

void HelpTest::aProgramThatEndedUnsaidIsNoLongerCounted() {
    QVERIFY(StartViewer(socket_));
    QTRY_VERIFY(ViewerRunning(socket_));
    // A program that asks for a topic and ends without a quit, as File > Exit or a crash does.
    const QByteArray path = QFile::encodeName(QDir::temp().filePath(socket_));
    const QByteArray request =
        QJsonDocument(
            QJsonObject{
                {"client", "gone"}, {"file", RENDLE_HELP_FILE}, {"command", 1}, {"data", 10}})
            .toJson(QJsonDocument::Compact) +
        "\n";
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(),
                    std::min(sizeof address.sun_path - 1, static_cast<size_t>(path.size())));
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        char reply[4096];
        const bool asked =
            fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::write(fd, request.constData(), static_cast<size_t>(request.size())) ==
                request.size() &&
            ::read(fd, reply, sizeof reply) > 0;
        _exit(asked ? 0 : 1);
    }
    int status = -1;
    QCOMPARE(waitpid(child, &status, 0), child);
    QCOMPARE(status, 0);
    const QJsonObject asked = Ask(
        socket_, {{"client", "test"}, {"file", RENDLE_HELP_FILE}, {"command", 1}, {"data", 10}});
    QCOMPARE(asked["clients"].toInt(), 2);
    // Within the viewer's sweep the ended program is forgotten: the quit of the last program
    // still running closes the viewer.
    QTRY_COMPARE_WITH_TIMEOUT(Ask(socket_, {{"client", "test"},
                                            {"file", RENDLE_HELP_FILE},
                                            {"command", 1},
                                            {"data", 10}})["clients"]
                                  .toInt(),
                              1, 10000);
    QCOMPARE(Ask(socket_, {{"client", "test"}, {"command", 2}})["clients"].toInt(), 0);
    QTRY_VERIFY(!ViewerRunning(socket_));
}

void HelpTest::contextHelpShowsBesideTheAskingWindow() {
    QVERIFY(StartViewer(socket_));
    QTRY_VERIFY(ViewerRunning(socket_));
    // F1 in an RL window at the top-left corner: the topic opens to its right, not over it.
    const QRect window(0, 0, 200, 150);
    const QJsonObject reply = Ask(socket_, {{"client", "test"},
                                            {"file", RENDLE_HELP_FILE},
                                            {"command", 1},
                                            {"data", 230},
                                            {"beside", QJsonArray{0, 0, 200, 150}}});
    const QJsonArray placed = reply["placed"].toArray();
    QCOMPARE(placed.size(), 4);
    const QRect viewer(placed[0].toInt(), placed[1].toInt(), placed[2].toInt(), placed[3].toInt());
    QVERIFY2(!viewer.intersects(window),
             qPrintable(QString("%1,%2").arg(viewer.x()).arg(viewer.y())));
    Ask(socket_, {{"client", "test"}, {"command", 2}});

    // The program sends the frame of the window where F1 was pressed.
    RecordingLayer layer;
    help::SetLayer(&layer);
    ui::RLWindow form(ui::RLWindow::Kind::Enter, nullptr);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::keyClick(&form, Qt::Key_F1);
    QCOMPARE(layer.owners.size(), size_t{1});
    QCOMPARE(layer.owners.back(), static_cast<QWidget*>(&form));
}

// On a screen with too little room beside the asking window the viewer keeps its topic
// readable, 60 characters a line or more, the index narrowed or put away, and stays on the
// screen; asked for, the index comes back.
void HelpTest::aNarrowViewerKeepsItsTopicReadable() {
    ui::HelpViewer viewer;
    QVERIFY(viewer.load(RENDLE_HELP_FILE));
    QVERIFY(viewer.showContext(230));
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    const QRect room = viewer.screen()->availableGeometry();
    viewer.placeBeside(QRect(room.center().x() - 100, room.top() + 50, 200, 150));
    QTRY_VERIFY(viewer.topicCharacters() >= ui::help::kTopicCharacters);
    QVERIFY(room.contains(viewer.frameGeometry()));
    QVERIFY(viewer.width() >= ui::help::kMinViewerWidth - 20);
    viewer.showIndex("");
    QTRY_VERIFY(viewer.indexShown());
}

void HelpTest::missingHelpFileIsReportedByTheViewer() {
    QVERIFY(StartViewer(socket_));
    QTRY_VERIFY(ViewerRunning(socket_));
    const QJsonObject reply = Ask(socket_, {{"client", "test"},
                                            {"file", "/nonexistent/rendle.HLP"},
                                            {"command", 0x105},
                                            {"data", ""}});
    QCOMPARE(reply["shown"].toString(), QString("error"));
    QVERIFY(reply["error"].toString().contains("/nonexistent/rendle.HLP cannot be opened"));
    // The viewer carries on and serves the next request with a good file.
    const QJsonObject next = Ask(
        socket_, {{"client", "test"}, {"file", RENDLE_HELP_FILE}, {"command", 1}, {"data", 250}});
    QCOMPARE(next["title"].toString(), QString("About Rendle"));
}

void HelpTest::viewerIndexSearchAndHistory() {
    ui::HelpViewer viewer;
    QVERIFY(viewer.load(RENDLE_HELP_FILE));
    viewer.showIndex("");
    auto* index = viewer.findChild<QListWidget*>("KeywordIndex");
    const int all = index->count();
    QVERIFY(all > 50);
    viewer.showIndex("mis");
    QVERIFY(index->count() < all);
    for (int i = 0; i < index->count(); ++i) {
        QVERIFY(index->item(i)->text().startsWith("mis", Qt::CaseInsensitive));
    }
    QTest::keyClick(viewer.findChild<QLineEdit*>("IndexSearch"), Qt::Key_Return);
    QCOMPARE(viewer.currentTitle(), QString("Misclose, permissible error and adjustment"));

    QVERIFY(viewer.showContext(310));
    auto* browser = viewer.findChild<QTextBrowser*>("TopicView");
    QVERIFY(browser->toPlainText().contains("rise-and-fall method"));
    browser->backward();
    QCOMPARE(viewer.currentTitle(), QString("Misclose, permissible error and adjustment"));
    browser->forward();
    QCOMPARE(viewer.currentTitle(), QString("The rise-and-fall method"));
    QVERIFY(!viewer.showContext(9999));
    QVERIFY(viewer.lastError().contains("9999"));

    // A look at the viewer for the documentation, when asked for.
    const QByteArray folder = qgetenv("RENDLE_SCREENSHOT_DIR");
    if (!folder.isEmpty()) {
        viewer.showContext(320);
        viewer.show();
        QVERIFY(viewer.grab().save(QString::fromLocal8Bit(folder) + "/help-viewer.png"));
        ui::AboutWindow about;
        about.show();
        QVERIFY(about.grab().save(QString::fromLocal8Bit(folder) + "/about.png"));
    }
}

void HelpTest::contentsAndContextHelp() {
    ui::MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QString file = help::FilePath();

    window.findChild<QAction*>("mnuContents")->trigger();
    QCOMPARE(recorder_.calls.size(), size_t{1});
    QCOMPARE(recorder_.calls[0].command, help::HELP_PARTIALKEY);
    QCOMPARE(recorder_.calls[0].data, QVariant(QString("")));
    QCOMPARE(recorder_.calls[0].file, file);

    auto lastContext = [&] {
        return recorder_.calls.empty() || recorder_.calls.back().command != help::HELP_CONTEXT
                   ? -1
                   : recorder_.calls.back().data.toInt();
    };
    QTest::keyClick(&window.sheetView(), Qt::Key_F1);
    QCOMPARE(lastContext(), 10);

    // F1 on the highlighted menus of the bar.
    QMenuBar* bar = window.menuBar();
    // Alt, then the right arrow, highlights Level Parameters on the bar.
    QTest::keyClick(&window.sheetView(), Qt::Key_Alt, Qt::AltModifier);
    QTest::keyClick(bar, Qt::Key_Right);
    QTest::keyClick(bar, Qt::Key_F1);
    QCOMPARE(lastContext(), 220);
    QMenu* fileMenu = window.findChild<QMenu*>("mnuFinput");
    fileMenu->popup(QPoint(0, 0));
    QTest::keyClick(fileMenu, Qt::Key_F1);
    QCOMPARE(lastContext(), 210);
    fileMenu->close();

    // F1 in the two benchmark windows.
    QTest::keyClick(bar, Qt::Key_Escape);  // leave the menu bar
    window.levelParameters();
    window.changeRLWindow()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.changeRLWindow()));
    QTest::keyClick(window.changeRLWindow()->text1(0), Qt::Key_F1);
    QCOMPARE(lastContext(), 240);
    window.changeRLWindow()->close();

    ui::RLWindow form(ui::RLWindow::Kind::Enter);
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(form.text1(1), Qt::Key_F1);
    QCOMPARE(lastContext(), 230);
}

void HelpTest::exitSendsNothingClosingSendsQuit() {
    {
        ui::MainWindow window;
        window.show();
        window.exitProgram = [] {};
        window.findChild<QAction*>("mnuExit")->trigger();
        QVERIFY(recorder_.calls.empty());
    }
    QVERIFY(recorder_.calls.empty());  // nor does the window going away afterwards

    ui::MainWindow window;
    window.show();
    window.close();
    QCOMPARE(recorder_.calls.size(), size_t{1});
    QCOMPARE(recorder_.calls[0].command, help::HELP_QUIT);
    QVERIFY(!recorder_.calls[0].data.isValid());
}

void HelpTest::aboutWindow() {
    ui::AboutWindow about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QCOMPARE(about.windowTitle(), QString("About Rendle"));
    QCOMPARE(about.size(), QSize(ui::Twips(4350), ui::Twips(6495)));
    QVERIFY(!(about.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(about.windowFlags() & Qt::WindowMaximizeButtonHint));
    auto* picture = about.findChild<QLabel*>("Picture");
    QCOMPARE(picture->geometry(), QRect(0, 0, 292, 286));
    QCOMPARE(picture->pixmap().size(), QSize(292, 286));
    QPushButton* ok = about.okButton();
    QCOMPARE(ok->objectName(), QString("cmdOK"));
    QCOMPARE(ok->text(), QString("OK"));
    QCOMPARE(ok->geometry(), ui::TwipsRect(2760, 5760, 1380, 585));
    QVERIFY(ok->font().bold());
    QCOMPARE(ok->font().pointSize(), 18);
    QVERIFY(ok->isDefault());
    const QPoint face = ok->geometry().topLeft() + QPoint(10, ok->height() / 2);
    QCOMPARE(about.grab().toImage().pixelColor(face), QColor(255, 128, 0));

    QTest::keyClick(&about, Qt::Key_F1);
    QCOMPARE(recorder_.calls.back().data.toInt(), 250);

    QTest::keyClick(&about, Qt::Key_Escape);
    QVERIFY(!about.isVisible());
    about.show();
    QTest::keyClick(&about, Qt::Key_Return);
    QVERIFY(!about.isVisible());
    about.show();
    ok->click();
    QVERIFY(!about.isVisible());
}

void HelpTest::aboutTwiceLeavesOneWindow() {
    ui::MainWindow window;
    window.show();
    window.findChild<QAction*>("mnuAbout")->trigger();
    QPointer<QDialog> first = window.aboutWindow();
    QVERIFY(first && first->isVisible());
    QVERIFY(!first->isModal());
    window.findChild<QAction*>("mnuAbout")->trigger();
    QCOMPARE(window.aboutWindow(), first.data());
    int abouts = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == "frmAbout" && widget->isVisible()) ++abouts;
    }
    QCOMPARE(abouts, 1);
    // The About window keeps the program going after the main window has closed.
    window.close();
    QVERIFY(first->isVisible());
    first->close();
    QTRY_VERIFY(first.isNull());
}

QTEST_MAIN(HelpTest)
#include "help_test.moc"
