// Admission of candidates against the installed set, and the shared lookups of installed
// records. Reads `packages` and the candidates only; every finding is a verdict bit, a dropped
// candidate or one message.

#include "plan/admission.h"

#include "core/installer.h"
#include "flash/flash_device.h"
#include "plan/relations.h"

#include <set>

namespace {

// 3.20rc1: packages up to this version cannot live on a file system with 256 KiB blocks.
constexpr Version kLastVersionWithoutNewFileSystem = 0x03146301u;

bool is_main_system_name(const std::string& name) {
    return name == "system" || name.starts_with("tarnvel");
}

// Whether some record other than `skip` meets `d` for the requirement check (enabled only).
bool has_enabled_satisfier(Installer& installer, const Dependency& d,
                           const InstalledPackage* skip) {
    for (const InstalledPackage* p : collect_satisfiers(installer, d, false))
        if (p != skip) return true;
    return false;
}

// The placement above can leave a package before one that it needs: a package needing
// nothing placed so far goes to the front, even when a later one provides what it needs.
// Installed in that order it would be refused for the missing requirement. When the needs
// allow an order at all (no cycle), the order is repaired stably: each step takes the first
// package, in the placed order, whose needs are all placed, so an order that already puts
// needed packages first stays as it is. With a cycle of needs the placed order stands.
std::vector<std::size_t> needed_first(const std::vector<const Package*>& list,
                                      const std::vector<std::size_t>& ordered) {
    const std::size_t n = ordered.size();
    auto needs = [&](std::size_t a, std::size_t b) {
        return a != b && depends_on(*list[ordered[a]], *list[ordered[b]]);
    };
    bool violated = false;
    for (std::size_t a = 0; a < n && !violated; ++a)
        for (std::size_t b = a + 1; b < n && !violated; ++b) violated = needs(a, b);
    if (!violated) return ordered;

    std::vector<std::vector<std::size_t>> neededBy(n);
    std::vector<std::size_t> missing(n, 0);
    for (std::size_t a = 0; a < n; ++a)
        for (std::size_t b = 0; b < n; ++b)
            if (needs(a, b)) {
                neededBy[b].push_back(a);
                ++missing[a];
            }
    std::set<std::size_t> ready;
    for (std::size_t a = 0; a < n; ++a)
        if (missing[a] == 0) ready.insert(a);
    std::vector<std::size_t> repaired;
    repaired.reserve(n);
    while (!ready.empty()) {
        const std::size_t a = *ready.begin();
        ready.erase(ready.begin());
        repaired.push_back(ordered[a]);
        for (std::size_t k : neededBy[a])
            if (--missing[k] == 0) ready.insert(k);
    }
    return repaired.size() == n ? repaired : ordered;
}

}  // namespace

PlannerFlags check_admission(Installer& installer, const Package& c, PlannerFlags flags,
                              bool replacesOwnName) {
    std::uint32_t verdict = 0;
    bool reported = false;
    const InstalledPackage* own = find_package(installer, c.name);

    if (own && own->name != "branding") {
        const int order = compare_packages(c, *own);
        if (order < 0) {
            verdict = kAdmitDowngrade;
            if (!(flags & kAdmitDowngrade)) {
                installer.warning("omitting package %s: newer package %s is already installed",
                                  package_label(c).c_str(), package_label(*own).c_str());
                reported = true;
            }
        } else if (order == 0) {
            verdict = kAdmitSame;
            if (!(flags & kAdmitSame)) {
                installer.warning("omitting package %s: it is already installed",
                                  package_label(c).c_str());
                reported = true;
            }
        } else {
            verdict = kAdmitUpgrade;
            if (!(flags & kAdmitUpgrade)) {
                // Only the downgrade mode explains why a newer package is refused.
                if (flags & kAdmitDowngrade)
                    installer.warning("omitting package %s: older package is already installed",
                                      package_label(c).c_str());
                reported = true;
            }
        }
    }

    const bool tellRequirements = !(flags & kAdmitRequirements);
    if (is_main_system_name(c.name)) {
        const bool verbose = !reported && tellRequirements;
        if (!check_system_version(installer, c, verbose)) {
            verdict |= kAdmitRequirements;
            if (verbose) reported = true;
        }
    }

    if (!c.arch.empty() && c.arch != installer.arch) {
        verdict |= kAdmitRequirements;
        if (!reported && tellRequirements) {
            installer.error("can not install %s: it is not made for %s, but for %s",
                            package_label(c).c_str(), installer.arch.c_str(), c.arch.c_str());
            reported = true;
        }
    }

    // The record this candidate replaces will be gone once it is installed: it neither meets a
    // requirement of its successor nor stands in its way.
    const InstalledPackage* replaced = replacesOwnName ? own : nullptr;
    for (const Dependency& d : c.depends) {
        if (has_enabled_satisfier(installer, d, replaced)) continue;
        verdict |= kAdmitRequirements;
        if (!reported && tellRequirements) {
            installer.error("can not install %s: %s is not installed, but is required",
                            package_label(c).c_str(), dependency_label(d).c_str());
            reported = true;
        }
        break;
    }

    if (const InstalledPackage* x = find_conflicting_package(installer, c, replaced)) {
        verdict |= kAdmitConflict;
        if (!reported && !(flags & kAdmitConflict))
            installer.error("can not install %s: it conflicts with %s", package_label(c).c_str(),
                            package_label(*x).c_str());
    }
    return verdict;
}

