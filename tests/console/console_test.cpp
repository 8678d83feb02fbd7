// Console output byte for byte: status line, messages around it, progress bar and spinner,
// through a terminal that captures what is written and a clock the test sets.

#include "cli/installer.h"
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
    // Bytes written and not yet flushed: the person would not see them.
    std::size_t unflushed() const { return written.size() - flushed; }

    std::string written;
    std::size_t flushed = 0;
};

class SetClock final : public TickClock {
public:
    std::uint32_t ticks() override { return now; }
    std::uint32_t now = 30000;
};

const std::string kHide = "\x1b[?25l";
const std::string kShow = "\x1b[?25h";
const std::string kBlank = "\r" + std::string(79, ' ') + "\r";

class ConsoleTest : public testing::Test {
protected:
    ConsoleTest() : in(Installer::reset()) {
        in.terminal = &term;
        in.clock = &clock;
    }
    ~ConsoleTest() override { Installer::reset(); }

    // Shows `text` and forgets the bytes that took.
    void show(const std::string& text) {
        in.set_status(text);
        term.written.clear();
        term.flushed = 0;
    }

    CaptureTerminal term;
    SetClock clock;
    Installer& in;
};

TEST_F(ConsoleTest, StatusLineIsDrawnInPlaceBetweenCursorSequences) {
    in.set_status("abc");
    EXPECT_EQ(term.written, kHide + "\rabc\r" + kShow);
    EXPECT_EQ(in.status_text, "abc");
    EXPECT_EQ(term.unflushed(), 0u);
}

TEST_F(ConsoleTest, SameStatusTextWritesNothing) {
    show("abc");
    in.set_status("abc");
    EXPECT_EQ(term.written, "");
}

TEST_F(ConsoleTest, ShorterStatusBlanksTheTailOfTheLongerOne) {
    show("abcdef");
    in.set_status("xy");
    EXPECT_EQ(term.written, kHide + "\rxy    \r" + kShow);
}

TEST_F(ConsoleTest, EmptyStatusBlanksTheLineOnceAndThenWritesNothing) {
    show("abc");
    in.set_status("");
    EXPECT_EQ(term.written, kHide + "\r   \r" + kShow);
    EXPECT_EQ(in.status_text, "");
    term.written.clear();
    in.set_status("");
    EXPECT_EQ(term.written, "");
}

TEST_F(ConsoleTest, QuietPrintsAndRecordsNothingAndKeepsTheStatus) {
    show("abc");
    in.quiet = true;
    in.error("e %d", 1);
    in.warning("w");
    in.info("i");
    in.set_status("other");
    EXPECT_EQ(term.written, "");
    EXPECT_TRUE(in.messages.empty());
    EXPECT_EQ(in.status_text, "abc");
}

TEST_F(ConsoleTest, WarningStandsAboveTheStatusLineWhichIsRedrawn) {
    show("abc");
    in.warning("low on %s", "space");
    EXPECT_EQ(term.written, kBlank + "WARNING: low on space\nabc");
    EXPECT_EQ(in.status_text, "abc");
    EXPECT_EQ(term.unflushed(), 0u);
}

TEST_F(ConsoleTest, ErrorAndInfoClearTheStatusLineAndLeaveNoneBehind) {
    show("abc");
    in.error("boom");
    EXPECT_EQ(term.written, kHide + "\r   \r" + kShow + "ERROR: boom\n");
    EXPECT_EQ(in.status_text, "");
    show("abc");
    in.info("done");
    EXPECT_EQ(term.written, kHide + "\r   \r" + kShow + "done\n");
}

TEST_F(ConsoleTest, MessagesAreRecordedWithTheirPrefixes) {
    in.error("not enough space for upgrade");
    in.info("enabled %s", "x");
    in.warning("%s", "careful");
    EXPECT_EQ(in.messages, (std::vector<std::string>{"ERROR: not enough space for upgrade",
                                                     "enabled x", "WARNING: careful"}));
}

TEST_F(ConsoleTest, FormattedPartIsCutAt255CharactersPrefixNotCounted) {
    const std::string longText(300, 'x');
    in.info("%s", longText.c_str());
    in.error("%s", longText.c_str());
    ASSERT_EQ(in.messages.size(), 2u);
    EXPECT_EQ(in.messages[0], std::string(255, 'x'));
    EXPECT_EQ(in.messages[1], "ERROR: " + std::string(255, 'x'));
    EXPECT_EQ(term.written, std::string(255, 'x') + "\nERROR: " + std::string(255, 'x') + "\n");
}

// The status text that draw_progress produced.
class ProgressTest : public ConsoleTest {
protected:
    std::string bar(const std::string& label, std::uint64_t position, std::uint64_t total) {
        in.draw_progress(label, position, total);
        return in.status_text;
    }
};

