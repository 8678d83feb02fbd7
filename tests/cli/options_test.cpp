// The option scan, row by row: which test matches, where the scan stops, what is consumed.

#include "cli/options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

struct Scanned {
    Settings settings;
    std::string printed;
};

Scanned scan(const std::vector<std::string>& args) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    Scanned result{scan_options(args, out), {}};
    std::fclose(out);
    result.printed.assign(buffer, size);
    std::free(buffer);
    return result;
}

TEST(OptionsTest, ModesAndWhereTheScanStops) {
    struct Case {
        std::vector<std::string> args;
        RunMode mode;
        std::size_t seen;
    };
    const Case cases[] = {
        {{}, RunMode::Default, 0},
        {{"-"}, RunMode::Stream, 1},
        {{"-", "--show"}, RunMode::Stream, 1},
        {{"--show", "-"}, RunMode::Show, 2},
        {{"--show", "--cleanup", "-q"}, RunMode::Show, 2},
        {{"--cleanup", "--show"}, RunMode::Cleanup, 1},
        {{"-q", "--commit", "--show"}, RunMode::Commit, 2},
        {{"--cancel", "--bogus"}, RunMode::Cancel, 1},
        {{"--bogus", "--commit"}, RunMode::Usage, 1},
        {{"-r"}, RunMode::Usage, 1},
        {{"-q", "--month"}, RunMode::Usage, 2},
        {{"-b", "--force", "--noupgrade", "-i"}, RunMode::Default, 4},
        {{"--month", "--commit", "-q"}, RunMode::Default, 3},
        {{"-r", "--show"}, RunMode::Default, 2},
    };
    for (const Case& c : cases) {
        std::string label;
        for (const auto& a : c.args) label += a + " ";
        SCOPED_TRACE(label);
        Scanned s = scan(c.args);
        EXPECT_EQ(s.settings.mode, c.mode);
        EXPECT_EQ(s.settings.argsSeen, c.seen);
    }
}

TEST(OptionsTest, CleanupStopsBeforeQuietIsSeen) {
    Scanned s = scan({"--cleanup", "-q"});
    EXPECT_FALSE(s.settings.quiet);
    EXPECT_TRUE(scan({"-q", "--cleanup"}).settings.quiet);
}

TEST(OptionsTest, RootAndMonthConsumeTheirValue) {
    Scanned s = scan({"-q", "-r", "/mnt/root", "-"});
    EXPECT_TRUE(s.settings.quiet);
    EXPECT_EQ(s.settings.root, "/mnt/root");
    EXPECT_EQ(s.settings.mode, RunMode::Stream);

    Scanned m = scan({"--month", "any", "-q"});
    EXPECT_TRUE(m.settings.quiet);
    EXPECT_EQ(m.settings.mode, RunMode::Default);
}

TEST(OptionsTest, RootBeforeCommitIsKeptAndAfterItIsNeverRead) {
    EXPECT_EQ(scan({"-r", "/mnt", "--commit"}).settings.root, "/mnt");
    EXPECT_EQ(scan({"--cancel", "-r", "/mnt"}).settings.root, "");
}

TEST(OptionsTest, SafeBeforeCommitStillCommits) {
    Scanned s = scan({"--safe", "--commit"});
    EXPECT_EQ(s.settings.mode, RunMode::Commit);
    EXPECT_TRUE(scan({}).settings.commitAtOnce);
    EXPECT_FALSE(scan({"--safe"}).settings.commitAtOnce);
}

TEST(OptionsTest, ReinstallPrintsAtOnceEvenWhenQuiet) {
    Scanned s = scan({"-q", "--reinstall", "--commit"});
    EXPECT_EQ(s.printed, "\nResuming upgrade...\n");
    EXPECT_EQ(s.settings.mode, RunMode::Commit);
    EXPECT_EQ(s.settings.plannerFlags, kPlanReinstall);
}

TEST(OptionsTest, PlannerFlagsFromDownAndReinstall) {
    EXPECT_EQ(scan({"-down"}).settings.plannerFlags, kPlanDowngrade);
    EXPECT_EQ(scan({"-down", "--reinstall"}).settings.plannerFlags,
              kPlanDowngrade | kPlanReinstall);
    EXPECT_EQ(scan({"-q"}).printed, "");
}

}  // namespace
