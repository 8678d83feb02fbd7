// The journal: bookkeeping, manifest, commit and cancel and their helpers; cross-device moves
// and full file systems on tmpfs mounts in a private mount namespace.
#include "txn/transaction.h"

#include "core/installer.h"
#include "support/faulty_file_system.h"
#include "support/mount_ns.h"
#include "support/scenario.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::string_literals;

class TransactionTest : public ::testing::Test {
protected:
    void SetUp() override { ::umask(022); }
    std::string make(const std::string& rel, const std::string& content = "staged") {
        write_file(dir / rel, content);
        return dir / rel;
    }
    static std::vector<std::string> paths(const Transaction& t) {
        std::vector<std::string> out;
        for (const auto& [path, op] : t.entries()) out.push_back(path);
        return out;
    }
    static mode_t mode_of(const std::string& path) {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 0177777 : 0;
    }
    std::string commit() {  // what the commit wrote to standard error
        testing::internal::CaptureStderr();
        committed = txn.commit();
        return testing::internal::GetCapturedStderr();
    }
    bool committed = false;
    TempDir dir;
    Transaction txn;
    const std::string manifest = dir / "MANIFEST";
};

TEST_F(TransactionTest, LaterOperationsReplaceEarlierOnesDeletingOnlyTemporaryFiles) {
    const std::string target = make("target"), first = make("tmp1"), plain = make("plain");
    txn.add_move("/src", target);
    txn.add_remove(target);
    EXPECT_EQ(pending_entries(txn), "remove " + target + "\n");
    EXPECT_EQ(txn.pending(target)->source, "");
    txn.add_op("/flash/a", FileOpKind::MoveTemp, first);
    txn.add_op("/flash/a", FileOpKind::Move, plain);
    EXPECT_FALSE(path_exists(first));
    txn.add_op("/flash/a", FileOpKind::Remove, "");
    EXPECT_TRUE(path_exists(plain));
    // add_remove of a path not on disk drops a MoveTemp with its temporary file.
    const std::string staged = make("tmpabc"), missing = dir / "not-there";
    txn.add_remove(dir / "never-there");
    txn.add_op(missing, FileOpKind::MoveTemp, staged);
    txn.add_remove(missing);
    EXPECT_EQ(txn.size(), 2u);
    EXPECT_FALSE(path_exists(staged));
    txn.add_op(dir / "a", FileOpKind::MoveTemp, make("tmp2"));
    txn.add_move(plain, "/flash/keep");
    txn.cancel();
    EXPECT_TRUE(txn.is_empty());
    EXPECT_FALSE(path_exists(dir / "tmp2"));
    EXPECT_TRUE(path_exists(plain));
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
    EXPECT_NE(txn.pending(pkgDir), nullptr);

    Transaction t;
    const std::string staged = make("tmpdrop");
    t.add_remove("/flash/var/pdb/a");
    t.add_op("/flash/var/pdb/a/files", FileOpKind::MoveTemp, staged);
    for (const char* p : {"/flash/var/pdb/a/sub/deep", "/flash/var/pdb/a-b/files",
                          "/flash/var/pdb/ab", "/flash/var/pdb/0"})
        t.add_move("/s", p);
    t.drop_below("/flash/var/pdb/a/");
    EXPECT_EQ(pending_entries(t), "move /flash/var/pdb/0\nmove /flash/var/pdb/a-b/files\n"
                                  "move /flash/var/pdb/ab\n");
    EXPECT_FALSE(path_exists(staged));
    for (int i = 0; i < 200; ++i) t.add_move("/s", "/flash/d/" + std::to_string(i) + "/x");
    EXPECT_EQ(t.pending("/flash/d/199/x")->path, "/flash/d/199/x");  // past 128 directories
}

TEST_F(TransactionTest, ManifestHoldsOneLinePerEntryInPathOrderAndLoadsBack) {
    ASSERT_TRUE(txn.save_manifest(manifest));
    EXPECT_EQ(read_file(manifest), "");
    txn.add_op("/b", FileOpKind::Remove, "");
    txn.add_op("/a", FileOpKind::MoveTemp, "/ram/tmp with space");
    txn.add_link("d", "/c");
    ASSERT_TRUE(txn.save_manifest(manifest));
    EXPECT_EQ(read_file(manifest), "M /a /ram/tmp with space\nU /b\nL /c d\n");
    Transaction back;
    ASSERT_EQ(back.load_manifest(manifest), ManifestLoad::Loaded);
    ASSERT_NE(back.pending("/a"), nullptr);
    EXPECT_EQ(back.pending("/a")->op, FileOpKind::Move);  // a reloaded temporary file
    EXPECT_EQ(back.pending("/a")->source, "/ram/tmp with space");
    EXPECT_EQ(back.pending("/c")->source, "d");
    EXPECT_FALSE(txn.save_manifest(dir / "no/such/MANIFEST"));
    EXPECT_EQ(back.load_manifest(dir / "absent"), ManifestLoad::Missing);
    EXPECT_EQ(back.size(), 3u);
}

