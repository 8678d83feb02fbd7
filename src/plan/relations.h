#pragma once
// The pure tests between package records that every planning decision rests on. Nothing here
// changes state. The labels of records (version_text, package_label, ...) are in core/package.h.

#include "core/package.h"

#include <string>

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
