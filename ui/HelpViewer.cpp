#include "ui/HelpViewer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ui/Help.h"

namespace rendle::ui {

namespace {

/// A topic view whose links and history name topics as "topic:NNN".
class TopicBrowser : public QTextBrowser {
  public:
    explicit TopicBrowser(const std::vector<HelpTopic>& topics) : topics_(topics) {}

    QVariant loadResource(int type, const QUrl& url) override {
        if (url.scheme() == "topic") {
            for (const HelpTopic& topic : topics_) {
                if (topic.context == url.path().toInt()) return topic.html;
            }
            return QString("<p>No such topic.</p>");
        }
        return QTextBrowser::loadResource(type, url);
    }

  private:
    const std::vector<HelpTopic>& topics_;
};

}  // namespace

std::vector<HelpTopic> ParseHelpFile(const QString& text) {
    static const QRegularExpression topicPattern(
        R"re(<topic\s+context="(\d+)"\s+title="([^"]*)"\s+keywords="([^"]*)"\s*>(.*?)</topic>)re",
        QRegularExpression::DotMatchesEverythingOption);
    std::vector<HelpTopic> topics;
    auto matches = topicPattern.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        HelpTopic topic;
        topic.context = match.captured(1).toInt();
        topic.title = match.captured(2);
        for (const QString& keyword : match.captured(3).split(';', Qt::SkipEmptyParts)) {
            topic.keywords << keyword.trimmed();
        }
        topic.html = match.captured(4).trimmed();
        topics.push_back(std::move(topic));
    }
    return topics;
}

HelpViewer::HelpViewer() {
    setObjectName("HelpViewer");
    setWindowTitle("Rendle Help");
    // Room beside the program's windows on a small screen too.
    QSize size(820, 600);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect room = screen->availableGeometry();
        size = size.boundedTo(
            QSize(std::max(room.width() * 3 / 5, help::kMinViewerWidth), room.height() * 9 / 10));
        size = size.boundedTo(room.size());
    }
    resize(size);
    wanted_ = size;

    browser_ = new TopicBrowser(topics_);
    browser_->setObjectName("TopicView");
    browser_->setOpenLinks(false);
    connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (url.scheme() == "topic") showContext(url.path().toInt());
    });
    connect(browser_, &QTextBrowser::sourceChanged, this, [this](const QUrl& url) {
        for (const HelpTopic& topic : topics_) {
            if (url.scheme() == "topic" && topic.context == url.path().toInt()) {
                currentTitle_ = topic.title;
                setWindowTitle("Rendle Help - " + topic.title);
            }
        }
    });

    indexPane_ = new QWidget;
    auto* indexLayout = new QVBoxLayout(indexPane_);
    indexLayout->setContentsMargins(0, 0, 0, 0);
    search_ = new QLineEdit;
    search_->setObjectName("IndexSearch");
    search_->setPlaceholderText("Type the first letters of a keyword");
    index_ = new QListWidget;
    index_->setObjectName("KeywordIndex");
    indexLayout->addWidget(search_);
    indexLayout->addWidget(index_);
    connect(search_, &QLineEdit::textChanged, this, &HelpViewer::fillIndex);
    auto openItem = [this](QListWidgetItem* item) {
        if (item) showContext(item->data(Qt::UserRole).toInt());
    };
    connect(index_, &QListWidget::itemActivated, this, openItem);
    connect(index_, &QListWidget::itemClicked, this, openItem);
    connect(search_, &QLineEdit::returnPressed, this, [this, openItem] {
        openItem(index_->currentItem() ? index_->currentItem() : index_->item(0));
    });

    splitter_ = new QSplitter;
    splitter_->addWidget(indexPane_);
    splitter_->addWidget(browser_);
    splitter_->setStretchFactor(1, 3);
    splitter_->setCollapsible(0, true);
    splitter_->setCollapsible(1, false);
    // Neither pane holds the window wider than the room it is given.
    indexPane_->setMinimumWidth(0);
    browser_->setMinimumWidth(0);
    setCentralWidget(splitter_);
    fitIndex(size.width());

    auto* sweep = new QTimer(this);
    sweep->setInterval(2000);
    connect(sweep, &QTimer::timeout, this, &HelpViewer::dropGoneClients);
    sweep->start();

    QToolBar* bar = addToolBar("Navigation");
    bar->setObjectName("Navigation");
    QAction* back = bar->addAction("Back", browser_, &QTextBrowser::backward);
    QAction* forward = bar->addAction("Forward", browser_, &QTextBrowser::forward);
    back->setObjectName("Back");
    forward->setObjectName("Forward");
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    back->setEnabled(false);
    forward->setEnabled(false);
    bar->addAction("Index", this, [this] { showIndex(search_->text()); })->setObjectName("Index");
}

bool HelpViewer::listen(const QString& name) {
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(300)) return false;  // another viewer serves this user
    QLocalServer::removeServer(name);               // a socket left by a viewer that died
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &HelpViewer::onConnection);
    return server_->listen(name);
}

