// InflateStream: round trips at several levels and flush modes, input steps that end on the
// trailer, damage and truncation as end of data, and forward-only seeks.

#include "package/inflate_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>
#include <sstream>
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
std::string deflate_with(const std::string& data, int level, int flush = Z_NO_FLUSH,
                         std::size_t piece = ~std::size_t(0)) {
    z_stream zs{};
    EXPECT_EQ(deflateInit(&zs, level), Z_OK);
    std::string out;
    std::vector<unsigned char> buf(1 << 16);
    int r = Z_OK;
    for (std::size_t at = 0; r != Z_STREAM_END; at += piece) {
        const bool last = data.size() - at <= piece;
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()) + at);
        zs.avail_in = uInt(last ? data.size() - at : piece);
        do {
            zs.next_out = buf.data();
            zs.avail_out = uInt(buf.size());
            r = deflate(&zs, last ? Z_FINISH : flush);
            out.append(reinterpret_cast<char*>(buf.data()), buf.size() - zs.avail_out);
        } while (zs.avail_out == 0 || (last && r != Z_STREAM_END));
    }
    deflateEnd(&zs);
    return out;
}

std::string inflate_all(const std::string& compressed, bool* failed = nullptr) {
    std::istringstream source(compressed);
    InflateStream in(source);
    std::string out;
    char buf[3000];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) out.append(buf, std::size_t(in.gcount()));
    if (failed) *failed = in.fail();
    return out;
}

TEST(InflateStreamTest, RoundTripsAtLevelsAndFlushModes) {
    const std::string data = sample(70000);
    for (int level : {0, 1, 6, 9})
        for (int flush : {Z_NO_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_PARTIAL_FLUSH})
            EXPECT_EQ(inflate_all(deflate_with(data, level, flush, 777)), data)
                << "level " << level << " flush " << flush;
}

TEST(InflateStreamTest, LastInputStepHoldingOnlyTrailerGivesEndOfData) {
    // Stored blocks make the compressed size a simple function of the input size: find one
    // whose deflate data ends exactly on a 4096-byte step, leaving the Adler-32 trailer alone.
    for (std::size_t n = 8000; n < 8200; ++n) {
        const std::string data = sample(n);
        const std::string z = deflate_with(data, 0);
        if ((z.size() - 4) % InflateBuf::kStep != 0) continue;
        EXPECT_EQ(inflate_all(z), data);
        std::string bad = z;  // a damaged trailer is met in that last step too
        bad.back() ^= 1;
        EXPECT_EQ(inflate_all(bad), data);
        return;
    }
    FAIL() << "no input size puts the trailer alone in the last step";
}

TEST(InflateStreamTest, DamageTruncationAndTrailingBytesReadAsEndOfData) {
    const std::string data = sample(20000);
    const std::string z = deflate_with(data, 6);
    bool failed = false;
    EXPECT_EQ(inflate_all(z, &failed), data);
    EXPECT_TRUE(failed);  // the read that meets the end is short
    const std::string cut = inflate_all(z.substr(0, z.size() / 2), &failed);
    EXPECT_TRUE(failed && cut.size() < data.size());
    EXPECT_EQ(data.compare(0, cut.size(), cut), 0);
    std::string broken = z;
    broken[1] ^= 0x20;  // header check fails
    EXPECT_EQ(inflate_all(broken), "");
    EXPECT_EQ(inflate_all(z + "trailing junk"), data);
}

TEST(InflateStreamTest, SeeksOnlyForward) {
    const std::string data = sample(10000);
    std::istringstream source(deflate_with(data, 6));
    InflateStream in(source);
    in.seekg(3000, std::ios_base::cur);
    EXPECT_EQ(in.tellg(), std::streampos(3000));
    EXPECT_EQ(in.get(), std::uint8_t(data[3000]));
    EXPECT_EQ(in.seekg(5000).get(), std::uint8_t(data[5000]));
    EXPECT_TRUE(in.seekg(100).fail());
    in.clear();
    EXPECT_TRUE(in.seekg(0, std::ios_base::end).fail());
    in.clear();
    EXPECT_TRUE(in.seekg(20000).fail());  // beyond the end
}

}  // namespace
