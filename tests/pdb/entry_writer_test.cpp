// Writing and removing database entries through a Transaction, checked on the files that the
// commit leaves and by loading the database again, in a chrooted child.

#include "pdb/entry_writer.h"

#include "cli/installer.h"
#include "pdb/root_child.h"
#include "support/temp_dir.h"
#include "txn/transaction.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace {

constexpr Version kV1 = 0x0100'6600;
constexpr Version kV2 = 0x0200'6600;

std::string listing_of(const std::string& dir) {
    std::string text;
    for (const char* file : {"version", "deps", "provides", "conflicts", "bundle", "files",
                             "disabled", "enabled", "image"}) {
        std::ifstream in(dir + file, std::ios::binary);
        if (!in) continue;
        std::ostringstream content;
        content << in.rdbuf();
        text += std::string(file) + "=" + content.str() + "|";
    }
    return text;
}

std::unique_ptr<InstalledPackage> plain(const std::string& name, Version version) {
    auto record = std::make_unique<InstalledPackage>(name);
    record->version = version;
    record->buildTime = 9;
    return record;
}

// Commits a journal and loads the database anew into a fresh Installer.
std::string commit_and_reload(Transaction& txn) {
    txn.commit(false);
    Installer::reset().open(true, "i386");
    return describe_packages();
}

class EntryWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_CHROOT();
        write_file(root / "flash/var/pdb/.keep", "");
        write_file(root / "ram/.keep", "");
    }
    std::string in_root(const std::function<std::string()>& body) {
        return run_in_root(root.path(), body);
    }
    TempDir root;
};

TEST_F(EntryWriterTest, WritesHeaderAndStateFilesThatLoadBackTheSame) {
    EXPECT_EQ(in_root([] {
                  auto r = plain("ppp", kV1);
                  r->depends = {{"system", kV1, kV2, 0}};
                  r->provides = {{"dialer", 1, 2, -4}};
                  r->conflicts = {{"old", 0, 3, 0}};
                  r->files = {"/flash/bin/pppd", "/flash/etc/ppp.conf"};
                  Transaction txn;
                  if (!write_entry(*r, txn)) return std::string("write failed");
                  std::string reloaded = commit_and_reload(txn);
                  return listing_of("/flash/var/pdb/ppp/") + "\n" + reloaded;
              }),
              "version=16803328 9\n|deps=system 16803328 33580544\n|provides=dialer 1 2 -4\n|"
              "conflicts=old 0 3\n|files=bin/pppd\netc/ppp.conf\n|\n"
              "ppp v=16803328 t=9 act=0 deps=system:16803328:33580544:0 prov=dialer:1:2:-4 "
              "conf=old:0:3:0 /flash/bin/pppd /flash/etc/ppp.conf\n");
}

TEST_F(EntryWriterTest, StateFilesFollowDisabledAndUserForced) {
    EXPECT_EQ(in_root([] {
                  std::string out;
                  for (int state = 0; state < 4; ++state) {
                      auto r = plain("p" + std::to_string(state), kV1);
                      r->disabled = state & 1;
                      r->userForced = state & 2;
                      Transaction txn;
                      (void)write_entry(*r, txn);
                      txn.commit(false);
                      std::string files = listing_of(database_dir(*r));
                      out += r->name + ":" + files.substr(files.find("files=")) + "\n";
                  }
                  return out;
              }),
              "p0:files=|\n"
              "p1:files=|disabled=auto\n|\n"
              "p2:files=|enabled=user\n|\n"
              "p3:files=|disabled=user\n|\n");
}

TEST_F(EntryWriterTest, ReplacementWithoutRelationsDropsThePredecessorsFiles) {
    EXPECT_EQ(in_root([] {
                  auto old = plain("dhcp", kV1);
                  old->provides = {{"dhcpd", 0, 0, 5}};
                  old->conflicts = {{"isc", 0, 0, 0}};
                  old->bundle = {"routeros", 0, 0, 0};
                  Transaction first;
                  (void)write_entry(*old, first);
                  first.commit(false);
                  // The driver's order: the old entry is uninstalled, then the new one stored
                  // into the same directory.
                  Installer::reset().open(true, "i386");
                  Transaction txn;
                  uninstall_entry(*Installer::instance().packages[0], txn);
                  auto fresh = plain("dhcp", kV2);
                  if (!store_entry(*fresh, txn)) return std::string("store failed");
                  return commit_and_reload(txn);
              }),
              "dhcp v=33580544 t=9 act=0\n");
}

