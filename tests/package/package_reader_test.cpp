// PackageReader/ChunkBuf: digest coverage against an independent OpenSSL recomputation, the copy
// target as a byte-exact copy, seek rules, truncations and malformed framing.

#include "package/package_reader.h"

#include "package/format.h"
#include "package/memory_source.h"
#include "pkglib/package_writer.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <sstream>
#include <vector>

namespace {

// The 32-byte digest buffer that a hash over `bytes` should leave (SHA-1: 12 zero bytes after).
std::string expected_digest(const std::string& bytes, bool sha256) {
    unsigned char out[32] = {};
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), out, &size, sha256 ? EVP_sha256() : EVP_sha1(), nullptr);
    return std::string(reinterpret_cast<char*>(out), 32);
}

std::string digest_of(const ChunkBuf& buf) {
    return std::string(reinterpret_cast<const char*>(buf.digest), 32);
}

Signer fixed_signer(std::size_t size) {
    return [size](const std::uint8_t*) { return std::string(size, '\x5a'); };
}

HeaderInfo header(const std::string& name) {
    return {name, 0x04030201, 0x0a0b0c0d, 0};
}

void want_install_types(PackageReader& reader) {
    for (std::uint32_t t : {1, 18, 20, 16, 3, 19, 17, 21, 4, 9}) reader.want(t);
}

std::string image_bytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = char(i * 7 + 3);
    return s;
}

class PackageReaderTest : public ::testing::Test {};

TEST_F(PackageReaderTest, DigestWithMarkerBeforeHeaderCoversHeaderThroughSignatureHeader) {
    PackageWriter w;
    w.sha256_marker().chunk(5, "unwanted before");
    const std::size_t headerAt = w.finish().size();
    w.package_header(header("tool")).arch("powerpc").chunk(7, "junk").image(image_bytes(300));
    w.files({{0x81ed, 0, "bin/tool", "payload"}});
    const std::size_t signatureAt = w.finish().size();
    w.signature(fixed_signer(68)).chunk(16, "powerpc");
    const std::string file = w.finish();

    std::istringstream in(file);
    PackageReader reader(in, true, nullptr);
    want_install_types(reader);
    int type;
    while ((type = reader.next_chunk()) != kChunkSignature) ASSERT_NE(type, -1);
    reader.chunk_buf().finish_digest();  // what signature verification does at this point
    const std::size_t signedEnd = signatureAt + kChunkHeaderSize;
    EXPECT_EQ(digest_of(reader.chunk_buf()),
              expected_digest(file.substr(headerAt, signedEnd - headerAt), true));

    // After the signature the digest runs on and is finished once more at the end of data.
    EXPECT_EQ(reader.next_chunk(), kChunkArch);
    EXPECT_EQ(reader.next_chunk(), -1);
    EXPECT_EQ(digest_of(reader.chunk_buf()), expected_digest(file.substr(signedEnd), true));
}

TEST_F(PackageReaderTest, MarkerAfterHeaderSwitchesToSha256InMidPackage) {
    PackageWriter w;
    w.chunk(5, "before header");
    w.package_header(header("tool")).arch("x86");
    const std::size_t markerAt = w.finish().size();
    w.sha256_marker().chunk(30, "after marker").sha256_marker();
    const std::size_t signatureAt = w.finish().size();
    std::array<std::uint8_t, 32> signedDigest{};
    w.signature([&](const std::uint8_t* d) {
        std::copy(d, d + 32, signedDigest.begin());
        return std::string(132, 'e');
    });
    const std::string file = w.finish();

    std::istringstream in(file);
    PackageReader reader(in, true, nullptr);
    want_install_types(reader);
    ASSERT_EQ(reader.next_chunk(), kChunkPackageHeader);
    // The restart at the package header finished the SHA-1 digest of what came before it.
    EXPECT_EQ(digest_of(reader.chunk_buf()),
              expected_digest(file.substr(kFileHeaderSize, 6 + 13), false));
    EXPECT_EQ(reader.next_chunk(), kChunkArch);
    ASSERT_EQ(reader.next_chunk(), kChunkSignature);
    reader.chunk_buf().finish_digest();
    const std::string expected =
        expected_digest(file.substr(markerAt, signatureAt + 6 - markerAt), true);
    EXPECT_EQ(digest_of(reader.chunk_buf()), expected);
    EXPECT_EQ(std::string(signedDigest.begin(), signedDigest.end()), expected);
}

