// The installation driver through install_stream, in a chrooted child with a scratch /flash:
// admission outcomes, bundles with optional and dropped members, and what stays pending in the
// Transaction when installations replace or remove one another within one run.

#include "plan/driver.h"

#include "cli/installer.h"
#include "cli/stream_install.h"
#include "package/signed_packages.h"
#include "pdb/root_child.h"
#include "plan/admission.h"
#include "plan/relations.h"
#include "support/scenario.h"
#include "support/temp_dir.h"
#include "txn/transaction.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr std::uint32_t kRun = kAdmitUpgrade;

InstalledPackage& add_installed(const std::string& name, Version version,
                                std::vector<std::string> files = {}) {
    auto record = std::make_unique<InstalledPackage>(name);
    record->version = version;
    record->buildTime = 1000;
    for (std::string& f : files) record->files.insert(std::move(f));
    Installer::instance().packages.push_back(std::move(record));
    return *Installer::instance().packages.back();
}

// "name-version" per record, with "(disabled)" and "(user)" marks, in list order.
std::string state() {
    std::string text;
    for (const auto& p : Installer::instance().packages) {
        if (p->name.empty()) continue;  // blockers
        if (!text.empty()) text += ' ';
        text += package_label(*p);
        if (p->disabled) text += "(disabled)";
        if (p->userForced) text += "(user)";
    }
    return text;
}

std::string messages() {
    std::string text;
    for (const std::string& m : Installer::instance().messages) text += m + "\n";
    return text;
}

std::string pending(const Transaction& txn) {
    std::string text;
    for (const auto& [path, op] : txn.entries())
        text += std::string(op.op == Remove ? "U " : op.op == Link ? "L " : "M ") + path + "\n";
    return text;
}

int stream(Transaction& txn, const std::string& bytes, std::uint32_t flags = kRun,
           const UserForcedMap& forced = {}, std::string* dir = nullptr, bool* boot = nullptr) {
    std::istringstream in(bytes);
    return install_stream(Installer::instance(), txn, in, flags, forced, nullptr, dir, boot);
}

std::string package(const std::string& name, Version version,
                    const std::vector<std::string>& files = {},
                    const std::vector<Dependency>& depends = {},
                    const std::vector<Dependency>& conflicts = {}) {
    PackageSpec spec = package_spec(name, version);
    for (const std::string& f : files) spec.files.push_back(file_entry(f, name));
    spec.depends = depends;
    spec.conflicts = conflicts;
    return build_package(spec, dev_sign());
}

std::string bundle(const std::string& name, Version version,
                   const std::vector<std::string>& members,
                   const std::vector<Dependency>& optional = {}) {
    std::vector<PackageSpec> specs;
    for (const std::string& m : members) {
        PackageSpec spec = package_spec(m, version);
        spec.files = {file_entry("lib/" + m, m)};
        specs.push_back(spec);
    }
    return build_bundle({name, version, 1000, 0}, specs, dev_sign(), optional);
}

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_CHROOT();
        write_file(root / "flash/var/pdb/.keep", "");
        write_file(root / "ram/.keep", "");
        write_file(root / "tmp/.keep", "");
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

TEST_F(DriverTest, ConflictingPackageIsInstalledDisabledWithoutMessage) {
    const std::string bytes = package("b", ver(7, 2));
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  add_installed("a", ver(7, 1)).conflicts = {{"b", 0, 0, 0}};
                  const int status = stream(txn, bytes);
                  return std::to_string(status) + "|" + messages() + "|" + state();
              }),
              "0|installed (disabled) b-7.2\n|a-7.1 b-7.2(disabled)");
}

TEST_F(DriverTest, UserChoiceDecidesTheStateOfAStandalonePackage) {
    const std::string bytes = package("p", ver(7, 2));
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  UserForcedMap forced;
                  forced["p"] = true;
                  const int status = stream(txn, bytes, kRun, forced);
                  return std::to_string(status) + "|" + state();
              }),
              "0|p-7.2(disabled)(user)");
}

