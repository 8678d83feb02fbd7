// The journal: bookkeeping, manifest, commit and cancel, failing calls through the fault-injecting
// file system; temporary file placement and the flash space check. Exact free block counts come
// from tmpfs mounts; those tests skip where mounting is not permitted.
#include "txn/transaction.h"

#include "support/faulty_file_system.h"
#include "support/mount_ns.h"
#include "support/process.h"
#include "support/scenario.h"
#include "txn/space.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using namespace std::string_literals;

mode_t mode_of(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 0177777 : 0;
}

class TransactionTest : public ::testing::Test {
protected:
    void SetUp() override { ::umask(022); }
    std::string make(const std::string& rel, const std::string& content = "staged") {
        write_file(dir / rel, content);
        return dir / rel;
    }
    std::string make(const std::string& r, std::size_t n) { return make(r, std::string(n, 'f')); }
    // A temporary file for `path` as create_file makes it, with /ram and /tmp below `dir`.
    OutputFile create(const std::string& path, std::uint32_t size = 10, std::uint32_t mode = 0,
                      const std::string& ram = "ram", const std::string& tmp = "tmp") {
        return create_file_in(txn, path, size, mode, dir / ram, dir / tmp);
    }
    std::string temp_of(const std::string& path) const {
        return txn.pending(path) ? txn.pending(path)->source : "(none)";
    }
    std::string dir_of_temp(const std::string& path) const { return parent_dir(temp_of(path)); }
    bool check(const Transaction& t) {
        return has_flash_space_of(t, dir / "flash/boot", dir / "flash");
    }
    TempDir dir;
    Transaction txn;
    const std::string manifest = dir / "MANIFEST";
};

TEST_F(TransactionTest, LaterOperationsReplaceEarlierOnesDeletingOnlyTemporaryFiles) {
    const std::string target = make("target"), first = make("tmp1"), plain = make("plain");
    txn.add_move("/src", target);
    txn.add_remove(target);
    EXPECT_EQ(pending_entries(txn) + txn.pending(target)->source, "remove " + target + "\n");
    txn.add_op("/flash/a", FileOpKind::MoveTemp, first);
    txn.add_op("/flash/a", FileOpKind::Move, plain);
    EXPECT_FALSE(path_exists(first));
    txn.add_op("/flash/a", FileOpKind::Remove, "");
    // add_remove of a path not on disk drops a MoveTemp with its temporary file.
    const std::string staged = make("tmpabc"), missing = dir / "not-there";
    txn.add_remove(dir / "never-there");
    txn.add_op(missing, FileOpKind::MoveTemp, staged);
    txn.add_remove(missing);
    EXPECT_EQ(txn.size(), 2u);
    txn.add_op(dir / "a", FileOpKind::MoveTemp, make("tmp2"));
    txn.cancel();
    EXPECT_TRUE(txn.is_empty() && path_exists(plain));
    EXPECT_FALSE(path_exists(staged) || path_exists(dir / "tmp2"));
}

TEST_F(TransactionTest, TakeBackRemoveAndDropBelow) {
    const std::string pkgDir = dir / "pdb/pkg/";
    std::filesystem::create_directories(pkgDir);
    txn.add_remove(pkgDir);
    EXPECT_TRUE(txn.take_back_remove(pkgDir));
    EXPECT_EQ(txn.pending(pkgDir), nullptr);
    EXPECT_FALSE(txn.take_back_remove(make("plainfile")));
    EXPECT_TRUE(txn.take_back_remove(dir / "missing/"));
    txn.add_move("/src", pkgDir);
    EXPECT_FALSE(txn.take_back_remove(pkgDir));
    Transaction t;
    const std::string staged = make("tmpdrop");
    t.add_remove("/flash/var/pdb/a");
    t.add_op("/flash/var/pdb/a/files", FileOpKind::MoveTemp, staged);
    for (const char* p : {"/flash/var/pdb/a/sub/deep", "/flash/var/pdb/a-b/f", "/flash/var/pdb/ab"})
        t.add_move("/s", p);
    t.drop_below("/flash/var/pdb/a/");
    EXPECT_EQ(pending_entries(t), "move /flash/var/pdb/a-b/f\nmove /flash/var/pdb/ab\n");
    EXPECT_FALSE(path_exists(staged));
    for (int i = 0; i < 200; ++i) t.add_move("/s", "/flash/d/" + std::to_string(i) + "/x");
    EXPECT_EQ(t.pending("/flash/d/199/x")->path, "/flash/d/199/x");  // past 128 directories
}

