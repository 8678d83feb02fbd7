// Commit, cancel and their helpers, on a scratch directory and, for cross-device moves and full
// file systems, on tmpfs mounts in a private mount namespace.

#include "txn/transaction.h"

#include "cli/installer.h"
#include "support/mount_ns.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class CommitTest : public ::testing::Test {
protected:
    void SetUp() override { ::umask(022); }

    std::string make(const std::string& rel, const std::string& content = "x") {
        std::string path = dir / rel;
        write_file(path, content);
        return path;
    }

    static mode_t mode_of(const std::string& path) {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
    }

    TempDir dir;
    Transaction txn;
};

TEST_F(CommitTest, ParentDirStripsTrailingSlashesFirst) {
    const std::pair<const char*, const char*> cases[] = {
        {"/a/b", "/a"},   {"/a/b/", "/a"}, {"/a//b//", "/a"}, {"/a", "/"},
        {"/", "."},       {"///", "."},    {"a", "."},        {"", "."},
        {"a/b", "a"},
    };
    for (const auto& [path, parent] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(parent_dir(path), parent);
    }
}

TEST_F(CommitTest, MoveCreatesMissingParentsAndMovesTheFile) {
    std::string source = make("stage", "content");
    std::string target = dir / "x/y/z";
    txn.add_move(source, target);
    txn.commit(false);
    EXPECT_EQ(read_file(target), "content");
    EXPECT_FALSE(path_exists(source));
    EXPECT_EQ(mode_of(dir / "x") & 07777, 0755u);
    EXPECT_EQ(mode_of(dir / "x/y") & 07777, 0755u);
    EXPECT_EQ(txn.size(), 1u);  // commit keeps the entries
}

