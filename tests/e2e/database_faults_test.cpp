// The package database across runs: what one run writes, the next must load as the same
// installed set, and removing a package must reach every file it installed.

#include "e2e/router.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// A bundle "suite" 6.40 of m1 and m2 (one file each), kept as an image when `image` is set.
std::string suite(const TempDir& dir, bool image) {
    for (const char* m : {"m1", "m2"})
        write_file(dir / (std::string(m) + ".txt"), std::string("name ") + m +
                                                         "\nversion 6.40\nfile bin/" + m +
                                                         " 0755 " + m + "\n");
    return package("name suite\nversion 6.40\nbundle\n" +
                   std::string(image ? "image text img\n" : "") + "member " + (dir / "m1.txt") +
                   "\nmember " + (dir / "m2.txt") + "\n");
}

TEST(DatabaseFaults, DisabledBundleMembersStayInLaterRuns) {
    for (const bool image : {true, false}) {
        SCOPED_TRACE(image);
        ROUTER(r);
        TempDir dir;
        ASSERT_EQ(r.stream(pkg("base", "6.40", "file bin/base 0755 b\n")).status, 0);
        ASSERT_EQ(r.stream(suite(dir, image)).status, 0);
        r.schedule("suite", "disable");
        RunResult off = r.upgrade();
        EXPECT_TRUE(has(off.out, "disabled m1-6.40")) << off.out;
        ::unlink(r.at("ram/pdb/suite/schedule").c_str());
        for (int run = 0; run < 2; ++run) {
            EXPECT_EQ(r.installed(), "base 6.40, m1 X B 6.40, m2 X B 6.40");
            EXPECT_EQ(r.read("flash/bin/m2"), "m2");
            EXPECT_EQ(r.upgrade().status, 0);
        }
    }
}

TEST(DatabaseFaults, ImagePackagesAndImageBundleMembersTakeTheirFilesAlong) {
    ROUTER(r);
    TempDir dir;
    ASSERT_EQ(r.stream(pkg("b", "6.40")).status, 0);
    ASSERT_EQ(r.stream(pkg("a", "6.40", "image text 1\nfile bin/a 0755 a\nfile bin/old 0755 o\n"))
                  .status,
              0);
    ASSERT_EQ(r.stream(suite(dir, true)).status, 0);
    ::unlink(r.at("flash/var/pdb/a/files").c_str());  // as earlier versions left image entries
    ASSERT_EQ(r.stream(pkg("a", "6.41", "image text 2\nfile bin/a 0755 a2\n")).status, 0);
    EXPECT_FALSE(r.exists("flash/bin/old"));
    r.schedule("a", "uninstall");
    r.schedule("suite", "uninstall");
    EXPECT_EQ(r.upgrade().status, 0);
    EXPECT_EQ(r.installed(), "b 6.40");
    for (const char* gone : {"flash/bin/a", "flash/bin/m1", "flash/bin/m2"})
        EXPECT_FALSE(r.exists(gone)) << gone;
}

TEST(DatabaseFaults, NoMetadataPackageStaysInstalledWithItsVersion) {
    ROUTER(r);
    ASSERT_EQ(r.stream(pkg("p", "6.40.1", "file bin/p 0755 old\n")).status, 0);
    ASSERT_EQ(r.stream(pkg("p", "6.41", "flags no-metadata\nfile bin/p 0755 new\n")).status, 0);
    ASSERT_EQ(r.stream(pkg("q", "6.40", "flags no-metadata\nfile bin/q 0755 q\n")).status, 0);
    r.schedule("q", "disable");
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(r.upgrade().status, 0);
        EXPECT_EQ(r.installed(), "p 6.41, q X 6.40");
        EXPECT_EQ(r.read("flash/bin/p"), "new");
    }
}

TEST(DatabaseFaults, VersionNumbersAreReadAsStreamNumbers) {
    for (const char* text : {"103310849 5;x\n", "+103310849 +5\n"}) {
        SCOPED_TRACE(text);
        ROUTER(r);
        ASSERT_EQ(r.stream(pkg("base", "6.40")).status, 0);
        r.put("flash/var/pdb/p/version", text);
        r.put("flash/var/pdb/p/files", "bin/p\n");
        r.put("flash/bin/p", "p");
        EXPECT_EQ(r.upgrade().status, 0);
        EXPECT_EQ(r.installed(), "base 6.40, p 6.40.1");
        EXPECT_TRUE(r.exists("flash/bin/p"));
    }
}

}  // namespace
