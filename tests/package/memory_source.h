#pragma once
// A stream buffer over fixed bytes with no get area, so every byte it hands out is counted;
// it can refuse to seek, like a pipe.

#include <algorithm>
#include <cstring>
#include <streambuf>
#include <string>

class MemorySource : public std::streambuf {
public:
    MemorySource(std::string bytes, bool seekable)
        : bytes_(std::move(bytes)), seekable_(seekable) {}
    std::size_t delivered = 0;  // bytes handed out (a re-read after putback counts again)
    std::size_t position() const { return pos_; }

protected:
    std::size_t left() const { return pos_ < bytes_.size() ? bytes_.size() - pos_ : 0; }
    std::streamsize xsgetn(char* out, std::streamsize n) override {
        const std::size_t k = std::min(std::size_t(n), left());
        std::memcpy(out, bytes_.data() + pos_, k);
        return pos_ += k, delivered += k, std::streamsize(k);
    }
    int_type underflow() override {
        return left() ? traits_type::to_int_type(bytes_[pos_]) : eof();
    }
    int_type uflow() override {
        return left() ? (++delivered, traits_type::to_int_type(bytes_[pos_++])) : eof();
    }
    int_type pbackfail(int_type c) override {
        if (pos_ == 0) return eof();
        --pos_;
        return traits_type::eq_int_type(c, eof()) ? traits_type::to_int_type(bytes_[pos_]) : c;
    }
    std::streamsize showmanyc() override { return left() ? std::streamsize(left()) : -1; }
    std::streampos seekoff(std::streamoff off, std::ios_base::seekdir dir,
                           std::ios_base::openmode mode) override {
        const std::size_t base = dir == std::ios_base::beg ? 0
                                 : dir == std::ios_base::cur ? pos_ : bytes_.size();
        return seekpos(std::streampos(std::streamoff(base) + off), mode);
    }
    std::streampos seekpos(std::streampos p, std::ios_base::openmode) override {
        if (!seekable_ || std::streamoff(p) < 0) return std::streampos(std::streamoff(-1));
        return pos_ = std::size_t(std::streamoff(p)), p;
    }

private:
    static int_type eof() { return traits_type::eof(); }
    std::string bytes_;
    std::size_t pos_ = 0;
    bool seekable_;
};
