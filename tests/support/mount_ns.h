#pragma once
// Real, small file systems for tests: tmpfs mounts in a private mount namespace, so tests see
// what a router sees (cross-device renames, a full flash, exact free block counts) without
// touching the host's mounts. Declare the TempDir first so the mounts go before it is removed.

#include <sys/mount.h>
#include <unistd.h>

#include <cstdint>
#include <string>

// Block size of tmpfs mounts: the page size.
inline std::uint64_t tmpfs_block_size() { return std::uint64_t(::sysconf(_SC_PAGESIZE)); }

// Moves the process into a private mount namespace (once; later calls return the first
// result), for an ordinary user inside a new user namespace where it is root, so that mounts
// and chroot work without rights on the host. False with the reason in `why` when refused.
bool enter_private_mount_namespace(std::string& why);

// A tmpfs of `blocks` blocks mounted on `dir` (made if missing) while it lives.
class TmpfsMount {
public:
    TmpfsMount(const std::string& dir, std::uint64_t blocks);
    ~TmpfsMount() {
        if (ok()) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

private:
    std::string dir_, error_;
};

// Skips the current test with the reason when mounts cannot be made.
#define SKIP_WITHOUT_MOUNTS()                                                                \
    if (std::string why_; !enter_private_mount_namespace(why_))                              \
    GTEST_SKIP() << "needs a private mount namespace and tmpfs mounts: " << why_
