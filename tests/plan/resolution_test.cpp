// Dependency resolution scenarios: requested actions in, settled actions, lists and messages out;
// and the indexed resolver against the plain scans on random package sets.

#include "plan/resolution.h"

#include "plan/plain_resolution.h"
#include "plan/relations.h"
#include "support/scenario.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class ResolutionTest : public ::testing::Test {
protected:
    bool resolve(bool verbose = true) {
        removals.clear();
        enables.clear();
        return resolve_actions(s.installer, removals, enables, verbose);
    }
    std::string removed() const { return Scenario::names(removals); }
    std::string enabled() const { return Scenario::names(enables); }

    Scenario s;
    std::vector<InstalledPackage*> removals;
    std::vector<InstalledPackage*> enables;
};

TEST_F(ResolutionTest, UninstallOfANeededPackageIsCancelled) {
    s.installed("system").action(kActionUninstall);
    s.installed("dude", ver(6, 41)).needs("system");
    EXPECT_TRUE(resolve());
    EXPECT_EQ(s.actions(), "system=- dude=-");
    EXPECT_EQ(removed(), "");
    EXPECT_THAT(s.messages(),
                ElementsAre("WARNING: can not uninstall system-6.40: dude depends on it"));
}

TEST_F(ResolutionTest, DisablingTheOnlyProviderIsCancelledQuietlyWhenNotVerbose) {
    s.installed("chrony").provides("ntp").action(kActionDisable);
    s.installed("dude").needs("ntp");
    EXPECT_TRUE(resolve());
    EXPECT_THAT(s.messages(),
                ElementsAre("WARNING: can not disable chrony-6.40: dude depends on it"));
    s.installer.messages.clear();
    s.get("chrony").action = kActionDisable;
    EXPECT_TRUE(resolve(false));
    EXPECT_EQ(s.actions(), "chrony=- dude=-");
    EXPECT_THAT(s.messages(), IsEmpty());
}

TEST_F(ResolutionTest, RequirementsAreKeptAlongTheWholeChain) {
    // a -> b -> c -> d; b and d disabled, c scheduled for removal, a asked to be enabled.
    s.installed("a").needs("b").disabled().action(kActionEnable);
    s.installed("b").needs("c").disabled();
    s.installed("c").needs("d").action(kActionUninstall);
    s.installed("d").disabled();
    s.installed("system");
    EXPECT_TRUE(resolve());
    EXPECT_EQ(s.actions(), "a=enable(disabled) b=enable(disabled) c=- d=enable(disabled) system=-");
    EXPECT_THAT(s.messages(), ElementsAre("WARNING: can not uninstall c-6.40: b depends on it"));
    // Needed packages come first in the enable list.
    EXPECT_EQ(enabled(), "d b a");
}

TEST_F(ResolutionTest, EqualSatisfiersThatDropEachOtherAreSkipped) {
    // Neither copy of the same build can be chosen; the dependent is disabled later instead.
    s.installed("ntp").disabled();
    s.installed("ntp").disabled();
    s.installed("dude").needs("ntp");
    s.installed("system");
    EXPECT_TRUE(resolve());
    EXPECT_EQ(s.actions(), "ntp=-(disabled) ntp=-(disabled) dude=disable system=-");
}

TEST_F(ResolutionTest, BundleLinkedToItselfDoesNotRecurseForever) {
    s.installed("b").bundle().member_of("b").disabled().action(kActionEnable);
    s.installed("system");
    EXPECT_TRUE(resolve());
    EXPECT_EQ(s.actions(), "b=enable(disabled) system=-");
}

TEST_F(ResolutionTest, KeepingAMemberKeepsItsBundle) {
    s.installed("ppp").member_of("routeros").disabled().action(kActionEnable);
    s.installed("routeros").bundle().disabled();
    s.installed("system");
    EXPECT_TRUE(resolve());
    EXPECT_EQ(s.actions(), "ppp=enable(disabled) routeros=enable(disabled) system=-");
}