TEST_F(TransactionTest, ManifestHoldsOneLinePerEntryInPathOrderAndLoadsByTheLineRules) {
    txn.add_op("/b", FileOpKind::Remove, "");
    txn.add_op("/a", FileOpKind::MoveTemp, "/ram/tmp with space");
    txn.add_link("d", "/c");
    ASSERT_TRUE(txn.save_manifest(manifest));
    EXPECT_EQ(read_file(manifest), "M /a /ram/tmp with space\nU /b\nL /c d\n");
    Transaction back;
    ASSERT_EQ(back.load_manifest(manifest), ManifestLoad::Loaded);
    EXPECT_EQ(back.pending("/a")->op, FileOpKind::Move);  // a reloaded temporary file
    EXPECT_EQ(back.size() + back.pending("/c")->source.size(), 4u);
    EXPECT_EQ(back.load_manifest(dir / "absent"), ManifestLoad::Missing);
    // Entries the manifest cannot hold: nothing is written.
    for (const char* path : {"/flash/with space", "/flash/with\nnewline", "/ram/line\nfeed"}) {
        Transaction t;
        t.add_move(path, path);
        EXPECT_FALSE(t.save_manifest(manifest));
    }
    EXPECT_EQ(read_file(manifest), "M /a /ram/tmp with space\nU /b\nL /c d\n");
    // Loading: the refused line's number, or 0 when the manifest loads; the entries loaded.
    const std::tuple<std::string, std::size_t, std::string> cases[] = {
        {"X /q r\nU /a extra\n", 0, "remove /a\n"},  // an unknown letter is skipped
        {"U \n", 1, ""},
        {"U /a\n\nU /b\n", 2, "remove /a\n"},
        {"U /a\nU /flash/bin/\0q\n"s, 2, "remove /a\n"},
    };
    for (const auto& [text, refused, entries] : cases) {
        SCOPED_TRACE(text);
        write_file(manifest, text);
        Transaction t;
        std::size_t line = 0;
        EXPECT_EQ(t.load_manifest(manifest, &line),
                  refused ? ManifestLoad::Refused : ManifestLoad::Loaded);
        EXPECT_EQ(line, refused);
        EXPECT_EQ(pending_entries(t), entries);
    }
    EXPECT_EQ(txn.load_manifest(dir.path()), ManifestLoad::Refused);  // unreadable
}

TEST_F(TransactionTest, MovesRemovesAndLinksAreDoneAndASecondCommitConverges) {
    const std::string source = make("stage", "content"), at = make("boot/image", "old");
    make("pkg/a");
    make("pkg/.keep");
    txn.add_move(source, dir / "x/y/z");
    txn.add_remove(dir / "pkg");
    txn.add_link("/flash/bootimage", at);
    txn.add_move(dir / "missing", dir / "a");
    const std::string failure = "rename " + dir / "a" + ": No such file or directory\n";
    StderrCapture err;
    EXPECT_FALSE(txn.commit());
    EXPECT_EQ(read_file(dir / "x/y/z"), "content");
    EXPECT_EQ(mode_of(dir / "x/y"), 040755u);
    // A removed directory loses its plain files; one with a dot-name keeps it.
    EXPECT_FALSE(path_exists(dir / "pkg/a"));
    EXPECT_TRUE(path_exists(dir / "pkg/.keep"));
    EXPECT_EQ(std::filesystem::read_symlink(at), "/flash/bootimage");
    EXPECT_FALSE(txn.commit());  // the move done by the first commit is done for the second
    EXPECT_EQ(err.text(), failure + failure);
    EXPECT_EQ(read_file(dir / "x/y/z"), "content");
    EXPECT_FALSE(copy_file(real_file_system(), dir / "pkg", dir / "d1", {}));  // not a file
}

