#pragma once
// A scratch directory below $TMPDIR (or /tmp), removed with everything in it when destroyed.

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

// Test file helpers: whole-file read and write (parents created); false/empty on failure.
bool write_file(const std::string& path, const std::string& content);
std::string read_file(const std::string& path);
bool path_exists(const std::string& path);
