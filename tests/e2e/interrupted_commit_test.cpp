// A commit killed after any of its steps, staged or direct, is finished by the next run, which
// leaves the router exactly as one uninterrupted commit does; after a power loss, which also
// empties /ram, only a file copied from /ram can be lost. The cuts come from the LD_PRELOAD
// library commit_shim.

#include "e2e/router.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;

Tree capture(const Router& r) { return snapshot(r.at(""), true); }

// File content that differs in every block, so that a copy cut between blocks shows. One line, as
// a package description takes it.
std::string blocks_of(std::uint64_t blocks, char tag) {
    const std::uint64_t size = blocks * tmpfs_block_size();
    std::string text;
    text.reserve(size);
    for (std::uint64_t i = 0; text.size() < size; ++i)
        text += std::string(1, tag) + std::to_string(i) + " ";
    text.resize(size);
    return text;
}

constexpr std::uint64_t kBigBlocks = 100;

// A staged "--safe" run over an installed router: a boot package and a package carrying big
// files replaced from off flash, a package upgraded with replaced, new (in new directories),
// empty and dropped files, and a package uninstalled with its database directory.
// `beforeSafe` receives the tree as the "--safe" run found it.
void stage(const Router& r, Tree& beforeSafe) {
    r.upload("system.npk", pkg("system", "6.40", "flags boot\nimage text kernel-1\n"));
    r.upload("a.npk", pkg("a", "6.40",
                          "file bin/a 0755 one\nfile etc/a.conf 0644 conf\n"
                          "file lib/a/plug.so 0755 plug-1\n"));
    r.upload("old.npk", pkg("old", "1.0",
                            "file old/bin/tool 0755 tool\nfile old/share/doc/readme 0644 doc\n"));
    r.upload("big.npk", pkg("big", "1.0", "file data/big.bin 0644 " + blocks_of(kBigBlocks, 'a') +
                                              "\n"));
    RunResult first = r.upgrade({}, {"bootimage=1"});
    ASSERT_EQ(first.status, 0) << first.out;
    ASSERT_EQ(r.installed(), "a 6.40, big 1.0, old 1.0, system 6.40") << first.out;
    for (const char* name : {"a.npk", "old.npk", "big.npk"})
        ::unlink(r.at(std::string("flash/rw/pckg/") + name).c_str());

    // Leaves too little room on flash for the new big file next to the old one, so that it is
    // staged in /ram and its commit is a copy across file systems.
    const std::int64_t spare = free_blocks(r.at("flash")) - std::int64_t(kBigBlocks + 5);
    ASSERT_GT(spare, 0);
    r.put("flash/filler", std::string(std::size_t(spare) * tmpfs_block_size(), 'f'));

    const std::string download = "rw/pckg/.download/";
    r.upload("system.npk", pkg("system", "6.41", "flags boot\nimage text kernel-2\n"), download);
    r.upload("a.npk", pkg("a", "6.41",
                          "file bin/a 0755 two\nfile bin/a-helper 0700 helper\n"
                          "file lib/a/plug.so 0755 plug-2\nfile lib/a/mod/net/m.so 0644 mod\n"
                          "file share/a/doc/readme 0444 readme\nfile etc/a.empty 0600\n"),
             download);
    r.upload("big.npk", pkg("big", "1.1", "file data/big.bin 0640 " + blocks_of(kBigBlocks, 'b') +
                                              "\n"), download);
    r.schedule("old", "uninstall");
    beforeSafe = capture(r);
    RunResult safe = r.upgrade({"--safe"}, {"bootimage=1"});
    ASSERT_EQ(safe.status, 0) << safe.out;
    ASSERT_TRUE(r.exists("ram/MANIFEST"));
}

RunResult commit_with_shim(const Router& r, const std::string& setting,
                           const std::vector<std::string>& args = {"--commit"}) {
    // GCC's ASan insists on coming first in the library list unless told otherwise.
    return r.run(args, {},
                 {setting, std::string("LD_PRELOAD=") + COMMIT_SHIM_LIB,
                  "ASAN_OPTIONS=verify_asan_link_order=0", "bootimage=1"});
}

