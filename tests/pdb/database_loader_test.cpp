// Loading the package database: whole loads of a scratch root through open_database in a
// chrooted child, and the file list and stored paths directly.

#include "pdb/database_loader.h"

#include "package/signed_packages.h"
#include "pdb/database_paths.h"
#include "support/root_child.h"

#include <gtest/gtest.h>
#include <set>

namespace {

using namespace std::string_view_literals;

std::string image_of(const std::string& name) {
    return package_file(describe_package({name, 0x0200'6600, 7, 0}),
                        fixed_signature(std::string(132, '\0')));
}

class DatabaseLoaderTest : public ::testing::Test {
protected:
    using Files = std::vector<std::pair<std::string, std::string>>;
    // A database entry of small files, each given as name and content.
    void entry(const std::string& name, const Files& files) {
        write_file(root / ("flash/var/pdb/" + name + "/.keep"), "");
        for (const auto& [file, content] : files)
            write_file(root / ("flash/var/pdb/" + name + "/" + file), content);
    }
    // Opens the database and describes the records and messages, sorted.
    std::string load() {
        return run_in_root(root.path(), [] {
            open_database(Installer::instance(), false, "powerpc");
            std::set<std::string> lines;
            std::istringstream records(describe_packages());
            for (std::string line; std::getline(records, line);) lines.insert(line);
            for (const std::string& m : Installer::instance().messages) lines.insert("msg " + m);
            std::string text;
            for (const std::string& line : lines) text += line + "\n";
            return text;
        });
    }
    TempDir root;
};

TEST_F(DatabaseLoaderTest, SmallFilesStateFilesAndSchedulesOfEachEntry) {
    const std::pair<std::string, std::string> v{"version", "1 2\n"}, f{"files", ""};
    struct Row { const char* name; Files files; const char* line; };
    const Row rows[] = {
        // Broken header files schedule removal and keep what was read before.
        {"a", {f}, "a v=0 t=0 act=1"},
        {"d", {v, f, {"deps", "sys 1 2\nnet 3\n"}}, "d v=1 t=2 act=1 deps=sys:1:2:0"},
        {"e", {v, f, {"provides", "p 1 2\n"}}, "e v=1 t=2 act=1"},  // no priority
        {"big", {v, f, {"conflicts", "p 4294967296 1\n"}}, "big v=1 t=2 act=1"},
        {"both", {v, f, {"disabled", "auto\n"}, {"enabled", "user\n"}},
         "both v=1 t=2 act=0 disabled"},
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
        {"exact", {v, f}, "exact v=1 t=2 act=0"},  // "uninstalled" is no schedule
        {"caf\xc3\xa9", {v, f}, "caf\xc3\xa9 v=1 t=2 act=3 user"},
    };
    for (const Row& r : rows) entry(r.name, r.files);
    const std::pair<const char*, const char*> schedules[] = {
        {"asked", "uninstall enable"}, {"netx", " \n\tdisable\n"}, {"hold", "uninstall\n"},
        {"odd", "enable\n"}, {"exact", "uninstalled"}, {"caf", "disable"}};
    for (const auto& [dir, text] : schedules)
        write_file(root / ("ram/pdb/" + std::string(dir) + "/schedule"), text);
    const std::string out = load();
    for (const Row& r : rows)
        EXPECT_NE(out.find(std::string(r.line) + "\n"), std::string::npos) << r.line << "\n" << out;
}

// An image naming an unsafe name is dropped: the directory loads from its (absent) small files.
TEST_F(DatabaseLoaderTest, DotEntriesNonDirectoriesAndImagesOfUnsafeNamesAreSkipped) {
    entry("ok", {{"version", "16777216 5\n"}, {"files", "bin/ok\n"}});
    entry(".hidden", {{"version", "1 2\n"}, {"files", ""}});
    const char* bad[] = {"", "..", "a/b"};
    for (int i = 0; i < 3; ++i)
        write_file(root / ("flash/var/pdb/x" + std::to_string(i) + "/image"), image_of(bad[i]));
    write_file(root / "flash/var/pdb/image", image_of("stray"));  // stream mode's copy
    write_file(root / "flash/var/pdb/tmpA1b2C3", "");
    ASSERT_EQ(::symlink("/nowhere", (root / "flash/var/pdb/dangling").c_str()), 0);
    ASSERT_EQ(::symlink("ok", (root / "flash/var/pdb/linked").c_str()), 0);
    EXPECT_EQ(load(), "ok v=16777216 t=5 act=0 /flash/bin/ok\nx0 v=0 t=0 act=1 bundle\n"
                      "x1 v=0 t=0 act=1 bundle\nx2 v=0 t=0 act=1 bundle\n");
}

TEST(DatabasePathsTest, FileListsSafeNamesAndStoredLinesRelativeToFlash) {
    TempDir dir;
    write_file(dir / "files", "bin/a\n\n/etc/b\n/\n../../etc/passwd\nx/p/c");
    FileList files;
    ASSERT_TRUE(read_files(dir / "files", files));
    files.insert("/flash/bin/a");    // a repeat is kept once,
    files.insert("/flash/bin-x/b");  // and a late path in its place: "-" sorts before "/"
    EXPECT_EQ(std::vector<std::string>(files.begin(), files.end()),
              (std::vector<std::string>{"/flash/bin-x/b", "/flash/bin/a", "/flash/etc/b",
                                        "/flash/x/p/c"}));
    EXPECT_EQ(files.count("/flash/bin/a") + files.count("/flash/bin"), 1u);
    for (int i = 0; i < 300; ++i) files.insert("/flash/d/" + std::to_string(i) + "/x");
    EXPECT_EQ(files.count("/flash/d/299/x") + files.size(), 1u + 304u);  // past 128 directories
    for (const char* good : {"wireless-7", "a.b", "..a", "caf\xc3\xa9"})
        EXPECT_TRUE(is_safe_package_name(good)) << good;
    for (const char* bad : {"", ".", "..", "a/b", "a b", "\x7f", "a\x01"})
        EXPECT_FALSE(is_safe_package_name(bad)) << bad;
    // "/" would remove /flash itself; a NUL byte ends a name in every system call.
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
