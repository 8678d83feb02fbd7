#pragma once
// The one object of a run: the architecture, the installed packages, and the console state and
// operations. Every subsystem reaches the console and the package set through it.

#include "core/package.h"
#include "core/terminal.h"

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class FlashDevice;

// How much a planning step tells on the console: nothing, the packages it enables, disables or
// refuses, or in addition every package it uninstalls.
enum class Verbosity { Silent = 0, Changes = 1, All = 2 };

// The messages of the installing runs, for the running system.
inline constexpr std::string_view kPostLogPath = "/flash/postlog";

class Installer {
public:
    // The process-wide instance, created empty on first use.
    static Installer& instance();
    // Replaces the instance by a fresh, empty one (tests; the spinner counters start over too).
    static Installer& reset();

    Installer() = default;
    Installer(const Installer&) = delete;
    Installer& operator=(const Installer&) = delete;

    // Console. Messages are printf-style, cut at 255 characters after formatting, written to
    // the terminal and kept in `messages`; "-q" (quiet) silences and drops them.
    void set_status(const std::string& text);
    void emit_message(const char* prefix, const char* format, va_list args);
    void info(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void warning(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void error(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Advances the spinner when its time has come; ignores `quiet`.
    void spin_step();
    // Draws the progress bar for a position within a total: the label, " [", the bar and "]"
    // fill 77 columns.
    void draw_progress(const std::string& label, std::uint64_t position, std::uint64_t total);

    // The post-install log (kPostLogPath): reserve_log takes the earlier log's lines into
    // `messages` and sets 4096 zero bytes aside for it; finish writes `messages` there. The
    // database is loaded by open_database (pdb/database_loader.h).
    void reserve_log();
    void finish();

    // Position of the first record named `name` in `packages`.
    std::optional<std::size_t> index_of_package(const std::string& name) const;

    std::string arch;
    std::vector<std::unique_ptr<InstalledPackage>> packages;  // load order
    std::string status_text;
    std::vector<std::string> messages;
    bool quiet = false;
    // "bootimage" was set: a boot package's file becomes the boot image instead of being
    // unpacked. The entry reads the environment once.
    bool bootImage = false;

    // The post-install log was taken over by this run.
    bool log_reserved = false;

    // Seams, owned elsewhere; tests point them at fakes.
    Terminal* terminal = &standard_terminal();
    FlashDevice* flash = nullptr;  // the entry sets the real device
    TickClock* clock = &standard_clock();
    std::uint32_t spinnerLastTick = 0;
    std::uint32_t spinnerIndex = 0;
};
