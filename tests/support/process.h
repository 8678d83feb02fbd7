#pragma once
// Runs a program to completion with given arguments, standard input and environment, its output
// in memory files, so that no pipe can fill and stall it while its standard input, a pipe as on
// the router, is written.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

struct RunResult {
    int status = -1;  // exit status, or 128 + signal number
    std::string out, err;
};

inline std::string read_memory_file(int fd) {
    std::string out;
    char buf[65536];
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) out.append(buf, std::size_t(n));
    ::close(fd);
    return out;
}

// Takes what this process writes to standard error while it lives, into a memory file rather
// than a file in /tmp; text() ends the capture.
class StderrCapture {
public:
    StderrCapture() : saved_(::dup(2)), file_(::memfd_create("stderr", MFD_CLOEXEC)) {
        std::fflush(stderr);
        ::dup2(file_, 2);
    }
    ~StderrCapture() { (void)text(); }
    std::string text() {
        if (saved_ < 0) return "";
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
        return read_memory_file(file_);
    }

private:
    int saved_, file_;
};

// `env` entries are "NAME=value"; the child gets exactly these (a scrubbed environment).
inline RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                             const std::string& input = {},
                             const std::vector<std::string>& env = {}) {
    int in[2];
    const int out = ::memfd_create("out", MFD_CLOEXEC), err = ::memfd_create("err", MFD_CLOEXEC);
    if (out < 0 || err < 0 || ::pipe2(in, O_CLOEXEC) != 0) return {};
    std::signal(SIGPIPE, SIG_IGN);  // a program that stops reading ends the writing with EPIPE
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0), ::dup2(out, 1), ::dup2(err, 2);
        std::vector<char*> argv = {const_cast<char*>(program.c_str())}, envp;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        argv.push_back(nullptr), envp.push_back(nullptr);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    for (std::size_t at = 0; at < input.size();) {
        const ssize_t n = ::write(in[1], input.data() + at, input.size() - at);
        if (n <= 0) break;
        at += std::size_t(n);
    }
    ::close(in[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            read_memory_file(out), read_memory_file(err)};
}
