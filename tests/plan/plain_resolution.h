#pragma once
// The resolution pass as plain scans of the package list, step for step as designed (with the
// same mends as the product). The product's indexed resolver must give identical results.

#include "core/installer.h"
#include "core/package.h"

#include <vector>

bool plain_resolve_actions(Installer& installer, std::vector<InstalledPackage*>& removals,
                           std::vector<InstalledPackage*>& enables, Verbosity verbosity);
