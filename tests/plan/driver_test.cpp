// The installation driver through install_stream, in a chrooted child with a scratch /flash:
// outcomes a whole run hides, and what stays pending when installations replace one another.

#include "plan/driver.h"

#include "cli/stream_install.h"
#include "package/memory_source.h"
#include "package/signed_packages.h"
#include "support/root_child.h"
#include "plan/admission.h"
#include "plan/relations.h"
#include "support/scenario.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t kRun = kAdmitUpgrade;

InstalledPackage& add(const std::string& name, Version version, std::string file = "",
                      const std::string& bundle = "") {
    auto& list = Installer::instance().packages;
    list.push_back(std::make_unique<InstalledPackage>(name));
    list.back()->version = version;
    list.back()->buildTime = 1000;
    if (!file.empty()) list.back()->files.insert(file);
    if (!bundle.empty()) list.back()->bundle = {bundle, ver(7, 2), ver(7, 2), 0};
    return *list.back();
}

// "name-version" per named record, with "(disabled)" and "(user)" marks.
std::string state() {
    std::string text;
    for (const auto& p : Installer::instance().packages)
        if (!p->name.empty())
            text += package_label(*p) + (p->disabled ? "(disabled)" : "") +
                    (p->userForced ? "(user)" : "") + " ";
    return text;
}

int stream(Transaction& txn, const std::string& bytes, const UserForcedMap& forced = {},
           std::uint32_t flags = kRun, std::string* dir = nullptr, bool* boot = nullptr) {
    MemorySource in(bytes);
    return install_stream(Installer::instance(), txn, in, flags, forced, nullptr, dir, boot);
}

std::string package(const std::string& name, Version version, const std::string& file = "",
                    const std::vector<Dependency>& depends = {}) {
    PackageDescription recipe = package_spec(name, version);
    if (!file.empty()) recipe.files.push_back(file_entry(file, name));
    recipe.depends = depends;
    return package_file(recipe);
}

std::string bundle(const std::string& name, Version version,
                   const std::vector<std::string>& members,
                   const std::vector<Dependency>& optional = {}) {
    std::vector<PackageDescription> specs;
    for (const std::string& m : members) {
        specs.push_back(package_spec(m, version));
        specs.back().files = {file_entry("lib/" + m, m)};
    }
    return package_file(describe_bundle({name, version, 1000, 0}, specs, optional));
}

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* keep : {"flash/var/pdb/.keep", "ram/.keep", "tmp/.keep"})
            write_file(root / keep, "");
    }
    // Runs `body` in the chrooted child with an Installer for "i386".
    std::string in_root(const std::function<std::string(Transaction&)>& body) {
        return run_in_root(root.path(), [&] {
            Installer::instance().arch = "i386";
            Transaction txn;
            std::string report = body(txn);
            txn.cancel();
            return report;
        });
    }
    TempDir root;
};

