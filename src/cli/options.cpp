// The option scan. Each argument is tested against the table in order and the first match
// decides; options needing a value fail their test when they stand last.

#include "cli/options.h"

namespace {

bool is_ignored(const std::string& arg) {
    return arg == "-b" || arg == "--force" || arg == "--noupgrade" || arg == "-i";
}

RunMode chosen_mode(const Settings& s) {
    if (s.show) return RunMode::Show;
    if (s.cleanup) return RunMode::Cleanup;
    if (s.stream) return RunMode::Stream;
    return RunMode::Default;
}

}  // namespace

Settings scan_options(const std::vector<std::string>& args, std::FILE* out) {
    Settings s;
    const std::size_t count = args.size();
    std::size_t i = 0;
    auto finish = [&](RunMode mode) {
        s.argsSeen = i + 1;
        s.mode = mode;
        return s;
    };
    for (; i < count; ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < count;
        if (arg == "--cleanup") {
            s.cleanup = true;
            return finish(chosen_mode(s));
        } else if (arg == "--safe") {
            s.commitAtOnce = false;
        } else if (arg == "-r" && hasValue) {
            s.root = args[++i];
        } else if (arg == "-") {
            s.stream = true;
            return finish(chosen_mode(s));
        } else if (arg == "-q") {
            s.quiet = true;
        } else if (arg == "-down") {
            s.plannerFlags |= kAdmitDowngrade;
        } else if (arg == "--reinstall") {
            // Written straight away, so it precedes anything a later "--commit" prints.
            std::fputs("\nResuming upgrade...\n", out);
            std::fflush(out);
            s.plannerFlags |= kAdmitSame;
        } else if (is_ignored(arg)) {
        } else if (arg == "--month" && hasValue) {
            ++i;
        } else if (arg == "--commit") {
            return finish(RunMode::Commit);
        } else if (arg == "--cancel") {
            return finish(RunMode::Cancel);
        } else if (arg == "--show") {
            s.show = true;
        } else {
            return finish(RunMode::Usage);
        }
    }
    s.argsSeen = count;
    s.mode = chosen_mode(s);
    return s;
}
