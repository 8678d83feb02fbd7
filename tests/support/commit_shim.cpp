// Test-only LD_PRELOAD library that stops a process the way a power loss would: right after the
// N-th call that changes the file tree (rename, unlink, symlink, rmdir and their *at forms)
// or the N-th write to a file, SIGKILL ends it with no chance to clean up. Settings:
//   COMMIT_SHIM_KILL_AFTER=N        kill after the N-th tree call (unset or 0: never)
//   COMMIT_SHIM_KILL_AFTER_WRITE=N  kill after the N-th write(2) to a descriptor above 2
//   COMMIT_SHIM_COUNT_FILE=path     at a normal exit, write "<tree calls> <writes>\n" there; the
//                                   file is opened at load, before the installer's chroot
// Built without sanitizers and without the product library, so it preloads in front of any build.

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

unsigned long treeCalls = 0, fileWrites = 0, killAfterTree = 0, killAfterWrite = 0;
int countFd = -1;

unsigned long env_number(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::strtoul(value, nullptr, 10) : 0;
}

// Counts only calls that returned: a failed rename (EXDEV before a copy, ENOENT on a replay) is a
// step of the commit as much as a successful one, and the kill must fall between two steps.
template <typename Result>
Result counted(Result result, unsigned long& counter, unsigned long killAt) {
    const int saved = errno;
    if (++counter == killAt) ::kill(::getpid(), SIGKILL);
    errno = saved;
    return result;
}

__attribute__((constructor)) void shim_load() {
    killAfterTree = env_number("COMMIT_SHIM_KILL_AFTER");
    killAfterWrite = env_number("COMMIT_SHIM_KILL_AFTER_WRITE");
    if (const char* path = std::getenv("COMMIT_SHIM_COUNT_FILE"))
        countFd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

__attribute__((destructor)) void shim_unload() {
    if (countFd < 0) return;
    char line[64];
    const int length = std::snprintf(line, sizeof line, "%lu %lu\n", treeCalls, fileWrites);
    // Through the real write, so that the count is not counted.
    (void)::syscall(SYS_write, countFd, line, size_t(length > 0 ? length : 0));
    ::close(countFd);
}

}  // namespace

// NAME with PARAMS, which calls the real NAME with ARGS and counts as a tree call.
#define TREE_CALL(NAME, PARAMS, ...)                                                          \
    int NAME PARAMS {                                                                         \
        static auto real = reinterpret_cast<int(*) PARAMS>(::dlsym(RTLD_NEXT, #NAME));        \
        return counted(real(__VA_ARGS__), treeCalls, killAfterTree);                          \
    }

extern "C" {

TREE_CALL(rename, (const char* a, const char* b), a, b)
TREE_CALL(renameat, (int ad, const char* a, int bd, const char* b), ad, a, bd, b)
TREE_CALL(renameat2, (int ad, const char* a, int bd, const char* b, unsigned f), ad, a, bd, b, f)
TREE_CALL(unlink, (const char* p), p)
TREE_CALL(unlinkat, (int d, const char* p, int f), d, p, f)
TREE_CALL(symlink, (const char* t, const char* p), t, p)
TREE_CALL(symlinkat, (const char* t, int d, const char* p), t, d, p)
TREE_CALL(rmdir, (const char* p), p)
// Writes to standard output and error are console text, not file content.
ssize_t write(int fd, const void* data, size_t size) {
    const ssize_t result = ::syscall(SYS_write, fd, data, size);
    return fd > 2 ? counted(result, fileWrites, killAfterWrite) : result;
}

}  // extern "C"
