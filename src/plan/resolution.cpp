// Dependency resolution over the installed set. The steps follow the plain scans of the package
// list exactly (same visiting order, same messages); indexes by name only narrow each scan to
// the records that can match, so that large databases settle in near-linear time.

#include "plan/resolution.h"

#include "core/installer.h"
#include "plan/admission.h"
#include "plan/relations.h"

#include <algorithm>

namespace {

const char* action_word(std::uint32_t action) {
    switch (action) {
        case kActionUninstall: return "uninstall";
        case kActionEnable: return "enable";
        case kActionDisable: return "disable";
        default: return "";
    }
}

// How one satisfier counts: active, inactive, or on its way out. An enabled
// package that is asked to be enabled again stays active, and a package being uninstalled is
// gone whether or not it is disabled, so that what needs it goes too rather than being left
// behind with a requirement that the commit removes.
SatisfierSummary satisfier_state(const InstalledPackage& p) {
    if (p.action == kActionUninstall) return SatisfierSummary::NoneLeft;
    if (p.action == kActionEnable) return SatisfierSummary::SomeActive;
    if (p.disabled || p.action == kActionDisable) return SatisfierSummary::OnlyInactive;
    return SatisfierSummary::SomeActive;
}

// The summary of satisfiers reached through `found` by `get`: the first active one decides.
template <class Range, class Get>
SatisfierSummary summarize(const Range& found, Get get) {
    bool inactive = false;
    for (const auto& item : found) {
        const SatisfierSummary state = satisfier_state(get(item));
        if (state == SatisfierSummary::SomeActive) return SatisfierSummary::SomeActive;
        if (state == SatisfierSummary::OnlyInactive) inactive = true;
    }
    return inactive ? SatisfierSummary::OnlyInactive : SatisfierSummary::NoneLeft;
}

// Blocker records (empty name) only exist to make admission find a conflict; they take no
// action of their own, or the database would gain entries named after their state files.
bool may_change(const InstalledPackage& p) {
    return !p.name.empty();
}

void append_all(std::vector<std::size_t>& out, const std::vector<std::size_t>& in) {
    out.insert(out.end(), in.begin(), in.end());
}

void sort_unique(std::vector<std::size_t>& v) {
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
}

}  // namespace

SatisfierSummary summarize_satisfiers(const std::vector<InstalledPackage*>& satisfiers) {
    return summarize(satisfiers, [](const InstalledPackage* p) -> const InstalledPackage& {
        return *p;
    });
}

bool is_active_after_run(const InstalledPackage& p) {
    return p.action == kActionEnable || (p.action == kActionNone && !p.disabled);
}

Resolver::Resolver(Installer& installer)
    : installer_(installer), openFrames_(installer.packages.size(), 0) {
    for (std::size_t i = 0; i < installer.packages.size(); ++i) {
        const InstalledPackage& p = *installer.packages[i];
        positionOf_.emplace(&p, i);
        byName_[p.name].push_back(i);
        // A record listing a name twice must still appear once per list.
        for (const Dependency& e : p.provides) {
            Positions& list = byProvided_[e.name];
            if (list.empty() || list.back() != i) list.push_back(i);
        }
        for (const Dependency& c : p.conflicts) {
            Positions& list = byConflict_[c.name];
            if (list.empty() || list.back() != i) list.push_back(i);
        }
        if (!p.bundle.name.empty()) byBundle_[p.bundle.name].push_back(i);
        if (!p.members.empty()) anyMembers_ = true;
    }
}

InstalledPackage& Resolver::at(std::size_t position) const {
    return *installer_.packages[position];
}

const Resolver::Positions& Resolver::lookup(const std::unordered_map<std::string, Positions>& index,
                                            const std::string& name) const {
    static const Positions kNone;
    const auto it = index.find(name);
    return it == index.end() ? kNone : it->second;
}

Resolver::Positions Resolver::satisfier_positions(const Dependency& d) const {
    Positions candidates = lookup(byName_, d.name);
    append_all(candidates, lookup(byProvided_, d.name));
    sort_unique(candidates);
    Positions found;
    for (std::size_t i : candidates) {
        const InstalledPackage& p = at(i);
        if (!p.is_placeholder() && (satisfies(p, d) || provides_for(p, d))) found.push_back(i);
    }
    return found;
}

std::vector<InstalledPackage*> Resolver::satisfiers(const Dependency& d) const {
    std::vector<InstalledPackage*> found;
    for (std::size_t i : satisfier_positions(d)) found.push_back(&at(i));
    return found;
}

Resolver::Positions Resolver::conflict_candidates(const InstalledPackage& p) const {
    Positions candidates;
    if (anyMembers_) {
        for (std::size_t i = 0; i < installer_.packages.size(); ++i) candidates.push_back(i);
        return candidates;
    }
    // conflicts_with(p, r) and conflicts_with(r, p) can only hold through a shared name: r named
    // in p's conflicts or provides, r providing p's name or one that p provides or conflicts
    // with, or r's conflicts naming p or what p provides.
    append_all(candidates, lookup(byProvided_, p.name));
    append_all(candidates, lookup(byConflict_, p.name));
    for (const Dependency& c : p.conflicts) {
        append_all(candidates, lookup(byName_, c.name));
        append_all(candidates, lookup(byProvided_, c.name));
    }
    for (const Dependency& e : p.provides) {
        append_all(candidates, lookup(byName_, e.name));
        append_all(candidates, lookup(byProvided_, e.name));
        append_all(candidates, lookup(byConflict_, e.name));
    }
    sort_unique(candidates);
    return candidates;
}

