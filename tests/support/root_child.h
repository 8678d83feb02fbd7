#pragma once
// The one way unit tests confine product code below a scratch root: a forked child changes its
// root directory to it (as "installer -r" does) and sends back a text report, so the product
// code keeps its device paths and never reaches the host's /flash or /ram. An ordinary user's
// child first enters a user namespace of its own, mapped to that user.

#include <functional>
#include <string>

// Runs `body` in a child whose root is `root`, with a fresh Installer whose console output is
// discarded (messages are still recorded). Returns the body's report, or a text starting with
// "child " when the child could not run or did not exit normally.
std::string run_in_root(const std::string& root, const std::function<std::string()>& body);

// One line per record of the Installer's packages: name, version, build time, action, state,
// bundle link, relations and files, for comparing loads as text.
std::string describe_packages();
