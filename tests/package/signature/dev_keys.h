#pragma once
// The development key files of the source tree and a signer made from them, for signature tests.

#include "pkglib/signer.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

inline std::string dev_public_path() { return std::string(INSTALLER_KEYS_DIR) + "/public.txt"; }
inline std::string dev_private_path() {
    return std::string(INSTALLER_KEYS_DIR) + "/dev-private.txt";
}

inline PublicKeys dev_public_keys() {
    PublicKeys keys{};
    EXPECT_TRUE(parse_public_keys(read_file(dev_public_path()), keys));
    return keys;
}

inline PrivateKeys dev_private_keys() {
    PrivateKeys keys{};
    EXPECT_TRUE(parse_private_keys(read_file(dev_private_path()), keys));
    return keys;
}

inline std::unique_ptr<PackageSigner> dev_signer(bool withEddsa) {
    std::string err;
    auto signer = PackageSigner::from_files(dev_public_path(), dev_private_path(), withEddsa, err);
    EXPECT_NE(signer, nullptr) << err;
    return signer;
}
