// The labels of package records and the checks that a name can be stored in the database. All
// functions are pure; the checks are the one place that decides what a stored name may hold.

#include "core/package.h"

#include <algorithm>
#include <cstdio>

namespace {

// The suffix that names a pre-release kind; an unknown kind byte prints with no suffix, so its
// revision follows the minor number directly.
const char* kind_suffix(unsigned kind) {
    switch (kind) {
        case 'a': return "alpha";
        case 'b': return "beta";
        case 'c': return "rc";
        default: return "";
    }
}

}  // namespace

std::string version_text(Version v) {
    const unsigned major = v >> 24;
    const unsigned minor = (v >> 16) & 0xFF;
    const unsigned kind = (v >> 8) & 0xFF;
    const unsigned revision = v & 0xFF;
    // 255.255alpha255 is the longest text: 16 characters.
    char text[32];
    if (kind == 'f') {
        if (revision != 0)
            std::snprintf(text, sizeof text, "%u.%u.%u", major, minor, revision);
        else
            std::snprintf(text, sizeof text, "%u.%u", major, minor);
    } else if (revision != 0) {
        std::snprintf(text, sizeof text, "%u.%u%s%u", major, minor, kind_suffix(kind), revision);
    } else {
        std::snprintf(text, sizeof text, "%u.%u%s", major, minor, kind_suffix(kind));
    }
    return text;
}

std::string package_label(const Package& p) { return p.name + "-" + version_text(p.version); }

std::string dependency_label(const Dependency& d) {
    if (d.min == 0) return d.name;
    return d.name + "-" + version_text(d.min);
}

std::string display_name(const InstalledPackage& p) {
    if (!p.bundle.name.empty()) return dependency_label(p.bundle);
    return package_label(p);
}

Dependency exact_dependency(const Package& p) {
    return Dependency{p.name, p.version, p.version, 0};
}

bool is_safe_package_name(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        // Control characters and DEL included: such a name could not be written into the
        // whitespace-separated list files nor shown on the console unharmed.
        if (c == '/' || c == ' ' || u < 0x20 || u == 0x7f) return false;
    }
    return true;
}

bool is_storable_package_name(const std::string& name) {
    // Names beginning with "." are the installer's own below the database (the stream copy).
    return is_safe_package_name(name) && name.front() != '.';
}

bool has_storable_names(const Package& p) {
    if (!is_storable_package_name(p.name)) return false;
    for (const auto* list : {&p.depends, &p.provides, &p.conflicts})
        for (const Dependency& d : *list)
            if (!is_storable_relation_name(d.name)) return false;
    return true;
}

bool is_storable_relation_name(const std::string& name) {
    if (name.empty()) return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const unsigned char u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7f;
    });
}
