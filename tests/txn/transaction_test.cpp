// The journal's bookkeeping and its manifest, on files in a scratch directory.

#include "txn/transaction.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class TransactionTest : public ::testing::Test {
protected:
    // A file standing in for a temporary file from create_file.
    std::string temp_file(const std::string& name) {
        std::string path = dir / name;
        write_file(path, "staged");
        return path;
    }

    TempDir dir;
    Transaction txn;
};

TEST_F(TransactionTest, MoveThenRemoveOfExistingPathLeavesOneRemove) {
    std::string target = temp_file("target");
    txn.add_move("/src", target);
    txn.add_remove(target);
    ASSERT_EQ(txn.size(), 1u);
    EXPECT_EQ(txn.pending(target)->op, Remove);
    EXPECT_EQ(txn.pending(target)->source, "");
}

TEST_F(TransactionTest, ReplacingAMoveTempDeletesItsTemporaryFileButNotAMoveSource) {
    std::string first = temp_file("tmp1");
    std::string plain = temp_file("plain");
    txn.add_op("/flash/a", MoveTemp, first);
    txn.add_op("/flash/a", Move, plain);
    EXPECT_FALSE(path_exists(first));
    txn.add_op("/flash/a", Remove, "");
    EXPECT_TRUE(path_exists(plain));
    EXPECT_EQ(txn.pending("/flash/a")->op, Remove);
}

TEST_F(TransactionTest, RemoveOfMissingPathDropsEntryAndDeletesItsTemporaryFile) {
    std::string staged = temp_file("tmpabc");
    std::string missing = dir / "not-there";
    txn.add_op(missing, MoveTemp, staged);
    txn.add_remove(missing);
    EXPECT_TRUE(txn.is_empty());
    // A leftover in the package database directory would load as a package next run.
    EXPECT_FALSE(path_exists(staged));
}

TEST_F(TransactionTest, RemoveOfMissingPathWithoutEntryChangesNothing) {
    txn.add_move("/x", "/flash/keep");
    txn.add_remove(dir / "not-there");
    EXPECT_EQ(txn.size(), 1u);
}

TEST_F(TransactionTest, TakeBackRemoveTellsWhetherPathCanServeAsDirectory) {
    std::string pkgDir = dir / "pdb/pkg/";
    ::mkdir((dir / "pdb").c_str(), 0755);
    ::mkdir(pkgDir.c_str(), 0755);
    std::string file = temp_file("plainfile");

    txn.add_remove(pkgDir);
    EXPECT_TRUE(txn.take_back_remove(pkgDir));
    EXPECT_EQ(txn.pending(pkgDir), nullptr);

    EXPECT_FALSE(txn.take_back_remove(file));
    EXPECT_TRUE(txn.take_back_remove(dir / "missing/"));

    txn.add_move("/src", pkgDir);
    EXPECT_FALSE(txn.take_back_remove(pkgDir));
    EXPECT_NE(txn.pending(pkgDir), nullptr);
}

TEST_F(TransactionTest, DropBelowRemovesOnlyTheDirectoryAndItsDescendants) {
    std::string staged = temp_file("tmpdrop");
    txn.add_remove("/flash/var/pdb/a");
    txn.add_op("/flash/var/pdb/a/files", MoveTemp, staged);
    txn.add_move("/s1", "/flash/var/pdb/a/sub/deep");
    txn.add_move("/s2", "/flash/var/pdb/a-b/files");
    txn.add_move("/s3", "/flash/var/pdb/ab");
    txn.add_move("/s4", "/flash/var/pdb/0");

    txn.drop_below("/flash/var/pdb/a/");

    std::vector<std::string> left;
    for (const auto& [path, op] : txn.entries()) left.push_back(path);
    EXPECT_EQ(left, (std::vector<std::string>{"/flash/var/pdb/0", "/flash/var/pdb/a-b/files",
                                              "/flash/var/pdb/ab"}));
    EXPECT_FALSE(path_exists(staged));
}