// One call fails: the commit goes on with the other entries, names the call and fails. Every
// move crosses file systems, so it is a copy.
TEST(CommitFaultTest, AFailingCallFailsTheCommitAndIsNamed) {
    const std::tuple<std::string, int, std::string, bool> rows[] = {
        {"none", 0, "", true},
        {"symlink", EIO, "symlink /flash/link: Input/output error\n", true},
        {"remove_dir", EIO, "rmdir /flash/old: Input/output error\n", true},
        {"read", EIO, "copy /flash/new/f: Input/output error\n", false},
        {"write", ENOSPC, "copy /flash/new/f: No space left on device\n", false},
    };
    const std::string data(3 * 16384 - 5, 'd');
    for (const auto& [call, error, message, copied] : rows) {
        SCOPED_TRACE(call);
        TempDir dir;
        FaultyFileSystem fs(dir.path());
        write_file(dir / "flash/old/a", "");
        write_file(dir / "ram/f", data);
        ::chmod((dir / "ram/f").c_str(), 0700);
        Transaction txn(fs);
        txn.add_remove("/flash/old");
        txn.add_link("/flash/target", "/flash/link");
        txn.add_move("/ram/f", "/flash/new/f");
        fs.fail("rename", 1, EXDEV);
        fs.fail(call, 1, error);
        StderrCapture err;
        int blocks = 0;
        EXPECT_EQ(txn.commit([&blocks] { ++blocks; }), message.empty());
        EXPECT_EQ(err.text(), message);
        EXPECT_EQ(read_file(dir / "flash/new/f"), copied ? data : "");  // never a file cut short
        EXPECT_EQ(mode_of(dir / "flash/new/f") + blocks, copied ? 0100700u + 3 : 0);
        EXPECT_EQ(read_file(dir / "ram/f"), data);
    }
}

// Cancelling a staged run deletes the temporary files in /ram, /tmp or the destination's own
// directories, and no other file; a full disk on create registers nothing.
TEST(CommitFaultTest, CancelStagedAndFullDiskOnCreate) {
    TempDir dir;
    FaultyFileSystem fs(dir.path());
    Transaction txn(fs);
    for (const char* file : {"tmp/tmpAbC123", "flash/x/tmpDeF456", "other/tmpGhI789"})
        write_file(dir / file, "");
    txn.add_move("/tmp/tmpAbC123", "/flash/UPGRADED");
    txn.add_move("/flash/x/tmpDeF456", "/flash/x/y/file");
    txn.add_move("/other/tmpGhI789", "/flash/b");
    txn.cancel_staged();
    EXPECT_FALSE(path_exists(dir / "tmp/tmpAbC123") || path_exists(dir / "flash/x/tmpDeF456"));
    EXPECT_TRUE(path_exists(dir / "other/tmpGhI789"));
    fs.fail("make_temp", 1, ENOSPC);
    errno = 0;
    EXPECT_FALSE(create_file(txn, "/flash/c", 0, 0));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_TRUE(txn.is_empty());
}