void HelpViewer::onConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // Only programs of this user are served.
        if (!help::PeerIsUser(socket->socketDescriptor(), getuid())) {
            socket->abort();
            continue;
        }
        socket->setReadBufferSize(help::kMaxHelpMessage + 1);
        const pid_t peer = help::PeerProcess(socket->socketDescriptor());
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, peer] {
            while (socket->canReadLine()) {
                const QByteArray line = socket->readLine(help::kMaxHelpMessage + 1);
                socket->write(handle(line.trimmed(), peer) + "\n");
                socket->flush();
            }
            // A message that runs on without a line end is not buffered without bound.
            if (socket->bytesAvailable() > help::kMaxHelpMessage) socket->abort();
        });
    }
}

void HelpViewer::placeBeside(const QRect& frame, std::optional<QSize> border) {
    beside_ = frame;
    if (border) borderGuess_ = *border;
    place();
}

QSize HelpViewer::frameBorder() const {
    // The window manager's frame is known once the viewer is shown and framed; until then it is
    // taken to be the asking window's.
    const QSize own = frameGeometry().size() - size();
    return isVisible() && !own.isNull() ? own : borderGuess_;
}

void HelpViewer::place() {
    if (!beside_) return;
    const QScreen* screen = QGuiApplication::screenAt(beside_->center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    // The frame around the viewer's own area, kept out of the room it is given.
    const QSize border = frameBorder();
    const QRect placed = help::PlaceBeside(*beside_, wanted_ + border, screen->availableGeometry());
    placedBorder_ = border;
    resize(placed.size() - border);
    move(placed.topLeft());
    fitIndex(placed.width() - border.width());
}

void HelpViewer::present() {
    show();
    raise();
    activateWindow();
    // The window manager frames a window some moments after it is shown.
    for (const int ms : {50, 200, 600}) QTimer::singleShot(ms, this, &HelpViewer::settle);
}

void HelpViewer::settle() {
    // Placed again once the real frame is known, if it is not the frame it was placed by.
    if (beside_ && isVisible() && frameBorder() != placedBorder_) place();
}

int HelpViewer::topicCharacters() const {
    const int margins = 2 * static_cast<int>(browser_->document()->documentMargin());
    return (browser_->viewport()->width() - margins) / browser_->fontMetrics().averageCharWidth();
}

void HelpViewer::fitIndex(int width) {
    // The index as wide as its longer entries ("Level Parameters - Change RL") where there is
    // room; narrower, down to a usable width, so that the topic keeps its characters a line;
    // put away below that (the topic's Index link and the search still reach it).
    const int topic = help::kTopicCharacters * browser_->fontMetrics().averageCharWidth() +
                      2 * browser_->frameWidth() +
                      2 * static_cast<int>(browser_->document()->documentMargin()) +
                      browser_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    constexpr int kWidest = 280;
    constexpr int kNarrowest = 120;
    const int index = std::min(kWidest, width - topic - splitter_->handleWidth());
    splitter_->setSizes({index >= kNarrowest ? index : 0, width});
}

void HelpViewer::forget(const QString& client) {
    clients_.remove(client);
    if (clients_.isEmpty()) {
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }
}

void HelpViewer::dropGoneClients() {
    QStringList gone;
    for (auto it = clients_.cbegin(); it != clients_.cend(); ++it) {
        if (it->pid == 0) continue;  // a program that could not be told: its quit ends it
        const std::optional<unsigned long long> start = help::ProcessStart(it->pid);
        if (!start || *start != it->start) gone << it.key();
    }
    // Only forgotten: a viewer left open by a program that ended stays open for the user, and
    // closes with the next program that no longer needs it, or with its window.
    for (const QString& client : gone) clients_.remove(client);
}

QByteArray HelpViewer::handle(const QByteArray& line, pid_t peer) {
    QJsonObject reply;
    lastError_.clear();
    const std::optional<help::HelpRequest> request = help::ParseHelpRequest(line);
    if (!request) {
        // A malformed message changes nothing: no client is counted, no window comes up.
        reply["shown"] = "error";
        reply["error"] = "malformed request";
        reply["clients"] = static_cast<int>(clients_.size());
        return QJsonDocument(reply).toJson(QJsonDocument::Compact);
    }
    const QString client = request->client;
    const int command = request->command;
    if (command == static_cast<int>(help::HELP_QUIT)) {
        forget(client);
        reply["shown"] = "quit";
        reply["clients"] = static_cast<int>(clients_.size());
        return QJsonDocument(reply).toJson(QJsonDocument::Compact);
    }
    // The program behind the request, so that it is forgotten once it has ended.
    const std::optional<unsigned long long> start = help::ProcessStart(peer);
    clients_.insert(client, start ? Client{peer, *start} : Client{});
    if (request->beside) {
        placeBeside(*request->beside, request->border);
        reply["placed"] = QJsonArray{x(), y(), width(), height()};
    }
    present();
    if (!load(request->file)) {
        reply["shown"] = "error";
    } else if (command == static_cast<int>(help::HELP_CONTEXT)) {
        const int context = request->data.toInt();
        reply["shown"] = showContext(context) ? "topic" : "error";
        reply["context"] = context;
    } else if (command == static_cast<int>(help::HELP_PARTIALKEY)) {
        showIndex(request->data.toString());
        reply["shown"] = "index";
        reply["search"] = searchText();
    } else {
        lastError_ = QString("The help viewer does not know command %1.").arg(command);
        reply["shown"] = "error";
    }
    reply["title"] = currentTitle_;
    reply["clients"] = static_cast<int>(clients_.size());
    if (!lastError_.isEmpty()) reply["error"] = lastError_;
    return QJsonDocument(reply).toJson(QJsonDocument::Compact);
}

bool HelpViewer::load(const QString& path) {
    if (path == file_ && !topics_.empty()) return true;
    const auto cannotOpen = [&](const QString& why) {
        showError(QString("The help file %1 cannot be opened: %2. Rendle carries on without "
                          "it; reinstalling Rendle puts the help file back beside the program.")
                      .arg(path, why));
        return false;
    };
    // Only a help file is opened: a regular file ending in .HLP, of bounded size, opened without
    // waiting (a FIFO or a device named in a request must not block or flood the viewer).
    if (!path.endsWith(".HLP", Qt::CaseInsensitive)) return cannotOpen("it is no .HLP file");
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return cannotOpen(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return cannotOpen("it is not a regular file");
    }
    if (info.st_size > kMaxHelpFileBytes) {
        ::close(fd);
        return cannotOpen("it is larger than a help file can be");
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return cannotOpen(file.errorString());
    }
    std::vector<HelpTopic> topics = ParseHelpFile(QString::fromUtf8(file.read(kMaxHelpFileBytes)));
    if (topics.empty()) {
        showError(QString("The file %1 holds no help topics.").arg(path));
        return false;
    }
    topics_ = std::move(topics);
    file_ = path;
    fillIndex(search_->text());
    return true;
}

bool HelpViewer::showContext(int context) {
    for (const HelpTopic& topic : topics_) {
        if (topic.context == context) {
            showTopic(topic);
            return true;
        }
    }
    showError(QString("The help file has no topic for context number %1.").arg(context));
    return false;
}

void HelpViewer::showTopic(const HelpTopic& topic) {
    currentTitle_ = topic.title;
    setWindowTitle("Rendle Help - " + topic.title);
    // Going through a URL keeps Back and Forward working across topics.
    browser_->setSource(QUrl(QString("topic:%1").arg(topic.context)), QTextDocument::HtmlResource);
}

void HelpViewer::showError(const QString& text) {
    lastError_ = text;
    currentTitle_.clear();
    browser_->setHtml("<h2>Help is not available</h2><p>" + text.toHtmlEscaped() + "</p>");
}

void HelpViewer::showIndex(const QString& text) {
    indexPane_->show();
    // Put away for a narrow viewer: asked for, the index takes its usable width from the topic.
    if (const QList<int> sizes = splitter_->sizes(); !sizes.isEmpty() && sizes.front() == 0) {
        splitter_->setSizes({std::min(280, width() / 2), width()});
    }
    // Beside the index, the overview topic until a keyword is chosen.
    if (currentTitle_.isEmpty() && lastError_.isEmpty() && !topics_.empty()) {
        showTopic(topics_.front());
    }
    search_->setText(text);
    fillIndex(text);
    search_->setFocus();
}

void HelpViewer::fillIndex(const QString& filter) {
    index_->clear();
    struct Entry {
        QString keyword;
        const HelpTopic* topic;
    };
    std::vector<Entry> entries;
    for (const HelpTopic& topic : topics_) {
        for (const QString& keyword : topic.keywords) entries.push_back({keyword, &topic});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return QString::compare(a.keyword, b.keyword, Qt::CaseInsensitive) < 0;
    });
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        if (!filter.isEmpty() && !entry.keyword.startsWith(filter, Qt::CaseInsensitive)) continue;
        // A keyword of several topics is listed once for each, with the topic's title.
        auto sameKeyword = [&](size_t j) {
            return j < entries.size() &&
                   QString::compare(entries[j].keyword, entry.keyword, Qt::CaseInsensitive) == 0;
        };
        const bool shared = (i > 0 && sameKeyword(i - 1)) || sameKeyword(i + 1);
        auto* item = new QListWidgetItem(
            shared ? entry.keyword + " - " + entry.topic->title : entry.keyword, index_);
        item->setData(Qt::UserRole, entry.topic->context);
    }
    if (index_->count() > 0) index_->setCurrentRow(0);
}

QString HelpViewer::searchText() const {
    return search_->text();
}

bool HelpViewer::indexShown() const {
    return indexPane_->isVisible() && indexPane_->width() > 0;
}

}  // namespace rendle::ui
