#pragma once
// Where the package database lives on the device, and how the entries of a package's "files"
// list map to installed paths. The mapping is the one place both directions are defined, so
// that what unpacking registers, what `files` holds and what removal queues are the same bytes.

#include <string>
#include <string_view>

inline constexpr std::string_view kDatabaseDir = "/flash/var/pdb/";
inline constexpr std::string_view kImagesDir = "/rw/pckg/.images/";
inline constexpr std::string_view kFlashRoot = "/flash";

// The installed path for one line of a "files" list. Lines are relative to /flash; a database
// written by the original system may put one or more "/" in front, which mean the same thing.
// Empty when the line names nothing removable (empty, only slashes, or a ".." component that
// would leave /flash).
std::string installed_path(std::string_view storedLine);

// The line stored for an installed path: the path relative to /flash. Empty for a path that is
// not strictly below /flash, which cannot be expressed in the list.
std::string stored_entry(std::string_view installedPath);