bool check_system_version(Installer& installer, const Package& c, bool verbose) {
    const Version minimum = installer.flash->min_version();
    if (c.version < minimum) {
        if (verbose) {
            // version_text shares one buffer: take the label first.
            const std::string label = package_label(c);
            installer.error("omitting package %s: min Tarnvel version is %s", label.c_str(),
                            version_text(minimum).c_str());
        }
        return false;
    }
    if (c.version <= kLastVersionWithoutNewFileSystem && installer.flash->mtd0_has_256k_blocks()) {
        if (verbose)
            installer.warning("omitting package %s: it does not support current file system",
                              package_label(c).c_str());
        return false;
    }
    return true;
}

InstalledPackage* find_package(Installer& installer, const std::string& name) {
    const auto index = installer.index_of_package(name);
    return index ? installer.packages[*index].get() : nullptr;
}

std::vector<InstalledPackage*> collect_satisfiers(Installer& installer, const Dependency& d,
                                                  bool includeDisabled) {
    std::vector<InstalledPackage*> found;
    for (const auto& p : installer.packages) {
        if (p->is_placeholder() || (p->disabled && !includeDisabled)) continue;
        if (satisfies(*p, d) || provides_for(*p, d)) found.push_back(p.get());
    }
    return found;
}

InstalledPackage* find_conflicting_package(Installer& installer, const Package& candidate,
                                           const InstalledPackage* skip) {
    for (const auto& p : installer.packages)
        if (p.get() != skip && !p->disabled && conflicts_with(*p, candidate)) return p.get();
    return nullptr;
}

InstalledPackage* find_by_name_or_provides(Installer& installer, const std::string& name) {
    const Dependency any{name, 0, 0, 0};
    InstalledPackage* last = nullptr;
    for (const auto& p : installer.packages) {
        if (p->name != name && !provides_for(*p, any)) continue;
        if (!p->disabled) return p.get();
        last = p.get();
    }
    return last;
}

std::vector<std::size_t> select_and_order_positions(Installer& installer,
                                                    const std::vector<const Package*>& list,
                                                    Version floor, Verbosity verbosity) {
    const bool verbose = verbosity != Verbosity::Silent;
    const bool downgrade = floor != kNoDowngradeFloor;
    std::vector<std::size_t> kept;
    for (std::size_t xi = 0; xi < list.size(); ++xi) {
        const Package& x = *list[xi];
        if (downgrade && x.version < floor) {
            installer.warning("ommitting package %s: not allowed", package_label(x).c_str());
            continue;
        }
        bool dropped = false;
        // Candidates dropped earlier still take part as rivals.
        for (std::size_t yi = 0; yi < list.size() && !dropped; ++yi) {
            if (yi == xi) continue;
            const Package& y = *list[yi];
            if (!has_name_or_member(x, y.name) && !has_name_or_member(y, x.name)) continue;
            const int r = compare_packages(y, x, downgrade);
            if (r > 0) {
                dropped = true;
                if (verbose)
                    installer.warning(
                        downgrade ? "omitting package %s: older package is already provided"
                                  : "omitting package %s: newer package is already provided",
                        package_label(x).c_str());
            } else if (r == 0 && !(x.isBundle && !y.isBundle)) {
                dropped = true;
            }
        }
        if (!dropped) kept.push_back(xi);
    }

    // Each package goes right after the last one already placed that it needs or that conflicts
    // with it; unrelated packages end up in reverse order.
    std::vector<std::size_t> ordered;
    ordered.reserve(kept.size());
    for (std::size_t xi : kept) {
        const Package& x = *list[xi];
        std::size_t at = 0;
        for (std::size_t k = ordered.size(); k > 0; --k) {
            const Package& y = *list[ordered[k - 1]];
            if (depends_on(x, y) || conflicts_with(y, x)) {
                at = k;
                break;
            }
        }
        ordered.insert(ordered.begin() + static_cast<std::ptrdiff_t>(at), xi);
    }
    return needed_first(list, ordered);
}
