#pragma once
// Installs what one package stream holds, a single package or a bundle with its members:
// admission, replacement of the installed record, unpacking, and settling the actions after
// each package so that the installed set stays consistent.

#include "core/package.h"
#include "plan/admission.h"

#include <cstdint>
#include <map>
#include <string>

class Installer;
class PackageReader;
class Transaction;

// Package name -> disabled, for each installed record whose state the user chose.
using UserForcedMap = std::map<std::string, bool>;

// Results of install_bundle_stream; the numbers are the stream mode's exit statuses.
enum class BundleResult {
    Installed = 0,  // the bundle and at least one member, and the stream ended
    BadHeader = 1,  // unreadable header, relations on the bundle, or entry not stored
    Failed = 2,     // not admitted, a member failed, or a chunk where the stream ends
    NoMembers = 3,  // the stream ended without a member
};

// Result of install_package_stream.
enum class StreamResult {
    Installed,  // the package (or its installed build, for a same-build reinstall) stands
    Skipped,    // admission refused it with an "omitting package" warning: not an error
    Failed,     // "can not install", a broken package, or the new record did not survive
};

// Installs the package whose header chunk the reader stands on. `link` (may be null) is the
// bundle link of a member. `dirOut` receives the database directory when the package carries an
// image chunk (cleared again when it is Skipped); `bootOut` whether the boot image is to be set
// (both may be null; *bootOut starts false on every path). On Installed, `*nameOut` (may be
// null) is the name of the record that now stands. Records in `packages` may be destroyed.
[[nodiscard]] StreamResult install_package_stream(Installer& installer, Transaction& txn,
                                                  PackageReader& reader, PlannerFlags flags,
                                                  const UserForcedMap& userForced,
                                                  const Dependency* link, std::string* dirOut,
                                                  bool* bootOut, std::string* nameOut = nullptr);

// Installs the bundle whose header chunk the reader stands on, then its members; one of the
// kBundle codes. Optional members the user never chose are installed disabled.
[[nodiscard]] BundleResult install_bundle_stream(Installer& installer, Transaction& txn,
                                                 PackageReader& reader, PlannerFlags flags,
                                                 const UserForcedMap& userForced,
                                                 std::string* dirOut, bool* bootOut);

// apply_actions, and for every record it removed for good (no record of its name is left) the
// pending entries below its database directory are dropped with their temporary files and only
// its removal stays: a package installed or re-stated earlier in this run leaves nothing behind.
bool settle_actions(Installer& installer, Transaction& txn, Verbosity verbosity);

// "--cleanup": marks every package not made for a system of at least 3.22 for removal and
// applies the actions; whether any action was applied.
bool cleanup(Installer& installer, Transaction& txn);