void Resolver::propagate_bundle_actions() {
    for (const auto& owned : installer_.packages) {
        InstalledPackage& p = *owned;
        if (p.bundle.name.empty() || !may_change(p)) continue;
        const Positions& named = lookup(byName_, p.bundle.name);
        if (named.empty()) continue;
        const InstalledPackage& b = at(named.front());
        if (b.action == kActionUninstall) {
            p.action = kActionUninstall;
        } else if (b.action == kActionDisable) {
            if (p.action != kActionUninstall) p.action = kActionDisable;
        } else if (b.action == kActionEnable) {
            if (p.disabled) p.action = kActionEnable;
        }
    }
}

bool Resolver::require_active_step(InstalledPackage& needed, const InstalledPackage& needing,
                                   bool verbose) {
    if (!may_change(needed)) return false;
    if (needed.action == kActionUninstall || needed.action == kActionDisable) {
        if (verbose) {
            const std::string label = package_label(needed);
            installer_.warning("can not %s %s: %s depends on it", action_word(needed.action),
                               label.c_str(), needing.name.c_str());
        }
        needed.action = kActionNone;
        return true;
    }
    if (needed.disabled) {
        needed.action = kActionEnable;
        return true;
    }
    return false;
}

void Resolver::require_active(InstalledPackage& needed, const InstalledPackage& needing,
                              bool verbose) {
    if (require_active_step(needed, needing, verbose)) keep_requirements(needed, verbose);
}

void Resolver::keep_requirements(InstalledPackage& start, bool verbose) {
    // keep_requirements and require_active recurse into each other along chains that can be as
    // long as the database; an explicit stack keeps the same visiting order without the depth.
    struct Frame {
        InstalledPackage* p;
        std::size_t nextDep;
        bool bundleDone;
    };
    std::vector<Frame> stack{{&start, 0, false}};
    // How many frames of each record are open. A requirement may lead back to a record whose
    // frame is still open (it was only un-scheduled, and is now enabled): that recursion ends by
    // itself, since such a step always changes an action towards active. The step of a bundle
    // link may change nothing (a disabled bundle already being enabled); in a cycle of bundle
    // links, which only a corrupt database has (a bundle linked to itself), it would recurse
    // forever, so such a step does not enter a bundle whose frame is open.
    // The counts are the resolver's, all zero again when a call returns, so that a call costs
    // what it visits rather than the size of the database.
    std::vector<std::uint32_t>& open = openFrames_;
    auto open_count = [&](const InstalledPackage& q) -> std::uint32_t* {
        const auto it = positionOf_.find(&q);
        return it == positionOf_.end() ? nullptr : &open[it->second];
    };
    auto enter = [&](InstalledPackage& q) {
        if (std::uint32_t* count = open_count(q)) ++*count;
        stack.push_back({&q, 0, false});
    };
    if (std::uint32_t* count = open_count(start)) ++*count;

    while (!stack.empty()) {
        const std::size_t top = stack.size() - 1;
        InstalledPackage& p = *stack[top].p;
        if (!stack[top].bundleDone) {
            stack[top].bundleDone = true;
            if (p.bundle.name.empty()) continue;
            const Positions& named = lookup(byName_, p.bundle.name);
            if (named.empty()) continue;
            InstalledPackage& b = at(named.front());
            const std::uint32_t before = b.action;
            const std::uint32_t* count = open_count(b);
            if (require_active_step(b, p, verbose) && (b.action != before || !count || !*count))
                enter(b);
            continue;
        }
        if (stack[top].nextDep >= p.depends.size()) {
            if (std::uint32_t* count = open_count(p)) --*count;
            stack.pop_back();
            continue;
        }
        const Dependency& d = p.depends[stack[top].nextDep++];
        std::vector<InstalledPackage*> found = satisfiers(d);
        if (summarize_satisfiers(found) == SatisfierSummary::SomeActive) continue;
        if (found.empty()) {
            // A missing requirement is left to drop_unsatisfied; so are the entries after it.
            stack[top].nextDep = p.depends.size();
            continue;
        }
        select_and_order(installer_, found, kNoDowngradeFloor, Verbosity::Silent);
        // Two equal builds may drop each other, leaving no choice for this entry.
        if (found.empty()) continue;
        if (require_active_step(*found.back(), p, verbose)) enter(*found.back());
    }
}

