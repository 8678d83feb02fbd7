#pragma once
// Unpacking of one package from its stream into the run's Transaction: files as pending moves
// below "/flash", the signature against the level the package requires, the database entry.

#include "core/package.h"
#include "package/signature/verify.h"

#include <string>

class Installer;
class PackageReader;
class Transaction;

// Installs `pkg`, whose header part the reader has just passed: unpacks its files, checks its
// signature, writes its database entry (package magic only) and the upgrade marker. False on
// any failure, with its message; the operations already queued stay in `txn` for the caller.
// A record whose name or relations cannot be stored, or an entry name that could escape or
// break the database, makes the package broken.
[[nodiscard]] bool install_package(Installer& installer, InstalledPackage& pkg, Transaction& txn,
                                   PackageReader& reader);

// Unpacks the regular files of the files chunk the reader stands in; each destination joins
// `pkg.files` before its data is written. False with its message on a broken entry or a failed
// write.
[[nodiscard]] bool unpack_files(Installer& installer, InstalledPackage& pkg, Transaction& txn,
                                PackageReader& reader);

// "installation of <name> failed: broken package".
void report_broken(Installer& installer, const InstalledPackage& pkg);

// The signature level `name` at `version` requires: Legacy suffices, or EdDsa is needed.
SignatureLevel required_level(const std::string& name, Version version);
