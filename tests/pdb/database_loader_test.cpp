// Loading the package database: relation list files and stored paths directly, and whole loads
// of a scratch root through open_database in a chrooted child.

#include "pdb/database_loader.h"

#include "core/installer.h"
#include "package/signed_packages.h"
#include "pdb/database_paths.h"
#include "support/root_child.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::string_view_literals;

constexpr Version kV1 = 0x0100'6600;  // 1.0
constexpr Version kV2 = 0x0200'6600;  // 2.0

const DigestSigner no_signature = fixed_signature(std::string(132, '\0'));

std::string image_of(const std::string& name, Version version, std::uint32_t buildTime = 7) {
    PackageDescription package = describe_package({name, version, buildTime, 0});
    package.hasArch = package.hasNote = true;
    package.arch = "powerpc", package.note = "kept";
    package.depends = {{"system", kV1, 0, 0}};
    package.hasImage = true, package.image = std::string(4096, 'i');
    package.files = {{0x81a4, 0, "bin/x", "payload"}};
    return package_file(package, no_signature);
}

using FileList = std::vector<std::pair<std::string, std::string>>;

// A database entry of small files below `root`, each given as name and content.
void make_entry(const TempDir& root, const std::string& name, const FileList& files) {
    write_file(root / ("flash/var/pdb/" + name + "/.keep"), "");
    for (const auto& [file, content] : files)
        write_file(root / ("flash/var/pdb/" + name + "/" + file), content);
}

// Opens the database of `root` and describes the records and messages.
std::string load_root(const TempDir& root) {
    return run_in_root(root.path(), [] {
        open_database(Installer::instance(), false, "powerpc");
        std::string text = describe_packages();
        for (const std::string& m : Installer::instance().messages) text += "msg " + m + "\n";
        return text;
    });
}

class DatabaseLoaderTest : public ::testing::Test {
protected:
    void entry(const std::string& name, const FileList& files) { make_entry(root, name, files); }
    std::string load() { return load_root(root); }
    TempDir root;
};

TEST_F(DatabaseLoaderTest, SmallFilesStateFilesAndSchedulesOfEachEntry) {
    const std::pair<std::string, std::string> v{"version", "1 2\n"}, f{"files", ""};
    struct Row { const char* name; FileList files; const char* line; };
    const Row rows[] = {
        {"ppp", {{"version", "16777216 5\n"}, {"files", "bin/pppd\n/etc/ppp\n"}},
         "ppp v=16777216 t=5 act=0 /flash/bin/pppd /flash/etc/ppp"},
        {"tarnvel", {{"version", "33580544 5\n"}},  // no files: a bundle
         "tarnvel v=33580544 t=5 act=0 bundle"},
        // Broken header files schedule removal and keep what was read before.
        {"a", {f}, "a v=0 t=0 act=1"},
        {"b", {{"version", "1\n"}, f}, "b v=1 t=0 act=1"},
        {"d", {v, f, {"deps", "sys 1 2\nnet 3\n"}}, "d v=1 t=2 act=1 deps=sys:1:2:0"},
        {"e", {v, f, {"provides", "p 1 2\n"}}, "e v=1 t=2 act=1"},  // no priority
        // "q 1 2 3": the 3 is read as the next name, which then lacks its numbers.
        {"f", {v, f, {"conflicts", "q 1 2 3\n"}}, "f v=1 t=2 act=1 conf=q:1:2:0"},
        {"g", {v, f, {"provides", "p 0 0 -3\n"}}, "g v=1 t=2 act=0 prov=p:0:0:-3"},
        {"auto", {v, f, {"disabled", "auto\n"}}, "auto v=1 t=2 act=0 disabled"},
        {"user", {v, f, {"disabled", "user\n"}}, "user v=1 t=2 act=0 disabled user"},
        {"both", {v, f, {"disabled", "auto\n"}, {"enabled", "user\n"}},
         "both v=1 t=2 act=0 disabled"},
        {"chosen", {v, f, {"enabled", "user\n"}}, "chosen v=1 t=2 act=0 user"},
        // Members of a bundle stored without image, or no longer installed, stay installed,
        // unless scheduled ("asked").
        {"dhcp", {v, f, {"bundle", "tarnvel\n"}}, "dhcp v=1 t=2 act=0 in=tarnvel:0:0:0"},
        {"asked", {v, f, {"bundle", "tarnvel\n"}}, "asked v=1 t=2 act=1 in=tarnvel:0:0:0"},
        {"broken", {{"version", "1\n"}, f, {"bundle", "tarnvel\n"}},
         "broken v=1 t=0 act=1 in=tarnvel:0:0:0"},
        // Scheduled below: the path keeps letters, digits and dashes; placeholders read none.
        {"net.x", {v, f}, "net.x v=1 t=2 act=3 user"},
        {"hold", {{"version", "4294967295 4294967295\n"}, f},
         "hold v=4294967295 t=4294967295 act=0"},
        // As a stream stores them: the limit on overflow, a negative number wrapped.
        {"over", {{"version", "4294967296 5\n"}, f}, "over v=4294967295 t=0 act=1"},
        {"wrap", {{"version", "-1 +7\n"}, f}, "wrap v=4294967295 t=7 act=0"},
        {"odd", {{"version", "1\n"}, f}, "odd v=1 t=0 act=2 user"},
        {"unread", {v, f}, "unread v=1 t=2 act=0"},
        {"exact", {v, f}, "exact v=1 t=2 act=0"},
        {"caf\xc3\xa9", {v, f}, "caf\xc3\xa9 v=1 t=2 act=3 user"},
    };
    for (const Row& r : rows) entry(r.name, r.files);
    const std::pair<const char*, const char*> schedules[] = {
        {"asked", "uninstall enable"}, {"netx", " \n\tdisable\n"}, {"hold", "uninstall\n"},
        {"odd", "enable\n"}, {"exact", "uninstalled"}, {"caf", "disable"}};
    for (const auto& [dir, text] : schedules)
        write_file(root / ("ram/pdb/" + std::string(dir) + "/schedule"), text);
    write_file(root / "ram/pdb/unread/schedule/x", "");  // a directory, not a schedule
    const std::string out = load();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        EXPECT_NE(out.find(std::string(r.line) + "\n"), std::string::npos) << out;
    }
}

