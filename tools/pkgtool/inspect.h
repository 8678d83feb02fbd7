#pragma once
// `pkgtool inspect` and `verify`: print what a package file holds, read through the installer's own
// reader, so that what it shows is what an installation would see.

#include <string>

struct PublicKeys;

// Prints to standard output, marking every chunk that no signature covers; messages about
// unreadable input go to standard error. Signatures are checked with `keys`, or with the keys
// built into the installer when null. 0 when the whole file was read as a package, 1 otherwise.
int inspect_package(const std::string& path, const PublicKeys* keys);

// Prints one line, "verified: level N, <scheme> over <digest>" or "NOT verified: <why>".
// 0 only when the file is whole and every package in it (each member of a bundle) carries a
// signature that verifies with `keys` (or the built-in keys when null), 1 otherwise.
int verify_package(const std::string& path, const PublicKeys* keys);
