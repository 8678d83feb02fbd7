#pragma once
// A file system for tests: every path lives below a scratch directory, so "/flash/x" needs no
// root and never reaches the host's "/", and the n-th call of one kind fails with a chosen errno.

#include <cerrno>
#include <map>
#include <string>

#include "core/file_system.h"

class FaultyFileSystem final : public FileSystem {
public:
    explicit FaultyFileSystem(std::string root) : root_(std::move(root)) {}

    // The `nth` call (from 1) of `call` ("rename", "make_temp", ...) fails with `error`.
    void fail(const std::string& call, int nth, int error) { faults_[call] = {nth, error}; }

    bool stat(const std::string& p, FileStatus& s) override {
        return !hit("stat") && fs().stat(at(p), s);
    }
    bool lstat(const std::string& p, FileStatus& s) override {
        return !hit("lstat") && fs().lstat(at(p), s);
    }
    bool free_space(const std::string& p, FreeSpace& s) override {
        return !hit("free_space") && fs().free_space(at(p), s);
    }
    bool list_dir(const std::string& d, std::vector<std::string>& n) override {
        return !hit("list_dir") && fs().list_dir(at(d), n);
    }
    OutputFile make_temp(std::string& name, std::uint32_t mode) override {
        if (hit("make_temp")) return OutputFile(-1);
        std::string real = at(name);
        OutputFile out = fs().make_temp(real, mode);
        if (out) name = real.substr(root_.size());
        return out;
    }
    OutputFile open_output(const std::string& p) override {
        return hit("open_output") ? OutputFile(-1) : fs().open_output(at(p));
    }
    bool rename(const std::string& a, const std::string& b) override {
        return !hit("rename") && fs().rename(at(a), at(b));
    }
    bool remove_file(const std::string& p) override {
        return !hit("remove_file") && fs().remove_file(at(p));
    }
    bool remove_dir(const std::string& p) override {
        return !hit("remove_dir") && fs().remove_dir(at(p));
    }
    bool make_dir(const std::string& p) override {
        return !hit("make_dir") && fs().make_dir(at(p));
    }
    bool symlink(const std::string& t, const std::string& p) override {
        return !hit("symlink") && fs().symlink(t, at(p));
    }
    int open_read(const std::string& p) override {
        return hit("open_read") ? -1 : fs().open_read(at(p));
    }
    int create(const std::string& p, std::uint32_t m) override {
        return hit("create") ? -1 : fs().create(at(p), m);
    }
    long read(int fd, char* d, std::size_t n) override {
        return hit("read") ? -1 : fs().read(fd, d, n);
    }
    long write(int fd, const char* d, std::size_t n) override {
        return hit("write") ? -1 : fs().write(fd, d, n);
    }
    bool sync(int fd) override { return !hit("sync") && fs().sync(fd); }
    bool close(int fd) override { return fs().close(fd) && !hit("close"); }

private:
    static FileSystem& fs() { return real_file_system(); }
    std::string at(const std::string& path) const {
        return !path.empty() && path.front() == '/' ? root_ + path : path;
    }
    bool hit(const std::string& call) {
        auto it = faults_.find(call);
        if (it == faults_.end() || --it->second.first != 0) return false;
        errno = it->second.second;
        return true;
    }

    std::string root_;
    std::map<std::string, std::pair<int, int>> faults_;  // call -> calls left until it fails, errno
};
