// Loading the package database: relation list files directly, and whole loads of a scratch
// root through Installer::open in a chrooted child.

#include "pdb/database_loader.h"

#include "cli/installer.h"
#include "pdb/database_paths.h"
#include "pdb/root_child.h"
#include "pkglib/package_writer.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace {

constexpr Version kV1 = 0x0100'6600;  // 1.0
constexpr Version kV2 = 0x0200'6600;  // 2.0

std::string no_signature(const std::uint8_t*) { return std::string(132, '\0'); }

std::string image_of(const std::string& name, Version version, std::uint32_t buildTime = 7) {
    PackageSpec package;
    package.header = {name, version, buildTime, 0};
    package.arch = "powerpc";
    package.note = "kept";
    package.depends = {{"system", kV1, 0, 0}};
    package.image = std::string(4096, 'i');
    package.files = {{0x81a4, 0, "bin/x", "payload"}};
    return build_package(package, no_signature);
}

using FileList = std::initializer_list<std::pair<std::string, std::string>>;

// A database entry of small files below `root`, each given as name and content.
void make_entry(const TempDir& root, const std::string& name, FileList files) {
    write_file(root / ("flash/var/pdb/" + name + "/.keep"), "");
    for (const auto& [file, content] : files)
        write_file(root / ("flash/var/pdb/" + name + "/" + file), content);
}

// Opens the database of `root` and describes the records and messages.
std::string load_root(const TempDir& root) {
    return run_in_root(root.path(), [] {
        Installer::instance().open(false, "powerpc");
        std::string text = describe_packages();
        for (const std::string& m : Installer::instance().messages) text += "msg " + m + "\n";
        return text;
    });
}

class DatabaseLoaderTest : public ::testing::Test {
protected:
    void SetUp() override { SKIP_WITHOUT_CHROOT(); }
    void entry(const std::string& name, FileList files) { make_entry(root, name, files); }
    std::string load() { return load_root(root); }

    TempDir root;
};

TEST_F(DatabaseLoaderTest, VersionAndFilesGiveAPlainPackageWithEmptyRelations) {
    entry("ppp", {{"version", "16777216 5\n"}, {"files", "bin/pppd\n/etc/ppp\n"}});
    EXPECT_EQ(load(), "ppp v=16777216 t=5 act=0 /flash/bin/pppd /flash/etc/ppp\n");
}

TEST_F(DatabaseLoaderTest, EntryWithoutFilesOrImageIsABundle) {
    entry("routeros", {{"version", "16777216 5\n"}});
    EXPECT_EQ(load(), "routeros v=16777216 t=5 act=0 bundle\n");
}

TEST_F(DatabaseLoaderTest, BrokenHeaderFilesScheduleRemovalAndKeepEarlierEntries) {
    entry("a", {{"files", ""}});                                     // no version
    entry("b", {{"version", "1\n"}, {"files", ""}});                  // one number
    entry("c", {{"version", "x 1\n"}, {"files", ""}});
    entry("d", {{"version", "1 2\n"}, {"files", ""}, {"deps", "sys 1 2\nnet 3\n"}});
    entry("e", {{"version", "1 2\n"}, {"files", ""}, {"provides", "p 1 2\n"}});  // no priority
    entry("f", {{"version", "1 2\n"}, {"files", ""}, {"conflicts", "q 1 2 3\n"}});
    entry("g", {{"version", "1 2\n"}, {"files", ""}, {"provides", "p 0 0 -3\n"}});
    entry("h", {{"version", ""}, {"files", ""}});
    const std::string out = load();
    for (const char* line : {"a v=0 t=0 act=1\n", "b v=1 t=0 act=1\n", "c v=0 t=0 act=1\n",
                             "d v=1 t=2 act=1 deps=sys:1:2:0\n", "e v=1 t=2 act=1\n",
                             "g v=1 t=2 act=0 prov=p:0:0:-3\n", "h v=0 t=0 act=1\n"}) {
        SCOPED_TRACE(line);
        EXPECT_NE(out.find(line), std::string::npos) << out;
    }
    // "q 1 2 3": the 3 is read as the next name, which then lacks its numbers.
    EXPECT_NE(out.find("f v=1 t=2 act=1 conf=q:1:2:0\n"), std::string::npos) << out;
}

TEST_F(DatabaseLoaderTest, StateFilesGiveDisabledAndUserForced) {
    entry("auto", {{"version", "1 2\n"}, {"files", ""}, {"disabled", "auto\n"}});
    entry("user", {{"version", "1 2\n"}, {"files", ""}, {"disabled", "user\n"}});
    entry("empty", {{"version", "1 2\n"}, {"files", ""}, {"disabled", ""}});
    entry("both",
          {{"version", "1 2\n"}, {"files", ""}, {"disabled", "auto\n"}, {"enabled", "user\n"}});
    entry("chosen", {{"version", "1 2\n"}, {"files", ""}, {"enabled", "user\n"}});
    const std::string out = load();
    for (const char* line : {"auto v=1 t=2 act=0 disabled\n", "user v=1 t=2 act=0 disabled user\n",
                             "empty v=1 t=2 act=0 disabled user\n", "both v=1 t=2 act=0 disabled\n",
                             "chosen v=1 t=2 act=0 user\n"}) {
        SCOPED_TRACE(line);
        EXPECT_NE(out.find(line), std::string::npos) << out;
    }
}

