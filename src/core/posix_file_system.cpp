// The real file system: each member is the system call of the same name, nothing more, so that
// what the journal does to files reads the same through the seam as it would without it. Only
// make_temp is mkstemp made by hand, to create the file with its final mode at once.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "core/file_system.h"

namespace {

void fill(const struct stat& st, FileStatus& status) {
    status.isDirectory = S_ISDIR(st.st_mode);
    status.isRegular = S_ISREG(st.st_mode);
    status.size = st.st_size > 0 ? std::uint64_t(st.st_size) : 0;
    status.mode = std::uint32_t(st.st_mode);
    status.device = std::uint64_t(st.st_dev);
    status.links = std::uint64_t(st.st_nlink);
    status.changedNs = std::int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
}

// The process's umask, read once: the installer never changes it.
std::uint32_t process_umask() {
    static const std::uint32_t mask = [] {
        const mode_t old = ::umask(0);
        ::umask(old);
        return std::uint32_t(old);
    }();
    return mask;
}

constexpr int kTempAttempts = 1000;

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
    // As mkstemp, but the file is created with its final permission bits: the fchmod that
    // mkstemp's 0600 would need for every unpacked file is only made when the umask took bits
    // away or special bits are asked for.
    OutputFile make_temp(std::string& name, std::uint32_t mode) override {
        constexpr std::size_t kUnique = 6;
        if (name.size() < kUnique || name.compare(name.size() - kUnique, kUnique, "XXXXXX") != 0) {
            errno = EINVAL;
            return OutputFile(-1);
        }
        const std::uint32_t bits = mode == 0 ? 0600 : mode & 07777;
        for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
            fill_unique(name, kUnique);
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, bits);
            if (fd >= 0) {
                if ((bits & (07000 | process_umask())) != 0) ::fchmod(fd, bits);
                return OutputFile(fd);
            }
            if (errno != EEXIST) return OutputFile(-1);
        }
        return OutputFile(-1);
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
        return with_descriptor(path, O_RDONLY, [](int fd) { return ::syncfs(fd) == 0; });
    }
    bool sync_dir(const std::string& dir) override {
        return with_descriptor(dir, O_RDONLY | O_DIRECTORY, [](int fd) { return ::fsync(fd) == 0; });
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

private:
    // Opens `path`, runs `call` on the descriptor and closes it, keeping the call's errno.
    template <typename Call>
    static bool with_descriptor(const std::string& path, int flags, Call call) {
        const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
        if (fd < 0) return false;
        const bool ok = call(fd);
        const int reason = errno;
        ::close(fd);
        errno = reason;
        return ok;
    }

    // Replaces the last `count` characters of `name` with letters and digits from a sequence
    // seeded at random once per process, as mkstemp names its files.
    void fill_unique(std::string& name, std::size_t count) {
        static constexpr char kChars[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        if (!seeded_) {
            if (::getrandom(&state_, sizeof state_, 0) != ssize_t(sizeof state_))
                state_ = std::uint64_t(::getpid()) << 32 ^ std::uint64_t(::time(nullptr));
            seeded_ = true;
        }
        state_ = state_ * 6364136223846793005u + 1442695040888963407u;
        std::uint64_t value = state_ >> 16;
        for (std::size_t i = name.size() - count; i < name.size(); ++i) {
            name[i] = kChars[value % 62];
            value /= 62;
        }
    }

    std::uint64_t state_ = 0;
    bool seeded_ = false;
};

}  // namespace

FileSystem& real_file_system() {
    static PosixFileSystem fs;
    return fs;
}
