// Temporary files for new content and the flash space check. A temporary file goes on its
// destination's own file system when that has room, so that the commit is a rename there.

#include "txn/space.h"

#include "txn/transaction.h"

#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

constexpr std::int64_t kMinFreeBlocks = 16;

bool is_top(const std::string& dir) { return dir == "/" || dir == "."; }

// The directory for a temporary file of `size` bytes bound for `path`: the nearest existing
// ancestor of `path` when its file system has the size plus a tenth free, else `ramDir`.
std::string temp_dir_for(const std::string& path, std::uint32_t size, const std::string& ramDir,
                         const std::string& tmpDir) {
    if (size == 0) {
        struct stat st;
        return ::stat(ramDir.c_str(), &st) == 0 ? ramDir : tmpDir;
    }
    std::string dir = parent_dir(path);
    for (;;) {
        struct statfs fs;
        if (::statfs(dir.c_str(), &fs) == 0) {
            std::uint64_t need = std::uint64_t(size) + size / 10;
            std::uint64_t room = std::uint64_t(fs.f_bsize) * std::uint64_t(fs.f_bfree);
            return need < room ? dir : ramDir;
        }
        if (is_top(dir)) return ramDir;
        dir = parent_dir(dir);
    }
}

bool stat_path(const std::string& path, struct stat& st) { return ::stat(path.c_str(), &st) == 0; }

}  // namespace

std::ofstream create_file_in(Transaction& txn, const std::string& path, std::uint32_t sizeHint,
                             std::uint32_t mode, const std::string& ramDir,
                             const std::string& tmpDir) {
    std::string dir = temp_dir_for(path, sizeHint, ramDir, tmpDir);
    // Built as a string of any length: a fixed buffer would cut deep names so that two files
    // could share one template.
    std::string name = dir + "/tmpXXXXXX";
    int fd = ::mkstemp(name.data());
    if (fd < 0) {
        int reason = errno;
        std::ofstream failed;
        failed.setstate(std::ios::failbit);
        errno = reason;
        return failed;
    }
    ::close(fd);
    if (mode != 0) ::chmod(name.c_str(), mode & 07777);
    txn.add_op(path, MoveTemp, name);
    return std::ofstream(name, std::ios::binary | std::ios::trunc);
}

std::ofstream create_file(Transaction& txn, const std::string& path, std::uint32_t sizeHint,
                          std::uint32_t mode) {
    return create_file_in(txn, path, sizeHint, mode, "/ram", "/tmp");
}

FsSpace::FsSpace(const std::string& path) : fs_path(path) {
    struct statfs fs;
    if (::statfs(path.c_str(), &fs) != 0 || fs.f_bsize <= 0) return;
    block_size = std::int64_t(fs.f_bsize);
    free_blocks = std::int64_t(fs.f_bfree);
    free_at_start = free_blocks;
}

bool FsSpace::holds(const std::string& path) const {
    if (path.compare(0, fs_path.size(), fs_path) != 0) return false;
    if (path.size() == fs_path.size()) return true;
    return path[fs_path.size()] == '/' || (!fs_path.empty() && fs_path.back() == '/');
}

std::int64_t FsSpace::blocks_of(std::int64_t bytes) const {
    return (bytes + block_size - 1) / block_size;
}

void FsSpace::release(const std::string& path) {
    struct stat st;
    if (holds(path) && stat_path(path, st)) free_blocks += blocks_of(st.st_size);
}

void FsSpace::place(const std::string& source, const std::string& path) {
    if (!holds(path)) return;
    struct stat src;
    if (!stat_path(source, src)) {
        release(path);
        return;
    }
    std::string dir = parent_dir(path);
    struct stat dest;
    bool found = false;
    for (;;) {
        if (stat_path(dir, dest)) {
            found = true;
            break;
        }
        if (is_top(dir)) break;
        dir = parent_dir(dir);
    }
    // A rename within one file system takes no new blocks.
    if (found && dest.st_dev == src.st_dev) return;
    free_blocks -= blocks_of(src.st_size);
    release(path);
}

bool FsSpace::too_full() const {
    return free_blocks < free_at_start && free_blocks <= kMinFreeBlocks;
}

bool has_flash_space_of(const Transaction& txn, const std::string& bootPath,
                        const std::string& flashPath) {
    FsSpace boot(bootPath);
    FsSpace flash(flashPath);
    for (const auto& [path, entry] : txn.entries()) {
        if (entry.op == Remove) {
            boot.release(path);
            flash.release(path);
        } else if (entry.op == Move || entry.op == MoveTemp) {
            boot.place(entry.source, path);
            flash.place(entry.source, path);
        }
    }
    return !boot.too_full() && !flash.too_full();
}

bool has_flash_space(const Transaction& txn) {
    return has_flash_space_of(txn, "/flash/boot", "/flash");
}
