#pragma once
// `pkgtool inspect`: prints what a package file holds, read through the installer's own
// reader, so that what it shows is what an installation would see.

#include <string>

// Prints to standard output; messages about unreadable input go to standard error.
// 0 when the whole file was read as a package, 1 otherwise.
int inspect_package(const std::string& path);
