// Admission verdicts and their one message, candidate selection and order, and the lookups.

#include "plan/admission.h"

#include "support/scenario.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr std::uint32_t kRunFlags = kAdmitUpgrade;
constexpr std::uint32_t kAll =
    kAdmitUpgrade | kAdmitDowngrade | kAdmitRequirements | kAdmitConflict | kAdmitSame;

class AdmissionTest : public ::testing::Test {
protected:
    std::uint32_t admit(const RecordBuilder& c, std::uint32_t flags = kRunFlags,
                        bool replaces = true) {
        return check_admission(s.installer, c.record, flags, replaces);
    }
    Scenario s;
};

TEST_F(AdmissionTest, SameBuildIsRefusedWithAWarningUnlessReinstalling) {
    s.installed("dude", ver(6, 40)).built(7);
    EXPECT_EQ(admit(s.candidate("dude", ver(6, 40)).built(7)), kAdmitSame);
    EXPECT_THAT(s.messages(),
                ElementsAre("WARNING: omitting package dude-6.40: it is already installed"));
    s.installer.messages.clear();
    EXPECT_EQ(admit(s.candidate("dude", ver(6, 40)).built(7), kRunFlags | kAdmitSame), kAdmitSame);
    EXPECT_THAT(s.messages(), IsEmpty());
}

TEST_F(AdmissionTest, OlderCandidateNamesBothPackagesUnlessDowngradeIsAllowed) {
    s.installed("dude", ver(6, 40, 'f', 1));
    EXPECT_EQ(admit(s.candidate("dude", ver(6, 40))), kAdmitDowngrade);
    EXPECT_THAT(s.messages(), ElementsAre("WARNING: omitting package dude-6.40: newer package "
                                          "dude-6.40.1 is already installed"));
    s.installer.messages.clear();
    EXPECT_EQ(admit(s.candidate("dude", ver(6, 40)), kRunFlags | kAdmitDowngrade), kAdmitDowngrade);
    EXPECT_THAT(s.messages(), IsEmpty());
}

TEST_F(AdmissionTest, NewerCandidateWithoutUpgradeIsExplainedOnlyInDowngradeMode) {
    s.installed("dude", ver(6, 39)).needs("gone");
    EXPECT_EQ(admit(s.candidate("dude", ver(6, 40)), kAdmitUpgrade), kAdmitUpgrade);
    EXPECT_EQ(admit(s.candidate("dude", ver(6, 40)).needs("gone"), kAdmitDowngrade),
              kAdmitUpgrade | kAdmitRequirements);
    // The first verdict was reported silently, so the missing requirement stays unprinted too.
    EXPECT_THAT(s.messages(), ElementsAre("WARNING: omitting package dude-6.40: older package is "
                                          "already installed"));
}

TEST_F(AdmissionTest, BrandingReplacesWhateverVersionIsInstalled) {
    s.installed("branding", ver(6, 40));
    EXPECT_EQ(admit(s.candidate("branding", ver(6, 39))), 0u);
    EXPECT_THAT(s.messages(), IsEmpty());
}

TEST_F(AdmissionTest, SystemBelowTheBoardMinimumReportsOnlyTheFirstReason) {
    s.flash.minVersion = ver(6, 41, 'b', 3);
    const auto verdict = admit(s.candidate("system", ver(6, 40)).arch("x86").needs("absent"));
    EXPECT_EQ(verdict, kAdmitRequirements);
    EXPECT_THAT(s.messages(), ElementsAre("ERROR: omitting package system-6.40: min Tarnvel "
                                          "version is 6.41beta3"));
}

TEST_F(AdmissionTest, BoardChecksApplyOnlyToMainSystemPackages) {
    s.flash.minVersion = ver(6, 41);
    EXPECT_EQ(admit(s.candidate("dude", ver(6, 40))), 0u);
    EXPECT_EQ(admit(s.candidate("tarnvel-ppc", ver(6, 40))), kAdmitRequirements);
    s.flash.minVersion = 0;  // no flash device: no minimum
    EXPECT_EQ(admit(s.candidate("system", ver(6, 40))), 0u);
}

