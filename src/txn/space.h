#pragma once
// The free-space estimate of one file system, as the flash space check keeps it. Counts are
// 64-bit: a large file system must not wrap into a false "no room" or "room".

#include "core/file_system.h"

#include <cstdint>
#include <map>
#include <string>

struct FsSpace {
    // Built from statfs of `fs_path`; a failing statfs gives block size 1 and no free blocks,
    // so any space taken on it fails the check.
    // `fs` must outlive the estimate.
    FsSpace(FileSystem& fs, const std::string& path);

    FileSystem* files;
    std::string fs_path;          // also the prefix that decides which paths belong here
    std::int64_t block_size = 1;
    std::int64_t free_blocks = 0;  // f_bfree, then adjusted by the estimate
    std::int64_t free_at_start = 0;
    // The nearest existing ancestor of a destination's parent directory, as a walk up found it.
    struct Ancestor {
        bool found = false;
        std::uint64_t device = 0;
        std::string dir;
    };
    // Parent directory of a destination -> its ancestor. Nothing changes during one check, so
    // each parent is walked up once.
    std::map<std::string, Ancestor> ancestors;

    // `path` lies on this file system: fs_path followed in it by "/" or by its end
    // ("/flash/boot" holds "/flash/boot/x" but not "/flash/bootimage").
    bool holds(const std::string& path) const;
    // A byte size rounded up to whole blocks.
    std::int64_t blocks_of(std::int64_t bytes) const;
    // Counts the existing `path` as freed when it belongs here.
    void release(const std::string& path);
    // Counts a move of `source` onto `path`: free within one file system, else the source's
    // blocks are taken and the replaced destination's are given back.
    void place(const std::string& source, const std::string& path);
    // The estimate lost space and ends with 16 free blocks or fewer.
    bool too_full() const;
};

// Forgets where create_file's walks from a destination's directory up to its nearest existing
// ancestor ended. make_dirs calls it whenever it makes a directory, which can end a walk sooner.
void forget_temp_dir_walks();
// The file system holding `dir` has `size` bytes and a tenth more free, the margin create_file
// keeps for a temporary file.
bool has_room_in(FileSystem& fs, const std::string& dir, std::uint64_t size);
