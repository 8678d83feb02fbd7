#pragma once
// Versions in text form and the pure tests between package records that every planning
// decision rests on. Nothing here changes state.

#include "core/package.h"

#include <string>

// Display form: 6.40, 6.40.1, 6.41beta3, 6.41rc, ...
std::string version_text(Version v);
// name-version, e.g. system-6.40.1.
std::string package_label(const Package& p);
// The name alone when min is 0, else name-version_text(min).
std::string dependency_label(const Dependency& d);
// How installation messages name a package: its bundle's dependency_label when it belongs to
// a bundle, else its package_label.
std::string display_name(const InstalledPackage& p);
// {name, version, version, 0}: the link from a member to its bundle.
Dependency exact_dependency(const Package& p);

bool satisfies(const Package& p, const Dependency& d);
bool ranges_overlap(const Dependency& e, const Dependency& d);
bool provides_for(const Package& p, const Dependency& d);
// a needs b.
bool depends_on(const Package& a, const Package& b);
// Not symmetric: the argument order is part of the rule.
bool conflicts_with(const Package& a, const Package& b);
bool has_name_or_member(const Package& p, const std::string& name);
// +1 a newer, -1 a older, 0 same build or not comparable; bundles are judged by their member
// of the other's name. `reversed` negates the result.
int compare_packages(const Package& a, const Package& b, bool reversed = false);
