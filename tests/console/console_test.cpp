// Console output byte for byte: the status line drawn in place, messages above or instead of
// it, and quiet runs; every byte written must also be flushed.

#include "core/installer.h"
#include "support/scenario.h"

#include <gtest/gtest.h>

namespace {

const std::string kHide = "\x1b[?25l", kShow = "\x1b[?25h";

TEST(ConsoleTest, StatusLineMessagesAndQuiet) {
    RecordingTerminal term;
    Installer& in = Installer::reset();
    in.terminal = &term;
    auto taken = [&] {
        EXPECT_EQ(term.flushed, term.output.size());
        std::string bytes = term.output;
        term.output.clear(), term.flushed = 0;
        return bytes;
    };
    const std::string longText(300, 'x');
    const std::pair<std::function<void()>, std::string> steps[] = {
        {[&] { in.set_status("abcdef"); }, kHide + "\rabcdef\r" + kShow},
        {[&] { in.set_status("abcdef"); }, ""},
        {[&] { in.set_status("abc"); }, kHide + "\rabc   \r" + kShow},
        {[&] { in.warning("low on %s", "space"); },
         "\r" + std::string(79, ' ') + "\rWARNING: low on space\nabc"},
        {[&] { in.error("boom"); }, kHide + "\r   \r" + kShow + "ERROR: boom\n"},
        {[&] { in.set_status("abc"), taken(), in.info("done %d", 1); },
         kHide + "\r   \r" + kShow + "done 1\n"},
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
