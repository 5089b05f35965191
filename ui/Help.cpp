#include "ui/Help.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
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
#include <algorithm>
#include <memory>

#include "grid/Text.h"

namespace rendle::ui::help {

std::string HelpFilePath(std::string_view folder) {
    const std::string_view trimmed = grid::Trimmed(folder, " \t");
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

pid_t PeerProcess(qintptr descriptor) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        return 0;
    }
    return peer.pid;
}

std::optional<unsigned long long> ProcessStart(pid_t pid) {
    if (pid <= 0) return std::nullopt;
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray text = stat.read(4096);
    // "pid (name) state ppid ...": the name may hold blanks and brackets, so count the fields
    // after its last closing bracket; the start time is the 20th of them.
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0) return std::nullopt;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.size() < 20) return std::nullopt;
    bool ok = false;
    const unsigned long long start = fields[19].toULongLong(&ok);
    if (!ok) return std::nullopt;
    return start;
}

QRect PlaceBeside(const QRect& asking, const QSize& wanted, const QRect& room) {
    const int leftRoom = asking.left() - room.left();
    const int rightRoom = room.right() - asking.right();
    const bool right = rightRoom >= leftRoom;
    const int space = std::max(0, right ? rightRoom : leftRoom);
    const int width = std::min({wanted.width(), std::max(space, kMinViewerWidth), room.width()});
    const int height = std::min(std::max(wanted.height(), kMinViewerHeight), room.height());
    // Too little room beside the window: above or below it, where that leaves the viewer ten
    // lines of a topic, else against the screen's edge over the window's nearer part.
    if (space < kMinViewerWidth) {
        const int aboveRoom = asking.top() - room.top();
        const int belowRoom = room.bottom() - asking.bottom();
        const bool below = belowRoom >= aboveRoom;
        const int band = std::max(0, below ? belowRoom : aboveRoom);
        if (band >= kMinBandHeight) {
            const int bandHeight = std::min(height, band);
            const int x =
                std::clamp(asking.center().x() - width / 2, room.left(), room.right() + 1 - width);
            return {x, below ? asking.bottom() + 1 : asking.top() - bandHeight, width, bandHeight};
        }
    }
    int x = 0;
    if (right) {
        x = width <= space ? asking.right() + 1 : room.right() + 1 - width;
    } else {
        x = width <= space ? asking.left() - width : room.left();
    }
    const int y = std::clamp(asking.top(), room.top(), room.bottom() + 1 - height);
    return {x, y, width, height};
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
    const QJsonArray beside = object.value("beside").toArray();
    if (beside.size() == 4) {
        const auto at = [&](int i) { return beside.at(i).toInt(); };
        const QRect frame(at(0), at(1), at(2), at(3));
        if (frame.isValid()) request.beside = frame;
    }
    const QJsonArray border = object.value("border").toArray();
    if (border.size() == 2) {
        const QSize added(border.at(0).toInt(-1), border.at(1).toInt(-1));
        // A frame of a few hundred pixels is no window manager's frame.
        constexpr int kWidestFrame = 400;
        if (added.width() >= 0 && added.height() >= 0 && added.width() <= kWidestFrame &&
            added.height() <= kWidestFrame) {
            request.border = added;
        }
    }
    return request;
}

namespace {

/// How often, and how far apart, a viewer just started is tried before the request is given up.
constexpr int kConnectAttempts = 100;
constexpr int kRetryMs = 30;
/// The longest wait for the viewer's answer to a request.
constexpr int kReplyMs = 2000;

}  // namespace

ViewerHelpLayer::ViewerHelpLayer(QString viewer, QString socketName)
    : viewer_(std::move(viewer)), socketName_(std::move(socketName)) {
    retry_.setSingleShot(true);
    retry_.setInterval(kRetryMs);
    replyTimeout_.setSingleShot(true);
    replyTimeout_.setInterval(kReplyMs);
    connect(&retry_, &QTimer::timeout, this, [this] { socket_.connectToServer(socketName_); });
    connect(&replyTimeout_, &QTimer::timeout, this, &ViewerHelpLayer::Finished);
    connect(&socket_, &QLocalSocket::connected, this, &ViewerHelpLayer::Connected);
    // The viewer answers each request; the program does not depend on what it says, but waits
    // for it so that requests from one program arrive in order.
    connect(&socket_, &QLocalSocket::readyRead, this, [this] {
        if (socket_.canReadLine()) Finished();
    });
    connect(&socket_, &QLocalSocket::errorOccurred, this, [this] {
        if (socket_.state() == QLocalSocket::ConnectedState) return;
        if (replyTimeout_.isActive()) {
            Finished();  // the viewer went away before it answered
        } else if (!queue_.empty() && !retry_.isActive()) {
            ConnectFailed();
        }
    });
}