TEST_F(AdmissionTest, OldSystemIsRefusedOnTheNewFileSystemOnly) {
    s.flash.bigBlocks = true;
    EXPECT_EQ(admit(s.candidate("system", ver(3, 20, 'c', 1))), kAdmitRequirements);
    EXPECT_THAT(s.messages(), ElementsAre("WARNING: omitting package system-3.20rc1: it does not "
                                          "support current file system"));
    EXPECT_EQ(admit(s.candidate("system", ver(3, 20, 'c', 2))), 0u);
    s.flash.bigBlocks = false;
    EXPECT_EQ(admit(s.candidate("system", ver(3, 20, 'c', 1))), 0u);
}

TEST_F(AdmissionTest, ForeignArchitectureIsAnError) {
    EXPECT_EQ(admit(s.candidate("dude").arch("mipsbe")), kAdmitRequirements);
    EXPECT_EQ(admit(s.candidate("dude").arch("")), 0u);
    EXPECT_THAT(s.messages(), ElementsAre("ERROR: can not install dude-6.40: it is not made for "
                                          "powerpc, but for mipsbe"));
}

TEST_F(AdmissionTest, OnlyTheFirstMissingRequirementIsNamed) {
    s.installed("ppp").disabled();
    EXPECT_EQ(admit(s.candidate("dude").needs("ppp", ver(6, 40)).needs("ntp")), kAdmitRequirements);
    EXPECT_THAT(s.messages(), ElementsAre("ERROR: can not install dude-6.40: ppp-6.40 is not "
                                          "installed, but is required"));
}

TEST_F(AdmissionTest, AllowedRequirementsAndConflictsSetTheirBitsSilently) {
    s.installed("old").conflicts("dude");
    EXPECT_EQ(admit(s.candidate("dude").needs("ntp"), kAll), kAdmitRequirements | kAdmitConflict);
    EXPECT_THAT(s.messages(), IsEmpty());
}

TEST_F(AdmissionTest, ConflictCountsOnlyEnabledPackagesWithTheInstalledOneFirst) {
    s.installed("wifi-a").conflicts("dude");
    EXPECT_EQ(admit(s.candidate("dude")), kAdmitConflict);
    EXPECT_THAT(s.messages(), ElementsAre("ERROR: can not install dude-6.40: it conflicts with "
                                          "wifi-a-6.40"));
    s.get("wifi-a").disabled = true;
    EXPECT_EQ(admit(s.candidate("dude")), 0u);
}

TEST_F(AdmissionTest, ProvidingTheOtherNameConflictsOnlyFromTheInstalledSide) {
    s.installed("wireless").provides("wifi");
    EXPECT_EQ(admit(s.candidate("wifi")), kAdmitConflict);
    s.installer.packages.clear();
    s.installed("wifi");
    EXPECT_EQ(admit(s.candidate("wireless").provides("wifi")), 0u);
}

TEST_F(AdmissionTest, ReplacedOwnVersionNeitherMeetsRequirementsNorConflicts) {
    // Only the installed old version provides "wifi"; the new one still needs it.
    s.installed("wireless", ver(6, 40)).provides("wifi", 5);
    EXPECT_EQ(admit(s.candidate("wireless", ver(6, 41)).needs("wifi")),
              kAdmitUpgrade | kAdmitRequirements);
    // The old version's higher priority would make it conflict with its successor.
    EXPECT_EQ(admit(s.candidate("wireless", ver(6, 41)).provides("wifi", 3)), kAdmitUpgrade);
    EXPECT_THAT(s.messages(), ElementsAre("ERROR: can not install wireless-6.41: wifi is not "
                                          "installed, but is required"));
    // Alternate magic installs beside the old version, which then still counts.
    s.installer.messages.clear();
    EXPECT_EQ(admit(s.candidate("wireless", ver(6, 41)).needs("wifi"), kRunFlags, false),
              kAdmitUpgrade);
    EXPECT_EQ(admit(s.candidate("wireless", ver(6, 41)).provides("wifi", 3), kRunFlags, false),
              kAdmitUpgrade | kAdmitConflict);
}