TEST_F(TransactionTest, SavesOneLinePerEntryInPathOrder) {
    Transaction t;
    t.add_op("/b", Remove, "");
    t.add_move("/tmp/x", "/a");
    t.add_link("d", "/c");
    std::string manifest = dir / "MANIFEST";
    ASSERT_TRUE(t.save_manifest(manifest));
    EXPECT_EQ(read_file(manifest), "M /a /tmp/x\nU /b\nL /c d\n");
}

TEST_F(TransactionTest, EmptyJournalSavesEmptyFileThatLoadsAsSuccess) {
    std::string manifest = dir / "MANIFEST";
    ASSERT_TRUE(txn.save_manifest(manifest));
    EXPECT_EQ(read_file(manifest), "");
    Transaction back;
    EXPECT_TRUE(back.load_manifest(manifest));
    EXPECT_TRUE(back.is_empty());
}

TEST_F(TransactionTest, SaveRefusesEntriesTheManifestCannotHoldAndWritesNothing) {
    struct Case {
        const char* path;
        const char* source;
    };
    const Case cases[] = {
        {"/flash/with space", "/ram/tmp1"},
        {"/flash/with\nnewline", "/ram/tmp1"},
        {"/flash/ok", "/ram/line\nfeed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string manifest = dir / "MANIFEST";
        write_file(manifest, "old\n");
        Transaction t;
        t.add_move("/ram/fine", "/flash/a");
        t.add_move(c.source, c.path);
        EXPECT_FALSE(t.save_manifest(manifest));
        EXPECT_EQ(read_file(manifest), "old\n");
    }
}

TEST_F(TransactionTest, SaveIntoMissingDirectoryFails) {
    txn.add_move("/a", "/b");
    EXPECT_FALSE(txn.save_manifest(dir / "no/such/MANIFEST"));
}

TEST_F(TransactionTest, MoveTempComesBackAsMoveWithSourceAndSpacesKept) {
    txn.add_op("/flash/a", MoveTemp, "/ram/tmp with space");
    std::string manifest = dir / "MANIFEST";
    ASSERT_TRUE(txn.save_manifest(manifest));
    Transaction back;
    ASSERT_TRUE(back.load_manifest(manifest));
    ASSERT_NE(back.pending("/flash/a"), nullptr);
    EXPECT_EQ(back.pending("/flash/a")->op, Move);
    EXPECT_EQ(back.pending("/flash/a")->source, "/ram/tmp with space");
}

TEST_F(TransactionTest, LoadFollowsTheLineRules) {
    struct Case {
        const char* name;
        std::string text;
        bool result;
        std::vector<std::string> paths;  // entries afterwards
    };
    const Case cases[] = {
        {"unknown letter skipped", "X /q r\nU /a\n", true, {"/a"}},
        {"U ignores a third field", "U /a extra\n", true, {"/a"}},
        {"M with two fields stops", "U /a\nM /b\nU /c\n", false, {"/a"}},
        {"L with two fields stops", "L /b\n", false, {}},
        {"one field stops", "U\n", false, {}},
        {"empty line ends the load", "U /a\n\nU /b\n", true, {"/a"}},
        {"cut last line is not obeyed", "U /a\nU /flash/", false, {"/a"}},
        {"cut only line", "M /a /ram/tm", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string manifest = dir / "MANIFEST";
        write_file(manifest, c.text);
        Transaction t;
        EXPECT_EQ(t.load_manifest(manifest), c.result);
        std::vector<std::string> got;
        for (const auto& [path, op] : t.entries()) got.push_back(path);
        EXPECT_EQ(got, c.paths);
    }
}

TEST_F(TransactionTest, LoadOfMissingManifestFailsAndChangesNothing) {
    txn.add_move("/a", "/b");
    EXPECT_FALSE(txn.load_manifest(dir / "absent"));
    EXPECT_EQ(txn.size(), 1u);
}

}  // namespace
