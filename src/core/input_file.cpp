// Buffered reading through one descriptor. A read error ends the data, as it ended a stream's.

#include "core/input_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

InputFile::InputFile(int fd, std::size_t bufferSize, Seeking seeking)
    : fd_(fd < 0 ? -1 : fd), seekable_(seeking == Seeking::Allowed), bufferSize_(bufferSize) {}

InputFile InputFile::open(const std::string& path, std::size_t bufferSize, Seeking seeking) {
    return InputFile(::open(path.c_str(), O_RDONLY | O_CLOEXEC), bufferSize, seeking);
}

InputFile InputFile::standard_input(std::size_t bufferSize) {
    InputFile file(STDIN_FILENO, bufferSize);
    file.owned_ = false;
    return file;
}

InputFile::InputFile(InputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      owned_(other.owned_),
      seekable_(other.seekable_),
      ended_(other.ended_),
      bufferSize_(other.bufferSize_),
      buffer_(std::move(other.buffer_)),
      begin_(std::exchange(other.begin_, 0)),
      end_(std::exchange(other.end_, 0)) {}

InputFile::~InputFile() {
    if (fd_ >= 0 && owned_) ::close(fd_);
}

std::size_t InputFile::read(char* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        if (begin_ < end_) {
            const std::size_t n = std::min(size - done, end_ - begin_);
            std::memcpy(out + done, buffer_.get() + begin_, n);
            begin_ += n;
            done += n;
            continue;
        }
        if (fd_ < 0 || ended_) break;
        if (size - done < bufferSize_) {
            if (!fill()) break;
            continue;
        }
        const ssize_t got = ::read(fd_, out + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ended_ = true;
            break;
        }
        done += std::size_t(got);
    }
    return done;
}

bool InputFile::fill() {
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(bufferSize_);
    for (;;) {
        const ssize_t got = ::read(fd_, buffer_.get(), bufferSize_);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ended_ = true;
            return false;
        }
        begin_ = 0;
        end_ = std::size_t(got);
        return true;
    }
}

bool InputFile::at_end() {
    return begin_ == end_ && (fd_ < 0 || ended_ || !fill());
}

bool InputFile::seek(std::uint64_t offset) {
    if (fd_ < 0 || !seekable_) return false;
    if (::lseek(fd_, off_t(offset), SEEK_SET) < 0) return false;
    begin_ = end_ = 0;
    ended_ = false;
    return true;
}
