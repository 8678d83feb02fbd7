#pragma once
// Seams of the console: where its bytes go and the tick clock that paces the spinner.
// The real ones write to standard output and read the times() clock; tests substitute fakes.

#include <cstdint>
#include <string_view>

class Terminal {
public:
    virtual ~Terminal() = default;
    virtual void write(std::string_view bytes) = 0;
    virtual void flush() = 0;
};

class TickClock {
public:
    virtual ~TickClock() = default;
    // Clock ticks since an arbitrary point, offset by 30000 (see posix_terminal.cpp).
    virtual std::uint32_t ticks() = 0;
};

// The process's standard output and times() clock.
Terminal& standard_terminal();
TickClock& standard_clock();