TEST_F(PackageReaderTest, SignatureOfAnyLengthIsSignedOverItsOwnHeader) {
    for (std::size_t length : {0, 1, 67, 68, 131, 132, 200}) {
        SCOPED_TRACE(length);
        std::string signedDigest;
        PackageWriter w;
        w.package_header(header("tool")).signature(
            [&](const std::uint8_t* d) {
                signedDigest.assign(reinterpret_cast<const char*>(d), 32);
                return std::string(length, '\x11');
            },
            68);
        std::istringstream in(w.finish());
        PackageReader reader(in, true, nullptr);
        reader.want(kChunkSignature);
        ASSERT_EQ(reader.next_chunk(), kChunkSignature);
        EXPECT_EQ(reader.chunk_length(), length);
        reader.chunk_buf().finish_digest();
        EXPECT_EQ(digest_of(reader.chunk_buf()), signedDigest);
    }
}

TEST_F(PackageReaderTest, UnseekableSourceWithoutDigestSeeksForwardOnly) {
    PackageWriter w;
    w.package_header(header("tool")).image(image_bytes(100));
    MemorySource source(w.finish(), false);
    std::istream in(&source);
    PackageReader reader(in, false, nullptr);
    reader.want(kChunkImage);
    ASSERT_EQ(reader.next_chunk(), kChunkImage);
    reader.seekg(50);
    EXPECT_EQ(reader.get(), std::uint8_t(image_bytes(51)[50]));
    reader.seekg(10);
    EXPECT_TRUE(reader.fail());
}

TEST_F(PackageReaderTest, Sha1DigestLeavesTwelveZeroBytes) {
    PackageWriter w;
    w.package_header(header("tool")).chunk(5, std::string(40000, 'x'));
    const std::size_t signatureAt = w.finish().size();
    w.signature(fixed_signer(68));
    const std::string file = w.finish();

    std::istringstream in(file);
    PackageReader reader(in, true, nullptr);
    want_install_types(reader);
    while (reader.next_chunk() != kChunkSignature) ASSERT_NE(reader.type(), -1);
    reader.chunk_buf().finish_digest();
    const std::string digest = digest_of(reader.chunk_buf());
    EXPECT_EQ(digest, expected_digest(file.substr(8, signatureAt + 6 - 8), false));
    EXPECT_EQ(digest.substr(20), std::string(12, '\0'));
}

// Reads every chunk with a mix of operations, putting bytes back and reading them again.
void read_with_putbacks(PackageReader& reader) {
    char buf[64];
    while (reader.next_chunk() != -1) {
        if (reader.chunk_length() < 8) continue;
        reader.get();
        reader.unget();
        reader.read(buf, 5);
        reader.putback(buf[4]);
        reader.unget();
        reader.peek();
        reader.read(buf, 3);
        reader.seekg(1, std::ios_base::cur);
        reader.clear(reader.rdstate() & ~std::ios_base::failbit);
    }
}

TEST_F(PackageReaderTest, CopyTargetReceivesEveryByteOnceIncludingPutBackBytes) {
    PackageWriter w;
    w.sha256_marker();
    const std::size_t headerAt = w.finish().size();
    w.package_header(header("tool")).arch("powerpc").chunk(5, "unwanted");
    w.image(image_bytes(70000)).files({{0x81a4, 0, "etc/x", "data"}});
    w.signature(fixed_signer(132)).chunk(3, "");
    const std::string file = w.finish();
    for (bool digestOn : {true, false}) {
        SCOPED_TRACE(digestOn);
        std::istringstream in(file);
        std::stringbuf copy;
        PackageReader reader(in, digestOn, &copy);
        want_install_types(reader);
        read_with_putbacks(reader);
        EXPECT_EQ(copy.str(), file);
        // Without verification the digest runs on to the end; put-back bytes count once.
        if (digestOn) {
            EXPECT_EQ(digest_of(reader.chunk_buf()), expected_digest(file.substr(headerAt), true));
        }
    }
}

