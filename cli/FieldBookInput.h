// The field book rendle-reduce reads: a file, a FIFO, a pipe or standard input ("-"), opened once
// and read once, as the stream it is.
#pragma once

#include <atomic>
#include <istream>
#include <memory>
#include <streambuf>
#include <string>

namespace rendle::cli {

/// A stream over a file descriptor that first gives back the bytes already taken from it.
class FieldBookInput {
  public:
    /// Opens `path` ("-" is standard input). On failure `error` says why and the input is not
    /// open. A FIFO that no program writes to within `writerWait` seconds is a failure, so that
    /// the run never hangs for ever. A read that waits on a pipe, a FIFO or a terminal ends,
    /// as a failure, once `stop` is set.
    FieldBookInput(const std::string& path, std::string& error,
                   const std::atomic<bool>* stop = nullptr, int writerWaitSeconds = 10);
    ~FieldBookInput();
    FieldBookInput(const FieldBookInput&) = delete;
    FieldBookInput& operator=(const FieldBookInput&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    /// The field book from its first byte.
    std::istream& Stream() { return stream_; }
    /// The descriptor of a field book that is a regular file of at least `bytes` (which may be
    /// mapped rather than read), or -1.
    int RegularFile(size_t bytes = 0) const;

  private:
    class Buffer;
    int fd_ = -1;
    bool ownsFd_ = false;
    std::unique_ptr<Buffer> buffer_;
    std::istream stream_;
};

}  // namespace rendle::cli
