#include "ui/DialogPaths.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <filesystem>
#include <system_error>

#include "grid/Utf8.h"

namespace rendle::ui {

namespace fs = std::filesystem;

QString FromBytes(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

std::string ToBytes(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

namespace {

/// A name as a reader of the folder would read it: its UTF-8 as it is, every other byte as the
/// Latin-1 character it stands for there ("Medici\xf3n" reads "Medición").
QString Readable(const std::string& bytes) {
    QString text;
    for (size_t i = 0; i < bytes.size();) {
        const size_t length = grid::Utf8SequenceLength(bytes, i);
        if (length == 0) {
            text += QChar(static_cast<unsigned char>(bytes[i]));
            ++i;
        } else {
            text += QString::fromUtf8(bytes.data() + i, static_cast<qsizetype>(length));
            i += length;
        }
    }
    return text;
}

bool Lossless(const std::string& bytes) {
    return ToBytes(FromBytes(bytes)) == bytes;
}

}  // namespace

QString DialogPaths::Folder(const std::string& folderBytes) {
    if (folderBytes.empty() || Lossless(folderBytes)) return FromBytes(folderBytes);
    std::error_code error;
    const std::string folder = fs::absolute(folderBytes, error).lexically_normal().string();
    for (const auto& [link, real] : folders_) {
        if (real == folder) return link;
    }
    if (!links_) {
        links_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/rendle-folders-XXXXXX");
        if (!links_->isValid()) {
            links_.reset();
            return FromBytes(folderBytes);
        }
    }
    fs::path name = fs::path(folder).filename();
    if (name.empty()) name = fs::path(folder).parent_path().filename();
    const QString readable = Readable(name.string());
    // Two folders that read alike get links of their own.
    QString link = links_->filePath(readable);
    for (int n = 2; QFileInfo::exists(link) || QFileInfo(link).isSymLink(); ++n) {
        link = links_->filePath(readable + "-" + QString::number(n));
    }
    if (::symlink(folder.c_str(), QFile::encodeName(link).constData()) != 0) {
        return FromBytes(folderBytes);
    }
    folders_.emplace_back(link, folder);
    return link;
}

QString DialogPaths::File(const std::string& pathBytes) {
    const fs::path path(pathBytes);
    const std::string name = path.filename().string();
    const QString shown = FromBytes(name);
    if (!Lossless(name)) names_[shown] = name;
    const QString folder = Folder(path.parent_path().string());
    return folder.isEmpty() ? shown : folder + "/" + shown;
}

std::string DialogPaths::Bytes(const QString& chosen) const {
    const QString cleaned = QDir::cleanPath(chosen);
    const qsizetype slash = cleaned.lastIndexOf('/');
    const QString shownFolder = slash < 0 ? QString() : cleaned.left(slash);
    const QString shownName = slash < 0 ? cleaned : cleaned.mid(slash + 1);
    std::string folder = ToBytes(shownFolder);
    for (const auto& [link, real] : folders_) {
        if (shownFolder == link) {
            folder = real;
        } else if (shownFolder.startsWith(link + "/")) {
            folder = real + ToBytes(shownFolder.mid(link.size()));
        }
    }
    if (slash == 0) folder = "/";
    std::string name = ToBytes(shownName);
    if (const auto offered = names_.find(shownName); offered != names_.end()) {
        name = offered->second;
    } else if (shownName.contains(QChar::ReplacementCharacter)) {
        // Picked from the folder's listing, which showed its stray bytes as U+FFFD: the one
        // entry there that reads so.
        std::error_code error;
        std::string found;
        int matches = 0;
        fs::directory_iterator it(folder.empty() ? "." : folder, error);
        for (; !error && it != fs::directory_iterator(); it.increment(error)) {
            const std::string entryName = it->path().filename().string();
            if (FromBytes(entryName) == shownName) {
                found = entryName;
                ++matches;
            }
        }
        if (matches == 1) name = found;
    }
    if (slash < 0) return name;
    return folder == "/" ? "/" + name : folder + "/" + name;
}

}  // namespace rendle::ui
