#pragma once
// The default run: finds the uploaded package files, lets the planner choose and order them,
// installs each into the run's Transaction, keeps package images and the boot image, and enables
// again what was active before the run.

#include "core/package.h"
#include "plan/admission.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

class Installer;
class Transaction;

inline constexpr const char* kDowngradeMarker = "/ram/DOWNGRADE";
inline constexpr const char* kIgnoreMarker = "/rw/pckg/.download/IGNORE";
inline constexpr const char* kUploadDirs[] = {"/rw/pckg/.download/", "/flash/rw/pckg/",
                                              "/flash/var/pckg/"};
inline constexpr const char* kBootImagePath = "/flash/bootimage";

// Installs the uploaded packages into `txn` under the planner `flags`. False when the run
// failed: an installation failed (everything queued was cancelled) or no installed package is
// left ("router installation failed!!!", also cancelled). True for a run that installed
// something or had nothing to do.
[[nodiscard]] bool upgrade_run(Installer& installer, Transaction& txn, PlannerFlags flags);

// Appends the package files of `directory` (which ends in "/") to `list`, in directory order:
// entries ending exactly in ".npk" or ".dpk" and not beginning with ".". A file whose header
// cannot be read is reported as "broken package %s" and left out.
void scan_uploads(Installer& installer, const std::string& directory,
                  std::vector<std::unique_ptr<PackageFile>>& list);

// The disabled packages to enable after the run: for each name active before it (in name order)
// the record that has or provides it, when disabled and nothing enabled conflicts with it. Each
// record once, even when it was active under several names.
std::vector<InstalledPackage*> packages_to_enable_again(Installer& installer,
                                                        const std::set<std::string>& activeNames);

// The downgrade floor from the marker's text: the unsigned decimal number at its start (after
// white space), 0 when there is none, the largest version when it does not fit.
Version parse_downgrade_floor(const std::string& text);
