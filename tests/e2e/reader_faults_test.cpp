// Package files read end to end where a wrong reading loses packages: the chunks after a
// signature are no header fields.

#include "e2e/router.h"

#include <gtest/gtest.h>

namespace {

TEST(ReaderFaults, ChunksAfterTheSignatureAreNoHeaderFields) {
    ROUTER(r);
    // Without an architecture of its own, a package must not take the trailing one either.
    const std::string trailer = "trailer arch mips\ntrailer empty-depends\n";
    r.upload("t.npk", pkg("t", "6.40", "image text img\nfile bin/t 0755 t\n" + trailer));
    r.upload("u.npk", pkg("u", "6.40", "file bin/u 0755 u\n" + trailer));
    RunResult first = r.upgrade();
    EXPECT_EQ(first.status, 0) << first.out;
    EXPECT_TRUE(has(first.out, "installed t-6.40") && has(first.out, "installed u-6.40"))
        << first.out;
    // t, kept as its database image, loads from that image in every later run.
    RunResult second = r.upgrade();
    EXPECT_EQ(second.status, 0) << second.out;
    EXPECT_EQ(r.installed(), "t 6.40, u 6.40");
    EXPECT_EQ(r.read("flash/bin/t"), "t");
}

}  // namespace
