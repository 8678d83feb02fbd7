// The real file system: each member is the system call of the same name, nothing more, so that
// what the journal does to files reads the same through the seam as it would without it.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "core/file_system.h"

namespace {

void fill(const struct stat& st, FileStatus& status) {
    status.isDirectory = S_ISDIR(st.st_mode);
    status.isRegular = S_ISREG(st.st_mode);
    status.size = st.st_size > 0 ? std::uint64_t(st.st_size) : 0;
    status.mode = std::uint32_t(st.st_mode);
    status.device = std::uint64_t(st.st_dev);
    status.links = std::uint64_t(st.st_nlink);
}

class PosixFileSystem final : public FileSystem {
public:
    bool stat(const std::string& path, FileStatus& status) override {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) return false;
        fill(st, status);
        return true;
    }
    bool lstat(const std::string& path, FileStatus& status) override {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) return false;
        fill(st, status);
        return true;
    }
    bool free_space(const std::string& path, FreeSpace& space) override {
        struct statfs fs;
        if (::statfs(path.c_str(), &fs) != 0) return false;
        space.blockSize = fs.f_bsize > 0 ? std::uint64_t(fs.f_bsize) : 0;
        space.freeBlocks = std::uint64_t(fs.f_bfree);
        return true;
    }
    bool list_dir(const std::string& dir, std::vector<std::string>& names) override {
        DIR* handle = ::opendir(dir.c_str());
        if (!handle) return false;
        while (const dirent* entry = ::readdir(handle)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(handle);
        return true;
    }
    OutputFile make_temp(std::string& name, std::uint32_t mode) override {
        const int fd = ::mkstemp(name.data());
        // Through the descriptor mkstemp gave: the mode change and the writing without a
        // second path lookup.
        if (fd >= 0 && mode != 0) ::fchmod(fd, mode & 07777);
        return OutputFile(fd);
    }
    OutputFile open_output(const std::string& path) override {
        return OutputFile::open(path, OutputFile::Mode::Truncate);
    }
    bool rename(const std::string& from, const std::string& to) override {
        return ::rename(from.c_str(), to.c_str()) == 0;
    }
    bool remove_file(const std::string& path) override { return ::unlink(path.c_str()) == 0; }
    bool remove_dir(const std::string& path) override { return ::rmdir(path.c_str()) == 0; }
    bool make_dir(const std::string& path) override { return ::mkdir(path.c_str(), 0777) == 0; }
    bool symlink(const std::string& text, const std::string& path) override {
        return ::symlink(text.c_str(), path.c_str()) == 0;
    }
    int open_read(const std::string& path) override {
        return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    int create(const std::string& path, std::uint32_t mode) override {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode & 07777);
        // The mode given to open is less the umask; a rename would keep the source's bits.
        if (fd >= 0) (void)::fchmod(fd, mode & 07777);
        return fd;
    }
    long read(int fd, char* data, std::size_t size) override {
        for (;;) {
            const ssize_t n = ::read(fd, data, size);
            if (n >= 0 || errno != EINTR) return long(n);
        }
    }
    long write(int fd, const char* data, std::size_t size) override {
        for (;;) {
            const ssize_t n = ::write(fd, data, size);
            if (n >= 0 || errno != EINTR) return long(n);
        }
    }
    bool sync(int fd) override { return ::fsync(fd) == 0; }
    bool close(int fd) override { return ::close(fd) == 0; }
    bool sync_file_system(const std::string& path) override {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        const bool ok = ::syncfs(fd) == 0;
        const int reason = errno;
        ::close(fd);
        errno = reason;
        return ok;
    }
    bool sync_dir(const std::string& dir) override {
        const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return false;
        const bool ok = ::fsync(fd) == 0;
        const int reason = errno;
        ::close(fd);
        errno = reason;
        return ok;
    }
    int try_lock(const std::string& path) override {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return -1;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
        const int reason = errno;
        ::close(fd);
        errno = reason;
        return -1;
    }
};

}  // namespace

FileSystem& real_file_system() {
    static PosixFileSystem fs;
    return fs;
}
