#pragma once
// Whether a candidate package may go beside the installed set (a verdict of reason bits, with at
// most one message per candidate), the choice and order of candidates, and the lookups of
// installed records that the planner shares. Nothing here changes a record.

#include "core/installer.h"
#include "core/package.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Reason bits. In a verdict: the reason was found; in the planner flags: it is allowed. The
// command line sets kAdmitUpgrade (always), kAdmitDowngrade ("-down") and kAdmitSame
// ("--reinstall"); kAdmitRequirements and kAdmitConflict are the planner's own.
using PlannerFlags = std::uint32_t;
inline constexpr PlannerFlags kAdmitUpgrade = 1;       // an older build of the name is installed
inline constexpr PlannerFlags kAdmitDowngrade = 2;     // a newer build of the name is installed
inline constexpr PlannerFlags kAdmitRequirements = 8;  // board, file system, arch or a package
inline constexpr PlannerFlags kAdmitConflict = 16;     // an enabled installed package conflicts
inline constexpr PlannerFlags kAdmitSame = 32;         // the very same build is installed

// The downgrade floor when "/ram/DOWNGRADE" is absent: every version is allowed.
inline constexpr Version kNoDowngradeFloor = 0xFFFFFFFFu;

// The verdict for `candidate` under the planner `flags`; messages only for reasons the flags do
// not allow, at most one. `replacesOwnName` is set when installing the candidate replaces the
// installed record of its name (a file with the package magic, not the alternate one): that
// record is then left out of the requirement and conflict checks, since it will be gone.
[[nodiscard]] PlannerFlags check_admission(Installer& installer, const Package& candidate,
                                            PlannerFlags flags, bool replacesOwnName);

// The board minimum version and file system checks of a main system package; true on pass.
[[nodiscard]] bool check_system_version(Installer& installer, const Package& candidate,
                                        bool verbose);

// The first installed record named exactly `name`, or null. Borrowed from `packages`.
InstalledPackage* find_package(Installer& installer, const std::string& name);

// Every non-placeholder record, in list order, that satisfies or provides for `d`; disabled
// records only when `includeDisabled`.
std::vector<InstalledPackage*> collect_satisfiers(Installer& installer, const Dependency& d,
                                                  bool includeDisabled);

// The first enabled record p with conflicts_with(p, candidate), or null. `skip` (may be null) is
// a record that does not take part.
InstalledPackage* find_conflicting_package(Installer& installer, const Package& candidate,
                                           const InstalledPackage* skip = nullptr);

// The first enabled record named or providing `name`; when every match is disabled the last
// match; null when nothing matches.
InstalledPackage* find_by_name_or_provides(Installer& installer, const std::string& name);

// Candidate selection and processing order over `list` (positions into it): of related
// candidates the newest (with a floor: the oldest) stays, then each kept one follows what
// conflicts with it and what it needs; the needs hold in the result whenever some order of the
// kept ones can meet them all. Warnings only unless Silent, except the floor refusal.
std::vector<std::size_t> select_and_order_positions(Installer& installer,
                                                    const std::vector<const Package*>& list,
                                                    Version floor, Verbosity verbosity);

// select_and_order_positions applied to a list of (owning or borrowed) package pointers: the
// dropped candidates leave the list (an owning list destroys them), the rest are reordered.
template <class Ptr>
void select_and_order(Installer& installer, std::vector<Ptr>& list, Version floor,
                      Verbosity verbosity) {
    std::vector<const Package*> view;
    view.reserve(list.size());
    for (const Ptr& p : list) view.push_back(&*p);
    const std::vector<std::size_t> order =
        select_and_order_positions(installer, view, floor, verbosity);
    std::vector<Ptr> result;
    result.reserve(order.size());
    for (std::size_t i : order) result.push_back(std::move(list[i]));
    list = std::move(result);
}