// Reads a (possibly cut) package through a non-seekable source, checking that no read goes past
// the payload it belongs to; returns the copy target's bytes.
std::string read_all_bounded(const std::string& bytes) {
    MemorySource source(bytes, false);
    std::istream in(&source);
    std::stringbuf copy;
    PackageReader reader(in, true, &copy);
    want_install_types(reader);
    std::vector<char> buf;
    int chunks = 0;
    while (reader.next_chunk() != -1) {
        ++chunks;
        EXPECT_LT(chunks, 100);
        const std::size_t end = std::size_t(reader.payload_start()) + reader.chunk_length();
        buf.resize(reader.chunk_length() + 16);
        reader.read(buf.data(), reader.chunk_length());
        EXPECT_LE(source.position(), end);
        if (reader.gcount() < std::streamsize(reader.chunk_length())) {
            EXPECT_EQ(reader.next_chunk(), -1);  // a short payload ends the reading
            break;
        }
        // Asking for more than the payload gets nothing.
        reader.read(buf.data(), 16);
        EXPECT_EQ(reader.gcount(), 0);
        EXPECT_LE(source.position(), end);
        reader.clear();
    }
    EXPECT_EQ(reader.type(), -1);
    return copy.str();
}

TEST_F(PackageReaderTest, EveryTruncationOfASignedPackageAndABundleReadsCleanly) {
    PackageSpec spec;
    spec.header = header("tool");
    spec.arch = "powerpc";
    spec.depends = {{"system", 0x06000000, 0, 0}};
    spec.files = {{0x81ed, 0, "bin/tool", "payload"}, {0x41ed, 0, "lib", ""}};
    PackageSpec second = spec;
    second.header.name = "other";
    const std::string package = build_package(spec, fixed_signer(132));
    const std::string bundle =
        build_bundle(header("all"), {spec, second}, fixed_signer(68), {{"other", 0, 0, 0}});
    for (const std::string* good : {&package, &bundle}) {
        for (std::size_t len = 0; len <= good->size(); ++len) {
            SCOPED_TRACE(len);
            const std::string copy = read_all_bounded(good->substr(0, len));
            // The copy is the input up to the cut, less a cut header that was never taken in.
            EXPECT_EQ(good->compare(0, copy.size(), copy), 0);
            if (len >= kFileHeaderSize) {
                EXPECT_GE(copy.size() + kChunkHeaderSize, len);
            }
        }
    }
}

TEST_F(PackageReaderTest, TellgAndBackwardSeekDependOnDigest) {
    PackageWriter w;
    w.package_header(header("tool")).image(image_bytes(100));
    const std::string file = w.finish();
    for (bool digestOn : {true, false}) {
        SCOPED_TRACE(digestOn);
        MemorySource source(file, true);
        std::istream in(&source);
        PackageReader reader(in, digestOn, nullptr);
        reader.want(kChunkImage);
        ASSERT_EQ(reader.next_chunk(), kChunkImage);
        char first[10];
        reader.read(first, 10);
        EXPECT_EQ(reader.tellg(), std::streampos(10));
        reader.seekg(0);
        if (digestOn) {
            EXPECT_TRUE(reader.fail());
            continue;
        }
        ASSERT_FALSE(reader.fail());
        char again[10];
        reader.read(again, 10);
        EXPECT_EQ(std::string(again, 10), std::string(first, 10));
        EXPECT_EQ(std::string(first, 10), image_bytes(10));
    }
}

TEST_F(PackageReaderTest, SeekFromEndByZeroMovesToEndOfPayload) {
    PackageWriter w;
    w.package_header(header("tool")).image(image_bytes(100)).arch("x");
    const std::string file = w.finish();
    std::istringstream in(file);
    PackageReader reader(in, true, nullptr);
    reader.want(kChunkImage);
    reader.want(kChunkArch);
    ASSERT_EQ(reader.next_chunk(), kChunkImage);
    reader.seekg(0, std::ios_base::end);
    EXPECT_EQ(reader.tellg(), std::streampos(100));
    EXPECT_EQ(reader.get(), std::char_traits<char>::eof());
    reader.clear();
    EXPECT_EQ(reader.next_chunk(), kChunkArch);
}

