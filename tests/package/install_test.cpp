// Installing one package from its stream into a Transaction, in a chrooted child so that the
// device paths (/flash, /ram) are those of a scratch root: what gets queued, what a commit
// leaves, and that a refused package leaves nothing pending that would add to flash.

#include "package/install.h"

#include "cli/installer.h"
#include "flash/flash_device.h"
#include "package/package_format.h"
#include "package/signed_packages.h"
#include "pdb/root_child.h"
#include "support/mount_ns.h"
#include "support/scenario.h"
#include "support/temp_dir.h"
#include "txn/transaction.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <cstdlib>
#include <sstream>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class VariantFlash : public FlashDevice {
public:
    explicit VariantFlash(std::uint32_t pvr) : pvr_(pvr) {}
    std::uint32_t min_version() override { return 0; }
    bool mtd0_has_256k_blocks() override { return false; }
    int flash_flag() override { return 0; }
    std::uint32_t pvr() override { return pvr_; }

private:
    std::uint32_t pvr_;
};

std::string kind_of(std::uint32_t op) {
    switch (op) {
    case Move: return "M";
    case MoveTemp: return "T";
    case Link: return "L";
    default: return "U";
    }
}

// Pending entries that would put something on flash: moves and links.
std::string additions(const Transaction& txn) {
    std::string text;
    for (const auto& [path, op] : txn.entries())
        if (op.op != Remove) text += kind_of(op.op) + " " + path + "\n";
    return text;
}

std::string joined_messages() {
    std::string text;
    for (const std::string& m : Installer::instance().messages) text += m + "\n";
    return text;
}

struct Options {
    bool commit = false;    // commit and report the installed files' contents
    bool disabled = false;  // install the package disabled
};

// The child's report: "ok" or "failed", the messages, the pending additions (or, after a
// commit, the listed files' contents).
std::string install_bytes(const std::string& bytes, const Options& options = {}) {
    std::istringstream in(bytes);
    auto reader = open_install_reader(in);
    InstalledPackage pkg;
    if (!read_package_header(pkg, *reader)) return "header failed";
    pkg.disabled = options.disabled;
    Transaction txn;
    const bool ok = install_package(pkg, txn, *reader);
    std::string report = std::string(ok ? "ok" : "failed") + "\n" + joined_messages();
    if (!options.commit) return report + additions(txn);
    txn.commit(false);
    for (const std::string& path : pkg.files) report += path + "=" + read_file(path) + "\n";
    return report;
}

class InstallPackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_CHROOT();
        write_file(root / "flash/var/pdb/.keep", "");
        write_file(root / "ram/.keep", "");
        write_file(root / "tmp/.keep", "");
    }
    std::string in_root(const std::function<std::string()>& body) {
        return run_in_root(root.path(), body);
    }
    std::string install(const std::string& bytes, const Options& options = {}) {
        return in_root([&] { return install_bytes(bytes, options); });
    }
    TempDir root;
};

TEST(RequiredLevelTest, FollowsTheVersionTableAtEachBoundary) {
    struct Row {
        const char* name;
        Version version;
        int level;
    };
    const Row rows[] = {
        {"dude", 0x062e6608, 1}, {"dude", 0x062e6609, 2}, {"dude", 0x062effff, 2},
        {"dude", 0x062f0000, 1}, {"dude", 0x06306600, 1}, {"dude", 0x06306601, 2},
        {"dude", 0x06ffffff, 2}, {"dude", 0x07000000, 1}, {"dude", 0x07016203, 1},
        {"dude", 0x07016204, 2}, {"dude", 0xffffffff, 2}, {"branding", 0x07016204, 1},
        {"branding", 0x062e6609, 1}, {"dude", 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + std::to_string(row.version));
        EXPECT_EQ(required_level(row.name, row.version), row.level);
    }
}

TEST_F(InstallPackageTest, UnpacksRegularFilesBelowFlashWithTheirContent) {
    PackageSpec spec = package_spec("ppp", ver(7, 2));
    spec.files = {file_entry("/etc/a", "one"), file_entry("bin/b", "two"),
                  file_entry("lib", "", 0x41ed), file_entry("bin/link", "b", 0xa1ff)};
    const std::string report = install(build_package(spec, dev_sign()), Options{true, false});
    EXPECT_EQ(report, "ok\ninstalled ppp-7.2\n/flash/bin/b=two\n/flash/etc/a=one\n");
    EXPECT_FALSE(path_exists(root / "flash/lib"));
    EXPECT_FALSE(path_exists(root / "flash/bin/link"));
    EXPECT_EQ(read_file(root / "flash/var/pdb/ppp/files"), "bin/b\netc/a\n");
}

TEST_F(InstallPackageTest, DisabledPackageIsUnpackedAsideBelowItsName) {
    PackageSpec spec = package_spec("p", ver(7, 2));
    spec.files = {file_entry("bin/a", "x")};
    EXPECT_EQ(install(build_package(spec, dev_sign()), Options{true, true}),
              "ok\ninstalled (disabled) p-7.2\n/flash/x/p/bin/a=x\n");
}

