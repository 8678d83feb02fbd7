#pragma once
// The command line of a run: the option table examined argument by argument in a fixed order,
// and the settings and run mode it yields. The scan decides; the entry carries the mode out.

#include "plan/admission.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// What the run does. Commit, Cancel and Usage end the scan where they stand; the others are
// chosen after it, show before cleanup before stream before the default upgrade run.
enum class RunMode { Default, Show, Cleanup, Stream, Commit, Cancel, Usage };

struct Settings {
    RunMode mode = RunMode::Default;
    bool cleanup = false;
    bool stream = false;
    bool show = false;
    bool quiet = false;
    bool commitAtOnce = true;  // "--safe" stages the result in the manifest instead
    std::string root;          // "-r": changed to before any mode runs, also commit and cancel
    // kAdmitDowngrade for "-down", kAdmitSame for "--reinstall" (same version, no space
    // check); the entry adds kAdmitUpgrade.
    PlannerFlags plannerFlags = 0;
    std::size_t argsSeen = 0;  // arguments looked at, the stopping one and consumed values included
};

inline constexpr const char* kUsageText = "usage: installer [-q] [-r <root>] [-]";

// Scans `args` (without the program name). "--reinstall" writes its line to `out` at once, even
// with "-q"; nothing else is printed: the caller prints the usage and runs commit or cancel.
Settings scan_options(const std::vector<std::string>& args, std::FILE* out);