TEST_F(ResolutionTest, TheNewestOfSeveralInactiveSatisfiersIsEnabled) {
    s.installed("ntp", ver(6, 41)).disabled();
    s.installed("ntp", ver(6, 40)).disabled();
    s.installed("dude").needs("ntp").disabled().action(kActionEnable);
    EXPECT_TRUE(resolve());
    EXPECT_EQ(s.actions(), "ntp=enable(disabled) ntp=-(disabled) dude=enable(disabled)");
    EXPECT_EQ(s.installer.packages[0]->version, ver(6, 41));
}

TEST_F(ResolutionTest, RefusesToLeaveNothingActive) {
    s.installed("system").action(kActionUninstall);
    s.installed("dude").needs("system").disabled();
    s.installed("ppp").action(kActionDisable);
    InstalledPackage sentinel("sentinel");
    removals.push_back(&sentinel);
    EXPECT_FALSE(resolve_actions(s.installer, removals, enables, true));
    EXPECT_EQ(s.actions(), "system=- dude=-(disabled) ppp=-");
    EXPECT_EQ(removed(), "sentinel");
    EXPECT_THAT(s.messages(), ElementsAre("ERROR: can not uninstall or disable all packages"));
}

TEST_F(ResolutionTest, EmptyDatabaseIsNotRefused) {
    EXPECT_TRUE(resolve());
    EXPECT_EQ(removed() + enabled(), "");
    EXPECT_THAT(s.messages(), IsEmpty());
}

TEST_F(ResolutionTest, DisabledPackageLosingItsRequirementIsUninstalled) {
    s.installed("ppp").action(kActionUninstall);
    s.installed("dude").needs("ppp").disabled();
    s.installed("system");
    EXPECT_TRUE(resolve());
    EXPECT_EQ(s.actions(), "ppp=uninstall dude=uninstall(disabled) system=-");
    EXPECT_EQ(removed(), "ppp dude");
}

TEST_F(ResolutionTest, UninstallingADisabledPackageTakesItsDisabledDependentsAlong) {
    // Counting the disabled package as merely inactive would leave b and c behind, needing a
    // package that the commit removes.
    s.installed("c").needs("b").disabled();
    s.installed("b").needs("a").disabled();
    s.installed("a").disabled().action(kActionUninstall);
    s.installed("system");
    EXPECT_TRUE(resolve());
    EXPECT_EQ(removed(), "c b a");
}

TEST_F(ResolutionTest, DisabledPackageNeedingADisabledOneIsLeftAlone) {
    s.installed("ppp").disabled();
    s.installed("dude").needs("ppp").disabled();
    s.installed("system");
    EXPECT_TRUE(resolve());
    EXPECT_EQ(s.actions(), "ppp=-(disabled) dude=-(disabled) system=-");
}

TEST_F(ResolutionTest, DropUnsatisfiedReachesItsFixedPoint) {
    // Listed so that each change only shows on a later scan: dependents come first.
    s.installed("tool2").needs("tool");
    s.installed("tool").needs("ntp");
    s.installed("gone2").needs("gone1");
    s.installed("gone1").needs("missing");
    s.installed("ntp");
    s.installed("chrony").conflicts("ntp").disabled().action(kActionEnable);
    s.installed("system");
    EXPECT_TRUE(resolve());
    EXPECT_EQ(s.actions(),
              "tool2=disable tool=disable gone2=uninstall gone1=uninstall ntp=disable "
              "chrony=enable(disabled) system=-");
    EXPECT_EQ(removed(), "tool2 tool gone2 gone1 ntp");
    EXPECT_EQ(enabled(), "chrony");
    EXPECT_THAT(s.messages(), IsEmpty());
}