// For each cut 1..steps of `setting`: back to `start`, the commit killed at the cut, `check`.
void each_cut(const Router& r, const char* setting, unsigned steps, const Tree& start,
              const std::function<void(unsigned)>& check) {
    for (unsigned n = 1; n <= steps; ++n) {
        const std::string cut = std::string(setting) + "=" + std::to_string(n);
        SCOPED_TRACE(cut);
        r.restore(start);
        ASSERT_EQ(commit_with_shim(r, cut).status, 128 + SIGKILL) << "the shim did not cut";
        check(n);
    }
}

// The flash part of a tree, without the post-install log.
Tree flash_only(const Tree& tree) {
    Tree part;
    for (const auto& [path, node] : tree)
        if (path.starts_with("flash/") && path != "flash/postlog") part[path] = node;
    return part;
}

bool is_temporary(const std::string& path) {
    return path.substr(path.rfind('/') + 1).starts_with("tmp");
}

TEST(InterruptedCommit, RunAgainAfterAnyCutEndsAsAnUninterruptedOneAndPowerLossKeepsTheCut) {
    ROUTER(r);
    Tree beforeSafe;
    stage(r, beforeSafe);
    if (HasFatalFailure()) return;
    const Tree start = capture(r);

    // The staging covers what it claims: moves within flash, across file systems from /ram
    // (the big file spans several copy blocks) and from the upload directory, and removals.
    const std::string manifest = r.read("ram/MANIFEST");
    for (const char* entry :
         {"M /flash/data/big.bin /ram/", "M /flash/bootimage /rw/pckg/.download/system.npk",
          "M /flash/bin/a /flash/", "L /flash/var/pdb/system/image /flash/bootimage",
          "U /flash/var/pdb/old/\n", "U /flash/etc/a.conf\n"})
        EXPECT_TRUE(has(manifest, entry)) << entry << " in\n" << manifest;
    // Beyond what flash held before, "--safe" left only staged temporary files there.
    const Tree flashBefore = flash_only(beforeSafe);
    std::size_t stagedOnFlash = 0;
    for (const auto& [path, node] : flash_only(start)) {
        if (flashBefore.count(path) || path == "flash/.staging") continue;
        EXPECT_TRUE(is_temporary(path)) << path;
        ++stagedOnFlash;
    }
    for (const auto& [path, node] : flashBefore)
        EXPECT_TRUE(start.count(path) && start.at(path) == node) << path;
    EXPECT_GT(stagedOnFlash, 5u);

    RunResult plain = r.run({"--commit"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    const Tree want = capture(r);
    // Copied across file systems over the old file, yet with the new file's mode, as a rename
    // would have given it.
    EXPECT_TRUE(want.at("flash/data/big.bin") == "file 0640 " + blocks_of(kBigBlocks, 'b'));
    EXPECT_EQ(want.at("flash/var/pdb/system/image"), "-> /flash/bootimage");
    EXPECT_FALSE(want.count("flash/var/pdb/old"));
    EXPECT_TRUE(want.count("rw/pckg/.download/system.npk"));  // known limit: copied sources stay

    // The steps (tree calls, file writes) of an uncut commit; the shim itself changes nothing.
    r.restore(start);
    TempDir scratch;
    EXPECT_EQ(commit_with_shim(r, "COMMIT_SHIM_COUNT_FILE=" + scratch / "counts").status, 0);
    unsigned calls = 0, writes = 0;
    std::istringstream(read_file(scratch / "counts")) >> calls >> writes;
    EXPECT_EQ(difference(want, capture(r)), "");
    ASSERT_GT(calls, 10u);
    ASSERT_GT(writes, 2u);

    const auto commit_again = [&](unsigned) {
        RunResult again = r.run({"--commit"});
        EXPECT_EQ(again.status, 0);
        EXPECT_EQ(difference(want, capture(r)), "") << again.err;
    };
    each_cut(r, "COMMIT_SHIM_KILL_AFTER", calls, start, commit_again);
    each_cut(r, "COMMIT_SHIM_KILL_AFTER_WRITE", writes, start, commit_again);

    // A power loss also empties /ram: the manifest and the files staged there are gone. The next
    // run finishes the commit from its journal on flash, or, cut before the journal was
    // written, deletes the staged files: flash ends as the commit or the "--safe" run left
    // it. Only the file copied from /ram may be neither (the limit the warning tells of).
    const auto without_ram_copy = [](Tree tree) {
        tree.erase("flash/data/big.bin");
        return tree;
    };
    const Tree finished = without_ram_copy(flash_only(want));
    const Tree unstaged = without_ram_copy(flash_only(beforeSafe));
    std::set<bool> outcomes;
    each_cut(r, "COMMIT_SHIM_KILL_AFTER", calls, start, [&](unsigned) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(r.at("ram"), ec))
            fs::remove_all(entry.path(), ec);
        const bool journal = r.exists("flash/var/pdb/.journal");
        RunResult after = r.run({"--commit"});
        EXPECT_EQ(has(after.out, "finishing interrupted install...\n"), journal) << after.out;
        const Tree now = without_ram_copy(flash_only(capture(r)));
        const bool done = difference(finished, now).empty();
        EXPECT_TRUE(done || !journal);
        EXPECT_TRUE(done || difference(unstaged, now).empty()) << difference(unstaged, now);
        outcomes.insert(done);
    });
    EXPECT_EQ(outcomes.size(), 2u);

    // A copy across file systems with no room beside the old file removes it first: cut after
    // its first block, the old big file is gone and the new one holds that block only. (The
    // journal and the boot image, copied before it, take the first writes.)
    r.restore(start);
    ASSERT_EQ(commit_with_shim(r, "COMMIT_SHIM_KILL_AFTER_WRITE=3").status, 128 + SIGKILL);
    EXPECT_EQ(r.read("flash/data/big.bin"), blocks_of(kBigBlocks, 'b').substr(0, 16384));
}