TEST_F(DriverTest, SameBuildReinstalledOnlyWithReinstallAndNeverUnpackedAgain) {
    const std::string bytes = package("p", ver(7, 2), {"bin/p"});
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  add_installed("p", ver(7, 2));
                  const int status = stream(txn, bytes, kRun | kAdmitSame);
                  return std::to_string(status) + "|" + messages() + "|" + pending(txn);
              }),
              "0|installed p-7.2\n|");
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  add_installed("p", ver(7, 2));
                  const int status = stream(txn, bytes);
                  return std::to_string(status) + "|" + messages() + "|" + pending(txn);
              }),
              "0|WARNING: omitting package p-7.2: it is already installed\n|");
}

TEST_F(DriverTest, OlderCandidateIsSkippedWithItsWarningAndKeepsNoImage) {
    PackageSpec spec = package_spec("p", ver(7, 1));
    spec.image = "image bytes";
    spec.files = {file_entry("bin/p", "old")};
    const std::string bytes = build_package(spec, dev_sign());
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  add_installed("p", ver(7, 2));
                  std::string dir = "unset";
                  bool boot = true;
                  const int status = stream(txn, bytes, kRun, {}, &dir, &boot);
                  return std::to_string(status) + "|" + dir + "|" + std::to_string(boot) + "|" +
                         messages() + "|" + pending(txn) + "|" + state();
              }),
              "0||0|WARNING: omitting package p-7.1: newer package p-7.2 is already installed\n"
              "||p-7.2");
}

TEST_F(DriverTest, CanNotInstallRefusalsStillFail) {
    const std::string bytes = package("p", ver(7, 2), {}, {{"missing", 0, 0, 0}});
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  bool boot = true;
                  const int status = stream(txn, bytes, kRun, {}, nullptr, &boot);
                  return std::to_string(status) + std::to_string(boot) + "|" + messages();
              }),
              "10|ERROR: can not install p-7.2: missing is not installed, but is required\n");
}

TEST_F(DriverTest, BrokenStreamsFailWithTheBootFlagCleared) {
    for (const std::string& bytes : {std::string(), std::string("not a package"),
                                     package("p", ver(7, 2)).substr(0, 60)}) {
        SCOPED_TRACE(bytes.size());
        EXPECT_EQ(in_root([&](Transaction& txn) {
                      bool boot = true;
                      const int status = stream(txn, bytes, kRun, {}, nullptr, &boot);
                      return std::to_string(status != 0) + std::to_string(boot) + pending(txn);
                  }),
                  "10");
    }
}

TEST_F(DriverTest, UpgradeReplacesTheInstalledRecordAndItsFiles) {
    write_file(root / "flash/bin/old", "x");
    const std::string bytes = package("p", ver(7, 2), {"bin/new"});
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  add_installed("p", ver(7, 1), {"/flash/bin/old"});
                  const int status = stream(txn, bytes);
                  std::string text = pending(txn);
                  return std::to_string(status) + "|" + state() + "|" +
                         std::to_string(text.find("U /flash/bin/old\n") != std::string::npos) +
                         std::to_string(text.find("M /flash/bin/new\n") != std::string::npos);
              }),
              "0|p-7.2|11");
}

TEST_F(DriverTest, AlternateMagicKeepsTheEarlierInstallation) {
    write_file(root / "flash/bin/old", "x");
    PackageWriter w(kAltPackageMagic);
    w.sha256_marker();
    PackageSpec spec = package_spec("p", ver(7, 2));
    spec.files = {file_entry("bin/new", "n")};
    append_package(w, spec, dev_sign());
    const std::string bytes = w.finish();
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  add_installed("p", ver(7, 1), {"/flash/bin/old"});
                  const int status = stream(txn, bytes);
                  return std::to_string(status) + "|" + pending(txn);
              }),
              "0|M /flash/bin/new\n");
}

