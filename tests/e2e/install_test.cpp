// The default upgrade run end to end: installs, upgrades and downgrades from the upload
// directories, bundles, conflicts, staging, space failures, the boot image and the log.

#include "e2e/router.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(InstallRun, InstallsSkipsOrReinstallsWhatIsInstalledAndUpgrades) {
    ROUTER(r);
    r.upload("a.npk", pkg("a", "6.40", "file bin/a 0755 one\nfile etc/a.conf 0644 conf\n"));
    RunResult first = r.upgrade();
    EXPECT_EQ(first.status, 0) << first.out;
    EXPECT_TRUE(has(first.out, "installed a-6.40")) << first.out;
    EXPECT_EQ(r.installed(), "a 6.40");
    EXPECT_EQ(r.read("flash/bin/a"), "one");
    EXPECT_EQ(r.read("flash/etc/a.conf"), "conf");
    EXPECT_TRUE(r.exists("flash/PCKGS_CHANGED"));
    EXPECT_TRUE(has(r.read("flash/postlog"), "installed a-6.40\n"));

    // A file without an image chunk stays in the upload directory: the next run is told it is
    // already installed, and goes on (and succeeds) rather than failing.
    const auto before = r.flash();
    RunResult again = r.upgrade();
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_EQ(r.flash(), before);
    RunResult re = r.upgrade({"--reinstall"});
    EXPECT_EQ(re.status, 0) << re.out;
    EXPECT_TRUE(has(re.out, "\nResuming upgrade...\n")) << re.out;
    EXPECT_TRUE(has(re.out, "installed a-6.40")) << re.out;
    EXPECT_EQ(r.read("flash/bin/a"), "one");

    r.upload("a.npk", pkg("a", "6.41", "file bin/a 0755 two\nfile bin/new 0755 new\n"));
    RunResult up = r.upgrade();
    EXPECT_EQ(up.status, 0) << up.out;
    EXPECT_EQ(r.installed(), "a 6.41");
    EXPECT_EQ(r.read("flash/bin/a"), "two");
    EXPECT_EQ(r.read("flash/bin/new"), "new");
    EXPECT_FALSE(r.exists("flash/etc/a.conf"));
    // The log keeps the earlier run's lines before this run's.
    const std::string log = r.read("flash/postlog");
    EXPECT_LT(log.find("installed a-6.40"), log.find("installed a-6.41")) << log;
}

TEST(InstallRun, DowngradeNeedsPermissionAndRespectsTheFloor) {
    ROUTER(r);
    r.upload("a.npk", pkg("a", "6.41", "file bin/a 0755 new\n"));
    ASSERT_EQ(r.upgrade().status, 0);

    r.upload("a.npk", pkg("a", "6.39", "file bin/a 0755 old\n"));
    RunResult refused = r.upgrade();
    EXPECT_EQ(refused.status, 0) << refused.out;
    EXPECT_EQ(r.installed(), "a 6.41");

    // The floor is the lowest version a candidate may have.
    r.put("ram/DOWNGRADE", std::to_string(ver(6, 40)) + "\n");
    EXPECT_EQ(r.upgrade().status, 0);
    EXPECT_EQ(r.installed(), "a 6.41");
    r.put("ram/DOWNGRADE", "");
    RunResult marker = r.upgrade();
    EXPECT_EQ(marker.status, 0) << marker.out;
    EXPECT_EQ(r.installed(), "a 6.39");
    EXPECT_EQ(r.read("flash/bin/a"), "old");

    ::unlink(r.at("ram/DOWNGRADE").c_str());
    r.upload("a.npk", pkg("a", "6.38", "file bin/a 0755 older\n"));
    EXPECT_EQ(r.upgrade().status, 0);
    EXPECT_EQ(r.installed(), "a 6.39");
    RunResult down = r.upgrade({"-down"});
    EXPECT_EQ(down.status, 0) << down.out;
    EXPECT_EQ(r.installed(), "a 6.38");
}

