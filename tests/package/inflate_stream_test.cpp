// InflateStream: round trips at several levels and flush modes, input steps that end on the
// trailer, damage and truncation as end of data, and forward-only seeks.

#include "package/inflate_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// Mixed content: runs that compress well and noise that does not.
std::string sample(std::size_t n) {
    std::string s(n, '\0');
    std::uint32_t x = 12345;
    for (std::size_t i = 0; i < n; ++i) {
        x = x * 1103515245 + 12345;
        s[i] = (i / 5000) % 2 ? char('a' + i % 7) : char(x >> 24);
    }
    return s;
}

// Deflates `data` in pieces of `piece` bytes, calling deflate with `flush` after each piece.
std::string deflate_with(const std::string& data, int level, int flush, std::size_t piece) {
    z_stream zs{};
    EXPECT_EQ(deflateInit(&zs, level), Z_OK);
    std::string out;
    std::vector<unsigned char> buf(1 << 16);
    for (std::size_t at = 0;; at += piece) {
        const bool last = at + piece >= data.size();
        zs.next_in =
            reinterpret_cast<Bytef*>(const_cast<char*>(data.data()) + std::min(at, data.size()));
        zs.avail_in = uInt(last ? data.size() - std::min(at, data.size()) : piece);
        int r;
        do {
            zs.next_out = buf.data();
            zs.avail_out = uInt(buf.size());
            r = deflate(&zs, last ? Z_FINISH : flush);
            out.append(reinterpret_cast<char*>(buf.data()), buf.size() - zs.avail_out);
        } while (zs.avail_out == 0 || (last && r != Z_STREAM_END));
        if (last) break;
    }
    deflateEnd(&zs);
    return out;
}

std::string inflate_all(const std::string& compressed, bool& failed) {
    std::istringstream source(compressed);
    InflateStream in(source);
    std::string out;
    char buf[3000];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) out.append(buf, std::size_t(in.gcount()));
    failed = in.fail();
    return out;
}

class InflateStreamTest : public ::testing::Test {};

TEST_F(InflateStreamTest, RoundTripsAtLevelsAndFlushModes) {
    const std::string data = sample(70000);
    for (int level : {0, 1, 6, 9}) {
        for (int flush : {Z_NO_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_PARTIAL_FLUSH}) {
            SCOPED_TRACE(testing::Message() << "level " << level << " flush " << flush);
            bool failed = false;
            EXPECT_EQ(inflate_all(deflate_with(data, level, flush, 777), failed), data);
            EXPECT_TRUE(failed);  // the read that meets the end is short
        }
    }
}

TEST_F(InflateStreamTest, LastInputStepHoldingOnlyTrailerGivesEndOfData) {
    // Stored blocks make the compressed size a simple function of the input size: find one
    // whose deflate data ends exactly on a 4096-byte step, leaving the Adler-32 trailer alone.
    for (std::size_t n = 8000; n < 8200; ++n) {
        const std::string data = sample(n);
        const std::string z = deflate_with(data, 0, Z_NO_FLUSH, n);
        if ((z.size() - 4) % InflateBuf::kStep != 0) continue;
        bool failed = false;
        EXPECT_EQ(inflate_all(z, failed), data);
        // A damaged trailer is found in that last step too.
        std::string bad = z;
        bad.back() ^= 1;
        EXPECT_EQ(inflate_all(bad, failed), data);
        return;
    }
    FAIL() << "no input size puts the trailer alone in the last step";
}

TEST_F(InflateStreamTest, DamageAndTruncationReadAsEndOfData) {
    const std::string data = sample(20000);
    const std::string z = deflate_with(data, 6, Z_NO_FLUSH, data.size());
    bool failed = false;
    const std::string cut = inflate_all(z.substr(0, z.size() / 2), failed);
    EXPECT_TRUE(failed);
    EXPECT_LT(cut.size(), data.size());
    EXPECT_EQ(data.compare(0, cut.size(), cut), 0);

    std::string broken = z;
    broken[1] ^= 0x20;  // header check fails
    EXPECT_EQ(inflate_all(broken, failed), "");
    EXPECT_TRUE(failed);
}

TEST_F(InflateStreamTest, BytesAfterTheStreamAreNotDelivered) {
    const std::string data = sample(5000);
    bool failed = false;
    EXPECT_EQ(inflate_all(deflate_with(data, 6, Z_NO_FLUSH, data.size()) + "trailing junk", failed),
              data);
}

TEST_F(InflateStreamTest, SeeksOnlyForward) {
    const std::string data = sample(10000);
    std::istringstream source(deflate_with(data, 6, Z_NO_FLUSH, data.size()));
    InflateStream in(source);
    in.seekg(3000, std::ios_base::cur);
    EXPECT_EQ(in.tellg(), std::streampos(3000));
    EXPECT_EQ(in.get(), std::uint8_t(data[3000]));
    in.seekg(5000);
    EXPECT_EQ(in.get(), std::uint8_t(data[5000]));
    in.seekg(100);
    EXPECT_TRUE(in.fail());
    in.clear();
    in.seekg(0, std::ios_base::end);
    EXPECT_TRUE(in.fail());
    in.clear();
    in.seekg(20000);  // beyond the end
    EXPECT_TRUE(in.fail());
}

}  // namespace
