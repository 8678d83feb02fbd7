// The buffered output file, and console output byte for byte: the status line drawn in place,
// messages above or instead of it, the spinner and quiet runs; every byte written is flushed.
#include "core/file_system.h"
#include "core/input_file.h"
#include "core/installer.h"
#include "core/output_file.h"
#include "support/root_child.h"
#include "support/scenario.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace {

// Bytes reach the file in the order written whether they pass through the buffer or around it,
// and a failure that only the final flush meets is still reported.
TEST(OutputFileTest, KeepsOrderAcrossBufferedAndDirectWritesAndReportsLateFailure) {
    TempDir dir;
    std::string expected;
    {
        OutputFile out = OutputFile::open(dir / "f", OutputFile::Mode::Truncate);
        for (std::size_t size : {3u, 16384u, 10u, 20000u, 16380u, 7u}) {
            out << std::string(size, char('a' + size % 26));
            expected += std::string(size, char('a' + size % 26));
        }
        out << std::int32_t(-7) << ' ' << std::uint32_t(0xFFFFFFFFu) << '\n';
        OutputFile moved = std::move(out);
        ASSERT_TRUE(moved.close());
    }
    OutputFile::open(dir / "f", OutputFile::Mode::Append) << "more";
    EXPECT_EQ(read_file(dir / "f"), expected + "-7 4294967295\nmore");
    OutputFile full = OutputFile::open("/dev/full", OutputFile::Mode::Append);
    full << "small";
    ASSERT_TRUE(full);  // still buffered
    errno = 0;
    EXPECT_FALSE(full.close());
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_FALSE(OutputFile::open(dir / "no/such/dir", OutputFile::Mode::Truncate).close());
    EXPECT_EQ(errno, ENOENT);
}

struct StepClock : TickClock {
    std::uint32_t ticks() override { return now; }
    std::uint32_t now = 30000;
};

// A seek moves a regular file's reading position; a pipe, or a file opened with seeking refused,
// cannot seek, and a read error (a directory) ends the data instead of being retried.
TEST(InputFileTest, SeeksWhereItCanAndEndsOnAReadError) {
    TempDir dir;
    write_file(dir / "f", "0123456789");
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ::close(pipeEnds[1]);
    struct Case {
        InputFile file;
        bool seeks;
        std::string read;  // then up to 8 bytes
    } cases[] = {{InputFile::open(dir / "f", 4), true, "6789"},
                 {InputFile::open(dir / "f", 4, InputFile::Seeking::Refused), false, "01234567"},
                 {InputFile(pipeEnds[0]), false, ""}};
    for (Case& c : cases) {
        char buf[8];
        EXPECT_EQ(c.file.seek(6), c.seeks);
        EXPECT_EQ(std::string(buf, c.file.read(buf, sizeof buf)), c.read);
    }
    InputFile exact = InputFile::open(dir / "f", 4);  // read to its last byte, not past it
    char all[10];
    EXPECT_EQ(exact.read(all, sizeof all), 10u);
    EXPECT_TRUE(exact.at_end());
    for (std::size_t bufferSize : {4u, 4096u}) {  // read around the buffer, and into it
        InputFile directory(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY), bufferSize);
        char buf[64];
        EXPECT_EQ(directory.read(buf, sizeof buf), 0u);
        EXPECT_TRUE(directory.at_end());
    }
}

// The file system's calls report a failure once instead of retrying it.
TEST(PosixFileSystemTest, ReportsFailuresAtOnce) {
    TempDir dir;
    FileSystem& fs = real_file_system();
    std::vector<std::string> names;
    EXPECT_FALSE(fs.list_dir(dir / "missing", names));
    char byte = 'x';
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    EXPECT_EQ(fs.write(full, &byte, 1), -1);
    EXPECT_EQ(errno, ENOSPC);
    const int directory = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_EQ(fs.read(directory, &byte, 1), -1);
    EXPECT_EQ(errno, EISDIR);
    ::close(full);
    ::close(directory);
}

// The earlier run's post-install log, longer than one read, goes line by line before this run's
// messages, less a last line cut short; a reserved log of zeros takes its place.
TEST(InstallerTest, ReservingTheLogKeepsTheEarlierRunsLines) {
    TempDir root;
    std::string log;
    for (int i = 0; i < 500; ++i) log += "installed p" + std::to_string(i) + "-6.40\n";
    write_file(root / "flash/postlog", log + "cut sh");
    EXPECT_EQ(run_in_root(root.path(), [] {
                  Installer::instance().messages = {"now"};
                  Installer::instance().reserve_log();
                  return message_lines();
              }),
              log + "now\n");
    EXPECT_EQ(read_file(root / "flash/postlog"), std::string(4096, '\0'));
}

TEST(ConsoleTest, StatusLineMessagesSpinnerAndQuiet) {
    const std::string hide = "\x1b[?25l", show = "\x1b[?25h", longText(300, 'x');
    RecordingTerminal term;
    StepClock clock;
    Installer& in = Installer::reset();
    in.terminal = &term;
    in.clock = &clock;
    auto taken = [&] {
        EXPECT_EQ(term.flushed, term.output.size());
        std::string bytes = term.output;
        term.output.clear(), term.flushed = 0;
        return bytes;
    };
    const std::pair<std::function<void()>, std::string> steps[] = {
        // The spinner turns once a period has passed, and a late one catches up step by step.
        {[&] { in.spin_step(), clock.now += 20, in.spin_step(); }, "|"},
        {[&] { clock.now += 100, in.spin_step(), in.spin_step(); }, "\b/\b-"},
        {[&] { in.set_status("abcdef"); }, hide + "\rabcdef\r" + show},
        {[&] { in.set_status("abcdef"); }, ""},
        {[&] { in.set_status("abc"); }, hide + "\rabc   \r" + show},
        {[&] { in.warning("low on %s", "space"); },
         "\r" + std::string(79, ' ') + "\rWARNING: low on space\nabc"},
        {[&] { in.error("boom"); }, hide + "\r   \r" + show + "ERROR: boom\n"},
        {[&] { in.set_status("abc"), taken(), in.info("done %d", 1); },
         hide + "\r   \r" + show + "done 1\n"},
        // The formatted part is cut at 255 characters, the prefix not counted.
        {[&] { in.error("%s", longText.c_str()); }, "ERROR: " + std::string(255, 'x') + "\n"},
        {[&] { in.set_status("abc"), taken(), in.quiet = true, in.error("e"), in.warning("w"),
               in.info("i"), in.set_status("other"); }, ""},
    };
    for (const auto& [step, bytes] : steps) {
        step();
        EXPECT_EQ(taken(), bytes);
    }
    EXPECT_EQ(in.status_text, "abc");
    EXPECT_EQ(in.messages, (std::vector<std::string>{"WARNING: low on space", "ERROR: boom",
                                                     "done 1", "ERROR: " + longText.substr(45)}));
    Installer::reset();
}

}  // namespace
