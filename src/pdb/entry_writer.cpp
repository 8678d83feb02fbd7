// Writing and removing package database entries through the run's Transaction. Every file
// that an entry no longer needs is queued for removal, so that a directory taken over from an
// earlier version of the package never lends it that version's header files.

#include "pdb/entry_writer.h"

#include "core/installer.h"
#include "core/package.h"
#include "pdb/database_loader.h"
#include "pdb/database_paths.h"
#include "txn/transaction.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Size hints for the flash space check.
constexpr std::uint32_t kVersionHint = 32;
constexpr std::uint32_t kListHint = 1024;
constexpr std::uint32_t kBundleHint = 16;
constexpr std::uint32_t kFilesHint = 4096;
constexpr std::uint32_t kStateHint = 8;

// The header files that describe a package without an image.
constexpr const char* kDescriptionFiles[] = {"version", "deps", "provides", "conflicts", "bundle"};
constexpr const char* kRelationFiles[] = {"deps", "provides", "conflicts"};

bool write_list(Transaction& txn, const std::string& path, const std::vector<Dependency>& list,
                bool withPriority) {
    OutputFile out = create_file(txn, path, kListHint, 0);
    for (const Dependency& entry : list) {
        out << entry.name << ' ' << entry.min << ' ' << entry.max;
        if (withPriority) out << ' ' << entry.priority;
        out << '\n';
    }
    return out.close();
}

// Writes a relation list that the database keeps only when it is not empty; an empty list
// removes the file that an earlier version of the package may have left.
bool write_optional_list(Transaction& txn, const std::string& path,
                         const std::vector<Dependency>& list, bool withPriority) {
    if (list.empty()) {
        txn.add_remove(path);
        return true;
    }
    return write_list(txn, path, list, withPriority);
}

bool write_files(const InstalledPackage& record, Transaction& txn, const std::string& dir) {
    if (record.isBundle) {
        // A bundle is recognised on loading by the absence of "files".
        txn.add_remove(dir + "files");
        return true;
    }
    OutputFile out = create_file(txn, dir + "files", kFilesHint, 0);
    for (const std::string& path : record.files) {
        const std::string line = stored_entry(path);
        if (!line.empty()) out << line << '\n';
    }
    return out.close();
}

void write_state_line(Transaction& txn, const std::string& path, const char* word) {
    OutputFile out = create_file(txn, path, kStateHint, 0);
    out << word << '\n';
    (void)out.close();
}

// Writes the header files; on failure names the file for the report. An image describes its
// package itself, so the directory keeps no description of it; the no-metadata flag withholds
// the relation lists, but the version stays, or the next run would load the entry as broken
// and uninstall it. Every record but a bundle keeps its file list: removing a package, however
// it is described, must reach the files it installed. Files of an earlier version that this
// one does not write are removed.
bool write_header_files(const InstalledPackage& record, Transaction& txn, const std::string& dir,
                        const char*& failedFile) {
    if (record.hasImage) {
        for (const char* file : kDescriptionFiles) txn.add_remove(dir + file);
    } else {
        failedFile = "meta/version";
        OutputFile out = create_file(txn, dir + "version", kVersionHint, 0);
        out << record.version << ' ' << record.buildTime << '\n';
        if (!out.close()) return false;
        if (record.flags & kFlagNoMetadata) {
            for (const char* file : kRelationFiles) txn.add_remove(dir + file);
        } else {
            failedFile = "meta/deps";
            if (!write_list(txn, dir + "deps", record.depends, false)) return false;
            failedFile = "meta/provides";
            if (!write_optional_list(txn, dir + "provides", record.provides, true)) return false;
            failedFile = "meta/conflicts";
            if (!write_optional_list(txn, dir + "conflicts", record.conflicts, false))
                return false;
        }
        failedFile = "meta/bundle";
        if (record.bundle.name.empty()) {
            txn.add_remove(dir + "bundle");
        } else {
            OutputFile link = create_file(txn, dir + "bundle", kBundleHint, 0);
            link << record.bundle.name << '\n';
            if (!link.close()) return false;
        }
    }
    failedFile = "meta/files";
    return write_files(record, txn, dir);
}

// Only a name that is one directory name has a database directory. An empty name belongs to a
// blocker made during a bundle installation; anything else unsafe ("..", "a/b") would reach
// outside the database.
bool has_directory(const Package& record) { return is_safe_package_name(record.name); }

// A pending move of `path` that another installed record lists: that package placed the file
// in this run (it moved there between versions), and the old owner's removal must not turn the
// move into a removal.
bool placed_by_other(const Installer& installer, const InstalledPackage& record,
                     const Transaction& txn, const std::string& path) {
    const FileOp* op = txn.pending(path);
    if (!op || (op->op != FileOpKind::Move && op->op != FileOpKind::MoveTemp)) return false;
    for (const auto& other : installer.packages)
        if (other.get() != &record && other->files.count(path) != 0) return true;
    return false;
}

