// The field book rendle-reduce reads: a file, a FIFO, a pipe or standard input ("-"), opened once.
// Its format is told from what has been read, and the read then goes on from the first byte, so
// a pipe is read as the stream it is.
#pragma once

#include <istream>
#include <memory>
#include <optional>
#include <streambuf>
#include <string>

#include "readers/FieldBook.h"

namespace rendle::cli {

/// A stream over a file descriptor that first gives back the bytes already taken from it.
class FieldBookInput {
  public:
    /// Opens `path` ("-" is standard input). On failure `error` says why and the input is not
    /// open. A FIFO that no program writes to within `writerWait` seconds is a failure, so that
    /// the run never hangs for ever.
    FieldBookInput(const std::string& path, std::string& error, int writerWaitSeconds = 10);
    ~FieldBookInput();
    FieldBookInput(const FieldBookInput&) = delete;
    FieldBookInput& operator=(const FieldBookInput&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    /// The format told from the first megabyte of the field book (readers::DetectFormat), which
    /// stays to be read again. `failed` is set when the field book could not be read.
    std::optional<readers::FieldBookFormat> DetectFormat(const std::string& encoding, bool& failed);
    /// The field book from its first byte.
    std::istream& Stream() { return stream_; }

  private:
    class Buffer;
    int fd_ = -1;
    bool ownsFd_ = false;
    std::unique_ptr<Buffer> buffer_;
    std::istream stream_;
};

}  // namespace rendle::cli
