// Paths between the file system's bytes and Qt's dialogs. A QString holds a name only as UTF-8
// text, so a folder or a book named in Latin-1 (archives copied from older machines keep such
// names) would be lost on the way into a dialog and back. A dialog is given a path it can
// enter, and what the user chooses there is mapped back to the bytes before anything is opened
// or written.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace rendle::ui {

/// Bytes of a name as Qt shows them, and back: both by the locale's file-name encoding (UTF-8);
/// a byte that is no UTF-8 is shown as U+FFFD, so the way back is not the same name.
QString FromBytes(const std::string& bytes);
std::string ToBytes(const QString& name);

class DialogPaths {
  public:
    /// A path naming the folder `folderBytes` that Qt can enter: the folder itself when its
    /// name is UTF-8, else a link to it, named as the folder's name reads with its stray bytes
    /// taken as Latin-1, in a private folder of this session.
    QString Folder(const std::string& folderBytes);
    /// A path naming the file `pathBytes` as a dialog can offer it: its folder by Folder(), its
    /// name as Qt shows it, remembered so that Bytes() gives back the name's own bytes.
    QString File(const std::string& pathBytes);
    /// The bytes of a path a dialog gave: a link's folder mapped back to the folder it stands
    /// for; a name offered by File() back to its bytes; a name chosen from a folder's listing
    /// back to the one entry there that Qt shows so.
    std::string Bytes(const QString& chosen) const;

  private:
    std::unique_ptr<QTemporaryDir> links_;
    std::vector<std::pair<QString, std::string>> folders_;  ///< link, the folder it stands for
    std::map<QString, std::string> names_;                  ///< a name as shown, its bytes
};

}  // namespace rendle::ui
