// A staged commit killed after each of its steps and run again with "--commit" must leave the
// router exactly as one uninterrupted commit does; after a power loss, which also empties /ram,
// flash stays as the cut left it. The cuts come from the LD_PRELOAD library commit_shim.

#include "e2e/router.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>

namespace {

namespace fs = std::filesystem;

// One path of a tree: kind 'd', 'f' or 'l', its permission bits, and a file's content or a
// link's target.
struct Node {
    char kind = 'f';
    mode_t mode = 0;
    std::string data;
};
using Tree = std::map<std::string, Node>;

// The parts of the root that a commit reads or writes: flash, the RAM disk holding the
// manifest and temporary files, and the off-flash upload directory.
const char* const kTops[] = {"flash", "ram", "rw"};

Tree capture(const Router& r) {
    Tree tree;
    for (const char* top : kTops) {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(r.at(top), ec), end; !ec && it != end;
             it.increment(ec)) {
            const std::string path = it->path().string();
            struct stat st;
            if (::lstat(path.c_str(), &st) != 0) continue;
            Node node;
            node.mode = st.st_mode & 07777;
            if (S_ISDIR(st.st_mode)) {
                node.kind = 'd';
            } else if (S_ISLNK(st.st_mode)) {
                node.kind = 'l';
                node.data = fs::read_symlink(path, ec).string();
            } else {
                node.data = read_file(path);
            }
            tree[path.substr(r.at("").size())] = node;
        }
    }
    return tree;
}

// Puts the tree back: everything below the tops is deleted (the tmpfs mount points stay) and
// made again, directory modes last so that no directory is closed before it is filled.
void restore(const Router& r, const Tree& tree) {
    for (const char* top : kTops) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(r.at(top), ec))
            fs::remove_all(entry.path(), ec);
    }
    for (const auto& [rel, node] : tree) {
        const std::string path = r.at(rel);
        if (node.kind == 'd') {
            ::mkdir(path.c_str(), 0700);
        } else if (node.kind == 'l') {
            ASSERT_EQ(::symlink(node.data.c_str(), path.c_str()), 0) << path;
        } else {
            ASSERT_TRUE(write_file(path, node.data)) << path;
            ::chmod(path.c_str(), node.mode);
        }
    }
    for (const auto& [rel, node] : tree)
        if (node.kind == 'd') ::chmod(r.at(rel).c_str(), node.mode);
}

// Every path whose kind, mode, content or target differs, one per line.
std::string differences(const Tree& want, const Tree& got) {
    std::ostringstream out;
    auto describe = [](const Node& n) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(n.mode));
        return std::string(1, n.kind) + " " + mode + " " + std::to_string(n.data.size()) +
               " bytes " + std::to_string(std::hash<std::string>{}(n.data));
    };
    for (const auto& [path, node] : want) {
        auto it = got.find(path);
        if (it == got.end())
            out << "missing " << path << "\n";
        else if (describe(it->second) != describe(node))
            out << "differs " << path << ": " << describe(it->second) << " instead of "
                << describe(node) << "\n";
    }
    for (const auto& [path, node] : got)
        if (!want.count(path)) out << "left over " << path << " (" << describe(node) << ")\n";
    return out.str();
}

std::string pkg(const std::string& name, const std::string& version, const std::string& lines) {
    return package("name " + name + "\nversion " + version + "\nbuild-time 1700000000\n" + lines);
}

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

class InterruptedCommitTest : public ::testing::Test {
protected:
    // "--commit" with the shim preloaded and `settings` ("COMMIT_SHIM_...=...") for it.
    RunResult commit_with_shim(std::vector<std::string> settings) {
        settings.push_back(std::string("LD_PRELOAD=") + COMMIT_SHIM_LIB);
        // GCC's ASan insists on coming first in the library list unless told otherwise.
        settings.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
        return router->run({"--commit"}, {}, settings);
    }

    // The steps (tree calls, file writes) of an uninterrupted commit of the staged state.
    std::pair<unsigned, unsigned> count_steps() {
        const std::string countFile = scratch / "counts";
        RunResult r = commit_with_shim({"COMMIT_SHIM_COUNT_FILE=" + countFile});
        EXPECT_EQ(r.status, 0) << r.err;
        unsigned calls = 0, writes = 0;
        std::istringstream(read_file(countFile)) >> calls >> writes;
        return {calls, writes};
    }

    // For each cut 1..steps: restore, commit killed at the cut, commit again, compare.
    void sweep(const char* setting, unsigned steps, const Tree& start, const Tree& want) {
        for (unsigned n = 1; n <= steps; ++n) {
            SCOPED_TRACE(std::string(setting) + "=" + std::to_string(n));
            restore(*router, start);
            RunResult cut = commit_with_shim({std::string(setting) + "=" + std::to_string(n)});
            ASSERT_EQ(cut.status, 128 + SIGKILL) << "the shim did not stop the commit";
            RunResult again = router->run({"--commit"});
            EXPECT_EQ(again.status, 0);
            EXPECT_EQ(differences(want, capture(*router)), "") << again.err;
        }
    }