TEST_F(DriverTest, FileMovedToAnotherPackageSurvivesTheOldOwnersRemoval) {
    write_file(root / "flash/lib/shared", "from a 1.0");
    const std::string b2 = package("b", ver(2, 0), {"lib/shared"});
    const std::string a2 = package("a", ver(2, 0), {"bin/a"});
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  add_installed("a", ver(1, 0), {"/flash/lib/shared"});
                  add_installed("b", ver(1, 0));
                  const int first = stream(txn, b2);
                  const int second = stream(txn, a2);
                  txn.commit(false);
                  return std::to_string(first) + std::to_string(second) + "|" +
                         read_file("/flash/lib/shared");
              }),
              "00|b");
}

TEST_F(DriverTest, FileTakenOverFromADroppedMemberSurvivesItsRemoval) {
    write_file(root / "flash/lib/shared", "from old");
    const std::string b2 = package("b", ver(2, 0), {"lib/shared"});
    const std::string next = bundle("suite", ver(7, 3), {"core"});
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  add_installed("b", ver(1, 0));
                  add_installed("suite", ver(7, 2)).isBundle = true;
                  add_installed("core", ver(7, 2)).bundle = {"suite", ver(7, 2), ver(7, 2), 0};
                  add_installed("old", ver(7, 2), {"/flash/lib/shared"}).bundle =
                      {"suite", ver(7, 2), ver(7, 2), 0};
                  const int first = stream(txn, b2);
                  const int second = stream(txn, next);
                  txn.commit(false);
                  return std::to_string(first) + std::to_string(second) + "|" + state() + "|" +
                         read_file("/flash/lib/shared");
              }),
              "00|b-2.0 suite-7.3 core-7.3|b");
}

TEST_F(DriverTest, BundleInstallsOptionalMembersDisabledUnlessTheUserChose) {
    const std::string bytes = bundle("suite", ver(7, 2), {"core", "extra"}, {{"extra", 0, 0, 0}});
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  const int status = stream(txn, bytes);
                  return std::to_string(status) + "|" + messages() + "|" + state();
              }),
              "0|installed suite-7.2\n|suite-7.2 core-7.2 extra-7.2(disabled)");
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  UserForcedMap forced;
                  forced["extra"] = false;
                  const int status = stream(txn, bytes, kRun, forced);
                  return std::to_string(status) + "|" + state();
              }),
              "0|suite-7.2 core-7.2 extra-7.2(user)");
}

TEST_F(DriverTest, BundleResultCodes) {
    PackageWriter headerOnly;
    headerOnly.sha256_marker().bundle_header({"suite", ver(7, 2), 1000, 0});
    PackageWriter withDepends;
    withDepends.sha256_marker().bundle_header({"suite", ver(7, 2), 1000, 0});
    withDepends.depends({{"system", 0, 0, 0}});
    append_package(withDepends, package_spec("core", ver(7, 2)), dev_sign());
    PackageWriter badMember;
    badMember.sha256_marker().bundle_header({"suite", ver(7, 2), 1000, 0});
    append_package(badMember, package_spec("..", ver(7, 2)), dev_sign());
    PackageWriter badName;
    badName.sha256_marker().bundle_header({"a/b", ver(7, 2), 1000, 0});
    append_package(badName, package_spec("core", ver(7, 2)), dev_sign());
    struct Row {
        std::string bytes;
        int code;
    };
    for (const Row& row : {Row{headerOnly.finish(), 3}, Row{withDepends.finish(), 1},
                           Row{badMember.finish(), 2}, Row{badName.finish(), 1}}) {
        SCOPED_TRACE(row.code);
        EXPECT_EQ(in_root([&](Transaction& txn) { return std::to_string(stream(txn, row.bytes)); }),
                  std::to_string(row.code));
    }
}