TEST_F(CommitTest, RemoveOfDirectoryDeletesPlainFilesAndKeepsDotFiles) {
    make("pkg/a");
    make("pkg/b");
    make("pkg/.keep");
    txn.add_remove(dir / "pkg");
    testing::internal::CaptureStderr();
    txn.commit(false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(path_exists(dir / "pkg/a"));
    EXPECT_FALSE(path_exists(dir / "pkg/b"));
    EXPECT_TRUE(path_exists(dir / "pkg/.keep"));
}

TEST_F(CommitTest, RemoveOfEmptiedDirectoryRemovesIt) {
    make("pkg/a");
    txn.add_remove(dir / "pkg");
    txn.commit(false);
    EXPECT_FALSE(path_exists(dir / "pkg"));
}

TEST_F(CommitTest, LinkReplacesExistingFile) {
    std::string at = make("boot/image", "old");
    txn.add_link("/flash/bootimage", at);
    txn.commit(false);
    EXPECT_TRUE(S_ISLNK(mode_of(at)));
    char buf[64] = {};
    ASSERT_GT(::readlink(at.c_str(), buf, sizeof buf - 1), 0);
    EXPECT_STREQ(buf, "/flash/bootimage");
}

TEST_F(CommitTest, FailedRenameIsReportedAndTheCommitGoesOn) {
    std::string good = make("good", "g");
    txn.add_move(dir / "missing", dir / "a");
    txn.add_move(good, dir / "b");
    testing::internal::CaptureStderr();
    txn.commit(false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "rename: No such file or directory\n");
    EXPECT_EQ(read_file(dir / "b"), "g");
}

TEST_F(CommitTest, FailedSymlinkIsReported) {
    make("file");
    txn.add_link("text", dir / "file/inside");  // parent is a plain file
    testing::internal::CaptureStderr();
    txn.commit(false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "symlink: Not a directory\n");
}

TEST_F(CommitTest, SecondCommitOfSameEntriesConverges) {
    std::string source = make("stage", "s");
    std::string gone = make("old");
    txn.add_move(source, dir / "new");
    txn.add_remove(gone);
    txn.add_link("t", dir / "ln");
    txn.commit(false);
    testing::internal::CaptureStderr();
    txn.commit(false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "rename: No such file or directory\n");
    EXPECT_EQ(read_file(dir / "new"), "s");
    EXPECT_FALSE(path_exists(gone));
    EXPECT_TRUE(S_ISLNK(mode_of(dir / "ln")));
}

TEST_F(CommitTest, CancelDeletesOnlyTemporaryFiles) {
    std::string temp = make("tmp1");
    std::string plain = make("plain");
    txn.add_op(dir / "a", MoveTemp, temp);
    txn.add_move(plain, dir / "b");
    txn.cancel();
    EXPECT_TRUE(txn.is_empty());
    EXPECT_FALSE(path_exists(temp));
    EXPECT_TRUE(path_exists(plain));
}

TEST_F(CommitTest, CopyKeepsPermissionsAndStepsOncePerBlock) {
    std::string source = make("big", std::string(16384 + 8192, 'q'));
    ::chmod(source.c_str(), 0751);
    int steps = 0;
    ASSERT_TRUE(copy_file_with(source, dir / "copy", [&] { ++steps; }));
    EXPECT_EQ(steps, 2);
    EXPECT_EQ(read_file(dir / "copy"), read_file(source));
    EXPECT_EQ(mode_of(dir / "copy") & 07777, 0751u);
    EXPECT_TRUE(path_exists(source));
}

TEST_F(CommitTest, CopyRefusesMissingOrNonRegularSourceWithoutCreatingDest) {
    ::mkdir((dir / "adir").c_str(), 0755);
    EXPECT_FALSE(copy_file(dir / "adir", dir / "d1", false));
    EXPECT_FALSE(copy_file(dir / "missing", dir / "d2", false));
    EXPECT_FALSE(path_exists(dir / "d1"));
    EXPECT_FALSE(path_exists(dir / "d2"));
}

// A terminal and clock for the spinner: every tick read is a full period later.
class RecordingTerminal : public Terminal {
public:
    void write(std::string_view bytes) override { text.append(bytes); }
    void flush() override {}
    std::string text;
};
class FastClock : public TickClock {
public:
    std::uint32_t ticks() override { return now += 21; }
    std::uint32_t now = 30000;
};

TEST_F(CommitTest, CrossDeviceMoveCopiesWithSpinnerAndKeepsSource) {
    SKIP_WITHOUT_MOUNTS();
    TmpfsMount ram(dir / "ram", 64);
    TmpfsMount flash(dir / "flash", 64);
    ASSERT_TRUE(ram.ok() && flash.ok()) << ram.error() << flash.error();
    std::string payload(3 * 16384 - 5, 'p');
    std::string source = make("ram/tmpAAAAAA", payload);
    ::chmod(source.c_str(), 0700);

    RecordingTerminal term;
    FastClock clock;
    Installer& inst = Installer::reset();
    inst.terminal = &term;
    inst.clock = &clock;
    txn.add_move(source, dir / "flash/sys/file");
    txn.commit(true);
    Installer::reset();

    EXPECT_EQ(read_file(dir / "flash/sys/file"), payload);
    EXPECT_EQ(mode_of(dir / "flash/sys/file") & 07777, 0700u);
    EXPECT_TRUE(path_exists(source));
    EXPECT_EQ(term.text, "|\b/\b-");
}

TEST_F(CommitTest, FullDestinationFailsThatCopyAndTheCommitGoesOn) {
    SKIP_WITHOUT_MOUNTS();
    TmpfsMount ram(dir / "ram", 64);
    TmpfsMount flash(dir / "flash", 4);
    ASSERT_TRUE(ram.ok() && flash.ok()) << ram.error() << flash.error();
    const std::size_t block = tmpfs_block_size();
    std::string big = make("ram/big", std::string(8 * block, 'b'));
    std::string onFlash = make("flash/tmpS", "small");  // a rename needs no free block
    txn.add_move(big, dir / "flash/a-big");
    txn.add_move(onFlash, dir / "flash/b-small");
    testing::internal::CaptureStderr();
    txn.commit(false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(free_blocks(dir / "flash"), 0);
    EXPECT_EQ(read_file(dir / "flash/b-small"), "small");
    EXPECT_LT(read_file(dir / "flash/a-big").size(), 8 * block);  // partial copy stays
    EXPECT_TRUE(path_exists(big));
}

TEST_F(CommitTest, ManifestThatDoesNotFitIsDeleted) {
    SKIP_WITHOUT_MOUNTS();
    TmpfsMount ram(dir / "ram", 1);
    ASSERT_TRUE(ram.ok()) << ram.error();
    for (int i = 0; i < 400; ++i)
        txn.add_move("/ram/tmp" + std::to_string(i),
                     "/flash/some/long/path/name/" + std::to_string(i));
    EXPECT_FALSE(txn.save_manifest(dir / "ram/MANIFEST"));
    EXPECT_FALSE(path_exists(dir / "ram/MANIFEST"));
}

}  // namespace
