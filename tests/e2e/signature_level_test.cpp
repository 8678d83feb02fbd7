// Signature levels end to end: which signature each version needs, "/ram/SECURE", and the
// property that a package that fails its check changes nothing on flash in either mode.

#include "e2e/router.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

TEST(SignatureLevel, LegacySignatureIsEnoughOnlyWhereTheTableSaysSo) {
    SKIP_WITHOUT_MOUNTS();
    const struct {
        const char* name;
        const char* version;
        bool legacyAccepted;
    } cases[] = {
        {"p", "6.46.8", true},    {"p", "6.46.9", false}, {"p", "6.46.255", false},
        {"p", "6.47alpha", true}, {"p", "6.48", true},    {"p", "6.48.1", false},
        {"p", "6.49", false},     {"p", "7.0beta1", true}, {"p", "7.1beta3", true},
        {"p", "7.1beta4", false}, {"p", "7.1", false},    {"branding", "7.5", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.version);
        for (const char* kind : {"legacy", "legacy+eddsa"}) {
            SCOPED_TRACE(kind);
            Router r;
            ASSERT_TRUE(r.ok()) << r.error();
            const bool expectOk = c.legacyAccepted || std::string(kind) == "legacy+eddsa";
            RunResult run = r.stream(pkg(c.name, c.version,
                                         std::string("signature ") + kind + "\n"
                                         "file bin/" + c.name + " 0755 x\n"));
            EXPECT_EQ(run.status == 0, expectOk) << run.out;
            EXPECT_EQ(r.exists(std::string("flash/bin/") + c.name), expectOk);
        }
    }
}

TEST(SignatureLevel, SecureMarkerDemandsEddsaEverywhere) {
    ROUTER(r);
    r.put("ram/SECURE", "");
    RunResult legacy = r.stream(pkg("p", "6.40", "signature legacy\nfile bin/p 0755 x\n"));
    EXPECT_NE(legacy.status, 0);
    EXPECT_TRUE(has(legacy.out, "installation of p-6.40 failed: broken package")) << legacy.out;
    RunResult branding = r.stream(pkg("branding", "6.40", "signature legacy\n"));
    EXPECT_NE(branding.status, 0);
    RunResult strong = r.stream(pkg("p", "6.40", "file bin/p 0755 x\n"));
    EXPECT_EQ(strong.status, 0) << strong.out;
}

// An unsigned, tampered or too weakly signed package over an installed older version leaves
// flash as it was (the post-install log aside), in the default run and in stream mode.
TEST(SignatureLevel, RejectedPackageChangesNothingInEitherMode) {
    ROUTER(r);
    const std::string old = pkg("a", "6.40", "image text v1\nfile bin/a 0755 one\n");
    r.upload("a.npk", old);
    ASSERT_EQ(r.upgrade().status, 0);
    ASSERT_EQ(r.read("flash/var/pdb/a/image"), old);
    const std::string good = pkg("a", "6.49", "image text v2\nfile bin/a 0755 two\n");
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"unsigned", pkg("a", "6.49", "signature none\nimage text v2\nfile bin/a 0755 two\n")},
        {"legacy below level 2", pkg("a", "6.49", "signature legacy\nimage text v2\n"
                                                  "file bin/a 0755 two\n")},
        {"tampered file data", tampered(good, 150)},
        {"tampered signature", tampered(good, 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = r.flash();
        RunResult stream = r.stream(c.bytes);
        EXPECT_NE(stream.status, 0) << stream.out;
        EXPECT_EQ(r.flash(), before);
        r.upload("a.npk", c.bytes);
        const auto withUpload = r.flash();
        RunResult upgrade = r.upgrade();
        EXPECT_EQ(upgrade.status, 1) << upgrade.out;
        EXPECT_EQ(r.flash(), withUpload);
        ::unlink(r.at("flash/rw/pckg/a.npk").c_str());
        EXPECT_EQ(r.installed(), "a 6.40");
        EXPECT_EQ(r.read("flash/bin/a"), "one");
    }
}

}  // namespace
