// Temporary file placement (with the remembered ancestor walk) and the flash space check. Exact
// free block counts come from tmpfs mounts; those tests skip where mounting is not permitted.
#include "txn/space.h"
#include "txn/transaction.h"

#include "support/mount_ns.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>

namespace {

class SpaceTest : public ::testing::Test {
protected:
    std::string make(const std::string& rel, std::size_t bytes) {
        write_file(dir / rel, std::string(bytes, 'f'));
        return dir / rel;
    }
    // A temporary file for `path` as create_file makes it, with /ram and /tmp below `dir`.
    OutputFile create(const std::string& path, std::uint32_t size = 10, std::uint32_t mode = 0,
                      const std::string& ram = "ram", const std::string& tmp = "tmp") {
        return create_file_in(txn, path, size, mode, dir / ram, dir / tmp);
    }
    std::string temp_of(const std::string& path) const {
        const FileOp* op = txn.pending(path);
        return op ? op->source : std::string("(none)");
    }
    std::string dir_of_temp(const std::string& path) const { return parent_dir(temp_of(path)); }
    mode_t mode_of_temp(const std::string& path) const {
        struct stat st;
        return ::stat(temp_of(path).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }

    TempDir dir;
    Transaction txn;
};

TEST_F(SpaceTest, PathBelongsOnlyWhenFollowedBySlashOrEndAndBlockCountsDoNotWrap) {
    FsSpace boot(real_file_system(), "/nonexistent/flash/boot");
    boot.fs_path = "/flash/boot";
    for (const auto& [path, holds] : {std::pair{"/flash/boot", true}, {"/flash/boot/kernel", true},
                                      {"/flash/bootimage", false}, {"/flash", false}})
        EXPECT_EQ(boot.holds(path), holds) << path;
    boot.block_size = 4096;
    EXPECT_EQ(boot.blocks_of((std::int64_t(1) << 32) + 1), (std::int64_t(1) << 20) + 1);
    EXPECT_EQ(boot.blocks_of(0), 0);
}

TEST_F(SpaceTest, UnreadableFileSystemRefusesAnyMoveOntoIt) {
    // The source must lie on another file system than the destination's nearest ancestor.
    const std::string source = "/dev/shm/space-test-" + std::to_string(::getpid());
    struct stat a, b;
    if (!write_file(source, "0123456789") || ::stat(source.c_str(), &a) != 0 ||
        ::stat(dir.path().c_str(), &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "needs /dev/shm on another file system than the scratch directory";
    txn.add_move(source, dir / "nofs/flash/x");
    EXPECT_FALSE(has_flash_space_of(txn, dir / "nofs/flash/boot", dir / "nofs/flash"));
    ::unlink(source.c_str());
    Transaction removals;
    removals.add_remove(dir.path());
    EXPECT_TRUE(has_flash_space_of(removals, dir / "nofs/flash/boot", dir / "nofs/flash"));
}

TEST_F(SpaceTest, TemporaryFilePlacementModesReplacementAndFailure) {
    ::mkdir((dir / "ram").c_str(), 0755);
    ::mkdir((dir / "tmp").c_str(), 0755);
    OutputFile a = create(dir / "flash/PCKGS_CHANGED", 0);  // empty files go to /ram
    EXPECT_EQ(dir_of_temp(dir / "flash/PCKGS_CHANGED"), dir / "ram");
    OutputFile b = create(dir / "flash/UPGRADED", 0, 0, "noram");
    EXPECT_EQ(dir_of_temp(dir / "flash/UPGRADED"), dir / "tmp");
    OutputFile c = create(dir / "c"), d = create(dir / "d", 10, 0100755);
    const mode_t mask = ::umask(022);  // the bits beyond the umask are set all the same
    OutputFile e = create(dir / "e", 10, 0104777);
    ::umask(mask);
    EXPECT_EQ(mode_of_temp(dir / "c"), 0600u);
    EXPECT_EQ(mode_of_temp(dir / "d"), 0755u);
    EXPECT_EQ(mode_of_temp(dir / "e"), 04777u);
    const std::string first = temp_of(dir / "c");
    OutputFile again = create(dir / "c");
    EXPECT_FALSE(path_exists(first));
    EXPECT_TRUE(path_exists(temp_of(dir / "c")));
    errno = 0;  // a failed mkstemp registers nothing and keeps its error number
    EXPECT_FALSE(create(dir / "x", 0, 0, "noram", "notmp"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(txn.size(), 5u);
}

TEST_F(SpaceTest, DeepDestinationsGetDistinctFullLengthNames) {
    std::string deep = dir.path();
    while (deep.size() < 200) deep += "/a-rather-long-directory-name";
    std::filesystem::create_directories(deep);
    OutputFile a = create(deep + "/one"), b = create(deep + "/two");
    const std::string nameA = temp_of(deep + "/one"), nameB = temp_of(deep + "/two");
    EXPECT_NE(nameA, nameB);
    EXPECT_EQ(nameA.substr(0, deep.size()), deep);
    EXPECT_EQ(nameA.size(), deep.size() + 10);
    EXPECT_TRUE(path_exists(nameA) && path_exists(nameB));
}

TEST_F(SpaceTest, RememberedAncestorIsWalkedAgainWhenGoneAndEndsAtMadeDirectories) {
    ASSERT_EQ(::mkdir((dir / "flash").c_str(), 0755), 0);
    ASSERT_TRUE(create(dir / "flash/new/deeper/a").close());
    EXPECT_EQ(dir_of_temp(dir / "flash/new/deeper/a"), dir / "flash");
    txn.cancel();
    ASSERT_EQ(::rmdir((dir / "flash").c_str()), 0);
    // A remembered "flash" would make mkstemp fail; a fresh walk finds the scratch directory.
    EXPECT_TRUE(create(dir / "flash/new/deeper/b"));
    EXPECT_EQ(dir_of_temp(dir / "flash/new/deeper/b"), dir.path());
    make_dirs(real_file_system(), dir / "flash/new/deeper");  // as a commit earlier in the run
    OutputFile third = create(dir / "flash/new/deeper/c");
    EXPECT_EQ(dir_of_temp(dir / "flash/new/deeper/c"), dir / "flash/new/deeper");
}

TEST_F(SpaceTest, TemporaryFileGoesToNearestExistingAncestorWithRoomAskedEachTime) {
    SKIP_WITHOUT_MOUNTS();
    const std::uint64_t block = tmpfs_block_size();
    // 2^32 + 10 blocks free: cut to 32 bits they would look like 10 blocks.
    TmpfsMount ram(dir / "ram", 64), flash(dir / "flash", (std::uint64_t(1) << 32) / block + 10),
        small(dir / "small", 10);
    ASSERT_TRUE(ram.ok() && flash.ok() && small.ok()) << ram.error() << flash.error();
    OutputFile big = create(dir / "flash/big", std::uint32_t(64 * block));
    EXPECT_EQ(dir_of_temp(dir / "flash/big"), dir / "flash");
    // 10 blocks free: size plus a tenth must stay below them.
    OutputFile fits = create(dir / "small/new/deeper/f", std::uint32_t(9 * block));
    EXPECT_EQ(dir_of_temp(dir / "small/new/deeper/f"), dir / "small");
    OutputFile tooBig = create(dir / "small/g", std::uint32_t(10 * block));
    EXPECT_EQ(dir_of_temp(dir / "small/g"), dir / "ram");
    fits << std::string(6 * block, 'x');
    ASSERT_TRUE(fits.close());
    // Same remembered ancestor, but only 4 blocks are left now.
    OutputFile full = create(dir / "small/new/deeper/h", std::uint32_t(4 * block));
    EXPECT_EQ(dir_of_temp(dir / "small/new/deeper/h"), dir / "ram");
}

// /flash and /flash/boot as tmpfs of 20 blocks each, and the check between them.
class FlashSpaceTest : public SpaceTest {
protected:
    void SetUp() override {
        SKIP_WITHOUT_MOUNTS();
        flash = std::make_unique<TmpfsMount>(dir / "flash", 20);
        boot = std::make_unique<TmpfsMount>(dir / "flash/boot", 20);
        ASSERT_TRUE(flash->ok() && boot->ok()) << flash->error() << boot->error();
        ::mkdir((dir / "ram").c_str(), 0755);
    }
    bool check(const Transaction& t) {
        return has_flash_space_of(t, dir / "flash/boot", dir / "flash");
    }
    std::size_t blocks(int n) const { return std::size_t(n) * tmpfs_block_size(); }
    std::unique_ptr<TmpfsMount> flash, boot;
};

TEST_F(FlashSpaceTest, SixteenFreeBlocksAfterTheMovesFailAndReplacedFilesGiveBlocksBack) {
    txn.add_move(make("ram/three", blocks(3)), dir / "flash/a");
    EXPECT_TRUE(check(txn));  // 17 left
    txn.add_move(make("ram/one", blocks(1)), dir / "flash/b");
    EXPECT_FALSE(check(txn));  // 16 left
    Transaction replace;
    make("flash/old", blocks(2));  // 18 free now
    replace.add_move(make("ram/new", blocks(3)), dir / "flash/old");
    EXPECT_TRUE(check(replace));  // 17
    make("flash/other", blocks(1));
    EXPECT_FALSE(check(replace));  // 16
}

TEST_F(FlashSpaceTest, MovesWithinFlashRemovalsAndTheBootImageAreChargedRight) {
    make("flash/boot/kernel", blocks(10));  // boot: 10 free
    txn.add_move(make("ram/image", blocks(2)), dir / "flash/bootimage");
    EXPECT_TRUE(check(txn));  // flash 18, boot untouched
    txn.add_move(make("ram/kernel", blocks(2)), dir / "flash/boot/kernel2");
    EXPECT_FALSE(check(txn));  // boot 8
    Transaction inside;
    make("flash/fill", blocks(15));  // 5 free, already below the threshold
    inside.add_move(make("flash/tmpX", blocks(1)), dir / "flash/new/place");
    inside.add_remove(dir / "flash/fill");
    EXPECT_TRUE(check(inside));
}

TEST_F(FlashSpaceTest, HugeSparseSourceIsNotCutTo32Bits) {
    // 2^32 + one block, taking no space: as a 32-bit size it would be a single block.
    write_file(dir / "ram/huge", "");
    std::filesystem::resize_file(dir / "ram/huge", (std::uint64_t(1) << 32) + blocks(1));
    txn.add_move(dir / "ram/huge", dir / "flash/huge");
    EXPECT_FALSE(check(txn));
}

}  // namespace
