// PackageReader/ChunkBuf: digest coverage against OpenSSL, every truncation (the copy target a
// prefix of the input), and the seek rules.
#include "package/package_reader.h"

#include "package/format.h"
#include "package/memory_source.h"
#include "package/signed_packages.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <iterator>

namespace {

// The 32-byte digest buffer that a hash over `bytes` should leave (SHA-1: 12 zero bytes after).
std::string expected_digest(const std::string& bytes, bool sha256) {
    unsigned char out[32] = {};
    EVP_Digest(bytes.data(), bytes.size(), out, nullptr, sha256 ? EVP_sha256() : EVP_sha1(),
               nullptr);
    return std::string(reinterpret_cast<char*>(out), 32);
}

const HeaderInfo kHeader = {"tool", 0x04030201, 0x0a0b0c0d, 0};
std::string image_bytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = char(i * 7 + 3);
    return s;
}
const std::vector<std::uint32_t> kInstallTypes(std::begin(kInstallChunks),
                                               std::end(kInstallChunks));

// A reader over `bytes` wanting the given chunk types.
struct Reading {
    Reading(const std::string& bytes, bool digestOn, bool seekable = true,
            ByteSink* copy = nullptr, const std::vector<std::uint32_t>& types = kInstallTypes)
        : source(bytes, seekable), reader(source, digestOn, copy) {
        for (std::uint32_t t : types) reader.want(t);
    }
    std::string digest() {
        return std::string(reinterpret_cast<const char*>(reader.chunk_buf().get_digest()), 32);
    }
    MemorySource source;
    PackageReader reader;
};

TEST(PackageReaderTest, DigestCoversFromHeaderOrLateMarkerThroughSignatureHeader) {
    enum Marker { None, BeforeHeader, AfterHeader };
    const std::pair<Marker, std::size_t> cases[] = {
        {BeforeHeader, 68}, {AfterHeader, 132}, {None, 0}, {None, 67}, {None, 131}, {None, 200}};
    for (const auto& [marker, sigLength] : cases) {
        SCOPED_TRACE(testing::Message() << marker << " " << sigLength);
        PackageWriter w;
        if (marker == BeforeHeader) w.sha256_marker();
        w.chunk(5, "unwanted before");
        std::size_t start = w.finish().size();
        w.package_header(kHeader).arch("powerpc").chunk(7, "junk").image(image_bytes(300));
        if (marker == AfterHeader) {
            start = w.finish().size();
            w.sha256_marker().chunk(30, "x").sha256_marker();
        }
        w.files({{0x81ed, 0, "bin/tool", "payload"}});
        const std::size_t signedEnd = w.finish().size() + kChunkHeaderSize;
        std::string signedDigest;
        w.signature([&](const std::uint8_t* d) {
            signedDigest.assign(reinterpret_cast<const char*>(d), 32);
            return std::string(sigLength, 'e');
        }, 68).arch("x");
        const std::string file = w.finish();
        const std::string expected =
            expected_digest(file.substr(start, signedEnd - start), marker != None);
        Reading r(file, true);
        while (r.reader.next_chunk() != kChunkSignature) ASSERT_NE(r.reader.type(), -1);
        EXPECT_EQ(r.reader.chunk_length(), sigLength);
        r.reader.chunk_buf().finish_digest();  // what signature verification does here
        EXPECT_EQ(r.digest(), expected);
        EXPECT_EQ(signedDigest, expected);
        // After the signature the digest runs on and is finished once more at the end of data.
        EXPECT_EQ(r.reader.next_chunk(), kChunkArch);
        EXPECT_EQ(r.reader.next_chunk(), -1);
        EXPECT_EQ(r.digest(), expected_digest(file.substr(signedEnd), marker != None));
    }
}

