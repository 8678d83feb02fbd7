// The progress bar on the status line: label, " [", a bar of '#' and spaces, "]", 77 columns in
// all. Its length never goes negative and it never overruns, whatever label or position it gets.

#include "cli/installer.h"
#include "package/package_reader.h"

#include <algorithm>

namespace {
// Label, " [" and the bar together take this many columns; the closing "]" makes 77.
constexpr std::size_t kBarEnd = 76;
}  // namespace

void Installer::show_progress(PackageReader& reader, const std::string& label) {
    // The offset within the current chunk's payload, as tellg would report it. Asked of the
    // buffer directly: tellg on a stream at its end sets failbit, and drawing the bar must not
    // change the state of the stream the caller goes on reading.
    const std::streamoff inChunk =
        reader.chunk_buf().pubseekoff(0, std::ios_base::cur, std::ios_base::in);
    const std::uint64_t position =
        std::uint64_t(reader.payload_start()) + (inChunk > 0 ? std::uint64_t(inChunk) : 0);
    draw_progress(label, position, reader.total_length());
}

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
