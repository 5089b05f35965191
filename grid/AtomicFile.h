// Replacing a file in one step: an output (workbook, PDF) is written to a file beside its target
// and put in the target's place only when whole, so the target is always either the old file or
// the whole new one, and a killed save leaves nothing behind.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace rendle::grid {

/// The file an output named `path` really replaces: symbolic links followed (a dangling link
/// gives the file it points to). Throws GridError when the target is a folder, or a file that
/// is read-only, which is not written over, as spreadsheet programs do.
std::filesystem::path ResolveTarget(const std::string& path);

/// Why a write failed, from its errno, in words: "the disk is full" for a full disk or quota,
/// else the system's own text.
std::string WriteErrorText(int error);

/// A new output, staged beside its target and committed in one step. Where the file system
/// allows, the staged file has no name until it is committed (O_TMPFILE), so a killed save
/// leaves nothing; elsewhere it is ".NAME.rendle-XXXXXX" in the target's folder, and such files
/// of an earlier, killed save that are more than an hour old are removed. A device or pipe
/// named as target is staged in the temporary folder and written into as it is, never replaced.
/// Every failure throws GridError naming the path and the cause.
class StagedFile {
  public:
    explicit StagedFile(const std::string& target);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    /// A name by which a library can open the staged file again to write it.
    const std::string& WritePath() const { return writePath_; }
    /// The target as resolved.
    const std::filesystem::path& Target() const { return target_; }
    /// Appends bytes, checking every write.
    void Write(std::string_view bytes);
    /// The size of the staged file and its last `count` bytes, to check that it is whole.
    std::string Tail(size_t count, long long* size = nullptr) const;
    /// Makes the staged file durable and puts it at the target, with the permissions of the
    /// file it replaces (or, for a new file, those any program gives it under the umask).
    void Commit();

  private:
    void OpenBeside(const std::filesystem::path& folder);
    void OpenNamed(const std::filesystem::path& folder);
    /// A fresh name ".NAME.rendle-XXXXXX" for the staged file in `folder`.
    std::string StagedName(const std::filesystem::path& folder) const;

    std::filesystem::path target_;
    std::string writePath_;
    std::string namedPath_;  // empty while the staged file has no name
    int fd_ = -1;
    bool device_ = false;  // the target is a device or pipe, written into as it is
    bool committed_ = false;
};

}  // namespace rendle::grid