TEST(InstallRun, TakesCandidatesFromTheFirstUploadDirectoryThatHasOne) {
    ROUTER(r);
    r.upload("a.npk", pkg("a", "6.41"), "rw/pckg/.download/");
    r.upload("A.NPK", pkg("a", "6.50"), "rw/pckg/.download/");
    r.upload("a.npk.old", pkg("a", "6.50"), "rw/pckg/.download/");
    r.upload(".a.npk", pkg("a", "6.50"), "rw/pckg/.download/");
    r.upload("a.npk", pkg("a", "6.42"), "flash/rw/pckg/");
    r.upload("a.dpk", pkg("a", "6.43"), "flash/var/pckg/");
    r.upload("broken.npk", "not a package", "flash/var/pckg/");

    EXPECT_EQ(r.upgrade().status, 0);
    EXPECT_EQ(r.installed(), "a 6.41");
    r.put("rw/pckg/.download/IGNORE", "");
    EXPECT_EQ(r.upgrade().status, 0);
    EXPECT_EQ(r.installed(), "a 6.42");
    ::unlink(r.at("flash/rw/pckg/a.npk").c_str());
    RunResult third = r.upgrade();
    EXPECT_EQ(third.status, 0) << third.out;
    EXPECT_TRUE(has(third.out, "ERROR: broken package broken.npk")) << third.out;
    EXPECT_EQ(r.installed(), "a 6.43");
}

TEST(InstallRun, BundleOptionalMembersAndDroppedMembers) {
    ROUTER(r);
    const std::vector<PackageDescription> v40 = {recipe("core", ver(6, 40), {"bin/core=c"}),
                                                 recipe("extra", ver(6, 40), {"bin/extra=e"})};
    r.upload("suite.npk", bundle("suite", ver(6, 40), v40, {"extra"}));
    RunResult first = r.upgrade();
    EXPECT_EQ(first.status, 0) << first.out;
    // An optional member the user never chose goes in disabled, aside.
    EXPECT_EQ(r.installed(), "core B 6.40, extra X B 6.40, suite 6.40");
    EXPECT_EQ(r.read("flash/x/extra/bin/extra"), "e");
    EXPECT_FALSE(r.exists("flash/bin/extra"));

    // The user's choice to enable it holds across the bundle's upgrade.
    r.schedule("extra", "enable");
    ASSERT_EQ(r.upgrade().status, 0);
    ::unlink(r.at("ram/pdb/extra/schedule").c_str());
    EXPECT_EQ(r.installed(), "core B 6.40, extra B 6.40, suite 6.40");
    const std::vector<PackageDescription> v41 = {recipe("core", ver(6, 41), {"bin/core=c2"}),
                                                 recipe("extra", ver(6, 41), {"bin/extra=e2"})};
    r.upload("suite.npk", bundle("suite", ver(6, 41), v41, {"extra"}));
    RunResult up = r.upgrade();
    EXPECT_EQ(up.status, 0) << up.out;
    EXPECT_EQ(r.installed(), "core B 6.41, extra B 6.41, suite 6.41");
    EXPECT_EQ(r.read("flash/bin/extra"), "e2");

    // A member the new version no longer holds is uninstalled.
    r.upload("suite.npk",
             bundle("suite", ver(6, 42), {recipe("core", ver(6, 42), {"bin/core=c3"})}));
    RunResult dropped = r.upgrade();
    EXPECT_EQ(dropped.status, 0) << dropped.out;
    EXPECT_EQ(r.installed(), "core B 6.42, suite 6.42");
    EXPECT_FALSE(r.exists("flash/bin/extra"));
    EXPECT_FALSE(r.exists("flash/var/pdb/extra"));
}

