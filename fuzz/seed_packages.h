#pragma once
// Seeds of the fuzz targets, built with the tests' helpers and signed with the development keys,
// so they reach past the signature check.

#include "pkglib/signing_kind.h"

#include <map>
#include <string>

// Seed name -> package file bytes: packages of every chunk kind, a bundle, both signature kinds,
// both digests, the alternate magic.
std::map<std::string, std::string> seed_packages(const DigestSigner& sign);
// The install target's starting state: a bundle "tarnvel" 7.10 of "system" and "routing", and a
// single package "wireless" 7.10.
std::map<std::string, std::string> installed_packages(const DigestSigner& sign);
// Manifest texts, and package database files (relation lists, "files" lists, schedules).
std::map<std::string, std::string> seed_manifests();
std::map<std::string, std::string> seed_database_files();