TEST_F(ProgressTest, BarFillsTheLineTo77ColumnsInProportion) {
    const std::string label(20, 'l');
    const std::string prefix = label + " [";
    EXPECT_EQ(bar(label, 0, 1000), prefix + std::string(54, ' ') + "]");
    EXPECT_EQ(bar(label, 500, 1000), prefix + std::string(27, '#') + std::string(27, ' ') + "]");
    EXPECT_EQ(bar(label, 999, 1000), prefix + std::string(53, '#') + " ]");
    EXPECT_EQ(bar(label, 1000, 1000), prefix + std::string(54, '#') + "]");
}

TEST_F(ProgressTest, ProductIsTakenWithoutOverflow) {
    const std::uint64_t total = 0xFFFFFFFFull;
    EXPECT_EQ(bar("x", total - 1, total), "x [" + std::string(72, '#') + " ]");
}

TEST_F(ProgressTest, ZeroTotalDrawsAnEmptyBar) {
    EXPECT_EQ(bar("p", 0, 0), "p [" + std::string(73, ' ') + "]");
    EXPECT_EQ(bar("p", 50, 0), "p [" + std::string(73, ' ') + "]");
}

TEST_F(ProgressTest, PositionPastTheTotalDrawsAFullBar) {
    EXPECT_EQ(bar("p", 5000, 1000), "p [" + std::string(73, '#') + "]");
}

TEST_F(ProgressTest, OverlongLabelGetsNoBarInsteadOfANegativeOne) {
    struct Case { std::size_t labelLength; std::size_t barLength; };
    for (const Case c : {Case{73, 1}, Case{74, 0}, Case{75, 0}, Case{200, 0}}) {
        SCOPED_TRACE(c.labelLength);
        const std::string label(c.labelLength, 'l');
        EXPECT_EQ(bar(label, 2, 2), label + " [" + std::string(c.barLength, '#') + "]");
    }
}

// File header, a 32-byte header chunk and a 100-byte files chunk: 152 bytes, the files payload
// starting at offset 52.
std::string two_chunk_package() {
    std::string bytes;
    append_u32(bytes, kPackageMagic);
    append_u32(bytes, 144);
    append_u16(bytes, kChunkPackageHeader);
    append_u32(bytes, 32);
    bytes.append(32, 'h');
    append_u16(bytes, kChunkFiles);
    append_u32(bytes, 100);
    bytes.append(100, 'f');
    return bytes;
}

TEST_F(ProgressTest, ReaderPositionCountsFromTheFileStart) {
    std::istringstream source(two_chunk_package());
    PackageReader reader(source, false, nullptr);
    reader.want(kChunkFiles);
    ASSERT_EQ(reader.next_chunk(), kChunkFiles);
    char payload[100];
    ASSERT_TRUE(reader.read(payload, 50));
    in.show_progress(reader, "p");
    // (52 + 50) * 73 / 152 = 48.98
    EXPECT_EQ(in.status_text, "p [" + std::string(48, '#') + std::string(25, ' ') + "]");
}

TEST_F(ProgressTest, DrawingAtTheEndOfAChunkLeavesTheReaderUsable) {
    std::istringstream source(two_chunk_package());
    PackageReader reader(source, false, nullptr);
    reader.want(kChunkFiles);
    ASSERT_EQ(reader.next_chunk(), kChunkFiles);
    char payload[100];
    ASSERT_TRUE(reader.read(payload, 100));
    reader.peek();  // end of the chunk: end-of-file bit only
    ASSERT_TRUE(reader.eof() && !reader.fail());
    in.show_progress(reader, "p");
    EXPECT_EQ(in.status_text, "p [" + std::string(73, '#') + "]");
    EXPECT_FALSE(reader.fail());
}

TEST_F(ConsoleTest, SpinnerFirstStepHasNoBackspaceAndTurnsEvery20Ticks) {
    in.spin_step();
    EXPECT_EQ(term.written, "|");
    clock.now += 20;  // exactly one period is not enough
    in.spin_step();
    EXPECT_EQ(term.written, "|");
    std::string expected = "|";
    for (const char c : std::string("/-\\|/")) {
        clock.now += 21;
        in.spin_step();
        expected += std::string("\b") + c;
    }
    EXPECT_EQ(term.written, expected);
    EXPECT_EQ(term.unflushed(), 0u);
}

TEST_F(ConsoleTest, SpinnerCatchesUpOneStepPerCallAfterAPause) {
    in.spin_step();
    clock.now += 100;
    for (int i = 0; i < 6; ++i) in.spin_step();
    // 100 ticks behind: four periods of 20 are more than 20 behind, the fifth is not.
    EXPECT_EQ(term.written, "|\b/\b-\b\\\b|");
}

TEST_F(ConsoleTest, SpinnerIgnoresQuiet) {
    in.quiet = true;
    in.spin_step();
    EXPECT_EQ(term.written, "|");
}

}  // namespace
