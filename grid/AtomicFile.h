// Replacing a file in one step: an output is written to a temporary file in the target's folder
// and renamed over the target only when whole, so the target is always either the old file or
// the whole new one.
#pragma once

#include <filesystem>
#include <string>

namespace rendle::grid {

/// A temporary file that is removed unless kept. Failures throw GridError.
class TempFile {
  public:
    /// Creates an empty file named after `pattern` (which ends in XXXXXX) in `folder`.
    TempFile(const std::filesystem::path& folder, const std::string& pattern);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& path() const { return path_; }
    int fd() const { return fd_; }
    /// Closes the file, reporting a failed close (a full disk may only show here).
    void Close();
    void Keep() { kept_ = true; }

  private:
    std::string path_;
    int fd_ = -1;
    bool kept_ = false;
};

/// Puts the bytes of the finished file `staged` at `path`: through a temporary file in the same
/// folder renamed over the target, which keeps the permissions of the file it replaces. A device
/// or pipe named as target is written as it is, never replaced. Throws GridError saying why.
void PlaceFile(const std::string& staged, const std::string& path);

}  // namespace rendle::grid
