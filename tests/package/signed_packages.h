#pragma once
// Signed package files for installation tests, made with the development keys.

#include "pkglib/description.h"
#include "support/recipes.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

// The development key set of the source tree (the public half is the one built in).
inline const KeySet& dev_key_set() {
    static const std::unique_ptr<KeySet> keys = [] {
        std::string err;
        auto loaded = load_dev_keys(INSTALLER_KEYS_DIR, err);
        EXPECT_NE(loaded, nullptr) << err;
        return loaded;
    }();
    return *keys;
}

inline FileEntry file_entry(const std::string& name, const std::string& data,
                            std::uint16_t mode = 0x81a4, std::uint8_t variant = 0) {
    return {mode, variant, name, data};
}

inline DigestSigner fixed_signature(std::string payload) {
    return [payload](const std::uint8_t*, SignatureKind) { return payload; };
}

// describe_package() with build time 1000.
inline PackageDescription package_spec(const std::string& name, Version version,
                                       std::uint32_t flags = 0) {
    return describe_package({name, version, 1000, flags});
}

// The package file of `desc`, signed with the development keys unless `sign` is given.
inline std::string package_file(const PackageDescription& desc, DigestSigner sign = {}) {
    std::string err;
    std::string out = build_recipe(desc, sign ? sign : dev_key_set().signer(), err);
    EXPECT_EQ(err, "");
    return out;
}
