#include "cli/FieldBookInput.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "grid/Utf8.h"

namespace rendle::cli {

namespace {

/// How often a wait looks whether a stop was asked for.
constexpr int kStopCheckMs = 100;

}  // namespace

/// Reads the field book from the descriptor.
class FieldBookInput::Buffer : public std::streambuf {
  public:
    Buffer(int fd, const std::atomic<bool>* stop) : fd_(fd), stop_(stop) {
        struct stat info {};
        waits_ = fstat(fd, &info) != 0 || !S_ISREG(info.st_mode);
    }

  protected:
    /// What is left of a regular file, so that the whole book is read into room made once.
    std::streamsize showmanyc() override {
        struct stat info {};
        if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return 0;
        const off_t at = lseek(fd_, 0, SEEK_CUR);
        return at < 0 || info.st_size <= at ? 0 : static_cast<std::streamsize>(info.st_size - at);
    }

    /// What is buffered is served first, then the read goes straight from the file into the
    /// caller's buffer. Filled whole unless the field book ends: a short count means its end.
    std::streamsize xsgetn(char* s, std::streamsize n) override {
        std::streamsize total = std::min<std::streamsize>(egptr() - gptr(), n);
        if (total > 0) {
            std::memcpy(s, gptr(), static_cast<size_t>(total));
            gbump(static_cast<int>(total));  // at most one block
        }
        while (total < n) {
            WaitForInput();
            const ssize_t got = read(fd_, s + total, static_cast<size_t>(n - total));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) throw std::ios_base::failure(std::strerror(errno));
            if (got == 0) break;
            total += got;
        }
        return total;
    }

    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        // Made when first needed: a book read whole goes straight into the caller's buffer.
        if (!block_) block_ = std::make_unique_for_overwrite<char[]>(kBlockBytes);
        for (;;) {
            WaitForInput();
            const ssize_t got = read(fd_, block_.get(), kBlockBytes);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                // A read error must not look like the end of the field book.
                if (got < 0) throw std::ios_base::failure(std::strerror(errno));
                return traits_type::eof();
            }
            setg(block_.get(), block_.get(), block_.get() + got);
            return traits_type::to_int_type(*gptr());
        }
    }

  private:
    /// A pipe, a FIFO or a terminal may keep the read waiting: it is watched in short waits,
    /// so that a stop asked for (Ctrl+C) ends it, the book read only in part.
    void WaitForInput() {
        if (!waits_ || stop_ == nullptr) return;
        for (;;) {
            if (stop_->load()) {
                throw std::runtime_error("stopped by a signal: only part of it was read");
            }
            pollfd waiting{fd_, POLLIN, 0};
            const int ready = poll(&waiting, 1, kStopCheckMs);
            if (ready > 0 || (ready < 0 && errno != EINTR)) return;  // input, its end, an error
        }
    }

    int fd_;
    const std::atomic<bool>* stop_;
    bool waits_ = false;
    static constexpr size_t kBlockBytes = size_t{128} * 1024;
    std::unique_ptr<char[]> block_;
};

FieldBookInput::FieldBookInput(const std::string& path, std::string& error,
                               const std::atomic<bool>* stop, int writerWaitSeconds)
    : stream_(nullptr) {
    const std::string shown = grid::ValidUtf8(path);
    if (path == "-") {
        fd_ = STDIN_FILENO;
    } else {
        struct stat info {};
        if (stat(path.c_str(), &info) != 0) {
            error = "cannot open " + shown + ": " + std::strerror(errno);
            return;
        }
        if (S_ISDIR(info.st_mode)) {
            error = shown + " is a folder, not a field book";
            return;
        }
        // Opening a FIFO for reading would wait for a writer for ever: open it without waiting,
        // then wait a bounded time for something to read.
        fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | (S_ISFIFO(info.st_mode) ? O_NONBLOCK : 0));
        if (fd_ < 0) {
            error = "cannot open " + shown + ": " + std::strerror(errno);
            return;
        }
        ownsFd_ = true;
        if (S_ISFIFO(info.st_mode)) {
            // Waited in short steps, so that a stop asked for (Ctrl+C) ends the wait too.
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::seconds(writerWaitSeconds);
            for (;;) {
                if (stop != nullptr && stop->load()) {
                    error = "stopped by a signal while waiting for a writer to the FIFO " + shown +
                            ": only part of it was read";
                    break;
                }
                pollfd waiting{fd_, POLLIN, 0};
                const int ready = poll(&waiting, 1, kStopCheckMs);
                if (ready > 0 || (ready < 0 && errno != EINTR)) break;
                if (std::chrono::steady_clock::now() >= deadline) {
                    error = "nothing was written to the FIFO " + shown + " within " +
                            std::to_string(writerWaitSeconds) + " seconds";
                    break;
                }
            }
            if (!error.empty()) {
                close(fd_);
                fd_ = -1;
                return;
            }
            fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        }
    }
    buffer_ = std::make_unique<Buffer>(fd_, stop);
    stream_.rdbuf(buffer_.get());
}

int FieldBookInput::RegularFile(size_t bytes) const {
    struct stat info {};
    const bool regular = fd_ >= 0 && fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
    return regular && static_cast<size_t>(info.st_size) >= bytes ? fd_ : -1;
}

FieldBookInput::~FieldBookInput() {
    if (ownsFd_ && fd_ >= 0) close(fd_);
}

}  // namespace rendle::cli
