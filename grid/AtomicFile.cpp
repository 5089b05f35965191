#include "grid/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "grid/Grid.h"

namespace rendle::grid {

namespace {

[[noreturn]] void Fail(const std::string& why) {
    throw GridError(kErrWriteFailed, why);
}

/// Copies a file's bytes to an open descriptor, checking every write and the final flush.
void CopyInto(const std::string& from, int fd, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const char* data = buffer.data();
        size_t left = static_cast<size_t>(in.gcount());
        while (left > 0) {
            const ssize_t written = write(fd, data, left);
            if (written < 0) {
                if (errno == EINTR) continue;
                Fail("cannot write " + to + ": " + std::strerror(errno));
            }
            data += written;
            left -= static_cast<size_t>(written);
        }
    }
    if (in.bad()) Fail("cannot read back the workbook just written");
    // Devices such as a terminal cannot be flushed to disk; that is no failure.
    if (fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        Fail("cannot write " + to + ": " + std::strerror(errno));
    }
}

}  // namespace

TempFile::TempFile(const std::filesystem::path& folder, const std::string& pattern) {
    std::string name = (folder / pattern).string();
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    fd_ = mkstemp(buffer.data());
    if (fd_ < 0) {
        Fail("cannot write in the folder " + folder.string() + ": " + std::strerror(errno));
    }
    path_ = buffer.data();
}

TempFile::~TempFile() {
    if (fd_ >= 0) close(fd_);
    if (!kept_) std::remove(path_.c_str());
}

void TempFile::Close() {
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) Fail("cannot finish " + path_ + ": " + std::strerror(errno));
}

void PlaceFile(const std::string& staged, const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target(path);
    if (fs::is_symlink(target, ec)) target = fs::canonical(target, ec);
    const fs::file_status status = fs::status(target, ec);
    if (fs::is_directory(status)) Fail(target.string() + " is a folder");

    if (fs::exists(status) && !fs::is_regular_file(status)) {
        const int fd = open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) Fail("cannot write " + target.string() + ": " + std::strerror(errno));
        try {
            CopyInto(staged, fd, target.string());
        } catch (...) {
            close(fd);
            throw;
        }
        if (close(fd) != 0) Fail("cannot write " + target.string() + ": " + std::strerror(errno));
        return;
    }

    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string pattern = ".";
    pattern += target.filename().string();
    pattern += ".rendle-XXXXXX";
    TempFile temp(folder, pattern);
    CopyInto(staged, temp.fd(), target.string());
    // The new file keeps the permissions of the file it replaces, or the usual ones.
    struct stat old {};
    mode_t mode = 0;
    if (stat(target.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        mode = umask(0);
        umask(mode);
        mode = 0666 & ~mode;
    }
    fchmod(temp.fd(), mode);
    temp.Close();
    if (std::rename(temp.path().c_str(), target.c_str()) != 0) {
        Fail("cannot replace " + target.string() + ": " + std::strerror(errno));
    }
    temp.Keep();
}

}  // namespace rendle::grid
