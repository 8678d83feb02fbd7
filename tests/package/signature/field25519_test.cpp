// Encoding of field elements modulo p = 2^255 - 19 at the edges random values never reach,
// against OpenSSL BIGNUM (the arithmetic itself is checked by the ladder against X25519 in
// legacy_test and by the Ed25519 vectors in crypto_test).
#include "package/signature/field25519.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <array>

namespace {

using Bytes = std::array<std::uint8_t, 32>;

Bytes bytes_of(const BIGNUM* n) {
    Bytes b{};
    BN_bn2lebinpad(n, b.data(), 32);
    return b;
}

TEST(FieldTest, EncodingIsCanonicalAndTakesAllBits) {
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM *p = BN_new(), *n = BN_new();
    BN_set_bit(p, 255);
    BN_sub_word(p, 19);
    // Big-endian: p - 1, p, 2^255 - 1, 2^255, 2^256 - 1.
    for (const char* hex : {"7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffec",
                            "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffed",
                            "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
                            "8000000000000000000000000000000000000000000000000000000000000000",
                            "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"}) {
        SCOPED_TRACE(hex);
        BN_hex2bn(&n, hex);
        const Bytes raw = bytes_of(n);
        BN_nnmod(n, n, p, ctx);
        Bytes encoded;
        const field25519::Fe f = field25519::from_bytes(raw.data());
        field25519::to_bytes(encoded.data(), f);
        EXPECT_EQ(encoded, bytes_of(n));
        EXPECT_EQ(field25519::parity(f), BN_is_odd(n) ? 1 : 0);
    }
    BN_free(n);
    BN_free(p);
    BN_CTX_free(ctx);
}

}  // namespace