TEST(PackageReaderTest, EveryTruncationOfASignedPackageAndABundleReadsCleanly) {
    PackageDescription recipe = describe_package(kHeader);
    recipe.arch = "powerpc";
    recipe.depends = {{"system", 0x06000000, 0, 0}};
    recipe.files = {{0x81ed, 0, "bin/tool", "payload"}, {0x41ed, 0, "lib", ""}};
    PackageDescription second = recipe;
    second.name = "other";
    const DigestSigner signer = fixed_signature(std::string(132, 's'));
    const std::string files[] = {
        package_file(recipe, signer),
        package_file(describe_bundle({"all", 1, 1, 0}, {recipe, second}, {{"other", 0, 0, 0}}),
                     signer)};
    for (const std::string& good : files) {
        for (std::size_t len = 0; len <= good.size(); ++len) {
            SCOPED_TRACE(len);
            StringSink copy;
            Reading r(good.substr(0, len), true, false, &copy);
            std::vector<char> buf;
            // No read goes past the payload it belongs to; a short payload ends the reading.
            for (int chunks = 0; r.reader.next_chunk() != -1; ++chunks) {
                ASSERT_LT(chunks, 100);
                const std::size_t end =
                    std::size_t(r.reader.payload_start()) + r.reader.chunk_length();
                buf.resize(r.reader.chunk_length() + 16);
                const std::size_t got = r.reader.read(buf.data(), r.reader.chunk_length());
                EXPECT_LE(r.source.position(), end);
                if (got < r.reader.chunk_length()) {
                    EXPECT_EQ(r.reader.next_chunk(), -1);
                    break;
                }
                EXPECT_EQ(r.reader.read(buf.data(), 16), 0u);
                EXPECT_LE(r.source.position(), end);
                r.reader.clear();
            }
            // The copy is the input up to the cut, less a cut header that was never taken in.
            EXPECT_EQ(good.compare(0, copy.text.size(), copy.text), 0);
            if (len >= kFileHeaderSize) { EXPECT_GE(copy.text.size() + kChunkHeaderSize, len); }
        }
    }
}

TEST(PackageReaderTest, SeeksStayInThePayloadGoBackOnlyWithoutDigestAndSkipWhenTheyCan) {
    PackageWriter w;
    w.package_header(kHeader).image(image_bytes(50000)).arch("ppc");
    const std::string file = w.finish();
    const bool cases[][2] = {{true, true}, {false, true}, {false, false}};
    for (const auto& [digestOn, seekable] : cases) {
        SCOPED_TRACE(testing::Message() << digestOn << seekable);
        const bool canGoBack = !digestOn && seekable;
        // Passing over the image reads it only when the digest or a pipe needs its bytes.
        Reading skip(file, digestOn, seekable, nullptr, {kChunkArch});
        ASSERT_EQ(skip.reader.next_chunk(), kChunkArch);
        EXPECT_EQ(skip.source.delivered > 50000, !canGoBack);

        Reading r(file, digestOn, seekable, nullptr, {kChunkImage, kChunkArch});
        PackageReader& reader = r.reader;
        const auto byte = [&] {
            char c = 0;
            return reader.read(&c, 1) == 1 ? int(std::uint8_t(c)) : -1;
        };
        ASSERT_EQ(reader.next_chunk(), kChunkImage);
        EXPECT_TRUE(reader.skip(40000));
        EXPECT_EQ(reader.tell(), 40000u);
        EXPECT_EQ(byte(), std::uint8_t(image_bytes(40001)[40000]));
        EXPECT_EQ(reader.seek(10), canGoBack);
        if (canGoBack) { EXPECT_EQ(byte(), std::uint8_t(image_bytes(11)[10])); }
        reader.clear();
        EXPECT_TRUE(reader.seek(50000));
        EXPECT_EQ(byte(), -1);
        reader.clear();
        EXPECT_FALSE(reader.seek(60000));  // past the payload
        reader.clear();
        EXPECT_EQ(reader.next_chunk(), kChunkArch);
        if (!digestOn) continue;
        EXPECT_EQ(reader.next_chunk(), -1);
        EXPECT_EQ(r.digest(), expected_digest(file.substr(8), false));
    }
}

}  // namespace
