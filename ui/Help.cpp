#include "ui/Help.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QKeyEvent>
#include <QLocalSocket>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProcess>
#include <QShortcut>
#include <QThread>
#include <memory>

namespace rendle::ui::help {

std::string HelpFilePath(std::string_view folder) {
    const size_t first = folder.find_first_not_of(" \t");
    const size_t last = folder.find_last_not_of(" \t");
    const std::string_view trimmed = first == std::string_view::npos
                                         ? std::string_view{}
                                         : folder.substr(first, last - first + 1);
    std::string path(folder);
    if (!trimmed.ends_with('/')) path += '/';
    return path + std::string(kHelpFileName);
}

namespace {

/// A folder of the user's own that no other user can enter: it exists (or is made), is no
/// symbolic link, belongs to the user and has mode 0700.
bool IsPrivateFolder(const QByteArray& path, bool create) {
    if (create) mkdir(path.constData(), 0700);
    struct stat info {};
    return lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == getuid() && (info.st_mode & 077) == 0;
}

/// The display this program shows its windows on, as part of a file name.
QString DisplayKey() {
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty()) display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty()) display = "none";
    for (QChar& c : display) {
        if (!c.isLetterOrNumber() && c != '.' && c != '-') c = '_';
    }
    return display;
}

}  // namespace

QString DefaultSocketName() {
    QByteArray folder = qgetenv("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !IsPrivateFolder(folder, false)) {
        folder = QFile::encodeName(QDir::tempPath()) + "/rendle-" + QByteArray::number(getuid());
        // A folder of that name that is not ours and private is not used: help stays away.
        if (!IsPrivateFolder(folder, true)) return {};
    }
    return QFile::decodeName(folder) + "/rendle-help-" + DisplayKey();
}

bool PeerIsUser(qintptr descriptor, uid_t uid) {
    ucred peer{};
    socklen_t length = sizeof peer;
    return getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
           peer.uid == uid;
}

std::optional<HelpRequest> ParseHelpRequest(const QByteArray& line) {
    if (line.isEmpty() || line.size() > kMaxHelpMessage) return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue client = object.value("client");
    const QJsonValue command = object.value("command");
    const QJsonValue file = object.value("file");
    if (!client.isString() || client.toString().isEmpty() || !command.isDouble() ||
        (!file.isUndefined() && !file.isString())) {
        return std::nullopt;
    }
    HelpRequest request;
    request.client = client.toString();
    request.command = command.toInt(-1);
    request.file = file.toString();
    if (object.contains("data")) request.data = object.value("data").toVariant();
    return request;
}

ViewerHelpLayer::ViewerHelpLayer(QString viewer, QString socketName)
    : viewer_(std::move(viewer)), socketName_(std::move(socketName)) {}

void ViewerHelpLayer::WinHelp(QWidget*, const QString& helpFile, unsigned command,
                              const QVariant& data) {
    QJsonObject request{{"client", QString::number(QCoreApplication::applicationPid())},
                        {"file", helpFile},
                        {"command", static_cast<int>(command)}};
    if (data.isValid()) request["data"] = QJsonValue::fromVariant(data);
    const QByteArray line = QJsonDocument(request).toJson(QJsonDocument::Compact) + "\n";

    if (socketName_.isEmpty()) return;  // no private place for the channel: no help
    QLocalSocket socket;
    socket.connectToServer(socketName_);
    if (!socket.waitForConnected(1000)) {
        // Nothing to tell a viewer that is not running that it may close.
        if (command == HELP_QUIT) return;
        // The viewer lives on its own: it keeps none of this program's terminal or pipes.
        QProcess viewer;
        viewer.setProgram(viewer_);
        viewer.setArguments({"--socket", socketName_});
        viewer.setStandardInputFile(QProcess::nullDevice());
        viewer.setStandardOutputFile(QProcess::nullDevice());
        viewer.setStandardErrorFile(QProcess::nullDevice());
        if (!viewer.startDetached()) return;
        for (int attempt = 0; attempt < 100; ++attempt) {
            socket.connectToServer(socketName_);
            if (socket.waitForConnected(100)) break;
            QThread::msleep(30);
        }
        if (socket.state() != QLocalSocket::ConnectedState) return;
    }
    // Only a viewer of this user is told anything.
    if (!PeerIsUser(socket.socketDescriptor(), getuid())) return;
    socket.write(line);
    socket.waitForBytesWritten(1000);
    // The viewer answers each request; the program does not depend on what it says, but waits
    // for it so that requests from one program arrive in order.
    socket.waitForReadyRead(2000);
    socket.disconnectFromServer();
}

