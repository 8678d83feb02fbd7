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

template <typename Fn>
Fn next_symbol(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
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

template <typename Result>
Result tree_call(Result result) {
    return counted(result, treeCalls, killAfterTree);
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
    static auto realWrite = next_symbol<ssize_t (*)(int, const void*, size_t)>("write");
    if (length > 0) (void)realWrite(countFd, line, size_t(length));
    ::close(countFd);
    countFd = -1;
}

}  // namespace

extern "C" {

int rename(const char* from, const char* to) {
    static auto real = next_symbol<int (*)(const char*, const char*)>("rename");
    return tree_call(real(from, to));
}
int renameat(int fromDir, const char* from, int toDir, const char* to) {
    static auto real = next_symbol<int (*)(int, const char*, int, const char*)>("renameat");
    return tree_call(real(fromDir, from, toDir, to));
}
int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    static auto real =
        next_symbol<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    return tree_call(real(fromDir, from, toDir, to, flags));
}
int unlink(const char* path) {
    static auto real = next_symbol<int (*)(const char*)>("unlink");
    return tree_call(real(path));
}
int unlinkat(int dir, const char* path, int flags) {
    static auto real = next_symbol<int (*)(int, const char*, int)>("unlinkat");
    return tree_call(real(dir, path, flags));
}
int symlink(const char* text, const char* path) {
    static auto real = next_symbol<int (*)(const char*, const char*)>("symlink");
    return tree_call(real(text, path));
}
int symlinkat(const char* text, int dir, const char* path) {
    static auto real = next_symbol<int (*)(const char*, int, const char*)>("symlinkat");
    return tree_call(real(text, dir, path));
}
int rmdir(const char* path) {
    static auto real = next_symbol<int (*)(const char*)>("rmdir");
    return tree_call(real(path));
}
// Writes to standard output and error are console text, not file content.
ssize_t write(int fd, const void* data, size_t size) {
    static auto real = next_symbol<ssize_t (*)(int, const void*, size_t)>("write");
    const ssize_t result = real(fd, data, size);
    return fd > 2 ? counted(result, fileWrites, killAfterWrite) : result;
}

}  // extern "C"