void ViewerHelpLayer::WinHelp(QWidget* owner, const QString& helpFile, unsigned command,
                              const QVariant& data) {
    if (socketName_.isEmpty()) return;  // no private place for the channel: no help
    QJsonObject request{{"client", QString::number(QCoreApplication::applicationPid())},
                        {"file", helpFile},
                        {"command", static_cast<int>(command)}};
    if (data.isValid()) request["data"] = QJsonValue::fromVariant(data);
    if (command == HELP_CONTEXT && owner && owner->isVisible()) {
        const QRect frame = owner->frameGeometry();
        request["beside"] = QJsonArray{frame.x(), frame.y(), frame.width(), frame.height()};
        const QSize border = frame.size() - owner->size();
        request["border"] = QJsonArray{border.width(), border.height()};
    }
    queue_.push_back({QJsonDocument(request).toJson(QJsonDocument::Compact) + "\n", command});
    if (queue_.size() == 1) StartNext();
}

void ViewerHelpLayer::StartNext() {
    if (queue_.empty()) return;
    viewerStarted_ = false;
    attempts_ = 0;
    socket_.connectToServer(socketName_);
}

void ViewerHelpLayer::ConnectFailed() {
    // Nothing to tell a viewer that is not running that it may close.
    if (queue_.front().command == HELP_QUIT) {
        Finished();
        return;
    }
    if (!viewerStarted_) {
        viewerStarted_ = true;
        // The viewer lives on its own: it keeps none of this program's terminal or pipes.
        QProcess viewer;
        viewer.setProgram(viewer_);
        viewer.setArguments({"--socket", socketName_});
        viewer.setStandardInputFile(QProcess::nullDevice());
        viewer.setStandardOutputFile(QProcess::nullDevice());
        viewer.setStandardErrorFile(QProcess::nullDevice());
        if (!viewer.startDetached()) {
            Finished();
            return;
        }
    }
    if (++attempts_ > kConnectAttempts) {
        Finished();
        return;
    }
    retry_.start();
}

void ViewerHelpLayer::Connected() {
    // Only a viewer of this user is told anything.
    if (!PeerIsUser(socket_.socketDescriptor(), getuid())) {
        Finished();
        return;
    }
    replyTimeout_.start();
    socket_.write(queue_.front().line);
}

void ViewerHelpLayer::Finished() {
    replyTimeout_.stop();
    retry_.stop();
    if (!queue_.empty()) queue_.pop_front();
    // Aborting emits no error for a socket that is not connected or connecting.
    socket_.abort();
    // The next request starts from the event loop, outside this socket's signal.
    if (!queue_.empty()) QTimer::singleShot(0, this, &ViewerHelpLayer::StartNext);
}

bool ViewerHelpLayer::WaitUntilSent(int msecs) {
    QDeadlineTimer deadline(msecs);
    while (Busy() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return !Busy();
}

namespace {

struct HelpState {
    QPointer<QWidget> owner;
    QString filePath;
    QPointer<ViewerHelpLayer> viewerLayer;  // a child of the application, gone with it
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
        auto* layer = new ViewerHelpLayer(QCoreApplication::applicationDirPath() + "/rendle-help",
                                          DefaultSocketName());
        layer->setParent(QCoreApplication::instance());
        // The last requests of a closing program (the viewer may close) still go out.
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, layer,
                         [layer] { layer->WaitUntilSent(3000); });
        state.viewerLayer = layer;
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

void ShowContext(int context, QWidget* asking) {
    Layer().WinHelp(asking ? asking : State().owner.data(), State().filePath, HELP_CONTEXT,
                    context);
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
        ShowContext(context, window->window());
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
