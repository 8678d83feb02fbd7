#pragma once
// The one version helper of tests and fuzz seeds.

#include "core/package.h"

// Packed version from its parts: ver(6, 40) is 6.40, ver(6, 41, 'b', 3) is 6.41beta3.
constexpr Version ver(unsigned major, unsigned minor, char kind = 'f', unsigned revision = 0) {
    return Version(major) << 24 | Version(minor) << 16 | Version(std::uint8_t(kind)) << 8 |
           Version(revision);
}
