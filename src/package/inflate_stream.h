#pragma once
// Decompression of a zlib stream read from a byte source, in 4096-byte steps of input and
// output. A damaged or truncated stream reads as end of data (a short read).

#include "core/input_file.h"

#include <zlib.h>

#include <cstdint>

class InflateStream final : public ByteSource {
public:
    static constexpr std::size_t kStep = 4096;

    // Decompresses what `source` delivers from its current position; `source` must outlive this.
    explicit InflateStream(ByteSource& source);
    ~InflateStream() override;
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    // Up to `size` decompressed bytes: the number read. After a short read (the end, damage)
    // nothing more is read.
    std::size_t read(char* out, std::size_t size) override;
    // Passes over `size` bytes by decompressing and discarding them; false on a short read.
    bool skip(std::uint64_t size);
    // No read came short so far.
    explicit operator bool() const { return !failed_; }

private:
    // Refills the output step; false at the end of data.
    bool refill();

    char output_[kStep];
    char input_[kStep];
    z_stream zs_{};
    ByteSource& source_;
    std::size_t begin_ = 0;  // the unread bytes of output_
    std::size_t end_ = 0;
    bool live_ = false;    // the zlib state is initialised and must be released
    bool done_ = false;    // the zlib stream ended or was found damaged
    bool failed_ = false;  // a read came short: later reads give nothing
};