// One package per run: "boot|status|messages|state|pending"; a trailing "*" ends the comparison.
TEST_F(DriverTest, SinglePackageRuns) {
    auto suite72 = [](const char* name, std::vector<PackageDescription> members) {
        return package_file(describe_bundle({name, ver(7, 2), 1000, 0}, std::move(members)));
    };
    PackageDescription core = package_spec("core", ver(7, 2)), dots = package_spec("..", ver(7, 2));
    PackageDescription withDepends = describe_bundle({"suite", ver(7, 2), 1000, 0}, {core});
    withDepends.depends = {{"system", 0, 0, 0}};
    PackageDescription olderImage = describe_bundle({"suite", ver(7, 1), 1000, 0}, {core});
    olderImage.hasImage = true, olderImage.image = "image";
    struct Row { const char* what; std::function<void()> given; std::string bytes;
                 UserForcedMap forced; const char* want; std::uint32_t flags = kRun; };
    const Row rows[] = {
        {"user's choice", [] {}, package("p", ver(7, 2)), {{"p", true}},
         "0|0|installed (disabled) p-7.2\n|p-7.2(disabled)(user) |*"},
        {"removed again by settling",
         [] { add("keep", ver(7, 2)), add("q", ver(7, 2)).action = kActionUninstall; },
         package("p", ver(7, 2), "bin/p", {{"q", 0, 0, 0}}), {{"p", true}},
         "0|1|installed (disabled) p-7.2\n|keep-7.2 |"},
        {"optional member chosen", [] {},
         bundle("suite", ver(7, 2), {"core", "extra"}, {{"extra", 0, 0, 0}}), {{"extra", false}},
         "0|0|installed suite-7.2\n|suite-7.2 core-7.2 extra-7.2(user) |*"},
        {"bundle header only", [] {}, suite72("suite", {}), {}, "0|3|*"},
        {"bundle with depends", [] {}, package_file(withDepends), {}, "0|1|*"},
        // A boot package reinstalled is the boot image only when that is asked for.
        {"same boot build", [] { add("system", ver(7, 2)).flags = kFlagBoot; },
         package_file(package_spec("system", ver(7, 2), kFlagBoot)), {},
         "0|0|installed system-7.2\n*", kRun | kAdmitSame},
        // The stream copy of an older bundle must not become the installed one's image.
        {"older bundle image", [] { add("suite", ver(7, 2)).isBundle = true; },
         package_file(olderImage), {}, "0|0|WARNING: omitting package suite-7.1*"},
        {"bad member name", [] {}, suite72("suite", {dots}), {}, "0|2|*"},
        {"bad bundle name", [] {}, suite72("a/b", {core}), {}, "0|1|*"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::string out = in_root([&](Transaction& txn) {
            r.given();
            std::string dir = "unset";
            bool boot = true;
            const int status = stream(txn, r.bytes, r.forced, r.flags, &dir, &boot);
            return std::to_string(boot) + (dir.empty() ? "|" : "|dir ") + std::to_string(status) +
                   "|" + message_lines() + "|" + state() + "|" + pending_entries(txn);
        });
        const std::string want = r.want;
        EXPECT_EQ(want.back() == '*' ? out.substr(0, want.size() - 1) + "*" : out, want) << out;
        EXPECT_TRUE(!out.starts_with("0|1|") || out.ends_with("|")) << "failed, yet pending";
    }
}

TEST_F(DriverTest, FileTakenOverSurvivesTheRemovalOfItsOldOwner) {
    const std::string b2 = package("b", ver(2, 0), "lib/shared");
    const std::string a2 = package("a", ver(2, 0), "bin/a");
    const std::string next = bundle("suite", ver(7, 3), {"core"});
    for (bool member : {false, true}) {
        SCOPED_TRACE(member ? "from a dropped bundle member" : "from an upgraded package");
        write_file(root / "flash/lib/shared", "old");
        EXPECT_EQ(in_root([&](Transaction& txn) {
                      add("b", ver(1, 0));
                      if (member) {
                          add("suite", ver(7, 2)).isBundle = true;
                          add("core", ver(7, 2), "", "suite");
                          add("old", ver(7, 2), "/flash/lib/shared", "suite");
                      } else {
                          add("a", ver(1, 0), "/flash/lib/shared");
                      }
                      const int first = stream(txn, b2);
                      const int second = stream(txn, member ? next : a2);
                      txn.commit();
                      return std::to_string(first + second) + read_file("/flash/lib/shared");
                  }),
                  "0b");
    }
}

TEST_F(DriverTest, NewBundleVersionDropsMembersAndWhatNeededOnlyThem) {
    const std::string next = bundle("suite", ver(7, 3), {"core"});
    // A disabled package of this run that needed only the dropped member goes with it.
    const std::string tool = package("tool", ver(7, 2), "bin/tool", {{"old", 0, 0, 0}});
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  add("suite", ver(7, 2)).isBundle = true;
                  add("core", ver(7, 2), "", "suite");
                  add("old", ver(7, 2), "", "suite");
                  const int first = stream(txn, tool, {{"tool", true}});
                  const std::string between = state();
                  const int second = stream(txn, next, {{"tool", true}});
                  std::string left;
                  for (const auto& [path, op] : txn.entries())
                      if (path.find("tool") != std::string::npos) left += path + " ";
                  return std::to_string(first + second) + "|" + between + "|" + state() + "|" +
                         left;
              }),
              "0|suite-7.2 core-7.2 old-7.2 tool-7.2(disabled)(user) |suite-7.3 core-7.3 |");
}

// The stream copy is whole only when it can become an image; other copies stop early.
TEST_F(DriverTest, CopyOfTheStreamIsWholeOnlyWhenItCanBecomeAnImage) {
    PackageDescription image = package_spec("i", ver(7, 2));
    PackageDescription boot = package_spec("s", ver(7, 2), kFlagBoot);
    image.hasImage = true;
    image.image = "image bytes";
    boot.files = {file_entry("bin/s", "s")};
    const std::pair<std::string, bool> runs[] = {{package("p", ver(7, 2), "bin/p"), true},
        {package_file(image), false}, {package_file(boot), true}, {package_file(boot), false},
        {bundle("suite", ver(7, 2), {"m"}), false}};
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  std::string out;
                  for (const auto& [bytes, bootImage] : runs) {
                      Installer::instance().packages.clear();
                      Installer::instance().bootImage = bootImage;
                      MemorySource in(bytes);
                      StringSink copy;
                      out += std::to_string(install_stream(Installer::instance(), txn, in, kRun,
                                                           {}, &copy, nullptr, nullptr));
                      const bool whole = copy.text == bytes;
                      out += whole ? "whole " : bytes.starts_with(copy.text) ? "cut " : "? ";
                  }
                  return out;
              }),
              "0cut 0whole 0whole 0cut 0cut ");
}

}  // namespace