TEST_F(ResolutionTest, BundleActionsReachTheirMembers) {
    struct Case {
        std::uint32_t bundle;
        bool memberDisabled;
        std::uint32_t member;
        const char* after;
    };
    const Case cases[] = {
        {kActionUninstall, false, kActionDisable, "m=uninstall"},
        {kActionDisable, false, kActionNone, "m=disable"},
        {kActionDisable, true, kActionUninstall, "m=uninstall(disabled)"},
        {kActionEnable, true, kActionNone, "m=enable(disabled)"},
        {kActionEnable, false, kActionNone, "m=-"},
        {kActionNone, false, kActionDisable, "m=disable"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.after);
        s.installer.packages.clear();
        RecordBuilder m = s.installed("m").member_of("b").action(c.member);
        if (c.memberDisabled) m.disabled();
        s.installed("b").bundle().action(c.bundle);
        s.installed("system");
        Resolver r(s.installer);
        r.propagate_bundle_actions();
        EXPECT_EQ(s.actions().substr(0, s.actions().find(' ')), c.after);
    }
}

TEST_F(ResolutionTest, BundleRecordFollowsWhatItsMembersDo) {
    struct Case {
        bool bundleDisabled;
        std::uint32_t bundleAction;
        bool memberDisabled;
        std::uint32_t member;
        std::uint32_t after;
    };
    const Case cases[] = {
        {false, kActionNone, false, kActionNone, kActionNone},    // a member stays active
        {false, kActionNone, false, kActionEnable, kActionNone},  // enabled and enabled again
        {false, kActionNone, true, kActionEnable, kActionNone},   // a member becomes active
        {false, kActionNone, false, kActionDisable, kActionUninstall},
        {false, kActionNone, false, kActionUninstall, kActionUninstall},
        {true, kActionNone, true, kActionNone, kActionNone},  // disabled with its members
        {true, kActionEnable, true, kActionDisable, kActionNone},
        {true, kActionNone, true, kActionUninstall, kActionUninstall},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.bundleDisabled << c.bundleAction << c.memberDisabled << c.member);
        s.installer.packages.clear();
        RecordBuilder m = s.installed("m").member_of("b").action(c.member);
        if (c.memberDisabled) m.disabled();
        RecordBuilder b = s.installed("b").bundle().action(c.bundleAction);
        if (c.bundleDisabled) b.disabled();
        s.installed("other").member_of("b2").placeholder();
        Resolver r(s.installer);
        r.settle_bundles();
        EXPECT_EQ(s.get("b").action, c.after);
    }
}

TEST_F(ResolutionTest, DisablingABundleDisablesMembersAndDropsTheRecord) {
    s.installed("routeros").bundle().action(kActionDisable);
    s.installed("ppp").member_of("routeros");
    s.installed("dhcp").member_of("routeros").action(kActionUninstall);
    s.installed("system");
    EXPECT_TRUE(resolve());
    EXPECT_EQ(s.actions(), "routeros=uninstall ppp=disable dhcp=uninstall system=-");
    EXPECT_EQ(removed(), "routeros ppp dhcp");
}

TEST_F(ResolutionTest, ProvidedNameWithPriorityDecidesWhichSideConflicts) {
    // Priority 0: the provider pushes the named package aside; negative: the other way round.
    struct Case {
        std::int32_t priority;
        bool providerFirst;
        const char* after;
    };
    const Case cases[] = {
        {0, true, "wireless=- wifi=disable"},
        {0, false, "wifi=disable wireless=-"},
        {-1, true, "wireless=disable wifi=-"},
        {-1, false, "wifi=- wireless=disable"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.after);
        s.installer.packages.clear();
        if (!c.providerFirst) s.installed("wifi");
        s.installed("wireless").provides("wifi", c.priority);
        if (c.providerFirst) s.installed("wifi");
        EXPECT_TRUE(resolve());
        EXPECT_EQ(s.actions(), c.after);
    }
}

