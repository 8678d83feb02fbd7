// Directory-safe package names and the mapping between "files" lines and installed paths.

#include "pdb/database_paths.h"

#include <gtest/gtest.h>

namespace {

TEST(DatabasePathsTest, OnlyNamesThatCanBeOneDirectoryAreSafe) {
    for (const char* good : {"system", "wireless-7", "a.b", "x_y", "..a", "caf\xc3\xa9"}) {
        SCOPED_TRACE(good);
        EXPECT_TRUE(is_safe_package_name(good));
    }
    for (const char* bad : {"", ".", "..", "a/b", "/", "../x", "a b", "a\tb", "a\nb", "\x7f",
                            "a\x01"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(is_safe_package_name(bad));
    }
}

TEST(DatabasePathsTest, StoredLinesAreRelativeToFlashWithOrWithoutLeadingSlash) {
    struct Case {
        const char* line;
        const char* path;
    } cases[] = {
        {"etc/a", "/flash/etc/a"},
        {"/etc/a", "/flash/etc/a"},  // as the original system wrote some databases
        {"//etc/a", "/flash/etc/a"},
        {"x/p/bin/a", "/flash/x/p/bin/a"},
        {"a..b/c", "/flash/a..b/c"},
        {"", ""},
        {"/", ""},  // would otherwise remove /flash itself
        {"..", ""},
        {"../etc/passwd", ""},
        {"a/../../etc", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(installed_path(c.line), c.path);
    }
}

TEST(DatabasePathsTest, InstalledPathsBelowFlashRoundTrip) {
    for (const char* path : {"/flash/etc/a", "/flash/x/p/bin/a", "/flash/a b"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(installed_path(stored_entry(path)), path);
    }
    for (const char* outside : {"/flash", "/flash/", "/flashy/a", "/etc/a", ""}) {
        SCOPED_TRACE(outside);
        EXPECT_EQ(stored_entry(outside), "");
    }
}

}  // namespace