TEST_F(TransactionTest, SaveRefusesEntriesTheManifestCannotHoldAndWritesNothing) {
    for (const auto& [path, source] : {std::pair{"/flash/with space"s, "/ram/tmp1"s},
                                       {"/flash/with\nnewline", "/ram/tmp1"},
                                       {"/flash/ok", "/ram/line\nfeed"}}) {
        write_file(manifest, "old\n");
        Transaction t;
        t.add_move("/ram/fine", "/flash/a");
        t.add_move(source, path);
        EXPECT_FALSE(t.save_manifest(manifest));
        EXPECT_EQ(read_file(manifest), "old\n");
    }
}

TEST_F(TransactionTest, LoadFollowsTheLineRules) {
    // The refused line's number, or 0 when the manifest loads.
    const std::tuple<const char*, std::string, std::size_t, std::vector<std::string>> cases[] = {
        {"unknown letter skipped", "X /q r\nU /a extra\n", 0, {"/a"}},
        {"M with two fields stops", "U /a\nM /b\nU /c\n", 2, {"/a"}},
        {"L with two fields stops", "L /b\n", 1, {}}, {"one field stops", "U\n", 1, {}},
        {"empty path stops", "U \n", 1, {}}, {"empty line stops", "U /a\n\nU /b\n", 2, {"/a"}},
        {"cut last line is not obeyed", "U /a\nU /flash/", 2, {"/a"}},
        {"cut only line", "M /a /ram/tm", 1, {}}, {"empty file", "", 0, {}},
        {"NUL in a name stops", "U /a\nU /flash/bin/\0q\n"s, 2, {"/a"}},
    };
    for (const auto& [what, text, refused, entries] : cases) {
        SCOPED_TRACE(what);
        write_file(manifest, text);
        Transaction t;
        std::size_t line = 0;
        EXPECT_EQ(t.load_manifest(manifest, &line),
                  refused ? ManifestLoad::Refused : ManifestLoad::Loaded);
        EXPECT_EQ(line, refused);
        EXPECT_EQ(paths(t), entries);
    }
    EXPECT_EQ(txn.load_manifest(dir.path()), ManifestLoad::Refused);  // unreadable
}

TEST_F(TransactionTest, ParentDirStripsTrailingSlashesFirst) {
    for (const auto& [path, parent] : {std::pair{"/a//b//", "/a"}, {"/a", "/"}, {"///", "."},
                                       {"", "."}, {"a/b", "a"}})
        EXPECT_EQ(parent_dir(path), parent) << path;
}

TEST_F(TransactionTest, MovesRemovesAndLinksReportFailuresAndASecondCommitConverges) {
    const std::string source = make("stage", "content"), at = make("boot/image", "old");
    make("pkg/a");
    make("pkg/.keep");
    make("gone/a");
    make("file");
    txn.add_move(source, dir / "x/y/z");
    txn.add_remove(dir / "pkg");
    txn.add_remove(dir / "gone");
    txn.add_link("/flash/bootimage", at);
    txn.add_link("text", dir / "file/inside");  // parent is a plain file
    txn.add_move(dir / "missing", dir / "a");
    // Each failure names its path; the move done by the first commit is done for the second.
    const std::string failures = "symlink " + dir / "file/inside" + ": Not a directory\nrename " +
                                 dir / "a" + ": No such file or directory\n";
    EXPECT_EQ(commit(), failures);
    EXPECT_FALSE(committed);
    EXPECT_EQ(read_file(dir / "x/y/z"), "content");
    EXPECT_FALSE(path_exists(source));
    EXPECT_EQ(mode_of(dir / "x/y"), 040755u);
    // A removed directory loses its plain files, and itself once empty.
    EXPECT_FALSE(path_exists(dir / "pkg/a"));
    EXPECT_TRUE(path_exists(dir / "pkg/.keep"));
    EXPECT_FALSE(path_exists(dir / "gone"));
    char buf[64] = {};
    ASSERT_GT(::readlink(at.c_str(), buf, sizeof buf - 1), 0);
    EXPECT_STREQ(buf, "/flash/bootimage");
    EXPECT_EQ(txn.size(), 6u);  // commit keeps the entries
    EXPECT_EQ(commit(), failures);
    EXPECT_EQ(read_file(dir / "x/y/z"), "content");
    EXPECT_TRUE(S_ISLNK(mode_of(at)));
}

