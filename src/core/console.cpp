// The Installer's console: messages, the status line redrawn in place, and the spinner. Every
// byte goes through the `terminal` seam; a printed message is also kept for the post-install log.

#include "core/installer.h"

#include <cstdio>

namespace {

constexpr std::string_view kHideCursor = "\x1b[?25l";
constexpr std::string_view kShowCursor = "\x1b[?25h";
// Wider than any status line on the 80-column console, so it blanks whatever stands there.
constexpr std::string_view kBlankLine =
    "\r                                                                               \r";
static_assert(kBlankLine.size() == 1 + 79 + 1);
// The formatted part of a message is cut after 255 characters; the prefix comes on top.
constexpr std::size_t kMessageBufferSize = 256;
constexpr std::string_view kSpinnerChars = "|/-\\";
constexpr std::uint32_t kSpinnerPeriod = 20;

}  // namespace

void Installer::set_status(const std::string& text) {
    if (quiet) return;
    if (text == status_text) return;
    std::string out;
    out.reserve(text.size() + 16 + status_text.size());
    out += kHideCursor;
    out += '\r';
    out += text;
    // Spaces over the tail of a longer previous text; the cursor returns to the line start.
    if (status_text.size() > text.size()) out.append(status_text.size() - text.size(), ' ');
    out += '\r';
    out += kShowCursor;
    terminal->write(out);
    terminal->flush();
    status_text = text;
}

void Installer::emit_message(const char* prefix, const char* format, va_list args) {
    char formatted[kMessageBufferSize];
    std::vsnprintf(formatted, sizeof formatted, format, args);
    std::string line = prefix ? prefix : "";
    line += formatted;
    if (quiet) return;
    if (!status_text.empty()) {
        terminal->write(kBlankLine);
        terminal->flush();
    }
    terminal->write(line);
    terminal->write("\n");
    terminal->flush();
    // The cursor is on the fresh line below the message; the status line reappears there.
    if (!status_text.empty()) {
        terminal->write(status_text);
        terminal->flush();
    }
    messages.push_back(std::move(line));
}

void Installer::info(const char* format, ...) {
    set_status("");
    va_list args;
    va_start(args, format);
    emit_message(nullptr, format, args);
    va_end(args);
}

void Installer::warning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    emit_message("WARNING: ", format, args);
    va_end(args);
}

void Installer::error(const char* format, ...) {
    set_status("");
    va_list args;
    va_start(args, format);
    emit_message("ERROR: ", format, args);
    va_end(args);
}

void Installer::spin_step() {
    const std::uint32_t now = clock->ticks();
    std::string out;
    if (spinnerLastTick == 0) {
        // First drawing: there is no earlier character to back over.
        spinnerLastTick = now;
    } else if (now - spinnerLastTick > kSpinnerPeriod) {
        // Advancing by one period rather than to `now` lets a stalled spinner catch up one step
        // per call, so it keeps turning visibly after a long copy.
        spinnerLastTick += kSpinnerPeriod;
        out += '\b';
    } else {
        return;
    }
    out += kSpinnerChars[spinnerIndex % kSpinnerChars.size()];
    spinnerIndex = (spinnerIndex + 1) % kSpinnerChars.size();
    terminal->write(out);
    terminal->flush();
}
