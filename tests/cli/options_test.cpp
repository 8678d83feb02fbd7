// The option scan: which option decides the mode, where the scan stops, what is consumed.

#include "cli/options.h"

#include "core/installer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

// The settings, and what the scan printed at once.
std::pair<Settings, std::string> scan(const std::vector<std::string>& args) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    Settings settings = scan_options(args, out);
    std::fclose(out);
    std::string printed(buffer, size);
    std::free(buffer);
    return {settings, printed};
}

TEST(OptionsTest, ModesAndWhereTheScanStops) {
    struct Case { std::vector<std::string> args; RunMode mode; std::size_t seen; };
    const Case cases[] = {
        {{}, RunMode::Default, 0},
        {{"-", "--show"}, RunMode::Stream, 1},
        {{"--show", "--cleanup", "-q"}, RunMode::Show, 2},
        {{"--cleanup", "--show"}, RunMode::Cleanup, 1},
        {{"-q", "--commit", "--show"}, RunMode::Commit, 2},
        {{"--cancel", "--bogus"}, RunMode::Cancel, 1},
        {{"--bogus", "--commit"}, RunMode::Usage, 1},
        {{"-r"}, RunMode::Usage, 1},
        {{"-b", "--force", "--noupgrade", "-i"}, RunMode::Default, 4},
        {{"--month", "--commit", "-q"}, RunMode::Default, 3},
        {{"-r", "--show"}, RunMode::Default, 2},
    };
    for (const Case& c : cases) {
        std::string label;
        for (const auto& a : c.args) label += a + " ";
        SCOPED_TRACE(label);
        const Settings s = scan(c.args).first;
        EXPECT_EQ(s.mode, c.mode);
        EXPECT_EQ(s.argsSeen, c.seen);
    }
}

TEST(OptionsTest, ValuesAndFlagsSeenBeforeTheScanStops) {
    EXPECT_FALSE(scan({"--cleanup", "-q"}).first.quiet);
    EXPECT_TRUE(scan({"-q", "--cleanup"}).first.quiet);
    const Settings root = scan({"-q", "-r", "/mnt/root", "-"}).first;
    EXPECT_EQ(root.root + (root.quiet ? " quiet" : ""), "/mnt/root quiet");
    EXPECT_EQ(root.mode, RunMode::Stream);
    EXPECT_TRUE(scan({"--month", "any", "-q"}).first.quiet);  // --month consumes its value
    EXPECT_EQ(scan({"-r", "/mnt", "--commit"}).first.root, "/mnt");
    EXPECT_EQ(scan({"--cancel", "-r", "/mnt"}).first.root, "");
    EXPECT_FALSE(scan({"--safe"}).first.commitAtOnce);
    EXPECT_EQ(scan({"-down"}).first.plannerFlags, kAdmitDowngrade);
    EXPECT_EQ(scan({"-down", "--reinstall"}).first.plannerFlags, kAdmitDowngrade | kAdmitSame);
}

}  // namespace
