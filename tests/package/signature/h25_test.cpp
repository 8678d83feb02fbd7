// H25 must be SHA-256 with its tables swapped: run with the standard tables it has to give
// SHA-256 for the single-block inputs the legacy scheme hashes.
#include "package/signature/h25.h"

#include "package/signature/crypto.h"
#include "pkglib/signer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

const H25Constants kSha256Tables = {
    {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab,
     0x5be0cd19},
    {0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
     0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
     0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
     0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
     0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
     0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
     0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
     0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
     0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
     0xc67178f2}};

using Digest = std::array<std::uint8_t, 32>;

Digest h25_of(const H25Constants& constants, const std::uint8_t* data, std::size_t size) {
    Digest out;
    h25(constants, data, size, out.data());
    return out;
}

Digest sha256_of(const std::uint8_t* data, std::size_t size) {
    SHA256 sha;
    Digest out;
    sha.add(data, size);
    sha.finish(out.data());
    return out;
}

TEST(H25Test, WithStandardTablesEqualsSha256OnAbc) {
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    const Digest expected = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                             0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                             0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    EXPECT_EQ(h25_of(kSha256Tables, abc, 3), expected);
}

TEST(H25Test, WithStandardTablesEqualsSha256OnTheHashedSizes) {
    std::uint8_t data[55];
    for (std::size_t i = 0; i < sizeof data; ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (std::size_t size : {std::size_t(0), std::size_t(20), std::size_t(32), std::size_t(55)}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(h25_of(kSha256Tables, data, size), sha256_of(data, size));
    }
}

TEST(H25Test, EveryTableWordChangesTheHash) {
    const std::uint8_t data[32] = {1, 2, 3};
    const Digest base = h25_of(kSha256Tables, data, 32);
    for (int word = 0; word < 72; ++word) {
        SCOPED_TRACE(word);
        H25Constants changed = kSha256Tables;
        if (word < 8) {
            changed.iv[word] ^= 0x100;
        } else {
            changed.k[word - 8] ^= 0x100;
        }
        EXPECT_NE(h25_of(changed, data, 32), base);
    }
}

TEST(H25Test, DerivedTablesFollowTheDocumentedRecipe) {
    const H25Constants derived = derive_h25_constants("label");
    const std::string text = "label k 63";
    const Digest d = sha256_of(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    EXPECT_EQ(derived.k[63], std::uint32_t(d[0]) << 24 | std::uint32_t(d[1]) << 16 |
                                 std::uint32_t(d[2]) << 8 | d[3]);
    EXPECT_NE(std::memcmp(derived.iv, kSha256Tables.iv, sizeof derived.iv), 0);
}

}  // namespace
