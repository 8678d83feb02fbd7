// The buffered output file: bytes reach the file in the order written whether they pass through
// the buffer or around it, and a failure that only the final flush meets is still reported.
#include "core/output_file.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>

namespace {

TEST(OutputFileTest, KeepsOrderAcrossBufferedAndDirectWritesAndReportsLateFailure) {
    TempDir dir;
    std::string expected;
    {
        OutputFile out = OutputFile::open(dir / "f", OutputFile::Mode::Truncate);
        for (std::size_t size : {3u, 16384u, 10u, 20000u, 16380u, 7u}) {
            const std::string piece(size, char('a' + size % 26));
            out << piece;
            expected += piece;
        }
        out << std::int32_t(-7) << ' ' << std::uint32_t(0xFFFFFFFFu) << '\n';
        expected += "-7 4294967295\n";
        OutputFile moved = std::move(out);
        ASSERT_TRUE(moved.close());
    }
    EXPECT_EQ(read_file(dir / "f"), expected);
    OutputFile::open(dir / "f", OutputFile::Mode::Append) << "more";
    EXPECT_EQ(read_file(dir / "f"), expected + "more");

    OutputFile full = OutputFile::open("/dev/full", OutputFile::Mode::Append);
    full << "small";
    ASSERT_TRUE(full);  // still buffered
    errno = 0;
    EXPECT_FALSE(full.close());
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_FALSE(OutputFile::open(dir / "no/such/dir", OutputFile::Mode::Truncate).close());
    EXPECT_EQ(errno, ENOENT);
}

}  // namespace
