// Installing one package from its stream into a Transaction, in a chrooted child so that /flash
// and /ram are a scratch root's: what gets queued, and that a refused package leaves nothing
// pending that would add to flash.
#include "plan/unpack.h"

#include "core/installer.h"
#include "flash/flash_device.h"
#include "package/format.h"
#include "package/memory_source.h"
#include "package/package_format.h"
#include "package/package_reader.h"
#include "package/signed_packages.h"
#include "pkglib/package_writer.h"
#include "support/root_child.h"
#include "support/scenario.h"
#include "support/temp_dir.h"
#include "txn/transaction.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>

namespace {

using namespace std::string_literals;

// The child's report: "ok" or "failed", "no progress bar" when none was drawn, the messages,
// then the pending additions.
std::string install_bytes(const std::string& bytes) {
    RecordingTerminal terminal;
    Installer::instance().terminal = &terminal;
    MemorySource in(bytes);
    PackageReader reader(in, true, nullptr);
    for (std::uint32_t type : kInstallChunks) reader.want(type);
    reader.next_chunk();
    InstalledPackage pkg;
    if (!read_package_header(pkg, reader)) return "header failed";
    Transaction txn;
    const bool ok = install_package(Installer::instance(), pkg, txn, reader);
    const bool bar = terminal.output.find(" [#") != std::string::npos;
    return (ok ? "ok\n" : "failed\n") + (bar ? "" : "no progress bar\n"s) + message_lines() +
           pending_entries(txn, false);
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
    TempDir root;
};

TEST_F(InstallPackageTest, HardwareVariantEntriesOnlyOnTheirVariant) {
    const std::string bytes = signed_package("p", {file_entry("any", "0"),
                                                   file_entry("three", "3", 0x81a4, 3),
                                                   file_entry("two", "2", 0x81a4, 2)});
    auto on_variant = [&](std::uint32_t pvr) {
        return run_in_root(root.path(), [&] {
            FakeFlash flash;
            flash.pvrValue = pvr;
            Installer::instance().flash = &flash;
            return install_bytes(bytes);
        });
    };
    const std::string entry = "movetemp /flash/var/pdb/p/deps\nmovetemp /flash/var/pdb/p/files\n"
                              "movetemp /flash/var/pdb/p/version\n";
    EXPECT_EQ(on_variant(0x13020000),
              "ok\ninstalled p-7.2\nmovetemp /flash/any\nmovetemp /flash/three\n" + entry);
    EXPECT_EQ(on_variant(0), "ok\ninstalled p-7.2\nmovetemp /flash/any\n" + entry);
}

TEST_F(InstallPackageTest, NamesThatEscapeOrCannotBeStoredMakeThePackageBroken) {
    PackageDescription twoWords = package_spec("p", ver(7, 2));
    twoWords.provides = {{"two words", 0, 0, 0}};
    std::vector<std::pair<std::string, std::string>> cases = {
        {signed_package("a/b", {file_entry("bin/a", "x")}), "a/b"}, {package_file(twoWords), "p"}};
    for (const std::string& name : {"bin/../../x"s, ""s, "bin/"s, "a\0b"s})
        cases.push_back({signed_package("p", {file_entry("ok", "x"), file_entry(name, "e")}), "p"});
    // A file list whose data ends inside an entry's name.
    std::string entries = file_entries({file_entry("ok", "x"), file_entry("bin/cut", "")});
    entries.resize(entries.size() - 3);
    PackageWriter cut;
    cut.package_header({"p", ver(7, 2), 1000, 0})
        .chunk(kChunkFiles, zlib_payload(entries))
        .signature([](const std::uint8_t* digest) {
            return dev_key_set().signer()(digest, SignatureKind::LegacyAndEddsa);
        });
    cases.push_back({cut.finish(), "p"});
    for (const auto& [bytes, name] : cases)
        EXPECT_EQ(run_in_root(root.path(), [&] { return install_bytes(bytes); }),
                  "failed\nERROR: installation of " + name + "-7.2 failed: broken package\n");
}

TEST_F(InstallPackageTest, AWriteFailingDuringTheCopyFailsTheInstallation) {
    const std::string bytes = signed_package("big", {file_entry("big", std::string(1 << 18, 'b'))});
    EXPECT_EQ(run_in_root(root.path(), [&] {
                  const rlimit small = {1 << 16, 1 << 16};  // writes past it fail with EFBIG
                  ::signal(SIGXFSZ, SIG_IGN);
                  return ::setrlimit(RLIMIT_FSIZE, &small) == 0 ? install_bytes(bytes) : "rlimit";
              }),
              "failed\nERROR: installation of big-7.2 failed: could not create big: File too "
              "large\n");
}

}  // namespace
