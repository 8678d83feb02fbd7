// Private mount namespace and tmpfs mounts for tests (see mount_ns.h).

#include "support/mount_ns.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

struct NamespaceState {
    bool tried = false;
    bool ok = false;
    std::string why;
};

NamespaceState& state() {
    static NamespaceState s;
    return s;
}

}  // namespace

bool enter_private_mount_namespace(std::string& why) {
    NamespaceState& s = state();
    if (!s.tried) {
        s.tried = true;
        if (::unshare(CLONE_NEWNS) != 0) {
            s.why = std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
        } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            // Without this, mounts would propagate back into the host's namespace.
            s.why = std::string("making / private: ") + std::strerror(errno);
        } else {
            s.ok = true;
        }
    }
    why = s.why;
    return s.ok;
}

TmpfsMount::TmpfsMount(const std::string& dir, std::uint64_t blocks) : dir_(dir) {
    if (!enter_private_mount_namespace(error_)) return;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    std::string options = "size=" + std::to_string(blocks * tmpfs_block_size()) + ",mode=0755";
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        error_ = "mount tmpfs on " + dir + ": " + std::strerror(errno);
        return;
    }
    mounted_ = true;
}

TmpfsMount::~TmpfsMount() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
}

std::uint64_t tmpfs_block_size() { return std::uint64_t(::sysconf(_SC_PAGESIZE)); }

std::int64_t free_blocks(const std::string& path) {
    struct statfs fs;
    if (::statfs(path.c_str(), &fs) != 0) return -1;
    return std::int64_t(fs.f_bfree);
}
