// Carrying out settled actions: status texts and messages by verbosity, the records that leave
// `packages`, and the file operations queued in the Transaction.

#include "plan/actions.h"

#include "plan/relations.h"
#include "support/scenario.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class ActionsTest : public ::testing::Test {
protected:
    Scenario s;
    TempDir dir;
    // An installed file the uninstall can be seen to remove (removals of missing paths vanish).
    const std::string file = dir / "ppp.bin";
    bool written = write_file(file, "x");
};

TEST_F(ActionsTest, DisablesThenEnablesShownAtVerbosityOneUninstallsFromTwoNoneAtZero) {
    s.installed("ppp").files({file}).action(kActionUninstall);
    s.given("mond!d clock~!e system");
    EXPECT_TRUE(apply_actions(s.installer, s.txn, Verbosity::Changes));
    EXPECT_EQ(s.actions(), "mond=-(disabled) clock=- system=-");
    EXPECT_THAT(s.messages(), ElementsAre("disabled mond-6.40", "enabled clock-6.40"));
    EXPECT_THAT(s.terminal.output, HasSubstr("disabling mond-6.40..."));
    EXPECT_THAT(s.terminal.output, HasSubstr("enabling clock-6.40..."));
    EXPECT_THAT(s.terminal.output, Not(HasSubstr("uninstalling")));
    EXPECT_EQ(s.txn_entries(), "movetemp /flash/var/pdb/mond/disabled\nremove " + file + "\n");
    Scenario v;
    v.given("ppp!u mond!d");
    std::vector<InstalledPackage*> list{&v.get("ppp"), &v.get("mond")};
    carry_out_removals(v.installer, v.txn, list, Verbosity::All);
    EXPECT_THAT(v.messages(), ElementsAre("uninstalled ppp-6.40", "disabled mond-6.40"));
    EXPECT_THAT(v.terminal.output, HasSubstr("uninstalling ppp-6.40..."));
    EXPECT_EQ(v.actions(), "mond=-(disabled)");
    Scenario q;  // a quiet run changes the same without words
    q.given("ntp!d ppp!u system");
    EXPECT_TRUE(apply_actions(q.installer, q.txn, Verbosity::Silent));
    EXPECT_EQ(q.actions() + "|" + q.terminal.output, "ntp=-(disabled) system=-|");
}

TEST_F(ActionsTest, NothingToDoOrARefusalCarriesOutNothing) {
    s.given("system mond~");
    EXPECT_FALSE(apply_actions(s.installer, s.txn, Verbosity::Changes));
    EXPECT_EQ(s.terminal.output, "");
    s.get("system").action = kActionUninstall;
    EXPECT_FALSE(apply_actions(s.installer, s.txn, Verbosity::Changes));
    EXPECT_EQ(s.installed_names(), "system mond");
    EXPECT_THAT(s.messages(), ElementsAre("ERROR: can not uninstall or disable all packages"));
    EXPECT_TRUE(s.txn.is_empty());
}

TEST_F(ActionsTest, UninstallRemovesThatRecordNotTheFirstOfItsName) {
    s.given("mond@40 mond@41!u");  // an alternate-magic install sits beside the old one
    std::vector<InstalledPackage*> list{s.installer.packages[1].get()};
    carry_out_removals(s.installer, s.txn, list, Verbosity::All);
    EXPECT_EQ(s.installed_names(), "mond");
    EXPECT_EQ(s.installer.packages[0]->version, ver(6, 40));
    EXPECT_THAT(s.messages(), ElementsAre("uninstalled mond-6.41"));
}

TEST_F(ActionsTest, EnablingAnEnabledPackageUninstallsNoDependentAndBlockersAreNotWritten) {
    s.given("ppp!e mond>ppp tarnvel* dhcp^tarnvel!e");
    s.blocker("wifi");
    s.given("wifi~!e");
    EXPECT_TRUE(apply_actions(s.installer, s.txn, Verbosity::Changes));
    EXPECT_EQ(s.installed_names(), "ppp mond tarnvel dhcp  wifi");
    EXPECT_THAT(s.messages(),
                ElementsAre("enabled wifi-6.40", "enabled dhcp-6.40", "enabled ppp-6.40"));
    EXPECT_THAT(s.txn_entries(), Not(HasSubstr("/pdb//")));
}

TEST_F(ActionsTest, RemoveInstalledTakesTheFirstRecordOfTheName) {
    s.installed("mond").files({file});
    s.given("mond@41");
    EXPECT_FALSE(remove_installed(s.installer, s.txn, "ppp"));
    EXPECT_TRUE(remove_installed(s.installer, s.txn, "mond"));
    EXPECT_EQ(s.installed_names() + " " + version_text(s.get("mond").version), "mond 6.41");
    EXPECT_EQ(s.txn_entries(), "remove " + file + "\n");
    EXPECT_TRUE(s.messages().empty());
}

}  // namespace
