// Carrying out settled actions: status texts and messages by verbosity, the records that leave
// `packages`, and the file operations queued in the Transaction.

#include "plan/actions.h"

#include "support/scenario.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

class ActionsTest : public ::testing::Test {
protected:
    // An installed file the uninstall can be seen to remove (removals of missing paths vanish).
    std::string installed_file(const std::string& name) {
        const std::string path = dir / name;
        write_file(path, "x");
        return path;
    }
    Scenario s;
    TempDir dir;
};

TEST_F(ActionsTest, DisableIsShownAtVerbosityOneButUninstallIsNot) {
    const std::string file = installed_file("ppp.bin");
    s.installed("ppp").files({file}).action(kActionUninstall);
    s.installed("dude").action(kActionDisable);
    s.installed("system");
    EXPECT_TRUE(apply_actions(s.installer, s.txn, 1));
    EXPECT_EQ(s.installed_names(), "dude system");
    EXPECT_TRUE(s.get("dude").disabled);
    EXPECT_THAT(s.messages(), ElementsAre("disabled dude-6.40"));
    EXPECT_THAT(s.terminal.output, HasSubstr("disabling dude-6.40..."));
    EXPECT_THAT(s.terminal.output, Not(HasSubstr("uninstalling")));
    EXPECT_EQ(s.txn_entries(), "movetemp /flash/var/pdb/dude/disabled\nremove " + file + "\n");
}

TEST_F(ActionsTest, UninstallIsShownFromVerbosityTwo) {
    s.installed("ppp").action(kActionUninstall);
    s.installed("dude").action(kActionDisable);
    std::vector<InstalledPackage*> list{&s.get("ppp"), &s.get("dude")};
    carry_out_removals(s.installer, s.txn, list, 2);
    EXPECT_THAT(s.messages(), ElementsAre("uninstalled ppp-6.40", "disabled dude-6.40"));
    EXPECT_THAT(s.terminal.output, HasSubstr("uninstalling ppp-6.40..."));
    EXPECT_EQ(s.installed_names(), "dude");
    EXPECT_EQ(s.get("dude").action, kActionNone);
}

TEST_F(ActionsTest, NothingToDoPrintsNothing) {
    s.installed("system");
    s.installed("dude").disabled();
    EXPECT_FALSE(apply_actions(s.installer, s.txn, 1));
    EXPECT_EQ(s.terminal.output, "");
    EXPECT_TRUE(s.txn.is_empty());
}

TEST_F(ActionsTest, RefusedResolutionCarriesOutNothing) {
    s.installed("system").action(kActionUninstall);
    EXPECT_FALSE(apply_actions(s.installer, s.txn, 1));
    EXPECT_EQ(s.installed_names(), "system");
    EXPECT_THAT(s.messages(), ElementsAre("ERROR: can not uninstall or disable all packages"));
    EXPECT_TRUE(s.txn.is_empty());
}

TEST_F(ActionsTest, DisablesComeBeforeEnables) {
    s.installed("ntp").action(kActionDisable);
    s.installed("chrony").disabled().action(kActionEnable);
    s.installed("system");
    EXPECT_TRUE(apply_actions(s.installer, s.txn, 1));
    EXPECT_THAT(s.messages(), ElementsAre("disabled ntp-6.40", "enabled chrony-6.40"));
    EXPECT_THAT(s.terminal.output, HasSubstr("enabling chrony-6.40..."));
    EXPECT_EQ(s.actions(), "ntp=-(disabled) chrony=- system=-");
    EXPECT_THAT(s.txn_entries(), HasSubstr("movetemp /flash/var/pdb/ntp/disabled\n"));
}

TEST_F(ActionsTest, QuietRunChangesTheSameWithoutWords) {
    s.installed("ntp").action(kActionDisable);
    s.installed("ppp").action(kActionUninstall);
    s.installed("system");
    EXPECT_TRUE(apply_actions(s.installer, s.txn, 0));
    EXPECT_EQ(s.actions(), "ntp=-(disabled) system=-");
    EXPECT_EQ(s.terminal.output, "");
}

TEST_F(ActionsTest, UninstallRemovesThatRecordNotTheFirstOfItsName) {
    // An alternate-magic install sits beside the record it will replace.
    s.installed("dude", ver(6, 40));
    s.installed("dude", ver(6, 41)).action(kActionUninstall);
    s.installed("system");
    std::vector<InstalledPackage*> list{s.installer.packages[1].get()};
    carry_out_removals(s.installer, s.txn, list, 2);
    EXPECT_EQ(s.installed_names(), "dude system");
    EXPECT_EQ(s.installer.packages[0]->version, ver(6, 40));
    EXPECT_THAT(s.messages(), ElementsAre("uninstalled dude-6.41"));
}

TEST_F(ActionsTest, EnablingAnEnabledPackageUninstallsNoDependent) {
    s.installed("ppp").action(kActionEnable);
    s.installed("dude").needs("ppp");
    s.installed("routeros").bundle();
    s.installed("dhcp").member_of("routeros").action(kActionEnable);
    EXPECT_TRUE(apply_actions(s.installer, s.txn, 1));
    EXPECT_EQ(s.installed_names(), "ppp dude routeros dhcp");
    EXPECT_THAT(s.messages(), ElementsAre("enabled dhcp-6.40", "enabled ppp-6.40"));
}

TEST_F(ActionsTest, BlockerIsNeverWrittenToTheDatabase) {
    s.blocker("wifi");
    s.installed("wifi").disabled().action(kActionEnable);
    EXPECT_TRUE(apply_actions(s.installer, s.txn, 1));
    EXPECT_THAT(s.txn_entries(), Not(HasSubstr("/pdb//")));
    EXPECT_THAT(s.messages(), ElementsAre("enabled wifi-6.40"));
}

TEST_F(ActionsTest, RemoveInstalledTakesTheFirstRecordOfTheName) {
    const std::string file = installed_file("dude.bin");
    s.installed("dude").files({file});
    s.installed("system");
    EXPECT_FALSE(remove_installed(s.installer, s.txn, "ppp"));
    EXPECT_EQ(s.installed_names(), "dude system");
    EXPECT_TRUE(remove_installed(s.installer, s.txn, "dude"));
    EXPECT_EQ(s.installed_names(), "system");
    EXPECT_EQ(s.txn_entries(), "remove " + file + "\n");
    EXPECT_THAT(s.messages(), IsEmpty());
}

}  // namespace