TEST_F(DatabaseLoaderTest, DotEntriesAndNonDirectoriesAreNotPackages) {
    entry("ok", {{"version", "16777216 5\n"}, {"files", "bin/ok\n"}});
    entry(".hidden", {{"version", "1 2\n"}, {"files", ""}});
    write_file(root / "flash/var/pdb/image", image_of("stray", kV1));  // stream mode's copy
    write_file(root / "flash/var/pdb/tmpA1b2C3", "");
    ASSERT_EQ(::symlink("/nowhere", (root / "flash/var/pdb/dangling").c_str()), 0);
    ASSERT_EQ(::symlink("ok", (root / "flash/var/pdb/linked").c_str()), 0);
    EXPECT_EQ(load(), "ok v=16777216 t=5 act=0 /flash/bin/ok\n");
}

TEST_F(DatabaseLoaderTest, MissingDatabaseWarnsAndLoadsNothing) {
    ::mkdir((root / "flash").c_str(), 0755);
    EXPECT_EQ(load(), "msg WARNING: could not open repo\n");
}

TEST_F(DatabaseLoaderTest, ImageInEntryGivesHeaderFieldsWithDefaultArchAndState) {
    entry("wireless", {{"disabled", "user\n"}, {"version", "9 9\n"}});
    write_file(root / "flash/var/pdb/wireless/image", image_of("wireless", kV2, 77));
    EXPECT_EQ(load(), "wireless v=33580544 t=77 act=0 disabled user arch=i386 note=kept "
                      "deps=system:16803328:0:0\n");
}

TEST_F(DatabaseLoaderTest, StoredImageIsLoadedOnlyForAnExistingEntry) {
    entry("ups", {});
    write_file(root / "rw/pckg/.images/ups", image_of("ups", kV2));
    write_file(root / "rw/pckg/.images/gps", image_of("gps", kV2));
    const std::string out = load();
    EXPECT_EQ(out.rfind("ups v=33580544 t=7 act=0 arch=i386", 0), 0u) << out;
    EXPECT_EQ(out.find("gps"), std::string::npos) << out;
}

TEST_F(DatabaseLoaderTest, BundleImageYieldsMembersThenTheBundle) {
    PackageSpec a, b;
    a.header = {"system", kV2, 3, 0};
    b.header = {"dhcp", kV2, 4, 0};
    b.conflicts = {{"old-dhcp", 0, 0, 0}};
    entry("routeros", {});
    write_file(root / "flash/var/pdb/routeros/image",
               build_bundle({"routeros", kV2, 5, 0}, {a, b}, no_signature));
    entry("dhcp", {{"disabled", "auto\n"}});
    EXPECT_EQ(load(),
              "system v=33580544 t=3 act=0 arch=i386 in=routeros:33580544:33580544:0\n"
              "dhcp v=33580544 t=4 act=0 disabled arch=i386 in=routeros:33580544:33580544:0 "
              "conf=old-dhcp:0:0:0\n"
              "routeros v=33580544 t=5 act=0 bundle arch=i386\n");
}

TEST_F(DatabaseLoaderTest, MembersOfABundleStoredWithoutImageStayInstalled) {
    entry("routeros", {{"version", "33580544 5\n"}});  // no files: a bundle
    entry("dhcp", {{"version", "1 2\n"}, {"files", ""}, {"bundle", "routeros\n"}});
    entry("gone", {{"version", "1 2\n"}, {"files", ""}, {"bundle", "other\n"}});
    entry("asked", {{"version", "1 2\n"}, {"files", ""}, {"bundle", "routeros\n"}});
    entry("broken", {{"version", "1\n"}, {"files", ""}, {"bundle", "routeros\n"}});
    write_file(root / "ram/pdb/asked/schedule", "uninstall\n");
    const std::string out = load();
    for (const char* line : {"dhcp v=1 t=2 act=0 in=routeros:0:0:0\n",
                             "gone v=1 t=2 act=1 in=other:0:0:0\n",
                             "asked v=1 t=2 act=1 in=routeros:0:0:0\n",
                             "broken v=1 t=0 act=1 in=routeros:0:0:0\n"}) {
        SCOPED_TRACE(line);
        EXPECT_NE(out.find(line), std::string::npos) << out;
    }
}