// An entry written before image packages kept their "files" list names its files only in its
// image, which is still in place while the run plans. Only files that are there are taken (a
// removal of a path that is not there would drop what this run queued for it), and none that
// another installed record lists: the plain path is taken for one the package may have
// installed aside, disabled. The boot package's image is the boot image, whose files were not
// unpacked from it.
void take_files_from_image(const Installer& installer, InstalledPackage& record,
                           FileSystem& fs) {
    if (record.isBundle || !has_directory(record)) return;
    const std::string dir = database_dir(record);
    FileStatus st;
    if (fs.stat(dir + "files", st)) return;
    std::string image = dir + "image";
    if (fs.lstat(image, st)) {
        if (!st.isRegular) return;
    } else {
        image = std::string(kImagesDir) + record.name;
        if (!fs.stat(image, st) || !st.isRegular) return;
    }
    const auto& packages = installer.packages;
    for (const std::string& path : image_file_paths(image, record.name, *installer.flash)) {
        if (!fs.lstat(path, st) || st.isDirectory) continue;
        const bool listed = std::any_of(packages.begin(), packages.end(), [&](const auto& other) {
            return other.get() != &record && other->files.count(path) != 0;
        });
        if (!listed) record.files.insert(path);
    }
}

}  // namespace

std::string database_dir(const Package& record) {
    return std::string(kDatabaseDir) + record.name + "/";
}

void report_create_failure(Installer& installer, const std::string& displayName,
                           const std::string& fileName, int err) {
    if (err == ENOSPC) {
        installer.error("installation of %s failed: disk is too small", displayName.c_str());
    } else if (err == EIO) {
        installer.error("installation of %s failed: disk error", displayName.c_str());
    } else {
        installer.error("installation of %s failed: could not create %s: %s",
                        displayName.c_str(), fileName.c_str(), std::strerror(err));
    }
}

bool write_entry(Installer& installer, InstalledPackage& record, Transaction& txn) {
    // A blocker is never stored; its path would be the database directory itself.
    if (record.name.empty()) return true;
    if (!has_directory(record)) {
        report_create_failure(installer, display_name(record), "meta/version", EINVAL);
        return false;
    }
    const std::string dir = database_dir(record);
    const char* failedFile = "";
    errno = 0;
    if (!write_header_files(record, txn, dir, failedFile)) {
        const int err = errno;
        report_create_failure(installer, display_name(record), failedFile, err);
        return false;
    }
    if (record.disabled)
        write_state_line(txn, dir + "disabled", record.userForced ? "user" : "auto");
    else
        txn.add_remove(dir + "disabled");
    if (!record.disabled && record.userForced)
        write_state_line(txn, dir + "enabled", "user");
    else
        txn.add_remove(dir + "enabled");
    return true;
}

bool store_entry(Installer& installer, InstalledPackage& record, Transaction& txn) {
    if (!has_directory(record)) return write_entry(installer, record, txn);
    if (!txn.take_back_remove(database_dir(record))) return false;
    return write_entry(installer, record, txn);
}

void mark_disabled(InstalledPackage& record, Transaction& txn) {
    if (has_directory(record)) {
        const std::string dir = database_dir(record);
        txn.add_remove(dir + "enabled");
        write_state_line(txn, dir + "disabled", record.userForced ? "user" : "auto");
    }
    record.disabled = true;
    record.action = kActionNone;
}

void mark_enabled(InstalledPackage& record, Transaction& txn) {
    if (has_directory(record)) {
        const std::string dir = database_dir(record);
        txn.add_remove(dir + "disabled");
        if (record.userForced)
            write_state_line(txn, dir + "enabled", "user");
        else
            txn.add_remove(dir + "enabled");
    }
    record.disabled = false;
    record.action = kActionNone;
}

void remove_files(Installer& installer, InstalledPackage& record, Transaction& txn) {
    if (record.files.empty()) take_files_from_image(installer, record, txn.file_system());
    // `files` holds the installed paths themselves, the same keys unpacking registered.
    for (const std::string& path : record.files)
        if (!path.empty() && !placed_by_other(installer, record, txn, path)) txn.add_remove(path);
    record.files.clear();
}

void remove_entry(InstalledPackage& record, Transaction& txn) {
    if (!has_directory(record)) return;
    const std::string dir = database_dir(record);
    txn.add_remove(dir);
    txn.add_remove(dir + "image");
    if (record.flags & kFlagBoot) {
        // A second link to the boot image means something else still holds it.
        FileStatus st;
        if (txn.file_system().stat("/flash/bootimage", st) && st.links == 1)
            txn.add_remove("/flash/bootimage");
    }
}

void uninstall_entry(Installer& installer, InstalledPackage& record, Transaction& txn) {
    remove_files(installer, record, txn);
    remove_entry(record, txn);
    record.action = kActionNone;
}
