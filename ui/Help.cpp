#include "ui/Help.h"

#include <unistd.h>

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QJsonDocument>
#include <QJsonObject>
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
    if (!trimmed.empty() && (trimmed.back() == '\\' || trimmed.back() == '/')) {
        return path + std::string(kHelpFileName);
    }
    const bool windowsStyle =
        folder.find('\\') != std::string_view::npos || (trimmed.size() >= 2 && trimmed[1] == ':');
    return path + (windowsStyle ? "\\" : "/") + std::string(kHelpFileName);
}

QString DefaultSocketName() {
    return QString("rendle-help-%1").arg(getuid());
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
