// The platform crypto layer: Ed25519 verification against RFC 8032 and restarting hashers.
#include "package/signature/crypto.h"

#include "package/signature/key_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> bytes(const std::string& hex) {
    std::vector<std::uint8_t> out(hex.size() / 2);
    EXPECT_TRUE(parse_hex(hex, out.data(), out.size()));
    return out;
}

asn1::blob blob(const std::vector<std::uint8_t>& v) { return {v.data(), v.data() + v.size()}; }

struct Ed25519Vector {
    const char* name;
    const char* key;
    const char* message;
    const char* signature;
};

// RFC 8032, section 7.1, tests 1 to 3.
const Ed25519Vector kRfc8032[] = {
    {"test 1", "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701"
     "cf9b46bd25bf5f0595bbe24655141438e7a100b"},
    {"test 2", "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d"
     "0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"test 3", "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f7609"
     "84dc6594a7c15e9716ed28dc027beceea1ec40a"},
};

TEST(CryptoTest, Ed25519AcceptsRfc8032Vectors) {
    for (const Ed25519Vector& v : kRfc8032) {
        SCOPED_TRACE(v.name);
        const auto key = bytes(v.key), message = bytes(v.message), sig = bytes(v.signature);
        EXPECT_TRUE(eddsa::verify(blob(key), blob(message), blob(sig)));
    }
}

TEST(CryptoTest, Ed25519RefusesAlteredSignatureMessageOrSizes) {
    const Ed25519Vector& v = kRfc8032[2];
    const auto key = bytes(v.key), message = bytes(v.message), sig = bytes(v.signature);
    auto badSig = sig;
    badSig[40] ^= 0x01;
    EXPECT_FALSE(eddsa::verify(blob(key), blob(message), blob(badSig)));
    auto badMessage = message;
    badMessage[1] ^= 0x80;
    EXPECT_FALSE(eddsa::verify(blob(key), blob(badMessage), blob(sig)));
    const std::vector<std::uint8_t> shortSig(sig.begin(), sig.end() - 1);
    EXPECT_FALSE(eddsa::verify(blob(key), blob(message), blob(shortSig)));
    const std::vector<std::uint8_t> shortKey(key.begin(), key.end() - 1);
    EXPECT_FALSE(eddsa::verify(blob(shortKey), blob(message), blob(sig)));
}

TEST(CryptoTest, FinishedHasherStartsAfresh) {
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    SHA256 sha256;
    SHA1 sha1;
    std::uint8_t first[32], second[32], first1[20], second1[20];
    sha256.add(abc, 3);
    sha256.finish(first);
    sha256.add(abc, 3);
    sha256.finish(second);
    EXPECT_EQ(std::vector<std::uint8_t>(first, first + 32),
              bytes("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_EQ(std::vector<std::uint8_t>(second, second + 32),
              std::vector<std::uint8_t>(first, first + 32));
    sha1.add(abc, 3);
    sha1.finish(first1);
    sha1.add(abc, 3);
    sha1.finish(second1);
    EXPECT_EQ(std::vector<std::uint8_t>(first1, first1 + 20),
              bytes("a9993e364706816aba3e25717850c26c9cd0d89d"));
    EXPECT_EQ(std::vector<std::uint8_t>(second1, second1 + 20),
              std::vector<std::uint8_t>(first1, first1 + 20));
}

}  // namespace