TEST_F(InstallPackageTest, HardwareVariantEntriesOnlyOnTheirVariant) {
    PackageSpec spec = package_spec("p", ver(7, 2));
    spec.files = {file_entry("any", "0"), file_entry("three", "3", 0x81a4, 3),
                  file_entry("two", "2", 0x81a4, 2)};
    const std::string bytes = build_package(spec, dev_sign());
    EXPECT_THAT(in_root([&] {
                    VariantFlash flash(0x13020000);  // variant 3
                    set_flash_device(&flash);
                    return install_bytes(bytes);
                }),
                AllOf(HasSubstr("T /flash/any\n"), HasSubstr("T /flash/three\n"),
                      Not(HasSubstr("/flash/two"))));
    EXPECT_THAT(in_root([&] {
                    VariantFlash flash(0);  // variant 0
                    set_flash_device(&flash);
                    return install_bytes(bytes);
                }),
                AllOf(HasSubstr("T /flash/any\n"), Not(HasSubstr("/flash/three"))));
}

TEST_F(InstallPackageTest, HostileEntryNamesMakeTheWholePackageBroken) {
    const std::string names[] = {"../etc/passwd", "bin/../../x", "..", "", "/", "//", "bin/",
                                 "a\nb", std::string("a\0b", 3)};
    for (const std::string& name : names) {
        SCOPED_TRACE("entry name \"" + name + "\"");
        PackageSpec spec = package_spec("p", ver(7, 2));
        spec.files = {file_entry("good", "kept?"), file_entry(name, "evil")};
        EXPECT_EQ(install(build_package(spec, dev_sign())),
                  "failed\nERROR: installation of p-7.2 failed: broken package\n");
    }
}

TEST_F(InstallPackageTest, NamesThatCannotBeStoredMakeThePackageBroken) {
    const std::string packageNames[] = {"..", ".", "a/b", "a b", "tab\t", ".stream-image"};
    for (const std::string& name : packageNames) {
        SCOPED_TRACE("package name \"" + name + "\"");
        PackageSpec spec = package_spec(name, ver(7, 2));
        spec.files = {file_entry("bin/a", "x")};
        EXPECT_THAT(install(build_package(spec, dev_sign())),
                    AllOf(HasSubstr("failed\nERROR: installation of "),
                          HasSubstr(" failed: broken package\n")));
    }
    const std::string relationNames[] = {"", "two words", "line\nfeed", "\x01"};
    for (const std::string& name : relationNames) {
        SCOPED_TRACE("relation name \"" + name + "\"");
        PackageSpec spec = package_spec("p", ver(7, 2));
        spec.files = {file_entry("bin/a", "x")};
        spec.provides = {{name, 0, 0, 0}};
        EXPECT_EQ(install(build_package(spec, dev_sign())),
                  "failed\nERROR: installation of p-7.2 failed: broken package\n");
    }
}

TEST_F(InstallPackageTest, PackageWithoutFilesChunkInstallsWhenSigned) {
    PackageSpec spec = package_spec("empty", ver(7, 2));
    const std::string report = install(build_package(spec, dev_sign()));
    EXPECT_THAT(report, HasSubstr("ok\ninstalled empty-7.2\n"));
    EXPECT_THAT(report, HasSubstr("T /flash/var/pdb/empty/version\n"));
}

TEST_F(InstallPackageTest, ChunkLayoutAroundTheSignature) {
    auto build = [](bool archBeforeSignature, const std::string& trailerDepends) {
        PackageWriter w;
        w.sha256_marker().package_header({"p", ver(7, 2), 1000, 0});
        w.files({file_entry("a", "x")});
        if (archBeforeSignature) w.arch("i386");
        w.signature(dev_sign());
        w.arch("i386");
        w.chunk(kChunkDepends, trailerDepends);
        return w.finish();
    };
    {
        SCOPED_TRACE("architecture chunk between files and signature");
        EXPECT_THAT(install(build(true, "")), HasSubstr("failed\nERROR: installation of p-7.2 "
                                                        "failed: broken package\n"));
    }
    {
        SCOPED_TRACE("architecture and empty depends after the signature");
        EXPECT_THAT(install(build(false, "")), HasSubstr("ok\ninstalled p-7.2\n"));
    }
    {
        SCOPED_TRACE("depends with payload after the signature");
        EXPECT_THAT(install(build(false, dependency_list_payload({{"x", 0, 0, 0}}))),
                    HasSubstr("failed\nERROR: installation of p-7.2 failed: broken package\n"));
    }
}

TEST_F(InstallPackageTest, SecureMarkerDemandsEddsaWhateverTheVersion) {
    PackageSpec spec = package_spec("old", ver(6, 40));
    spec.files = {file_entry("a", "x")};
    const std::string legacyOnly = build_package(spec, dev_sign(false));
    EXPECT_THAT(install(legacyOnly), HasSubstr("ok\n"));
    write_file(root / "ram/SECURE", "");
    EXPECT_EQ(install(legacyOnly),
              "failed\nERROR: installation of old-6.40 failed: broken package\n");
    EXPECT_THAT(install(build_package(spec, dev_sign(true))), HasSubstr("ok\n"));
}

