#pragma once
// The file-system seam: every change the journal and the database make to files goes through
// one FileSystem, passed in by whoever owns the run. The real one is plain system calls; tests
// substitute one that fails a chosen call or keeps paths below a scratch directory.

#include "core/output_file.h"

#include <cstdint>
#include <string>
#include <vector>

// What stat tells about a path.
struct FileStatus {
    bool isDirectory = false;
    bool isRegular = false;
    std::uint64_t size = 0;
    std::uint32_t mode = 0;  // type and permission bits
    std::uint64_t device = 0;
    std::uint64_t links = 0;
    std::int64_t changedNs = 0;  // last change of the inode (ctime), in nanoseconds
};

// What statfs tells about the file system holding a path.
struct FreeSpace {
    std::uint64_t blockSize = 0;
    std::uint64_t freeBlocks = 0;  // including the blocks reserved for the superuser
};

// Every call is one system call's worth of work. A failing call returns false (or -1) and
// leaves errno telling why, as the system call would.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Queries. `stat` follows symbolic links, `lstat` does not.
    virtual bool stat(const std::string& path, FileStatus& status) = 0;
    virtual bool lstat(const std::string& path, FileStatus& status) = 0;
    virtual bool free_space(const std::string& path, FreeSpace& space) = 0;
    // The names in a directory, "." and ".." left out.
    virtual bool list_dir(const std::string& dir, std::vector<std::string>& names) = 0;

    // Creates a new empty file from `name`, a template ending in "XXXXXX" that receives the
    // unique name; its permission bits are `mode` (0600 when 0). The file comes back open for
    // writing, or failed (nothing made, errno telling why).
    virtual OutputFile make_temp(std::string& name, std::uint32_t mode) = 0;
    // An existing or new file, truncated and open for writing; failed when it cannot be opened.
    virtual OutputFile open_output(const std::string& path) = 0;
    virtual bool rename(const std::string& from, const std::string& to) = 0;
    virtual bool remove_file(const std::string& path) = 0;
    virtual bool remove_dir(const std::string& path) = 0;
    // One directory with mode 0777 less the umask; its parent must exist.
    virtual bool make_dir(const std::string& path) = 0;
    virtual bool symlink(const std::string& text, const std::string& path) = 0;

    // Descriptor-level access for copying: open for reading, or create (truncating) for
    // writing with exactly the permission bits `mode`. -1 on failure.
    virtual int open_read(const std::string& path) = 0;
    virtual int create(const std::string& path, std::uint32_t mode) = 0;
    // Reads and writes retry when a signal interrupts them; -1 on failure.
    virtual long read(int fd, char* data, std::size_t size) = 0;
    virtual long write(int fd, const char* data, std::size_t size) = 0;
    virtual bool sync(int fd) = 0;
    virtual bool close(int fd) = 0;

    // Durability. What a power cut may lose: data not yet synced, and new, renamed or removed
    // names whose directory was not synced. `sync_file_system` makes everything on the file
    // system holding `path` durable (syncfs); `sync_dir` makes the names in `dir` durable.
    virtual bool sync_file_system(const std::string& path) = 0;
    virtual bool sync_dir(const std::string& dir) = 0;

    // An exclusive advisory lock (flock) on `path`, created when missing: the descriptor that
    // holds it, or -1 (errno EWOULDBLOCK while another process holds it). The lock lasts until
    // the descriptor is closed or the process ends.
    virtual int try_lock(const std::string& path) = 0;
};

// The process's own file system through plain system calls; the only one the installer uses.
FileSystem& real_file_system();
