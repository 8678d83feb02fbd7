#pragma once
// Signed package files for installation tests, made with the development keys, and a reader
// standing where the driver leaves it: on the first chunk of a package stream.

#include "package/format.h"
#include "package/package_reader.h"
#include "pkglib/key_set.h"
#include "pkglib/package_writer.h"

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

inline PackageSpec package_spec(const std::string& name, Version version,
                                std::uint32_t flags = 0) {
    PackageSpec recipe;
    recipe.header = {name, version, 1000, flags};
    return recipe;
}

// Opens a reader on `in` as the stream installation does and moves it to the first chunk.
inline std::unique_ptr<PackageReader> open_install_reader(std::istream& in) {
    auto reader = std::make_unique<PackageReader>(in, true, nullptr);
    for (std::uint32_t type : kInstallChunks) reader->want(type);
    reader->next_chunk();
    return reader;
}
