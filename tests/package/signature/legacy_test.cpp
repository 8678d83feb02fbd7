// The legacy scheme's joint chain against X25519 and against the signer's affine arithmetic
// (signatures made and checked are covered by verify_test and the tamper sweep).
#include "package/signature/legacy.h"

#include "package/format.h"
#include "package/signature/key_file.h"
#include "pkglib/signer.h"
#include "support/recipes.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <array>
#include <string>

namespace {

using Bytes = std::array<std::uint8_t, 32>;

Bytes from_hex(const std::string& hex) {
    Bytes out{};
    EXPECT_TRUE(parse_hex(hex, out.data(), 32));
    return out;
}

Bytes clamped(Bytes k) {
    k[0] &= 0xf8;
    k[31] = (k[31] & 0x7f) | 0x40;
    return k;
}

Bytes openssl_x25519_base(const Bytes& k) {
    Bytes u{};
    EVP_PKEY* key = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, k.data(), 32);
    std::size_t size = 32;
    EXPECT_EQ(EVP_PKEY_get_raw_public_key(key, u.data(), &size), 1);
    EVP_PKEY_free(key);
    return u;
}

TEST(LegacyTest, ChainWithZeroSMatchesX25519AndTheSignerArithmetic) {
    PublicKeys pub{};
    PrivateKeys priv{};
    ASSERT_TRUE(read_dev_keys(INSTALLER_KEYS_DIR, pub, priv));
    auto chain_with_zero_s = [&](const Bytes& a) {
        Bytes out;
        legacy_combine(a.data(), Bytes{}.data(), pub.legacy, out.data());
        return out;
    };
    const std::pair<const char*, const char*> rfc7748[] = {
        {"77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a",
         "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a"},
        {"5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb",
         "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f"},
    };
    for (const auto& [scalar, u] : rfc7748)
        EXPECT_EQ(chain_with_zero_s(clamped(from_hex(scalar))), from_hex(u)) << scalar;
    for (int round = 0; round < 16; ++round) {
        SCOPED_TRACE(round);
        Bytes a, u, xEven;
        RAND_bytes(a.data(), 32);
        EXPECT_EQ(chain_with_zero_s(clamped(a)), openssl_x25519_base(clamped(a)));
        // Unclamped scalars below the group order: the signer's affine public key computation.
        a[31] &= 0x0f;
        ASSERT_TRUE(legacy_public_key(a.data(), u.data(), xEven.data()));
        EXPECT_EQ(chain_with_zero_s(a), u);
    }
}

}  // namespace
