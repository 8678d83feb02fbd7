// The default upgrade run over the upload directories, and their scan.

#include "cli/upgrade_run.h"

#include "cli/stream_install.h"
#include "core/input_file.h"
#include "core/installer.h"
#include "package/package_format.h"
#include "pdb/database_paths.h"
#include "plan/actions.h"
#include "plan/admission.h"
#include "plan/driver.h"
#include "txn/transaction.h"

#include <dirent.h>
#include <sys/stat.h>

#include <set>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

constexpr std::size_t kPackageReadBuffer = 65536;

bool ends_with(const std::string& s, const char* suffix) {
    const std::string tail(suffix);
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Reads the downgrade marker; false when there is none.
bool read_downgrade_marker(Version& floor) {
    InputFile in = InputFile::open(kDowngradeMarker, 64);
    if (!in.is_open()) return false;
    // Only the number at the start counts; a marker of any size must not be read whole.
    char head[64] = {};
    const std::size_t got = in.read(head, sizeof head - 1);
    floor = parse_downgrade_floor(std::string(head, got));
    return true;
}

// Discovery stops at the first directory that yields a candidate.
void discover(Installer& installer, std::vector<std::unique_ptr<PackageFile>>& list) {
    struct stat st;
    if (::stat(kIgnoreMarker, &st) != 0) scan_uploads(installer, kUploadDirs[0], list);
    if (list.empty()) scan_uploads(installer, kUploadDirs[1], list);
    if (list.empty()) scan_uploads(installer, kUploadDirs[2], list);
}

// The candidate's own build is installed. A candidate that admission skipped ("omitting
// package") reports success too; its file must not replace the image or the boot image of the
// build that stays installed.
bool stands_installed(const Installer& installer, const PackageFile& candidate) {
    for (const auto& p : installer.packages) {
        if (p->name == candidate.name && p->version == candidate.version &&
            p->buildTime == candidate.buildTime)
            return true;
    }
    return false;
}

// Queues where the candidate's file goes once it is installed. A boot package's file becomes
// the boot image whether or not it carries an image chunk: its installation queued the removal
// of the old one, and the router must not be left without.
void keep_package_file(Transaction& txn, const PackageFile& candidate, bool boot) {
    const std::string imagePath = std::string(kDatabaseDir) + candidate.name + "/image";
    if (boot) {
        txn.add_move(candidate.filePath, kBootImagePath);
        if (candidate.hasImage) txn.add_link(kBootImagePath, imagePath);
    } else if (candidate.hasImage) {
        txn.add_move(candidate.filePath, imagePath);
    }
}

bool has_named_package(const Installer& installer) {
    for (const auto& p : installer.packages)
        if (!p->name.empty()) return true;
    return false;
}

}  // namespace

std::vector<InstalledPackage*> packages_to_enable_again(Installer& installer,
                                                        const std::set<std::string>& activeNames) {
    // What find_by_name_or_provides gives for every name at once, in one pass over the records:
    // the first enabled record that has or provides the name, else the last disabled one.
    struct Holders {
        InstalledPackage* firstEnabled = nullptr;
        InstalledPackage* lastDisabled = nullptr;
    };
    std::unordered_map<std::string_view, Holders> holders;
    auto note = [&](const std::string& name, InstalledPackage* p) {
        Holders& h = holders[name];
        if (!p->disabled && h.firstEnabled == nullptr) h.firstEnabled = p;
        if (p->disabled) h.lastDisabled = p;
    };
    for (const auto& p : installer.packages) {
        note(p->name, p.get());
        for (const Dependency& d : p->provides) note(d.name, p.get());
    }

    std::vector<InstalledPackage*> list;
    std::set<const InstalledPackage*> listed;
    for (const std::string& name : activeNames) {
        const auto found = holders.find(name);
        if (found == holders.end() || found->second.firstEnabled != nullptr) continue;
        InstalledPackage* p = found->second.lastDisabled;
        if (listed.count(p) != 0) continue;
        if (find_conflicting_package(installer, *p) != nullptr) continue;
        listed.insert(p);
        list.push_back(p);
    }
    return list;
}

Version parse_downgrade_floor(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    if (i < text.size() && text[i] == '+') ++i;
    std::uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + std::uint64_t(text[i] - '0');
        if (value > 0xFFFFFFFFu) return 0xFFFFFFFFu;
    }
    return Version(value);
}

void scan_uploads(Installer& installer, const std::string& directory,
                  std::vector<std::unique_ptr<PackageFile>>& list) {
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;
        if (!ends_with(name, ".npk") && !ends_with(name, ".dpk")) continue;
        auto file = std::make_unique<PackageFile>();
        if (!scan_package_file(*file, directory + name)) {
            installer.error("broken package %s", name.c_str());
            continue;
        }
        list.push_back(std::move(file));
    }
    ::closedir(dir);
}

bool upgrade_run(Installer& installer, Transaction& txn, PlannerFlags flags) {
    Version floor = kNoDowngradeFloor;
    if (read_downgrade_marker(floor)) flags |= kAdmitDowngrade;

    std::vector<std::unique_ptr<PackageFile>> candidates;
    discover(installer, candidates);
    select_and_order(installer, candidates, floor, Verbosity::Changes);

    UserForcedMap userForced;
    std::set<std::string> activeNames;
    for (const auto& p : installer.packages) {
        if (p->userForced) userForced[p->name] = p->disabled;
        if (p->disabled) continue;
        activeNames.insert(p->name);
        for (const Dependency& d : p->provides) activeNames.insert(d.name);
    }

    if (!candidates.empty()) installer.reserve_log();
    for (const auto& candidate : candidates) {
        // Package files are read front to back once: large reads cost fewer system calls.
        InputFile file = InputFile::open(candidate->filePath, kPackageReadBuffer);
        if (!file.is_open()) continue;
        // The same build, already installed, is only placed again on "--reinstall"; otherwise
        // it was omitted and the installed build stays exactly as it is.
        const bool stoodBefore = stands_installed(installer, *candidate);
        bool boot = false;
        const int status = install_stream(installer, txn, file, flags, userForced, nullptr,
                                          nullptr, &boot);
        if (status != 0) {
            txn.cancel();
            return false;
        }
        if (stands_installed(installer, *candidate) && (!stoodBefore || (flags & kAdmitSame) != 0))
            keep_package_file(txn, *candidate, boot);
    }

    carry_out_enables(installer, txn, packages_to_enable_again(installer, activeNames),
                      Verbosity::Changes);

    if (!has_named_package(installer)) {
        installer.error("router installation failed!!!");
        txn.cancel();
        return false;
    }
    return true;
}
