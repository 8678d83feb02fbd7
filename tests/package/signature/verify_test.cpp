// verify_signature on a ChunkBuf standing at a signature chunk: how much it reads, which scheme
// it tries, and what reaches the copy target.
#include "package/signature/verify.h"

#include "package/package_reader.h"
#include "package/signature/dev_keys.h"
#include "package/signature/key_file.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

const std::string kPackageBytes = "bytes the package digest covered before the signature chunk";

class VerifySignatureTest : public ::testing::Test {
protected:
    PublicKeys keys = dev_public_keys();
    std::unique_ptr<PackageSigner> signer = dev_signer(true);

    // The digest buffer the ChunkBuf will finish: SHA-1 (or SHA-256) of the covered bytes.
    std::string digest_of(bool sha256) {
        std::uint8_t digest[32] = {};
        if (sha256) {
            SHA256 sha;
            sha.add(reinterpret_cast<const std::uint8_t*>(kPackageBytes.data()),
                    kPackageBytes.size());
            sha.finish(digest);
        } else {
            SHA1 sha;
            sha.add(reinterpret_cast<const std::uint8_t*>(kPackageBytes.data()),
                    kPackageBytes.size());
            sha.finish(digest);
        }
        return std::string(reinterpret_cast<char*>(digest), 32);
    }
    std::string sign(bool sha256 = false) {
        return signer->sign(reinterpret_cast<const std::uint8_t*>(digest_of(sha256).data()));
    }

    // Runs verify_signature on a chunk of `chunkLength` bytes whose data is `data`, followed
    // in the source by a marker byte; returns the result and leaves the buffer for checks.
    int run(const std::string& data, std::uint32_t chunkLength, bool digestOn = true,
            bool sha256 = false) {
        source = std::make_unique<std::stringbuf>(data + "#");
        buf = std::make_unique<ChunkBuf>(source.get(), digestOn, &copy);
        if (sha256) buf->activeHasher = &buf->sha256;
        buf->activeHasher->add(reinterpret_cast<const std::uint8_t*>(kPackageBytes.data()),
                               kPackageBytes.size());
        buf->chunkLength = chunkLength;
        buf->remaining = chunkLength;
        return verify_signature(*buf, keys);
    }
    // Bytes still in the source, the marker included.
    std::size_t unread() const { return static_cast<std::size_t>(source->in_avail()); }

    std::unique_ptr<std::stringbuf> source;
    std::unique_ptr<ChunkBuf> buf;
    std::stringbuf copy;
};

TEST_F(VerifySignatureTest, FullChunkPassesWithEddsa) {
    const std::string sig = sign();
    ASSERT_EQ(sig.size(), 132u);
    EXPECT_EQ(run(sig, 132), 2);
    EXPECT_EQ(buf->remaining, 0u);
    EXPECT_TRUE(buf->digestFinished);
    EXPECT_EQ(copy.str(), sig);
    EXPECT_EQ(unread(), 1u);
}

TEST_F(VerifySignatureTest, EddsaCoversTheWholeSha256Digest) {
    EXPECT_EQ(run(sign(true), 132, true, true), 2);
}

TEST_F(VerifySignatureTest, BrokenEddsaPartFallsBackToLegacy) {
    std::string sig = sign();
    sig[100] ^= 0x04;
    EXPECT_EQ(run(sig, 132), 1);
}

TEST_F(VerifySignatureTest, BothPartsBrokenGiveZeroAndConsumeTheBytes) {
    std::string sig = sign();
    sig[100] ^= 0x04;
    sig[40] ^= 0x04;
    EXPECT_EQ(run(sig, 132), 0);
    EXPECT_EQ(buf->remaining, 0u);
    EXPECT_EQ(copy.str(), sig);
}

TEST_F(VerifySignatureTest, ChunkOf67BytesGivesZeroAndConsumesNothing) {
    const std::string sig = sign().substr(0, 67);
    EXPECT_EQ(run(sig, 67), 0);
    EXPECT_EQ(buf->remaining, 67u);
    EXPECT_EQ(unread(), 68u);
    EXPECT_EQ(copy.str(), "");
    EXPECT_TRUE(buf->digestFinished);
}

TEST_F(VerifySignatureTest, ShortChunkReads68AndTriesOnlyLegacy) {
    // A whole valid 132-byte signature in a 131-byte chunk: only the legacy part is read, so
    // a broken legacy part fails although the EdDSA part would pass.
    std::string sig = sign();
    for (std::uint32_t length : {68u, 100u, 131u}) {
        SCOPED_TRACE(length);
        copy.str("");
        EXPECT_EQ(run(sig, length), 1);
        EXPECT_EQ(buf->remaining, length - 68);
        EXPECT_EQ(copy.str(), sig.substr(0, 68));
        EXPECT_EQ(unread(), sig.size() + 1 - 68);
    }
    sig[30] ^= 0x01;
    EXPECT_EQ(run(sig, 131), 0);
}

TEST_F(VerifySignatureTest, LongChunkReads132AndLeavesTheRest) {
    const std::string sig = sign() + std::string(8, 'x');
    EXPECT_EQ(run(sig, 140), 2);
    EXPECT_EQ(buf->remaining, 8u);
    EXPECT_EQ(unread(), 9u);
}

TEST_F(VerifySignatureTest, DigestOffGivesZeroWithoutReading) {
    EXPECT_EQ(run(sign(), 132, false), 0);
    EXPECT_EQ(buf->remaining, 132u);
    EXPECT_FALSE(buf->digestFinished);
    EXPECT_EQ(unread(), 133u);
}

TEST_F(VerifySignatureTest, ShortReadGivesZeroAndLeavesRemaining) {
    const std::string sig = sign().substr(0, 100);
    source = std::make_unique<std::stringbuf>(sig);
    buf = std::make_unique<ChunkBuf>(source.get(), true, &copy);
    buf->chunkLength = buf->remaining = 132;
    EXPECT_EQ(verify_signature(*buf, keys), 0);
    EXPECT_EQ(buf->remaining, 132u);
    EXPECT_EQ(copy.str(), "");
}

TEST_F(VerifySignatureTest, OtherDigestFailsBothSchemes) {
    const std::string sig = sign();
    source = std::make_unique<std::stringbuf>(sig);
    buf = std::make_unique<ChunkBuf>(source.get(), true, nullptr);
    const std::uint8_t other[] = {'o', 't', 'h', 'e', 'r'};
    buf->activeHasher->add(other, sizeof other);
    buf->chunkLength = buf->remaining = 132;
    EXPECT_EQ(verify_signature(*buf, keys), 0);
}

}  // namespace
