#pragma once
// Writing and removing package database entries below /flash/var/pdb/<name>/, always through
// the run's Transaction: nothing in the database changes before the commit. `installer` is the
// run's, for its messages and for the other installed records that may share a file.

#include "core/package.h"

#include <string>
#include <vector>

class Installer;
class Transaction;

// The database directory of a record: "/flash/var/pdb/" + name + "/".
std::string database_dir(const Package& record);

// Writes the header files (the description unless the record has an image, without relation
// lists for the no-metadata flag; the file list unless it is a bundle) and the state files;
// false, with the failure reported, when a header file could not be written.
[[nodiscard]] bool write_entry(Installer& installer, InstalledPackage& record, Transaction& txn);
// Withdraws a pending removal of the directory, then write_entry; false without a message when
// the directory cannot be used.
[[nodiscard]] bool store_entry(Installer& installer, InstalledPackage& record, Transaction& txn);
void mark_disabled(InstalledPackage& record, Transaction& txn);
void mark_enabled(InstalledPackage& record, Transaction& txn);
void remove_files(Installer& installer, InstalledPackage& record, Transaction& txn);
void remove_entry(InstalledPackage& record, Transaction& txn);
// remove_files, remove_entry, action := 0. The caller takes the record out of `packages`.
void uninstall_entry(Installer& installer, InstalledPackage& record, Transaction& txn);

// The message for a file that could not be created or written, chosen by the error number:
// "disk is too small" (ENOSPC), "disk error" (EIO), else "could not create <file>: <text>".
void report_create_failure(Installer& installer, const std::string& displayName,
                           const std::string& fileName, int err);
