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
#include <cstring>

namespace {

constexpr std::size_t kCopyBlockSize = 16384;

// "<call> <path>: <reason>" on standard error: the person must learn which file is wrong.
void report(const char* call, const std::string& path, int reason) {
    std::fprintf(stderr, "%s %s: %s\n", call, path.c_str(), std::strerror(reason));
}

bool lexists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Deletes a file, or a directory with its plain entries. A path already gone is done. A
// sub-directory or a dot-name was never a package's own file, so such a directory stays,
// quietly, and that is not a failure.
bool remove_path(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    if (errno != EISDIR) {
        report("unlink", path, errno);
        return false;
    }
    DIR* dir = ::opendir(path.c_str());
    if (!dir) {
        report("opendir", path, errno);
        return false;
    }
    bool ok = true;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '\0' || entry->d_name[0] == '.') continue;
        const std::string inside = path + "/" + entry->d_name;
        if (::unlink(inside.c_str()) != 0 && errno != ENOENT) {
            report("unlink", inside, errno);
            ok = false;
        }
    }
    ::closedir(dir);
    if (::rmdir(path.c_str()) != 0 && errno != ENOTEMPTY && errno != EEXIST && errno != ENOENT) {
        report("rmdir", path, errno);
        ok = false;
    }
    return ok;
}

bool place_link(const FileOp& entry) {
    make_dirs(parent_dir(entry.path));
    ::unlink(entry.path.c_str());
    if (::symlink(entry.source.c_str(), entry.path.c_str()) == 0) return true;
    report("symlink", entry.path, errno);
    return false;
}

// `madeDir` is the directory made for the previous move: entries come in path order, so files
// of one directory follow each other and its mkdir need not be repeated for each of them.
bool place_file(const FileOp& entry, bool spinner, std::string& madeDir) {
    std::string dir = parent_dir(entry.path);
    if (dir != madeDir) {
        make_dirs(dir);
        madeDir = dir;
    }
    if (::rename(entry.source.c_str(), entry.path.c_str()) == 0) return true;
    const int reason = errno;
    if (reason == EXDEV) {
        // Across file systems the source stays: a "--commit" run replayed over the same
        // manifest then finds it again.
        if (copy_file(entry.source, entry.path, spinner)) return true;
        report("copy", entry.path, errno);
        return false;
    }
    // A "--commit" repeated after a cut finds the moves done before it: source gone, the
    // destination in place.
    if (reason == ENOENT && !lexists(entry.source) && lexists(entry.path)) return true;
    report("rename", entry.path, reason);
    return false;
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

// Copies every byte of `in` to `out`; false with errno set when a read or write fails (a short
// write counts as a full file system).
bool copy_blocks(int in, int out, const std::function<void()>& afterBlock) {
    static char buffer[kCopyBlockSize];
    for (;;) {
        ssize_t got = read_block(in, buffer, sizeof buffer);
        if (got < 0) return false;
        if (got == 0) return true;
        ssize_t put = write_block(out, buffer, std::size_t(got));
        if (put != got) {
            if (put >= 0) errno = ENOSPC;
            return false;
        }
        if (afterBlock) afterBlock();
    }
}

}  // namespace

bool Transaction::commit(bool spinner) {
    bool ok = true;
    FileOp entry;
    // Deletions and links first, so that a file moved into place later is never deleted by an
    // entry that sorts after it (a Remove of its directory, say).
    for (std::uint32_t id : order_) {
        if (slots_[id].op != Remove && slots_[id].op != Link) continue;
        read(slots_[id], entry);
        if (entry.op == Remove) ok = remove_path(entry.path) && ok;
        else ok = place_link(entry) && ok;
    }
    std::string madeDir;
    for (std::uint32_t id : order_) {
        if (slots_[id].op != Move && slots_[id].op != MoveTemp) continue;
        read(slots_[id], entry);
        ok = place_file(entry, spinner, madeDir) && ok;
    }
    return ok;
}

void Transaction::cancel() {
    for (std::uint32_t id : order_) forget_temp(slots_[id]);
    clear();
}

void Transaction::cancel_staged() {
    FileOp entry;
    for (std::uint32_t id : order_) {
        read(slots_[id], entry);
        if (is_staged_temp(entry)) ::unlink(entry.source.c_str());
    }
    clear();
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
    if (::stat(source.c_str(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return false;
    }
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;

    const std::string dir = parent_dir(dest);
    const std::string temp = dir + "/." + dest.substr(dest.rfind('/') + 1) + ".tmpcopy";
    // A copy cut short earlier (killed, power loss) left this file: its blocks count as free
    // again before the room is judged, and a repeated commit leaves no trace of the cut.
    ::unlink(temp.c_str());
    // The flash space check counts a copy as replacing its destination, not as standing beside
    // it; where both do not fit, the old file goes first, as it would under a rename.
    const bool beside = has_room_in(dir, std::uint64_t(st.st_size));
    const std::string& target = beside ? temp : dest;
    if (!beside && ::unlink(dest.c_str()) != 0 && errno != ENOENT) {
        const int reason = errno;
        ::close(in);
        errno = reason;
        return false;
    }
    int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777);
    if (out < 0) {
        const int reason = errno;
        ::close(in);
        errno = reason;
        return false;
    }
    // The mode given to open is less the umask; a rename would give the source's bits.
    (void)::fchmod(out, st.st_mode & 07777);
    bool ok = copy_blocks(in, out, afterBlock);
    // Durable before the rename makes it the destination: a power loss must not leave an
    // empty file where the old one was.
    if (ok && beside) ok = ::fsync(out) == 0;
    int reason = errno;
    if (::close(out) != 0 && ok) {
        ok = false;
        reason = errno;
    }
    ::close(in);
    if (ok && beside && ::rename(temp.c_str(), dest.c_str()) != 0) {
        ok = false;
        reason = errno;
    }
    if (!ok) {
        // A file cut short is worse than none: a program or a database file that reads as
        // whole but is not.
        ::unlink(target.c_str());
        errno = reason;
    }
    return ok;
}
