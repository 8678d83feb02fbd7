// Reference resolution: every step rescans `packages` and restarts where the design says so.
// Slow (cubic in the worst case) but obviously faithful; tests compare the indexed one with it.

#include "plan/plain_resolution.h"

#include "core/installer.h"
#include "plan/admission.h"
#include "plan/relations.h"
#include "plan/resolution.h"

#include <set>

namespace {

bool active(const InstalledPackage& p) {
    return p.action == kActionEnable || (p.action == kActionNone && !p.disabled);
}

// Records whose keep_requirements is in progress (once per open call). Only the step of a
// bundle link can change nothing and still recurse; in a cycle of bundle links it must not
// enter an open record again (the same guard as the product's).
std::multiset<const InstalledPackage*> inProgress;

// False when nothing had to change (q enabled and staying).
bool require_active_step(Installer& in, InstalledPackage& q, const InstalledPackage& p,
                         bool verbose) {
    if (q.name.empty()) return false;
    if (q.action == kActionUninstall || q.action == kActionDisable) {
        if (verbose)
            in.warning("can not %s %s: %s depends on it",
                       q.action == kActionUninstall ? "uninstall" : "disable",
                       package_label(q).c_str(), p.name.c_str());
        q.action = kActionNone;
        return true;
    }
    if (q.disabled) q.action = kActionEnable;
    return q.disabled;
}

void keep_requirements(Installer& in, InstalledPackage& p, bool verbose) {
    const auto mark = inProgress.insert(&p);
    if (!p.bundle.name.empty())
        if (InstalledPackage* b = find_package(in, p.bundle.name)) {
            const std::uint32_t before = b->action;
            if (require_active_step(in, *b, p, verbose) &&
                (b->action != before || !inProgress.count(b)))
                keep_requirements(in, *b, verbose);
        }
    for (const Dependency& d : p.depends) {
        std::vector<InstalledPackage*> s = collect_satisfiers(in, d, true);
        if (summarize_satisfiers(s) == SatisfierSummary::SomeActive) continue;
        if (s.empty()) break;
        select_and_order(in, s, kNoDowngradeFloor, Verbosity::Silent);
        if (!s.empty() && require_active_step(in, *s.back(), p, verbose))
            keep_requirements(in, *s.back(), verbose);
    }
    inProgress.erase(mark);
}

void resolve_enable_conflicts(Installer& in, InstalledPackage& p, bool verbose) {
    for (const auto& owned : in.packages) {
        InstalledPackage& r = *owned;
        if (&r == &p || r.action != (r.disabled ? kActionEnable : kActionNone)) continue;
        if (conflicts_with(p, r)) {
            if (r.action == kActionNone && !r.name.empty()) r.action = kActionDisable;
        } else if (p.action == kActionEnable && conflicts_with(r, p)) {
            if (r.action == kActionEnable) {
                if (verbose)
                    in.warning("can not enable %s: %s conflicts with it", p.name.c_str(),
                               package_label(r).c_str());
                p.action = kActionNone;
                return;
            }
            if (!r.name.empty()) r.action = kActionDisable;
        }
    }
}

// One change per scan, then the scan starts over, until a scan changes nothing.
bool drop_one_unsatisfied(Installer& in) {
    for (const auto& owned : in.packages) {
        InstalledPackage& p = *owned;
        if (p.name.empty() || p.action == kActionUninstall) continue;
        for (const Dependency& d : p.depends) {
            const SatisfierSummary s = summarize_satisfiers(collect_satisfiers(in, d, true));
            if (s == SatisfierSummary::NoneLeft) {
                p.action = kActionUninstall;
                return true;
            }
            if (s == SatisfierSummary::OnlyInactive && p.action != kActionDisable &&
                (!p.disabled || p.action != kActionNone)) {
                p.action = kActionDisable;
                return true;
            }
        }
    }
    return false;
}

void settle_bundles(Installer& in) {
    for (const auto& owned : in.packages) {
        InstalledPackage& b = *owned;
        if (!b.isBundle || b.action == kActionUninstall || b.name.empty()) continue;
        bool inactive = false, keeps = false;
        for (const auto& q : in.packages) {
            if (q->is_placeholder() || q->bundle.name != b.name) continue;
            if ((keeps = q->action == kActionEnable || (!q->disabled && q->action == kActionNone)))
                break;
            if (q->disabled ? q->action != kActionUninstall : q->action == kActionDisable)
                inactive = true;
        }
        if (keeps) continue;
        if (!inactive || !b.disabled)
            b.action = kActionUninstall;
        else if (b.action == kActionEnable)
            b.action = kActionNone;
    }
}

}  // namespace

bool plain_resolve_actions(Installer& in, std::vector<InstalledPackage*>& removals,
                           std::vector<InstalledPackage*>& enables, Verbosity verbosity) {
    const bool verbose = verbosity != Verbosity::Silent;
    for (const auto& p : in.packages) {
        if (p->bundle.name.empty() || p->name.empty()) continue;
        const InstalledPackage* b = find_package(in, p->bundle.name);
        if (!b) continue;
        if (b->action == kActionUninstall)
            p->action = kActionUninstall;
        else if (b->action == kActionDisable && p->action != kActionUninstall)
            p->action = kActionDisable;
        else if (b->action == kActionEnable && p->disabled)
            p->action = kActionEnable;
    }
    for (const auto& p : in.packages)
        if (active(*p)) keep_requirements(in, *p, verbose);
    for (const auto& p : in.packages)
        if (active(*p)) resolve_enable_conflicts(in, *p, verbose);
    while (drop_one_unsatisfied(in)) {
    }
    settle_bundles(in);

    bool anyNamed = false, anyActive = false;
    for (const auto& p : in.packages)
        anyNamed |= !p->name.empty(), anyActive |= !p->name.empty() && active(*p);
    if (anyNamed && !anyActive) {
        for (const auto& p : in.packages) p->action = kActionNone;
        if (verbose) in.error("can not uninstall or disable all packages");
        return false;
    }
    std::vector<InstalledPackage*> enableList;
    for (const auto& p : in.packages) {
        if (p->action == kActionUninstall || p->action == kActionDisable)
            removals.push_back(p.get());
        if (p->action == kActionEnable) enableList.push_back(p.get());
    }
    select_and_order(in, enableList, kNoDowngradeFloor, Verbosity::Silent);
    enables.insert(enables.end(), enableList.begin(), enableList.end());
    return true;
}
