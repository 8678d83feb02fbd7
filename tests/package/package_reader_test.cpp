// PackageReader/ChunkBuf: digest coverage against OpenSSL, every truncation (the copy target a
// prefix of the input), and the seek rules.
#include "package/package_reader.h"

#include "package/format.h"
#include "package/signed_packages.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <iterator>

namespace {

// Fixed bytes with no get area, so every byte handed out is counted; it can refuse to seek, like
// a pipe.
struct MemorySource : std::streambuf {
    MemorySource(std::string b, bool s) : bytes(std::move(b)), seekable(s) {}
    std::string bytes;
    std::size_t pos = 0, delivered = 0;  // a re-read after putback counts again
    bool seekable;
    std::size_t left() const { return pos < bytes.size() ? bytes.size() - pos : 0; }
    std::streamsize xsgetn(char* out, std::streamsize n) override {
        const std::size_t k = std::min(std::size_t(n), left());
        std::memcpy(out, bytes.data() + pos, k);
        return pos += k, delivered += k, std::streamsize(k);
    }
    int_type underflow() override {
        return left() ? traits_type::to_int_type(bytes[pos]) : traits_type::eof();
    }
    int_type uflow() override {
        const int_type c = underflow();
        if (left()) ++pos, ++delivered;
        return c;
    }
    int_type pbackfail(int_type c) override {
        if (pos == 0) return traits_type::eof();
        --pos;
        return traits_type::eq_int_type(c, traits_type::eof()) ? underflow() : c;
    }
    std::streamsize showmanyc() override { return left() ? std::streamsize(left()) : -1; }
    std::streampos seekoff(std::streamoff off, std::ios_base::seekdir dir,
                           std::ios_base::openmode mode) override {
        const std::size_t base = dir == std::ios_base::beg ? 0
                                 : dir == std::ios_base::cur ? pos : bytes.size();
        return seekpos(std::streampos(std::streamoff(base) + off), mode);
    }
    std::streampos seekpos(std::streampos p, std::ios_base::openmode) override {
        if (!seekable || std::streamoff(p) < 0) return std::streampos(std::streamoff(-1));
        return pos = std::size_t(std::streamoff(p)), p;
    }
};

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
            std::streambuf* copy = nullptr, const std::vector<std::uint32_t>& types = kInstallTypes)
        : source(bytes, seekable), in(&source), reader(in, digestOn, copy) {
        for (std::uint32_t t : types) reader.want(t);
    }
    std::string digest() {
        return std::string(reinterpret_cast<const char*>(reader.chunk_buf().get_digest()), 32);
    }
    MemorySource source;
    std::istream in;
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
            std::stringbuf copy;
            Reading r(good.substr(0, len), true, false, &copy);
            std::vector<char> buf;
            // No read goes past the payload it belongs to; a short payload ends the reading.
            for (int chunks = 0; r.reader.next_chunk() != -1; ++chunks) {
                ASSERT_LT(chunks, 100);
                const std::size_t end =
                    std::size_t(r.reader.payload_start()) + r.reader.chunk_length();
                buf.resize(r.reader.chunk_length() + 16);
                r.reader.read(buf.data(), r.reader.chunk_length());
                EXPECT_LE(r.source.pos, end);
                if (r.reader.gcount() < std::streamsize(r.reader.chunk_length())) {
                    EXPECT_EQ(r.reader.next_chunk(), -1);
                    break;
                }
                EXPECT_EQ(r.reader.read(buf.data(), 16).gcount(), 0);
                EXPECT_LE(r.source.pos, end);
                r.reader.clear();
            }
            // The copy is the input up to the cut, less a cut header that was never taken in.
            EXPECT_EQ(good.compare(0, copy.str().size(), copy.str()), 0);
            if (len >= kFileHeaderSize) { EXPECT_GE(copy.str().size() + kChunkHeaderSize, len); }
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
        ASSERT_EQ(reader.next_chunk(), kChunkImage);
        EXPECT_TRUE(reader.unget().fail());  // nothing before the first byte of a chunk
        reader.clear();
        reader.seekg(40000, std::ios_base::cur);
        EXPECT_EQ(reader.tellg(), std::streampos(40000));
        EXPECT_EQ(reader.get(), std::uint8_t(image_bytes(40001)[40000]));
        EXPECT_EQ(reader.seekg(10).fail(), !canGoBack);
        if (canGoBack) { EXPECT_EQ(reader.get(), std::uint8_t(image_bytes(11)[10])); }
        reader.clear();
        reader.seekg(0, std::ios_base::end);
        EXPECT_EQ(reader.tellg(), std::streampos(50000));
        EXPECT_EQ(reader.get(), std::char_traits<char>::eof());
        reader.clear();
        EXPECT_TRUE(reader.seekg(60000).fail());  // past the payload
        reader.clear();
        EXPECT_EQ(reader.next_chunk(), kChunkArch);
        if (!digestOn) continue;
        EXPECT_EQ(reader.next_chunk(), -1);
        EXPECT_EQ(r.digest(), expected_digest(file.substr(8), false));
    }
    PackageWriter small;
    small.package_header(kHeader).image("0123456789").arch("x");
    Reading r(small.finish(), true, true, nullptr, {kChunkImage});
    ASSERT_EQ(r.reader.next_chunk(), kChunkImage);
    EXPECT_EQ(r.reader.ignore(4).rdbuf()->in_avail(), 6);  // not the arch chunk behind it
}

}  // namespace