TEST_F(DatabaseLoaderTest, DotEntriesAndNonDirectoriesAreSkipped) {
    entry("ok", {{"version", "16777216 5\n"}, {"files", "bin/ok\n"}});
    entry(".hidden", {{"version", "1 2\n"}, {"files", ""}});
    write_file(root / "flash/var/pdb/image", image_of("stray", kV1));  // stream mode's copy
    write_file(root / "flash/var/pdb/tmpA1b2C3", "");
    ASSERT_EQ(::symlink("/nowhere", (root / "flash/var/pdb/dangling").c_str()), 0);
    ASSERT_EQ(::symlink("ok", (root / "flash/var/pdb/linked").c_str()), 0);
    EXPECT_EQ(load(), "ok v=16777216 t=5 act=0 /flash/bin/ok\n");
}

TEST_F(DatabaseLoaderTest, ImageNamingAnUnsafeNameIsDropped) {
    for (const char* bad : {"", "..", "a/b"}) {
        SCOPED_TRACE(bad);
        TempDir fresh;
        make_entry(fresh, "pkg", {});
        write_file(fresh / "flash/var/pdb/pkg/image", image_of(bad, kV2));
        // The directory still loads from its (absent) small files, so it is scheduled for removal.
        EXPECT_EQ(load_root(fresh), "pkg v=0 t=0 act=1 bundle\n");
    }
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
    write_file(dir / "big", "p 4294967296 1\n");  // does not fit 32 bits
    EXPECT_EQ(read_list(dir / "big", list, false), ListStatus::Malformed);
    write_file(dir / "files", "bin/a\n\n/etc/b\n/\n../../etc/passwd\nx/p/c");
    ::FileList files;
    ASSERT_TRUE(read_files(dir / "files", files));
    files.insert("/flash/bin/a");    // a repeat is kept once,
    files.insert("/flash/bin-x/b");  // and a late path in its place: "-" sorts before "/"
    EXPECT_EQ(std::vector<std::string>(files.begin(), files.end()),
              (std::vector<std::string>{"/flash/bin-x/b", "/flash/bin/a", "/flash/etc/b",
                                        "/flash/x/p/c"}));
    EXPECT_EQ(files.count("/flash/bin/a") + files.count("/flash/bin"), 1u);
    for (int i = 0; i < 300; ++i) files.insert("/flash/d/" + std::to_string(i) + "/x");
    EXPECT_EQ(files.count("/flash/d/299/x") + files.size(), 1u + 304u);  // past 128 directories
}

TEST(DatabasePathsTest, OnlyNamesThatCanBeOneDirectoryAreSafe) {
    for (const char* good : {"wireless-7", "a.b", "..a", "caf\xc3\xa9"})
        EXPECT_TRUE(is_safe_package_name(good)) << good;
    for (const char* bad : {"", ".", "..", "a/b", "a b", "\x7f", "a\x01"})
        EXPECT_FALSE(is_safe_package_name(bad)) << bad;
}

TEST(DatabasePathsTest, StoredLinesAreRelativeToFlashAndRoundTrip) {
    // "/" would otherwise remove /flash itself.
    // A NUL byte ends a name in every system call: "bin/\0q" would remove /flash/bin.
    for (const auto& [line, path] :
         {std::pair{"etc/a"sv, "/flash/etc/a"}, {"//etc/a", "/flash/etc/a"},
          {"a..b/c", "/flash/a..b/c"}, {"", ""}, {"/", ""}, {"..", ""}, {"../etc/passwd", ""},
          {"a/../../etc", ""}, {"bin/\0q"sv, ""}, {"\0"sv, ""}})
        EXPECT_EQ(installed_path(line), path) << line;
    for (const char* path : {"/flash/x/p/bin/a", "/flash/a b"})
        EXPECT_EQ(installed_path(stored_entry(path)), path) << path;
    for (const char* outside : {"/flash", "/flash/", "/flashy/a", ""})
        EXPECT_EQ(stored_entry(outside), "") << outside;
}

}  // namespace
