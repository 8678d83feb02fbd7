// The post-install log: taken over by reserve_log, written by finish.

#include "cli/installer.h"
#include "pdb/root_child.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

class PostLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_CHROOT();
        write_file(root / "flash/var/pdb/.keep", "");
    }
    std::string run(const std::string& before, void (*body)(Installer&, std::string&)) {
        if (!before.empty()) write_file(root / "flash/postlog", before);
        return run_in_root(root.path(), [body] {
            std::string out;
            body(Installer::instance(), out);
            return out + read_file("/flash/postlog");
        });
    }
    TempDir root;
};

TEST_F(PostLogTest, EarlierLinesComeBeforeThisRunsMessages) {
    EXPECT_EQ(run("old one\nold two\ncut without line feed",
                  [](Installer& in, std::string& out) {
                      in.info("scheduled first");
                      in.reserve_log();
                      const bool zeros = read_file("/flash/postlog") == std::string(4096, '\0');
                      out = zeros ? "zeros\n" : "?\n";
                      in.warning("later");
                      in.finish();
                  }),
              "zeros\nold one\nold two\nscheduled first\nWARNING: later\n");
}

TEST_F(PostLogTest, ReservedRunWithoutMessagesWritesTheEarlierLinesBack) {
    EXPECT_EQ(run("kept\n", [](Installer& in, std::string&) { in.reserve_log(), in.finish(); }),
              "kept\n");
}

TEST_F(PostLogTest, UnreservedRunAppendsAndSilentRunLeavesTheLogAlone) {
    EXPECT_EQ(run("before\n",
                  [](Installer& in, std::string& out) {
                      in.finish();
                      out = read_file("/flash/postlog");
                      in.error("failed");
                      in.finish();
                  }),
              "before\nbefore\nERROR: failed\n");
}

TEST_F(PostLogTest, MissingLogIsCreatedOnReserve) {
    EXPECT_EQ(run("", [](Installer& in, std::string&) {
                  in.reserve_log();
                  in.info("installed x");
                  in.finish();
              }),
              "installed x\n");
}

}  // namespace