namespace {

struct HelpState {
    QPointer<QWidget> owner;
    QString filePath;
    std::unique_ptr<HelpLayer> viewerLayer;
    HelpLayer* layer = nullptr;
};

HelpState& State() {
    static HelpState state;
    return state;
}

HelpLayer& Layer() {
    HelpState& state = State();
    if (state.layer) return *state.layer;
    if (!state.viewerLayer) {
        state.viewerLayer = std::make_unique<ViewerHelpLayer>(
            QCoreApplication::applicationDirPath() + "/rendle-help", DefaultSocketName());
    }
    return *state.viewerLayer;
}

/// Catches F1 on the menu bar and in open menus, where window shortcuts do not reach.
class MenuHelpFilter : public QObject {
  public:
    MenuHelpFilter(QMenuBar* bar, int fallback) : QObject(bar), bar_(bar), fallback_(fallback) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const bool f1 =
            (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1;
        if (!f1) return false;
        if (event->type() == QEvent::ShortcutOverride) {
            // A highlighted menu takes F1 before the window's own F1 does.
            const bool menuActive = qobject_cast<QMenu*>(watched) || bar_->activeAction();
            if (menuActive) event->accept();
            return false;
        }
        QAction* active = nullptr;
        if (auto* menu = qobject_cast<QMenu*>(watched)) {
            // An item of an open menu takes the number of the menu it belongs to.
            active = menu->menuAction();
        } else {
            active = bar_->activeAction();
        }
        const QVariant context = active ? active->property("helpContextId") : QVariant();
        ShowContext(context.isValid() ? context.toInt() : fallback_);
        return true;
    }

  private:
    QMenuBar* bar_;
    int fallback_;
};

}  // namespace

void SetUp(QWidget* owner) {
    State().owner = owner;
    State().filePath =
        QString::fromStdString(HelpFilePath(QCoreApplication::applicationDirPath().toStdString()));
}

void ShowContents() {
    Layer().WinHelp(State().owner, State().filePath, HELP_PARTIALKEY, QString(""));
}

void ShutDown() {
    Layer().WinHelp(State().owner, State().filePath, HELP_QUIT, QVariant());
}

void ShowContext(int context) {
    Layer().WinHelp(State().owner, State().filePath, HELP_CONTEXT, context);
}

const QString& FilePath() {
    return State().filePath;
}

void SetLayer(HelpLayer* layer) {
    State().layer = layer;
}

void InstallContextHelp(QWidget* window, int context) {
    window->setProperty("helpContextId", context);
    auto* shortcut = new QShortcut(QKeySequence(Qt::Key_F1), window);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, window, [window, context] {
        // A menu highlighted on the window's menu bar has a topic of its own.
        if (auto* bar = window->findChild<QMenuBar*>()) {
            if (QAction* active = bar->activeAction()) {
                const QVariant menuContext = active->property("helpContextId");
                if (menuContext.isValid()) {
                    ShowContext(menuContext.toInt());
                    return;
                }
            }
        }
        ShowContext(context);
    });
}

void InstallMenuHelp(QMenuBar* bar, int fallback) {
    auto* filter = new MenuHelpFilter(bar, fallback);
    bar->installEventFilter(filter);
    for (QAction* action : bar->actions()) {
        if (QMenu* menu = action->menu()) menu->installEventFilter(filter);
    }
}

}  // namespace rendle::ui::help
