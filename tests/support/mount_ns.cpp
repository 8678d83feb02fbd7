// Private mount namespace and tmpfs mounts for tests (see mount_ns.h).

#include "support/mount_ns.h"

#include "support/temp_dir.h"

#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

// An ordinary user becomes root of a new user namespace that maps only its own ids, which is
// what lets it mount tmpfs and chroot there. setgroups must be denied before gid_map is written.
bool enter_namespaces(std::string& why) {
    const bool root = ::geteuid() == 0;
    const unsigned uid = ::geteuid(), gid = ::getegid();
    if (::unshare(root ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        why = std::string("unshare: ") + std::strerror(errno);
        return false;
    }
    if (!root && !(write_file("/proc/self/setgroups", "deny") &&
                   write_file("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
                   write_file("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))) {
        why = "writing the user namespace's id maps failed";
        return false;
    }
    // Without this, mounts would propagate back into the host's namespace.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        why = std::string("making / private: ") + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

bool enter_private_mount_namespace(std::string& why) {
    static std::string reason;
    static const bool ok = enter_namespaces(reason);
    why = reason;
    return ok;
}

TmpfsMount::TmpfsMount(const std::string& dir, std::uint64_t blocks) : dir_(dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const std::string options =
        "size=" + std::to_string(blocks * tmpfs_block_size()) + ",mode=0755";
    if (enter_private_mount_namespace(error_) &&
        ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0)
        error_ = "mount tmpfs on " + dir + ": " + std::strerror(errno);
}
