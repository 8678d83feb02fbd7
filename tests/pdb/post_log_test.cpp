// The post-install log: taken over by reserve_log, written by finish.

#include "cli/installer.h"
#include "pdb/root_child.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string read_log() {
    std::ifstream in("/flash/postlog", std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

class PostLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_CHROOT();
        write_file(root / "flash/var/pdb/.keep", "");
    }
    TempDir root;
};

TEST_F(PostLogTest, EarlierLinesComeBeforeThisRunsMessages) {
    write_file(root / "flash/postlog", "old one\nold two\ncut without line feed");
    EXPECT_EQ(run_in_root(root.path(),
                          [] {
                              Installer& installer = Installer::instance();
                              installer.info("scheduled first");
                              installer.reserve_log();
                              const std::string reserved = read_log();
                              installer.warning("later");
                              installer.finish();
                              const bool zeros = reserved == std::string(4096, '\0');
                              return (zeros ? "zeros\n" : "?\n") + read_log();
                          }),
              "zeros\nold one\nold two\nscheduled first\nWARNING: later\n");
}

TEST_F(PostLogTest, ReservedRunWithoutMessagesWritesTheEarlierLinesBack) {
    write_file(root / "flash/postlog", "kept\n");
    EXPECT_EQ(run_in_root(root.path(),
                          [] {
                              Installer::instance().reserve_log();
                              Installer::instance().finish();
                              return read_log();
                          }),
              "kept\n");
}

TEST_F(PostLogTest, UnreservedRunAppendsAndSilentRunLeavesTheLogAlone) {
    write_file(root / "flash/postlog", "before\n");
    EXPECT_EQ(run_in_root(root.path(),
                          [] {
                              Installer& installer = Installer::instance();
                              installer.finish();
                              std::string out = read_log();
                              installer.error("failed");
                              installer.finish();
                              return out + read_log();
                          }),
              "before\nbefore\nERROR: failed\n");
}

TEST_F(PostLogTest, MissingLogIsCreatedOnReserve) {
    EXPECT_EQ(run_in_root(root.path(),
                          [] {
                              Installer& installer = Installer::instance();
                              installer.reserve_log();
                              installer.info("installed x");
                              installer.finish();
                              return read_log();
                          }),
              "installed x\n");
}

}  // namespace
