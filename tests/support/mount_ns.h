#pragma once
// Real, small file systems for tests: tmpfs mounts in a private mount namespace, so tests see
// what a router sees (cross-device renames, a full flash, exact free block counts) without
// touching the host's mounts. Children started afterwards share them. Declare the TempDir
// first so the mounts are gone before it is removed.

#include <cstdint>
#include <string>

// Block size of tmpfs mounts: the page size (4096 on most test machines).
std::uint64_t tmpfs_block_size();

// Moves the process into a private mount namespace (once; later calls return the first
// result), for an ordinary user inside a new user namespace where it is root, so that mounts
// and chroot work without rights on the host. False with the reason in `why` when the kernel
// refuses (user namespaces disabled, a seccomp filter).
bool enter_private_mount_namespace(std::string& why);

class TmpfsMount {
public:
    // Mounts on `dir` (made if missing) a tmpfs of `blocks` blocks, all free while empty.
    TmpfsMount(const std::string& dir, std::uint64_t blocks);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool ok() const { return mounted_; }
    const std::string& error() const { return error_; }
    const std::string& path() const { return dir_; }

private:
    std::string dir_;
    std::string error_;
    bool mounted_ = false;
};

// Free blocks (f_bfree) of the file system holding `path`; -1 when statfs fails.
std::int64_t free_blocks(const std::string& path);

// Skips the current test with a clear message when mounts cannot be made.
#define SKIP_WITHOUT_MOUNTS()                                                          \
    do {                                                                               \
        std::string skipWhy_;                                                          \
        if (!enter_private_mount_namespace(skipWhy_))                                  \
            GTEST_SKIP() << "needs a private mount namespace and tmpfs mounts: "       \
                         << skipWhy_;                                                  \
    } while (0)
