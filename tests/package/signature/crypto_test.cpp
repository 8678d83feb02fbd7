// Ed25519 of the crypto layer against RFC 8032, and H25, which must be SHA-256 with its tables
// swapped: with the standard tables it has to give SHA-256 (NIST vector and OpenSSL).
#include "package/signature/crypto.h"

#include "package/signature/h25.h"
#include "package/signature/key_file.h"

#include <gtest/gtest.h>
#include <cmath>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(const std::string& hex) {
    Bytes out(hex.size() / 2);
    EXPECT_TRUE(parse_hex(hex, out.data(), out.size()));
    return out;
}

asn1::blob blob(const Bytes& v) { return {v.data(), v.data() + v.size()}; }

// RFC 8032, section 7.1, tests 1 to 3: key, message, signature.
const char* const kRfc8032[][3] = {
    {"d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701"
     "cf9b46bd25bf5f0595bbe24655141438e7a100b"},
    {"3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d"
     "0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f7609"
     "84dc6594a7c15e9716ed28dc027beceea1ec40a"},
};

TEST(CryptoTest, Ed25519AcceptsRfc8032VectorsAndRefusesAlterations) {
    for (const auto& v : kRfc8032)
        EXPECT_TRUE(eddsa::verify(blob(bytes(v[0])), blob(bytes(v[1])), blob(bytes(v[2])))) << v[1];
    const Bytes key = bytes(kRfc8032[2][0]), message = bytes(kRfc8032[2][1]),
                sig = bytes(kRfc8032[2][2]);
    Bytes badSig = sig, badMessage = message;
    badSig[40] ^= 0x01;
    badMessage[1] ^= 0x80;
    EXPECT_FALSE(eddsa::verify(blob(key), blob(message), blob(badSig)));
    EXPECT_FALSE(eddsa::verify(blob(key), blob(badMessage), blob(sig)));
    EXPECT_FALSE(eddsa::verify(blob(key), blob(message), blob(Bytes(sig.begin(), sig.end() - 1))));
    EXPECT_FALSE(eddsa::verify(blob(Bytes(key.begin(), key.end() - 1)), blob(message), blob(sig)));
    EXPECT_FALSE(eddsa::verify({}, blob(message), blob(sig)));
}

// SHA-256's own tables: the first 32 fraction bits of the square roots of the first 8 primes
// and of the cube roots of the first 64 primes.
H25Constants sha256_tables() {
    auto fraction = [](long double x) { return std::uint32_t((x - std::floor(x)) * 0x1p32L); };
    H25Constants c{};
    for (int n = 2, found = 0; found < 64; ++n) {
        bool prime = true;
        for (int d = 2; d * d <= n; ++d) prime = prime && n % d != 0;
        if (!prime) continue;
        if (found < 8) c.iv[found] = fraction(std::sqrt((long double)n));
        c.k[found++] = fraction(std::cbrt((long double)n));
    }
    return c;
}
const H25Constants kSha256Tables = sha256_tables();

Bytes h25_of(const H25Constants& constants, const std::uint8_t* data, std::size_t size) {
    Bytes out(32);
    h25(constants, data, size, out.data());
    return out;
}

TEST(H25Test, WithStandardTablesEqualsSha256OnNistVectorsAndTheHashedSizes) {
    EXPECT_EQ(h25_of(kSha256Tables, reinterpret_cast<const std::uint8_t*>("abc"), 3),
              bytes("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    std::uint8_t data[55];
    for (std::size_t i = 0; i < sizeof data; ++i) data[i] = std::uint8_t(i * 37 + 11);
    for (std::size_t size : {0, 20, 32, 55}) {
        SHA256 sha;
        Bytes expected(32);
        sha.add(data, size);
        sha.finish(expected.data());
        EXPECT_EQ(h25_of(kSha256Tables, data, size), expected) << size;
    }
}

}  // namespace