TEST_F(EntryWriterTest, ImageEntryKeepsOnlyStateFilesAndDropsOldHeaderFiles) {
    EXPECT_EQ(in_root([] {
                  auto old = plain("gps", kV1);
                  old->provides = {{"loc", 0, 0, 1}};
                  old->bundle = {"b", 0, 0, 0};
                  old->files = {"/flash/bin/gps"};
                  Transaction first;
                  (void)write_entry(*old, first);
                  first.commit(false);
                  auto fresh = plain("gps", kV2);
                  fresh->hasImage = true;
                  fresh->disabled = true;
                  Transaction txn;
                  if (!write_entry(*fresh, txn)) return std::string("write failed");
                  txn.commit(false);
                  return listing_of("/flash/var/pdb/gps/");
              }),
              "disabled=auto\n|");
}

TEST_F(EntryWriterTest, BundleGetsNoFilesListAndLoadsAgainAsBundle) {
    EXPECT_EQ(in_root([] {
                  auto old = plain("routeros", kV1);
                  old->files = {"/flash/bin/a"};
                  Transaction first;
                  (void)write_entry(*old, first);
                  first.commit(false);
                  auto bundle = plain("routeros", kV2);
                  bundle->isBundle = true;
                  Transaction txn;
                  (void)write_entry(*bundle, txn);
                  return commit_and_reload(txn);
              }),
              "routeros v=33580544 t=9 act=0 bundle\n");
}

TEST_F(EntryWriterTest, UninstallAfterReloadRemovesExactlyTheInstalledPaths) {
    // As unpacking registers them: "/flash/" + entry, or below /flash/x/<name>/ when disabled.
    const std::vector<std::string> installed = {"/flash/etc/a b", "/flash/lib/x.so",
                                                "/flash/x/off/bin/a"};
    for (const std::string& path : installed) write_file(root / path.substr(1), "content");
    EXPECT_EQ(in_root([installed] {
                  auto on = plain("on", kV1);
                  on->files = {installed[0], installed[1]};
                  auto off = plain("off", kV1);
                  off->disabled = true;
                  off->files = {installed[2]};
                  Transaction first;
                  (void)write_entry(*on, first);
                  (void)write_entry(*off, first);
                  first.commit(false);
                  Installer& installer = Installer::reset();
                  installer.open(true, "i386");
                  Transaction txn;
                  std::set<std::string> lines;
                  for (const auto& r : installer.packages) {
                      uninstall_entry(*r, txn);
                      lines.insert(r->name + " files=" + std::to_string(r->files.size()) +
                                   " act=" + std::to_string(r->action));
                  }
                  for (const auto& [path, op] : txn.entries())
                      lines.insert(path + (op.op == Remove ? " removed" : " other"));
                  std::string out;
                  for (const std::string& line : lines) out += line + "\n";
                  return out;
              }),
              "/flash/etc/a b removed\n"
              "/flash/lib/x.so removed\n"
              "/flash/var/pdb/off/ removed\n"
              "/flash/var/pdb/on/ removed\n"
              "/flash/x/off/bin/a removed\n"
              "off files=0 act=0\n"
              "on files=0 act=0\n");
}

