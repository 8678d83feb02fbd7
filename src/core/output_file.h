#pragma once
// A file being written through its own descriptor, with a fixed buffer in front. The first
// failure sticks: later writes do nothing, and close() reports it, so a writer checks once.

#include <charconv>
#include <concepts>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class OutputFile {
public:
    enum class Mode { Truncate, Append };

    // Not open: every write fails with EBADF.
    OutputFile();
    // Takes `fd`; a negative one is a failed open whose errno is kept as the file's error.
    explicit OutputFile(int fd);
    // Opens or creates `path` (mode 0666 less the umask); failed, errno telling why, when it
    // cannot be opened.
    static OutputFile open(const std::string& path, Mode mode);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Writes what is buffered and closes; a failure here is lost, so writers call close().
    ~OutputFile();

    // Appends `size` bytes. After a failure nothing more is written and errno holds its reason.
    void write(const void* data, std::size_t size);
    OutputFile& operator<<(std::string_view text) {
        write(text.data(), text.size());
        return *this;
    }
    OutputFile& operator<<(char c) {
        write(&c, 1);
        return *this;
    }
    // In decimal, as a stream writes it.
    template <std::integral Number>
        requires(!std::same_as<Number, char> && !std::same_as<Number, bool>)
    OutputFile& operator<<(Number n) {
        char text[24];
        const auto end = std::to_chars(text, text + sizeof text, n).ptr;
        write(text, std::size_t(end - text));
        return *this;
    }

    // Writes what is buffered and closes the descriptor. False, errno set to the first
    // failure's reason, when the open, any write or the close failed; true again when called
    // on a file already closed without failure.
    [[nodiscard]] bool close();
    // Open and nothing failed so far.
    explicit operator bool() const { return fd_ >= 0 && error_ == 0; }
    // The errno of the first failure; 0 while none.
    int error() const { return error_; }

private:
    static constexpr std::size_t kBufferSize = 16384;
    bool flush();
    bool write_out(const char* data, std::size_t size);
    void fail(int err);

    int fd_ = -1;
    int error_ = 0;
    std::unique_ptr<char[]> buffer_;  // made at the first small write
    std::size_t used_ = 0;
};
