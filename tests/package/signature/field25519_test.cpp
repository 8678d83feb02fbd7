// Encoding of field elements modulo p = 2^255 - 19 at the edges random values never reach (the
// arithmetic itself is checked by the ladder against X25519 in legacy_test and by the Ed25519
// vectors in crypto_test).
#include "package/signature/field25519.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using Bytes = std::array<std::uint8_t, 32>;

// Little-endian bytes: `low`, then 30 times `middle`, then `high`.
Bytes filled(std::uint8_t low, std::uint8_t middle, std::uint8_t high) {
    Bytes b;
    b.fill(middle);
    b[0] = low, b[31] = high;
    return b;
}

TEST(FieldTest, EncodingIsCanonicalAndTakesAllBits) {
    const Bytes pMinus1 = filled(0xec, 0xff, 0x7f);
    // p - 1, p, 2^255 - 1, 2^255 and 2^256 - 1, and their values modulo p.
    const std::pair<Bytes, Bytes> cases[] = {
        {pMinus1, pMinus1}, {filled(0xed, 0xff, 0x7f), Bytes{}},
        {filled(0xff, 0xff, 0x7f), Bytes{18}}, {filled(0, 0, 0x80), Bytes{19}},
        {filled(0xff, 0xff, 0xff), Bytes{37}}};
    for (const auto& [raw, reduced] : cases) {
        SCOPED_TRACE(int(reduced[0]));
        const field25519::Fe f = field25519::from_bytes(raw.data());
        Bytes encoded;
        field25519::to_bytes(encoded.data(), f);
        EXPECT_EQ(encoded, reduced);
        EXPECT_EQ(field25519::parity(f), reduced[0] & 1);
    }
}

}  // namespace