// Also: a parent strips trailing slashes; a path belongs to a file system before a slash or end.
TEST_F(TransactionTest, TemporaryFilePlacementModesReplacementFailureAndRememberedAncestors) {
    for (const auto& [path, parent] : {std::pair{"/a//b//", "/a"}, {"/a", "/"}, {"///", "."}})
        EXPECT_EQ(parent_dir(path), parent) << path;
    FsSpace boot(real_file_system(), "/nonexistent/flash/boot");
    boot.fs_path = "/flash/boot";
    for (const auto& [path, holds] : {std::pair{"/flash/boot", true}, {"/flash/boot/kernel", true},
                                      {"/flash/bootimage", false}, {"/flash", false}})
        EXPECT_EQ(boot.holds(path), holds) << path;
    for (const char* d : {"ram", "tmp", "flash"}) ASSERT_EQ(::mkdir((dir / d).c_str(), 0755), 0);
    OutputFile a = create(dir / "flash/PCKGS_CHANGED", 0);  // empty files go to /ram
    EXPECT_EQ(dir_of_temp(dir / "flash/PCKGS_CHANGED"), dir / "ram");
    OutputFile b = create(dir / "flash/UPGRADED", 0, 0, "noram");
    EXPECT_EQ(dir_of_temp(dir / "flash/UPGRADED"), dir / "tmp");
    OutputFile c = create(dir / "c"), d = create(dir / "d", 10, 0100755);
    OutputFile e = create(dir / "e", 10, 0104777);  // the bits beyond the umask all the same
    for (const auto& [name, mode] : {std::pair{"c", 0100600u}, {"d", 0100755u}, {"e", 0104777u}})
        EXPECT_EQ(mode_of(temp_of(dir / name)), mode) << name;
    const std::string first = temp_of(dir / "c");
    OutputFile again = create(dir / "c");
    EXPECT_FALSE(path_exists(first));
    EXPECT_TRUE(path_exists(temp_of(dir / "c")));
    errno = 0;  // a failed mkstemp registers nothing and keeps its error number
    EXPECT_FALSE(create(dir / "x", 0, 0, "noram", "notmp"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(txn.size(), 5u);
    std::string deep = dir.path();  // distinct full-length names however deep
    while (deep.size() < 200) deep += "/a-rather-long-directory-name";
    std::filesystem::create_directories(deep);
    OutputFile f = create(deep + "/one"), g = create(deep + "/two");
    EXPECT_NE(temp_of(deep + "/one"), temp_of(deep + "/two"));
    EXPECT_EQ(dir_of_temp(deep + "/one"), deep);
    EXPECT_EQ(temp_of(deep + "/one").size(), deep.size() + 10);
    // A remembered ancestor is walked again when it is gone or when a directory is made.
    ASSERT_TRUE(create(dir / "flash/new/deeper/a").close());
    EXPECT_EQ(dir_of_temp(dir / "flash/new/deeper/a"), dir / "flash");
    txn.cancel();
    ASSERT_EQ(::rmdir((dir / "flash").c_str()), 0);
    // A remembered "flash" would make mkstemp fail; a fresh walk finds the scratch directory.
    EXPECT_TRUE(create(dir / "flash/new/deeper/b"));
    EXPECT_EQ(dir_of_temp(dir / "flash/new/deeper/b"), dir.path());
    make_dirs(real_file_system(), dir / "flash");  // as a commit earlier in the run
    OutputFile third = create(dir / "flash/new/deeper/c");
    EXPECT_EQ(dir_of_temp(dir / "flash/new/deeper/c"), dir / "flash");
}

TEST_F(TransactionTest, TemporaryFileGoesToNearestExistingAncestorWithRoomAskedEachTime) {
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
    Transaction many;  // a manifest of some 9 blocks, which does not fit, is deleted
    for (std::size_t i = 0; i < block / 4; ++i)
        many.add_move("/ram/tmp" + std::to_string(i), "/flash/some/long/path/" + std::to_string(i));
    EXPECT_FALSE(many.save_manifest(dir / "small/MANIFEST"));
    EXPECT_FALSE(path_exists(dir / "small/MANIFEST"));
}

// /flash and /flash/boot as tmpfs of 20 blocks each: at least 16 blocks must stay free on each.
TEST_F(TransactionTest, FlashAndBootKeepSixteenFreeBlocksAndReplacedFilesGiveBlocksBack) {
    SKIP_WITHOUT_MOUNTS();
    TmpfsMount flash(dir / "flash", 20), boot(dir / "flash/boot", 20);
    ASSERT_TRUE(flash.ok() && boot.ok()) << flash.error() << boot.error();
    const std::size_t block = tmpfs_block_size();
    make("flash/boot/kernel", 10 * block);  // boot: 10 free, already below 16
    Transaction kernel;
    kernel.add_move(make("k", block), dir / "flash/boot/k");
    EXPECT_FALSE(check(kernel));  // flash 19, boot 9
    txn.add_move(make("three", 3 * block), dir / "flash/a");
    EXPECT_TRUE(check(txn));  // 17 left
    txn.add_move(make("one", block), dir / "flash/b");
    EXPECT_FALSE(check(txn));  // 16 left
    Transaction replace;
    make("flash/old", 2 * block);  // 18 free now
    replace.add_move(make("new", 3 * block), dir / "flash/old");
    EXPECT_TRUE(check(replace));  // 17
    make("flash/other", block);
    EXPECT_FALSE(check(replace));  // 16
    Transaction inside;  // a move within flash takes no new block
    make("flash/fill", 14 * block);
    inside.add_move(make("flash/tmpX", block), dir / "flash/new/place");
    inside.add_remove(dir / "flash/fill");
    EXPECT_TRUE(check(inside));
    write_file(dir / "huge", "");  // 2^32 + one block, sparse: not cut to 32 bits
    std::filesystem::resize_file(dir / "huge", (std::uint64_t(1) << 32) + block);
    inside.add_move(dir / "huge", dir / "flash/huge");
    EXPECT_FALSE(check(inside));
    Transaction unreadable, removals;  // a flash without statfs
    unreadable.add_move(dir / "flash/tmpX", dir / "nofs/flash/x");
    EXPECT_FALSE(has_flash_space_of(unreadable, dir / "nofs/flash/boot", dir / "nofs/flash"));
    removals.add_remove(dir.path());
    EXPECT_TRUE(has_flash_space_of(removals, dir / "nofs/flash/boot", dir / "nofs/flash"));
}

}  // namespace
