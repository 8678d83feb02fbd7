// Temporary files for new content and the flash space check. A temporary file goes on its
// destination's own file system when that has room, so that the commit is a rename there.

#include "txn/space.h"

#include "txn/transaction.h"

#include <cerrno>
#include <iterator>
#include <map>
#include <vector>

namespace {

constexpr std::int64_t kMinFreeBlocks = 16;

bool is_top(const std::string& dir) { return dir == "/" || dir == "."; }

// Where a walk from a destination's parent directory up to its nearest existing ancestor ended,
// and the device of that ancestor. While a run plans, nothing on flash changes but the temporary
// files it makes itself, so a walk stays true until make_dirs (the commit) makes a directory.
struct Walk {
    std::string dir;
    bool deviceKnown = false;
    std::uint64_t device = 0;
};

// Parent directory of a destination -> its walk: each create_file into a known parent costs no
// walk of statfs calls that fail on every directory still to come.
std::map<std::string, Walk>& ancestor_cache() {
    static std::map<std::string, Walk> cache;
    return cache;
}

// What the run knows of the room on one file system (by device): the free bytes at the last
// statfs, and the bytes of every temporary file placed there since the caches were last cleared.
struct Room {
    std::uint64_t freeBytes = 0;
    std::uint64_t promised = 0;
};

std::map<std::uint64_t, Room>& rooms() {
    static std::map<std::uint64_t, Room> known;
    return known;
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

std::uint64_t need_of(std::uint64_t size) { return size + size / 10; }

// The size plus a tenth fits in the free space of the file system statfs described.
bool has_room(const FreeSpace& space, std::uint64_t size) {
    std::uint64_t room = space.blockSize * space.freeBlocks;
    return need_of(size) < room;
}

// Room for `size` bytes without a statfs: even if every file promised since the last one is
// still to be written, and written at twice its hint (database files can outgrow theirs), the
// free bytes then seen would hold it.
bool surely_has_room(const Room& room, std::uint64_t size) {
    const std::uint64_t need = need_of(size) + room.promised;
    return need < room.freeBytes / 2;
}

// Answers from a fresh statfs of the walk's directory and remembers the free bytes; false when
// statfs fails (the directory went away).
bool ask_room(FileSystem& files, const Walk& walk, std::uint64_t size, bool& fits) {
    FreeSpace fs;
    if (!files.free_space(walk.dir, fs)) return false;
    fits = has_room(fs, size);
    if (walk.deviceKnown) {
        Room& room = rooms()[walk.device];
        room.freeBytes = fs.blockSize * fs.freeBlocks;
        if (fits) room.promised += size;
    }
    return true;
}

// The walk from `parent` up to its nearest existing ancestor, the one remembered for it or a new
// one that stops at any directory passed by an earlier walk; null when nothing up to the top
// exists. Every directory passed is remembered with the walk's end.
const Walk* walk_from(FileSystem& files, const std::string& parent) {
    auto& cache = ancestor_cache();
    if (auto it = cache.find(parent); it != cache.end()) return &it->second;
    std::vector<std::string> passed;
    Walk walk;
    for (std::string dir = parent;; dir = parent_dir(dir)) {
        if (auto it = cache.find(dir); it != cache.end()) {
            walk = it->second;
            break;
        }
        FreeSpace fs;
        if (files.free_space(dir, fs)) {
            FileStatus st;
            walk.deviceKnown = files.stat(dir, st);
            walk.device = st.device;
            walk.dir = dir;
            // Fresh numbers for the device: it may be another file system than the one that
            // last had its number (a scratch mount made again).
            if (walk.deviceKnown) rooms()[walk.device].freeBytes = fs.blockSize * fs.freeBlocks;
            break;
        }
        if (is_top(dir)) return nullptr;
        passed.push_back(dir);
    }
    for (const std::string& dir : passed) cache[dir] = walk;
    return &(cache[parent] = std::move(walk));
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
    for (int attempt = 0; attempt < 2; ++attempt) {
        const Walk* walk = walk_from(files, parent);
        if (!walk) return ramDir;
        if (walk->deviceKnown) {
            Room& room = rooms()[walk->device];
            if (surely_has_room(room, size)) {
                room.promised += size;
                return walk->dir;
            }
        }
        // Free space changes as temporary files are written: near the limit it is asked afresh.
        bool fits = false;
        if (ask_room(files, *walk, size, fits)) return fits ? walk->dir : ramDir;
        // The ancestor went away (a test's scratch directory): walk again from the start.
        ancestor_cache().clear();
    }
    return ramDir;
}

}  // namespace

void forget_temp_dir_walks() {
    ancestor_cache().clear();
    rooms().clear();
}

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
    if (!out && errno == ENOENT) {
        // A remembered directory went away (a test's scratch directory): walk afresh.
        forget_temp_dir_walks();
        name = temp_dir_for(files, path, sizeHint, ramDir, tmpDir) + "/tmpXXXXXX";
        out = files.make_temp(name, mode);
    }
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
    const std::string parent = parent_dir(path);
    auto known = ancestors.find(parent);
    if (known == ancestors.end()) {
        // Up to the first existing directory, or to one an earlier walk passed.
        std::vector<std::string> passed;
        Ancestor ancestor;
        for (std::string dir = parent;; dir = parent_dir(dir)) {
            if (auto it = ancestors.find(dir); it != ancestors.end()) {
                ancestor = it->second;
                break;
            }
            FileStatus dest;
            if (files->stat(dir, dest)) {
                ancestor = {true, dest.device, dir};
                break;
            }
            passed.push_back(dir);
            if (is_top(dir)) {
                ancestor.dir = dir;
                break;
            }
        }
        for (const std::string& dir : passed) ancestors[dir] = ancestor;
        known = ancestors.insert_or_assign(parent, std::move(ancestor)).first;
    }
    const Ancestor& ancestor = known->second;
    // A rename within one file system takes no new blocks. A source in the very directory the
    // walk ended at is there without asking: that is where create_file puts a temporary file
    // when the destination's file system has room, so most moves cost no stat at all.
    if (ancestor.found && parent_dir(source) == ancestor.dir) return;
    FileStatus src;
    if (!files->stat(source, src)) {
        release(path);
        return;
    }
    if (ancestor.found && ancestor.device == src.device) return;
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
