#pragma once
// The "--show" listing of the installed packages, in load order, under a header and a rule.

#include <iosfwd>

class Installer;

// Writes the listing of installer.packages to `out`. Records without a name (blockers made
// during a bundle installation) are not listed.
void print_listing(Installer& installer, std::ostream& out);
