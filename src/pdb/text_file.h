#pragma once
// The small text files of the package database, read as the stream library's extraction reads
// them: words and numbers after white space, lines up to a line feed. The database files of
// earlier versions (and of the original system) were read this way, and an entry that a
// stricter reading refused would be uninstalled. No stream is made: the first one would cost
// the run the locale tables.

#include "core/input_file.h"

#include <cstdint>
#include <string>

class TextFile {
public:
    // A file that cannot be opened reads nothing: every extraction fails.
    explicit TextFile(const std::string& path);

    bool is_open() const { return file_.is_open(); }
    // No extraction failed so far (a stream's operator bool).
    explicit operator bool() const { return !failed_; }

    // After white space, the bytes up to the next white space or the end; false (nothing
    // taken) when only white space is left.
    bool word(std::string& out);
    // After white space, a sign and decimal digits, ending at the first byte that cannot
    // continue them ("5;x" is 5). As a stream stores them: 0 when no digit follows, the type's
    // limit on overflow (both failures), and a negative number wrapped into an unsigned type.
    bool number(std::uint32_t& out);
    bool number(std::int32_t& out);
    // The bytes up to the next line feed (taken, not stored) or the end; false when none is
    // left.
    bool line(std::string& out);

private:
    // The next byte, or -1 at the end (which then sets the end state).
    int peek();
    // Passes over white space; false (and failed) when the end comes first or the file failed
    // or ended already.
    bool start();
    // Reads a sign and digits into a magnitude of at most the limit for its sign; false when
    // no digit came.
    bool digits(bool& negative, std::uint64_t& magnitude, bool& overflow,
                std::uint64_t positiveLimit, std::uint64_t negativeLimit);

    InputFile file_;
    char next_ = 0;
    bool hasNext_ = false;
    bool ended_ = false;
    bool failed_ = false;
};
