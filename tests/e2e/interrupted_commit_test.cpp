// A commit killed after any of its steps, staged or direct, is finished by the next run, which
// leaves the router exactly as one uninterrupted commit does; after a power loss, which also
// empties /ram, only a file copied from /ram can be lost. The cuts come from the LD_PRELOAD
// library commit_shim.

#include "e2e/router.h"

#include "core/file_system.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>

namespace {

Tree capture(const Router& r) { return snapshot(r.at("")); }

// File content that differs in every block, so that a copy cut between blocks shows.
std::string blocks_of(std::uint64_t blocks, char tag) {
    std::string text;
    for (std::uint64_t i = 0; text.size() < blocks * tmpfs_block_size(); ++i)
        text += std::string(1, tag) + std::to_string(i) + " ";
    return text.substr(0, blocks * tmpfs_block_size());
}

constexpr std::uint64_t kBigBlocks = 100;
const std::string kUp = "flash/rw/pckg/", kDown = "rw/pckg/.download/";

// A staged "--safe" run over an installed router: a boot package and a big file replaced from
// off flash, a package upgraded with replaced, new (in new directories), empty and dropped
// files, one uninstalled. `beforeSafe` receives the tree as the "--safe" run found it.
void stage(const Router& r, Tree& beforeSafe) {
    r.put(kUp + "system.npk", short_package("system 6.40; flags boot; image text kernel-1"));
    r.put(kUp + "a.npk", short_package("a 6.40; file bin/a 0755 one; file etc/a.conf 0644 conf; "
                                       "file lib/a/plug.so 0755 plug-1"));
    r.put(kUp + "old.npk", short_package("old 1.0; file old/bin/tool 0755 tool; "
                                         "file old/share/doc/readme 0644 doc"));
    r.put(kUp + "big.npk", short_package("big 1.0; file data/big.bin 0644 " +
                                         blocks_of(kBigBlocks, 'a')));
    RunResult first = r.run({}, {}, {"bootimage=1"});
    ASSERT_EQ(r.installed(), "a 6.40, big 1.0, old 1.0, system 6.40") << first.out;
    for (const char* name : {"a.npk", "old.npk", "big.npk"})
        std::filesystem::remove(r.at(kUp + name));
    // Too little room on flash for the new big file beside the old one: it is staged in /ram
    // and its commit is a copy across file systems.
    FreeSpace space;
    ASSERT_TRUE(real_file_system().free_space(r.at("flash"), space));
    const std::int64_t spare = std::int64_t(space.freeBlocks) - std::int64_t(kBigBlocks + 5);
    ASSERT_GT(spare, 0);
    r.put("flash/filler", std::string(std::size_t(spare) * tmpfs_block_size(), 'f'));
    r.put(kDown + "system.npk", short_package("system 6.41; flags boot; image text kernel-2"));
    r.put(kDown + "a.npk", short_package("a 6.41; file bin/a 0755 two; file bin/a-helper 0700 h; "
                                         "file lib/a/plug.so 0755 plug-2; file lib/a/mod/net/m.so "
                                         "0644 mod; file share/a/doc/readme 0444 readme; "
                                         "file etc/a.empty 0600"));
    r.put(kDown + "big.npk", short_package("big 1.1; file data/big.bin 0640 " +
                                           blocks_of(kBigBlocks, 'b')));
    r.schedule("old", "uninstall");
    beforeSafe = capture(r);
    ASSERT_EQ(r.run({"--safe"}, {}, {"bootimage=1"}).status, 0);
    ASSERT_TRUE(has(r.read("ram/MANIFEST"), "M /flash/data/big.bin /ram/"));
}

// GCC's ASan insists on coming first in the library list unless told otherwise.
RunResult commit_with_shim(const Router& r, const std::string& setting,
                           const std::vector<std::string>& args = {"--commit"}) {
    return r.run(args, {}, {setting, std::string("LD_PRELOAD=") + COMMIT_SHIM_LIB,
                            "ASAN_OPTIONS=verify_asan_link_order=0", "bootimage=1"});
}

// The tree calls and file writes of an uncut run, which the shim itself must not change.
std::pair<unsigned, unsigned> count_steps(const Router& r, const std::vector<std::string>& args) {
    TempDir scratch;
    EXPECT_EQ(commit_with_shim(r, "COMMIT_SHIM_COUNT_FILE=" + scratch / "counts", args).status, 0);
    unsigned calls = 0, writes = 0;
    EXPECT_EQ(std::sscanf(read_file(scratch / "counts").c_str(), "%u %u", &calls, &writes), 2);
    EXPECT_GT(calls, 10u);
    return {calls, writes};
}

// For each cut 1..steps of `setting`: back to `start`, the run killed at the cut, `check`.
void each_cut(const Router& r, const char* setting, unsigned steps, const Tree& start,
              const std::function<void()>& check,
              const std::vector<std::string>& args = {"--commit"}) {
    for (unsigned n = 1; n <= steps; ++n) {
        const std::string cut = std::string(setting) + "=" + std::to_string(n);
        SCOPED_TRACE(cut);
        r.restore(start);
        ASSERT_EQ(commit_with_shim(r, cut, args).status, 128 + SIGKILL) << "the shim did not cut";
        check();
    }
}

// The flash part of a tree, without the post-install log.
Tree flash_only(Tree tree) {
    std::erase_if(tree, [](const auto& entry) {
        return !entry.first.starts_with("flash/") || entry.first == "flash/postlog";
    });
    return tree;
}

TEST(InterruptedCommit, RunAgainAfterAnyCutEndsAsAnUninterruptedOneAndPowerLossKeepsTheCut) {
    ROUTER(r);
    Tree beforeSafe;
    stage(r, beforeSafe);
    if (HasFatalFailure()) return;
    const Tree start = capture(r);
    ASSERT_EQ(r.run({"--commit"}).status, 0);
    const Tree want = capture(r);
    // Copied across file systems, yet with the new file's mode, as a rename would have given it.
    EXPECT_TRUE(want.at("flash/data/big.bin") == "file 0640 " + blocks_of(kBigBlocks, 'b'));
    EXPECT_TRUE(want.count("rw/pckg/.download/system.npk"));  // known limit: copied sources stay
    r.restore(start);
    const auto [calls, writes] = count_steps(r, {"--commit"});
    EXPECT_EQ(difference(want, capture(r)), "");

    const auto commit_again = [&] {
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
    auto without_ram_copy = [](Tree t) { return t.erase("flash/data/big.bin"), flash_only(t); };
    const Tree finished = without_ram_copy(want), unstaged = without_ram_copy(beforeSafe);
    std::set<bool> outcomes;
    each_cut(r, "COMMIT_SHIM_KILL_AFTER", calls, start, [&] {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(r.at("ram"), ec))
            std::filesystem::remove_all(entry.path(), ec);
        const bool journal = path_exists(r.at("flash/var/pdb/.journal"));
        RunResult after = r.run({"--commit"});
        EXPECT_EQ(has(after.out, "finishing interrupted install...\n"), journal) << after.out;
        const Tree now = without_ram_copy(capture(r));
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
    r.put(kUp + "system.npk", short_package("system 6.40; flags boot; image text kernel-1"));
    r.put(kUp + "a.npk", short_package("a 6.40; file bin/a 0755 one; file etc/a.conf 0644 conf"));
    r.put(kUp + "old.npk", short_package("old 1.0; file old/bin/tool 0755 tool"));
    ASSERT_EQ(r.run({}, {}, {"bootimage=1"}).status, 0);
    r.put(kUp + "system.npk", short_package("system 6.41; flags boot; image text kernel-2"));
    r.put(kUp + "a.npk", short_package("a 6.41; file bin/a 0755 two; file lib/a/mod/m.so 0644 m"));
    r.schedule("old", "uninstall");
    const Tree start = capture(r);
    const unsigned calls = count_steps(r, {}).first;
    const Tree want = flash_only(capture(r));
    ASSERT_TRUE(has(r.read("flash/bootimage"), "kernel-2"));
    each_cut(r, "COMMIT_SHIM_KILL_AFTER", calls, start, [&] {
        // The listing, which takes no lock and waits for no one, finishes the commit too when
        // no other run holds the lock.
        if (path_exists(r.at("flash/var/pdb/.journal"))) {
            EXPECT_TRUE(r.run({"--show"}).out.starts_with("finishing interrupted install...\n"));
            EXPECT_FALSE(path_exists(r.at("flash/var/pdb/.journal")));
        }
        RunResult next = r.run({}, {}, {"bootimage=1"});
        EXPECT_EQ(next.status, 0) << next.out << next.err;
        EXPECT_EQ(difference(want, flash_only(capture(r))), "") << next.out;
    }, {});
}

}  // namespace
