// The pieces of the upgrade run that need no root directory: the upload scan, the downgrade
// marker's number and the list of packages enabled again; and stream mode's copy file.

#include "cli/stream_copy.h"
#include "cli/upgrade_run.h"
#include "package/signed_packages.h"
#include "support/scenario.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

namespace {

std::string unsigned_package(const std::string& name) {
    return package_file(describe_package({name, ver(6, 40), 1, 0}),
                        fixed_signature(std::string(132, '\0')));
}

TEST(UpgradeRun, ScanTakesExactSuffixesAndReportsBrokenFiles) {
    Scenario s;
    TempDir dir;
    write_file(dir / "good.npk", unsigned_package("good"));
    write_file(dir / "also.dpk", unsigned_package("also"));
    for (const char* ignored : {"upper.NPK", "late.npk.bak", ".hidden.npk", "plain"})
        write_file(dir / ignored, unsigned_package("ignored"));
    write_file(dir / "broken.npk", "not a package");

    std::vector<std::unique_ptr<PackageFile>> list;
    scan_uploads(s.installer, dir.path() + "/", list);
    std::vector<std::string> names;
    for (const auto& f : list)
        names.push_back(f->name + " " + f->filePath.substr(dir.path().size()));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"also /also.dpk", "good /good.npk"}));
    EXPECT_EQ(s.messages(), std::vector<std::string>{"ERROR: broken package broken.npk"});
    std::vector<std::unique_ptr<PackageFile>> none;
    scan_uploads(s.installer, dir / "missing/", none);
    EXPECT_TRUE(none.empty());
}

TEST(UpgradeRun, DowngradeFloorIsTheNumberAtTheStart) {
    const std::pair<const char*, Version> cases[] = {
        {"", 0},    {"103311872\n", 103311872}, {"  42 7", 42},
        {"x42", 0}, {"12abc", 12},              {"99999999999", 0xFFFFFFFFu},
    };
    for (const auto& [text, floor] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parse_downgrade_floor(text), floor);
    }
}

TEST(UpgradeRun, EnablesAgainEachRecordOnceAndNotAgainstAConflict) {
    Scenario s;
    // "r": of two disabled holders the last; "u": an enabled provider already holds it.
    s.given("p+alias~ q~ guard#q on r~ s+r~ t+u u~");
    const std::vector<InstalledPackage*> list =
        packages_to_enable_again(s.installer, {"alias", "on", "p", "q", "gone", "r", "u"});
    EXPECT_EQ(Scenario::names(list), "p s");
}

TEST(StreamCopy, KeepsEveryByteAndNoticesAFailedWrite) {
    TempDir dir;
    StreamCopy copy;
    ASSERT_TRUE(copy.open(dir / "copy"));
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        const std::string piece(std::size_t(i * 37 % 20000), char('a' + i % 26));
        copy.sputn(piece.data(), std::streamsize(piece.size()));
        copy.sputc('|');
        expected += piece + "|";
    }
    EXPECT_TRUE(copy.close());
    EXPECT_EQ(read_file(dir / "copy"), expected);
    StreamCopy full;
    ASSERT_TRUE(full.open("/dev/full"));
    const std::string block(100000, 'x');
    full.sputn(block.data(), std::streamsize(block.size()));
    EXPECT_FALSE(full.ok());
    EXPECT_FALSE(full.close());
    EXPECT_EQ(full.error_number(), ENOSPC);
    StreamCopy missing;
    EXPECT_FALSE(missing.open(dir / "no/such/dir/copy"));
    EXPECT_FALSE(missing.close());
}

}  // namespace
