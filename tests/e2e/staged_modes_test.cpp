// "--commit" and "--cancel" run by the real installer with "-r" on a scratch root whose /flash
// and /ram are separate tmpfs mounts, as on a router.

#include "support/mount_ns.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>

namespace {

class StagedRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!enter_private_mount_namespace(why)) return;
        flash = std::make_unique<TmpfsMount>(root / "flash", 256);
        ram = std::make_unique<TmpfsMount>(root / "ram", 256);
    }
    bool mounted() const { return flash && flash->ok() && ram && ram->ok(); }

    RunResult installer(std::vector<std::string> args) {
        args.insert(args.begin(), {"-r", root.path()});
        return run_program(INSTALLER_BIN, args, {}, {"PATH=/usr/bin:/bin"});
    }

    // A staged run: a new file staged in /ram (another file system), one staged on /flash
    // itself, an old file to delete and a link to make.
    void stage() {
        write_file(root / "ram/tmpA1b2C3", "cross-device payload");
        write_file(root / "flash/tmpD4e5F6", "same-device payload");
        write_file(root / "flash/var/pdb/old/files", "old");
        write_file(root / "ram/MANIFEST",
                   "M /flash/pkg/bin/tool /ram/tmpA1b2C3\n"
                   "M /flash/pkg/etc/conf /flash/tmpD4e5F6\n"
                   "U /flash/var/pdb/old/files\n"
                   "L /flash/pkg/image /flash/bootimage\n");
    }

    void expect_committed() {
        EXPECT_EQ(read_file(root / "flash/pkg/bin/tool"), "cross-device payload");
        EXPECT_EQ(read_file(root / "flash/pkg/etc/conf"), "same-device payload");
        EXPECT_FALSE(path_exists(root / "flash/var/pdb/old/files"));
        struct stat st;
        ASSERT_EQ(::lstat((root / "flash/pkg/image").c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
    }

    TempDir root;
    std::unique_ptr<TmpfsMount> flash, ram;
};

TEST_F(StagedRunTest, CommitBelowRootCopiesAcrossDevicesAndKeepsManifest) {
    SKIP_WITHOUT_MOUNTS();
    ASSERT_TRUE(mounted());
    stage();
    RunResult r = installer({"--commit"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.starts_with("finishing install... ")) << r.out;
    EXPECT_TRUE(r.out.ends_with("\b \n")) << r.out;
    EXPECT_EQ(r.err, "");
    expect_committed();
    EXPECT_TRUE(path_exists(root / "ram/tmpA1b2C3"));  // copied, not moved
    EXPECT_FALSE(path_exists(root / "flash/tmpD4e5F6"));  // renamed
    EXPECT_TRUE(path_exists(root / "ram/MANIFEST"));
}

TEST_F(StagedRunTest, SecondCommitOfSameManifestConverges) {
    SKIP_WITHOUT_MOUNTS();
    ASSERT_TRUE(mounted());
    stage();
    ASSERT_EQ(installer({"--commit"}).status, 0);
    RunResult again = installer({"--commit"});
    EXPECT_EQ(again.status, 0);
    // Only the move within /flash has nothing left to move; the cross-device copy repeats.
    EXPECT_EQ(again.err, "rename: No such file or directory\n");
    expect_committed();
}

TEST_F(StagedRunTest, QuietAndReinstallBeforeCommitKeepTheirOutput) {
    SKIP_WITHOUT_MOUNTS();
    ASSERT_TRUE(mounted());
    stage();
    RunResult r = installer({"-q", "--reinstall", "--safe", "--commit"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.starts_with("\nResuming upgrade...\nfinishing install... ")) << r.out;
    expect_committed();
}

TEST_F(StagedRunTest, CommitOfCutManifestChangesNothing) {
    SKIP_WITHOUT_MOUNTS();
    ASSERT_TRUE(mounted());
    write_file(root / "flash/bootimage", "kernel");
    write_file(root / "flash/var/pdb/x/files", "x");
    write_file(root / "ram/MANIFEST", "U /flash/var/pdb/x/files\nU /flash/");
    RunResult r = installer({"--commit"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "finishing install... \b \n");
    EXPECT_TRUE(path_exists(root / "flash/bootimage"));
    EXPECT_TRUE(path_exists(root / "flash/var/pdb/x/files"));
}

TEST_F(StagedRunTest, CancelDeletesTheManifestAndNothingElse) {
    SKIP_WITHOUT_MOUNTS();
    ASSERT_TRUE(mounted());
    stage();
    RunResult r = installer({"--cancel"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(path_exists(root / "ram/MANIFEST"));
    // The staged files stay: a reloaded manifest holds plain moves, which own no files.
    EXPECT_TRUE(path_exists(root / "ram/tmpA1b2C3"));
    EXPECT_TRUE(path_exists(root / "flash/tmpD4e5F6"));
    EXPECT_TRUE(path_exists(root / "flash/var/pdb/old/files"));
    EXPECT_FALSE(path_exists(root / "flash/pkg"));
}

TEST_F(StagedRunTest, FailingChrootIsReportedAndTheRunGoesOn) {
    SKIP_WITHOUT_MOUNTS();
    RunResult r = run_program(INSTALLER_BIN, {"-r", root / "missing", "--show"}, {}, {});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.err.starts_with("chroot: No such file or directory\n")) << r.err;
}

TEST_F(StagedRunTest, UsageEndsTheRunBeforeAnyChroot) {
    RunResult r = run_program(INSTALLER_BIN, {"-r", root / "missing", "--month"}, {}, {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "usage: installer [-q] [-r <root>] [-]\n");
    EXPECT_EQ(r.err, "");
}

}  // namespace
