#include "support/process.h"

#include <gtest/gtest.h>

TEST(UsageTest, UnknownOptionPrintsUsageAndSucceeds) {
    RunResult r = run_program(INSTALLER_BIN, {"--bogus"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "usage: installer [-q] [-r <root>] [-]\n");
}
