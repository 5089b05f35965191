#include "grid/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <vector>

#include "grid/Grid.h"

namespace rendle::grid {

namespace fs = std::filesystem;

std::string WriteErrorText(int error) {
    if (error == ENOSPC || error == EDQUOT) return "the disk is full";
    return std::strerror(error);
}

namespace {

[[noreturn]] void Fail(const std::string& why) {
    throw GridError(kErrWriteFailed, why);
}

[[noreturn]] void FailErrno(const std::string& what) {
    Fail(what + ": " + WriteErrorText(errno));
}

/// The marker of staged files' names: ".NAME.rendle-XXXXXX".
constexpr std::string_view kStagedMarker = ".rendle-";

void WriteAll(int fd, std::string_view bytes, const std::string& to) {
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            FailErrno("cannot write " + to);
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
}

/// Flushes to the disk; devices such as a terminal cannot be flushed, which is no failure.
void Sync(int fd, const std::string& what) {
    if (fsync(fd) != 0 && errno != EINVAL && errno != EROFS) FailErrno("cannot write " + what);
}

/// Why a new file cannot be made in `folder`, in words that fit what the folder is.
[[noreturn]] void FailToCreateIn(const fs::path& folder) {
    const int error = errno;
    std::error_code ec;
    if (!fs::exists(folder, ec)) Fail("the folder " + folder.string() + " does not exist");
    if (!fs::is_directory(folder, ec)) Fail(folder.string() + " is not a folder");
    if (error == ENOENT) Fail("the folder " + folder.string() + " does not take new files");
    Fail("cannot write in the folder " + folder.string() + ": " + WriteErrorText(error));
}

/// Removes staged files of an earlier save into `folder` that was killed: ours by their name,
/// and stale by their age, so that a save running beside this one keeps its file. A folder is
/// looked through at most once in ten minutes, however many outputs a batch puts into it.
void RemoveStaleStagedFiles(const fs::path& folder) {
    static std::mutex mutex;
    static std::map<std::string, std::chrono::steady_clock::time_point> cleaned;
    std::error_code ec;
    {
        const fs::path canonical = fs::weakly_canonical(folder, ec);
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lock(mutex);
        auto [at, first] = cleaned.try_emplace((ec ? folder : canonical).string(), now);
        if (!first && now - at->second < std::chrono::minutes(10)) return;
        at->second = now;
    }
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const size_t marker = name.rfind(kStagedMarker);
        if (name.empty() || name[0] != '.' || marker == std::string::npos ||
            name.size() != marker + kStagedMarker.size() + 6) {
            continue;
        }
        std::error_code timeError;
        const auto modified = it->last_write_time(timeError);
        if (!timeError && now - modified > std::chrono::hours(1) &&
            it->is_regular_file(timeError)) {
            fs::remove(it->path(), timeError);
        }
    }
}

std::string RandomSuffix() {
    static constexpr char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device device;
    std::string suffix(6, 'x');
    for (char& c : suffix) c = kChars[device() % (sizeof kChars - 1)];
    return suffix;
}

/// Opens a new file of our own under `path`, created as any program creates a file (0666, less
/// the umask, which the kernel applies); -1 with errno when it cannot, EEXIST if it exists.
int CreateExclusive(const std::string& path) {
    return open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
}

/// Makes sure a rename in `folder` survives a crash; a folder that cannot be synced (some
/// network file systems) is no failure.
void SyncFolder(const fs::path& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

fs::path ResolveTarget(const std::string& path) {
    if (path.empty()) Fail("no file name was given");
    fs::path target(path);
    std::error_code ec;
    // Follow symbolic links by hand, so that a dangling one still names the file it points to.
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(target, ec)); ++hops) {
        const fs::path link = fs::read_symlink(target, ec);
        if (ec) break;
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
    const fs::file_status status = fs::status(target, ec);
    if (fs::is_directory(status)) Fail(target.string() + " is a folder");
    if (fs::is_regular_file(status) &&
        (status.permissions() & (fs::perms::owner_write | fs::perms::group_write |
                                 fs::perms::others_write)) == fs::perms::none) {
        Fail(target.string() + " is read-only");
    }
    return target;
}

StagedFile::StagedFile(const std::string& target) : target_(ResolveTarget(target)) {
    std::error_code ec;
    const fs::file_status status = fs::status(target_, ec);
    device_ = fs::exists(status) && !fs::is_regular_file(status);
    if (device_) {
        // A device or a pipe: stage where temporary files go, the target is written into.
        fs::path folder = fs::temp_directory_path(ec);
        if (ec || !fs::is_directory(folder, ec)) folder = "/tmp";
        OpenBeside(folder);
        return;
    }
    OpenBeside(target_.has_parent_path() ? target_.parent_path() : fs::path("."));
}

void StagedFile::OpenBeside(const fs::path& folder) {
#ifdef O_TMPFILE
    fd_ = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
        writePath_ = "/proc/self/fd/" + std::to_string(fd_);
        if (access(writePath_.c_str(), F_OK) == 0) return;
        // Without /proc the unnamed file cannot be named later: use a named one.
        close(fd_);
        fd_ = -1;
    }
    if (errno == ENOENT || errno == ENOTDIR) {
        std::error_code ec;
        if (!fs::is_directory(folder, ec)) FailToCreateIn(folder);
    }
#endif
    OpenNamed(folder);
}

