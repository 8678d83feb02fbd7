// The remembered walk from a destination's directory to its nearest existing ancestor: it must
// give the same temporary directory as a fresh walk, and the room must still be asked each time.

#include "txn/transaction.h"

#include "support/mount_ns.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

class SpaceCacheTest : public ::testing::Test {
protected:
    std::string dir_of_temp(const std::string& path) const {
        const FileOp* op = txn.pending(path);
        return op ? parent_dir(op->source) : std::string("(none)");
    }

    TempDir dir;
    Transaction txn;
};

TEST_F(SpaceCacheTest, AncestorThatWentAwayIsWalkedAgain) {
    ASSERT_EQ(::mkdir((dir / "flash").c_str(), 0755), 0);
    std::ofstream first =
        create_file_in(txn, dir / "flash/new/deeper/a", 10, 0, dir / "ram", dir / "tmp");
    first.close();
    EXPECT_EQ(dir_of_temp(dir / "flash/new/deeper/a"), dir / "flash");
    txn.cancel();
    ASSERT_EQ(::rmdir((dir / "flash").c_str()), 0);

    // A remembered "flash" would make mkstemp fail; a fresh walk finds the scratch directory.
    std::ofstream second =
        create_file_in(txn, dir / "flash/new/deeper/b", 10, 0, dir / "ram", dir / "tmp");
    EXPECT_TRUE(second.is_open());
    EXPECT_EQ(dir_of_temp(dir / "flash/new/deeper/b"), dir.path());
}

TEST_F(SpaceCacheTest, DirectoryMadeByMakeDirsEndsTheWalkThere) {
    std::ofstream first =
        create_file_in(txn, dir / "flash/new/deeper/a", 10, 0, dir / "ram", dir / "tmp");
    EXPECT_EQ(dir_of_temp(dir / "flash/new/deeper/a"), dir.path());
    // As after a commit earlier in the same process: the directories now stand.
    make_dirs(dir / "flash/new/deeper");
    std::ofstream second =
        create_file_in(txn, dir / "flash/new/deeper/b", 10, 0, dir / "ram", dir / "tmp");
    EXPECT_EQ(dir_of_temp(dir / "flash/new/deeper/b"), dir / "flash/new/deeper");
}

TEST_F(SpaceCacheTest, RoomIsAskedAgainForARememberedAncestor) {
    SKIP_WITHOUT_MOUNTS();
    ::mkdir((dir / "ram").c_str(), 0755);
    TmpfsMount flash(dir / "flash", 10);
    ASSERT_TRUE(flash.ok()) << flash.error();
    const std::uint32_t block = std::uint32_t(tmpfs_block_size());
    std::ofstream fits =
        create_file_in(txn, dir / "flash/new/a", 4 * block, 0, dir / "ram", "/tmp");
    EXPECT_EQ(dir_of_temp(dir / "flash/new/a"), dir / "flash");
    fits << std::string(6 * block, 'x');
    fits.close();
    // Same directory, same remembered ancestor, but only 4 blocks are left now.
    std::ofstream full =
        create_file_in(txn, dir / "flash/new/b", 4 * block, 0, dir / "ram", "/tmp");
    EXPECT_EQ(dir_of_temp(dir / "flash/new/b"), dir / "ram");
}

}  // namespace
