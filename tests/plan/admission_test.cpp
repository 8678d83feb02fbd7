// Admission verdicts and their one message, and candidate selection.

#include "plan/admission.h"

#include "support/scenario.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t kRun = kAdmitUpgrade;
constexpr std::uint32_t kAll =
    kAdmitUpgrade | kAdmitDowngrade | kAdmitRequirements | kAdmitConflict | kAdmitSame;

std::uint32_t admit(Scenario& s, const RecordBuilder& c, std::uint32_t flags = kRun,
                    bool replaces = true) {
    return check_admission(s.installer, c.record, flags, replaces);
}

// Against the installed version (none when `old` is 0), the board's minimum version and its file
// system: what a run on a build host cannot show.
TEST(AdmissionTest, VerdictsGiveOneMessageAtMost) {
    struct Row { const char* name; Version old, cand; bool needs; std::uint32_t flags, verdict;
                 const char* message; Version minimum = 0; bool bigBlocks = false;
                 const char* arch = ""; };
    const Row rows[] = {
        {"mond", ver(6, 40, 'f', 1), ver(6, 40), false, kRun | kAdmitDowngrade, kAdmitDowngrade,
         ""},
        // Explained only in downgrade mode; the missing requirement then stays unprinted.
        {"mond", ver(6, 39), ver(6, 40), true, kAdmitDowngrade, kAdmitUpgrade | kAdmitRequirements,
         "WARNING: omitting package mond-6.40: older package is already installed\n"},
        {"branding", ver(6, 40), ver(6, 39), false, kRun, 0, ""},  // replaces any version
        // Only the first reason is reported, not the foreign architecture.
        {"system", 0, ver(6, 40), false, kRun, kAdmitRequirements,
         "ERROR: omitting package system-6.40: min Tarnvel version is 6.41beta3\n",
         ver(6, 41, 'b', 3), false, "x86"},
        {"mond", 0, ver(6, 40), false, kRun, 0, "", ver(6, 41)},  // only main system packages
        {"tarnvel-ppc", 0, ver(6, 40), false, kRun, kAdmitRequirements, nullptr, ver(6, 41)},
        {"system", 0, ver(3, 20, 'c', 1), false, kRun, kAdmitRequirements,
         "WARNING: omitting package system-3.20rc1: it does not support current file system\n", 0,
         true},
        {"system", 0, ver(3, 20, 'c', 2), false, kRun, 0, "", 0, true},
        {"system", 0, ver(3, 20, 'c', 1), false, kRun, 0, ""},
        {"system", ver(6, 40), ver(6, 40), false, kRun, kAdmitSame | kAdmitRequirements,
         "WARNING: omitting package system-6.40: it is already installed\n", ver(6, 41)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.name << " " << r.old << " " << r.cand);
        Scenario s;
        s.flash.minVersion = r.minimum;
        s.flash.bigBlocks = r.bigBlocks;
        if (r.old) s.installed(r.name, r.old).built(7);
        RecordBuilder c = s.candidate(r.name, r.cand).built(7).arch(r.arch);
        if (r.needs) c.needs("gone");
        EXPECT_EQ(admit(s, c, r.flags), r.verdict);
        EXPECT_EQ(r.message ? message_lines() : "", r.message ? r.message : "");
    }
}

TEST(AdmissionTest, RequirementsAndConflictsNameTheFirstProblemUnlessAllowed) {
    Scenario s;
    s.given("ppp~ wifi-a#mond");
    EXPECT_EQ(admit(s, s.candidate("mond").needs("ntp"), kAll),
              kAdmitRequirements | kAdmitConflict);
    EXPECT_EQ(message_lines(), "");
    EXPECT_EQ(admit(s, s.candidate("mond").needs("ppp", ver(6, 40)).needs("ntp")),
              kAdmitRequirements | kAdmitConflict);  // with one message
    EXPECT_EQ(admit(s, s.candidate("mond")), kAdmitConflict);
    s.get("wifi-a").disabled = true;  // only enabled packages conflict
    EXPECT_EQ(admit(s, s.candidate("mond")), 0u);
    EXPECT_EQ(message_lines(),
              "ERROR: can not install mond-6.40: ppp-6.40 is not installed, but is required\n"
              "ERROR: can not install mond-6.40: it conflicts with wifi-a-6.40\n");
    s.installer.packages.clear();  // providing the other name conflicts from the installed side
    s.given("wireless+wifi");
    EXPECT_EQ(admit(s, s.candidate("wifi")), kAdmitConflict);
    s.installer.packages.clear();
    s.given("wifi");
    EXPECT_EQ(admit(s, s.candidate("wireless").provides("wifi")), 0u);
}

TEST(AdmissionTest, ReplacedOwnVersionNeitherMeetsRequirementsNorConflicts) {
    Scenario s;
    s.given("wireless+wifi:5");
    EXPECT_EQ(admit(s, s.candidate("wireless", ver(6, 41)).needs("wifi")),
              kAdmitUpgrade | kAdmitRequirements);
    EXPECT_EQ(admit(s, s.candidate("wireless", ver(6, 41)).provides("wifi", 3)), kAdmitUpgrade);
    EXPECT_EQ(message_lines(),
              "ERROR: can not install wireless-6.41: wifi is not installed, but is required\n");
    // Alternate magic installs beside the old version, which then still counts.
    EXPECT_EQ(admit(s, s.candidate("wireless", ver(6, 41)).needs("wifi"), kRun, false),
              kAdmitUpgrade);
    EXPECT_EQ(admit(s, s.candidate("wireless", ver(6, 41)).provides("wifi", 3), kRun, false),
              kAdmitUpgrade | kAdmitConflict);
}

TEST(SelectAndOrderTest, EqualOnesDropEachOtherAndABundleBeatsItsMember) {
    auto select = [](Scenario& s) {
        select_and_order(s.installer, s.candidates, kNoDowngradeFloor, Verbosity::Changes);
        return Scenario::names(s.candidates);
    };
    Scenario s;
    s.candidate("mond"), s.candidate("mond");
    EXPECT_EQ(select(s), "");
    s.candidate("ppp");
    s.candidate("tarnvel").member("ppp", ver(6, 40));  // a bundle beats its member
    EXPECT_EQ(select(s), "tarnvel");
    EXPECT_EQ(message_lines(), "");
}

}  // namespace
