// Buffered writing through one descriptor. Writes of a whole buffer or more bypass the buffer,
// so that unpacking a large file copies each byte once on its way to the kernel.

#include "core/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

OutputFile::OutputFile() : error_(EBADF) {}

OutputFile::OutputFile(int fd) : fd_(fd < 0 ? -1 : fd), error_(fd < 0 ? errno : 0) {
    if (fd < 0 && error_ == 0) error_ = EBADF;
}

OutputFile OutputFile::open(const std::string& path, Mode mode) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == Mode::Append ? O_APPEND : O_TRUNC);
    return OutputFile(::open(path.c_str(), flags, 0666));
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      error_(std::exchange(other.error_, EBADF)),
      buffer_(std::move(other.buffer_)),
      used_(std::exchange(other.used_, 0)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        (void)close();
        fd_ = std::exchange(other.fd_, -1);
        error_ = std::exchange(other.error_, EBADF);
        buffer_ = std::move(other.buffer_);
        used_ = std::exchange(other.used_, 0);
    }
    return *this;
}

OutputFile::~OutputFile() {
    const int saved = errno;
    (void)close();
    errno = saved;
}

void OutputFile::fail(int err) {
    if (error_ == 0) error_ = err != 0 ? err : EIO;
    errno = error_;
}

bool OutputFile::write_out(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fail(n < 0 ? errno : ENOSPC);
            return false;
        }
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

bool OutputFile::flush() {
    const std::size_t size = std::exchange(used_, 0);
    return size == 0 || write_out(buffer_.get(), size);
}

void OutputFile::write(const void* data, std::size_t size) {
    if (!*this) {
        fail(EBADF);  // keeps an earlier failure's reason
        return;
    }
    if (size == 0) return;  // `data` of an empty text may be null, which memcpy must not get
    const char* bytes = static_cast<const char*>(data);
    if (size > kBufferSize - used_ && !flush()) return;
    if (size >= kBufferSize) {
        write_out(bytes, size);
        return;
    }
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(kBufferSize);
    std::memcpy(buffer_.get() + used_, bytes, size);
    used_ += size;
}

bool OutputFile::close() {
    if (fd_ >= 0) {
        if (error_ == 0) flush();
        if (::close(std::exchange(fd_, -1)) != 0) fail(errno);
        used_ = 0;
    }
    if (error_ == 0) return true;
    errno = error_;
    return false;
}
