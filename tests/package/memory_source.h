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

    std::size_t delivered = 0;  // bytes handed out by reads (a re-read after putback counts again)
    std::size_t position() const { return pos_; }

protected:
    std::streamsize xsgetn(char* out, std::streamsize n) override {
        const std::size_t k =
            pos_ < bytes_.size() ? std::min<std::size_t>(std::size_t(n), bytes_.size() - pos_) : 0;
        std::memcpy(out, bytes_.data() + pos_, k);
        pos_ += k;
        delivered += k;
        return std::streamsize(k);
    }
    int_type underflow() override {
        return pos_ < bytes_.size() ? traits_type::to_int_type(bytes_[pos_]) : traits_type::eof();
    }
    int_type uflow() override {
        if (pos_ >= bytes_.size()) return traits_type::eof();
        ++delivered;
        return traits_type::to_int_type(bytes_[pos_++]);
    }
    int_type pbackfail(int_type c) override {
        if (pos_ == 0) return traits_type::eof();
        --pos_;
        return traits_type::eq_int_type(c, traits_type::eof())
                   ? traits_type::to_int_type(bytes_[pos_])
                   : c;
    }
    std::streamsize showmanyc() override {
        return pos_ < bytes_.size() ? std::streamsize(bytes_.size() - pos_) : -1;
    }
    std::streampos seekoff(std::streamoff off, std::ios_base::seekdir dir,
                           std::ios_base::openmode mode) override {
        const std::streamoff base = dir == std::ios_base::beg   ? 0
                                    : dir == std::ios_base::cur ? std::streamoff(pos_)
                                                                : std::streamoff(bytes_.size());
        return seekpos(std::streampos(base + off), mode);
    }
    std::streampos seekpos(std::streampos p, std::ios_base::openmode) override {
        const std::streamoff target = p;
        if (!seekable_ || target < 0) return std::streampos(std::streamoff(-1));
        pos_ = std::size_t(target);
        return p;
    }

private:
    std::string bytes_;
    std::size_t pos_ = 0;
    bool seekable_;
};
