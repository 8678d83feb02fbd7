#pragma once
// The "--show" listing of the installed packages, in load order, under a header and a rule.

#include <string>

class Installer;

// The listing of installer.packages. Records without a name (blockers made during a bundle
// installation) are not listed.
std::string listing_text(Installer& installer);
