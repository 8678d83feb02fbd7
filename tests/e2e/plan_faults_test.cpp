// Planning end to end: the order in which uploads are installed, and a reinstall of the same
// build whose requirement no longer holds.
// Where the directory order of uploads or database entries decides, a test lays them out so.

#include "e2e/router.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace {

namespace fs = std::filesystem;

// Makes the entries of `dir` (below the root) with `make`, so that the directory lists them in
// the order of `names`: tmpfs lists entries in creation order or in its reverse, by kernel.
void in_directory_order(const Router& r, const std::string& dir,
                        const std::vector<std::string>& names,
                        const std::function<void(const std::string&)>& make) {
    auto listing = [&] {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(r.at(dir)))
            out.push_back(entry.path().filename());
        return out;
    };
    for (const std::string& n : names) make(n);
    if (listing() != names) {
        for (const std::string& n : names) fs::remove_all(r.at(dir + n));
        for (auto n = names.rbegin(); n != names.rend(); ++n) make(*n);
    }
    ASSERT_EQ(listing(), names);
}

TEST(PlanRun, InstallsWhatIsNeededBeforeWhatNeedsIt) {
    ROUTER(r);
    // greet2 needs what hello provides; placed by its needs alone it would go first.
    const std::map<std::string, std::string> files = {
        {"system.npk", pkg("system", "6.40")},
        {"greet2.npk", pkg("greet2", "6.40", "depends greeter\nfile bin/greet2 0755 g\n")},
        {"hello.npk", pkg("hello", "6.40", "provides greeter\ndepends system\n")}};
    in_directory_order(r, "flash/rw/pckg/", {"system.npk", "greet2.npk", "hello.npk"},
                       [&](const std::string& n) { r.upload(n, files.at(n)); });
    RunResult run = r.upgrade();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(r.installed(), "greet2 6.40, hello 6.40, system 6.40");
    EXPECT_EQ(r.read("flash/bin/greet2"), "g");
}

TEST(PlanRun, ReinstallKeepsTheBuildWhoseRequirementNoLongerHolds) {
    ROUTER(r);
    r.upload("base.npk", pkg("base", "6.40", "file bin/base 0755 b\n"));
    r.upload("app.npk", pkg("app", "6.40", "depends base\nfile bin/app 0755 a\n"));
    r.upload("tool.npk", pkg("tool", "6.40"));
    ASSERT_EQ(r.upgrade().status, 0);
    r.schedule("app", "disable");
    r.schedule("base", "disable");
    RunResult run = r.upgrade({"--reinstall"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(has(run.out, "installed (disabled) app-6.40\n")) << run.out;
    EXPECT_EQ(r.installed(), "app X 6.40, base X 6.40, tool 6.40");
    EXPECT_EQ(r.read("flash/bin/app"), "a");
}

}  // namespace
