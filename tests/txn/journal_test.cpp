// A file system that forgets every unsynced change cuts a journaled upgrade after each step: the
// next run's recovery must leave exactly the committed tree, or the tree before the commit.
#include "txn/journal.h"

#include "cli/run_guard.h"
#include "support/faulty_file_system.h"
#include "support/process.h"
#include "support/scenario.h"
#include "txn/space.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::string>;

// Every path below `root`: directories, link targets, and files with mode and content.
Tree tree_of(const std::string& root) {
    Tree out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        out[e.path().string().substr(root.size())] =
            e.is_symlink()     ? "-> " + fs::read_symlink(e.path()).string()
            : e.is_directory() ? "dir"
                               : std::to_string(unsigned(e.status().permissions())) + " " +
                                     read_file(e.path());
    return out;
}

// An installed router and an upgrade staged over it: replaced, new and removed files and
// directories, a link, database files, a marker and the boot image.
struct Upgrade {
    using Staged = std::tuple<std::string, std::string, std::uint32_t>;
    Upgrade() {
        for (const auto& [rel, content] : std::map<std::string, std::string>{
                 {"flash/bin/a", "one"}, {"flash/etc/a.conf", "conf"},
                 {"flash/old/bin/tool", "tool"}, {"flash/var/pdb/a/version", "6.40"},
                 {"flash/var/pdb/old/version", "1.0"}, {"flash/var/pdb/old/files", "old"},
                 {"flash/bootimage", "kernel-1"}})
            write_file(dir / rel, content);
        fs::create_directories(dir / "ram");
        files.sync_everything();
        before = tree_of(dir.path());
        forget_temp_dir_walks();
        txn.set_staging_marker(kStagingMarkerPath);
        for (const auto& [path, content, mode] : std::initializer_list<Staged>{
                 {"bin/a", "two", 0755}, {"lib/a/mod/m.so", "module", 0644},
                 {"var/pdb/a/version", "6.41", 0}, {"bootimage", "kernel-2", 0},
                 {"var/pdb/a/files", "bin/a\nlib/a/mod/m.so\n", 0}, {"PCKGS_CHANGED", "", 0}}) {
            auto out = create_file(txn, "/flash/" + path, std::uint32_t(content.size() + 1), mode);
            out << content;
            (void)out.close();
        }
        for (const char* path : {"/flash/etc/a.conf", "/flash/old/bin/tool", "/flash/var/pdb/old/"})
            txn.add_remove(path);
        txn.add_link("/flash/bootimage", "/flash/var/pdb/a/image");
    }
    TempDir dir;
    FaultyFileSystem files{dir.path()};
    Transaction txn{files};
    Tree before;
};

TEST(JournalTest, PowerCutAtAnyStepLeavesTheCommitDoneOrUndoneAfterRecovery) {
    Scenario s;
    Tree want;
    int steps = 0;
    {
        Upgrade u;
        const int start = u.files.changes();
        ASSERT_TRUE(commit_journaled(u.txn, kJournalPath));
        steps = u.files.changes() - start;
        u.files.remove_file(kStagingMarkerPath);  // as the end of the run does
        want = tree_of(u.dir.path());
        ASSERT_EQ(want.at("/flash/var/pdb/a/image"), "-> /flash/bootimage");
        ASSERT_FALSE(want.count("/flash/var/pdb/old"));
    }
    bool committed = false;
    for (int n = 1; n <= steps; ++n) {
        SCOPED_TRACE(n);
        Upgrade u;
        u.files.cut_after(n);
        {
            StderrCapture quiet;  // the failing calls are reported
            (void)commit_journaled(u.txn, kJournalPath);
        }
        u.files.power_cut();
        const bool journal = path_exists(u.dir / "flash/var/pdb/.journal");
        s.terminal.output.clear();
        EXPECT_TRUE(recover_interrupted_run(s.installer, u.files, "/ram/MANIFEST"));
        EXPECT_EQ(s.terminal.output == "finishing interrupted install...\n", journal);
        const Tree now = tree_of(u.dir.path());
        // Once the journal is on flash the commit can no longer be undone, only finished.
        EXPECT_TRUE(now == want || now == u.before);
        EXPECT_FALSE(committed && now != want);
        committed = now == want;
    }
    EXPECT_TRUE(committed);
    // A journal that cannot be made is reported, leaves no part behind, and the commit goes on
    // without it.
    for (const char* call : {"create", "sync"}) {
        Upgrade u;
        u.files.fail(call, 1, ENOSPC);
        StderrCapture err;
        EXPECT_TRUE(commit_journaled(u.txn, kJournalPath));
        EXPECT_EQ(err.text(), "journal /flash/var/pdb/.journal: No space left on device\n");
        EXPECT_EQ(read_file(u.dir / "flash/bin/a"), "two");
        EXPECT_FALSE(path_exists(u.dir / "flash/var/pdb/.journal.new"));
    }
}

}  // namespace