TEST_F(PackageReaderTest, ForwardSeekWithDigestReadsThroughAndKeepsDigest) {
    PackageWriter w;
    w.package_header(header("tool")).image(image_bytes(50000));
    const std::string file = w.finish();
    std::istringstream in(file);
    PackageReader reader(in, true, nullptr);
    reader.want(kChunkImage);
    ASSERT_EQ(reader.next_chunk(), kChunkImage);
    reader.seekg(40000, std::ios_base::cur);
    EXPECT_EQ(reader.tellg(), std::streampos(40000));
    EXPECT_EQ(reader.get(), std::uint8_t(image_bytes(40001)[40000]));
    reader.seekg(60000);  // past the payload
    EXPECT_TRUE(reader.fail());
    reader.clear();
    EXPECT_EQ(reader.next_chunk(), -1);
    EXPECT_EQ(digest_of(reader.chunk_buf()), expected_digest(file.substr(8), false));
}

TEST_F(PackageReaderTest, PassingOverSeeksOnlyWithoutDigestAndCopy) {
    PackageWriter w;
    w.package_header(header("tool")).image(image_bytes(1 << 20)).arch("ppc");
    const std::string file = w.finish();
    struct Case {
        bool digestOn;
        bool seekable;
        bool readsImage;
    };
    for (const Case c :
         {Case{false, true, false}, Case{false, false, true}, Case{true, true, true}}) {
        SCOPED_TRACE(testing::Message() << c.digestOn << c.seekable);
        MemorySource source(file, c.seekable);
        std::istream in(&source);
        PackageReader reader(in, c.digestOn, nullptr);
        reader.want(kChunkArch);
        ASSERT_EQ(reader.next_chunk(), kChunkArch);
        std::string arch(3, '\0');
        reader.read(arch.data(), 3);
        EXPECT_EQ(arch, "ppc");
        EXPECT_EQ(source.delivered > (1u << 20), c.readsImage);
    }
}

TEST_F(PackageReaderTest, PutbackBeforeFirstByteOfChunkFails) {
    PackageWriter w;
    w.package_header(header("tool"));
    std::istringstream in(w.finish());
    PackageReader reader(in, true, nullptr);
    reader.want(kChunkPackageHeader);
    ASSERT_EQ(reader.next_chunk(), kChunkPackageHeader);
    reader.unget();
    EXPECT_TRUE(reader.fail());
}

TEST_F(PackageReaderTest, InAvailIsBoundedByPayload) {
    PackageWriter w;
    w.package_header(header("tool")).image("0123456789").arch("x");
    std::istringstream in(w.finish());
    PackageReader reader(in, true, nullptr);
    reader.want(kChunkImage);
    ASSERT_EQ(reader.next_chunk(), kChunkImage);
    reader.ignore(4);
    EXPECT_EQ(reader.rdbuf()->in_avail(), 6);
}

TEST_F(PackageReaderTest, FramingFaults) {
    PackageWriter good;
    const std::string headerOnly = good.finish();
    PackageWriter alt(kAltPackageMagic);
    alt.package_header(header("alt"));
    std::string badMagic = alt.finish();
    badMagic[0] = '\x1f';
    struct Case {
        const char* what;
        std::string bytes;
        bool bad;
    };
    const Case cases[] = {
        {"empty", "", true},
        {"cut file header", headerOnly.substr(0, 5), true},
        {"bad magic", badMagic, true},
        {"header only", headerOnly, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::istringstream in(c.bytes);
        PackageReader reader(in, true, nullptr);
        reader.want(kChunkPackageHeader);
        EXPECT_EQ(reader.bad(), c.bad);
        EXPECT_EQ(reader.next_chunk(), -1);
    }
    std::istringstream in(alt.finish());
    PackageReader reader(in, false, nullptr);
    EXPECT_TRUE(reader.is_alt_magic());
    EXPECT_EQ(reader.total_length(), alt.finish().size());
}

TEST_F(PackageReaderTest, ChunkHeaderCutAfterThreeBytesReachesNeitherDigestNorCopy) {
    PackageWriter w;
    w.chunk(5, "abc");
    const std::string whole = w.finish();
    w.raw(std::string("\x01\x00\x07", 3));
    const std::string file = w.finish();
    std::istringstream in(file);
    std::stringbuf copy;
    PackageReader reader(in, true, &copy);
    reader.want(5);
    reader.want(1);
    EXPECT_EQ(reader.next_chunk(), 5);
    EXPECT_EQ(reader.next_chunk(), -1);
    EXPECT_EQ(copy.str(), file.substr(0, file.size() - 3));
    EXPECT_EQ(digest_of(reader.chunk_buf()), expected_digest(whole.substr(8), false));
}

}  // namespace
