// The progress bar on the status line: label, " [", a bar of '#' and spaces, "]", 77 columns in
// all. Its length never goes negative and it never overruns, whatever label or position it gets.

#include "core/installer.h"

#include <algorithm>

namespace {
// Label, " [" and the bar together take this many columns; the closing "]" makes 77.
constexpr std::size_t kBarEnd = 76;
}  // namespace

void Installer::draw_progress(const std::string& label, std::uint64_t position,
                              std::uint64_t total) {
    std::string line = label + " [";
    // A label too long for the line gets no bar rather than a negative one.
    const std::size_t width = line.size() < kBarEnd ? kBarEnd - line.size() : 0;
    std::size_t filled = 0;
    if (total != 0) {
        // Past the end (a header that understates the length) shows a full bar, not an overrun.
        const std::uint64_t clamped = std::min(position, total);
        filled = std::size_t((unsigned __int128)clamped * width / total);
    }
    line.append(filled, '#');
    line.append(width - filled, ' ');
    line += ']';
    set_status(line);
}
