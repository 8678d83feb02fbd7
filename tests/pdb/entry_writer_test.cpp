// Writing and removing database entries through a Transaction in a chrooted child: what a run
// cannot show (an entry stored over another's files, a shared boot image, records without a
// directory name) and the message of each error number.

#include "pdb/entry_writer.h"

#include "core/installer.h"
#include "pdb/database_loader.h"
#include "support/root_child.h"
#include "support/scenario.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

namespace {

constexpr Version kV1 = 0x0100'6600;
constexpr Version kV2 = 0x0200'6600;

// "file=content|" for each database file present in `dir`.
std::string listing_of(const std::string& dir) {
    std::string text;
    for (const char* file : {"version", "deps", "provides", "conflicts", "bundle", "files",
                             "disabled", "enabled", "image"})
        if (path_exists(dir + file)) text += std::string(file) + "=" + read_file(dir + file) + "|";
    return text;
}

std::unique_ptr<InstalledPackage> plain(const std::string& name, Version version) {
    auto record = std::make_unique<InstalledPackage>(name);
    record->version = version;
    record->buildTime = 9;
    return record;
}

class EntryWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* keep : {"flash/var/pdb/.keep", "ram/.keep"}) write_file(root / keep, "");
    }
    std::string in_root(const std::function<std::string()>& body) {
        return run_in_root(root.path(), body);
    }
    TempDir root;
};

// Each new version drops the files of its predecessor that it does not write itself.
TEST_F(EntryWriterTest, EntryWrittenOverAnotherKeepsNoneOfItsRelations) {
    EXPECT_EQ(in_root([] {
                  Transaction first;
                  for (const char* name : {"dhcp", "gps", "tarnvel"}) {
                      auto old = plain(name, kV1);
                      old->provides = {{"svc", 0, 0, 5}};
                      old->conflicts = {{"isc", 0, 0, 0}};
                      old->bundle = {"b", 0, 0, 0};
                      old->files = {"/flash/bin/" + std::string(name)};
                      (void)write_entry(Installer::instance(), *old, first);
                  }
                  first.commit();
                  // The driver's order: the old entry is uninstalled, then the new one stored
                  // into the same directory.
                  open_database(Installer::reset(), true, "i386");
                  Transaction txn;
                  Installer& in = Installer::instance();
                  uninstall_entry(Installer::instance(),
                                  *in.packages.at(*in.index_of_package("dhcp")), txn);
                  auto fresh = plain("dhcp", kV2);
                  auto image = plain("gps", kV2);  // an image chunk: files and state files
                  image->hasImage = image->disabled = true;
                  auto bundle = plain("tarnvel", kV2);  // no files list
                  bundle->isBundle = true;
                  if (!store_entry(Installer::instance(), *fresh, txn) ||
                      !write_entry(Installer::instance(), *image, txn) ||
                      !write_entry(Installer::instance(), *bundle, txn))
                      return std::string("write failed");
                  txn.commit();
                  open_database(Installer::reset(), true, "i386");
                  std::istringstream reloaded(describe_packages());
                  std::set<std::string> lines;
                  for (std::string line; std::getline(reloaded, line);) lines.insert(line + "\n");
                  std::string out = listing_of("/flash/var/pdb/gps/") + "\n";
                  for (const std::string& line : lines) out += line;
                  return out;
              }),
              "files=|disabled=auto\n|\n"
              "dhcp v=33580544 t=9 act=0\n"
              "gps v=0 t=0 act=1 disabled\n"
              "tarnvel v=33580544 t=9 act=0 bundle\n");
}

TEST_F(EntryWriterTest, BootImageIsRemovedOnlyWhenNothingElseLinksIt) {
    write_file(root / "flash/bootimage", "kernel");
    write_file(root / "flash/var/pdb/sys/version", "1 2\n");
    write_file(root / "flash/var/pdb/sys/image", "x");
    EXPECT_EQ(in_root([] {
                  auto sys = plain("sys", kV1);
                  sys->flags = kFlagBoot;
                  std::string out;
                  Transaction alone;
                  remove_entry(*sys, alone);
                  for (const auto& [path, op] : alone.entries()) out += path + "\n";
                  if (::link("/flash/bootimage", "/flash/bootimage.2") != 0) return out + "link";
                  Transaction shared;
                  remove_entry(*sys, shared);
                  for (const auto& [path, op] : shared.entries()) out += "shared " + path + "\n";
                  return out;
              }),
              "/flash/bootimage\n/flash/var/pdb/sys/\n/flash/var/pdb/sys/image\n"
              "shared /flash/var/pdb/sys/\nshared /flash/var/pdb/sys/image\n");
}

TEST_F(EntryWriterTest, RecordsWithoutADirectoryNameAreNeverStoredOrRemoved) {
    write_file(root / "flash/var/pdb/pkg", "not a directory");
    EXPECT_EQ(in_root([] {
                  InstalledPackage blocker("");  // bundle installation's: silently nothing
                  blocker.disabled = true;
                  Transaction txn;
                  std::string out = write_entry(Installer::instance(), blocker, txn) &&
                                            store_entry(Installer::instance(), blocker, txn)
                                        ? "ok "
                                        : "failed ";
                  mark_enabled(blocker, txn);
                  mark_disabled(blocker, txn);
                  uninstall_entry(Installer::instance(), blocker, txn);
                  auto r = plain("..", kV1);
                  out += store_entry(Installer::instance(), *r, txn) ? "stored " : "refused ";
                  r->name = "../pdb";
                  mark_disabled(*r, txn);
                  remove_entry(*r, txn);
                  out += std::to_string(txn.size()) + "\n";
                  auto file = plain("pkg", kV1);  // its directory is a plain file
                  out += write_entry(Installer::instance(), *file, txn) ? "written " : "failed ";
                  out += std::to_string(store_entry(Installer::instance(), *file, txn)) + "\n";
                  return out + message_lines();
              }),
              "ok refused 0\nfailed 0\n"
              "ERROR: installation of ..-1.0 failed: could not create meta/version: "
              "Invalid argument\n"
              "ERROR: installation of pkg-1.0 failed: could not create meta/version: "
              "Not a directory\n"
              "ERROR: installation of pkg-1.0 failed: could not create meta/version: "
              "Not a directory\n");
}

TEST(EntryWriterReportTest, MessageFollowsTheErrorNumber) {
    Scenario s;
    for (int err : {ENOSPC, EIO, EACCES})
        report_create_failure(Installer::instance(), "wifi-7.1", "meta/deps", err);
    EXPECT_EQ(message_lines(), "ERROR: installation of wifi-7.1 failed: disk is too small\n"
                          "ERROR: installation of wifi-7.1 failed: disk error\n"
                          "ERROR: installation of wifi-7.1 failed: could not create meta/deps: "
                          "Permission denied\n");
}

}  // namespace