TEST_F(InstallPackageTest, UnsignedOrBelowLevelPackageIsBroken) {
    PackageSpec spec = package_spec("new", ver(7, 2));
    spec.files = {file_entry("a", "x")};
    EXPECT_EQ(install(build_package(spec, dev_sign(false))),
              "failed\nERROR: installation of new-7.2 failed: broken package\n");
    PackageWriter noSignature;
    noSignature.sha256_marker().package_header(spec.header).files(spec.files);
    EXPECT_EQ(install(noSignature.finish()),
              "failed\nERROR: installation of new-7.2 failed: broken package\n");
    std::string tampered = build_package(spec, dev_sign());
    tampered[tampered.size() - 10] ^= 1;  // inside the signature
    EXPECT_EQ(install(tampered), "failed\nERROR: installation of new-7.2 failed: broken package\n");
}

TEST_F(InstallPackageTest, UpgradeMarkerForBootPackagesAndBranding) {
    struct Row {
        const char* name;
        std::uint32_t flags;
        bool marker;
    };
    for (const Row& row : {Row{"branding", 0, true}, Row{"system", kFlagBoot, true},
                           Row{"system", 0, false}, Row{"dude", 0, false}}) {
        SCOPED_TRACE(std::string(row.name) + " flags " + std::to_string(row.flags));
        const std::string report =
            install(build_package(package_spec(row.name, ver(7, 2), row.flags), dev_sign()));
        EXPECT_THAT(report, HasSubstr("ok\n"));
        EXPECT_EQ(report.find("T /flash/UPGRADED\n") != std::string::npos, row.marker);
    }
}

TEST_F(InstallPackageTest, BootImageVariableSkipsTheFilesOfBootPackagesOnly) {
    PackageSpec boot = package_spec("system", ver(7, 2), kFlagBoot);
    boot.files = {file_entry("bin/init", "x")};
    PackageSpec plain = package_spec("dude", ver(7, 2));
    plain.files = {file_entry("bin/dude", "x")};
    const std::string bootBytes = build_package(boot, dev_sign());
    const std::string plainBytes = build_package(plain, dev_sign());
    const std::string report = in_root([&] {
        ::setenv("bootimage", "1", 1);
        return install_bytes(bootBytes) + "|" + install_bytes(plainBytes);
    });
    const std::string bootPart = report.substr(0, report.find('|'));
    EXPECT_THAT(bootPart, HasSubstr("ok\n"));
    EXPECT_THAT(bootPart, Not(HasSubstr("/flash/bin/init")));
    EXPECT_THAT(bootPart, HasSubstr("T /flash/var/pdb/system/version\n"));
    EXPECT_THAT(report.substr(report.find('|')), HasSubstr("T /flash/bin/dude\n"));
}

TEST_F(InstallPackageTest, AlternateMagicLeavesTheDatabaseUntouched) {
    PackageSpec spec = package_spec("p", ver(7, 2));
    spec.files = {file_entry("a", "x")};
    PackageWriter w(kAltPackageMagic);
    w.sha256_marker();
    append_package(w, spec, dev_sign());
    EXPECT_EQ(install(w.finish()), "ok\ninstalled p-7.2\nT /flash/a\n");
}

TEST_F(InstallPackageTest, FullDiskDuringTheCopyMeansTheDiskIsTooSmall) {
    SKIP_WITHOUT_MOUNTS();
    TmpfsMount flash(root / "flash", 4);
    TmpfsMount ram(root / "ram", 4);
    ASSERT_TRUE(flash.ok()) << flash.error();
    ASSERT_TRUE(ram.ok()) << ram.error();
    PackageSpec spec = package_spec("big", ver(7, 2));
    spec.files = {file_entry("big", std::string(64 * tmpfs_block_size(), 'b'))};
    const std::string report = install(build_package(spec, dev_sign()));
    EXPECT_EQ(report, "failed\nERROR: installation of big-7.2 failed: disk is too small\n");
}

TEST_F(InstallPackageTest, EveryTruncationIsRefusedWithNothingLeftToAdd) {
    PackageSpec spec = package_spec("p", ver(7, 2));
    spec.files = {file_entry("bin/a", std::string(5000, 'a')), file_entry("bin/b", "b")};
    const std::string bytes = build_package(spec, dev_sign());
    const std::string report = in_root([&] {
        std::string faults;
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            std::istringstream in(bytes.substr(0, length));
            auto reader = open_install_reader(in);
            InstalledPackage pkg;
            if (!read_package_header(pkg, *reader)) continue;
            Transaction txn;
            if (install_package(pkg, txn, *reader))
                faults += "accepted at " + std::to_string(length) + "\n";
            else if (!additions(txn).empty())
                faults += "left at " + std::to_string(length) + ": " + additions(txn);
            txn.cancel();
        }
        return faults.empty() ? std::string("none") : faults;
    });
    EXPECT_EQ(report, "none");
    EXPECT_EQ(read_file(root / "flash/bin/a"), "");
}

}  // namespace
