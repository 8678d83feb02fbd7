#pragma once
// Carries out the settled uninstall, disable and enable actions through the run's Transaction
// and keeps the Installer's `packages` in step. Nothing on flash changes before the commit.

#include "core/installer.h"
#include "core/package.h"

#include <string>
#include <vector>

class Installer;
class Transaction;

// Resolves the scheduled actions, then carries out all removals and disables before all
// enables. True when something was removed, disabled or enabled; false when nothing was or the
// resolution refused (then nothing is carried out). `verbosity` is Silent or Changes.
bool apply_actions(Installer& installer, Transaction& txn, Verbosity verbosity);

// Uninstalls (action 1) or disables (action 3) each record in order. Uninstalled records leave
// `packages` and are destroyed: pointers to them must not be used afterwards. Uninstall status
// and messages need Verbosity::All, disable ones Changes or All.
void carry_out_removals(Installer& installer, Transaction& txn,
                        const std::vector<InstalledPackage*>& list, Verbosity verbosity);

// Enables each record in order, with status and message unless Silent.
void carry_out_enables(Installer& installer, Transaction& txn,
                       const std::vector<InstalledPackage*>& list, Verbosity verbosity);

// Uninstalls and destroys the first record named `name`; false when there is none.
bool remove_installed(Installer& installer, Transaction& txn, const std::string& name);
