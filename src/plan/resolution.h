#pragma once
// Dependency resolution: makes the scheduled actions of the installed set consistent (bundles,
// requirements, conflicts, unsatisfied packages, empty bundles) and lists what to remove and
// what to enable. Only `action` fields change; records with an empty name never change.

#include "core/installer.h"
#include "core/package.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class Installer;

// The whole pass over installer.packages. Appends, in list order, the records with action 1 or 3
// to `removals` and the chosen records with action 2 (needed ones first) to `enables`. False,
// with every action back to 0 and the lists untouched, when nothing would stay active.
[[nodiscard]] bool resolve_actions(Installer& installer, std::vector<InstalledPackage*>& removals,
                                   std::vector<InstalledPackage*>& enables,
                                   Verbosity verbosity);

// What the satisfiers of one requirement amount to after the run.
enum class SatisfierSummary {
    SomeActive = 0,    // some satisfier stays or becomes active
    NoneLeft = 1,      // no satisfier, or every one is on its way out
    OnlyInactive = 3,  // only disabled or disabling satisfiers remain
};

SatisfierSummary summarize_satisfiers(const std::vector<InstalledPackage*>& satisfiers);
// Active after the run: action 2, or action 0 and not disabled.
bool is_active_after_run(const InstalledPackage& p);

// The steps of the pass. The resolver indexes `packages` by name, provided name, conflict name
// and bundle name once; the list itself must not change while it lives (actions may).
class Resolver {
public:
    explicit Resolver(Installer& installer);
    Resolver(const Resolver&) = delete;
    Resolver& operator=(const Resolver&) = delete;

    void propagate_bundle_actions();
    // Makes what `p` needs stay or become active (and what that needs, in turn).
    void keep_requirements(InstalledPackage& p, bool verbose);
    // `needed` is needed by `needing`: cancel its removal, or enable it when disabled.
    void require_active(InstalledPackage& needed, const InstalledPackage& needing, bool verbose);
    void resolve_enable_conflicts(InstalledPackage& p, bool verbose);
    // Uninstalls or disables packages whose requirements are gone or inactive, to a fixed point.
    void drop_unsatisfied();
    void settle_bundles();
    // Some named record is active after the run.
    bool any_active() const;

    // Same result as collect_satisfiers(d, includeDisabled true), from the index.
    std::vector<InstalledPackage*> satisfiers(const Dependency& d) const;

private:
    using Positions = std::vector<std::size_t>;

    // Changes the action of `needed` for one require_active step; true when its own needs must
    // now be kept as well.
    bool require_active_step(InstalledPackage& needed, const InstalledPackage& needing,
                             bool verbose);
    Positions satisfier_positions(const Dependency& d) const;
    // Every record that may conflict with `p` in either argument order, in list order.
    Positions conflict_candidates(const InstalledPackage& p) const;
    const Positions& lookup(const std::unordered_map<std::string, Positions>& index,
                            const std::string& name) const;
    InstalledPackage& at(std::size_t position) const;

    Installer& installer_;
    std::unordered_map<std::string, Positions> byName_;
    std::unordered_map<std::string, Positions> byProvided_;
    std::unordered_map<std::string, Positions> byConflict_;
    std::unordered_map<std::string, Positions> byBundle_;
    std::unordered_map<const InstalledPackage*, std::size_t> positionOf_;
    // keep_requirements' count of open frames per record, by position; all zero between calls.
    std::vector<std::uint32_t> openFrames_;
    // Records with members relate through them too; the indexes would miss that.
    bool anyMembers_ = false;
};
