// Buffered writes of stream mode's copy, with every failure remembered.

#include "cli/stream_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

constexpr std::size_t kBufferSize = 65536;

}  // namespace

StreamCopy::StreamCopy() : buffer_(kBufferSize) {}

StreamCopy::~StreamCopy() { (void)close(); }

bool StreamCopy::open(const std::string& path) {
    (void)close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    failed_ = fd_ < 0;
    errno_ = failed_ ? errno : 0;
    used_ = 0;
    return !failed_;
}

bool StreamCopy::close() {
    if (fd_ < 0) return false;
    flush_buffer();
    if (::close(fd_) != 0 && !failed_) {
        failed_ = true;
        errno_ = errno;
    }
    fd_ = -1;
    return !failed_;
}

void StreamCopy::discard() {
    used_ = 0;
    (void)close();
}

bool StreamCopy::write_all(const char* data, std::size_t size) {
    if (fd_ < 0) failed_ = true;
    while (!failed_ && size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            // A write that takes nothing without an error still leaves the copy short.
            errno_ = n < 0 ? errno : ENOSPC;
            break;
        }
        data += n;
        size -= std::size_t(n);
    }
    return !failed_;
}

bool StreamCopy::flush_buffer() {
    const std::size_t used = std::exchange(used_, 0);
    return used == 0 ? !failed_ : write_all(buffer_.data(), used);
}

void StreamCopy::write(const char* data, std::size_t size) {
    if (size <= buffer_.size() - used_) {
        std::memcpy(buffer_.data() + used_, data, size);
        used_ += size;
        return;
    }
    // Large pieces go straight to the file rather than through the buffer.
    if (flush_buffer()) (void)write_all(data, size);
}
