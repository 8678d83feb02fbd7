#pragma once
// The development key files of the source tree and a signer made from them, for signature tests.

#include "pkglib/signer.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

inline const std::string kDevPublicPath = std::string(INSTALLER_KEYS_DIR) + "/public.txt";
inline const std::string kDevPrivatePath = std::string(INSTALLER_KEYS_DIR) + "/dev-private.txt";

inline PublicKeys dev_public_keys() {
    PublicKeys keys{};
    EXPECT_TRUE(parse_public_keys(read_file(kDevPublicPath), keys));
    return keys;
}

inline PrivateKeys dev_private_keys() {
    PrivateKeys keys{};
    EXPECT_TRUE(parse_private_keys(read_file(kDevPrivatePath), keys));
    return keys;
}
