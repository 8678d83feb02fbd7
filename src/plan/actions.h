#pragma once
// Carries out the settled uninstall, disable and enable actions through the run's Transaction
// and keeps the Installer's `packages` in step. Nothing on flash changes before the commit.

#include "core/package.h"

#include <string>
#include <vector>

class Installer;
class Transaction;

// Resolves the scheduled actions, then carries out all removals and disables before all
// enables. True when something was removed, disabled or enabled; false when nothing was or the
// resolution refused (then nothing is carried out). `verbose` is 0 or 1.
bool apply_actions(Installer& installer, Transaction& txn, int verbose);

// Uninstalls (action 1) or disables (action 3) each record in order. Uninstalled records leave
// `packages` and are destroyed: pointers to them must not be used afterwards. Uninstall status
// and messages need verbosity 2 or more, disable ones any non-zero verbosity.
void carry_out_removals(Installer& installer, Transaction& txn,
                        const std::vector<InstalledPackage*>& list, int verbosity);

// Enables each record in order, with status and message when `verbose`.
void carry_out_enables(Installer& installer, Transaction& txn,
                       const std::vector<InstalledPackage*>& list, bool verbose);

// Uninstalls and destroys the first record named `name`; false when there is none.
bool remove_installed(Installer& installer, Transaction& txn, const std::string& name);