TEST_F(DriverTest, BundleOfTheSameBuildIsTreatedLikeASinglePackage) {
    const std::string bytes = bundle("suite", ver(7, 2), {"core"});
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  add_installed("suite", ver(7, 2)).isBundle = true;
                  add_installed("core", ver(7, 2)).bundle = {"suite", ver(7, 2), ver(7, 2), 0};
                  const int status = stream(txn, bytes);
                  return std::to_string(status) + "|" + messages() + "|" + pending(txn);
              }),
              "0|WARNING: omitting package suite-7.2: it is already installed\n|");
}

TEST_F(DriverTest, MemberDroppedByANewBundleVersionIsUninstalled) {
    const std::string next = bundle("suite", ver(7, 3), {"core"});
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  add_installed("suite", ver(7, 2)).isBundle = true;
                  add_installed("core", ver(7, 2)).bundle = {"suite", ver(7, 2), ver(7, 2), 0};
                  add_installed("old", ver(7, 2)).bundle = {"suite", ver(7, 2), ver(7, 2), 0};
                  const int status = stream(txn, next);
                  return std::to_string(status) + "|" + state();
              }),
              "0|suite-7.3 core-7.3");
}

// A disabled package installed earlier in the run that needed only a dropped member goes with
// it, and nothing of it may reach flash: not its files, not its database entry.
TEST_F(DriverTest, PackageInstalledEarlierAndRemovedBySettlingLeavesNothingBehind) {
    const std::string tool = package("tool", ver(7, 2), {"bin/tool"}, {{"old", 0, 0, 0}});
    const std::string next = bundle("suite", ver(7, 3), {"core"});
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  add_installed("suite", ver(7, 2)).isBundle = true;
                  add_installed("core", ver(7, 2)).bundle = {"suite", ver(7, 2), ver(7, 2), 0};
                  add_installed("old", ver(7, 2)).bundle = {"suite", ver(7, 2), ver(7, 2), 0};
                  UserForcedMap forced;
                  forced["tool"] = true;
                  const int first = stream(txn, tool, kRun, forced);
                  const std::string between = state();
                  const int second = stream(txn, next, kRun, forced);
                  std::string left;
                  for (const auto& [path, op] : txn.entries())
                      if (path.find("tool") != std::string::npos) left += path + " ";
                  return std::to_string(first) + std::to_string(second) + "|" + between + "|" +
                         state() + "|" + left;
              }),
              "00|suite-7.2 core-7.2 old-7.2 tool-7.2(disabled)(user)|suite-7.3 core-7.3|");
}

TEST_F(DriverTest, InstalledPackageRemovedAgainBySettlingCountsAsFailed) {
    const std::string bytes = package("p", ver(7, 2), {"bin/p"}, {{"q", 0, 0, 0}});
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  add_installed("keep", ver(7, 2));
                  add_installed("q", ver(7, 2)).action = kActionUninstall;
                  UserForcedMap forced;
                  forced["p"] = true;
                  const int status = stream(txn, bytes, kRun, forced);
                  return std::to_string(status) + "|" + state() + "|" + pending(txn);
              }),
              "1|keep-7.2|");
}

TEST_F(DriverTest, CleanupRemovesPackagesNotMadeForACurrentSystem) {
    EXPECT_EQ(in_root([&](Transaction& txn) {
                  add_installed("system", ver(7, 2));
                  add_installed("zephlin", ver(7, 2));
                  add_installed("disk-drivers", ver(7, 2));
                  add_installed("suite", ver(7, 2)).isBundle = true;
                  add_installed("bare", ver(7, 2));
                  add_installed("old", ver(7, 2)).depends = {{"system", 0x031665FF, 0, 0}};
                  add_installed("new", ver(7, 2)).depends = {{"system", 0x03166600, 0, 0}};
                  const bool applied = cleanup(Installer::instance(), txn);
                  return std::to_string(applied) + "|" + state();
              }),
              "1|system-7.2 zephlin-7.2 disk-drivers-7.2 new-7.2");
}

}  // namespace
