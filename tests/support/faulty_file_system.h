#pragma once
// A file system for tests: every path lives below a scratch directory, so "/flash/x" needs no
// root and never reaches the host's "/"; the n-th call of one kind fails with a chosen errno;
// and a power cut after the n-th change forgets what was not synced, at file granularity: names
// made, renamed or removed in a directory never synced come back as they were, and a file's
// data not synced since it was written is lost (its last synced content, or empty).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>

#include "core/file_system.h"
#include "support/temp_dir.h"

// The member CALL that calls the real CALL on ARGS (paths below the root) unless this call fails
// (a CHANGE counts towards a power cut), which returns FAILED.
#define FAULTY(TYPE, CALL, CHANGE, FAILED, PARAMS, ...)                                       \
    TYPE CALL PARAMS override { return hit(#CALL, CHANGE) ? FAILED : fs().CALL(__VA_ARGS__); }
// The same for a change that may take a name from a file, which keeps its inode (keep_inode).
#define FAULTY_NAMED(TYPE, CALL, FAILED, NAME, PARAMS, ...)                                   \
    TYPE CALL PARAMS override {                                                               \
        return hit(#CALL, true) ? FAILED : (keep_inode(NAME), fs().CALL(__VA_ARGS__));        \
    }

class FaultyFileSystem final : public FileSystem {
public:
    explicit FaultyFileSystem(std::string root) : root_(std::move(root)), graves_(root_ + ".graves") {
        std::filesystem::create_directories(graves_);
    }
    ~FaultyFileSystem() override { std::filesystem::remove_all(graves_, ec_); }

    // The `nth` call (from 1) of `call` ("rename", "make_temp", ...) fails with `error`.
    void fail(const std::string& call, int nth, int error) { faults_[call] = {nth, error}; }

    // Everything below the root as it is now counts as synced.
    void sync_everything() { names_.clear(), capture(root_); }
    // Changes (calls that write, name, remove or sync) since sync_everything.
    int changes() const { return changes_; }
    // After the `nth` change from now the power is gone: every later call fails (EIO).
    void cut_after(int nth) { cutAt_ = changes_ + nth; }
    // Power comes back: the tree below the root is what the syncs made durable, no more.
    void power_cut() {
        for (const auto& entry : std::filesystem::directory_iterator(root_, ec_))
            std::filesystem::remove_all(entry.path(), ec_);
        for (const auto& [rel, node] : names_) {
            const std::string real = root_ + rel;
            struct stat parent;
            if (::stat(real.substr(0, real.rfind('/')).c_str(), &parent) != 0) continue;
            if (node.kind == 'd') {
                ::mkdir(real.c_str(), 0755);
            } else if (node.kind == 'l') {
                (void)::symlink(node.text.c_str(), real.c_str());
            } else {
                const auto data = data_.find(node.inode);
                write_file(real, data == data_.end() ? std::string() : data->second.first);
                ::chmod(real.c_str(), data == data_.end() ? 0600 : data->second.second);
            }
        }
        cutAt_ = -1;
    }

    using Path = const std::string&;
    FAULTY(bool, stat, false, false, (Path p, FileStatus& s), at(p), s)
    FAULTY(bool, lstat, false, false, (Path p, FileStatus& s), at(p), s)
    FAULTY(bool, free_space, false, false, (Path p, FreeSpace& s), at(p), s)
    FAULTY(bool, list_dir, false, false, (Path d, std::vector<std::string>& n), at(d), n)
    FAULTY(OutputFile, open_output, true, OutputFile(-1), (Path p), at(p))
    FAULTY(bool, remove_dir, true, false, (Path p), at(p))
    FAULTY(bool, make_dir, true, false, (Path p), at(p))
    FAULTY(bool, symlink, true, false, (Path t, Path p), t, at(p))
    FAULTY(int, open_read, false, -1, (Path p), at(p))
    FAULTY(long, read, false, -1, (int fd, char* d, std::size_t n), fd, d, n)
    FAULTY(long, write, true, -1, (int fd, const char* d, std::size_t n), fd, d, n)
    FAULTY(int, try_lock, false, -1, (Path p), at(p))
    OutputFile make_temp(std::string& name, std::uint32_t mode) override {
        if (hit("make_temp", true)) return OutputFile(-1);
        std::string real = at(name);
        OutputFile out = fs().make_temp(real, mode);
        if (out) name = real.substr(root_.size());
        return out;
    }
    FAULTY_NAMED(bool, rename, false, b, (Path a, Path b), at(a), at(b))
    FAULTY_NAMED(bool, remove_file, false, p, (Path p), at(p))
    FAULTY_NAMED(int, create, -1, p, (Path p, std::uint32_t m), at(p), m)
    bool sync(int fd) override {
        if (hit("sync", true)) return false;  // durable in the model; the disk need not wait
        struct stat st;
        if (::fstat(fd, &st) == 0) record_data(st, "/proc/self/fd/" + std::to_string(fd));
        return true;
    }
    bool close(int fd) override { return fs().close(fd) && !hit("close"); }
    bool sync_file_system(const std::string&) override {
        return !hit("sync_file_system", true) && (sync_everything(), true);
    }
    bool sync_dir(const std::string& d) override {
        if (hit("sync_dir", true)) return false;
        std::string rel = d;
        while (rel.size() > 1 && rel.back() == '/') rel.pop_back();
        const std::string prefix = rel == "/" ? rel : rel + "/";
        for (auto it = names_.lower_bound(prefix); it != names_.end() &&
                                                  it->first.starts_with(prefix);)
            it = it->first.find('/', prefix.size()) == std::string::npos ? names_.erase(it)
                                                                          : std::next(it);
        for (const auto& entry : std::filesystem::directory_iterator(at(rel), ec_))
            record_name(prefix + entry.path().filename().string(), false);
        return true;
    }

private:
    struct Node {
        char kind;  // 'f' file, 'd' directory, 'l' link (its target in `text`)
        ino_t inode = 0;
        std::string text;
    };

    static FileSystem& fs() { return real_file_system(); }
    std::string at(const std::string& path) const {
        return !path.empty() && path.front() == '/' ? root_ + path : path;
    }
    bool hit(const std::string& call, bool change = false) {
        if (cutAt_ >= 0 && changes_ >= cutAt_) {
            errno = EIO;
            return true;
        }
        changes_ += change;
        auto it = faults_.find(call);
        if (it == faults_.end() || --it->second.first != 0) return false;
        errno = it->second.second;
        return true;
    }
    void record_data(const struct stat& st, const std::string& real) {
        data_[st.st_ino] = {read_file(real), st.st_mode & 07777};
    }
    // The name (below the root) as it is now; with `data` its file's content too.
    void record_name(const std::string& rel, bool data) {
        const std::string real = root_ + rel;
        struct stat st;
        if (::lstat(real.c_str(), &st) != 0) return;
        Node node{S_ISDIR(st.st_mode) ? 'd' : S_ISLNK(st.st_mode) ? 'l' : 'f', st.st_ino, {}};
        if (node.kind == 'l') node.text = std::filesystem::read_symlink(real).string();
        if (node.kind == 'f' && data) record_data(st, real);
        names_[rel] = node;
    }
    void capture(const std::string& dir) {
        for (const auto& entry : std::filesystem::directory_iterator(dir, ec_)) {
            const std::string real = entry.path().string();
            record_name(real.substr(root_.size()), true);
            if (entry.is_directory() && !entry.is_symlink()) capture(real);
        }
    }
    // A file about to lose its name keeps its inode (a link in the graveyard), so that no new
    // file takes the number that a durable name still refers to.
    void keep_inode(const std::string& path) {
        (void)::link(at(path).c_str(), (graves_ + "/" + std::to_string(++graveCount_)).c_str());
    }

    std::string root_, graves_;
    std::error_code ec_;
    int graveCount_ = 0;
    std::map<std::string, std::pair<int, int>> faults_;  // call -> calls left until it fails, errno
    int changes_ = 0, cutAt_ = -1;
    std::map<std::string, Node> names_;                               // durable names
    std::map<ino_t, std::pair<std::string, mode_t>> data_;            // durable data by inode
};
