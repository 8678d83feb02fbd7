// The installation driver: one package or one bundle from a package stream. Records are handed
// to `packages` as soon as they are installed and the actions are settled after each one, which
// may destroy any record: across apply_actions only names are held, never records.

#include "plan/driver.h"

#include "core/installer.h"
#include "package/format.h"
#include "package/package_format.h"
#include "package/package_reader.h"
#include "pdb/database_paths.h"
#include "pdb/entry_writer.h"
#include "plan/actions.h"
#include "plan/admission.h"
#include "plan/relations.h"
#include "plan/unpack.h"
#include "txn/transaction.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>
#include <vector>

namespace {

// The cleanup keeps only packages that require at least this "system" (3.22, final release).
constexpr Version kOldestCurrentSystem = 0x031665FFu;

bool is_kept_by_cleanup(const InstalledPackage& p) {
    if (p.isBundle || p.name == "zephlin" || p.name == "disk-drivers" || p.name == "system")
        return true;
    for (const Dependency& d : p.depends)
        if (d.name == "system" && d.min > kOldestCurrentSystem) return true;
    return false;
}

// Verdict bits that only say how the candidate's build compares with the installed one. Such a
// refusal comes with an "omitting package" warning and leaves the installed set as it is.
constexpr std::uint32_t kOrderingBits = kAdmitUpgrade | kAdmitDowngrade | kAdmitSame;
constexpr std::uint32_t kAllBits = 0xFFFFFFFFu;
constexpr std::size_t kStatusClearWidth = 78;

bool is_listed(const Installer& installer, const InstalledPackage* record) {
    return std::any_of(installer.packages.begin(), installer.packages.end(),
                       [&](const auto& p) { return p.get() == record; });
}

bool has_record_named(const Installer& installer, const std::string& name) {
    return installer.index_of_package(name).has_value();
}

// Moves a member's reader on to the next package header or the end of the stream.
void skip_member(PackageReader& reader) {
    while (reader.type() != kChunkPackageHeader && reader.type() != kNoChunk) reader.next_chunk();
}

// A blocker: an unnamed record that conflicts with an optional member, so that the member's
// admission finds a conflict and it is installed disabled.
std::unique_ptr<InstalledPackage> make_blocker(const std::string& member) {
    auto blocker = std::make_unique<InstalledPackage>();
    blocker->conflicts.push_back(Dependency{member, 0, 0, 0});
    return blocker;
}

}  // namespace

// apply_actions, then makes sure that a record it removed leaves nothing in the database: a
// package installed earlier in this run had its database files queued as moves, which the
// removal of its directory would not stop (the commit removes before it moves).
bool settle_actions(Installer& installer, Transaction& txn, Verbosity verbosity) {
    struct Seen {
        const InstalledPackage* record;
        std::string name;
    };
    std::vector<Seen> before;
    before.reserve(installer.packages.size());
    for (const auto& p : installer.packages) before.push_back({p.get(), p->name});

    const bool applied = apply_actions(installer, txn, verbosity);

    for (const Seen& seen : before) {
        if (is_listed(installer, seen.record) || has_record_named(installer, seen.name)) continue;
        if (!is_safe_package_name(seen.name)) continue;
        const std::string dir = std::string(kDatabaseDir) + seen.name + "/";
        txn.drop_below(dir);
        txn.add_remove(dir);
        txn.add_remove(dir + "image");
    }
    return applied;
}

StreamResult install_package_stream(Installer& installer, Transaction& txn,
                                    PackageReader& reader, PlannerFlags flags,
                                    const UserForcedMap& userForced, const Dependency* link,
                                    std::string* dirOut, bool* bootOut, std::string* nameOut) {
    if (bootOut) *bootOut = false;
    auto p = std::make_unique<InstalledPackage>();
    if (!read_package_header(*p, reader)) return StreamResult::Failed;
    if (link && p->name == link->name) return StreamResult::Failed;
    if (link) p->bundle = *link;
    if (!has_storable_names(*p)) {
        report_broken(installer, *p);
        return StreamResult::Failed;
    }
    const std::string name = p->name;
    if (p->hasImage && dirOut) *dirOut = std::string(kDatabaseDir) + name + "/";
    // Stream mode keeps its copy of the input only as a package image or the boot image. A
    // package that can become neither spares flash the rest of the copy, the whole package.
    if (!link && !p->hasImage && !((p->flags & kFlagBoot) && installer.bootImage))
        reader.chunk_buf().drop_copy_target();

    const bool replacesOwnName = !reader.is_alt_magic();
    std::uint32_t verdict = check_admission(installer, *p, link ? kAllBits : flags | kAdmitConflict,
                                            replacesOwnName);
    const auto forced = userForced.find(name);
    p->disabled = forced != userForced.end() && forced->second;
    if (forced != userForced.end()) p->userForced = true;
    if (verdict & kAdmitConflict) {
        verdict &= ~kAdmitConflict;
        p->disabled = true;
    }

    const std::uint32_t refused = verdict & ~flags;
    if (refused || (verdict & kAdmitSame)) {
        if (link) {
            skip_member(reader);
            if (!find_package(installer, name)) return StreamResult::Failed;
            if (nameOut) *nameOut = name;
            return StreamResult::Installed;
        }
        // A reinstall of the same build keeps the installed record whatever else the verdict
        // holds: a requirement that no longer holds must not cancel the whole run, since the
        // installed build stays as it is.
        const InstalledPackage* installed = find_package(installer, name);
        if ((flags & kAdmitSame) && (verdict & kAdmitSame) && installed) {
            installer.set_status(std::string(kStatusClearWidth, ' '));
            installer.set_status("");
            installer.info("installed %s%s", p->disabled ? "(disabled) " : "",
                           package_label(*p).c_str());
            if (bootOut) *bootOut = (installed->flags & kFlagBoot) != 0 && installer.bootImage;
            if (nameOut) *nameOut = name;
            return StreamResult::Installed;
        }
        // Refused for its build order: the "omitting package" warning was given and the
        // installed set stays as it is. The same build stands for the candidate; an older or
        // newer one is passed over, and its image chunk must not replace the installed image.
        if ((refused & kOrderingBits) && installed) {
            if (refused & kAdmitSame) {
                if (nameOut) *nameOut = name;
                return StreamResult::Installed;
            }
            if (dirOut) dirOut->clear();
            return StreamResult::Skipped;
        }
        return StreamResult::Failed;
    }

    if (replacesOwnName) {
        if (const auto index = installer.index_of_package(name)) {
            uninstall_entry(installer, *installer.packages[*index], txn);
            installer.packages.erase(installer.packages.begin() + std::ptrdiff_t(*index));
        }
    }

    if (!install_package(installer, *p, txn, reader)) return StreamResult::Failed;

    const std::uint32_t packageFlags = p->flags;
    const InstalledPackage* added = p.get();
    installer.packages.push_back(std::move(p));
    settle_actions(installer, txn, Verbosity::Silent);
    // The actions may have uninstalled what was just installed (it needed a member that a new
    // bundle dropped): then this installation did not succeed.
    if (!is_listed(installer, added)) return StreamResult::Failed;

    if (bootOut) *bootOut = (packageFlags & kFlagBoot) != 0 && installer.bootImage;
    if (nameOut) *nameOut = name;
    return StreamResult::Installed;
}

