// Console output byte for byte: status line, messages around it, progress bar and spinner,
// through a terminal that captures what is written and a clock the test sets.

#include "core/installer.h"
#include "package/format.h"
#include "package/package_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

class CaptureTerminal final : public Terminal {
public:
    void write(std::string_view bytes) override { written.append(bytes); }
    void flush() override { flushed = written.size(); }
    std::string written;
    std::size_t flushed = 0;  // bytes not flushed would not be seen by the person
};

class SetClock final : public TickClock {
public:
    std::uint32_t ticks() override { return now; }
    std::uint32_t now = 30000;
};

const std::string kHide = "\x1b[?25l";
const std::string kShow = "\x1b[?25h";

class ConsoleTest : public testing::Test {
protected:
    ConsoleTest() : in(Installer::reset()) {
        in.terminal = &term;
        in.clock = &clock;
    }
    ~ConsoleTest() override { Installer::reset(); }
    // The bytes written since the last call, which must all have been flushed.
    std::string taken() {
        EXPECT_EQ(term.flushed, term.written.size());
        std::string bytes = term.written;
        term.written.clear();
        term.flushed = 0;
        return bytes;
    }
    CaptureTerminal term;
    SetClock clock;
    Installer& in;
};

TEST_F(ConsoleTest, StatusLineIsDrawnInPlaceAndBlanksWhatItOutgrew) {
    const std::pair<const char*, std::string> steps[] = {
        {"abcdef", kHide + "\rabcdef\r" + kShow}, {"abcdef", ""},
        {"xy", kHide + "\rxy    \r" + kShow},     {"", kHide + "\r  \r" + kShow},
        {"", ""},
    };
    for (const auto& [text, bytes] : steps) {
        SCOPED_TRACE(text);
        in.set_status(text);
        EXPECT_EQ(taken(), bytes);
        EXPECT_EQ(in.status_text, text);
    }
}

TEST_F(ConsoleTest, MessagesStandAboveOrClearTheStatusLineAndAreRecorded) {
    in.set_status("abc");
    taken();
    in.warning("low on %s", "space");
    EXPECT_EQ(taken(), "\r" + std::string(79, ' ') + "\rWARNING: low on space\nabc");
    EXPECT_EQ(in.status_text, "abc");
    in.error("boom");
    EXPECT_EQ(taken(), kHide + "\r   \r" + kShow + "ERROR: boom\n");
    EXPECT_EQ(in.status_text, "");
    in.set_status("abc");
    taken();
    in.info("done %d", 1);
    EXPECT_EQ(taken(), kHide + "\r   \r" + kShow + "done 1\n");
    // The formatted part is cut at 255 characters, the prefix not counted.
    const std::string longText(300, 'x');
    in.error("%s", longText.c_str());
    EXPECT_EQ(taken(), "ERROR: " + std::string(255, 'x') + "\n");
    EXPECT_EQ(in.messages, (std::vector<std::string>{"WARNING: low on space", "ERROR: boom",
                                                     "done 1", "ERROR: " + longText.substr(45)}));
}

TEST_F(ConsoleTest, QuietPrintsAndRecordsNothingAndKeepsTheStatus) {
    in.set_status("abc");
    taken();
    in.quiet = true;
    in.error("e %d", 1);
    in.warning("w");
    in.info("i");
    in.set_status("other");
    EXPECT_EQ(taken(), "");
    EXPECT_TRUE(in.messages.empty());
    EXPECT_EQ(in.status_text, "abc");
}

TEST_F(ConsoleTest, ProgressBarFillsTheLineTo77ColumnsInProportion) {
    const std::string l20(20, 'l');
    struct Case { std::string label; std::uint64_t position, total; std::size_t full, empty; };
    const Case cases[] = {
        {l20, 0, 1000, 0, 54},    {l20, 500, 1000, 27, 27}, {l20, 999, 1000, 53, 1},
        {l20, 1000, 1000, 54, 0}, {"p", 0, 0, 0, 73},       {"p", 50, 0, 0, 73},
        {"p", 5000, 1000, 73, 0},  // past the total
        {"x", 0xFFFFFFFEull, 0xFFFFFFFFull, 72, 1},  // the product must not overflow
        // An overlong label gets no bar instead of a negative one.
        {std::string(73, 'l'), 2, 2, 1, 0},       {std::string(74, 'l'), 2, 2, 0, 0},
        {std::string(200, 'l'), 2, 2, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.label.size() << " " << c.position << "/" << c.total);
        in.draw_progress(c.label, c.position, c.total);
        EXPECT_EQ(in.status_text,
                  c.label + " [" + std::string(c.full, '#') + std::string(c.empty, ' ') + "]");
    }
}

TEST_F(ConsoleTest, ReaderProgressCountsFromTheFileStartAndLeavesTheReaderUsable) {
    // File header, a 32-byte header chunk and a 100-byte files chunk: 152 bytes, the files
    // payload starting at offset 52.
    std::string bytes;
    append_u32(bytes, kPackageMagic);
    append_u32(bytes, 144);
    append_u16(bytes, kChunkPackageHeader);
    append_u32(bytes, 32);
    bytes.append(32, 'h');
    append_u16(bytes, kChunkFiles);
    append_u32(bytes, 100);
    bytes.append(100, 'f');
    std::istringstream source(bytes);
    PackageReader reader(source, false, nullptr);
    reader.want(kChunkFiles);
    ASSERT_EQ(reader.next_chunk(), kChunkFiles);
    char payload[100];
    ASSERT_TRUE(reader.read(payload, 50));
    in.draw_progress("p", reader.progress_position(), reader.total_length());
    // (52 + 50) * 73 / 152 = 48.98
    EXPECT_EQ(in.status_text, "p [" + std::string(48, '#') + std::string(25, ' ') + "]");
    ASSERT_TRUE(reader.read(payload, 50));
    reader.peek();  // end of the chunk: end-of-file bit only
    ASSERT_TRUE(reader.eof() && !reader.fail());
    in.draw_progress("p", reader.progress_position(), reader.total_length());
    EXPECT_EQ(in.status_text, "p [" + std::string(73, '#') + "]");
    EXPECT_FALSE(reader.fail());
}

TEST_F(ConsoleTest, SpinnerTurnsEvery20TicksAndCatchesUpOneStepPerCall) {
    in.quiet = true;  // the spinner ignores it
    in.spin_step();
    clock.now += 20;  // exactly one period is not enough
    in.spin_step();
    EXPECT_EQ(taken(), "|");  // the first step has no backspace
    for (int i = 0; i < 5; ++i) {
        clock.now += 21;
        in.spin_step();
    }
    EXPECT_EQ(taken(), "\b/\b-\b\\\b|\b/");
    clock.now += 100;
    for (int i = 0; i < 8; ++i) in.spin_step();
    // 125 ticks behind (each step moved on by one period): six steps, then 5 is not behind.
    EXPECT_EQ(taken(), "\b-\b\\\b|\b/\b-\b\\");
}

}  // namespace
