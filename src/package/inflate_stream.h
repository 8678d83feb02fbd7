#pragma once
// Decompression of a zlib stream read from another stream buffer, in 4096-byte steps of input
// and output. A damaged or truncated stream reads as end of data (a short read, fail bit set).

#include <zlib.h>

#include <cstdint>
#include <istream>
#include <memory>
#include <streambuf>

class InflateBuf : public std::streambuf {
public:
    static constexpr std::size_t kStep = 4096;

    // Borrows `source`, which must outlive the buffer.
    explicit InflateBuf(std::streambuf* source);
    ~InflateBuf() override;
    InflateBuf(const InflateBuf&) = delete;
    InflateBuf& operator=(const InflateBuf&) = delete;

protected:
    int_type underflow() override;
    // Forward only: from the beginning (not before the current position) or from the current
    // position; never from the end. Skipping decompresses and discards.
    std::streampos seekoff(std::streamoff off, std::ios_base::seekdir dir,
                           std::ios_base::openmode mode) override;
    std::streampos seekpos(std::streampos pos, std::ios_base::openmode mode) override;

private:
    char output_[kStep];
    char input_[kStep];
    z_stream zs_{};
    std::streambuf* source_;
    std::uint32_t produced_ = 0;
    bool live_ = false;  // the zlib state is initialised and must be released
    bool done_ = false;  // the zlib stream ended or was found damaged
};

class InflateStream : public std::istream {
public:
    // Decompresses what `source` delivers from its current position; `source` must outlive this.
    explicit InflateStream(std::istream& source);
    ~InflateStream() override;
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

private:
    std::unique_ptr<InflateBuf> buf_;
};
