// Database entries: what a run cannot show (an entry stored over another's, a shared boot
// image, records without a directory name, files that cannot be created).

#include "pdb/entry_writer.h"

#include "pdb/database_loader.h"
#include "support/faulty_file_system.h"
#include "support/root_child.h"

#include <gtest/gtest.h>

namespace {

// A record of version 1.0 or 2.0, built at 9.
std::unique_ptr<InstalledPackage> plain(const std::string& name, unsigned major) {
    auto record = std::make_unique<InstalledPackage>(name);
    record->version = ver(major, 0), record->buildTime = 9;
    return record;
}

class EntryWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* keep : {"flash/var/pdb/.keep", "ram/.keep"}) write_file(root / keep, "");
    }
    TempDir root;
};

// Each new version drops the files of its predecessor that it does not write itself.
TEST_F(EntryWriterTest, EntryWrittenOverAnotherKeepsNoneOfItsRelations) {
    const std::string out = run_in_root(root.path(), [] {
        Transaction first, txn;
        for (const char* name : {"dhcp", "gps", "tarnvel"}) {
            auto old = plain(name, 1);
            old->provides = {{"svc", 0, 0, 5}};
            old->conflicts = {{"isc", 0, 0, 0}};
            old->bundle = {"b", 0, 0, 0};
            old->files = {"/flash/bin/" + std::string(name)};
            (void)write_entry(Installer::instance(), *old, first);
        }
        first.commit();
        // The driver's order: the old entry is uninstalled, then the new one stored into the
        // same directory. An image chunk keeps files and state files; a bundle no files list.
        open_database(Installer::reset(), true, "i386");
        Installer& in = Installer::instance();
        uninstall_entry(in, *in.packages.at(*in.index_of_package("dhcp")), txn);
        auto fresh = plain("dhcp", 2), image = plain("gps", 2), bundle = plain("tarnvel", 2);
        image->hasImage = image->disabled = bundle->isBundle = true;
        if (!store_entry(in, *fresh, txn) || !write_entry(in, *image, txn) ||
            !write_entry(in, *bundle, txn))
            return std::string("write failed");
        txn.commit();
        open_database(Installer::reset(), true, "i386");
        return describe_packages();
    });
    for (const char* line : {"dhcp v=33580544 t=9 act=0\n", "gps v=0 t=0 act=1 disabled\n",
                             "tarnvel v=33580544 t=9 act=0 bundle\n"})
        EXPECT_NE(out.find(line), std::string::npos) << out;
}

TEST_F(EntryWriterTest, BootImageIsRemovedOnlyWhenNothingElseLinksIt) {
    write_file(root / "flash/bootimage", "kernel");
    write_file(root / "flash/var/pdb/sys/image", "x");
    EXPECT_EQ(run_in_root(root.path(), [] {
        auto sys = plain("sys", 1);
        sys->flags = kFlagBoot;
        std::string out;
        for (const char* round : {"", "shared "}) {
            Transaction txn;
            remove_entry(*sys, txn);
            for (const auto& [path, op] : txn.entries()) out += round + path + "\n";
            (void)::link("/flash/bootimage", "/flash/bootimage.2");
        }
        return out;
    }), "/flash/bootimage\n/flash/var/pdb/sys/\n/flash/var/pdb/sys/image\n"
        "shared /flash/var/pdb/sys/\nshared /flash/var/pdb/sys/image\n");
}

// A file that cannot be created fails the entry, with a message that follows the error number
// and names the file, and so does a name that cannot be a directory; a record without a
// directory name is never stored or removed (a bundle installation's blocker: silently).
TEST(EntryWriterFaultTest, FailuresToCreateAndRecordsWithoutADirectoryName) {
    const std::tuple<std::string, int, int, std::string> rows[] = {
        {"wifi", 1, ENOSPC, "disk is too small"}, {"wifi", 2, EIO, "disk error"},
        {"wifi", 3, EACCES, "could not create meta/provides: Permission denied"},
        {"wifi", 4, EACCES, "could not create meta/conflicts: Permission denied"},
        {"..", 0, 0, "could not create meta/version: Invalid argument"}};
    for (const auto& [name, nth, error, message] : rows) {
        Scenario s;
        TempDir dir;
        FaultyFileSystem fs(dir.path());
        Transaction txn(fs);
        auto record = plain(name, 1);
        record->depends = record->provides = record->conflicts = {{"sys", 0, 0, 0}};
        fs.fail("make_temp", nth, error);
        EXPECT_FALSE(store_entry(s.installer, *record, txn));
        EXPECT_EQ(message_lines(),
                  "ERROR: installation of " + name + "-1.0 failed: " + message + "\n");
        txn.cancel();
        InstalledPackage blocker("");
        blocker.disabled = true;
        record->name = "../pdb";
        EXPECT_TRUE(write_entry(s.installer, blocker, txn) &&
                    store_entry(s.installer, blocker, txn));
        for (InstalledPackage* r : {&blocker, record.get()}) {
            mark_enabled(*r, txn);
            mark_disabled(*r, txn);
            remove_entry(*r, txn);
            uninstall_entry(s.installer, *r, txn);
        }
        EXPECT_TRUE(txn.is_empty());
    }
}

}  // namespace