TEST_F(DatabaseLoaderTest, ScheduleFileOverridesAndPlaceholdersReadNone) {
    entry("net.x", {{"version", "1 2\n"}, {"files", ""}});
    entry("hold", {{"version", "4294967295 4294967295\n"}, {"files", ""}});
    entry("odd", {{"version", "1\n"}, {"files", ""}});
    write_file(root / "ram/pdb/netx/schedule", "disable\n");
    write_file(root / "ram/pdb/hold/schedule", "uninstall\n");
    write_file(root / "ram/pdb/odd/schedule", "enable\n");
    entry("unread", {{"version", "1 2\n"}, {"files", ""}});
    ASSERT_TRUE(write_file(root / "ram/pdb/unread/schedule/x", ""));  // a directory
    const std::string out = load();
    for (const char* line : {"net.x v=1 t=2 act=3 user\n", "hold v=4294967295 t=4294967295 act=0\n",
                             "odd v=1 t=0 act=2 user\n",
                             "unread v=1 t=2 act=0\n"}) {
        SCOPED_TRACE(line);
        EXPECT_NE(out.find(line), std::string::npos) << out;
    }
}

TEST_F(DatabaseLoaderTest, ImageNamingAnUnsafeNameIsDropped) {
    for (const char* bad : {"", ".", "..", "../../etc", "a/b", "a b", "a\tb", "a\nb"}) {
        SCOPED_TRACE(bad);
        TempDir fresh;
        make_entry(fresh, "pkg", {});
        write_file(fresh / "flash/var/pdb/pkg/image", image_of(bad, kV2));
        // The directory still loads from its (absent) small files, so it is scheduled for removal.
        EXPECT_EQ(load_root(fresh), "pkg v=0 t=0 act=1 bundle\n");
    }
}

TEST_F(DatabaseLoaderTest, BundleMemberWithAnUnsafeNameIsLeftOutAlone) {
    PackageSpec a, b;
    a.header = {"../evil", kV2, 3, 0};
    b.header = {"dhcp", kV2, 4, 0};
    entry("routeros", {});
    write_file(root / "flash/var/pdb/routeros/image",
               build_bundle({"routeros", kV2, 5, 0}, {a, b}, no_signature));
    EXPECT_EQ(load(),
              "dhcp v=33580544 t=4 act=0 arch=i386 in=routeros:33580544:33580544:0\n"
              "routeros v=33580544 t=5 act=0 bundle arch=i386\n");
}

TEST_F(DatabaseLoaderTest, EveryTruncationOrCorruptionOfAnImageLoadsSafely) {
    PackageSpec a, b;
    a.header = {"system", kV2, 3, 0};
    a.depends = {{"x", 1, 2, 0}};
    b.header = {"dhcp", kV2, 4, 0};
    const std::string good = build_bundle({"routeros", kV2, 5, 0}, {a, b}, no_signature);
    entry("routeros", {});
    // One child walks every cut and every single-byte change, so the sweep stays fast.
    const std::string report = run_in_root(root.path(), [good] {
        std::string bad;
        auto check = [&](const std::string& image, const std::string& what) {
            std::ofstream("/flash/var/pdb/routeros/image", std::ios::binary) << image;
            Installer& installer = Installer::reset();
            installer.open(true, "i386");
            for (const auto& r : installer.packages)
                if (!is_safe_package_name(r->name)) bad += what + ": " + describe(*r) + "\n";
            // However broken the image, the directory itself keeps a record.
            if (!installer.index_of_package("routeros")) bad += what + ": no directory record\n";
        };
        for (std::size_t len = 0; len < good.size(); ++len)
            check(good.substr(0, len), "cut " + std::to_string(len));
        for (std::size_t i = 0; i < good.size(); ++i) {
            std::string flipped = good;
            flipped[i] = char(flipped[i] ^ 0x5a);
            check(flipped, "flip " + std::to_string(i));
        }
        return bad;
    });
    EXPECT_EQ(report, "");
}

TEST(DatabaseListTest, ReadsEntriesAndReportsMissingAndMalformedFiles) {
    TempDir dir;
    std::vector<Dependency> list;
    EXPECT_EQ(read_list(dir / "absent", list, false), ListStatus::Missing);
    EXPECT_TRUE(list.empty());
    write_file(dir / "deps", "system 1 2\n\nnet 3 4\n");
    EXPECT_EQ(read_list(dir / "deps", list, false), ListStatus::Ok);
    EXPECT_EQ(list, (std::vector<Dependency>{{"system", 1, 2, 0}, {"net", 3, 4, 0}}));
    list.clear();
    write_file(dir / "provides", "p 1 2 -5\nq 1 2 x\n");
    EXPECT_EQ(read_list(dir / "provides", list, true), ListStatus::Malformed);
    EXPECT_EQ(list, (std::vector<Dependency>{{"p", 1, 2, -5}}));
    list.clear();
    write_file(dir / "big", "p 4294967296 1\n");  // does not fit 32 bits
    EXPECT_EQ(read_list(dir / "big", list, false), ListStatus::Malformed);
}

TEST(DatabaseListTest, FilesListSkipsEmptyAndEscapingLines) {
    TempDir dir;
    write_file(dir / "files", "bin/a\n\n/etc/b\n/\n../../etc/passwd\nx/p/c");
    std::set<std::string> files;
    ASSERT_TRUE(read_files(dir / "files", files));
    EXPECT_EQ(files, (std::set<std::string>{"/flash/bin/a", "/flash/etc/b", "/flash/x/p/c"}));
}

}  // namespace
