// Planning end to end: the order in which uploads are installed, a reinstall of the same build
// whose requirement no longer holds, and requirements kept along a cycle of needs.
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

TEST(PlanRun, KeepsRequirementsOfAPackageReachedAgainThroughACycle) {
    ROUTER(r);
    // r needs p; p needs q and "svc" (from x or y); q needs p and x. p is kept for r, which
    // enables q, which enables p again: p's needs are then kept before x is enabled.
    const std::map<std::string, std::string> deps = {
        {"p", "q 0 0\nsvc 0 0\n"}, {"q", "p 0 0\nx 0 0\n"}, {"r", "p 0 0\n"}};
    in_directory_order(r, "flash/var/pdb/", {"p", "q", "r", "y", "x", "system"},
                       [&](const std::string& n) {
                           const std::string dir = "flash/var/pdb/" + n + "/";
                           r.put(dir + "version", std::to_string(ver(6, 40)) + " 0\n");
                           r.put(dir + "files", "");
                           if (deps.count(n)) r.put(dir + "deps", deps.at(n));
                           if (n == "x" || n == "y") r.put(dir + "provides", "svc 0 0 0\n");
                           if (n != "r" && n != "system") r.put(dir + "disabled", "auto\n");
                       });
    r.schedule("p", "uninstall");
    RunResult run = r.upgrade();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(has(run.out, "WARNING: can not uninstall p-6.40: r depends on it\n")) << run.out;
    std::size_t last = 0;
    for (const char* n : {"x", "y", "p", "q"}) {
        const std::size_t at = run.out.find(std::string("enabled ") + n + "-6.40\n");
        EXPECT_TRUE(at != std::string::npos && at >= last) << n << "\n" << run.out;
        last = at;
    }
    EXPECT_EQ(r.installed(), "p 6.40, q 6.40, r 6.40, system 6.40, x 6.40, y 6.40");
}

}  // namespace
