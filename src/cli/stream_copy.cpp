// Buffered writes of stream mode's copy, with every failure remembered.

#include "cli/stream_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr std::size_t kBufferSize = 65536;

}  // namespace

StreamCopy::StreamCopy() : buffer_(kBufferSize) {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
}

StreamCopy::~StreamCopy() { (void)close(); }

bool StreamCopy::open(const std::string& path) {
    (void)close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    failed_ = fd_ < 0;
    errno_ = failed_ ? errno : 0;
    setp(buffer_.data(), buffer_.data() + buffer_.size());
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
    setp(buffer_.data(), buffer_.data() + buffer_.size());
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
    const std::size_t used = std::size_t(pptr() - pbase());
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return used == 0 ? !failed_ : write_all(buffer_.data(), used);
}

StreamCopy::int_type StreamCopy::overflow(int_type c) {
    if (!flush_buffer()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

std::streamsize StreamCopy::xsputn(const char* data, std::streamsize n) {
    const std::size_t size = std::size_t(n);
    if (size <= std::size_t(epptr() - pptr())) {
        traits_type::copy(pptr(), data, size);
        pbump(int(n));
        return n;
    }
    // Large pieces go straight to the file rather than through the buffer.
    if (!flush_buffer() || !write_all(data, size)) return 0;
    return n;
}

int StreamCopy::sync() { return flush_buffer() ? 0 : -1; }
