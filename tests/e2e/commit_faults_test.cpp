// Faults around the commit that must not pass for success: failed commit operations, staged runs
// dropped or replaced, and runs that overlap.

#include "e2e/router.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <thread>

namespace {

// A copy across file systems onto a running program, a move done by the first commit, and a
// move whose source never existed.
TEST(CommitFaults, CopyReplacesARunningProgramAndFailuresAreNamedAndCounted) {
    ROUTER(r, 256, 256);
    std::filesystem::create_directories(r.at("flash/bin"));
    std::filesystem::copy_file("/bin/sleep", r.at("flash/bin/prog"));
    const std::string prog = r.at("flash/bin/prog");
    const pid_t running = ::fork();
    if (running == 0) {
        ::execl(prog.c_str(), "prog", "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(running, 0);
    // The program counts as running once the kernel maps its file.
    const std::string exe = "/proc/" + std::to_string(running) + "/exe";
    for (int i = 0; i < 200 && std::filesystem::read_symlink(exe) != prog; ++i) ::usleep(5000);
    r.put("ram/tmpA1b2C3", "new program");
    r.put("flash/tmpD4e5F6", "conf");
    r.put("ram/MANIFEST", "M /flash/bin/prog /ram/tmpA1b2C3\nM /flash/etc/conf /flash/tmpD4e5F6\n"
                          "M /flash/etc/lost /flash/tmpGone00\n");
    for (int pass = 1; pass <= 2; ++pass) {
        RunResult run = r.run({"--commit"});
        EXPECT_EQ(run.status, 1) << pass;
        EXPECT_EQ(run.err, "rename /flash/etc/lost: No such file or directory\n") << pass;
    }
    EXPECT_TRUE(r.read("flash/bin/prog") == "new program");  // not the running one
    EXPECT_EQ(r.read("flash/etc/conf"), "conf");
    ::kill(running, SIGKILL);
    ::waitpid(running, nullptr, 0);
}

// The temporary files a staged run left, by path below the root.
std::set<std::string> staged_files(const Router& r) {
    std::set<std::string> found;
    for (const auto& [path, node] : snapshot(r.at("")))
        if (path.substr(path.rfind('/') + 1).starts_with("tmp")) found.insert(path);
    return found;
}

TEST(CommitFaults, CancelAndARepeatedSafeRunDeleteOnlyTheStagedTemporaryFiles) {
    ROUTER(r);
    const std::string download = "rw/pckg/.download/";
    r.upload("system.npk", pkg("system", "6.40", "flags boot\nimage text kernel-1\n"), download);
    r.upload("a.npk", pkg("a", "6.40", "file bin/a 0755 one\nfile etc/a.conf 0644 conf\n"),
             download);
    ASSERT_EQ(r.upgrade({"--safe"}, {"bootimage=1"}).status, 0);
    const std::set<std::string> first = staged_files(r);
    ASSERT_GT(first.size(), 3u);
    // The boot image comes straight from the upload, which must survive every cancel.
    ASSERT_TRUE(has(r.read("ram/MANIFEST"), "M /flash/bootimage /rw/pckg/.download/system.npk"));

    RunResult again = r.upgrade({"--safe"}, {"bootimage=1"});
    ASSERT_EQ(again.status, 0);
    EXPECT_TRUE(has(again.out, "cancelling earlier staged upgrade")) << again.out;
    const std::set<std::string> second = staged_files(r);
    EXPECT_EQ(second.size(), first.size());
    for (const std::string& path : first) EXPECT_FALSE(second.count(path)) << path;

    ASSERT_EQ(r.run({"--cancel"}).status, 0);
    EXPECT_EQ(staged_files(r), std::set<std::string>{});
    EXPECT_FALSE(r.exists("ram/MANIFEST"));
    EXPECT_TRUE(r.exists(download + "system.npk"));
    EXPECT_TRUE(r.exists(download + "a.npk"));
}

// Runs that change flash never overlap: a second one waits for the first, and refuses,
// changing nothing, when that takes too long. The listing takes no lock.
TEST(CommitFaults, ASecondRunWaitsForTheRunLockThenRefuses) {
    ROUTER(r, 256, 256);
    r.upload("a.npk", pkg("a", "6.40", "file bin/a 0755 a\n"));
    const int held = ::open(r.at("ram/installer.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const Tree before = r.flash();
    EXPECT_EQ(r.run({"--show"}).status, 0);
    RunResult refused = r.upgrade();
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "ERROR: another installer run is in progress\n");
    EXPECT_EQ(difference(before, r.flash()), "");
    // The other run ends while this one waits: this one goes ahead.
    std::thread other([held] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::close(held);
    });
    RunResult waited = r.upgrade();
    other.join();
    EXPECT_EQ(waited.status, 0) << waited.out;
    EXPECT_EQ(r.installed(), "a 6.40");
}

}  // namespace