TEST_F(ResolutionTest, HigherProvidePriorityWinsInEitherOrder) {
    for (bool highFirst : {true, false}) {
        SCOPED_TRACE(highFirst);
        s.installer.packages.clear();
        if (highFirst) s.installed("wireless").provides("wifi", 5);
        s.installed("wifi-lite").provides("wifi", 3);
        if (!highFirst) s.installed("wireless").provides("wifi", 5);
        EXPECT_TRUE(resolve());
        EXPECT_EQ(s.get("wifi-lite").action, kActionDisable);
        EXPECT_EQ(s.get("wireless").action, kActionNone);
    }
}

TEST_F(ResolutionTest, OfTwoConflictingEnablesTheFirstGivesWay) {
    s.installed("a").conflicts("b").disabled().action(kActionEnable);
    s.installed("b").disabled().action(kActionEnable);
    s.installed("c").conflicts("a");
    s.installed("system");
    EXPECT_TRUE(resolve());
    // a pushes its own conflicts aside; b is refused because a conflicts with it.
    EXPECT_EQ(s.actions(), "a=enable(disabled) b=-(disabled) c=disable system=-");
    EXPECT_THAT(s.messages(), ElementsAre("WARNING: can not enable b: a-6.40 conflicts with it"));
    EXPECT_EQ(removed(), "c");
    EXPECT_EQ(enabled(), "a");
}

TEST_F(ResolutionTest, EnablingAnEnabledPackageKeepsItsDependents) {
    s.installed("ppp").action(kActionEnable);
    s.installed("dude").needs("ppp");
    s.installed("pppoe").needs("ppp").disabled();
    EXPECT_TRUE(resolve());
    EXPECT_EQ(s.actions(), "ppp=enable dude=- pppoe=-(disabled)");
    EXPECT_EQ(removed(), "");
    EXPECT_EQ(enabled(), "ppp");
}

TEST_F(ResolutionTest, EnablingTheOnlyEnabledMemberKeepsTheBundleRecord) {
    s.installed("routeros").bundle();
    s.installed("ppp").member_of("routeros").action(kActionEnable);
    EXPECT_TRUE(resolve());
    EXPECT_EQ(s.actions(), "routeros=- ppp=enable");
}

TEST_F(ResolutionTest, BlockersNeverTakeAnAction) {
    s.blocker("wifi");
    s.installed("wifi").disabled().action(kActionEnable);
    EXPECT_TRUE(resolve());
    EXPECT_EQ(s.actions(), "=- wifi=enable(disabled)");
    EXPECT_EQ(removed(), "");
}

TEST_F(ResolutionTest, BlockersDoNotCountAsActivePackages) {
    s.blocker("wifi");
    s.installed("system").action(kActionUninstall);
    EXPECT_FALSE(resolve());
    EXPECT_THAT(s.messages(), ElementsAre("ERROR: can not uninstall or disable all packages"));
}

TEST_F(ResolutionTest, SummaryTellsActiveInactiveAndGone) {
    InstalledPackage enabledStaying("a"), enabledEnabling("b"), disabledEnabling("c"),
        disabling("d"), disabledStaying("e"), leaving("f"), disabledLeaving("g");
    enabledEnabling.action = kActionEnable;
    disabledEnabling.disabled = true;
    disabledEnabling.action = kActionEnable;
    disabling.action = kActionDisable;
    disabledStaying.disabled = true;
    leaving.action = kActionUninstall;
    disabledLeaving.disabled = true;
    disabledLeaving.action = kActionUninstall;
    EXPECT_EQ(summarize_satisfiers({}), kNoneLeft);
    EXPECT_EQ(summarize_satisfiers({&leaving}), kNoneLeft);
    EXPECT_EQ(summarize_satisfiers({&leaving, &disabling}), kOnlyInactive);
    EXPECT_EQ(summarize_satisfiers({&disabledStaying}), kOnlyInactive);
    EXPECT_EQ(summarize_satisfiers({&disabledLeaving}), kNoneLeft);
    EXPECT_EQ(summarize_satisfiers({&disabling, &enabledStaying}), kSomeActive);
    EXPECT_EQ(summarize_satisfiers({&leaving, &enabledEnabling}), kSomeActive);
    EXPECT_EQ(summarize_satisfiers({&disabledEnabling}), kSomeActive);
}

