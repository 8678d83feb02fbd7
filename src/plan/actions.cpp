// The enable, disable and uninstall actions. Each record passes through here at most once per
// apply_actions: the database operation resets its action to 0.

#include "plan/actions.h"

#include "core/installer.h"
#include "pdb/entry_writer.h"
#include "plan/relations.h"
#include "plan/resolution.h"

#include <algorithm>

namespace {

// Takes exactly this record out of `packages` (not merely one of its name: an alternate-magic
// install or an image may share the name) and destroys it.
void discard_record(Installer& installer, const InstalledPackage& record) {
    auto& list = installer.packages;
    const auto it =
        std::find_if(list.begin(), list.end(), [&](const auto& p) { return p.get() == &record; });
    if (it != list.end()) list.erase(it);
}

}  // namespace

bool apply_actions(Installer& installer, Transaction& txn, Verbosity verbosity) {
    std::vector<InstalledPackage*> removals;
    std::vector<InstalledPackage*> enables;
    if (!resolve_actions(installer, removals, enables, verbosity)) return false;
    const bool anything = !removals.empty() || !enables.empty();
    carry_out_removals(installer, txn, removals, verbosity);
    carry_out_enables(installer, txn, enables, verbosity);
    return anything;
}

void carry_out_removals(Installer& installer, Transaction& txn,
                        const std::vector<InstalledPackage*>& list, Verbosity verbosity) {
    for (InstalledPackage* p : list) {
        const std::string label = package_label(*p);
        if (p->action == kActionUninstall) {
            if (verbosity == Verbosity::All) installer.set_status("uninstalling " + label + "...");
            uninstall_entry(installer, *p, txn);
            discard_record(installer, *p);
            if (verbosity == Verbosity::All) installer.info("uninstalled %s", label.c_str());
        } else {
            if (verbosity != Verbosity::Silent) installer.set_status("disabling " + label + "...");
            mark_disabled(*p, txn);
            if (verbosity != Verbosity::Silent) installer.info("disabled %s", label.c_str());
        }
    }
}

void carry_out_enables(Installer& installer, Transaction& txn,
                       const std::vector<InstalledPackage*>& list, Verbosity verbosity) {
    for (InstalledPackage* p : list) {
        const std::string label = package_label(*p);
        if (verbosity != Verbosity::Silent) installer.set_status("enabling " + label + "...");
        mark_enabled(*p, txn);
        if (verbosity != Verbosity::Silent) installer.info("enabled %s", label.c_str());
    }
}

bool remove_installed(Installer& installer, Transaction& txn, const std::string& name) {
    const auto index = installer.index_of_package(name);
    if (!index) return false;
    uninstall_entry(installer, *installer.packages[*index], txn);
    installer.packages.erase(installer.packages.begin() + static_cast<std::ptrdiff_t>(*index));
    return true;
}
