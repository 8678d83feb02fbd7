// Installing one package from its stream into a Transaction, in a chrooted child so that /flash
// and /ram are a scratch root's: what gets queued, and that a refused package leaves nothing
// pending that would add to flash.
#include "plan/unpack.h"

#include "core/installer.h"
#include "flash/flash_device.h"
#include "package/package_format.h"
#include "package/signed_packages.h"
#include "support/root_child.h"
#include "support/scenario.h"
#include "support/temp_dir.h"
#include "txn/transaction.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::string_literals;

std::string broken(const std::string& package) {
    return "failed\nERROR: installation of " + package + " failed: broken package\n";
}

// The child's report: "ok" or "failed", the messages, then the pending additions.
std::string install_bytes(const std::string& bytes) {
    MemorySource in(bytes);
    auto reader = open_install_reader(in);
    InstalledPackage pkg;
    if (!read_package_header(pkg, *reader)) return "header failed";
    Transaction txn;
    std::string report =
        install_package(Installer::instance(), pkg, txn, *reader) ? "ok\n" : "failed\n";
    for (const std::string& m : Installer::instance().messages) report += m + "\n";
    return report + pending_entries(txn, false);
}

// A signed package "name-7.2" with the given files.
std::string signed_package(const std::string& name, std::vector<FileEntry> files) {
    PackageDescription recipe = package_spec(name, ver(7, 2));
    recipe.files = std::move(files);
    return package_file(recipe);
}

class InstallPackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"flash/var/pdb/", "ram/", "tmp/"}) write_file(root / d + ".keep", "");
    }
    std::string in_root(const std::function<std::string()>& body) {
        return run_in_root(root.path(), body);
    }
    std::string install(const std::string& bytes) {
        return in_root([&] { return install_bytes(bytes); });
    }
    TempDir root;
};

TEST_F(InstallPackageTest, HardwareVariantEntriesOnlyOnTheirVariant) {
    const std::string bytes = signed_package("p", {file_entry("any", "0"),
                                                   file_entry("three", "3", 0x81a4, 3),
                                                   file_entry("two", "2", 0x81a4, 2)});
    auto on_variant = [&](std::uint32_t pvr) {
        return in_root([&] {
            FakeFlash flash;
            flash.pvrValue = pvr;
            Installer::instance().flash = &flash;
            return install_bytes(bytes);
        });
    };
    EXPECT_THAT(on_variant(0x13020000),
                AllOf(HasSubstr("movetemp /flash/any\n"), HasSubstr("movetemp /flash/three\n"),
                      Not(HasSubstr("/flash/two"))));
    EXPECT_THAT(on_variant(0),
                AllOf(HasSubstr("movetemp /flash/any\n"), Not(HasSubstr("/flash/three"))));
}

TEST_F(InstallPackageTest, NamesThatEscapeOrCannotBeStoredMakeThePackageBroken) {
    for (const std::string& name : {"bin/../../x"s, ".."s, ""s, "//"s, "bin/"s, "a\nb"s, "a\0b"s}) {
        SCOPED_TRACE("entry name \"" + name + "\"");
        const std::string bytes =
            signed_package("p", {file_entry("good", "kept?"), file_entry(name, "evil")});
        EXPECT_EQ(install(bytes), broken("p-7.2"));
    }
    for (const std::string name : {"..", "a/b", "tab\t", ".stream-image"}) {
        SCOPED_TRACE("package name \"" + name + "\"");
        EXPECT_THAT(install(signed_package(name, {file_entry("bin/a", "x")})),
                    AllOf(HasSubstr("failed\nERROR: installation of "),
                          HasSubstr(" failed: broken package\n")));
    }
    for (const std::string name : {"", "two words", "\x01"}) {
        SCOPED_TRACE("relation name \"" + name + "\"");
        PackageDescription recipe = package_spec("p", ver(7, 2));
        recipe.provides = {{name, 0, 0, 0}};
        EXPECT_EQ(install(package_file(recipe)), broken("p-7.2"));
    }
}

TEST_F(InstallPackageTest, AWriteFailingDuringTheCopyFailsTheInstallation) {
    const std::string bytes = signed_package("big", {file_entry("big", std::string(1 << 18, 'b'))});
    EXPECT_EQ(in_root([&] {
                  const rlimit small = {1 << 16, 1 << 16};  // writes past it fail with EFBIG
                  ::signal(SIGXFSZ, SIG_IGN);
                  return ::setrlimit(RLIMIT_FSIZE, &small) == 0 ? install_bytes(bytes) : "rlimit";
              }),
              "failed\nERROR: installation of big-7.2 failed: could not create big: File too "
              "large\n");
}

TEST_F(InstallPackageTest, EveryTruncationIsRefusedWithNothingLeftToAdd) {
    const std::string bytes = signed_package(
        "p", {file_entry("bin/a", std::string(5000, 'a')), file_entry("bin/b", "b")});
    const std::string report = in_root([&] {
        std::string faults;
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            MemorySource in(bytes.substr(0, length));
            auto reader = open_install_reader(in);
            InstalledPackage pkg;
            if (!read_package_header(pkg, *reader)) continue;
            Transaction txn;
            if (install_package(Installer::instance(), pkg, txn, *reader))
                faults += "accepted at " + std::to_string(length) + "\n";
            else if (!pending_entries(txn, false).empty())
                faults += "left at " + std::to_string(length) + ": " + pending_entries(txn, false);
            txn.cancel();
        }
        return faults.empty() ? std::string("none") : faults;
    });
    EXPECT_EQ(report, "none");
    EXPECT_EQ(read_file(root / "flash/bin/a"), "");
}

}  // namespace
