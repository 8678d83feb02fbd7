#pragma once
// Package files and database texts that seed the fuzz targets, built with the package tool's
// library and signed with the development keys, so the seeds reach past the signature check.

#include "pkglib/signing_kind.h"

#include <map>
#include <memory>
#include <string>

class PackageSigner;

class SeedSigners {
public:
    // Reads the development keys below `keysDir`; ok() tells whether both signers exist.
    explicit SeedSigners(const std::string& keysDir);
    ~SeedSigners();
    SeedSigners(const SeedSigners&) = delete;
    SeedSigners& operator=(const SeedSigners&) = delete;

    bool ok() const { return full_ && legacy_; }
    const std::string& error() const { return error_; }
    // A signing callback that borrows this object: legacy + EdDSA (132 bytes) or legacy only
    // (68), as the package's signature kind asks.
    DigestSigner signer() const;

private:
    std::unique_ptr<PackageSigner> full_;
    std::unique_ptr<PackageSigner> legacy_;
    std::string error_;
};

// Seed name -> package file bytes: single packages of every chunk kind, a bundle, both
// signature kinds, both digests, the alternate magic. Versions are 7.15 unless said otherwise.
std::map<std::string, std::string> seed_packages(const SeedSigners& signers);

// The installed state the install target starts from: a bundle "tarnvel" 7.10 with members
// "system" and "routing", and a single package "wireless" 7.10.
std::map<std::string, std::string> installed_packages(const SeedSigners& signers);

// Manifest texts and package database files (relation lists, "files" lists, schedules).
std::map<std::string, std::string> seed_manifests();
std::map<std::string, std::string> seed_database_files();