BundleResult install_bundle_stream(Installer& installer, Transaction& txn, PackageReader& reader,
                                   PlannerFlags flags, const UserForcedMap& userForced,
                                   std::string* dirOut, bool* bootOut) {
    if (bootOut) *bootOut = false;
    auto b = std::make_unique<InstalledPackage>();
    if (!read_package_header(*b, reader)) return BundleResult::BadHeader;
    if (!b->depends.empty() || !b->provides.empty() || !b->conflicts.empty())
        return BundleResult::BadHeader;
    if (!is_storable_package_name(b->name)) {
        report_broken(installer, *b);
        return BundleResult::BadHeader;
    }
    if (reader.type() == kChunkImage) reader.next_chunk();
    const std::string name = b->name;
    if (b->hasImage && dirOut) *dirOut = std::string(kDatabaseDir) + name + "/";
    // Without an image only a boot member could make the copy the boot image.
    if (!b->hasImage && !installer.bootImage) reader.chunk_buf().drop_copy_target();

    const std::uint32_t refused =
        check_admission(installer, *b, flags, !reader.is_alt_magic()) & ~flags;
    if (refused) {
        // Like a single package: the same build is a success, an older or newer one refused by
        // build order is passed over, both with the warning already given.
        if (!(refused & kOrderingBits) || !find_package(installer, name))
            return BundleResult::Failed;
        if (!(refused & kAdmitSame) && dirOut) dirOut->clear();
        return BundleResult::Installed;
    }

    remove_installed(installer, txn, name);
    b->isBundle = true;
    if (!store_entry(installer, *b, txn)) return BundleResult::BadHeader;
    const Dependency link = exact_dependency(*b);
    if (const auto index = installer.index_of_package(name))
        installer.packages.erase(installer.packages.begin() + std::ptrdiff_t(*index));
    installer.packages.push_back(std::move(b));

    std::set<std::string> oldMembers;
    for (const auto& p : installer.packages)
        if (p->bundle.name == name) oldMembers.insert(p->name);

    if (reader.type() == kChunkOptionalMembers) {
        std::vector<Dependency> optional;
        if (!read_dependency_list(reader, optional)) return BundleResult::Failed;
        for (const Dependency& d : optional)
            if (!d.name.empty() && userForced.find(d.name) == userForced.end())
                installer.packages.push_back(make_blocker(d.name));
        reader.next_chunk();
    }

    int count = 0;
    while (reader.type() == kChunkPackageHeader) {
        bool memberBoot = false;
        std::string memberName;
        if (install_package_stream(installer, txn, reader, flags, userForced, &link, nullptr,
                                   &memberBoot, &memberName) != StreamResult::Installed)
            return BundleResult::Failed;
        ++count;
        oldMembers.erase(memberName);
        if (bootOut && memberBoot) *bootOut = true;
    }
    if (reader.type() == kChunkArch) reader.next_chunk();
    if (reader.type() != kNoChunk || reader.text_too_long()) return BundleResult::Failed;
    if (count == 0) return BundleResult::NoMembers;

    for (const std::string& member : oldMembers)
        for (const auto& p : installer.packages)
            if (p->name == member && p->bundle.name == name) p->action = kActionUninstall;
    settle_actions(installer, txn, Verbosity::Silent);
    if (!has_record_named(installer, name)) return BundleResult::Failed;

    installer.set_status("");
    installer.info("installed %s", dependency_label(link).c_str());
    return BundleResult::Installed;
}

bool cleanup(Installer& installer, Transaction& txn) {
    settle_actions(installer, txn, Verbosity::Silent);
    for (const auto& p : installer.packages)
        if (!p->name.empty() && !is_kept_by_cleanup(*p)) p->action = kActionUninstall;
    return settle_actions(installer, txn, Verbosity::Changes);
}
