// Carrying a journal out (commit) or dropping it (cancel). The commit never stops half-way: a
// failing step is reported on standard error and the next one is taken, because a router with
// half its files moved is worse off than one with a few failed files.

#include "txn/transaction.h"

#include "cli/installer.h"
#include "txn/space.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

constexpr std::size_t kCopyBlockSize = 16384;

// Deletes a file, or a directory with its plain entries. Sub-directories and dot-names are left
// alone, so such a directory stays (its rmdir fails quietly).
void remove_path(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno != EISDIR) return;
    DIR* dir = ::opendir(path.c_str());
    if (dir) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '\0' || entry->d_name[0] == '.') continue;
            ::unlink((path + "/" + entry->d_name).c_str());
        }
        ::closedir(dir);
    }
    ::rmdir(path.c_str());
}

void place_link(const FileOp& entry) {
    make_dirs(parent_dir(entry.path));
    ::unlink(entry.path.c_str());
    if (::symlink(entry.source.c_str(), entry.path.c_str()) != 0) std::perror("symlink");
}

// `madeDir` is the directory made for the previous move: entries come in path order, so files
// of one directory follow each other and its mkdir need not be repeated for each of them.
void place_file(const FileOp& entry, bool spinner, std::string& madeDir) {
    std::string dir = parent_dir(entry.path);
    if (dir != madeDir) {
        make_dirs(dir);
        madeDir = dir;
    }
    if (::rename(entry.source.c_str(), entry.path.c_str()) == 0) return;
    if (errno == EXDEV) {
        // Across file systems the source stays: a "--commit" run replayed over the same
        // manifest then finds it again.
        (void)copy_file(entry.source, entry.path, spinner);
        return;
    }
    std::perror("rename");
}

// write(2) that retries when a signal interrupts it.
ssize_t write_block(int fd, const char* data, std::size_t size) {
    for (;;) {
        ssize_t n = ::write(fd, data, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

ssize_t read_block(int fd, char* data, std::size_t size) {
    for (;;) {
        ssize_t n = ::read(fd, data, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

}  // namespace

void Transaction::commit(bool spinner) {
    // Deletions and links first, so that a file moved into place later is never deleted by an
    // entry that sorts after it (a Remove of its directory, say).
    for (const auto& [path, entry] : ops_) {
        if (entry.op == Remove) remove_path(path);
        else if (entry.op == Link) place_link(entry);
    }
    std::string madeDir;
    for (const auto& [path, entry] : ops_) {
        if (entry.op == Move || entry.op == MoveTemp) place_file(entry, spinner, madeDir);
    }
}

void Transaction::cancel() {
    for (const auto& [path, entry] : ops_) {
        if (entry.op == MoveTemp) ::unlink(entry.source.c_str());
    }
    ops_.clear();
}

std::string parent_dir(const std::string& path) {
    std::string rest = path;
    while (!rest.empty() && rest.back() == '/') rest.pop_back();
    std::size_t slash = rest.rfind('/');
    if (slash == std::string::npos) return ".";
    rest.resize(slash);
    while (!rest.empty() && rest.back() == '/') rest.pop_back();
    return rest.empty() ? "/" : rest;
}

void make_dirs(const std::string& dir) {
    // A new directory can end create_file's walk to the nearest existing ancestor sooner.
    if (::mkdir(dir.c_str(), 0777) == 0) {
        forget_temp_dir_walks();
        return;
    }
    if (errno == EEXIST) return;
    // The recursion ends: every parent is shorter, and "." and "/" always exist.
    make_dirs(parent_dir(dir));
    if (::mkdir(dir.c_str(), 0777) == 0) forget_temp_dir_walks();
}

bool copy_file(const std::string& source, const std::string& dest, bool spinner) {
    if (!spinner) return copy_file_with(source, dest, {});
    return copy_file_with(source, dest, [] { Installer::instance().spin_step(); });
}

bool copy_file_with(const std::string& source, const std::string& dest,
                    const std::function<void()>& afterBlock) {
    struct stat st;
    if (::stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    int out = ::open(dest.c_str(), O_WRONLY | O_CREAT | O_TRUNC, st.st_mode & 07777);
    int in = ::open(source.c_str(), O_RDONLY);
    if (out < 0 || in < 0) {
        if (out >= 0) ::close(out);
        if (in >= 0) ::close(in);
        return false;
    }
    // The mode given to open counts only when dest is new, and then less the umask: a file
    // replaced across file systems would keep the old file's bits where a rename gives the new.
    (void)::fchmod(out, st.st_mode & 07777);
    static char buffer[kCopyBlockSize];
    bool ok = true;
    for (;;) {
        ssize_t got = read_block(in, buffer, sizeof buffer);
        if (got < 0) {
            ok = false;
            break;
        }
        if (got == 0) break;
        if (write_block(out, buffer, std::size_t(got)) != got) {
            ok = false;
            break;
        }
        if (afterBlock) afterBlock();
    }
    ::close(in);
    ::close(out);
    return ok;
}
