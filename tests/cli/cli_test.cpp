// The option scan (which option decides the mode, where the scan stops, what is consumed), the
// downgrade marker's number, the list of packages enabled again, and stream mode's copy file on
// a full disk.
#include "cli/options.h"
#include "cli/stream_copy.h"
#include "cli/upgrade_run.h"
#include "support/scenario.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

namespace {

Settings scan(const std::vector<std::string>& args) {
    std::FILE* out = std::fopen("/dev/null", "w");
    const Settings settings = scan_options(args, out);
    std::fclose(out);
    return settings;
}

TEST(OptionsTest, ModesValuesAndWhereTheScanStops) {
    // Arguments; the mode, the arguments seen, the root and "-q".
    using Case = std::tuple<std::vector<std::string>, RunMode, std::size_t, std::string, bool>;
    const Case cases[] = {
        {{}, RunMode::Default, 0, "", false},
        {{"-", "--show"}, RunMode::Stream, 1, "", false},
        {{"--show", "--cleanup", "-q"}, RunMode::Show, 2, "", false},
        {{"-q", "--commit", "--show"}, RunMode::Commit, 2, "", true},
        {{"--cancel", "--bogus", "-r", "/mnt"}, RunMode::Cancel, 1, "", false},
        {{"--bogus", "--commit"}, RunMode::Usage, 1, "", false},
        {{"-r"}, RunMode::Usage, 1, "", false},
        {{"-b", "--force", "--noupgrade", "-i"}, RunMode::Default, 4, "", false},
        {{"--month", "--commit", "-q"}, RunMode::Default, 3, "", true},  // --month takes a value
        {{"-r", "--show"}, RunMode::Default, 2, "--show", false},
        {{"-q", "-r", "/mnt/root", "-"}, RunMode::Stream, 4, "/mnt/root", true},
    };
    for (const Case& c : cases) {
        const Settings s = scan(std::get<0>(c));
        EXPECT_EQ(Case(std::get<0>(c), s.mode, s.argsSeen, s.root, s.quiet), c);
    }
    EXPECT_FALSE(scan({"--safe"}).commitAtOnce);
    EXPECT_EQ(scan({"-down", "--reinstall"}).plannerFlags, kAdmitDowngrade | kAdmitSame);
}

TEST(UpgradeRun, DowngradeFloorIsTheNumberAtTheStart) {
    for (const auto& [text, floor] : {std::pair<const char*, Version>{"", 0}, {"  +42 7", 42},
                                      {"x42", 0}, {"12abc", 12}, {"99999999999", 0xFFFFFFFFu}})
        EXPECT_EQ(parse_downgrade_floor(text), floor) << text;
}

TEST(UpgradeRun, EnablesAgainEachRecordOnceAndNotAgainstAConflict) {
    Scenario s;
    // "r": of two disabled holders the last; "u": an enabled provider already holds it; "v":
    // held by its own name only.
    s.given("p+alias~ q~ guard#q on r~ s+r~ t+u u~ v~");
    EXPECT_EQ(Scenario::names(packages_to_enable_again(
                  s.installer, {"alias", "on", "p", "q", "gone", "r", "u", "v"})), "p s v");
}

TEST(StreamCopy, NoticesAFailedWriteOrOpen) {
    StreamCopy full;
    ASSERT_TRUE(full.open("/dev/full"));
    const std::string block(100000, 'x');
    full.write(block.data(), block.size());
    EXPECT_FALSE(full.ok() || full.close());
    EXPECT_EQ(full.error_number(), ENOSPC);
    StreamCopy missing;
    EXPECT_FALSE(missing.open("/proc/no/such/copy") || missing.close());
}

}  // namespace