TEST_F(EntryWriterTest, EntriesOfTheOriginalSystemAreRemovedBelowFlash) {
    write_file(root / "flash/var/pdb/old/version", "1 2\n");
    write_file(root / "flash/var/pdb/old/files", "/etc/a\nbin/b\n\n");
    write_file(root / "flash/etc/a", "");
    write_file(root / "flash/bin/b", "");
    EXPECT_EQ(in_root([] {
                  Installer& installer = Installer::reset();
                  installer.open(true, "i386");
                  Transaction txn;
                  remove_files(*installer.packages.at(0), txn);
                  std::string out;
                  for (const auto& [path, op] : txn.entries())
                      out += path + " " + std::to_string(op.op) + "\n";
                  return out;
              }),
              "/flash/bin/b 4\n/flash/etc/a 4\n");
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

TEST_F(EntryWriterTest, RecordWithoutNameIsNeverStoredOrRemoved) {
    EXPECT_EQ(in_root([] {
                  InstalledPackage blocker("");
                  blocker.disabled = true;
                  Transaction txn;
                  bool written = write_entry(blocker, txn) && store_entry(blocker, txn);
                  mark_enabled(blocker, txn);
                  mark_disabled(blocker, txn);
                  uninstall_entry(blocker, txn);
                  return std::string(written ? "ok " : "failed ") + std::to_string(txn.size());
              }),
              "ok 0");
}

TEST_F(EntryWriterTest, NameThatIsNoDirectoryNameIsRefusedAndNeverRemoved) {
    EXPECT_EQ(in_root([] {
                  auto r = plain("..", kV1);
                  Transaction txn;
                  std::string out = store_entry(*r, txn) ? "stored" : "refused";
                  r->name = "../pdb";
                  mark_disabled(*r, txn);
                  remove_entry(*r, txn);
                  for (const std::string& m : Installer::instance().messages) out += "\n" + m;
                  return out + "\n" + std::to_string(txn.size());
              }),
              "refused\nERROR: installation of ..-1.0 failed: could not create meta/version: "
              "Invalid argument\n0");
}

TEST_F(EntryWriterTest, MarkDisabledAndEnabledSwitchTheStateFiles) {
    EXPECT_EQ(in_root([] {
                  auto r = plain("p", kV1);
                  r->action = kActionDisable;
                  Transaction first;
                  (void)write_entry(*r, first);
                  first.commit(false);
                  std::string out;
                  Transaction off;
                  mark_disabled(*r, off);
                  off.commit(false);
                  out += listing_of("/flash/var/pdb/p/") + " act=" + std::to_string(r->action);
                  out += "\n";
                  r->userForced = true;
                  r->action = kActionEnable;
                  Transaction on;
                  mark_enabled(*r, on);
                  on.commit(false);
                  out += listing_of("/flash/var/pdb/p/") + (r->disabled ? " disabled" : " enabled");
                  return out;
              }),
              "version=16803328 9\n|deps=|files=|disabled=auto\n| act=0\n"
              "version=16803328 9\n|deps=|files=|enabled=user\n| enabled");
}

TEST_F(EntryWriterTest, FailedHeaderFileIsReportedAndStopsTheEntry) {
    write_file(root / "flash/var/pdb/pkg", "not a directory");
    EXPECT_EQ(in_root([] {
                  auto r = plain("pkg", kV1);
                  Transaction txn;
                  std::string out = write_entry(*r, txn) ? "written" : "failed";
                  for (const std::string& m : Installer::instance().messages) out += "\n" + m;
                  out += "\nstore " + std::to_string(store_entry(*r, txn));
                  return out;
              }),
              "failed\nERROR: installation of pkg-1.0 failed: could not create meta/version: "
              "Not a directory\nstore 0");
}

TEST(EntryWriterReportTest, MessageFollowsTheErrorNumber) {
    Installer& installer = Installer::reset();
    installer.quiet = false;
    struct NullTerminal : Terminal {
        void write(std::string_view) override {}
        void flush() override {}
    } terminal;
    installer.terminal = &terminal;
    report_create_failure("wireless-7.1", "meta/deps", ENOSPC);
    report_create_failure("wireless-7.1", "meta/deps", EIO);
    report_create_failure("wireless-7.1", "meta/deps", EACCES);
    EXPECT_EQ(installer.messages,
              (std::vector<std::string>{
                  "ERROR: installation of wireless-7.1 failed: disk is too small",
                  "ERROR: installation of wireless-7.1 failed: disk error",
                  "ERROR: installation of wireless-7.1 failed: could not create meta/deps: "
                  "Permission denied"}));
    Installer::reset();
}

}  // namespace
