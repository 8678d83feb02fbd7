#pragma once
// A byte source over fixed bytes that counts every byte it hands out; it can refuse to seek,
// like a pipe.

#include "core/input_file.h"

#include <algorithm>
#include <cstring>
#include <string>

class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::string bytes, bool seekable = true)
        : bytes_(std::move(bytes)), seekable_(seekable) {}

    std::size_t delivered = 0;  // bytes handed out by reads
    std::size_t position() const { return pos_; }
    std::size_t left() const { return pos_ < bytes_.size() ? bytes_.size() - pos_ : 0; }

    std::size_t read(char* out, std::size_t n) override {
        const std::size_t k = std::min(n, left());
        if (k > 0) std::memcpy(out, bytes_.data() + pos_, k);
        pos_ += k;
        delivered += k;
        return k;
    }
    bool seek(std::uint64_t offset) override {
        if (!seekable_) return false;
        pos_ = std::size_t(offset);
        return true;
    }

private:
    std::string bytes_;
    std::size_t pos_ = 0;
    bool seekable_;
};

// A byte sink that keeps what it was given.
struct StringSink : ByteSink {
    void write(const char* data, std::size_t size) override { text.append(data, size); }
    std::string text;
};