void Resolver::resolve_enable_conflicts(InstalledPackage& p, bool verbose) {
    for (std::size_t i : conflict_candidates(p)) {
        InstalledPackage& r = at(i);
        if (&r == &p) continue;
        const bool active = r.disabled ? r.action == kActionEnable : r.action == kActionNone;
        if (!active) continue;
        if (conflicts_with(p, r)) {
            if (r.action == kActionNone && may_change(r)) r.action = kActionDisable;
        } else if (p.action == kActionEnable && conflicts_with(r, p)) {
            if (r.action == kActionNone) {
                if (may_change(r)) r.action = kActionDisable;
            } else {
                if (verbose) {
                    const std::string label = package_label(r);
                    installer_.warning("can not enable %s: %s conflicts with it", p.name.c_str(),
                                       label.c_str());
                }
                p.action = kActionNone;
                return;
            }
        }
    }
}

void Resolver::drop_unsatisfied() {
    // A work list instead of restarting the scan after each change. The outcome is the same:
    // actions only ever move towards "less active", and each rule fires on a state that only
    // gets more likely as others move, so every order of firing reaches one fixed point.
    const std::size_t n = installer_.packages.size();
    std::vector<std::vector<Positions>> met(n);
    std::vector<Positions> dependents(n);
    for (std::size_t i = 0; i < n; ++i) {
        for (const Dependency& d : at(i).depends) {
            met[i].push_back(satisfier_positions(d));
            for (std::size_t q : met[i].back()) dependents[q].push_back(i);
        }
    }
    auto summary = [&](const Positions& found) {
        return summarize(found, [&](std::size_t q) -> const InstalledPackage& { return at(q); });
    };

    std::vector<std::size_t> queue(n);
    std::vector<char> queued(n, 1);
    for (std::size_t i = 0; i < n; ++i) queue[i] = i;
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const std::size_t i = queue[head];
        queued[i] = 0;
        InstalledPackage& p = at(i);
        if (!may_change(p)) continue;
        bool changed = false;
        for (bool again = true; again;) {
            again = false;
            for (const Positions& found : met[i]) {
                const SatisfierSummary s = summary(found);
                if (s == SatisfierSummary::NoneLeft && p.action != kActionUninstall) {
                    p.action = kActionUninstall;
                } else if (s == SatisfierSummary::OnlyInactive && p.action != kActionUninstall &&
                           p.action != kActionDisable && (!p.disabled || p.action != kActionNone)) {
                    p.action = kActionDisable;
                } else {
                    continue;
                }
                changed = again = true;
                break;
            }
        }
        if (!changed) continue;
        for (std::size_t k : dependents[i]) {
            if (queued[k]) continue;
            queued[k] = 1;
            queue.push_back(k);
        }
    }
}

void Resolver::settle_bundles() {
    for (const auto& owned : installer_.packages) {
        InstalledPackage& b = *owned;
        if (!b.isBundle || b.action == kActionUninstall || !may_change(b)) continue;
        bool someInactive = false;
        bool someActive = false;
        for (std::size_t i : lookup(byBundle_, b.name)) {
            const InstalledPackage& q = at(i);
            if (q.is_placeholder()) continue;
            const SatisfierSummary state = satisfier_state(q);
            if (state == SatisfierSummary::SomeActive) {
                someActive = true;
                break;
            }
            if (state == SatisfierSummary::OnlyInactive) someInactive = true;
        }
        if (someActive) continue;
        if (!someInactive || !b.disabled)
            b.action = kActionUninstall;
        else if (b.action == kActionEnable)
            b.action = kActionNone;
    }
}

bool Resolver::any_active() const {
    for (const auto& p : installer_.packages)
        if (may_change(*p) && is_active_after_run(*p)) return true;
    return false;
}

bool resolve_actions(Installer& installer, std::vector<InstalledPackage*>& removals,
                     std::vector<InstalledPackage*>& enables, Verbosity verbosity) {
    const bool verbose = verbosity != Verbosity::Silent;
    Resolver resolver(installer);
    resolver.propagate_bundle_actions();
    for (const auto& p : installer.packages)
        if (is_active_after_run(*p)) resolver.keep_requirements(*p, verbose);
    for (const auto& p : installer.packages)
        if (is_active_after_run(*p)) resolver.resolve_enable_conflicts(*p, verbose);
    resolver.drop_unsatisfied();
    resolver.settle_bundles();

    const bool anyNamed = std::any_of(installer.packages.begin(), installer.packages.end(),
                                      [](const auto& p) { return may_change(*p); });
    if (anyNamed && !resolver.any_active()) {
        for (const auto& p : installer.packages) p->action = kActionNone;
        if (verbose) installer.error("can not uninstall or disable all packages");
        return false;
    }

    std::vector<InstalledPackage*> removeList;
    std::vector<InstalledPackage*> enableList;
    for (const auto& p : installer.packages) {
        if (p->action == kActionUninstall || p->action == kActionDisable)
            removeList.push_back(p.get());
        if (p->action == kActionEnable) enableList.push_back(p.get());
    }
    // Of two related packages only the winner is enabled now; needed packages come first.
    select_and_order(installer, enableList, kNoDowngradeFloor, Verbosity::Silent);
    removals.insert(removals.end(), removeList.begin(), removeList.end());
    enables.insert(enables.end(), enableList.begin(), enableList.end());
    return true;
}
