// The program's help: where the help file lives, the help layer that reaches the help viewer
// rendle-help, and the F1 context help of the windows and menus.
#pragma once

#include <sys/types.h>

#include <QLocalSocket>
#include <QObject>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QVariant>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

class QMenuBar;
class QWidget;

namespace rendle::ui::help {

// Commands of the help layer.
inline constexpr unsigned HELP_CONTEXT = 1;
inline constexpr unsigned HELP_QUIT = 2;
inline constexpr unsigned HELP_PARTIALKEY = 0x105;

// Context numbers of the windows and menus.
inline constexpr int kFormMain = 10;
inline constexpr int kFileMenu = 210;
inline constexpr int kLevelParameters = 220;
inline constexpr int kFormRL = 230;
inline constexpr int kFormChangeRL = 240;
inline constexpr int kAbout = 250;
/// The topics of each format's field books (F1 in the list of a book's levelling lines).
inline constexpr int kSdr20Books = 330;
inline constexpr int kSdr33Books = 340;
inline constexpr int kM5Books = 350;
inline constexpr int kGsiBooks = 355;
/// The network window of rendle-network.
inline constexpr int kNetworkWindow = 400;

inline constexpr std::string_view kHelpFileName = "rendle.HLP";

/// The help file beside the program: the folder, a separator and "rendle.HLP". A folder that
/// already ends in a separator once blanks are trimmed (such as /) gets no second one.
std::string HelpFilePath(std::string_view folder);

/// What the program asks of the help viewer: owner window, help file, command and its data
/// (a context number, a keyword text, or nothing).
class HelpLayer {
  public:
    virtual ~HelpLayer() = default;
    virtual void WinHelp(QWidget* owner, const QString& helpFile, unsigned command,
                         const QVariant& data) = 0;
};

/// The help layer of the desktop program: a request line to the viewer rendle-help over a
/// local socket, starting the viewer first when it is not running (HELP_QUIT never starts it).
/// Requests are queued and sent one after another from the event loop, each after the viewer
/// answered the one before, so that asking for help never holds the window.
class ViewerHelpLayer : public QObject, public HelpLayer {
  public:
    /// `viewer` is the rendle-help program, `socketName` the viewer's local socket.
    ViewerHelpLayer(QString viewer, QString socketName);
    /// Returns at once; the request goes out when the event loop runs.
    void WinHelp(QWidget* owner, const QString& helpFile, unsigned command,
                 const QVariant& data) override;

    /// True while a request is queued or on its way.
    bool Busy() const { return !queue_.empty(); }
    /// Runs the event loop until every queued request is delivered or given up, for at most
    /// `msecs`: the last requests of a program that is closing. True when none is left.
    bool WaitUntilSent(int msecs);

  private:
    struct Request {
        QByteArray line;
        unsigned command;
    };
    void StartNext();
    void Connected();
    void ConnectFailed();
    void Finished();

    QString viewer_;
    QString socketName_;
    QLocalSocket socket_;
    QTimer retry_;         // the next attempt to reach a viewer just started
    QTimer replyTimeout_;  // the longest wait for the viewer's answer
    std::deque<Request> queue_;
    bool viewerStarted_ = false;  // for the request at the head of the queue
    int attempts_ = 0;
};

/// The local socket of the help viewer of this user on this display: a path in the user's own
/// runtime folder ($XDG_RUNTIME_DIR), or in a private folder of ours (mode 0700) where there is
/// none. Another user can neither take the name first nor see the requests.
QString DefaultSocketName();

/// True when the other end of the connected local socket `descriptor` runs as user `uid`
/// (SO_PEERCRED); both the program and the viewer talk only to their own user.
bool PeerIsUser(qintptr descriptor, uid_t uid);

/// The process at the other end of the connected local socket `descriptor` (SO_PEERCRED); 0
/// when it cannot be told.
pid_t PeerProcess(qintptr descriptor);

/// When process `pid` started, in clock ticks after boot (field 22 of /proc/PID/stat): a number
/// that tells a process from a later one given the same id. Nothing when there is no process.
std::optional<unsigned long long> ProcessStart(pid_t pid);

/// Longest request or reply line the help channel carries, in bytes.
inline constexpr qint64 kMaxHelpMessage = qint64{64} * 1024;

/// A request of the help channel, as the viewer takes it.
struct HelpRequest {
    QString client;
    int command = 0;
    QString file;
    QVariant data;
    /// The frame of the window that asked (F1), on the screen: the viewer shows beside it.
    std::optional<QRect> beside;
    /// What the window manager's frame adds to that window's own size: the viewer's frame is
    /// taken to add as much until its own is known.
    std::optional<QSize> border;
};

/// The narrowest the viewer is made: its topic keeps 60 characters a line beside a narrowed
/// index. With less room than this beside a window, it lies against the screen's edge over the
/// part of the window nearest that edge.
inline constexpr int kMinViewerWidth = 560;
/// The characters a line a topic keeps, the index narrowed (or put away) to leave them.
inline constexpr int kTopicCharacters = 60;
inline constexpr int kMinViewerHeight = 300;
/// The least height the viewer takes above or below a window it cannot lie beside.
inline constexpr int kMinBandHeight = 200;

/// Where the viewer's frame goes beside the frame `asking` on the screen area `room`: on the
/// side with more room, as wide as `wanted` or as that room allows, down to kMinViewerWidth,
/// its top level with the window's. Narrower room than that beside the window: above or below
/// it where at least kMinBandHeight is free there; else against the screen's edge,
/// overlapping the window the least it can. Always inside the screen.
QRect PlaceBeside(const QRect& asking, const QSize& wanted, const QRect& room);

/// Reads one request line: a JSON object with a "client" text and a "command" number, and an
/// optional "file" text, "data", "beside" ([x, y, width, height] of the asking window's frame)
/// and "border" ([width, height] its frame adds to it).
/// Nothing for anything else (not JSON, an array, an empty
/// line, a missing or mistyped member, a line longer than kMaxHelpMessage).
std::optional<HelpRequest> ParseHelpRequest(const QByteArray& line);

/// Help set-up, run first when the main window loads: remembers the owner window and fixes the
/// help file path from the program's own folder.
void SetUp(QWidget* owner);
/// Help > Contents: the viewer's keyword index with nothing typed.
void ShowContents();
/// Help shut-down, run by the main window's unload handler: the viewer may close.
void ShutDown();
/// F1: the topic of a window or menu.
/// `asking` is the window where F1 was pressed: the viewer shows beside it, not over it.
void ShowContext(int context, QWidget* asking = nullptr);

/// The help file path fixed at set-up.
const QString& FilePath();
/// Replaces the help layer (tests); null restores the viewer layer.
void SetLayer(HelpLayer* layer);

/// F1 in `window` (and its children) opens the topic `context`.
void InstallContextHelp(QWidget* window, int context);
/// F1 on a highlighted menu of the bar, or an item of its menus, opens the menu's topic: each
/// menu action carries its number in the property "helpContextId"; others use `fallback`.
void InstallMenuHelp(QMenuBar* bar, int fallback);

}  // namespace rendle::ui::help