TEST_F(TransactionTest, CopyRefusesNonRegularSources) {
    ::mkdir((dir / "adir").c_str(), 0755);
    EXPECT_FALSE(copy_file(real_file_system(), dir / "adir", dir / "d1", {}));
    EXPECT_FALSE(copy_file(real_file_system(), dir / "missing", dir / "d2", {}));
    EXPECT_FALSE(path_exists(dir / "d1") || path_exists(dir / "d2"));
}

// A clock for the spinner: every tick read is a full period later.
struct FastClock : TickClock {
    std::uint32_t ticks() override { return now += 21; }
    std::uint32_t now = 30000;
};

TEST_F(TransactionTest, CrossDeviceMoveCopiesWithSpinnerAndKeepsSource) {
    SKIP_WITHOUT_MOUNTS();
    TmpfsMount ram(dir / "ram", 64), flash(dir / "flash", 64);
    ASSERT_TRUE(ram.ok() && flash.ok()) << ram.error() << flash.error();
    const std::string payload(3 * 16384 - 5, 'p'), source = make("ram/tmpAAAAAA", payload);
    ::chmod(source.c_str(), 0700);
    RecordingTerminal term;
    FastClock clock;
    Installer& inst = Installer::reset();
    inst.terminal = &term;
    inst.clock = &clock;
    txn.add_move(source, dir / "flash/sys/file");
    txn.commit([&inst] { inst.spin_step(); });
    Installer::reset();
    EXPECT_EQ(read_file(dir / "flash/sys/file"), payload);
    EXPECT_EQ(mode_of(dir / "flash/sys/file"), 0100700u);
    EXPECT_TRUE(path_exists(source));
    EXPECT_EQ(term.output, "|\b/\b-");  // one step per block
}

TEST_F(TransactionTest, FullDestinationFailsThatCopyWithoutLeavingItCutAndTheCommitGoesOn) {
    SKIP_WITHOUT_MOUNTS();
    TmpfsMount ram(dir / "ram", 64), flash(dir / "flash", 4);
    ASSERT_TRUE(ram.ok() && flash.ok()) << ram.error() << flash.error();
    const std::size_t block = tmpfs_block_size();
    const std::string big = make("ram/big", std::string(8 * block, 'b'));
    txn.add_move(big, dir / "flash/a-big");
    txn.add_move(make("flash/tmpS", "small"), dir / "flash/b-small");  // a rename: no new block
    EXPECT_EQ(commit(), "copy " + dir / "flash/a-big" + ": No space left on device\n");
    EXPECT_FALSE(committed);
    EXPECT_EQ(read_file(dir / "flash/b-small"), "small");
    EXPECT_FALSE(path_exists(dir / "flash/a-big"));  // no file cut short
    EXPECT_EQ(free_blocks(dir / "flash"), 3);
    EXPECT_TRUE(path_exists(big));
    // A manifest that does not fit is deleted.
    for (int i = 0; i < 400; ++i)
        txn.add_move("/ram/tmp" + std::to_string(i), "/flash/some/long/path/" + std::to_string(i));
    TmpfsMount small(dir / "small", 1);
    ASSERT_TRUE(small.ok()) << small.error();
    EXPECT_FALSE(txn.save_manifest(dir / "small/MANIFEST"));
    EXPECT_FALSE(path_exists(dir / "small/MANIFEST"));
}

// A full disk on create registers nothing (a busy program file is shown by the commit run).
TEST(FaultyFileSystemTest, FullDiskOnCreateRegistersNothing) {
    TempDir dir;
    FaultyFileSystem fs(dir.path());
    Transaction full(fs);
    fs.fail("make_temp", 1, ENOSPC);
    errno = 0;
    EXPECT_FALSE(create_file(full, "/flash/c", 0, 0));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_TRUE(full.is_empty());
}

}  // namespace
