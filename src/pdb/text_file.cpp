// Extraction from the database's text files, byte for byte as the stream library does it in
// the "C" locale: white space is " \t\n\v\f\r"; a number is decimal; a failed extraction fails
// every later one.

#include "pdb/text_file.h"

#include <limits>

namespace {

constexpr std::size_t kTextBuffer = 4096;

bool is_space(int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

TextFile::TextFile(const std::string& path)
    : file_(InputFile::open(path, kTextBuffer)), failed_(!file_.is_open()) {}

int TextFile::peek() {
    if (!hasNext_) {
        hasNext_ = file_.read(&next_, 1) == 1;
        if (!hasNext_) {
            ended_ = true;
            return -1;
        }
    }
    return static_cast<unsigned char>(next_);
}

bool TextFile::start() {
    if (failed_ || ended_) {
        failed_ = true;
        return false;
    }
    int c;
    while ((c = peek()) >= 0 && is_space(c)) hasNext_ = false;
    if (c < 0) failed_ = true;
    return !failed_;
}

bool TextFile::word(std::string& out) {
    if (!start()) return false;
    out.clear();
    for (int c; (c = peek()) >= 0 && !is_space(c); hasNext_ = false) out += char(c);
    return true;
}

bool TextFile::line(std::string& out) {
    if (failed_ || ended_) {
        failed_ = true;
        return false;
    }
    out.clear();
    for (int c; (c = peek()) >= 0; out += char(c)) {
        hasNext_ = false;
        if (c == '\n') return true;
    }
    if (out.empty()) failed_ = true;
    return !failed_;
}

bool TextFile::digits(bool& negative, std::uint64_t& magnitude, bool& overflow,
                      std::uint64_t positiveLimit, std::uint64_t negativeLimit) {
    negative = false;
    magnitude = 0;
    overflow = false;
    int c = peek();
    if (c == '-' || c == '+') {
        negative = c == '-';
        hasNext_ = false;
    }
    const std::uint64_t limit = negative ? negativeLimit : positiveLimit;
    bool any = false;
    // Digits past an overflow are still taken, as the stream takes them.
    for (; (c = peek()) >= '0' && c <= '9'; hasNext_ = false) {
        any = true;
        const std::uint64_t digit = std::uint64_t(c - '0');
        if (overflow || magnitude > limit / 10) {
            overflow = true;
            continue;
        }
        magnitude *= 10;
        overflow = magnitude > limit - digit;
        magnitude += digit;
    }
    if (!any || overflow) failed_ = true;
    return any;
}

bool TextFile::number(std::uint32_t& out) {
    if (!start()) return false;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    bool negative, overflow;
    std::uint64_t magnitude;
    if (!digits(negative, magnitude, overflow, kMax, kMax))
        out = 0;
    else if (overflow)
        out = std::uint32_t(kMax);
    else
        out = negative ? std::uint32_t(0 - magnitude) : std::uint32_t(magnitude);
    return !failed_;
}

bool TextFile::number(std::int32_t& out) {
    // As the stream does it: a 64-bit long first, then held to the int's range.
    if (!start()) return false;
    constexpr std::uint64_t kLongMax = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    bool negative, overflow;
    std::uint64_t magnitude;
    std::int64_t value = 0;
    if (!digits(negative, magnitude, overflow, kLongMax, kLongMax + 1))
        value = 0;
    else if (overflow)
        value = negative ? std::numeric_limits<std::int64_t>::min()
                         : std::numeric_limits<std::int64_t>::max();
    else
        value = negative ? std::int64_t(0 - magnitude) : std::int64_t(magnitude);
    if (value < std::numeric_limits<std::int32_t>::min()) {
        failed_ = true;
        out = std::numeric_limits<std::int32_t>::min();
    } else if (value > std::numeric_limits<std::int32_t>::max()) {
        failed_ = true;
        out = std::numeric_limits<std::int32_t>::max();
    } else {
        out = std::int32_t(value);
    }
    return !failed_;
}
