// verify_signature on a ChunkBuf standing at a signature chunk (how much it reads, which scheme
// it tries, what reaches the copy target), and the key files it takes its keys from.
#include "package/signature/verify.h"

#include "package/memory_source.h"
#include "package/package_reader.h"
#include "support/recipes.h"
#include "package/signature/key_file.h"

#include <gtest/gtest.h>
#include <cstring>
#include <string>

namespace {

const std::string kCovered = "bytes the package digest covered before the signature chunk";

class VerifySignatureTest : public ::testing::Test {
protected:
    // A signature over the digest buffer the ChunkBuf will finish (SHA-1 or SHA-256 of kCovered).
    std::string sign(bool sha256 = false) {
        SHA1 sha1;
        SHA256 sha2;
        Hash& hash = sha256 ? static_cast<Hash&>(sha2) : sha1;
        std::uint8_t digest[32] = {};
        hash.add(reinterpret_cast<const std::uint8_t*>(kCovered.data()), kCovered.size());
        hash.finish(digest);
        return signer->sign(digest);
    }

    // Runs verify_signature on a chunk of `chunkLength` bytes whose source holds `data` and then
    // a marker byte; `covered` is what the digest took in before.
    int run(const std::string& data, std::uint32_t chunkLength, bool digestOn = true,
            bool sha256 = false, const std::string& covered = kCovered) {
        copy.text.clear();
        source = std::make_unique<MemorySource>(data + "#");
        buf = std::make_unique<ChunkBuf>(source.get(), digestOn, &copy);
        buf->stand_at_chunk(chunkLength, sha256, covered);
        return int(verify_signature(*buf, keys));
    }
    // Bytes still in the source, the marker included.
    std::size_t unread() const { return source->left(); }

    PublicKeys keys{};
    PrivateKeys priv{};
    bool read = read_dev_keys(INSTALLER_KEYS_DIR, keys, priv);
    std::string err;
    std::unique_ptr<PackageSigner> signer = PackageSigner::create(priv, keys, true, err);
    std::unique_ptr<MemorySource> source;
    std::unique_ptr<ChunkBuf> buf;
    StringSink copy;
};

TEST_F(VerifySignatureTest, ChunkLengthDigestAndSourceDecideWhatIsReadTriedAndPassed) {
    ASSERT_TRUE(read);
    ASSERT_NE(signer, nullptr) << err;  // the development key files match
    const std::string sig = sign();
    ASSERT_EQ(sig.size(), 132u);
    std::string eddsaBroken = sig, bothBroken = sig, legacyBroken = sig;
    eddsaBroken[100] ^= 0x04;
    bothBroken[100] ^= 0x04;
    bothBroken[40] ^= 0x04;
    legacyBroken[30] ^= 0x01;
    const std::string legacy = sig.substr(0, 68);
    // In a chunk shorter than 132 bytes only the legacy part is read, whatever follows it.
    // Columns: bytes, chunk length, digest on, level, bytes left in the chunk, copy, unread
    // bytes of the source (with its marker), or -1 when not compared.
    const std::tuple<const char*, std::string, std::uint32_t, bool, int, std::uint32_t,
                     std::string, int> cases[] = {
        {"both good", sig, 132, true, 2, 0, sig, 1},
        {"EdDSA part broken", eddsaBroken, 132, true, 1, 0, eddsaBroken, 1},
        {"both broken", bothBroken, 132, true, 0, 0, bothBroken, 1},
        {"chunk of 68", sig, 68, true, 1, 0, legacy, 65},
        {"chunk of 100", sig, 100, true, 1, 32, legacy, 65},
        {"chunk of 131", sig, 131, true, 1, 63, legacy, 65},
        {"legacy broken in 131", legacyBroken, 131, true, 0, 63, legacyBroken.substr(0, 68), 65},
        {"longer chunk", sig + "12345678", 140, true, 2, 8, sig, 9},
        {"too short for any scheme", sig.substr(0, 67), 67, true, 0, 67, "", 68},
        {"digest off: nothing read", sig, 132, false, 0, 132, "", 133},
        {"source ends inside", sig.substr(0, 99), 132, true, 0, 132, "", -1},
    };
    for (const auto& [what, bytes, length, digestOn, level, left, copied, rest] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(run(bytes, length, digestOn), level);
        EXPECT_EQ(buf->get_remaining(), left);
        EXPECT_EQ(buf->get_digest_finished(), digestOn);
        EXPECT_EQ(copy.text, copied);
        if (rest >= 0) { EXPECT_EQ(unread(), std::size_t(rest)); }
    }
    EXPECT_EQ(run(sign(true), 132, true, true), 2) << "EdDSA covers the whole SHA-256 digest";
    EXPECT_EQ(run(sig, 132, true, false, "other"), 0) << "another digest fails both schemes";
}

TEST(KeyFileTest, FormattedKeysParseBackAndMalformedEntriesAreRefused) {
    PublicKeys pub{}, pub2{};
    PrivateKeys priv{}, priv2{};
    ASSERT_TRUE(generate_keys("round-trip", priv, pub));
    const std::string good = format_public_keys(pub);
    std::string crlf;  // trailing blanks and carriage returns are not part of a line
    for (char c : good) crlf += c == '\n' ? std::string("\t\r\n") : std::string(1, c);
    ASSERT_TRUE(parse_public_keys("# comment\n\n" + crlf, pub2));
    ASSERT_TRUE(parse_private_keys(format_private_keys(priv), priv2));
    EXPECT_EQ(std::memcmp(&pub, &pub2, sizeof pub), 0);
    EXPECT_EQ(std::memcmp(&priv, &priv2, sizeof priv), 0);
    const std::string rest = good.substr(good.find('\n') + 1);  // without the eddsa line
    const std::pair<const char*, std::string> cases[] = {
        {"missing entry", rest},
        {"short hex", "eddsa-public: abcd\n" + rest},
        {"non-hex digit", "eddsa-public: " + std::string(63, '0') + "g\n" + rest},
        {"line without colon", good + "stray words\n"},
        {"too few words", good.substr(0, good.find("h25-k:")) + "h25-k: 01234567\n"},
        {"extra word", good.substr(0, good.size() - 1) + " 01234567\n"},
    };
    for (const auto& [what, text] : cases) EXPECT_FALSE(parse_public_keys(text, pub2)) << what;
}

}  // namespace
