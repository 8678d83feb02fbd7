#pragma once
// Versions in their dotted text form, for the package tool and tests only: the installer itself
// never parses a version, it reads packed numbers from package files and the database.

#include "core/package.h"

#include <string_view>

// Parses "6.40", "6.40.1", "6.41beta3", "6.41beta", "7.1rc2", "6.40alpha2" into the packed
// major.minor.kind.revision form; "0" gives 0 (no bound in a relation). Every number is 0..255.
// False (out untouched) for anything else, so a typo never becomes a silent 0.
[[nodiscard]] bool parse_version_text(std::string_view text, Version& out);
