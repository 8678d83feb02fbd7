// Carrying out settled actions on records that share a name or are blockers, in a child whose
// root is a scratch directory (the queued operations name /flash paths).

#include "plan/actions.h"

#include "support/root_child.h"
#include "plan/relations.h"
#include "support/scenario.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(ActionsTest, RecordsSharingANameAndBlockers) {
    TempDir root;
    // Removals of missing paths are not queued.
    for (const char* file : {"bin/m", "var/pdb/wifi/disabled"})
        write_file(root / ("flash/" + std::string(file)), "");
    EXPECT_EQ(run_in_root(root.path(), [] {
                  std::string out;
                  {
                      Scenario s;  // an alternate-magic install sits beside the old one
                      s.given("mond@40 mond@41!u");
                      std::vector<InstalledPackage*> list{s.installer.packages[1].get()};
                      carry_out_removals(s.installer, s.txn, list, Verbosity::All);
                      out += s.installed_names() + " " + version_text(s.get("mond").version) +
                             "|" + message_lines();
                  }
                  {
                      Scenario s;  // the first record of the name goes
                      s.installed("mond").files({"/flash/bin/m"});
                      s.given("mond@41");
                      out += std::to_string(remove_installed(s.installer, s.txn, "ppp"));
                      out += std::to_string(remove_installed(s.installer, s.txn, "mond"));
                      out += version_text(s.get("mond").version) + "|" + s.txn_entries();
                  }
                  Scenario s;  // enabling dependents of an enabled package, beside a blocker
                  s.given("ppp!e mond>ppp tarnvel* dhcp^tarnvel!e");
                  s.blocker("wifi");
                  s.given("wifi~!e");
                  out += std::to_string(apply_actions(s.installer, s.txn, Verbosity::Changes));
                  return out + s.installed_names() + "|" + message_lines() + s.txn_entries();
              }),
              "mond 6.40|uninstalled mond-6.41\n"
              "016.41|remove /flash/bin/m\n"
              "1ppp mond tarnvel dhcp  wifi|"
              "enabled wifi-6.40\nenabled dhcp-6.40\nenabled ppp-6.40\n"
              "remove /flash/var/pdb/wifi/disabled\n");
}

}  // namespace
