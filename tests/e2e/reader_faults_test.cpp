// Package files read end to end where a wrong reading loses packages: the chunks after a
// signature are no header fields, text chunks have a bound, file entries keep their modes.

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

TEST(ReaderFaults, OversizeTextChunkMakesThePackageBroken) {
    ROUTER(r);
    const std::string big(100000, 'x');
    r.upload("big.npk", pkg("big", "6.40", "arch " + big + "\nfile bin/big 0755 b\n"));
    RunResult upload = r.upgrade();
    EXPECT_TRUE(has(upload.out, "ERROR: broken package big.npk")) << upload.out.substr(0, 300);
    // The installation passes notes over unread, but a later run reads them from the image.
    RunResult stream = r.stream(pkg("n", "6.40", "note " + big + "\nimage text i\n"));
    EXPECT_EQ(stream.status, 1);
    EXPECT_TRUE(has(stream.out, "installation of n-6.40 failed: broken package")) << stream.out;
    EXPECT_EQ(r.installed(), "");
}

TEST(ReaderFaults, FileEntryModeIsAppliedEvenWithoutPermissionBits) {
    ROUTER(r);
    ASSERT_EQ(r.stream(pkg("m", "6.40", "file bin/none 0 n\nfile bin/some 0640 s\n")).status, 0);
    EXPECT_EQ(snapshot(r.at("flash/bin"), true),
              (Tree{{"none", "file 0000 n"}, {"some", "file 0640 s"}}));
}

}  // namespace
