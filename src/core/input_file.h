#pragma once
// Byte sources and sinks for the package reading stack, and a file read through its own
// descriptor. Plain classes rather than standard streams: the first stream or stream buffer a
// process makes sets up the locale tables, half a MiB of a router's memory.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Where bytes are read from.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `size` bytes into `out`: the number read, short only at the end of data or on
    // a read error (both end the data).
    virtual std::size_t read(char* out, std::size_t size) = 0;
    // Moves to absolute offset `offset`; false (the position unchanged) when the source cannot
    // seek, like a pipe.
    virtual bool seek(std::uint64_t offset) {
        (void)offset;
        return false;
    }
};

// Where a copy of the bytes read goes. A sink keeps its own failure; writes return nothing.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(const char* data, std::size_t size) = 0;
};

// A file read front to back through a buffer of `bufferSize` bytes; reads of a whole buffer or
// more bypass it. A failed open reads as empty data.
class InputFile final : public ByteSource {
public:
    static constexpr std::size_t kDefaultBuffer = 16384;
    enum class Seeking { Allowed, Refused };

    // Takes `fd` (negative: a failed open). With Seeking::Refused every seek fails, so that a
    // package reader passes over chunks by reading them through.
    explicit InputFile(int fd, std::size_t bufferSize = kDefaultBuffer,
                       Seeking seeking = Seeking::Allowed);
    // Opens `path` for reading; is_open() false (errno telling why) when it cannot.
    static InputFile open(const std::string& path, std::size_t bufferSize = kDefaultBuffer,
                          Seeking seeking = Seeking::Allowed);
    // Standard input, borrowed: it stays open after the file goes.
    static InputFile standard_input(std::size_t bufferSize = kDefaultBuffer);
    InputFile(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    InputFile& operator=(InputFile&&) = delete;
    ~InputFile() override;

    bool is_open() const { return fd_ >= 0; }
    std::size_t read(char* out, std::size_t size) override;
    bool seek(std::uint64_t offset) override;
    // No byte is left to read. Reads ahead into the buffer to find out, as a peek would.
    bool at_end();

private:
    // Reads into the empty buffer; false at the end of data.
    bool fill();

    int fd_;
    bool owned_ = true;
    bool seekable_;
    bool ended_ = false;  // a read found the end or failed: later reads give nothing
    std::size_t bufferSize_;
    std::unique_ptr<char[]> buffer_;  // made at the first small read
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};
