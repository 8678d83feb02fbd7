// "--commit" and "--cancel" on a scratch root whose /flash and /ram are separate tmpfs mounts,
// and the runs that end before any chroot.

#include "e2e/router.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// A new file staged in /ram (another file system), one staged on /flash itself, an old file to
// delete and a link to make.
void stage(const Router& r) {
    r.put("ram/tmpA1b2C3", "cross-device payload");
    r.put("flash/tmpD4e5F6", "same-device payload");
    r.put("flash/var/pdb/old/files", "old");
    r.put("ram/MANIFEST",
          "M /flash/pkg/bin/tool /ram/tmpA1b2C3\nM /flash/pkg/etc/conf /flash/tmpD4e5F6\n"
          "U /flash/var/pdb/old/files\nL /flash/pkg/image /flash/bootimage\n");
}

void expect_committed(const Router& r) {
    EXPECT_EQ(r.read("flash/pkg/bin/tool"), "cross-device payload");
    EXPECT_EQ(r.read("flash/pkg/etc/conf"), "same-device payload");
    EXPECT_FALSE(r.exists("flash/var/pdb/old/files"));
    struct stat st;
    ASSERT_EQ(::lstat(r.at("flash/pkg/image").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(StagedRun, CommitCopiesAcrossDevicesKeepsTheManifestAndConvergesWhenRepeated) {
    ROUTER(r, 256, 256);
    stage(r);
    RunResult first = r.run({"--commit"});
    EXPECT_EQ(first.status, 0);
    // The file from /ram is copied: a power cut could leave it undone, and that is said first.
    EXPECT_TRUE(first.out.starts_with("WARNING: no room on flash for old and new files: a power "
                                      "cut during this install can leave files missing\n"
                                      "finishing install... ")) << first.out;
    EXPECT_TRUE(first.out.ends_with("\b \n")) << first.out;
    EXPECT_EQ(first.err, "");
    expect_committed(r);
    EXPECT_TRUE(r.exists("ram/tmpA1b2C3"));     // copied, not moved
    EXPECT_FALSE(r.exists("flash/tmpD4e5F6"));  // renamed
    EXPECT_TRUE(r.exists("ram/MANIFEST"));

    RunResult again = r.run({"--commit"});
    EXPECT_EQ(again.status, 0);
    // The move within /flash is found done; the cross-device copy repeats.
    EXPECT_EQ(again.err, "");
    expect_committed(r);
}

TEST(StagedRun, QuietAndReinstallBeforeCommitKeepTheirOutput) {
    ROUTER(r, 256, 256);
    stage(r);
    RunResult run = r.run({"-q", "--reinstall", "--safe", "--commit"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.starts_with("\nResuming upgrade...\nfinishing install... ")) << run.out;
    expect_committed(r);
}

TEST(StagedRun, CancelDeletesTheManifestAndTheStagedFiles) {
    ROUTER(r, 256, 256);
    stage(r);
    RunResult run = r.run({"--cancel"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(r.exists("ram/MANIFEST"));
    EXPECT_FALSE(r.exists("ram/tmpA1b2C3"));
    EXPECT_FALSE(r.exists("flash/tmpD4e5F6"));
    EXPECT_TRUE(r.exists("flash/var/pdb/old/files"));
    EXPECT_FALSE(r.exists("flash/pkg"));
}

TEST(StagedRun, UsageEndsTheRunBeforeAnyChroot) {
    TempDir dir;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--bogus"},
          std::vector<std::string>{"-r", dir / "missing", "--month"}}) {
        SCOPED_TRACE(args.back());
        RunResult r = run_program(INSTALLER_BIN, args, {}, {});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "usage: installer [-q] [-r <root>] [-]\n");
        EXPECT_EQ(r.err, "");
    }
}

}  // namespace