TEST_F(AdmissionTest, LookupsFollowListOrder) {
    s.installed("ntp", ver(6, 39)).disabled();
    s.installed("chrony").provides("ntp").disabled();
    s.installed("ntp", ver(6, 40));
    s.installed("ghost").provides("ntp").placeholder();
    EXPECT_EQ(find_package(s.installer, "ntp")->version, ver(6, 39));
    EXPECT_EQ(find_package(s.installer, "none"), nullptr);
    EXPECT_EQ(Scenario::names(collect_satisfiers(s.installer, {"ntp", 0, 0, 0}, true)),
              "ntp chrony ntp");
    EXPECT_EQ(Scenario::names(collect_satisfiers(s.installer, {"ntp", ver(6, 40), 0, 0}, false)),
              "ntp");
    EXPECT_EQ(find_by_name_or_provides(s.installer, "ntp"), s.installer.packages[2].get());
    s.installer.packages[2]->disabled = true;
    // Every match disabled: the last one (the placeholder also provides the name).
    EXPECT_EQ(find_by_name_or_provides(s.installer, "ntp"), s.installer.packages[3].get());
    EXPECT_EQ(find_by_name_or_provides(s.installer, "sntp"), nullptr);
}

class SelectAndOrderTest : public ::testing::Test {
protected:
    std::string select(Version floor = kNoDowngradeFloor, bool verbose = true) {
        select_and_order(s.installer, s.candidates, floor, verbose);
        return Scenario::names(s.candidates);
    }
    Scenario s;
};

TEST_F(SelectAndOrderTest, NewestBuildWinsAndTheLoserIsNamed) {
    s.candidate("dude", ver(6, 40)).built(1);
    s.candidate("dude", ver(6, 40)).built(2);
    EXPECT_EQ(select(), "dude");
    EXPECT_EQ(s.candidates[0]->buildTime, 2u);
    EXPECT_THAT(s.messages(), ElementsAre("WARNING: omitting package dude-6.40: newer package is "
                                          "already provided"));
}

TEST_F(SelectAndOrderTest, DowngradeKeepsTheOldestAndRefusesThoseBelowTheFloor) {
    s.candidate("dude", ver(6, 40));
    s.candidate("dude", ver(6, 39));
    s.candidate("ntp", ver(6, 37));
    EXPECT_EQ(select(ver(6, 38), false), "dude");
    EXPECT_EQ(s.candidates[0]->version, ver(6, 39));
    // The floor refusal is printed even when quiet; the loser is not.
    EXPECT_THAT(s.messages(), ElementsAre("WARNING: ommitting package ntp-6.37: not allowed"));
    s.installer.messages.clear();
    s.candidate("ntp", ver(6, 39));
    s.candidate("ntp", ver(6, 40));
    select(ver(6, 38), true);
    EXPECT_THAT(s.messages(), ElementsAre("WARNING: omitting package ntp-6.40: older package is "
                                          "already provided"));
}

TEST_F(SelectAndOrderTest, EqualBuildsDropEachOtherButABundleBeatsItsMember) {
    s.candidate("dude");
    s.candidate("dude");
    EXPECT_EQ(select(), "");
    s.candidate("ppp");
    s.candidate("routeros").member("ppp", ver(6, 40));
    EXPECT_EQ(select(), "routeros");
    EXPECT_THAT(s.messages(), IsEmpty());
}

TEST_F(SelectAndOrderTest, EachPackageFollowsWhatItNeedsAndWhatConflictsWithIt) {
    s.candidate("a");
    s.candidate("b");
    s.candidate("dude").needs("system");
    s.candidate("system");
    s.candidate("old").conflicts("c");
    s.candidate("c");
    // Unrelated ones reverse; "dude" placed before "system" is not moved behind it.
    EXPECT_EQ(select(), "old c system dude b a");
    s.candidates.clear();
    s.candidate("system");
    s.candidate("a");
    s.candidate("dude").needs("system");
    EXPECT_EQ(select(), "a system dude");
}

}  // namespace
