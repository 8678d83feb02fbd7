#pragma once
// The file that keeps stream mode's copy of standard input: an output buffer over a file
// descriptor that remembers whether every byte reached the file, since the package reader that
// feeds it does not look at the result of its writes.

#include "core/input_file.h"

#include <cstddef>
#include <string>
#include <vector>

class StreamCopy final : public ByteSink {
public:
    StreamCopy();
    ~StreamCopy() override;
    StreamCopy(const StreamCopy&) = delete;
    StreamCopy& operator=(const StreamCopy&) = delete;

    // Creates or truncates `path` (mode 0644); false with errno set when it cannot.
    bool open(const std::string& path);
    // Writes what is buffered and closes the file; true when every byte was written and the
    // close succeeded. Later writes are refused.
    bool close();
    // Closes the file without writing what is still buffered: for a copy that will be deleted.
    void discard();
    // Every byte so far reached the file (or its buffer).
    bool ok() const { return !failed_; }
    // The system error number of the first failure, 0 when none.
    int error_number() const { return errno_; }
    void write(const char* data, std::size_t size) override;

private:
    bool write_all(const char* data, std::size_t size);
    bool flush_buffer();

    int fd_ = -1;
    bool failed_ = false;
    int errno_ = 0;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};