// Random package sets with few names, so that relations, duplicates and bundles are common.
void build_random(Scenario& s, std::uint32_t seed) {
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    const char* const names[] = {"system", "ppp", "ntp", "wifi", "dude", "dhcp", "b1", "b2"};
    const Version versions[] = {ver(6, 39), ver(6, 40), ver(6, 41)};
    const int count = 1 + pick(12);
    for (int i = 0; i < count; ++i) {
        if (pick(15) == 0) {
            s.blocker(names[pick(8)]);
            continue;
        }
        const std::string name = names[pick(8)];
        RecordBuilder p = s.installed(name, versions[pick(3)]).built(std::uint32_t(pick(2)));
        if (name[0] == 'b') p.bundle();
        for (int k = pick(3); k > 0; --k)
            p.needs(names[pick(6)], pick(3) == 0 ? versions[pick(3)] : 0,
                    pick(4) == 0 ? versions[pick(3)] : 0);
        for (int k = pick(3) == 0 ? 1 + pick(2) : 0; k > 0; --k)
            p.provides(names[pick(6)], pick(4) - 1, 0, pick(4) == 0 ? versions[pick(3)] : 0);
        if (pick(4) == 0) p.conflicts(names[pick(6)], pick(3) == 0 ? versions[pick(3)] : 0);
        if (pick(3) == 0) p.member_of(names[6 + pick(2)]);
        if (pick(3) == 0) p.disabled();
        if (pick(10) == 0) p.placeholder();
        p.action(pick(2) == 0 ? std::uint32_t(pick(4)) : kActionNone);
    }
}

struct Outcome {
    bool result = false;
    std::string actions, removals, enables;
    std::vector<std::string> messages;
};

template <class Resolve>
Outcome run_random(Scenario& s, std::uint32_t seed, Resolve resolve) {
    s.installer.packages.clear();
    s.installer.messages.clear();
    build_random(s, seed);
    std::vector<InstalledPackage*> removals, enables;
    Outcome o;
    o.result = resolve(s.installer, removals, enables, true);
    o.actions = s.actions();
    // Positions, not names: records may share a name.
    auto positions = [&](const std::vector<InstalledPackage*>& list) {
        std::string out;
        for (const InstalledPackage* p : list)
            for (std::size_t i = 0; i < s.installer.packages.size(); ++i)
                if (s.installer.packages[i].get() == p) out += std::to_string(i) + " ";
        return out;
    };
    o.removals = positions(removals);
    o.enables = positions(enables);
    o.messages = s.installer.messages;
    return o;
}

TEST_F(ResolutionTest, IndexedResolverMatchesThePlainScans) {
    int refused = 0, changed = 0;
    for (std::uint32_t seed = 1; seed <= 600; ++seed) {
        SCOPED_TRACE(seed);
        const Outcome plain = run_random(s, seed, plain_resolve_actions);
        const Outcome indexed = run_random(s, seed, resolve_actions);
        EXPECT_EQ(plain.result, indexed.result);
        EXPECT_EQ(plain.actions, indexed.actions);
        EXPECT_EQ(plain.removals, indexed.removals);
        EXPECT_EQ(plain.enables, indexed.enables);
        EXPECT_EQ(plain.messages, indexed.messages);
        refused += !plain.result;
        changed += !plain.removals.empty() || !plain.enables.empty();
    }
    // The sets must exercise both the guard and real work, or the comparison proves little.
    EXPECT_GT(refused, 10);
    EXPECT_GT(changed, 200);
}

}  // namespace