std::string StagedFile::StagedName(const fs::path& folder) const {
    return (folder /
            ("." + target_.filename().string() + std::string(kStagedMarker) + RandomSuffix()))
        .string();
}

void StagedFile::OpenNamed(const fs::path& folder) {
    RemoveStaleStagedFiles(folder);
    for (int attempt = 0; fd_ < 0; ++attempt) {
        namedPath_ = StagedName(folder);
        fd_ = CreateExclusive(namedPath_);
        if (fd_ < 0 && (errno != EEXIST || attempt > 100)) {
            namedPath_.clear();
            FailToCreateIn(folder);
        }
    }
    writePath_ = namedPath_;
}

StagedFile::~StagedFile() {
    if (fd_ >= 0) close(fd_);
    if (!committed_ && !namedPath_.empty()) std::remove(namedPath_.c_str());
}

void StagedFile::Write(std::string_view bytes) {
    WriteAll(fd_, bytes, target_.string());
}

std::string StagedFile::Tail(size_t count, long long* size) const {
    struct stat info {};
    if (fstat(fd_, &info) != 0) FailErrno("cannot read back " + target_.string());
    if (size) *size = info.st_size;
    const auto total = static_cast<size_t>(info.st_size);
    const size_t take = std::min(count, total);
    std::string tail(take, '\0');
    const ssize_t got = pread(fd_, tail.data(), take, static_cast<off_t>(total - take));
    if (got < 0) FailErrno("cannot read back " + target_.string());
    tail.resize(static_cast<size_t>(got));
    return tail;
}

void StagedFile::Commit() {
    const std::string target = target_.string();
    if (device_) {
        const int out = open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (out < 0) FailErrno("cannot write " + target);
        try {
            std::vector<char> buffer(size_t{1} << 16);
            for (off_t at = 0;;) {
                const ssize_t got = pread(fd_, buffer.data(), buffer.size(), at);
                if (got < 0) FailErrno("cannot read back the staged copy of " + target);
                if (got == 0) break;
                WriteAll(out, std::string_view(buffer.data(), static_cast<size_t>(got)), target);
                at += got;
            }
            Sync(out, target);
        } catch (...) {
            close(out);
            throw;
        }
        if (close(out) != 0) FailErrno("cannot write " + target);
        committed_ = true;
        return;
    }

    Sync(fd_, target);
    // A file replaced keeps its owner and group where the saver may give them (else the group
    // alone), and its permissions; a new one has those it was created with.
    struct stat old {};
    if (stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        if (fchown(fd_, old.st_uid, old.st_gid) != 0) {
            [[maybe_unused]] const int groupOnly = fchown(fd_, static_cast<uid_t>(-1), old.st_gid);
        }
        if (fchmod(fd_, old.st_mode & 07777) != 0) {
            FailErrno("cannot set the permissions of " + target);
        }
    }
    const fs::path folder = target_.has_parent_path() ? target_.parent_path() : fs::path(".");
    // Staged files that a killed save left behind go, whichever way this one was staged.
    RemoveStaleStagedFiles(folder);
    // Give the unnamed file a name beside the target, then rename it over the target.
    for (int attempt = 0; namedPath_.empty(); ++attempt) {
        const std::string name = StagedName(folder);
        if (linkat(AT_FDCWD, writePath_.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            namedPath_ = name;
        } else if (errno != EEXIST || attempt > 100) {
            FailErrno("cannot write " + target);
        }
    }
    if (std::rename(namedPath_.c_str(), target_.c_str()) != 0) {
        FailErrno("cannot replace " + target);
    }
    committed_ = true;
    SyncFolder(folder);
}

}  // namespace rendle::grid
