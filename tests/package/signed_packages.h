#pragma once
// Signed package files for installation tests, made with the development keys, and a reader
// standing where the driver leaves it: on the first chunk of a package stream.

#include "package/format.h"
#include "package/package_reader.h"
#include "pkglib/description.h"
#include "pkglib/key_set.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

// The development key set of the source tree (the public half is the one built in).
inline const KeySet& dev_key_set() {
    static const std::unique_ptr<KeySet> keys = [] {
        std::string err;
        auto loaded = KeySet::load(std::string(INSTALLER_KEYS_DIR) + "/dev-private.txt", err);
        EXPECT_NE(loaded, nullptr) << err;
        return loaded;
    }();
    return *keys;
}

// A signing callback: legacy + EdDSA (132 bytes) or legacy only (68 bytes).
inline Signer dev_sign(bool withEddsa = true) {
    const SignatureKind kind = withEddsa ? SignatureKind::LegacyAndEddsa : SignatureKind::Legacy;
    return [kind](const std::uint8_t digest[32]) { return dev_key_set().sign(digest, kind); };
}

inline FileEntry file_entry(const std::string& name, const std::string& data,
                            std::uint16_t mode = 0x81a4, std::uint8_t variant = 0) {
    return {mode, variant, name, data};
}

// A signer writing `payload` whatever the digest.
inline DigestSigner fixed_signature(std::string payload) {
    return [payload](const std::uint8_t*, SignatureKind) { return payload; };
}

// A package as most tests want it: build time 1000, the flags word, a SHA-256 marker and a
// files chunk even without files.
inline PackageDescription package_spec(const std::string& name, Version version,
                                       std::uint32_t flags = 0) {
    PackageDescription d;
    d.name = name, d.version = version, d.buildTime = 1000, d.flags = flags;
    d.sha256 = d.emptyFiles = true;
    return d;
}

// A bundle of `members`, which share its marker.
inline PackageDescription bundle_spec(const std::string& name, Version version,
                                      std::uint32_t buildTime,
                                      std::vector<PackageDescription> members,
                                      std::vector<Dependency> optionalMembers = {}) {
    PackageDescription b = package_spec(name, version);
    b.buildTime = buildTime, b.isBundle = true, b.optionalMembers = std::move(optionalMembers);
    for (PackageDescription& m : members) m.sha256 = false;
    b.members = std::move(members);
    return b;
}

// The package file of `desc` (signed with the development keys unless `sign` is given), or
// `desc` appended to `writer` as a bundle member (without a marker of its own).
inline std::string package_file(const PackageDescription& desc, DigestSigner sign = {}) {
    std::string out, err;
    EXPECT_TRUE(build_package_file(desc, sign ? sign : dev_key_set().signer(), out, err)) << err;
    return out;
}
inline void append_signed(PackageWriter& writer, PackageDescription desc) {
    std::string err;
    desc.sha256 = false;
    EXPECT_TRUE(append_package(writer, desc, dev_key_set().signer(), err)) << err;
}

// Opens a reader on `in` as the stream installation does and moves it to the first chunk.
inline std::unique_ptr<PackageReader> open_install_reader(std::istream& in) {
    auto reader = std::make_unique<PackageReader>(in, true, nullptr);
    for (std::uint32_t type : kInstallChunks) reader->want(type);
    reader->next_chunk();
    return reader;
}
