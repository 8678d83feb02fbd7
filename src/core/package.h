#pragma once
// The package record family: one shape for a package read from an upload, a stream, a database
// image or the small database files. Records live on the heap with exactly one owner.

#include "core/file_list.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Packed version: major, minor, kind letter ('a', 'b', 'c', 'f'), revision, most significant
// first. Always compared as a plain unsigned integer.
using Version = std::uint32_t;

// One relation entry (depends, provides, conflicts) or the bundle link. Bounds are inclusive;
// 0 means no bound. `priority` only matters in provides entries.
struct Dependency {
    std::string name;
    Version min = 0;
    Version max = 0;
    std::int32_t priority = 0;

    bool operator==(const Dependency&) const = default;
};

class Package {
public:
    explicit Package(std::string name_ = {}) : name(std::move(name_)) {}
    virtual ~Package() = default;
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    // Version and build time both 0xFFFFFFFF: a placeholder that relations ignore.
    bool is_placeholder() const { return version == 0xFFFFFFFFu && buildTime == 0xFFFFFFFFu; }

    std::string name;
    Version version = 0;
    std::uint32_t buildTime = 0;
    std::uint32_t flags = 0;  // bit 0: boot package; bit 1: no database header files
    std::string arch;
    std::string note;
    bool hasImage = false;
    std::vector<Dependency> depends;
    std::vector<Dependency> provides;
    std::vector<Dependency> conflicts;
    bool isBundle = false;
    std::vector<std::unique_ptr<Package>> members;  // only for a bundle read from a package file
};

inline constexpr std::uint32_t kFlagBoot = 1;
inline constexpr std::uint32_t kFlagNoMetadata = 2;

// Scheduled action of an installed record for this run.
enum : std::uint32_t { kActionNone = 0, kActionUninstall = 1, kActionEnable = 2, kActionDisable = 3 };

class InstalledPackage : public Package {
public:
    using Package::Package;

    FileList files;  // absolute paths of the installed files, each begins with "/"
    Dependency bundle;            // the bundle this package came with; empty name: none
    bool disabled = false;
    bool userForced = false;
    std::uint32_t action = kActionNone;
};

class PackageFile : public Package {
public:
    using Package::Package;

    std::string filePath;
    std::uint32_t size = 0;  // total length declared by the file's own header
    bool altMagic = false;
};

// Labels of records in messages and listings.
// Display form of a version: 6.40, 6.40.1, 6.41beta3, 6.41rc, ...
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

// Names that may be stored.
// True for a name that can name a database directory: not empty, not "." or "..", without
// "/", white space or control characters. Names read from images must pass before any path is
// built from them.
bool is_safe_package_name(std::string_view name);

// True when `name` can name a package or bundle: a database directory name (not empty, "." or
// "..", without "/", white space or control characters) that does not begin with ".".
bool is_storable_package_name(const std::string& name);
// True when every name of `p` can be stored in the database: the package name as above, and
// every relation entry name one word (not empty, no white space or control characters).
bool has_storable_names(const Package& p);
bool is_storable_relation_name(const std::string& name);
