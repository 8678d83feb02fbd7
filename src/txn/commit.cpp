// Carrying a journal out (commit) or dropping it (cancel). The commit never stops half-way: a
// failing step is reported on standard error and the next one is taken, because a router with
// half its files moved is worse off than one with a few failed files.

#include "txn/transaction.h"

#include "txn/space.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t kCopyBlockSize = 16384;

// "<call> <path>: <reason>" on standard error: the person must learn which file is wrong.
void report(const char* call, const std::string& path, int reason) {
    std::fprintf(stderr, "%s %s: %s\n", call, path.c_str(), std::strerror(reason));
}

bool lexists(FileSystem& fs, const std::string& path) {
    FileStatus st;
    return fs.lstat(path, st);
}

// Deletes a file, or a directory with its plain entries. A path already gone is done. A
// sub-directory or a dot-name was never a package's own file, so such a directory stays,
// quietly, and that is not a failure.
bool remove_path(FileSystem& fs, const std::string& path) {
    if (fs.remove_file(path) || errno == ENOENT) return true;
    if (errno != EISDIR) {
        report("unlink", path, errno);
        return false;
    }
    std::vector<std::string> names;
    if (!fs.list_dir(path, names)) {
        report("opendir", path, errno);
        return false;
    }
    bool ok = true;
    for (const std::string& name : names) {
        if (name.empty() || name[0] == '.') continue;
        const std::string inside = path + "/" + name;
        if (!fs.remove_file(inside) && errno != ENOENT) {
            report("unlink", inside, errno);
            ok = false;
        }
    }
    if (!fs.remove_dir(path) && errno != ENOTEMPTY && errno != EEXIST && errno != ENOENT) {
        report("rmdir", path, errno);
        ok = false;
    }
    return ok;
}

bool place_link(FileSystem& fs, const FileOp& entry) {
    make_dirs(fs, parent_dir(entry.path));
    fs.remove_file(entry.path);
    if (fs.symlink(entry.source, entry.path)) return true;
    report("symlink", entry.path, errno);
    return false;
}

// `madeDir` is the directory made for the previous move: entries come in path order, so files
// of one directory follow each other and its mkdir need not be repeated for each of them.
bool place_file(FileSystem& fs, const FileOp& entry, const std::function<void()>& afterCopyBlock,
                std::string& madeDir) {
    std::string dir = parent_dir(entry.path);
    if (dir != madeDir) {
        make_dirs(fs, dir);
        madeDir = dir;
    }
    if (fs.rename(entry.source, entry.path)) return true;
    const int reason = errno;
    if (reason == EXDEV) {
        // Across file systems the source stays: a "--commit" run replayed over the same
        // manifest then finds it again.
        if (copy_file(fs, entry.source, entry.path, afterCopyBlock)) return true;
        report("copy", entry.path, errno);
        return false;
    }
    // A "--commit" repeated after a cut finds the moves done before it: source gone, the
    // destination in place.
    if (reason == ENOENT && !lexists(fs, entry.source) && lexists(fs, entry.path)) return true;
    report("rename", entry.path, reason);
    return false;
}

// Copies every byte of `in` to `out`; false with errno set when a read or write fails (a short
// write counts as a full file system).
bool copy_blocks(FileSystem& fs, int in, int out, const std::function<void()>& afterBlock) {
    static char buffer[kCopyBlockSize];
    for (;;) {
        const long got = fs.read(in, buffer, sizeof buffer);
        if (got < 0) return false;
        if (got == 0) return true;
        const long put = fs.write(out, buffer, std::size_t(got));
        if (put != got) {
            if (put >= 0) errno = ENOSPC;
            return false;
        }
        if (afterBlock) afterBlock();
    }
}

}  // namespace

bool Transaction::commit(const std::function<void()>& afterCopyBlock) {
    FileSystem& fs = *fs_;
    bool ok = true;
    FileOp entry;
    // Deletions and links first, so that a file moved into place later is never deleted by an
    // entry that sorts after it (a Remove of its directory, say).
    for (const Slot& slot : slots_) {
        const auto kind = FileOpKind(slot.op);
        if (kind != FileOpKind::Remove && kind != FileOpKind::Link) continue;
        read(slot, entry);
        if (entry.op == FileOpKind::Remove) ok = remove_path(fs, entry.path) && ok;
        else ok = place_link(fs, entry) && ok;
    }
    std::string madeDir;
    for (const Slot& slot : slots_) {
        const auto kind = FileOpKind(slot.op);
        if (kind != FileOpKind::Move && kind != FileOpKind::MoveTemp) continue;
        read(slot, entry);
        ok = place_file(fs, entry, afterCopyBlock, madeDir) && ok;
    }
    return ok;
}

void Transaction::cancel() {
    for (const Slot& slot : slots_) forget_temp(slot);
    clear();
}

void Transaction::cancel_staged() {
    FileOp entry;
    for (const Slot& slot : slots_) {
        read(slot, entry);
        if (is_staged_temp(*fs_, entry)) fs_->remove_file(entry.source);
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

void make_dirs(FileSystem& fs, const std::string& dir) {
    // A new directory can end create_file's walk to the nearest existing ancestor sooner.
    if (fs.make_dir(dir)) {
        forget_temp_dir_walks();
        return;
    }
    // The recursion ends at the top even when the file system fails every call (an I/O error):
    // every parent is shorter, and "." and "/" are their own parents.
    if (errno == EEXIST || dir == "/" || dir == ".") return;
    make_dirs(fs, parent_dir(dir));
    if (fs.make_dir(dir)) forget_temp_dir_walks();
}

bool copy_file(FileSystem& fs, const std::string& source, const std::string& dest,
               const std::function<void()>& afterBlock) {
    FileStatus st;
    if (!fs.stat(source, st)) return false;
    if (!st.isRegular) {
        errno = EINVAL;
        return false;
    }
    const int in = fs.open_read(source);
    if (in < 0) return false;

    const std::string dir = parent_dir(dest);
    const std::string temp = dir + "/." + dest.substr(dest.rfind('/') + 1) + ".tmpcopy";
    // A copy cut short earlier (killed, power loss) left this file: its blocks count as free
    // again before the room is judged, and a repeated commit leaves no trace of the cut.
    fs.remove_file(temp);
    // The flash space check counts a copy as replacing its destination, not as standing beside
    // it; where both do not fit, the old file goes first, as it would under a rename.
    const bool beside = has_room_in(fs, dir, st.size);
    const std::string& target = beside ? temp : dest;
    if (!beside && !fs.remove_file(dest) && errno != ENOENT) {
        const int reason = errno;
        fs.close(in);
        errno = reason;
        return false;
    }
    const int out = fs.create(target, st.mode & 07777);
    if (out < 0) {
        const int reason = errno;
        fs.close(in);
        errno = reason;
        return false;
    }
    bool ok = copy_blocks(fs, in, out, afterBlock);
    // Durable before the rename makes it the destination: a power loss must not leave an
    // empty file where the old one was.
    if (ok && beside) ok = fs.sync(out);
    int reason = errno;
    if (!fs.close(out) && ok) {
        ok = false;
        reason = errno;
    }
    fs.close(in);
    if (ok && beside && !fs.rename(temp, dest)) {
        ok = false;
        reason = errno;
    }
    if (!ok) {
        // A file cut short is worse than none: a program or a database file that reads as
        // whole but is not.
        fs.remove_file(target);
        errno = reason;
    }
    return ok;
}
