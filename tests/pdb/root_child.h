#pragma once
// Runs database code against a scratch root: a forked child changes its root directory to it
// (as "installer -r" does) and sends back a text report, so the product code keeps its device
// paths. Needs root rights, as CI has.

#include "core/package.h"

#include <functional>
#include <string>

// Skips the current test when the process may not change its root directory.
bool can_change_root();
#define SKIP_WITHOUT_CHROOT()                                                     \
    do {                                                                          \
        if (!can_change_root()) GTEST_SKIP() << "needs root rights for chroot";   \
    } while (0)

// Runs `body` in a child whose root is `root`, with a fresh Installer whose console output is
// discarded (messages are still recorded). Returns the body's report, or a text starting with
// "child " when the child could not run or did not exit normally.
std::string run_in_root(const std::string& root, const std::function<std::string()>& body);

// One line per record of the Installer's packages: name, version, build time, action, state,
// bundle link, relations and files, for comparing loads as text.
std::string describe_packages();
std::string describe(const InstalledPackage& record);
