// Stream mode ("-") end to end: the copy of standard input becomes the package image or the
// boot image only when it holds the whole package; a failed installation changes nothing.

#include "e2e/router.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Nothing of stream mode's scratch copy may stay behind, anywhere.
void expect_no_copy_left(const Router& r) {
    for (const auto& [path, content] : r.flash()) {
        const std::size_t slash = path.rfind('/');
        const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
        EXPECT_FALSE(base[0] == '.' && path.rfind("var/pdb/", 0) == 0) << path;
    }
    EXPECT_FALSE(r.exists("image"));
}

TEST(StreamMode, CopyBecomesThePackageImageOnlyWithAnImageChunk) {
    ROUTER(r);
    const std::string withImage = pkg("a", "6.40", "image text img\nfile bin/a 0755 a\n");
    RunResult run = r.stream(withImage);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(r.read("flash/var/pdb/a/image"), withImage);
    EXPECT_EQ(r.read("flash/bin/a"), "a");
    EXPECT_TRUE(r.exists("flash/PCKGS_CHANGED"));
    expect_no_copy_left(r);

    RunResult plain = r.stream(pkg("b", "6.40", "file bin/b 0755 b\n"));
    EXPECT_EQ(plain.status, 0) << plain.out;
    EXPECT_EQ(r.installed(), "a 6.40, b 6.40");
    EXPECT_FALSE(r.exists("flash/var/pdb/b/image"));
    expect_no_copy_left(r);
}

TEST(StreamMode, BootPackageCopyBecomesTheBootImageOnlyWhenWhole) {
    ROUTER(r);
    const std::string withImage = pkg("system", "6.40", "flags boot\nimage text k\n");
    ASSERT_EQ(r.stream(withImage, {"bootimage=1"}).status, 0);
    EXPECT_EQ(r.read("flash/bootimage"), withImage);
    EXPECT_EQ(r.flash()["var/pdb/system/image"], "-> /flash/bootimage");

    // The same build, plain or reinstalled, stops after the header part: the copy is a cut
    // file and must go.
    auto before = r.flash();
    before.erase("PCKGS_CHANGED");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-"}, std::vector<std::string>{"--reinstall", "-"}}) {
        SCOPED_TRACE(args[0]);
        RunResult again = r.run(args, withImage, {"bootimage=1"});
        EXPECT_EQ(again.status, 0) << again.out;
        auto after = r.flash();
        after.erase("PCKGS_CHANGED");
        EXPECT_EQ(after, before);
        expect_no_copy_left(r);
    }

    const std::string plain = pkg("system", "6.41", "flags boot\nfile bin/sys 0755 s\n");
    RunResult up = r.stream(plain, {"bootimage=1"});
    EXPECT_EQ(up.status, 0) << up.out;
    EXPECT_EQ(r.read("flash/bootimage"), plain);
    EXPECT_FALSE(r.exists("flash/var/pdb/system/image"));
    expect_no_copy_left(r);
}

TEST(StreamMode, FailedInstallationChangesNothingAndKeepsTheSchedule) {
    ROUTER(r);
    const std::string old = pkg("a", "6.40", "image text one\nfile bin/a 0755 a\n");
    ASSERT_EQ(r.stream(old).status, 0);
    ASSERT_EQ(r.stream(pkg("b", "6.40", "file bin/b 0755 b\n")).status, 0);
    r.schedule("b", "disable");
    const auto before = r.flash();
    const std::string next = pkg("a", "6.41", "image text two\nfile bin/a 0755 a2\n");
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"cut short", next.substr(0, next.size() - 40)},
        {"tampered", tampered(next, 140)},
        {"unsigned", pkg("a", "6.41", "signature none\nfile bin/a 0755 a2\n")},
        {"not a package", "garbage"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RunResult run = r.stream(c.bytes);
        EXPECT_NE(run.status, 0) << run.out;
        EXPECT_EQ(r.flash(), before);
        EXPECT_EQ(r.installed(), "a 6.40, b 6.40");
    }
    // A copy file that cannot be made cancels everything.
    ASSERT_EQ(::mkdir(r.at("flash/var/pdb/.stream-image").c_str(), 0755), 0);
    const auto withLog = r.flash(true);
    RunResult noCopy = r.stream(pkg("c", "6.40", "file bin/c 0755 c\n"));
    EXPECT_EQ(noCopy.status, 255);
    EXPECT_TRUE(has(noCopy.out, "ERROR: could not open image\n")) << noCopy.out;
    EXPECT_EQ(r.flash(true), withLog);
    ASSERT_EQ(::rmdir(r.at("flash/var/pdb/.stream-image").c_str()), 0);

    // The scheduled request waited and is carried out by the next good run.
    RunResult good = r.stream(next);
    EXPECT_EQ(good.status, 0) << good.out;
    EXPECT_EQ(r.installed(), "a 6.41, b X 6.40");
    EXPECT_EQ(r.read("flash/var/pdb/a/image"), next);
}

TEST(StreamMode, CopyThatDoesNotFitFailsTheInstallation) {
    const std::uint64_t block = tmpfs_block_size();
    ROUTER(r, 24, 512);
    ASSERT_EQ(r.stream(pkg("a", "6.40", "file bin/a 0755 a\n")).status, 0);
    const auto before = r.flash();
    // The files fit (on /ram if need be), the image chunk's copy does not.
    const std::string big = pkg("a", "6.41", "image size " + std::to_string(40 * block) +
                                                 "\nfile bin/a 0755 a2\n");
    RunResult run = r.stream(big);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(has(run.out, "ERROR: could not write image")) << run.out;
    EXPECT_EQ(r.flash(), before);
}

}  // namespace
