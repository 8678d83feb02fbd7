// The package database across runs: what one run writes, the next must load as the same
// installed set, and removing a package must reach every file it installed.

#include "e2e/router.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

TEST(DatabaseFaults, VersionNumbersAreReadAsStreamNumbers) {
    for (const char* text : {"103310849 5;x\n", "+103310849 +5\n"}) {
        SCOPED_TRACE(text);
        ROUTER(r);
        ASSERT_EQ(r.stream(pkg("base", "6.40")).status, 0);
        r.put("flash/var/pdb/p/version", text);
        r.put("flash/var/pdb/p/files", "bin/p\n");
        r.put("flash/bin/p", "p");
        EXPECT_EQ(r.upgrade().status, 0);
        EXPECT_EQ(r.installed(), "base 6.40, p 6.40.1");
        EXPECT_TRUE(r.exists("flash/bin/p"));
    }
}

}  // namespace