// A direct run (an upgrade with replaced, new and dropped files, a boot image and an
// uninstall) killed at each of its steps, unpacking included: the next plain run ends with the
// flash of one uninterrupted run, from the journal or from the uploads again.
TEST(InterruptedCommit, DirectRunKilledAnywhereIsFinishedByTheNextRun) {
    ROUTER(r);
    r.upload("system.npk", pkg("system", "6.40", "flags boot\nimage text kernel-1\n"));
    r.upload("a.npk", pkg("a", "6.40", "file bin/a 0755 one\nfile etc/a.conf 0644 conf\n"));
    r.upload("old.npk", pkg("old", "1.0", "file old/bin/tool 0755 tool\n"));
    ASSERT_EQ(r.upgrade({}, {"bootimage=1"}).status, 0);
    r.upload("system.npk", pkg("system", "6.41", "flags boot\nimage text kernel-2\n"));
    r.upload("a.npk", pkg("a", "6.41", "file bin/a 0755 two\nfile lib/a/mod/m.so 0644 m\n"));
    r.schedule("old", "uninstall");
    const Tree start = capture(r);
    TempDir scratch;
    ASSERT_EQ(commit_with_shim(r, "COMMIT_SHIM_COUNT_FILE=" + scratch / "counts", {}).status, 0);
    const Tree want = flash_only(capture(r));
    ASSERT_TRUE(has(r.read("flash/bootimage"), "kernel-2"));
    unsigned calls = 0;
    std::istringstream(read_file(scratch / "counts")) >> calls;
    ASSERT_GT(calls, 10u);
    for (unsigned n = 1; n <= calls; ++n) {
        SCOPED_TRACE(n);
        r.restore(start);
        const std::string cut = "COMMIT_SHIM_KILL_AFTER=" + std::to_string(n);
        ASSERT_EQ(commit_with_shim(r, cut, {}).status, 128 + SIGKILL);
        // The listing, which takes no lock and waits for no one, finishes the commit too when
        // no other run holds the lock.
        if (r.exists("flash/var/pdb/.journal")) {
            EXPECT_TRUE(r.run({"--show"}).out.starts_with("finishing interrupted install...\n"));
            EXPECT_FALSE(r.exists("flash/var/pdb/.journal"));
        }
        RunResult next = r.upgrade({}, {"bootimage=1"});
        EXPECT_EQ(next.status, 0) << next.out << next.err;
        EXPECT_EQ(difference(want, flash_only(capture(r))), "") << next.out;
    }
}

}  // namespace