TEST(InstallRun, SafeStagesForCommitOrCancel) {
    ROUTER(r);
    r.upload("a.npk", pkg("a", "6.40", "file bin/a 0755 a\n"));
    // A manifest that cannot be saved fails the run, and nothing changes.
    ASSERT_EQ(::mkdir(r.at("ram/MANIFEST").c_str(), 0755), 0);
    const auto before = r.flash();
    RunResult unsaved = r.upgrade({"--safe"});
    EXPECT_EQ(unsaved.status, 1) << unsaved.out;
    EXPECT_TRUE(has(unsaved.out, "ERROR: could not save manifest")) << unsaved.out;
    EXPECT_EQ(r.flash(), before);
    ASSERT_EQ(::rmdir(r.at("ram/MANIFEST").c_str()), 0);

    EXPECT_EQ(r.upgrade({"--safe"}).status, 0);
    EXPECT_TRUE(r.exists("ram/MANIFEST"));
    EXPECT_FALSE(r.exists("flash/bin/a"));
    EXPECT_EQ(r.run({"--cancel"}).status, 0);
    EXPECT_FALSE(r.exists("ram/MANIFEST"));
    EXPECT_FALSE(r.exists("flash/bin/a"));

    ASSERT_EQ(r.upgrade({"--safe"}).status, 0);
    EXPECT_EQ(r.run({"--commit"}).status, 0);
    EXPECT_EQ(r.read("flash/bin/a"), "a");
    EXPECT_EQ(r.installed(), "a 6.40");
}

TEST(InstallRun, FailuresChangeNothingAndExitWithAFailure) {
    ROUTER(r);
    r.put("flash/var/pdb/.keep", "");
    RunResult empty = r.upgrade();
    EXPECT_EQ(empty.status, 1) << empty.out;
    EXPECT_TRUE(has(empty.out, "ERROR: router installation failed!!!")) << empty.out;
    EXPECT_FALSE(r.exists("flash/PCKGS_CHANGED"));

    r.upload("a.npk", pkg("a", "6.40", "file bin/a 0755 a\n"));
    ASSERT_EQ(r.upgrade().status, 0);
    r.schedule("a", "disable");
    r.upload("b.npk", pkg("b", "6.40", "arch mips\nfile bin/b 0755 b\n"));
    const auto before = r.flash();
    RunResult failed = r.upgrade();
    EXPECT_EQ(failed.status, 1) << failed.out;
    EXPECT_TRUE(has(failed.out, "ERROR: can not install b-6.40")) << failed.out;
    EXPECT_EQ(r.flash(), before);  // the scheduled disable too waits for the next run
}

