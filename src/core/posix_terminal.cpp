// The real console seams: standard output through stdio (so that it interleaves with the
// entry's own printf output) and the times() clock.

#include "core/terminal.h"

#include <cerrno>
#include <cstdio>
#include <sys/times.h>

namespace {
class StdoutTerminal final : public Terminal {
public:
    void write(std::string_view bytes) override { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }
    void flush() override { std::fflush(stdout); }
};

class TimesClock final : public TickClock {
public:
    // times(NULL) counts clock ticks from an arbitrary point; the installer adds 30000 so that
    // 0 can mean "never drawn". A failing call reports -errno, giving 30000 - errno.
    std::uint32_t ticks() override {
        errno = 0;
        clock_t t = ::times(nullptr);
        if (t == clock_t(-1) && errno != 0) return 30000u - std::uint32_t(errno);
        return std::uint32_t(t) + 30000u;
    }
};
}  // namespace

Terminal& standard_terminal() {
    static StdoutTerminal terminal;
    return terminal;
}

TickClock& standard_clock() {
    static TimesClock clock;
    return clock;
}