    // Stages the run and records the starting state; false (with a failure) when it cannot.
    bool prepare() {
        router = std::make_unique<Router>();
        if (!router->ok()) {
            ADD_FAILURE() << router->error();
            return false;
        }
        stage(*router, beforeSafe);
        if (HasFatalFailure()) return false;
        start = capture(*router);
        return true;
    }

    TempDir scratch;
    std::unique_ptr<Router> router;
    Tree beforeSafe;
    Tree start;
};

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

TEST_F(InterruptedCommitTest, CommitRunAgainAfterAnyCutEndsAsAnUninterruptedOne) {
    SKIP_WITHOUT_MOUNTS();
    if (!prepare()) return;

    // The staging covers what it claims: moves within flash, across file systems from /ram
    // (the big file spans several copy blocks) and from the upload directory, and removals.
    const std::string manifest = router->read("ram/MANIFEST");
    EXPECT_TRUE(has(manifest, "M /flash/data/big.bin /ram/")) << manifest;
    EXPECT_TRUE(has(manifest, "M /flash/bootimage /rw/pckg/.download/system.npk")) << manifest;
    EXPECT_TRUE(has(manifest, "M /flash/bin/a /flash/")) << manifest;
    EXPECT_TRUE(has(manifest, "L /flash/var/pdb/system/image /flash/bootimage")) << manifest;
    EXPECT_TRUE(has(manifest, "U /flash/var/pdb/old/\n")) << manifest;
    EXPECT_TRUE(has(manifest, "U /flash/etc/a.conf\n")) << manifest;

    RunResult plain = router->run({"--commit"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    const Tree want = capture(*router);
    EXPECT_EQ(want.at("flash/data/big.bin").data, blocks_of(kBigBlocks, 'b'));
    // Copied across file systems over the old file, yet with the new file's mode, as a rename
    // would have given it.
    EXPECT_EQ(want.at("flash/data/big.bin").mode, 0640u);
    EXPECT_EQ(want.at("flash/var/pdb/system/image").data, "/flash/bootimage");
    EXPECT_FALSE(want.count("flash/var/pdb/old"));
    // Known limit: copied sources stay.
    EXPECT_TRUE(want.count("rw/pckg/.download/system.npk"));

    // The shim itself changes nothing when it does not cut.
    restore(*router, start);
    const auto [calls, writes] = count_steps();
    EXPECT_EQ(differences(want, capture(*router)), "");
    ASSERT_GT(calls, 10u);
    ASSERT_GT(writes, 2u);

    sweep("COMMIT_SHIM_KILL_AFTER", calls, start, want);
    sweep("COMMIT_SHIM_KILL_AFTER_WRITE", writes, start, want);
}

// A power loss also empties /ram: the manifest and the files staged there are gone, so the
// "--commit" after the restart has nothing to do, and flash keeps what the cut left.
TEST_F(InterruptedCommitTest, PowerLossLeavesFlashAsTheCutLeftIt) {
    SKIP_WITHOUT_MOUNTS();
    if (!prepare()) return;

    // Between "--safe" and "--commit", flash holds only the staged temporary files beyond what
    // it held before (and the run's post-install log).
    const Tree flashBefore = flash_only(beforeSafe);
    std::size_t stagedOnFlash = 0;
    for (const auto& [path, node] : flash_only(start)) {
        if (flashBefore.count(path)) continue;
        EXPECT_TRUE(is_temporary(path)) << path;
        ++stagedOnFlash;
    }
    for (const auto& [path, node] : flashBefore)
        EXPECT_TRUE(start.count(path) && start.at(path).data == node.data) << path;
    EXPECT_GT(stagedOnFlash, 5u);

    const auto [calls, writes] = count_steps();
    (void)writes;
    for (unsigned n = 1; n <= calls; ++n) {
        SCOPED_TRACE("COMMIT_SHIM_KILL_AFTER=" + std::to_string(n));
        restore(*router, start);
        ASSERT_EQ(commit_with_shim({"COMMIT_SHIM_KILL_AFTER=" + std::to_string(n)}).status,
                  128 + SIGKILL);
        const Tree cut = flash_only(capture(*router));
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(router->at("ram"), ec))
            fs::remove_all(entry.path(), ec);
        RunResult after = router->run({"--commit"});
        EXPECT_EQ(after.status, 0);
        EXPECT_EQ(after.out, "finishing install... \b \n");
        EXPECT_EQ(differences(cut, flash_only(capture(*router))), "");
        if (n == 1) {
            // Cut before any move: every file staged on flash is still there, under its
            // temporary name, and nothing will ever delete it.
            std::size_t temporaries = 0;
            for (const auto& [path, node] : cut) temporaries += is_temporary(path);
            EXPECT_EQ(temporaries, stagedOnFlash);
        }
    }

    // A copy across file systems writes over its destination: cut after its first block, the
    // old big file is gone and the new one holds that block only. (The boot image, copied
    // before it, takes the first write.)
    restore(*router, start);
    ASSERT_EQ(commit_with_shim({"COMMIT_SHIM_KILL_AFTER_WRITE=2"}).status, 128 + SIGKILL);
    EXPECT_EQ(router->read("flash/data/big.bin"), blocks_of(kBigBlocks, 'b').substr(0, 16384));
}

}  // namespace