TEST(InstallRun, TooLittleSpaceFailsAndChangesNothing) {
    const struct {
        std::uint64_t flash, ram, fileBlocks;
        int status;
        const char* error;
    } cases[] = {
        // Too big for a temporary file on flash, so it waits on /ram; moved over, it would
        // leave fewer than 17 free blocks on flash.
        {40, 512, 38, 28, "ERROR: not enough space for upgrade"},
        // Fits neither disk: creating the file fails with no space.
        {8, 8, 12, 1, "ERROR: installation of big-6.40 failed: disk is too small"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        ROUTER(r, c.flash, c.ram);
        r.put("flash/var/pdb/.keep", "");
        const std::string data(c.fileBlocks * tmpfs_block_size(), 'x');
        r.upload("big.npk", pkg("big", "6.40", "file big.bin 0644 " + data + "\n"),
                 "rw/pckg/.download/");
        const auto before = r.flash();
        RunResult run = r.upgrade();
        EXPECT_EQ(run.status, c.status) << run.out;
        EXPECT_TRUE(has(run.out, c.error)) << run.out;
        EXPECT_EQ(r.flash(), before);
    }
}

TEST(InstallRun, CleanupDropsPackagesNotMadeForARecentSystem) {
    ROUTER(r);
    r.upload("system.npk", pkg("system", "6.40", "file bin/sys 0755 s\n"));
    r.upload("new.npk", pkg("new", "6.40", "depends system 3.22\nfile bin/new 0755 n\n"));
    r.upload("old.npk", pkg("old", "6.40", "depends system 3.21\nfile bin/old 0755 o\n"));
    ASSERT_EQ(r.upgrade().status, 0);
    EXPECT_EQ(r.installed(), "new 6.40, old 6.40, system 6.40");
    RunResult clean = r.run({"--cleanup"});
    EXPECT_EQ(clean.status, 0) << clean.out;
    EXPECT_EQ(r.installed(), "new 6.40, system 6.40");
    EXPECT_FALSE(r.exists("flash/bin/old"));
}

TEST(InstallRun, BootImageTakesTheBootPackagesFile) {
    ROUTER(r);
    const std::string withImage =
        pkg("system", "6.40", "flags boot\nimage text kernel\nfile bin/sys 0755 s\n");
    r.upload("system.npk", withImage);
    RunResult run = r.upgrade({}, {"bootimage=1"});
    EXPECT_EQ(run.status, 0) << run.out;
    // The files are in the boot image; they are not unpacked.
    EXPECT_FALSE(r.exists("flash/bin/sys"));
    EXPECT_EQ(r.read("flash/bootimage"), withImage);
    EXPECT_EQ(r.flash()["var/pdb/system/image"], "-> /flash/bootimage");
    EXPECT_FALSE(r.exists("flash/rw/pckg/system.npk"));

    // Without an image chunk the file still becomes the boot image, with no image link:
    // removing the old boot image without a replacement leaves a router that cannot boot.
    const std::string plain = pkg("system", "6.41", "flags boot\nfile bin/sys 0755 s2\n");
    r.upload("system.npk", plain);
    RunResult up = r.upgrade({}, {"bootimage=1"});
    EXPECT_EQ(up.status, 0) << up.out;
    EXPECT_EQ(r.installed(), "system 6.41");
    EXPECT_EQ(r.read("flash/bootimage"), plain);
    EXPECT_FALSE(r.exists("flash/var/pdb/system/image"));
}

TEST(InstallRun, PackageWithImageIsKeptAsTheDatabaseImage) {
    ROUTER(r);
    const std::string file = pkg("a", "6.40", "note kept\nimage text img\nfile bin/a 0755 a\n");
    r.upload("a.npk", file);
    ASSERT_EQ(r.upgrade().status, 0);
    EXPECT_EQ(r.read("flash/var/pdb/a/image"), file);
    EXPECT_FALSE(r.exists("flash/rw/pckg/a.npk"));

    // The same build uploaded again is omitted and leaves everything as it is.
    r.upload("a.npk", file);
    const auto installedState = r.flash();
    RunResult same = r.upgrade();
    EXPECT_EQ(same.status, 0) << same.out;
    EXPECT_EQ(r.flash(), installedState);

    // A stale older file must not take the place of the installed build's image.
    r.upload("a.npk", pkg("a", "6.39", "image text old\nfile bin/a 0755 old\n"));
    RunResult stale = r.upgrade();
    EXPECT_EQ(stale.status, 0) << stale.out;
    EXPECT_EQ(r.installed(), "a 6.40");
    EXPECT_EQ(r.read("flash/var/pdb/a/image"), file);
}

TEST(InstallRun, ConflictingPackageGoesAsideAndAlternateMagicOnlyUnpacks) {
    ROUTER(r);
    // The installed package declares the conflict, so the newcomer gives way.
    r.upload("a.npk", pkg("a", "6.40", "conflicts b\nfile bin/a 0755 a\n"));
    ASSERT_EQ(r.upgrade().status, 0);
    ::unlink(r.at("flash/rw/pckg/a.npk").c_str());
    r.upload("b.npk", pkg("b", "6.40", "file bin/b 0755 b\n"));
    RunResult run = r.upgrade();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(r.installed(), "a 6.40, b X 6.40");
    EXPECT_EQ(r.read("flash/x/b/bin/b"), "b");
    EXPECT_FALSE(r.exists("flash/bin/b"));

    // The alternate magic unpacks files without touching the database.
    ::unlink(r.at("flash/rw/pckg/b.npk").c_str());
    r.upload("patch.npk", pkg("a", "6.41", "magic alternate\nfile bin/patch 0755 p\n"));
    RunResult patch = r.upgrade();
    EXPECT_EQ(patch.status, 0) << patch.out;
    EXPECT_TRUE(has(patch.out, "installed a-6.41")) << patch.out;
    EXPECT_EQ(r.read("flash/bin/patch"), "p");
    EXPECT_EQ(r.read("flash/bin/a"), "a");
    EXPECT_EQ(r.read("flash/var/pdb/a/files"), "bin/a\n");
}

}  // namespace
