// Schedule files end to end: uninstall, enable and disable requests with their dependency
// consequences, and packages enabled again after an upgrade.

#include "e2e/router.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// base, app (needs base), tool (independent).
void install_three(Router& r) {
    r.upload("base.npk", pkg("base", "6.40", "provides core\nfile bin/base 0755 b\n"));
    r.upload("app.npk", pkg("app", "6.40", "depends base\nfile bin/app 0755 a\n"));
    r.upload("tool.npk", pkg("tool", "6.40", "file bin/tool 0755 t\n"));
    ASSERT_EQ(r.upgrade().status, 0);
    for (const char* f : {"base.npk", "app.npk", "tool.npk"})
        ::unlink(r.at(std::string("flash/rw/pckg/") + f).c_str());
    ASSERT_EQ(r.installed(), "app 6.40, base 6.40, tool 6.40");
}

TEST(ScheduleRun, RequestsFollowDependencies) {
    ROUTER(r);
    install_three(r);
    for (const char* word : {"uninstall", "disable"}) {
        SCOPED_TRACE(word);
        r.schedule("base", word);
        RunResult refused = r.upgrade();
        EXPECT_EQ(refused.status, 0) << refused.out;
        EXPECT_TRUE(has(refused.out, std::string("WARNING: can not ") + word +
                                         " base-6.40: app depends on it"))
            << refused.out;
        EXPECT_EQ(r.installed(), "app 6.40, base 6.40, tool 6.40");
        ::unlink(r.at("ram/pdb/base/schedule").c_str());
    }

    r.schedule("app", "disable");
    RunResult off = r.upgrade();
    EXPECT_EQ(off.status, 0) << off.out;
    EXPECT_TRUE(has(off.out, "disabled app-6.40")) << off.out;
    EXPECT_EQ(r.installed(), "app X 6.40, base 6.40, tool 6.40");
    EXPECT_EQ(r.read("flash/var/pdb/app/disabled"), "user\n");
    ::unlink(r.at("ram/pdb/app/schedule").c_str());
    r.schedule("base", "disable");
    ASSERT_EQ(r.upgrade().status, 0);
    EXPECT_EQ(r.installed(), "app X 6.40, base X 6.40, tool 6.40");
    ::unlink(r.at("ram/pdb/base/schedule").c_str());

    // Enabling a package that needs a disabled one enables that one too.
    r.schedule("app", "enable");
    RunResult on = r.upgrade();
    EXPECT_EQ(on.status, 0) << on.out;
    EXPECT_EQ(r.installed(), "app 6.40, base 6.40, tool 6.40");
    EXPECT_FALSE(r.exists("flash/var/pdb/base/disabled"));
    EXPECT_EQ(r.read("flash/var/pdb/app/enabled"), "user\n");
    ::unlink(r.at("ram/pdb/app/schedule").c_str());

    // A disabled package whose requirement goes is uninstalled with it.
    r.schedule("app", "disable");
    ASSERT_EQ(r.upgrade().status, 0);
    ::unlink(r.at("ram/pdb/app/schedule").c_str());
    r.schedule("base", "uninstall");
    RunResult both = r.upgrade();
    EXPECT_EQ(both.status, 0) << both.out;
    EXPECT_EQ(r.installed(), "tool 6.40");
    for (const char* gone : {"flash/bin/base", "flash/bin/app", "flash/var/pdb/app"})
        EXPECT_FALSE(r.exists(gone)) << gone;
    EXPECT_TRUE(r.exists("flash/bin/tool"));
}

TEST(ScheduleRun, UpgradeEnablesAgainWhatWasActiveOnce) {
    ROUTER(r);
    install_three(r);
    // The new base no longer provides "core" under the old name only: app, which needs base,
    // is disabled while base is replaced and must come back, and be named once.
    r.upload("base.npk", pkg("base", "6.41", "provides core\nfile bin/base 0755 b2\n"));
    RunResult run = r.upgrade();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(r.installed(), "app 6.40, base 6.41, tool 6.40");
    EXPECT_EQ(r.read("flash/bin/app"), "a");
    std::size_t enabled = 0;
    for (std::size_t at = run.out.find("enabled base"); at != std::string::npos;
         at = run.out.find("enabled base", at + 1))
        ++enabled;
    EXPECT_LE(enabled, 1u) << run.out;
}

TEST(ScheduleRun, EnablingAnEnabledPackageAndUninstallingEverythingChangeNothing) {
    ROUTER(r);
    install_three(r);
    r.schedule("base", "enable");
    RunResult enable = r.upgrade();
    EXPECT_EQ(enable.status, 0) << enable.out;
    EXPECT_EQ(r.installed(), "app 6.40, base 6.40, tool 6.40");
    EXPECT_TRUE(r.exists("flash/bin/app"));

    for (const char* name : {"base", "app", "tool"}) r.schedule(name, "uninstall");
    const auto before = r.flash();
    RunResult run = r.upgrade();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(has(run.out, "ERROR: can not uninstall or disable all packages")) << run.out;
    EXPECT_EQ(r.flash(), before);
}

}  // namespace
