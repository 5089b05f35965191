// rendle-help: the help viewer. It shows the topics of a help file, its keyword index with a
// search box, and answers the program's requests on a local socket.
#pragma once

#include <sys/types.h>

#include <QHash>
#include <QMainWindow>
#include <QString>
#include <optional>
#include <vector>

class QLineEdit;
class QListWidget;
class QLocalServer;
class QTextBrowser;

class QSplitter;

namespace rendle::ui {

struct HelpTopic {
    int context = 0;
    QString title;
    QStringList keywords;
    QString html;
};

/// Reads the topics of a help file: each is
/// <topic context="N" title="..." keywords="a; b; c"> HTML </topic>.
std::vector<HelpTopic> ParseHelpFile(const QString& text);

/// The largest help file the viewer reads, in bytes.
inline constexpr qint64 kMaxHelpFileBytes = qint64{16} * 1024 * 1024;

class HelpViewer : public QMainWindow {
    Q_OBJECT

  public:
    HelpViewer();

    /// Serves requests on the local socket `name`. False when another viewer already does.
    bool listen(const QString& name);

    /// Loads a help file unless it is the one shown; false (and the reason shown in the window)
    /// when it cannot be read.
    bool load(const QString& path);
    /// Shows the topic with a context number; false when the file has none.
    bool showContext(int context);
    /// Shows the keyword index with `text` in the search box.
    void showIndex(const QString& text);

    /// Fits the viewer beside `frame` (the asking window's, on the screen) by help::PlaceBeside,
    /// its own frame taken to add `border` to its size until the window manager has framed it.
    void placeBeside(const QRect& frame, std::optional<QSize> border = std::nullopt);
    /// Shows the viewer in front, and places it again once the window manager has framed it.
    void present();
    /// Places the viewer again when its frame, now known, is not the one it was placed by.
    void settle();
    /// How many average characters a line of the topic holds as the viewer stands.
    int topicCharacters() const;

    QString currentTitle() const { return currentTitle_; }
    QString searchText() const;
    bool indexShown() const;
    QString lastError() const { return lastError_; }

    /// Forgets the clients whose program has ended without saying so (File > Exit, a crash), so
    /// that the quit of the last program still running closes the viewer. Runs every two
    /// seconds.
    void dropGoneClients();

  private:
    /// A program that uses the viewer, known by its process and when that started.
    struct Client {
        pid_t pid = 0;
        unsigned long long start = 0;
    };

    void onConnection();
    QByteArray handle(const QByteArray& line, pid_t peer);
    void forget(const QString& client);
    void showTopic(const HelpTopic& topic);
    /// Narrows the index (puts it away when it would be too narrow to use) so that the topic
    /// keeps help::kTopicCharacters a line in a viewer `width` wide.
    void fitIndex(int width);
    void showError(const QString& text);
    void fillIndex(const QString& filter);

    QSize frameBorder() const;
    void place();

    QSize wanted_;                 ///< the size it opens at, before it is fitted beside a window
    std::optional<QRect> beside_;  ///< the frame of the window it was last placed beside
    QSize borderGuess_;            ///< what the asking window's frame adds to its size
    QSize placedBorder_;           ///< the frame it was last placed by
    QLocalServer* server_ = nullptr;
    QTextBrowser* browser_ = nullptr;
    QLineEdit* search_ = nullptr;
    QListWidget* index_ = nullptr;
    QWidget* indexPane_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QString file_;
    std::vector<HelpTopic> topics_;
    QString currentTitle_;
    QString lastError_;
    QHash<QString, Client> clients_;
};

}  // namespace rendle::ui
