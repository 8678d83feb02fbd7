// The downgrade marker's number, the list of packages enabled again, and stream mode's copy
// file on a full disk.

#include "cli/stream_copy.h"
#include "cli/upgrade_run.h"
#include "support/scenario.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(UpgradeRun, DowngradeFloorIsTheNumberAtTheStart) {
    const std::pair<const char*, Version> cases[] = {
        {"", 0}, {"  +42 7", 42}, {"x42", 0}, {"12abc", 12}, {"99999999999", 0xFFFFFFFFu}};
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

TEST(StreamCopy, NoticesAFailedWriteOrOpen) {
    StreamCopy full;
    ASSERT_TRUE(full.open("/dev/full"));
    const std::string block(100000, 'x');
    full.write(block.data(), block.size());
    EXPECT_FALSE(full.ok());
    EXPECT_FALSE(full.close());
    EXPECT_EQ(full.error_number(), ENOSPC);
    StreamCopy missing;
    EXPECT_FALSE(missing.open("/proc/no/such/copy"));
    EXPECT_FALSE(missing.close());
}

}  // namespace
