// Temporary files for new content and the flash space check. A temporary file goes on its
// destination's own file system when that has room, so that the commit is a rename there.

#include "txn/space.h"

#include "txn/transaction.h"

#include <cerrno>
#include <iterator>
#include <map>

namespace {

constexpr std::int64_t kMinFreeBlocks = 16;

bool is_top(const std::string& dir) { return dir == "/" || dir == "."; }

// Parent directory of a destination -> its nearest existing ancestor, as the first walk up found
// it. While a run plans, nothing on flash changes but the temporary files it makes itself, so a
// walk stays true until make_dirs (the commit) makes a directory, and each create_file costs one
// statfs instead of a walk of statfs calls that fail on every directory still to come.
std::map<std::string, std::string>& ancestor_cache() {
    static std::map<std::string, std::string> cache;
    return cache;
}

// A new temporary file `name` would stop a fresh walk of any directory at or below it (statfs
// succeeds on files too), so the walks that passed over that name are taken again.
void forget_walks_through(const std::string& name) {
    auto& cache = ancestor_cache();
    for (auto it = cache.lower_bound(name);
         it != cache.end() && it->first.compare(0, name.size(), name) == 0;) {
        const bool below = it->first.size() == name.size() || it->first[name.size()] == '/';
        it = below ? cache.erase(it) : std::next(it);
    }
}

// The size plus a tenth fits in the free space of the file system statfs described.
bool has_room(const FreeSpace& space, std::uint64_t size) {
    std::uint64_t need = size + size / 10;
    std::uint64_t room = space.blockSize * space.freeBlocks;
    return need < room;
}

// The directory for a temporary file of `size` bytes bound for `path`: the nearest existing
// ancestor of `path` when its file system has the size plus a tenth free, else `ramDir`.
std::string temp_dir_for(FileSystem& files, const std::string& path, std::uint32_t size,
                         const std::string& ramDir, const std::string& tmpDir) {
    if (size == 0) {
        FileStatus st;
        return files.stat(ramDir, st) ? ramDir : tmpDir;
    }
    const std::string parent = parent_dir(path);
    auto& cache = ancestor_cache();
    FreeSpace fs;
    // Free space changes as temporary files are written: the room is asked afresh every time.
    if (auto it = cache.find(parent); it != cache.end()) {
        if (files.free_space(it->second, fs))
            return has_room(fs, size) ? it->second : ramDir;
        // The ancestor went away (a test's scratch directory): walk again from the start.
        cache.erase(it);
    }
    std::string dir = parent;
    for (;;) {
        if (files.free_space(dir, fs)) {
            cache[parent] = dir;
            return has_room(fs, size) ? dir : ramDir;
        }
        if (is_top(dir)) return ramDir;
        dir = parent_dir(dir);
    }
}

}  // namespace

void forget_temp_dir_walks() { ancestor_cache().clear(); }

bool has_room_in(FileSystem& files, const std::string& dir, std::uint64_t size) {
    FreeSpace fs;
    return files.free_space(dir, fs) && has_room(fs, size);
}

OutputFile create_file_in(Transaction& txn, const std::string& path, std::uint32_t sizeHint,
                          std::uint32_t mode, const std::string& ramDir,
                          const std::string& tmpDir) {
    FileSystem& files = txn.file_system();
    std::string dir = temp_dir_for(files, path, sizeHint, ramDir, tmpDir);
    // Built as a string of any length: a fixed buffer would cut deep names so that two files
    // could share one template.
    std::string name = dir + "/tmpXXXXXX";
    if (!txn.mark_staging()) return OutputFile(-1);
    OutputFile out = files.make_temp(name, mode);
    if (!out) return out;
    forget_walks_through(name);
    txn.add_op(path, FileOpKind::MoveTemp, name);
    return out;
}

OutputFile create_file(Transaction& txn, const std::string& path, std::uint32_t sizeHint,
                       std::uint32_t mode) {
    return create_file_in(txn, path, sizeHint, mode, "/ram", "/tmp");
}

FsSpace::FsSpace(FileSystem& fs, const std::string& path) : files(&fs), fs_path(path) {
    FreeSpace space;
    if (!fs.free_space(path, space) || space.blockSize == 0) return;
    block_size = std::int64_t(space.blockSize);
    free_blocks = std::int64_t(space.freeBlocks);
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
    FileStatus st;
    if (holds(path) && files->stat(path, st)) free_blocks += blocks_of(std::int64_t(st.size));
}

void FsSpace::place(const std::string& source, const std::string& path) {
    if (!holds(path)) return;
    FileStatus src;
    if (!files->stat(source, src)) {
        release(path);
        return;
    }
    const std::string parent = parent_dir(path);
    auto known = ancestorDevices.find(parent);
    if (known == ancestorDevices.end()) {
        std::string dir = parent;
        FileStatus dest;
        bool found = false;
        for (;;) {
            if (files->stat(dir, dest)) {
                found = true;
                break;
            }
            if (is_top(dir)) break;
            dir = parent_dir(dir);
        }
        known = ancestorDevices
                    .emplace(parent, std::make_pair(found, found ? dest.device : 0))
                    .first;
    }
    const bool found = known->second.first;
    // A rename within one file system takes no new blocks.
    if (found && known->second.second == src.device) return;
    free_blocks -= blocks_of(std::int64_t(src.size));
    release(path);
}

bool FsSpace::too_full() const {
    return free_blocks < free_at_start && free_blocks <= kMinFreeBlocks;
}

bool has_flash_space_of(const Transaction& txn, const std::string& bootPath,
                        const std::string& flashPath) {
    FsSpace boot(txn.file_system(), bootPath);
    FsSpace flash(txn.file_system(), flashPath);
    for (const auto& [path, entry] : txn.entries()) {
        if (entry.op == FileOpKind::Remove) {
            boot.release(path);
            flash.release(path);
        } else if (entry.op == FileOpKind::Move || entry.op == FileOpKind::MoveTemp) {
            boot.place(entry.source, path);
            flash.place(entry.source, path);
        }
    }
    return !boot.too_full() && !flash.too_full();
}

bool has_flash_space(const Transaction& txn) {
    return has_flash_space_of(txn, "/flash/boot", "/flash");
}
